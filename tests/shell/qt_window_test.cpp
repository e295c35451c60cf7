// SPDX-License-Identifier: Apache-2.0
// The panel window on the offscreen platform. Mouse and keys go in through the window as
// real input does, so hit-testing, the implicit mouse grab and focus all take part.
#include "shell/qt_window.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "panel/layout.h"
#include "support/control_print.h"

namespace pj {
namespace {

// Records the core's events, and (as a filter) the key presses that reach a widget itself.
class Recorder : public QObject, public FormEvents {
  public:
    std::vector<std::string> log;

    bool Click(ControlId c) override {
        add("Click", controlName(c));
        return true;
    }
    void MouseDown(ControlId c) override { add("MouseDown", controlName(c)); }
    void MouseUp(ControlId c) override { add("MouseUp", controlName(c)); }
    void DblClick(ControlId c) override { add("DblClick", controlName(c)); }
    void Change(ControlId c, std::string_view text) override {
        add("Change", std::string(controlName(c)) + " " + std::string(text));
    }
    void KeyDown(int key, int shift) override {
        add("KeyDown", std::to_string(key) + " " + std::to_string(shift));
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            add(watched->objectName().toStdString() + " got",
                std::to_string(static_cast<QKeyEvent*>(event)->key()));
        }
        return false;
    }
    long count(const std::string& entry) const { return std::ranges::count(log, entry); }

  private:
    void add(std::string_view what, std::string_view detail) {
        log.push_back(std::string(what) + " " + std::string(detail));
    }
};

QColor colourOf(Colour colour) {
    if (colour == Colour::ButtonFace) {
        return QApplication::palette().color(QPalette::Button);
    }
    const ColourSpec& c = colourSpec(colour);
    return {c.red, c.green, c.blue};
}

QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

class QtWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.setEvents(&events);
        window.setWarningHook([this](std::string_view text, std::string_view title) {
            events.log.push_back("Warning " + std::string(title) + ": " + std::string(text));
        });
    }

    void showFull() {
        window.setHeight(9100);
        window.setVisible(ControlId::Command34, true);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // A point of a control, in window coordinates (the control's centre by default).
    QPoint at(ControlId id, QPoint local = {-1, -1}) {
        QWidget* w = window.control(id);
        return w->mapTo(&window, local == QPoint(-1, -1) ? w->rect().center() : local);
    }

    QWindow* handle() { return window.windowHandle(); }

    Recorder events;
    QtWindow window;
};

TEST_F(QtWindowTest, BuildsEveryControlWithItsNameCaptionPlaceFontAndStartState) {
    for (const Control& row : layoutControls()) {
        QWidget* w = window.findChild<QWidget*>(q(controlName(row.id)));
        ASSERT_NE(w, nullptr) << controlName(row.id);
        EXPECT_EQ(window.control(row.id), w);
        EXPECT_EQ(w->parentWidget()->objectName(), q(controlName(row.parent)))
            << controlName(row.id);
        const Rect r = pixelRectInParent(row);
        EXPECT_EQ(w->geometry(), QRect(r.left, r.top, r.width, r.height)) << controlName(row.id);
        EXPECT_EQ(window.visible(row.id), row.visibleAtStart()) << controlName(row.id);
        EXPECT_EQ(window.caption(row.id), row.caption) << controlName(row.id);

        static const std::map<ControlKind, const char*> widgetClass{
            {ControlKind::Button, "QPushButton"}, {ControlKind::Option, "QRadioButton"},
            {ControlKind::Label, "QLabel"},       {ControlKind::Frame, "QFrame"},
            {ControlKind::TextBox, "QLineEdit"},  {ControlKind::Image, "QLabel"},
        };
        EXPECT_TRUE(w->inherits(widgetClass.at(row.kind))) << controlName(row.id);
        QString shown;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            shown = button->text();
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            shown = label->text();
        }
        const bool hasCaption = row.kind == ControlKind::Button ||
                                row.kind == ControlKind::Option || row.kind == ControlKind::Label;
        EXPECT_EQ(shown, hasCaption ? q(row.caption) : QString()) << controlName(row.id);
        if (row.kind == ControlKind::Option) {
            EXPECT_EQ(window.optionSelected(row.id), row.selectedAtStart()) << controlName(row.id);
        }

        if (row.font != FontCode::NoFont) {
            const FontSpec& font = fontSpec(row.font);
            const QFontInfo info(w->font());
            EXPECT_EQ(info.family(), font.face == FontFace::Fixed ? "IPAGothic" : "IPAPGothic")
                << controlName(row.id);
            EXPECT_EQ(info.pixelSize(), font.pixelSize()) << controlName(row.id);
            EXPECT_EQ(info.bold(), font.bold) << controlName(row.id);
        }
    }
    auto* image = qobject_cast<QLabel*>(window.control(ControlId::Image1));
    EXPECT_EQ(image->pixmap().size(), image->size());
    const QFontMetrics metrics(window.control(ControlId::Command34)->font());
    for (const QChar ch : q(findControl(ControlId::Command34)->caption)) {
        EXPECT_TRUE(metrics.inFont(ch)) << "no glyph for " << QString(ch).toStdString();
    }
    EXPECT_EQ(window.windowTitle(), q(kForm.caption));
}

TEST_F(QtWindowTest, FocusStartsOnPowerOnAndFollowsTheTabColumn) {
    std::vector<ControlId> expected;
    for (const Control& row : layoutControls()) {
        if (row.tab > 0) {
            expected.push_back(row.id);
        }
    }
    std::ranges::sort(expected, {}, [](ControlId id) { return findControl(id)->tab; });
    std::vector<ControlId> chain;
    QWidget* w = window.focusWidget();
    ASSERT_EQ(w, window.control(expected.front()));
    do {
        const auto id = controlFromName(w->objectName().toStdString());
        const Control* row = id ? findControl(*id) : nullptr;
        if (row != nullptr && row->tab > 0) {
            chain.push_back(row->id);
        }
        w = w->nextInFocusChain();
    } while (w != window.focusWidget() && chain.size() <= expected.size());
    EXPECT_EQ(chain, expected);
}

TEST_F(QtWindowTest, LeftClickOnEveryButtonAndOptionReachesItsHandler) {
    showFull();
    for (const Control& row : layoutControls()) {
        if (row.kind != ControlKind::Button && row.kind != ControlKind::Option) {
            continue;
        }
        // The port panel lies over "COM": shown only for its own options.
        window.setVisible(ControlId::Frame8, isInside(row, ControlId::Frame8));
        events.log.clear();
        QTest::mouseClick(handle(), Qt::LeftButton, {}, at(row.id));
        const std::string n(controlName(row.id));
        const std::vector<std::string> expected =
            row.kind == ControlKind::Button
                ? std::vector<std::string>{"MouseDown " + n, "MouseUp " + n, "Click " + n}
                : std::vector<std::string>{"Click " + n};
        EXPECT_EQ(events.log, expected) << controlName(row.id);
    }
}

TEST_F(QtWindowTest, AnyMouseButtonIsReleasedOnTheButtonThatTookThePress) {
    showFull();
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        for (const bool outside : {false, true}) {
            for (const ControlId id :
                 {ControlId::Command5, ControlId::Command59, ControlId::Command15}) {
                const std::string held(controlName(id));
                events.log.clear();
                QTest::mousePress(handle(), button, {}, at(id));
                // Far away, over another button.
                QTest::mouseRelease(handle(), button, {},
                                    outside ? at(ControlId::Command84) : at(id));
                std::vector<std::string> expected{"MouseDown " + held, "MouseUp " + held};
                if (button == Qt::LeftButton && !outside) {
                    expected.push_back("Click " + held);
                }
                EXPECT_EQ(events.log, expected) << held << " button " << button << " " << outside;
            }
        }
    }
}

TEST_F(QtWindowTest, SpaceOrEnterOnTheFocusedButtonClicksWithoutMouseEvents) {
    showFull();
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        for (const ControlId id :
             {ControlId::Command17, ControlId::Command5, ControlId::Command34}) {
            const std::string name(controlName(id));
            window.control(id)->setFocus();
            events.log.clear();
            QTest::keyClick(handle(), key);
            EXPECT_EQ(events.log, (std::vector<std::string>{"KeyDown " + std::to_string(key) + " 0",
                                                            "Click " + name}))
                << name;
        }
    }
}

TEST_F(QtWindowTest, KeysReachTheWindowOnceBeforeTheFocusedControl) {
    showFull();
    QWidget* text1 = window.control(ControlId::Text1);
    text1->installEventFilter(&events);
    const std::string gotK = "Text1 got " + std::to_string(kKeyK);
    const std::pair<Qt::KeyboardModifiers, int> cases[] = {
        {Qt::NoModifier, 0},
        {Qt::ControlModifier, kCtrlMask},
        {Qt::ControlModifier | Qt::ShiftModifier, kCtrlMask | kShiftMask},
        {Qt::AltModifier | Qt::ControlModifier, kAltMask | kCtrlMask},
    };
    for (const auto& [modifiers, shift] : cases) {
        text1->setFocus();
        events.log.clear();
        QTest::keyClick(handle(), Qt::Key_K, modifiers);
        const std::string keyDown =
            "KeyDown " + std::to_string(kKeyK) + " " + std::to_string(shift);
        EXPECT_EQ(events.count(keyDown), 1) << shift;
        EXPECT_EQ(events.count(gotK), 1) << shift;
        EXPECT_LT(std::ranges::find(events.log, keyDown), std::ranges::find(events.log, gotK))
            << "Text1 must get the key, after the window; shift " << shift;
    }
    window.setText(ControlId::Text1, "");
    QTest::keyClick(handle(), Qt::Key_K);
    EXPECT_EQ(window.text(ControlId::Text1), "k");

    // A key the focused button ignores travels up through its containers: reported once.
    window.control(ControlId::Command18)->setFocus();
    events.log.clear();
    QTest::keyClick(handle(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(events.count("KeyDown " + std::to_string(kKeyK) + " 2"), 1);
}

TEST_F(QtWindowTest, OnlyADoubleClickOnThePictureReachesItsHandler) {
    showFull();
    QTest::mouseClick(handle(), Qt::LeftButton, {}, at(ControlId::Image1));
    EXPECT_TRUE(events.log.empty());
    QTest::mouseDClick(handle(), Qt::LeftButton, {}, at(ControlId::Image1));
    EXPECT_EQ(events.log, std::vector<std::string>{"DblClick Image1"});
}

TEST_F(QtWindowTest, SelectingAnOptionInCodeRaisesNoClickAndKeepsGroupsApart) {
    const std::pair<ControlId, std::vector<ControlId>> steps[] = {
        {ControlId::Option4, {ControlId::Option4, ControlId::Option9}},
        {ControlId::Option1, {ControlId::Option4, ControlId::Option9, ControlId::Option1}},
        {ControlId::Option10, {ControlId::Option4, ControlId::Option10, ControlId::Option1}},
        {ControlId::Option3, {ControlId::Option3, ControlId::Option10, ControlId::Option1}},
    };
    for (const auto& [select, selected] : steps) {
        window.selectOption(select);
        for (const Control& row : layoutControls()) {
            if (row.kind == ControlKind::Option) {
                EXPECT_EQ(window.optionSelected(row.id),
                          std::ranges::find(selected, row.id) != selected.end())
                    << controlName(row.id) << " after " << select;
            }
        }
    }
    EXPECT_TRUE(events.log.empty());
}

TEST_F(QtWindowTest, WindowOperationsReachTheWidgets) {
    for (const int outer : {5350, 6645, 7200, 9100, 6000}) {
        window.setHeight(outer);
        EXPECT_EQ(window.height(), outer);
        EXPECT_EQ(window.QWidget::height(), clientHeightPx(outer)) << outer;
        EXPECT_EQ(window.QWidget::width(), clientWidthPx()) << outer;
    }

    // Captions read back byte for byte and show as plain text, markup and all.
    for (const ControlId name : {ControlId::Label12, ControlId::Label22, ControlId::Command34}) {
        for (const std::string text : {" X X X X", "<b>no</b> &amp; &", "データを表示しない", ""}) {
            window.setCaption(name, text);
            EXPECT_EQ(window.caption(name), text) << name;
            QWidget* w = window.control(name);
            auto* label = qobject_cast<QLabel*>(w);
            const QString shown =
                label != nullptr ? label->text() : qobject_cast<QPushButton*>(w)->text();
            EXPECT_EQ(shown, q(text)) << name;
        }
    }
    EXPECT_EQ(qobject_cast<QLabel*>(window.control(ControlId::Label12))->textFormat(),
              Qt::PlainText);

    window.setText(ControlId::Text1, "CR PRESSURE ");
    EXPECT_EQ(window.text(ControlId::Text1), "CR PRESSURE ");
    // The core's own text raises nothing; what the operator pastes reaches it whole, however
    // long (the core, not the box, refuses what is too long to send).
    auto* edit = qobject_cast<QLineEdit*>(window.control(ControlId::Text1));
    window.setText(ControlId::Text1, "");
    EXPECT_TRUE(events.log.empty());
    const std::string pasted(40000, 'C');
    edit->insert(q(pasted));
    EXPECT_EQ(events.log, std::vector<std::string>{"Change Text1 " + pasted});
    events.log.clear();
    window.setVisible(ControlId::Frame8, true);
    EXPECT_TRUE(window.visible(ControlId::Frame8) && window.visible(ControlId::Option1));

    window.setPortNotice("COM2 not available");
    EXPECT_EQ(window.windowTitle(), q(kForm.caption) + "  -  COM2 not available");
    window.setPortNotice("");
    EXPECT_EQ(window.windowTitle(), q(kForm.caption));

    window.warningBox("Port in use", "Title");
    EXPECT_EQ(events.log, std::vector<std::string>{"Warning Title: Port in use"});

    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.screenWidth(), available.width() * kTwipsPerPixel);
    EXPECT_EQ(window.screenHeight(), available.height() * kTwipsPerPixel);
    window.move(1500, 750);
    EXPECT_EQ(window.pos(), QPoint(100, 50));

    const bool quits = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    showFull();
    window.unload();
    EXPECT_FALSE(window.isVisible());
    QGuiApplication::setQuitOnLastWindowClosed(quits);
}

TEST_F(QtWindowTest, ButtonsOutlineAndPortPanelAreDrawnInTheirColours) {
    showFull();
    QImage image = window.grab().toImage();
    for (const Control& row : layoutControls()) {
        if (row.kind == ControlKind::Button && !isInside(row, ControlId::Frame8)) {
            // Just inside the bevel, clear of the caption and the focus rectangle.
            EXPECT_EQ(image.pixelColor(at(row.id, {2, 2})), colourOf(row.back))
                << controlName(row.id);
        }
    }
    for (const OutlineLine& line : outlineLines()) {
        const QPoint mid(twipsToPixels((line.x1 + line.x2) / 2),
                         twipsToPixels((line.y1 + line.y2) / 2));
        const QPoint across = line.y1 == line.y2 ? QPoint(0, 1) : QPoint(1, 0);
        int width = 0;
        for (int d = -3; d <= 3; ++d) {
            width += image.pixelColor(mid + d * across) == colourOf(kOutlineColour) ? 1 : 0;
        }
        EXPECT_EQ(width, kOutlineWidthPixels) << line.name;
    }

    // When shown, the port panel hides "COM" and takes its clicks.
    window.setVisible(ControlId::Frame8, true);
    image = window.grab().toImage();
    const QPoint corner = window.control(ControlId::Command33)->rect().bottomRight() - QPoint(2, 2);
    for (const QPoint p : {at(ControlId::Command33), at(ControlId::Command33, {2, 2}),
                           at(ControlId::Command33, corner)}) {
        EXPECT_EQ(image.pixelColor(p), colourOf(Colour::Silver));
    }
    events.log.clear();
    QTest::mouseClick(handle(), Qt::LeftButton, {}, at(ControlId::Command33));
    EXPECT_TRUE(events.log.empty());
}

}  // namespace
}  // namespace pj
