// SPDX-License-Identifier: Apache-2.0
#include "link/port_target.h"

#include <gtest/gtest.h>

#include <string>

namespace pj {
namespace {

TEST(PortTarget, TheNameSaysADeviceANetworkPortOrALocalSocket) {
    using Kind = PortTarget::Kind;
    struct Row {
        std::string name;
        bool isSocket;  // what the system says of a plain path
        Kind kind;
        std::string where;  // the path or name reached, or part of what is wrong
        bool examined;      // whether the system was asked of the name
    };
    const Row rows[] = {
        {"unix:/run/pjline/booth.sock", false, Kind::LocalSocket, "/run/pjline/booth.sock", false},
        {"UNIX:/tmp/a b.sock", false, Kind::LocalSocket, "/tmp/a b.sock", false},
        {"/run/pjline/booth.sock", true, Kind::LocalSocket, "/run/pjline/booth.sock", true},
        {"/dev/ttyUSB0", false, Kind::Device, "/dev/ttyUSB0", true},
        {"unix", false, Kind::Device, "unix", true},
        {"tcp://pj:4001", true, Kind::Network, "tcp://pj:4001", false},
        {"unix:", true, Kind::Invalid,
         "\"unix:\" is not a local socket (unix:/PATH): the path is "
         "missing",
         false},
        {"unix:run/booth.sock", true, Kind::Invalid, "the path must be absolute", false},
        {"unix:~/booth.sock", false, Kind::Invalid, "the path must be absolute", false},
        {"tcp://pj", false, Kind::Invalid, "no port number", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bool examined = false;
        const PortTarget target = portTarget(row.name, [&](const std::string& path) {
            examined = true;
            EXPECT_EQ(path, row.name);
            DeviceFacts facts;
            facts.resolved = path;
            facts.socket = row.isSocket;
            return facts;
        });
        EXPECT_EQ(target.kind, row.kind);
        if (row.kind == Kind::Invalid) {
            EXPECT_NE(target.where.find(row.where), std::string::npos) << target.where;
        } else {
            EXPECT_EQ(target.where, row.where);
        }
        EXPECT_EQ(examined, row.examined);
    }
}

}  // namespace
}  // namespace pj
