// --mqtt HOST[:PORT] as the bridge reads it.
#include <gtest/gtest.h>

#include "line/mqtt_bridge.h"

namespace pj::line {
namespace {

TEST(BrokerAddress, HostAndOptionalPort) {
    struct Row {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Row rows[] = {
        {"broker", true, "broker", 1883},
        {"10.0.0.5:1884", true, "10.0.0.5", 1884},
        {"[::1]:8883", true, "::1", 8883},
        {"[fe80::1]", true, "fe80::1", 1883},
        {"::1", true, "::1", 1883},
        {"broker:65535", true, "broker", 65535},
        {"", false, "", 0},
        {":1883", false, "", 0},
        {"broker:", false, "", 0},
        {"broker:0", false, "", 0},
        {"broker:65536", false, "", 0},
        {"broker:18x", false, "", 0},
        {"[::1", false, "", 0},
        {"[::1]x", false, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::string host = "unchanged";
        int port = 1883;
        EXPECT_EQ(parseBrokerAddress(row.text, host, port), row.ok);
        if (row.ok) {
            EXPECT_EQ(host, row.host);
            EXPECT_EQ(port, row.port);
        } else {
            EXPECT_EQ(host, "unchanged");
            EXPECT_EQ(port, 1883);
        }
    }
}

}  // namespace
}  // namespace pj::line
