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
#include "status/queries.h"
#include "support/fakes.h"

namespace pj::ctl {
namespace {

struct Row {
    std::string_view query;  // as given to pjctl: a name or the command text
    std::string reply;
    std::string_view readout;  // what both must show; empty: the readout stays empty
};

const Row kRows[] = {
    {"status", "00\r", " Power ON"},
    {"CR0", "80\r", " Stand by"},
    {"status", "99\r", ""},
    {"mode", "33\r", " Input mode 3"},
    {"lamp-time", "01234\r", " 0 1 2 3 4 CR  Hour Use"},
    {"setting", "10\r", " Top/Bottom reversal"},
    {"temp", " 25.0  30.5  28.0   31.5\r",
     "  S1=   2 5 . 0 C  ,   S2=  3 0 . 5 C  ,   S3= 2 8 . 0  C  ,   S4=  3 1 . 5 C "},
    {"temp", "12345\r", "  S1= 1 2 3 4 5 C  ,   S2=  C  ,   S3=  C  ,   S4=  C "},
    {"lamp-mode", "03\r", " No1,2 ON  : 2 Lamp mode"},
    {"mute", "FF\r", " Stand by"},
    {"CRA", "\x06", ""},
    {"raw", "PJ\x06\x14?\xC3\n\r", " P J ACK &? ? LF CR "},
    // Longer than the receive buffer: both keep only the newest characters.
    {"raw", std::string(1100, 'A') + "Z\r", ""},
    {"pressure", "512\r", "650 hPa"},
    {"CR PRESSURE", "512.5\r", "650 hPa"},
    {"pressure", "?\r", "106 hPa"},
    {"pressure", "70000\r", ""},  // outside the conversion's range: left as it was
};

TEST(DecodeAgreesWithTheWindow, ForEveryQuery) {
    std::set<std::string_view> covered;
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.query) + " <- " + row.reply.substr(0, 40));
        const NamedQuery* query = findQuery(row.query);
        ASSERT_NE(query, nullptr);
        covered.insert(query->command);

        test::Rig rig;
        rig.load();
        const auto button =
            std::find_if(kQueryButtons.begin(), kQueryButtons.end(),
                         [&](const QueryButton& b) { return b.command == query->command; });
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
    }
    EXPECT_EQ(covered.size(), kNamedQueries.size());
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
