// SPDX-License-Identifier: Apache-2.0
#include "ctl/options.h"

#include <gtest/gtest.h>

namespace pj::ctl {
namespace {

struct Bad {
    std::vector<std::string> args;
    std::string_view says;  // a part of the one-line message
};

TEST(Arguments, MistakesAreRefusedWithAMessageThatNamesThem) {
    const Bad cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command"},
        {{"--speed", "9600", "ports"}, "unknown option --speed"},
        {{"send"}, "send takes one operand"},
        {{"send", "C00", "C01"}, "send takes one operand"},
        {{"ports", "x"}, "ports takes no operand"},
        {{"query", "cr0"}, "unknown query \"cr0\""},
        {{"decode", "CR2"}, "unknown query"},
        {{"--baud", "4800", "send", "C00"}, "--baud must be 19200 or 9600"},
        {{"--address", "5", "send", "C00"}, "--address must be"},
        {{"--port", "", "send", "C00"}, "--port needs"},
        {{"send", "C00", "--port"}, "--port needs a value"},
        {{"--port", "a", "--port", "b", "send", "C00"}, "given twice"},
        {{"--json", "--json=1", "send", "C00"}, "--json takes no value"},
        {{"--json", "hold", "C47", "--for", "10", "--every", "5"}, "--json does not apply to hold"},
        {{"--port", "/dev/ttyS0", "decode", "CR0"}, "--port does not apply to decode"},
        {{"--every", "5", "send", "C00"}, "--every does not apply to send"},
        {{"hold", "C47", "--every", "5"}, "hold needs --for"},
        {{"hold", "C47", "--for", "0", "--every", "5"}, "--for must be"},
        {{"hold", "C47", "--for", "100", "--every", "5ms"}, "--every must be"},
        {{"send", "C\xC3\xA9"}, "ASCII characters only"},
        {{"send", "C00\rC01"}, "carriage return"},
        {{"send", "C00\n"}, "carriage return or line feed"},
        // A tcp:// or unix: name is checked here, before anything is opened.
        {{"--port", "tcp://pj:notaport", "send", "C00"}, "is not a network port"},
        {{"--port", "tcp://pj:+4001", "query", "status"}, "no port number (1 to 65535)"},
        {{"--port", "tcp://:4001", "hold", "C47", "--for", "9", "--every", "5"}, "host is missing"},
        {{"--port", "unix:", "send", "C00"},
         "is not a local socket (unix:/PATH): the path is missing"},
        {{"--port", "unix:line.sock", "send", "C00"}, "the path must be absolute"},
        // What the user typed is quoted with its control characters shown.
        {{"frobnicate\n"}, "unknown command \"frobnicate\\n\""},
        {{"--sp\reed", "ports"}, "unknown option --sp\\reed"},
        {{"query", "lamp\r\x01\x7F"}, "unknown query \"lamp\\r\\x01\\x7F\""},
        {{"--port", "tcp://pj\t:4001\n", "send", "C00"}, "\"tcp://pj\\t:4001\\n\" is not"},
        // Automation and the whole line.
        {{"--timeout", "0", "send", "C00"}, "--timeout must be 1 to 60000"},
        {{"--timeout", "60001", "query", "status"}, "--timeout must be"},
        {{"--gap", "-1", "send", "C00"}, "--gap must be 0 to 60000"},
        {{"--gap", "10", "hold", "C47", "--for", "9", "--every", "5"}, "--gap does not apply"},
        {{"--log", "", "send", "C00"}, "--log needs a file"},
        {{"--log", "x", "decode", "CR0"}, "--log does not apply to decode"},
        {{"--all", "send", "C00"}, "--all does not apply to send"},
        {{"--all", "--address", "1", "status"}, "does not go with --address"},
        {{"--confirm", "send", "C00"}, "give --address all"},
        {{"--address", "all", "--confirm=1,1", "send", "C00"}, "--confirm=LIST takes"},
        {{"--address", "all", "--confirm=5", "send", "C00"}, "--confirm=LIST takes"},
        {{"--address", "all", "--confirm=", "send", "C00"}, "--confirm=LIST takes"},
        {{"--address", "all", "--confirm", "query", "status"}, "--confirm does not apply"},
        {{"run"}, "run takes one operand"},
        {{"status", "1"}, "status takes no operand"},
        // Commands by name: one not known is refused with the nearest names.
        {{"send", "power.of"}, "unknown command name \"power.of\": did you mean power.off"},
        {{"hold", "zoom.inn", "--for", "9", "--every", "5"}, "did you mean zoom.in"},
        {{"commands", "power"}, "commands takes no operand"},
        {{"--port", "/dev/ttyS0", "commands"}, "--port does not apply to commands"},
    };
    for (const Bad& bad : cases) {
        std::string error;
        std::string line;
        for (const auto& a : bad.args) {
            line += "[" + a + "]";
        }
        SCOPED_TRACE(line);
        EXPECT_FALSE(parseArguments(bad.args, error));
        EXPECT_NE(error.find(bad.says), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(Arguments, OptionsGoAnywhereAndTextMayFollowADoubleDash) {
    std::string error;
    const auto hold = parseArguments({"hold", "--every=105", "--address", "ALL", "C47", "--for",
                                      "1000", "--port", "tcp://pj:4001", "--baud", "9600"},
                                     error);
    ASSERT_TRUE(hold) << error;
    EXPECT_EQ(hold->verb, Verb::Hold);
    EXPECT_EQ(hold->text, "C47");
    EXPECT_EQ(hold->holdForMs, 1000);
    EXPECT_EQ(hold->holdEveryMs, 105);
    EXPECT_EQ(hold->address->number, kEveryAddress);
    EXPECT_EQ(hold->port, "tcp://pj:4001");
    EXPECT_EQ(hold->baud, 9600);

    const auto send = parseArguments({"send", "--", "-1"}, error);
    ASSERT_TRUE(send) << error;
    EXPECT_EQ(send->text, "-1");
    EXPECT_EQ(send->address->number, kNoAddress);

    const auto query = parseArguments({"--json", "query", "CR PRESSURE"}, error);
    ASSERT_TRUE(query) << error;
    EXPECT_EQ(query->query->shortName, "pressure");
    EXPECT_TRUE(query->json);

    const auto confirmAll = parseArguments({"--address", "all", "--confirm", "send", "C01"}, error);
    ASSERT_TRUE(confirmAll) << error;
    EXPECT_EQ(confirmAll->confirm, (std::vector<int>{1, 2, 3, 4}));
    const auto confirmSome =
        parseArguments({"send", "C01", "--confirm=3,1", "--address", "all"}, error);
    ASSERT_TRUE(confirmSome) << error;
    EXPECT_EQ(confirmSome->confirm, (std::vector<int>{3, 1}));

    const auto run = parseArguments(
        {"--timeout", "100", "--gap", "0", "--log", "night.jsonl", "run", "-"}, error);
    ASSERT_TRUE(run) << error;
    EXPECT_EQ(run->verb, Verb::Run);
    EXPECT_EQ(run->file, "-");
    EXPECT_EQ(run->timeoutMs, 100);
    EXPECT_EQ(run->gapMs, 0);
    EXPECT_EQ(run->logPath, "night.jsonl");

    const auto named = parseArguments({"send", "input.2.rgb"}, error);
    ASSERT_TRUE(named) << error;
    ASSERT_NE(named->command, nullptr);
    EXPECT_EQ(named->command->name, "input.2.rgb");
    EXPECT_EQ(named->text, "CF INPUT2 ANALOG");

    const auto help = parseArguments({"query", "--help"}, error);
    ASSERT_TRUE(help);
    EXPECT_EQ(help->verb, Verb::Help);
}

}  // namespace
}  // namespace pj::ctl
