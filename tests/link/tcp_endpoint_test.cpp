// SPDX-License-Identifier: Apache-2.0
#include "link/tcp_endpoint.h"

#include <gtest/gtest.h>

#include <string>

namespace pj {
namespace {

TEST(TcpEndpoint, AHostAndAPortNumberOfOneToFiveDigits) {
    struct Good {
        std::string_view device;
        std::string_view host;
        std::uint16_t port;
    };
    const Good good[] = {
        {"tcp://pj:4001", "pj", 4001},
        {"TCP://10.0.0.7:1", "10.0.0.7", 1},
        {"tcp://pj:65535/", "pj", 65535},
        {"tcp://[::1]:00023", "::1", 23},
    };
    for (const Good& g : good) {
        SCOPED_TRACE(g.device);
        std::string error;
        const auto endpoint = parseTcpDevice(g.device, &error);
        ASSERT_TRUE(endpoint) << error;
        EXPECT_EQ(endpoint->host, g.host);
        EXPECT_EQ(endpoint->port, g.port);
    }

    struct Bad {
        std::string_view device;
        std::string_view says;
    };
    constexpr std::string_view kNoPort = "no port number (1 to 65535) after the host";
    const Bad bad[] = {
        {"tcp://pj:+4001", kNoPort},
        {"tcp://pj: 4001", kNoPort},
        {"tcp://pj:4001 ", kNoPort},
        {"tcp://pj:\t4001", kNoPort},
        {"tcp://pj:-1", kNoPort},
        {"tcp://pj:0", kNoPort},
        {"tcp://pj:65536", kNoPort},
        {"tcp://pj:004001", kNoPort},
        {"tcp://pj:0x10", kNoPort},
        {"tcp://pj:", kNoPort},
        {"tcp://pj", kNoPort},
        {"tcp://[::1]:+23", kNoPort},
        {"tcp://:4001", "the host is missing"},
        {"tcp://a b:4001", "only a host and a port number may follow tcp://"},
        {"tcp://[::1", "an IPv6 address is written [ADDRESS]:PORT"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.device);
        std::string error;
        EXPECT_FALSE(parseTcpDevice(b.device, &error));
        EXPECT_NE(error.find(b.says), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace pj
