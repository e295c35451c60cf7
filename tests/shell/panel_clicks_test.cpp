// SPDX-License-Identifier: Apache-2.0
// The real window wired to the core: every command button, clicked or held at its place,
// sends exactly its frame.
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>

#include "protocol/catalogue.h"
#include "protocol/hold.h"
#include "shell/qt_window.h"
#include "status/queries.h"
#include "support/fakes.h"

namespace pj {
namespace {

TEST(PanelClicks, EveryCommandButtonSendsItsFrameFromItsPlaceInTheWindow) {
    test::FakeTimers timers;
    test::FakeSerial serial;
    QtWindow window;
    std::vector<std::string> boxes;
    window.setWarningHook(
        [&](std::string_view text, std::string_view) { boxes.emplace_back(text); });
    Form form(window, serial, timers.all(), timers.clock);
    window.setEvents(&form);
    form.Load();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // Ctrl+K, then a double-click on the picture: the whole window.
    QTest::keyClick(window.windowHandle(), Qt::Key_K, Qt::ControlModifier);
    const QWidget* picture = window.control(ControlId::Image1);
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {},
                       picture->mapTo(&window, picture->rect().center()));
    ASSERT_EQ(window.height(), kHeightFull);
    ASSERT_TRUE(boxes.empty());

    // A click at the centre of the control, delivered to the window as the pointer would.
    const auto at = [&](ControlId id) {
        const QWidget* w = window.control(id);
        return w->mapTo(&window, w->rect().center());
    };

    std::vector<std::pair<ControlId, std::string_view>> oneShot;
    for (const CatalogueEntry& e : kCatalogue) {
        oneShot.emplace_back(e.control, e.command);
    }
    for (const QueryButton& b : kQueryButtons) {
        oneShot.emplace_back(b.control, findStatusQuery(b.query)->command);
    }
    for (const ControlId option : {ControlId::Option3, ControlId::Option7}) {
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at(option));
        const std::string prefix = form.state().AddressPrefix;
        for (const auto& [control, command] : oneShot) {
            const std::size_t before = serial.writes.size();
            QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at(control));
            ASSERT_EQ(serial.writes.size(), before + 1) << control;
            EXPECT_EQ(serial.writes.back(), prefix + std::string(command) + "\r") << control;
        }
        for (const HoldButton& b : kHoldButtons) {
            const std::size_t before = serial.writes.size();
            QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, at(b.control));
            ASSERT_EQ(serial.writes.size(), before + 1) << b.control;
            EXPECT_EQ(serial.writes.back(), prefix + std::string(b.command) + "\r") << b.control;
            EXPECT_EQ(form.state().RepeatCode, 0) << b.control;
        }
    }
}

}  // namespace
}  // namespace pj
