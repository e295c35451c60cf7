// SPDX-License-Identifier: Apache-2.0
// pjctl's "decode" against the window: the same answer, taken in by the core through its
// receive event after the query went out the window's way, shows the same RXD and STATUS
// lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "ctl/ctl.h"
#include "ctl/options.h"
#include "protocol/catalogue.h"
#include "status/queries.h"
#include "status/value_json.h"
#include "support/fakes.h"

namespace pj::ctl {
namespace {

struct Row {
    std::string_view query;  // as given to pjctl: a name or the command text
    std::string reply;
    std::string_view readout;  // what both must show; empty: the readout stays empty
    std::string_view value;    // the reply's value as its JSON fields
};

// Each row: the readout the window shows and the value the same reply gives.
const Row kRows[] = {
    {"status", "00\r", " Power ON", R"({"power":"on","operating_state":"on"})"},
    {"CR0", "80\r", " Stand by", R"({"power":"off","operating_state":"standby"})"},
    {"status", "40\r", " Count down", R"({"power":"warming","operating_state":"warming"})"},
    {"status.operating", "28\r", " Temperature Warning & cooling down",
     R"({"power":"cooling","operating_state":"temperature_warning_cooling"})"},
    {"status", "81\r", " Cooling down & sutandby (All Lamp FAIL)",
     R"({"power":"off","operating_state":"lamp_failure_standby"})"},
    {"status", "10\r", " Power Fail", R"({"power":"fault","operating_state":"power_failure"})"},
    {"status", "99\r", "", "{}"},
    {"mode", "33\r", " Input mode 3", R"({"input":3})"},
    {"status.input", "5\r", " Input mode 5", R"({"input":5})"},
    {"lamp-time", "01234\r", " 0 1 2 3 4 CR  Hour Use", R"({"lamp_hours":1234})"},
    {"lamp-time", "\r", " CR  Hour Use", "{}"},
    {"setting", "10\r", " Top/Bottom reversal", R"({"orientation":"top_bottom"})"},
    {"setting", "11\r", " Normally", R"({"orientation":"normal"})"},
    {"temp", " 25.0  30.5  28.0   31.5\r",
     "  S1=   2 5 . 0 C  ,   S2=  3 0 . 5 C  ,   S3= 2 8 . 0  C  ,   S4=  3 1 . 5 C ",
     R"({"temperatures":{"s1":25.0,"s2":30.5,"s3":28.0,"s4":31.5}})"},
    {"temp", "12345\r", "  S1= 1 2 3 4 5 C  ,   S2=  C  ,   S3=  C  ,   S4=  C ",
     R"({"temperatures":{"s1":12345.0,"s2":null,"s3":null,"s4":null}})"},
    {"lamp-mode", "03\r", " No1,2 ON  : 2 Lamp mode",
     R"({"lamps":[true,true],"lamp_mode":"dual"})"},
    {"lamp-mode", "22\r", " No2 ON  : 1 Lamp mode(No2 USE)",
     R"({"lamps":[false,true],"lamp_mode":"lamp2"})"},
    {"mute", "FF\r", " Stand by", R"({"video_mute":null,"audio_mute":null,"signal":"standby"})"},
    {"mute", "01\r", " Video mute ON",
     R"({"video_mute":true,"audio_mute":false,"signal":"present"})"},
    {"mute", "80\r", " No signal", R"({"video_mute":null,"audio_mute":null,"signal":"none"})"},
    {"CRA", "\x06", "", "{}"},
    {"raw", "PJ\x06\x14?\xC3\n\r", " P J ACK &? ? LF CR ", "{}"},
    // Longer than the receive buffer: both keep only the newest characters.
    {"raw", std::string(1100, 'A') + "Z\r", "", "{}"},
    {"pressure", "512\r", "650 hPa", R"({"pressure_hpa":650})"},
    {"CR PRESSURE", "512.5\r", "650 hPa", R"({"pressure_hpa":650})"},
    {"pressure", "?\r", "106 hPa", R"({"pressure_hpa":106})"},
    {"pressure", "70000\r", "", "{}"},  // outside the conversion's range: left as it was
};

TEST(DecodeAgreesWithTheWindow, ForEveryQuery) {
    std::set<std::string_view> covered;
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.query) + " <- " + row.reply.substr(0, 40));
        const StatusQuery* query = findQuery(row.query);
        ASSERT_NE(query, nullptr);
        covered.insert(query->command);

        test::Rig rig;
        rig.load();
        const auto button =
            std::find_if(kQueryButtons.begin(), kQueryButtons.end(),
                         [&](const QueryButton& b) { return b.query == query->name; });
        if (button != kQueryButtons.end()) {
            rig.form.Click(button->control);
        } else {
            rig.type(query->command);
            rig.form.Click(ControlId::Command95);
        }
        ASSERT_EQ(rig.serial.wire(), std::string(query->command) + "\r");
        rig.serial.arrive(row.reply);

        const Decoded decoded = decodeReply(*query, row.reply);
        EXPECT_EQ(decoded.echo, rig.label(ControlId::Label12));
        EXPECT_EQ(decoded.readout.value_or(""), rig.label(ControlId::Label22));
        if (!row.readout.empty()) {
            EXPECT_EQ(decoded.readout.value_or(""), row.readout);
        }
        nlohmann::ordered_json fields = nlohmann::ordered_json::object();
        addValueFields(fields, decoded.value);
        EXPECT_EQ(fields.dump(), row.value);
    }
    EXPECT_EQ(covered.size(), kStatusQueries.size());
}

TEST(DecodeAgreesWithTheWindow, NothingReceivedIsTheNoReplyMark) {
    test::Rig rig;
    rig.load();
    rig.form.Click(ControlId::Command44);
    rig.clock.advance(600);
    const Decoded decoded = decodeReply(*findQuery("status"), "");
    EXPECT_EQ(decoded.echo, rig.label(ControlId::Label12));
    EXPECT_FALSE(decoded.readout);
}

TEST(JsonString, EscapesEveryByteOutsidePrintableAscii) {
    EXPECT_EQ(jsonString(std::string("a\"\\\r\n\t\x06\x7F\xC3 z", 12)),
              R"("a\"\\\r\n\t\u0006\u007F\u00C3 z\u0000")");
}

}  // namespace
}  // namespace pj::ctl
