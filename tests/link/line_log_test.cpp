// SPDX-License-Identifier: Apache-2.0
#include "link/line_log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace pj {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(LineLog, BytesAreWrittenAsHexAndAsAJsonStringOfTheSameCodePoints) {
    struct Case {
        std::string bytes;
        std::string hex;
        std::string json;
    };
    const Case cases[] = {
        {"A001CR0\r", "41 30 30 31 43 52 30 0D", R"("A001CR0\r")"},
        {"\x06", "06", R"("\u0006")"},
        {std::string("\0\x7F\xFF\"\\\n\t", 7), "00 7F FF 22 5C 0A 09",
         R"("\u0000\u007F\u00FF\"\\\n\t")"},
        {"", "", R"("")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(hexBytes(c.bytes), c.hex);
        EXPECT_EQ(jsonString(c.bytes), c.json);
    }
}

// The core on fakes with a log between it and its observer: what the log says, line by line,
// and that the observer behind it hears everything as before.
TEST(LineLog, RecordsEachFrameArrivalAndPortEventWithItsTimeAndPassesThemOn) {
    struct Heard final : FormObserver {
        void sent(std::string_view frame) override { said += "sent " + std::string(frame); }
        void received(std::string_view bytes, std::string_view) override {
            said += "|received " + std::string(bytes);
        }
        void readout(std::string_view text) override { said += "|readout" + std::string(text); }
        void replyWindowEnded(bool answered) override {
            said += answered ? "|answered" : "|unanswered";
        }
        std::string said;
    } heard;

    test::Rig rig;
    rig.load();
    std::ostringstream out;
    LineLog log(out, rig.clock, {"pjctl", "/dev/ttyUSB0", 9600}, &heard);
    rig.form.setObserver(&log);

    rig.clock.advance(7);
    rig.form.Click(ControlId::Command44);  // "STATUS", the operating state query
    rig.clock.advance(12);
    rig.serial.arrive("80");
    rig.clock.advance(1);
    rig.serial.arrive("\r");
    rig.clock.advance(1000);  // the reply window ends, answered
    rig.form.send("C00");
    rig.clock.advance(2000);  // and this one unanswered

    const std::vector<std::string> got = lines(out.str());
    ASSERT_EQ(got.size(), 6u) << out.str();
    EXPECT_EQ(got[0].rfind(R"({"log":"pjpanel line log","version":1,"program":"pjctl",)"
                           R"("port":"/dev/ttyUSB0","baud":9600,"started":"20)",
                           0),
              0u)
        << got[0];
    EXPECT_EQ(got[0].back(), '}');
    const std::vector<std::string> events(got.begin() + 1, got.end());
    EXPECT_EQ(events, (std::vector<std::string>{
                          R"({"ms":7.000,"dir":"out","hex":"43 52 30 0D","ascii":"CR0\r"})",
                          R"({"ms":19.000,"dir":"in","hex":"38 30","ascii":"80"})",
                          R"({"ms":20.000,"dir":"in","hex":"0D","ascii":"\r"})",
                          R"({"ms":1020.000,"dir":"out","hex":"43 30 30 0D","ascii":"C00\r"})",
                          R"({"ms":1520.000,"event":"no reply","text":""})",
                      }));
    EXPECT_EQ(heard.said,
              "sent CR0\r|readout Stand by|received 80|readout Stand by|received \r|answered"
              "sent C00\r|unanswered");
    EXPECT_TRUE(log.good());
    rig.form.setObserver(nullptr);
}

TEST(LineLog, AStreamThatFailsIsToldByGood) {
    test::VirtualClock clock;
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    LineLog log(out, clock, {"pjpanel", "COM1", 19200});
    EXPECT_FALSE(log.good());
}

}  // namespace
}  // namespace pj
