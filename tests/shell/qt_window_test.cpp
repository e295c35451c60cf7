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

namespace pj {
namespace {

// Records the core's events, and (as a filter) the key presses that reach a widget itself.
class Recorder : public QObject, public FormEvents {
  public:
    std::vector<std::string> log;

    bool Click(std::string_view c) override {
        add("Click", c);
        return true;
    }
    void MouseDown(std::string_view c) override { add("MouseDown", c); }
    void MouseUp(std::string_view c) override { add("MouseUp", c); }
    void DblClick(std::string_view c) override { add("DblClick", c); }
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
        window.setVisible("Command34", true);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // A point of a control, in window coordinates (the control's centre by default).
    QPoint at(std::string_view name, QPoint local = {-1, -1}) {
        QWidget* w = window.control(name);
        return w->mapTo(&window, local == QPoint(-1, -1) ? w->rect().center() : local);
    }

    QWindow* handle() { return window.windowHandle(); }

    Recorder events;
    QtWindow window;
};

TEST_F(QtWindowTest, BuildsEveryControlWithItsNameCaptionPlaceFontAndStartState) {
    for (const Control& row : layoutControls()) {
        QWidget* w = window.findChild<QWidget*>(q(row.name));
        ASSERT_NE(w, nullptr) << row.name;
        EXPECT_EQ(window.control(row.name), w);
        EXPECT_EQ(w->parentWidget()->objectName(), q(row.parent)) << row.name;
        const Rect r = pixelRectInParent(row);
        EXPECT_EQ(w->geometry(), QRect(r.left, r.top, r.width, r.height)) << row.name;
        EXPECT_EQ(window.visible(row.name), row.visibleAtStart()) << row.name;
        EXPECT_EQ(window.caption(row.name), row.caption) << row.name;

        static const std::map<ControlKind, const char*> widgetClass{
            {ControlKind::Button, "QPushButton"}, {ControlKind::Option, "QRadioButton"},
            {ControlKind::Label, "QLabel"},       {ControlKind::Frame, "QFrame"},
            {ControlKind::TextBox, "QLineEdit"},  {ControlKind::Image, "QLabel"},
        };
        EXPECT_TRUE(w->inherits(widgetClass.at(row.kind))) << row.name;
        QString shown;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            shown = button->text();
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            shown = label->text();
        }
        const bool hasCaption = row.kind == ControlKind::Button ||
                                row.kind == ControlKind::Option || row.kind == ControlKind::Label;
        EXPECT_EQ(shown, hasCaption ? q(row.caption) : QString()) << row.name;
        if (row.kind == ControlKind::Option) {
            EXPECT_EQ(window.optionSelected(row.name), row.selectedAtStart()) << row.name;
        }

        if (row.font != FontCode::NoFont) {
            const FontSpec& font = fontSpec(row.font);
            const QFontInfo info(w->font());
            EXPECT_EQ(info.family(), font.face == FontFace::Fixed ? "IPAGothic" : "IPAPGothic")
                << row.name;
            EXPECT_EQ(info.pixelSize(), font.pixelSize()) << row.name;
            EXPECT_EQ(info.bold(), font.bold) << row.name;
        }
    }
    auto* image = qobject_cast<QLabel*>(window.control("Image1"));
    EXPECT_EQ(image->pixmap().size(), image->size());
    const QFontMetrics metrics(window.control("Command34")->font());
    for (const QChar ch : q(findControl("Command34")->caption)) {
        EXPECT_TRUE(metrics.inFont(ch)) << "no glyph for " << QString(ch).toStdString();
    }
    EXPECT_EQ(window.windowTitle(), q(kForm.caption));
}

TEST_F(QtWindowTest, FocusStartsOnPowerOnAndFollowsTheTabColumn) {
    std::vector<std::string_view> expected;
    for (const Control& row : layoutControls()) {
        if (row.tab > 0) {
            expected.push_back(row.name);
        }
    }
    std::ranges::sort(expected, {}, [](std::string_view n) { return findControl(n)->tab; });
    std::vector<std::string_view> chain;
    QWidget* w = window.focusWidget();
    ASSERT_EQ(w, window.control(expected.front()));
    do {
        const Control* row = findControl(w->objectName().toStdString());
        if (row != nullptr && row->tab > 0) {
            chain.push_back(row->name);
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
        window.setVisible("Frame8", isInside(row, "Frame8"));
        events.log.clear();
        QTest::mouseClick(handle(), Qt::LeftButton, {}, at(row.name));
        const std::string n(row.name);
        const std::vector<std::string> expected =
            row.kind == ControlKind::Button
                ? std::vector<std::string>{"MouseDown " + n, "MouseUp " + n, "Click " + n}
                : std::vector<std::string>{"Click " + n};
        EXPECT_EQ(events.log, expected) << row.name;
    }
}

TEST_F(QtWindowTest, AnyMouseButtonIsReleasedOnTheButtonThatTookThePress) {
    showFull();
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        for (const bool outside : {false, true}) {
            for (const std::string held : {"Command5", "Command59", "Command15"}) {
                events.log.clear();
                QTest::mousePress(handle(), button, {}, at(held));
                // Far away, over another button.
                QTest::mouseRelease(handle(), button, {}, outside ? at("Command84") : at(held));
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
        for (const std::string name : {"Command17", "Command5", "Command34"}) {
            window.control(name)->setFocus();
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
    QWidget* text1 = window.control("Text1");
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
    window.setText("Text1", "");
    QTest::keyClick(handle(), Qt::Key_K);
    EXPECT_EQ(window.text("Text1"), "k");

    // A key the focused button ignores travels up through its containers: reported once.
    window.control("Command18")->setFocus();
    events.log.clear();
    QTest::keyClick(handle(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(events.count("KeyDown " + std::to_string(kKeyK) + " 2"), 1);
}

TEST_F(QtWindowTest, OnlyADoubleClickOnThePictureReachesItsHandler) {
    showFull();
    QTest::mouseClick(handle(), Qt::LeftButton, {}, at("Image1"));
    EXPECT_TRUE(events.log.empty());
    QTest::mouseDClick(handle(), Qt::LeftButton, {}, at("Image1"));
    EXPECT_EQ(events.log, std::vector<std::string>{"DblClick Image1"});
}

TEST_F(QtWindowTest, SelectingAnOptionInCodeRaisesNoClickAndKeepsGroupsApart) {
    const std::pair<std::string_view, std::vector<std::string_view>> steps[] = {
        {"Option4", {"Option4", "Option9"}},
        {"Option1", {"Option4", "Option9", "Option1"}},
        {"Option10", {"Option4", "Option10", "Option1"}},
        {"Option3", {"Option3", "Option10", "Option1"}},
    };
    for (const auto& [select, selected] : steps) {
        window.selectOption(select);
        for (const Control& row : layoutControls()) {
            if (row.kind == ControlKind::Option) {
                EXPECT_EQ(window.optionSelected(row.name),
                          std::ranges::find(selected, row.name) != selected.end())
                    << row.name << " after " << select;
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
    for (const std::string_view name : {"Label12", "Label22", "Command34"}) {
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
    EXPECT_EQ(qobject_cast<QLabel*>(window.control("Label12"))->textFormat(), Qt::PlainText);

    window.setText("Text1", "CR PRESSURE ");
    EXPECT_EQ(window.text("Text1"), "CR PRESSURE ");
    window.setVisible("Frame8", true);
    EXPECT_TRUE(window.visible("Frame8") && window.visible("Option1"));

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
        if (row.kind == ControlKind::Button && !isInside(row, "Frame8")) {
            // Just inside the bevel, clear of the caption and the focus rectangle.
            EXPECT_EQ(image.pixelColor(at(row.name, {2, 2})), colourOf(row.back)) << row.name;
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
    window.setVisible("Frame8", true);
    image = window.grab().toImage();
    const QPoint corner = window.control("Command33")->rect().bottomRight() - QPoint(2, 2);
    for (const QPoint p : {at("Command33"), at("Command33", {2, 2}), at("Command33", corner)}) {
        EXPECT_EQ(image.pixelColor(p), colourOf(Colour::Silver));
    }
    events.log.clear();
    QTest::mouseClick(handle(), Qt::LeftButton, {}, at("Command33"));
    EXPECT_TRUE(events.log.empty());
}

}  // namespace
}  // namespace pj
