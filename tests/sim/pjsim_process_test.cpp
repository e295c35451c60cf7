// SPDX-License-Identifier: Apache-2.0
// pjsim run as a process: what it refuses at start-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

struct Finished {
    int status;
    std::string output;  // standard output and error together
};

Finished pjsim(const std::vector<std::string>& args) {
    std::vector<std::string> all{PJ_SIM_BIN};
    all.insert(all.end(), args.begin(), args.end());
    const pj::test::Ran ran =
        pj::test::runToEnd(pj::test::Launch(all).output(pj::test::Stream::pipe()).errorsToOutput());
    return {ran.status, ran.out};
}

TEST(PjsimProcess, RefusesABadRecordingOrMismatchedOptionsWithOneLine) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pjsim-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string good = (dir / "good.jsonl").string();
    const std::string empty = (dir / "empty.jsonl").string();
    const std::string broken = (dir / "broken.jsonl").string();
    const std::string huge = (dir / "huge.jsonl").string();
    // A file past the bound, sparse: nothing of it is written to the disk.
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, 65 * 1024 * 1024);
    std::ofstream(good) << R"({"ms":1,"dir":"out","hex":"43 0D"})"
                           "\n";
    std::ofstream(empty) << R"({"log":"pjpanel line log","version":1})"
                            "\n";
    std::ofstream(broken) << R"({"ms":1,"dir":"out","hex":"43 0D"})"
                             "\n"
                             R"({"ms":)"
                             "\n";

    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases{
        {{"--replay", "/nonexistent/line.jsonl"},
         "pjsim: /nonexistent/line.jsonl: No such file or directory"},
        {{"--replay", empty}, "pjsim: " + empty + ": no \"out\" record"},
        {{"--replay", broken}, "pjsim: " + broken + ": line 2: not a JSON object"},
        // Not read to its end, whatever it is: a device, a directory, a file past the bound.
        {{"--replay", "/dev/zero"}, "pjsim: /dev/zero: not a regular file"},
        {{"--replay", dir.string()}, "pjsim: " + dir.string() + ": not a regular file"},
        {{"--replay", huge}, "pjsim: " + huge + ": larger than 67108864 bytes"},
        {{"--replay", good, "--delay", "5"}, "does not go with --delay"},
        {{"--address", "3", "--replay", good}, "does not go with --address"},
        {{"--projectors", "1,1"}, "--projectors needs"},
        {{"--projectors", "1,5"}, "--projectors needs"},
        {{"--projectors", "1,2", "--address", "2"}, "--address is for one projector"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Finished run = pjsim(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(run.output.rfind("pjsim: ", 0), 0u) << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
