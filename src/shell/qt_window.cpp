// SPDX-License-Identifier: Apache-2.0
#include "shell/qt_window.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "panel/layout.h"

namespace pj {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Twips to pixels for coordinates that may be negative (window positions).
int signedPixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

QColor toQColor(Colour colour) {
    switch (colour) {
        case Colour::ButtonFace:
            return QApplication::palette().color(QPalette::Button);
        case Colour::TextBoxColours:
            return QApplication::palette().color(QPalette::Base);
        default: {
            const ColourSpec& c = colourSpec(colour);
            return {c.red, c.green, c.blue};
        }
    }
}

// The two faces of the design, with the closest stand-ins after them.
QFont toQFont(FontCode code) {
    const FontSpec& row = fontSpec(code);
    QFont font;
    if (row.face == FontFace::Fixed) {
        font.setFamilies({"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic", "TakaoGothic",
                          "DejaVu Sans Mono", "Monospace"});
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    } else {
        font.setFamilies(
            {"IPAPGothic", "Noto Sans CJK JP", "VL PGothic", "TakaoPGothic", "DejaVu Sans"});
        font.setStyleHint(QFont::SansSerif);
    }
    // Sized in pixels as at 96 dots per inch, so that text keeps to its boxes on any screen.
    font.setPixelSize(row.pixelSize());
    font.setBold(row.bold);
    return font;
}

Qt::Alignment toQtAlignment(Align align) {
    switch (align) {
        case Align::Centre:
            return Qt::AlignHCenter | Qt::AlignTop;
        case Align::Right:
            return Qt::AlignRight | Qt::AlignTop;
        case Align::Left:
            break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

void setColours(QWidget& widget, const Control& row) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, toQColor(row.back));
    palette.setColor(QPalette::WindowText, toQColor(row.fore));
    palette.setColor(QPalette::ButtonText, toQColor(row.fore));
    widget.setPalette(palette);
}

// A button in the graphical style: its own face colour, a raised bevel that sinks while
// it is held, the caption centred and wrapped onto a second line where it is too long.
class PanelButton : public QPushButton {
  public:
    PanelButton(QColor face, QWidget* parent) : QPushButton(parent), face_(face) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = rect();
        const int right = r.right();
        const int bottom = r.bottom();
        const bool sunken = isDown();
        p.fillRect(r, face_);

        const QColor light(255, 255, 255);
        const QColor shadow = face_.darker(160);
        const QColor dark(0, 0, 0);
        if (sunken) {
            p.setPen(dark);
            p.drawLine(0, 0, right, 0);
            p.drawLine(0, 0, 0, bottom);
            p.setPen(shadow);
            p.drawLine(1, 1, right - 1, 1);
            p.drawLine(1, 1, 1, bottom - 1);
            p.setPen(light);
            p.drawLine(0, bottom, right, bottom);
            p.drawLine(right, 0, right, bottom);
        } else {
            p.setPen(light);
            p.drawLine(0, 0, right - 1, 0);
            p.drawLine(0, 0, 0, bottom - 1);
            p.setPen(dark);
            p.drawLine(0, bottom, right, bottom);
            p.drawLine(right, 0, right, bottom);
            p.setPen(shadow);
            p.drawLine(1, bottom - 1, right - 1, bottom - 1);
            p.drawLine(right - 1, 1, right - 1, bottom - 1);
        }

        const int shift = sunken ? 1 : 0;
        p.setPen(isEnabled() ? palette().color(QPalette::ButtonText) : shadow);
        p.setFont(font());
        p.drawText(r.adjusted(2 + shift, 1 + shift, -2 + shift, -1 + shift),
                   Qt::AlignCenter | Qt::TextWordWrap, text());

        if (hasFocus() && r.width() > 8 && r.height() > 8) {
            p.setPen(QPen(dark, 1, Qt::DotLine));
            p.drawRect(r.adjusted(3, 3, -4, -4));
        }
    }

  private:
    QColor face_;
};

// The picture at the top right corner: a small projector throwing its beam beside "PJ".
QPixmap drawBadge() {
    QPixmap pixmap(kImageWidthPixels, kImageHeightPixels);
    pixmap.fill(QColor(192, 192, 192));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient plate(0, 0, 0, kImageHeightPixels);
    plate.setColorAt(0.0, QColor(40, 64, 128));
    plate.setColorAt(1.0, QColor(12, 24, 64));
    p.setPen(QPen(QColor(8, 16, 40), 1));
    p.setBrush(plate);
    p.drawRoundedRect(QRectF(0.5, 0.5, kImageWidthPixels - 1.0, kImageHeightPixels - 1.0), 4, 4);

    // The beam, fanning out from the lens.
    QPainterPath beam;
    beam.moveTo(27, 11);
    beam.lineTo(44, 4);
    beam.lineTo(44, 22);
    beam.lineTo(27, 15);
    beam.closeSubpath();
    QLinearGradient glow(27, 0, 44, 0);
    glow.setColorAt(0.0, QColor(255, 250, 200, 220));
    glow.setColorAt(1.0, QColor(255, 250, 200, 20));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawPath(beam);

    // The body with its feet, vents and lens.
    p.setBrush(QColor(220, 224, 232));
    p.setPen(QPen(QColor(90, 96, 110), 1));
    p.drawRoundedRect(QRectF(4.5, 7.5, 22, 11), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 96, 110));
    p.drawRect(QRectF(7, 19, 3, 2));
    p.drawRect(QRectF(21, 19, 3, 2));
    for (int x = 8; x <= 14; x += 3) {
        p.drawRect(QRectF(x, 10, 1.5, 6));
    }
    QRadialGradient glass(QPointF(21.5, 12), 4);
    glass.setColorAt(0.0, QColor(230, 255, 255));
    glass.setColorAt(0.6, QColor(64, 192, 224));
    glass.setColorAt(1.0, QColor(16, 64, 112));
    p.setBrush(glass);
    p.setPen(QPen(QColor(40, 48, 60), 1));
    p.drawEllipse(QPointF(21.5, 13), 3.5, 3.5);

    // The lettering.
    QFont letters = toQFont(FontCode::P10Bold);
    letters.setPixelSize(17);
    letters.setItalic(true);
    p.setFont(letters);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(QRect(47, 1, 32, 26), Qt::AlignCenter, "PJ");
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRect(46, 0, 32, 26), Qt::AlignCenter, "PJ");
    return pixmap;
}

int shiftState(Qt::KeyboardModifiers modifiers) {
    int shift = 0;
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        shift |= kShiftMask;
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        shift |= kCtrlMask;
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        shift |= kAltMask;
    }
    return shift;
}

}  // namespace

// Sees every key press of the application before its receiver does; the window picks out
// its own and lets each one go on.
class QtWindow::KeyPreview : public QObject {
  public:
    explicit KeyPreview(QtWindow& window) : window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            window_.previewKey(watched, event);
        }
        return false;
    }

  private:
    QtWindow& window_;
};

QtWindow::QtWindow(QWidget* parent)
    : QWidget(parent), keyPreview_(std::make_unique<KeyPreview>(*this)) {
    setObjectName(toQString(controlName(kForm.id)));
    setWindowTitle(toQString(kForm.caption));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(kForm.back));
    palette.setColor(QPalette::WindowText, toQColor(kForm.fore));
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(toQFont(kForm.font));
    setFixedWidth(clientWidthPx());
    setHeight(kForm.clientHeight + kOuterAllowanceTwips);
    build();
    qApp->installEventFilter(keyPreview_.get());
}

QtWindow::~QtWindow() {
    qApp->removeEventFilter(keyPreview_.get());
}

void QtWindow::setEvents(FormEvents* events) {
    events_ = events;
}

void QtWindow::setWarningHook(WarningHook hook) {
    warningHook_ = std::move(hook);
}

void QtWindow::build() {
    // Table order puts every container before its contents, and later controls above
    // earlier ones (the port panel over the "COM" button).
    for (const Control& row : layoutControls()) {
        QWidget* parent = row.parent == kForm.id ? this : control(row.parent);
        buildControl(row, parent);
    }
    applyTabOrder();
}

void QtWindow::buildControl(const Control& row, QWidget* parent) {
    QWidget* widget = nullptr;
    const QString caption = toQString(row.caption);
    switch (row.kind) {
        case ControlKind::Button: {
            auto* button = new PanelButton(toQColor(row.back), parent);
            button->setText(caption);
            // Enter clicks a focused button, as Space does.
            button->setAutoDefault(true);
            button->setFocusPolicy(Qt::StrongFocus);
            button->installEventFilter(this);
            connect(button, &QPushButton::clicked, this, [this, id = row.id] {
                if (events_ != nullptr) {
                    events_->Click(id);
                }
            });
            widget = button;
            break;
        }
        case ControlKind::Option: {
            // Options of one container exclude each other (auto-exclusive siblings).
            auto* option = new QRadioButton(caption, parent);
            option->setChecked(row.selectedAtStart());
            option->setFocusPolicy(Qt::StrongFocus);
            connect(option, &QRadioButton::clicked, this, [this, id = row.id] {
                if (events_ != nullptr) {
                    events_->Click(id);
                }
            });
            widget = option;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setText(caption);
            label->setAlignment(toQtAlignment(row.align));
            label->setAutoFillBackground(true);
            if (row.border()) {
                label->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
            }
            widget = label;
            break;
        }
        case ControlKind::Frame: {
            // Opaque, so that the port panel hides the button beneath it.
            auto* frame = new QFrame(parent);
            frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
            frame->setAutoFillBackground(true);
            widget = frame;
            break;
        }
        case ControlKind::TextBox: {
            auto* edit = new QLineEdit(parent);
            edit->setFocusPolicy(Qt::StrongFocus);
            // The box keeps whatever is pasted into it, however long: the core refuses text
            // too long to send rather than have the box cut it short unseen.
            edit->setMaxLength(std::numeric_limits<int>::max());
            // What the operator types or pastes; the core's own setText raises nothing.
            connect(edit, &QLineEdit::textEdited, this, [this, id = row.id](const QString& text) {
                if (events_ != nullptr) {
                    events_->Change(id, text.toStdString());
                }
            });
            widget = edit;
            break;
        }
        case ControlKind::Image: {
            auto* image = new QLabel(parent);
            image->setPixmap(drawBadge());
            image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            image->installEventFilter(this);
            widget = image;
            break;
        }
    }

    widget->setObjectName(toQString(controlName(row.id)));
    if (row.kind != ControlKind::TextBox && row.kind != ControlKind::Image) {
        setColours(*widget, row);
    }
    if (row.font != FontCode::NoFont) {
        widget->setFont(toQFont(row.font));
    }
    const Rect r = pixelRectInParent(row);
    widget->setGeometry(r.left, r.top, r.width, r.height);
    if (!row.visibleAtStart()) {
        widget->hide();
    }
    entries_[static_cast<std::size_t>(row.id)] = Entry{&row, widget, std::string(row.caption)};
    ids_.emplace(widget, row.id);
}

void QtWindow::applyTabOrder() {
    std::vector<const Entry*> focusable;
    for (const Entry& e : entries_) {
        if (e.row != nullptr && e.row->tab > 0) {
            focusable.push_back(&e);
        }
    }
    std::ranges::sort(focusable,
                      [](const Entry* a, const Entry* b) { return a->row->tab < b->row->tab; });
    for (std::size_t i = 1; i < focusable.size(); ++i) {
        QWidget::setTabOrder(focusable[i - 1]->widget, focusable[i]->widget);
    }
    if (!focusable.empty()) {
        focusable.front()->widget->setFocus();
    }
}

const QtWindow::Entry* QtWindow::entry(ControlId id) const {
    const Entry& e = entries_[static_cast<std::size_t>(id)];
    return e.widget == nullptr ? nullptr : &e;
}

QtWindow::Entry* QtWindow::entry(ControlId id) {
    Entry& e = entries_[static_cast<std::size_t>(id)];
    return e.widget == nullptr ? nullptr : &e;
}

QWidget* QtWindow::control(ControlId id) const {
    const Entry* e = entry(id);
    return e == nullptr ? nullptr : e->widget;
}

void QtWindow::setPortDevices(const std::array<std::string, 2>& descriptions) {
    const std::array<ControlId, 2> buttons{ControlId::Option1, ControlId::Option2};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (QWidget* button = control(buttons[i])) {
            button->setToolTip(QString::fromStdString(descriptions[i]));
        }
    }
}

std::optional<ControlId> QtWindow::idOf(const QObject* object) const {
    const auto it = ids_.find(object);
    return it == ids_.end() ? std::nullopt : std::optional(it->second);
}

void QtWindow::setCaption(ControlId control, std::string_view text) {
    Entry* e = entry(control);
    if (e == nullptr) {
        return;
    }
    e->caption = std::string(text);
    if (auto* button = qobject_cast<QAbstractButton*>(e->widget)) {
        button->setText(toQString(text));
    } else if (auto* label = qobject_cast<QLabel*>(e->widget)) {
        label->setText(toQString(text));
    }
}

std::string QtWindow::caption(ControlId control) const {
    const Entry* e = entry(control);
    return e == nullptr ? std::string() : e->caption;
}

void QtWindow::setVisible(ControlId control, bool visible) {
    if (QWidget* widget = this->control(control)) {
        widget->setVisible(visible);
    }
}

bool QtWindow::visible(ControlId control) const {
    const QWidget* widget = this->control(control);
    return widget != nullptr && !widget->isHidden();
}

void QtWindow::selectOption(ControlId control) {
    // setChecked changes the selection without a click.
    if (auto* option = qobject_cast<QRadioButton*>(this->control(control))) {
        option->setChecked(true);
    }
}

bool QtWindow::optionSelected(ControlId control) const {
    const auto* option = qobject_cast<const QRadioButton*>(this->control(control));
    return option != nullptr && option->isChecked();
}

std::string QtWindow::text(ControlId control) const {
    const auto* edit = qobject_cast<const QLineEdit*>(this->control(control));
    return edit == nullptr ? std::string() : edit->text().toStdString();
}

void QtWindow::setText(ControlId control, std::string_view text) {
    if (auto* edit = qobject_cast<QLineEdit*>(this->control(control))) {
        edit->setText(toQString(text));
    }
}

void QtWindow::setHeight(int twips) {
    outerHeight_ = twips;
    setFixedHeight(clientHeightPx(twips));
}

int QtWindow::height() const {
    return outerHeight_;
}

int QtWindow::screenWidth() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr ? 0 : screen->availableGeometry().width() * kTwipsPerPixel;
}

int QtWindow::screenHeight() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr ? 0 : screen->availableGeometry().height() * kTwipsPerPixel;
}

void QtWindow::move(int left, int top) {
    QWidget::move(QPoint(signedPixels(left), signedPixels(top)));
}

void QtWindow::warningBox(std::string_view text, std::string_view title) {
    if (warningHook_) {
        warningHook_(text, title);
        return;
    }
    QMessageBox::warning(this, toQString(title), toQString(text), QMessageBox::Ok);
}

void QtWindow::setPortNotice(std::string_view text) {
    QString title = toQString(kForm.caption);
    if (!text.empty()) {
        title += QStringLiteral("  -  ") + toQString(text);
    }
    setWindowTitle(title);
}

void QtWindow::unload() {
    close();
}

void QtWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(toQColor(kOutlineColour), kOutlineWidthPixels, Qt::SolidLine, Qt::SquareCap));
    for (const OutlineLine& line : outlineLines()) {
        p.drawLine(twipsToPixels(line.x1), twipsToPixels(line.y1), twipsToPixels(line.x2),
                   twipsToPixels(line.y2));
    }
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
    const std::optional<ControlId> id = idOf(watched);
    if (!id || events_ == nullptr) {
        return false;
    }
    const bool isButton = qobject_cast<QPushButton*>(watched) != nullptr;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            if (!isButton) {
                if (event->type() == QEvent::MouseButtonDblClick) {
                    events_->DblClick(*id);
                }
                return false;
            }
            events_->MouseDown(*id);
            // Only the left button clicks; a press of another button stops here instead of
            // passing on to the container. Either way the button holds the implicit mouse
            // grab, so the release comes back to it wherever the pointer is by then.
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
                event->accept();
                return true;
            }
            return false;
        }
        case QEvent::MouseButtonRelease: {
            if (!isButton) {
                return false;
            }
            events_->MouseUp(*id);
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
                event->accept();
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

void QtWindow::previewKey(QObject* receiver, QEvent* event) {
    if (events_ == nullptr) {
        return;
    }
    // A key press goes first to the focused control (or the window when none has the
    // focus); a control that ignores it passes it on to its containers. Only that first
    // delivery counts.
    QWidget* first = focusWidget();
    if (first == nullptr) {
        first = this;
    }
    if (receiver != first) {
        return;
    }
    const auto* key = static_cast<const QKeyEvent*>(event);
    events_->KeyDown(key->key(), shiftState(key->modifiers()));
}

}  // namespace pj
