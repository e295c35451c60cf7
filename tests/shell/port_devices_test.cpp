// SPDX-License-Identifier: Apache-2.0
// Which device each port is, on the port panel's option buttons.
#include <QWidget>

#include <gtest/gtest.h>

#include "shell/qt_window.h"

namespace pj {
namespace {

TEST(PortDevices, EachPortButtonNamesItsOwnDeviceAndFollowsAChange) {
    QtWindow window;
    const std::array<std::string, 2> first{
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3JQ2-if00-port0 (/dev/ttyUSB0)",
        "/dev/ttyS0"};
    const std::array<std::string, 2> second{"tcp://192.168.1.50:4001", "/dev/ttyUSB1"};
    for (const auto& devices : {first, second}) {
        window.setPortDevices(devices);
        EXPECT_EQ(window.control(ControlId::Option1)->toolTip().toStdString(), devices[0]);
        EXPECT_EQ(window.control(ControlId::Option2)->toolTip().toStdString(), devices[1]);
    }
}

}  // namespace
}  // namespace pj
