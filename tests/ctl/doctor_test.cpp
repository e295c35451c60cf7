// SPDX-License-Identifier: Apache-2.0
// pjctl doctor against the simulator on a pseudo-terminal: each line it may meet, each port
// it cannot use, and the rules that turn what it found into a verdict.
#include "ctl/doctor.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "sim/line_server.h"
#include "support/process.h"

namespace pj::ctl {
namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome pjctl(const std::vector<std::string>& args) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, in, out, err);
    return {status, out.str() + err.str()};
}

// The tries as letters, five a speed: Answer, Loopback, Silence, Garbage.
std::string pattern(const Findings& findings) {
    std::string letters;
    for (const ProbeTry& t : findings.tries) {
        if (!letters.empty() && t.address == "single") {
            letters += ' ';
        }
        letters += "ALSG"[static_cast<int>(t.result)];
    }
    return letters;
}

TEST(Doctor, TellsEachLineByItsTriesAndSaysWhatToDo) {
    struct Case {
        const char* line;
        sim::LineOptions options;
        sim::ProjectorSettings settings;
        std::string tries;  // at 19200, then at 9600 baud
        int exitStatus;
        std::string verdict;
    };
    sim::LineOptions loopback;
    loopback.loopback = true;
    sim::LineOptions strict;
    strict.strictBaud = true;
    sim::LineOptions strict9600 = strict;
    strict9600.baud = 9600;
    sim::LineOptions tcp;
    tcp.listenPort = 0;
    sim::ProjectorSettings silent;
    silent.silent = true;
    sim::ProjectorSettings noisy;
    noisy.noise = "\xF3\x9A";

    const Case cases[] = {
        {"answering", {}, {}, "AASSS AASSS", kExitOk, "a projector answers at 19200 and 9600 baud"},
        {"loopback plug", loopback, {}, "LLLLL LLLLL", kExitNoReply, "what was sent came back"},
        {"silent", {}, silent, "SSSSS SSSSS", kExitNoReply, "silence"},
        {"at 9600 only", strict9600, {}, "GGGGG AASSS", kExitOk, "answers at 9600 baud only"},
        {"at 19200 only", strict, {}, "AASSS GGGGG", kExitOk, "a projector answers at 19200 baud"},
        // A device server sets the speed: one round of addresses.
        {"over TCP", tcp, {}, "AASSS", kExitOk, "a projector answers at 19200 baud"},
        {"noise", {}, noisy, "GGSSS GGSSS", kExitNoReply, "bytes came back, but never a status"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        sim::LineServer server(c.options, sim::Projector(c.settings));
        ASSERT_FALSE(server.start());
        const auto start = std::chrono::steady_clock::now();
        const std::optional<Findings> findings = examinePort(server.path());
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(findings);
        EXPECT_EQ(findings->problem, PortProblem::None) << findings->reason;
        EXPECT_EQ(pattern(*findings), c.tries);
        const Verdict verdict = judge(*findings);
        EXPECT_EQ(verdict.exitStatus, c.exitStatus);
        EXPECT_NE(verdict.text.find(c.verdict), std::string::npos) << verdict.text;
        // Ten tries cost at most their ten reply windows of 0.5 s; a doctor that waits
        // longer than that for each try, however busy the machine, is at fault.
        EXPECT_LT(took, std::chrono::milliseconds(3 * 10 * 500));
    }
}

TEST(Doctor, MeasuresTheLatencyOfEachAnsweringAddress) {
    constexpr int kDelayMs = 120;
    sim::ProjectorSettings settings;
    settings.address = 2;
    settings.replyDelay = sim::Millis{kDelayMs};
    sim::LineServer server({}, sim::Projector(settings));
    ASSERT_FALSE(server.start());
    const std::optional<Findings> findings = examinePort(server.path());
    ASSERT_TRUE(findings);
    ASSERT_EQ(pattern(*findings), "ASASS ASASS");
    for (const ProbeTry& t : findings->tries) {
        if (t.result == TryResult::Answer) {
            // The simulator counts whole milliseconds: it may answer up to one early.
            EXPECT_GE(t.ms, kDelayMs - 1.0);
            EXPECT_LT(t.ms, 500.0);  // inside the reply window
        }
    }
    std::ostringstream out;
    std::ostringstream err;
    Request request;
    request.port = server.path();
    EXPECT_EQ(doctor(request, out, err), kExitOk);
    EXPECT_NE(out.str().find("Latency:  no address "), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(" ms at 19200, address 2 "), std::string::npos) << out.str();
}

TEST(Doctor, APortThatCannotBeUsedIsExplainedAndExitsWithThePortError) {
    const Outcome missing = pjctl({"--port", "/nonexistent/ttyUSB9", "doctor"});
    EXPECT_EQ(missing.status, kExitPortError);
    EXPECT_NE(missing.out.find("Verdict:  /nonexistent/ttyUSB9 does not exist"), std::string::npos)
        << missing.out;
    EXPECT_NE(missing.out.find("name one of the serial ports of this machine: "),
              std::string::npos);
    const Outcome json = pjctl({"--json", "--port", "/nonexistent/ttyUSB9", "doctor"});
    EXPECT_EQ(json.status, kExitPortError);
    EXPECT_NE(json.out.find(R"("problem":"missing")"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(R"("exit":3})"), std::string::npos) << json.out;

    // Held by this process, as another program holds a line: with the lock the panel takes.
    sim::LineServer server(sim::LineOptions{});
    ASSERT_FALSE(server.start());
    const int held = ::open(server.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const Outcome inUse = pjctl({"--port", server.path(), "doctor"});
    const Outcome inUseJson = pjctl({"--json", "--port", server.path(), "doctor"});
    ::close(held);
    EXPECT_EQ(inUse.status, kExitPortError);
    const std::string pid = std::to_string(::getpid());
    EXPECT_NE(inUse.out.find("is in use by pid " + pid + " ("), std::string::npos) << inUse.out;
    EXPECT_NE(inUseJson.out.find(R"("holders":[{"pid":)" + pid + ","), std::string::npos)
        << inUseJson.out;
    // Let go, the same port answers.
    EXPECT_EQ(pjctl({"--port", server.path(), "doctor"}).status, kExitOk);
}

// A copy of pjctl that any user can start: the build tree may lie in a folder that only its
// owner may enter. Removed with its folder when it goes.
class ReachableCopy {
  public:
    ReachableCopy() {
        char folder[] = "/tmp/pjctl-doctor-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            return;
        }
        folder_ = folder;
        const std::filesystem::path copy = folder_ / "pjctl";
        std::error_code failed;
        std::filesystem::copy_file(PJ_CTL_BIN, copy, failed);
        if (!failed && ::chmod(folder, 0755) == 0 && ::chmod(copy.c_str(), 0755) == 0) {
            path_ = copy.string();
        }
    }
    ~ReachableCopy() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    ReachableCopy(const ReachableCopy&) = delete;
    ReachableCopy& operator=(const ReachableCopy&) = delete;

    // Empty when the copy could not be made.
    const std::string& path() const { return path_; }

  private:
    std::filesystem::path folder_;
    std::string path_;
};

// The doctor as a process of a user who may not open the device.
Outcome doctorAsNobody(const std::string& port) {
    const ReachableCopy program;
    if (program.path().empty()) {
        return {-1, "pjctl could not be copied where another user can start it"};
    }
    pj::test::Process doctor(pj::test::Launch({program.path(), "--port", port, "doctor"})
                                 .output(pj::test::Stream::pipe())
                                 .errorsToOutput()
                                 .asUser(65534));
    std::string text = doctor.readOutToEnd();
    return {doctor.wait(), std::move(text)};
}

TEST(Doctor, NoPermissionNamesTheGroupTheUserAndTheRemedy) {
    sim::LineServer server(sim::LineOptions{});
    ASSERT_FALSE(server.start());
    const std::string port = server.path();
    if (::geteuid() == 0) {
        // As on a Debian machine: the device is root's and the group dialout's, and the user
        // is not in the group.
        const ::group* dialout = ::getgrnam("dialout");
        ASSERT_NE(dialout, nullptr);
        ASSERT_EQ(::chown(port.c_str(), 0, dialout->gr_gid), 0);
        ASSERT_EQ(::chmod(port.c_str(), 0660), 0);
        const ::passwd* nobody = ::getpwuid(65534);
        ASSERT_NE(nobody, nullptr);
        const std::string user = nobody->pw_name;
        const Outcome denied = doctorAsNobody(port);
        EXPECT_EQ(denied.status, kExitPortError) << denied.out;
        EXPECT_NE(denied.out.find("no permission to open " + port +
                                  ": it belongs to group dialout, and " + user + " is not in it"),
                  std::string::npos)
            << denied.out;
        EXPECT_NE(denied.out.find("sudo usermod -aG dialout " + user + ", then log in again"),
                  std::string::npos)
            << denied.out;
    } else {
        ASSERT_EQ(::chmod(port.c_str(), 0), 0);
        const Outcome denied = pjctl({"--port", port, "doctor"});
        EXPECT_EQ(denied.status, kExitPortError);
        EXPECT_NE(denied.out.find("no permission to open " + port + " (mode 0000"),
                  std::string::npos)
            << denied.out;
    }
}

TEST(Doctor, RulesForWhatOneProjectorOnTheLineCannotShow) {
    const auto tries = [](std::string_view letters) {
        Findings f;
        f.port = "/dev/ttyUSB0";
        constexpr std::array<std::string_view, 5> kAddresses{"single", "1", "2", "3", "4"};
        std::size_t i = 0;
        for (const char c : letters) {
            if (c == ' ') {
                continue;
            }
            ProbeTry t;
            t.baud = i < 5 ? 19200 : 9600;
            t.address = kAddresses[i++ % 5];
            t.result = c == 'A'   ? TryResult::Answer
                       : c == 'G' ? TryResult::Garbage
                                  : TryResult::Silence;
            f.tries.push_back(t);
        }
        return f;
    };
    Findings relogin;
    relogin.port = "/dev/ttyUSB0";
    relogin.problem = PortProblem::NoPermission;
    relogin.group = "dialout";
    relogin.user = "tech";
    relogin.mode = 020660;
    relogin.inGroupListed = true;
    Findings unseen;
    unseen.port = "/dev/ttyUSB0";
    unseen.problem = PortProblem::InUse;

    struct Case {
        Findings findings;
        int exitStatus;
        std::string verdict;
        std::string next;
    };
    const Case cases[] = {
        {tries("GASAS GGGGG"), kExitOk,
         "projectors answer at addresses 1 and 3; frames without an address collide",
         "send with an address"},
        {tries("SSASS SSSSS"), kExitOk, "answers at address 2 only", "--address 2"},
        {tries("SSSSS SASSS"), kExitOk, "answers at 9600 baud only; answers at address 1 only",
         "choose 9600"},
        {relogin, kExitPortError, "tech is in group dialout, but this login began before",
         "log in again"},
        {unseen, kExitPortError, "in use by another program", "end that program"},
    };
    for (const Case& c : cases) {
        const Verdict verdict = judge(c.findings);
        SCOPED_TRACE(verdict.text);
        EXPECT_EQ(verdict.exitStatus, c.exitStatus);
        EXPECT_NE(verdict.text.find(c.verdict), std::string::npos);
        EXPECT_NE(verdict.next.find(c.next), std::string::npos) << verdict.next;
    }
}

TEST(Doctor, ClassifiesAnAnswerAndAdvisesOnAnFtdiLatencyTimer) {
    struct Try {
        std::string frame;
        std::optional<std::string> reply;
        std::optional<std::string> readout;
        TryResult result;
    };
    const Try kTries[] = {
        {"CR0\r", "00\r", " Power ON", TryResult::Answer},
        {"A001CR0\r", "A001CR0\r", std::nullopt, TryResult::Loopback},
        {"CR0\r", "CR0\r00\r", std::nullopt, TryResult::Loopback},
        {"CR0\r", "?\r", std::nullopt, TryResult::Garbage},
        {"CR0\r", "\xF0\xF3\r", std::nullopt, TryResult::Garbage},
        {"CR0\r", std::nullopt, std::nullopt, TryResult::Silence},
    };
    for (const Try& t : kTries) {
        EXPECT_EQ(classify(t.frame, t.reply, t.readout), t.result) << t.reply.value_or("none");
    }

    struct Adapter {
        std::string driver;
        std::optional<int> latency;
        bool advised;
    };
    const Adapter kAdapters[] = {
        {"ftdi_sio", 16, true},
        {"ftdi_sio", 1, false},
        {"ftdi_sio", std::nullopt, false},
        {"pl2303", 16, false},
    };
    for (const Adapter& a : kAdapters) {
        SerialPortFacts facts;
        facts.device = "/dev/ttyUSB3";
        facts.driver = a.driver;
        facts.latencyTimerMs = a.latency;
        const std::optional<std::string> advice = latencyAdvice(facts);
        ASSERT_EQ(advice.has_value(), a.advised) << a.driver;
        if (advice) {
            EXPECT_NE(advice->find(kFtdiLatencyRule), std::string::npos);
            EXPECT_NE(advice->find("/sys/bus/usb-serial/devices/ttyUSB3/latency_timer"),
                      std::string::npos);
        }
    }
}

}  // namespace
}  // namespace pj::ctl
