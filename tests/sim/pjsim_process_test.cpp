// SPDX-License-Identifier: Apache-2.0
// pjsim run as a process: what it refuses at start-up.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Finished {
    int status;
    std::string output;  // standard output and error together
};

Finished pjsim(const std::vector<std::string>& args) {
    std::string command = PJ_SIM_BIN;
    for (const std::string& a : args) {
        command += " '" + a + "'";
    }
    command += " 2>&1 </dev/null";
    Finished run{-1, {}};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[256];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(PjsimProcess, RefusesABadRecordingOrMismatchedOptionsWithOneLine) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pjsim-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string good = (dir / "good.jsonl").string();
    const std::string empty = (dir / "empty.jsonl").string();
    const std::string broken = (dir / "broken.jsonl").string();
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
