// SPDX-License-Identifier: Apache-2.0
#include "sim/replay.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace pj::sim {
namespace {

using namespace std::chrono_literals;

// Three exchanges, as a writer lays them out: a header, an answer before any frame, a reply
// in two pieces, an event between records.
constexpr std::string_view kLog =
    R"({"log":"pjpanel line log","version":1,"program":"pjctl","port":"/dev/pts/3","baud":19200}
{"ms":0.412,"dir":"in","hex":"39 39 0D","ascii":"99\r"}
{"ms":10.000,"dir":"out","hex":"43 52 30 0D","ascii":"CR0\r"}
{"ms":13.120,"dir":"in","hex":"30 30","ascii":"00"}
{"ms":30.000,"dir":"in","hex":"0D","ascii":"\r"}
{"ms":50.000,"event":"port error","text":"COM1 lost: the device went away"}
{"ms":100.000,"dir":"out","hex":"43 30 30 0D","ascii":"C00\r"}
{"ms":180.000,"dir":"in","hex":"06","ascii":"\u0006"}
{"ms":200.000,"dir":"out","hex":"43 52 30 0D","ascii":"CR0\r"}
{"ms":201.000,"dir":"in","hex":"38 30 0D","ascii":"80\r"}
)";

Replay replayOf(std::string_view log) {
    ReadRecording read = parseRecording(log);
    EXPECT_EQ(read.error, "");
    return Replay(std::move(read.recording));
}

TEST(ReplayReading, KeepsEachFrameWithItsAnswerPiecesAndTheirOffsets) {
    const ReadRecording read = parseRecording(kLog);
    ASSERT_EQ(read.error, "");
    const auto& e = read.recording.exchanges;
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].frame, "CR0\r");
    ASSERT_EQ(e[0].answer.size(), 2u);
    EXPECT_EQ(e[0].answer[0].due, 4ms) << "3.120 ms is never answered sooner";
    EXPECT_EQ(e[0].answer[0].bytes, "00");
    EXPECT_EQ(e[0].answer[1].due, 20ms);
    ASSERT_EQ(e[1].answer.size(), 1u);
    EXPECT_EQ(e[1].answer[0].due, 80ms);
    EXPECT_EQ(e[1].answer[0].bytes, "\x06");
}

struct MalformedCase {
    std::string log;
    std::string error;
};

TEST(ReplayReading, NamesTheLineOfWhatItCannotRead) {
    const std::string frame = R"({"ms":1,"dir":"out","hex":"43 0D"})";
    const std::vector<MalformedCase> cases{
        {"", "no \"out\" record"},
        {R"({"log":"pjpanel line log"})"
         "\n"
         R"({"ms":1,"dir":"in","hex":"06"})",
         "no \"out\" record"},
        {frame + "\nnot json\n", "line 2: not a JSON object"},
        {frame + " x", "line 1: not a JSON object"},
        {R"({"ms":1,"dir":"out","hex":"43 0D")", "line 1: not a JSON object"},
        {R"({"ms":1,"dir":"out","hex":"\q"})", "line 1: not a JSON object"},
        {R"({"dir":"out","hex":"43 0D"})", "line 1: \"ms\" is missing"},
        {R"({"ms":"1","dir":"out","hex":"43 0D"})", "line 1: \"ms\" is missing"},
        {R"({"ms":-1,"dir":"out","hex":"43 0D"})", "line 1: \"ms\" is missing"},
        {frame + "\n" + R"({"ms":1e300,"dir":"in","hex":"06"})", "line 2: \"ms\" is missing"},
        {R"({"ms":1,"dir":3,"hex":"43 0D"})", "line 1: \"dir\" is not a string"},
        {R"({"ms":1,"dir":"out"})", "line 1: \"hex\" is missing"},
        {R"({"ms":1,"dir":"out","hex":"430D"})", "line 1: \"hex\""},
        {R"({"ms":1,"dir":"out","hex":"43 0D "})", "line 1: \"hex\""},
        {R"({"ms":1,"dir":"out","hex":"4G 0D"})", "line 1: \"hex\""},
        {R"({"ms":1,"dir":"out","hex":"43 52"})", "line 1: an \"out\" frame must end"},
        {R"({"ms":1,"dir":"out","hex":"0D 43 0D"})", "line 1: an \"out\" frame must end"},
        {"\n\n" + frame + "\n" + R"({"ms":0.5,"dir":"in","hex":"06"})",
         "line 4: \"ms\" is earlier"},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.log);
        const ReadRecording read = parseRecording(c.log);
        EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
        EXPECT_TRUE(read.recording.exchanges.empty());
    }
}

TEST(ReplayReading, PassesOverWhatItDoesNotKnow) {
    const std::string log =
        "{\"log\":\"x\",\"extra\":{\"nested\":[1,2,{\"a\":null}],\"b\":true}}\r\n"
        "  \r\n"
        "{\"ms\":1e1,\"dir\":\"note\",\"hex\":\"zz\"}\r\n"
        "{\"ms\":2,\"dir\":\"out\",\"hex\":\"43 0d\",\"ascii\":\"C\\r\\u00ff\\\"\",\"x\":[]}\r\n"
        "{\"ms\":2.5,\"dir\":\"in\",\"hex\":\"\"}\r\n"
        "{ \"dir\" : \"in\" , \"ms\" : 3.25 , \"hex\" : \"3F 0D\" }\r\n";
    const ReadRecording read = parseRecording(log);
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.recording.exchanges.size(), 1u);
    const RecordedExchange& e = read.recording.exchanges[0];
    EXPECT_EQ(e.frame, "C\r");
    ASSERT_EQ(e.answer.size(), 1u) << "an empty arrival is no piece";
    EXPECT_EQ(e.answer[0].due, 2ms);
    EXPECT_EQ(e.answer[0].bytes, "?\r");
}

TEST(ReplayReading, AFileThatCannotBeReadSaysWhy) {
    const ReadRecording read = loadRecording("/nonexistent/line.jsonl");
    EXPECT_EQ(read.error, "/nonexistent/line.jsonl: No such file or directory");
}

struct MatchCase {
    std::string name;
    std::vector<std::string> frames;
    std::vector<std::string> answers;  // what the line carries after each frame
    std::vector<std::string> unmatched;
};

TEST(ReplayMatching, EachFrameTakesTheNextUnusedRecordedOneWithTheSameBytes) {
    const std::string ack(1, kAck);
    const std::vector<MatchCase> cases{
        {"in order", {"CR0\r", "C00\r", "CR0\r"}, {"00\r", ack, "80\r"}, {}},
        {"used up", {"CR0\r", "CR0\r", "CR0\r"}, {"00\r", "80\r", ""}, {"CR0"}},
        {"wraps around", {"C00\r", "CR0\r", "CR0\r"}, {ack, "80\r", "00\r"}, {}},
        {"not recorded", {"XYZ\r", "cr0\r", "CR0\r"}, {"", "", "00\r"}, {"XYZ", "cr0"}},
        {"in pieces", {"C", "R0\r"}, {"", "00\r"}, {}},
        {"longer than any", {"CR0CR0CR0\r", "CR0\r"}, {"", "00\r"}, {"CR0C..."}},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        Replay replay = replayOf(kLog);
        std::vector<std::string> unmatched;
        replay.setUnmatchedObserver([&](std::string_view f) { unmatched.emplace_back(f); });
        Millis now = 0ms;
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            replay.feed(c.frames[i], now);
            now += 1000ms;
            EXPECT_EQ(replay.pollOutput(now), c.answers[i]) << "after " << c.frames[i];
        }
        EXPECT_EQ(unmatched, c.unmatched);
    }
}

TEST(ReplayTiming, EachPieceIsDueItsRecordedOffsetAfterTheFramesCarriageReturn) {
    Replay replay = replayOf(kLog);
    replay.feed("CR", 500ms);
    EXPECT_FALSE(replay.nextDue().has_value());
    replay.feed("0\r", 600ms);
    replay.feed("C00\r", 610ms);  // before the first answer is out: both run on their own
    const std::vector<std::pair<Millis, std::string>> line{
        {604ms, "00"}, {620ms, "\r"}, {690ms, "\x06"}};
    for (const auto& [due, bytes] : line) {
        EXPECT_EQ(replay.nextDue(), due);
        EXPECT_EQ(replay.pollOutput(due - 1ms), "");
        EXPECT_EQ(replay.pollOutput(due), bytes);
    }
    EXPECT_FALSE(replay.nextDue().has_value());
    ASSERT_EQ(replay.frames().size(), 2u);
    EXPECT_EQ(replay.frames()[0].text, "CR0");
    EXPECT_EQ(replay.frames()[0].at, 600ms);
    EXPECT_EQ(replay.usedCount(), 2u);
}

}  // namespace
}  // namespace pj::sim
