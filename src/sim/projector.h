// SPDX-License-Identifier: Apache-2.0
#pragma once

// A simulated projector on the far end of the serial line: a pure model with no I/O, no
// threads and no clock of its own. Every call that depends on time is handed the current
// time; the line server passes the steady clock, tests pass a virtual one.
//
// What goes in:
//   Bytes as they arrive, in any pieces. A carriage return (13) ends a frame; line feeds (10)
//   are dropped wherever they appear. A frame that grows past kMaxFrame bytes without a
//   carriage return is discarded whole, up to and including its carriage return, and counted
//   in overflowCount(). Letter case does not matter anywhere in a frame ("cr0" is "CR0").
//
// Addressing (the first four characters of a frame):
//   "A001".."A004"  equal to settings().address: acted on and answered; another number:
//                   ignored entirely (no state change, no answer).
//   "AFFF"          acted on by every projector, answered by none.
//   anything else   no address: the whole frame is the command; acted on and answered.
//   A frame that is empty after its address is ignored and not answered.
//
// What comes out (each answer is queued, never written, see pollOutput()):
//   Status queries   the status text followed by a carriage return:
//                      CR0          power state code, two characters ("00" on, "80" standby,
//                                   "40" warming up, "20" cooling down, ...)
//                      CR1          input mode, one digit "1".."5"
//                      CR3          lamp hours, five digits ("01234")
//                      CR4          image orientation code ("11" normal, "10", "01", "00")
//                      CR6          the four temperatures in 24 characters, laid out as
//                                   "RRRRR  RRRR  RRRR   RRRR": the first reading 5 wide
//                                   (" 25.0"), the others 4 wide ("30.5"):
//                                   " 25.0  30.5  28.0   31.5"
//                      CR7          lamp code ("03" both lamps lit in two-lamp mode, "11"
//                                   lamp 1 lit in lamp-1 mode, "20" lamp 2 off, ...)
//                      CRA          "FF" when the lamps are off, "80" without input signal,
//                                   else "00".."03": video mute (1) plus audio mute (2)
//                      CR9          the free information text
//                      CR PRESSURE  the raw air-pressure reading ("512")
//   Other known commands   a single ACK (6), nothing else.
//   Unknown commands       "?" followed by a carriage return.
//
// Test behaviours (settings(), changeable at any time, apply to answers queued later):
//   replyDelay  an answer is due this long after the carriage return of its frame; answers
//               never overtake one another.
//   splitSize   answers go out in pieces of this many bytes, splitGap apart (0: whole); the
//               next answer starts no sooner than a gap after the last piece.
//   silent      commands are acted on but nothing is answered.
//   noise       these bytes go out in front of every answer; queueBytes()/queueGarbage() queue
//               bytes on their own at a chosen time.

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pj::sim {

using Millis = std::chrono::milliseconds;

inline constexpr char kAck = '\x06';
inline constexpr std::size_t kMaxFrame = 256;

enum class LampMode { Dual, Lamp1, Lamp2 };
enum class SignalType { Digital, Analog, Video, YPbPr, YCbCr, SVideo };
enum class Picture { Stand, Real, Cinema, Custom1, Custom2, Custom3, Custom4 };
enum class FanSpeed { Normal, Max };
enum class AvSize { Normal, Wide };

// A power state still under way: `code` takes over at `at`.
struct PowerChange {
    std::string code;
    Millis at;

    bool operator==(const PowerChange&) const = default;
};

struct ProjectorState {
    std::string power = "00";  // CR0 code
    std::optional<PowerChange> powerChange;
    int input = 1;  // 1..5
    std::array<SignalType, 3> signalTypes{SignalType::Analog, SignalType::Analog,
                                          SignalType::Video};
    bool signalPresent = true;
    bool noShow = false;
    bool shutterClosed = false;
    bool audioMute = false;
    LampMode lampMode = LampMode::Dual;
    std::array<bool, 2> lampFailed{};
    int lampHours = 1234;
    std::string orientation = "11";                              // CR4 code
    std::array<double, 4> temperatures{25.0, 30.5, 28.0, 31.5};  // degrees C, sensors 1..4
    int pressure = 512;                                          // raw sensor reading
    std::string info = "PJ-SIM VER1.00";                         // CR9 text
    Picture picture = Picture::Stand;
    FanSpeed fanSpeed = FanSpeed::Normal;
    AvSize avSize = AvSize::Normal;
    bool menu = false;
    bool freeze = false;
    // Lens and picture adjustments, each within -kAdjustLimit..kAdjustLimit.
    int zoom = 0;
    int focus = 0;
    int digitalZoom = 0;
    int keystoneV = 0;
    int keystoneH = 0;
    int shiftV = 0;
    int shiftH = 0;

    static constexpr int kAdjustLimit = 100;

    bool videoMute() const { return noShow || shutterClosed; }
    bool operator==(const ProjectorState&) const = default;
};

struct ProjectorSettings {
    int address = 1;  // 1..4
    Millis replyDelay{0};
    std::size_t splitSize = 0;
    Millis splitGap{20};
    bool silent = false;
    std::string noise;
    Millis warmUp{0};    // time in "40" after power-on from standby
    Millis coolDown{0};  // time in "20" after power-off
    bool record = true;  // keep every received frame in frames()
};

struct ReceivedFrame {
    Millis at;         // when its carriage return arrived
    std::string text;  // as received, without the carriage return
};

struct Outgoing {
    Millis due;
    std::string bytes;
};

class Projector {
  public:
    Projector() = default;
    explicit Projector(ProjectorSettings settings) : settings_(std::move(settings)) {}

    // Takes in bytes from the line and handles every frame they complete.
    void feed(std::string_view bytes, Millis now);

    // Completes a power change whose time has come. feed() does this itself.
    void advance(Millis now);

    // Removes and returns, in order, every queued byte due by `now`.
    std::string pollOutput(Millis now);
    // The same, piece by piece, each with the time it fell due.
    std::vector<Outgoing> takeOutput(Millis now);
    std::optional<Millis> nextDue() const;
    const std::vector<Outgoing>& pending() const { return pending_; }

    // Queues bytes that are not an answer to anything.
    void queueBytes(std::string bytes, Millis at);
    void queueGarbage(std::size_t count, Millis at);

    ProjectorState& state() { return state_; }
    const ProjectorState& state() const { return state_; }
    ProjectorSettings& settings() { return settings_; }
    const ProjectorSettings& settings() const { return settings_; }

    const std::vector<ReceivedFrame>& frames() const { return frames_; }
    std::size_t frameCount() const { return frameCount_; }
    std::size_t overflowCount() const { return overflowCount_; }
    void clearFrames() { frames_.clear(); }

    // Called for every complete frame, recorded or not, before it is handled.
    void setFrameObserver(std::function<void(const ReceivedFrame&)> observer) {
        observer_ = std::move(observer);
    }

    // Every command text the projector knows, queries included, in upper case.
    static std::vector<std::string_view> knownCommands();

  private:
    void handleFrame(std::string_view frame, Millis now);
    void queueAnswer(std::string answer, Millis now);
    void queue(Outgoing chunk);

    ProjectorState state_;
    ProjectorSettings settings_;
    std::string partial_;
    bool discarding_ = false;
    std::vector<ReceivedFrame> frames_;
    std::size_t frameCount_ = 0;
    std::size_t overflowCount_ = 0;
    std::vector<Outgoing> pending_;
    Millis answersDue_ = Millis::min();  // when the last answer queued goes out
    std::minstd_rand random_{12345};
    std::function<void(const ReceivedFrame&)> observer_;
};

}  // namespace pj::sim
