// SPDX-License-Identifier: Apache-2.0
#include "sim/projector.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace pj::sim {

namespace {

// What each power code means for the rest of the projector. Codes not listed count as
// neither lit nor in standby: the projector then takes no power command until a test sets
// another code.
struct PowerRow {
    std::string_view code;
    bool lampsLit;
    bool standby;  // power-on is taken
};

constexpr std::array kPowerRows{
    PowerRow{"00", true, false},  PowerRow{"80", false, true},  PowerRow{"40", true, false},
    PowerRow{"20", false, false}, PowerRow{"10", false, false}, PowerRow{"08", true, false},
    PowerRow{"02", true, false},  PowerRow{"04", false, true},  PowerRow{"28", false, false},
    PowerRow{"24", false, true},  PowerRow{"88", false, true},  PowerRow{"21", false, false},
    PowerRow{"81", false, true},
};

const PowerRow* powerRow(std::string_view code) {
    const auto* row = std::find_if(kPowerRows.begin(), kPowerRows.end(),
                                   [code](const PowerRow& r) { return r.code == code; });
    return row == kPowerRows.end() ? nullptr : row;
}

bool lampsLit(const ProjectorState& s) {
    const PowerRow* row = powerRow(s.power);
    return row != nullptr && row->lampsLit;
}

bool inStandby(const ProjectorState& s) {
    const PowerRow* row = powerRow(s.power);
    return row != nullptr && row->standby;
}

// Moves to `passing` for `span`, then to `target`; straight to `target` when span is zero.
void changePower(ProjectorState& s, std::string_view passing, Millis span, std::string_view target,
                 Millis now) {
    if (span > Millis{0}) {
        s.power = passing;
        s.powerChange = PowerChange{std::string(target), now + span};
    } else {
        s.power = target;
        s.powerChange.reset();
    }
}

// ---- What the commands do -------------------------------------------------------------

using Apply = void (*)(ProjectorState&, const ProjectorSettings&, Millis now);
using Answer = std::string (*)(const ProjectorState&);

void powerOn(ProjectorState& s, const ProjectorSettings& settings, Millis now) {
    if (inStandby(s)) {
        changePower(s, "40", settings.warmUp, "00", now);
    }
}

void powerOff(ProjectorState& s, const ProjectorSettings& settings, Millis now) {
    if (lampsLit(s)) {
        changePower(s, "20", settings.coolDown, "80", now);
    }
}

template <auto Member, auto Value>
void set(ProjectorState& s, const ProjectorSettings&, Millis) {
    s.*Member = Value;
}

template <int N>
void selectInput(ProjectorState& s, const ProjectorSettings&, Millis) {
    s.input = N;
}

template <int N, SignalType Type>
void selectSignal(ProjectorState& s, const ProjectorSettings&, Millis) {
    s.input = N;
    s.signalTypes[N - 1] = Type;
}

template <auto Member, int Step>
void adjust(ProjectorState& s, const ProjectorSettings&, Millis) {
    constexpr int limit = ProjectorState::kAdjustLimit;
    s.*Member = std::clamp(s.*Member + Step, -limit, limit);
}

// ---- What the queries answer ----------------------------------------------------------

std::string line(std::string_view text) {
    return std::string(text) + '\r';
}

// One temperature, right-aligned in `width` characters with one decimal; clamped so that it
// never widens its field.
std::string reading(double value, int width) {
    const double high = width >= 5 ? 999.9 : 99.9;
    const double low = width >= 5 ? -99.9 : -9.9;
    char text[16];
    std::snprintf(text, sizeof text, "%*.1f", width, std::clamp(value, low, high));
    return text;
}

std::string answerPower(const ProjectorState& s) {
    return line(s.power);
}

std::string answerInput(const ProjectorState& s) {
    return line(std::to_string(std::clamp(s.input, 0, 9)));
}

std::string answerLampHours(const ProjectorState& s) {
    char text[16];
    std::snprintf(text, sizeof text, "%05d", std::clamp(s.lampHours, 0, 99999));
    return line(text);
}

std::string answerOrientation(const ProjectorState& s) {
    return line(s.orientation);
}

std::string answerTemperatures(const ProjectorState& s) {
    const auto& t = s.temperatures;
    return line(reading(t[0], 5) + "  " + reading(t[1], 4) + "  " + reading(t[2], 4) + "   " +
                reading(t[3], 4));
}

struct LampRow {
    LampMode mode;
    bool lamp1;
    bool lamp2;
    std::string_view code;
};

constexpr std::array kLampRows{
    LampRow{LampMode::Dual, false, false, "00"},  LampRow{LampMode::Dual, true, false, "01"},
    LampRow{LampMode::Dual, false, true, "02"},   LampRow{LampMode::Dual, true, true, "03"},
    LampRow{LampMode::Lamp1, false, false, "10"}, LampRow{LampMode::Lamp1, true, false, "11"},
    LampRow{LampMode::Lamp2, false, false, "20"}, LampRow{LampMode::Lamp2, false, true, "22"},
};

std::string answerLamps(const ProjectorState& s) {
    const bool lit = lampsLit(s);
    const bool lamp1 = lit && !s.lampFailed[0] && s.lampMode != LampMode::Lamp2;
    const bool lamp2 = lit && !s.lampFailed[1] && s.lampMode != LampMode::Lamp1;
    for (const LampRow& row : kLampRows) {
        if (row.mode == s.lampMode && row.lamp1 == lamp1 && row.lamp2 == lamp2) {
            return line(row.code);
        }
    }
    return line("00");
}

struct MuteRow {
    bool video;
    bool audio;
    std::string_view code;
};

constexpr std::array kMuteRows{
    MuteRow{false, false, "00"},
    MuteRow{true, false, "01"},
    MuteRow{false, true, "02"},
    MuteRow{true, true, "03"},
};

std::string answerMute(const ProjectorState& s) {
    if (!lampsLit(s)) {
        return line("FF");
    }
    if (!s.signalPresent) {
        return line("80");
    }
    const bool video = s.videoMute();
    for (const MuteRow& row : kMuteRows) {
        if (row.video == video && row.audio == s.audioMute) {
            return line(row.code);
        }
    }
    return line("00");
}

std::string answerInfo(const ProjectorState& s) {
    return line(s.info);
}

std::string answerPressure(const ProjectorState& s) {
    return line(std::to_string(s.pressure));
}

// ---- The command table ----------------------------------------------------------------

struct Command {
    std::string_view text;
    Apply apply;    // nullptr: taken, changes nothing the projector reports
    Answer answer;  // nullptr: answered with a lone ACK
};

using S = ProjectorState;
using T = SignalType;

constexpr Command kCommands[] = {
    // Status queries.
    {"CR0", nullptr, answerPower},
    {"CR1", nullptr, answerInput},
    {"CR3", nullptr, answerLampHours},
    {"CR4", nullptr, answerOrientation},
    {"CR6", nullptr, answerTemperatures},
    {"CR7", nullptr, answerLamps},
    {"CRA", nullptr, answerMute},
    {"CR9", nullptr, answerInfo},
    {"CR PRESSURE", nullptr, answerPressure},
    // Power and input.
    {"C00", powerOn, nullptr},
    {"C01", powerOff, nullptr},
    {"C05", selectInput<1>, nullptr},
    {"C06", selectInput<2>, nullptr},
    {"C07", selectInput<3>, nullptr},
    {"C08", selectInput<4>, nullptr},
    {"CF INPUT1 DIGITAL", selectSignal<1, T::Digital>, nullptr},
    {"CF INPUT1 ANALOG", selectSignal<1, T::Analog>, nullptr},
    {"CF INPUT1 VIDEO", selectSignal<1, T::Video>, nullptr},
    {"CF INPUT1 YPBPR", selectSignal<1, T::YPbPr>, nullptr},
    {"CF INPUT1 YCBCR", selectSignal<1, T::YCbCr>, nullptr},
    {"CF INPUT1 S-VIDEO", selectSignal<1, T::SVideo>, nullptr},
    {"CF INPUT2 DIGITAL", selectSignal<2, T::Digital>, nullptr},
    {"CF INPUT2 ANALOG", selectSignal<2, T::Analog>, nullptr},
    {"CF INPUT2 VIDEO", selectSignal<2, T::Video>, nullptr},
    {"CF INPUT2 YPBPR", selectSignal<2, T::YPbPr>, nullptr},
    {"CF INPUT2 YCBCR", selectSignal<2, T::YCbCr>, nullptr},
    {"CF INPUT2 S-VIDEO", selectSignal<2, T::SVideo>, nullptr},
    {"CF INPUT3 DIGITAL", selectSignal<3, T::Digital>, nullptr},
    {"CF INPUT3 ANALOG", selectSignal<3, T::Analog>, nullptr},
    {"CF INPUT3 VIDEO", selectSignal<3, T::Video>, nullptr},
    {"CF INPUT3 YPBPR", selectSignal<3, T::YPbPr>, nullptr},
    {"CF INPUT3 YCBCR", selectSignal<3, T::YCbCr>, nullptr},
    {"CF INPUT3 S-VIDEO", selectSignal<3, T::SVideo>, nullptr},
    // Picture.
    {"C0D", set<&S::noShow, true>, nullptr},
    {"C0E", set<&S::noShow, false>, nullptr},
    {"CF VMUTE CLOSE", set<&S::shutterClosed, true>, nullptr},
    {"CF VMUTE OPEN", set<&S::shutterClosed, false>, nullptr},
    {"C0F", set<&S::avSize, AvSize::Normal>, nullptr},
    {"C10", set<&S::avSize, AvSize::Wide>, nullptr},
    {"C43", set<&S::freeze, true>, nullptr},
    {"C44", set<&S::freeze, false>, nullptr},
    {"CF IMAGE STAND", set<&S::picture, Picture::Stand>, nullptr},
    {"CF IMAGE REAL", set<&S::picture, Picture::Real>, nullptr},
    {"CF IMAGE CINEMA", set<&S::picture, Picture::Cinema>, nullptr},
    {"CF IMAGE CUSTOM1", set<&S::picture, Picture::Custom1>, nullptr},
    {"CF IMAGE CUSTOM2", set<&S::picture, Picture::Custom2>, nullptr},
    {"CF IMAGE CUSTOM3", set<&S::picture, Picture::Custom3>, nullptr},
    {"CF IMAGE CUSTOM4", set<&S::picture, Picture::Custom4>, nullptr},
    // Lamp and fan.
    {"CF LAMPMODE FULL", set<&S::lampMode, LampMode::Dual>, nullptr},
    {"CF LAMPMODE LAMP1", set<&S::lampMode, LampMode::Lamp1>, nullptr},
    {"CF LAMPMODE LAMP2", set<&S::lampMode, LampMode::Lamp2>, nullptr},
    {"CF FANSPEED MAX", set<&S::fanSpeed, FanSpeed::Max>, nullptr},
    {"CF FANSPEED NOR", set<&S::fanSpeed, FanSpeed::Normal>, nullptr},
    // Lens and geometry.
    {"C47", adjust<&S::zoom, +1>, nullptr},
    {"C46", adjust<&S::zoom, -1>, nullptr},
    {"C4B", adjust<&S::focus, +1>, nullptr},
    {"C4A", adjust<&S::focus, -1>, nullptr},
    {"C30", adjust<&S::digitalZoom, +1>, nullptr},
    {"C31", adjust<&S::digitalZoom, -1>, nullptr},
    {"C8E", adjust<&S::keystoneV, +1>, nullptr},
    {"C8F", adjust<&S::keystoneV, -1>, nullptr},
    {"C90", adjust<&S::keystoneH, +1>, nullptr},
    {"C91", adjust<&S::keystoneH, -1>, nullptr},
    {"C5D", adjust<&S::shiftV, +1>, nullptr},
    {"C5E", adjust<&S::shiftV, -1>, nullptr},
    {"C5F", adjust<&S::shiftH, -1>, nullptr},
    {"C60", adjust<&S::shiftH, +1>, nullptr},
    // Menu and its cursor.
    {"C1C", set<&S::menu, true>, nullptr},
    {"C1D", set<&S::menu, false>, nullptr},
    {"C3C", nullptr, nullptr},
    {"C3D", nullptr, nullptr},
    {"C3B", nullptr, nullptr},
    {"C3A", nullptr, nullptr},
    {"C3F", nullptr, nullptr},
    // Functions whose effect the projector does not report.
    {"C89", nullptr, nullptr},
    {"C27", nullptr, nullptr},
    {"C8A", nullptr, nullptr},
    {"C1E", nullptr, nullptr},
};

const Command* findCommand(std::string_view text) {
    const auto* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [text](const Command& c) { return c.text == text; });
    return found == std::end(kCommands) ? nullptr : found;
}

constexpr std::array<std::string_view, 4> kNumberedAddresses{"001", "002", "003", "004"};
constexpr std::string_view kAllAddress = "FFF";
constexpr std::string_view kUnknownAnswer = "?\r";

std::string upperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

}  // namespace

void Projector::feed(std::string_view bytes, Millis now) {
    advance(now);
    for (const char c : bytes) {
        if (c == '\n') {
            continue;
        }
        if (c == '\r') {
            if (discarding_) {
                discarding_ = false;
            } else {
                const std::string frame = std::move(partial_);
                partial_.clear();
                handleFrame(frame, now);
            }
            continue;
        }
        if (discarding_) {
            continue;
        }
        if (partial_.size() >= kMaxFrame) {
            partial_.clear();
            partial_.shrink_to_fit();
            discarding_ = true;
            ++overflowCount_;
            continue;
        }
        partial_.push_back(c);
    }
}

void Projector::advance(Millis now) {
    if (state_.powerChange && state_.powerChange->at <= now) {
        state_.power = std::move(state_.powerChange->code);
        state_.powerChange.reset();
    }
}

void Projector::handleFrame(std::string_view frame, Millis now) {
    ++frameCount_;
    const ReceivedFrame received{now, std::string(frame)};
    if (observer_) {
        observer_(received);
    }
    if (settings_.record) {
        frames_.push_back(received);
    }

    const std::string text = upperCase(frame);
    std::string_view command = text;
    bool answered = true;
    if (command.size() >= 4 && command[0] == 'A') {
        const std::string_view address = command.substr(1, 3);
        const auto* numbered =
            std::find(kNumberedAddresses.begin(), kNumberedAddresses.end(), address);
        if (address == kAllAddress) {
            answered = false;
            command.remove_prefix(4);
        } else if (numbered != kNumberedAddresses.end()) {
            if (numbered - kNumberedAddresses.begin() + 1 != settings_.address) {
                return;
            }
            command.remove_prefix(4);
        }
    }
    if (command.empty()) {
        return;
    }

    std::string answer(kUnknownAnswer);
    if (const Command* known = findCommand(command)) {
        if (known->apply != nullptr) {
            known->apply(state_, settings_, now);
        }
        answer = known->answer != nullptr ? known->answer(state_) : std::string(1, kAck);
    }
    if (answered && !settings_.silent) {
        queueAnswer(std::move(answer), now);
    }
}

void Projector::queueAnswer(std::string answer, Millis now) {
    const std::string bytes = settings_.noise + answer;
    const bool split = settings_.splitSize != 0;
    // Never ahead of the answer before; when split, not in the same piece as its end either.
    Millis due = now + settings_.replyDelay;
    if (answersDue_ != Millis::min()) {
        due = std::max(due, answersDue_ + (split ? settings_.splitGap : Millis{0}));
    }
    const std::size_t piece = split ? settings_.splitSize : bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (at > 0) {
            due += settings_.splitGap;
        }
        queue(Outgoing{due, bytes.substr(at, piece)});
    }
    answersDue_ = due;
}

void Projector::queue(Outgoing chunk) {
    const auto after =
        std::upper_bound(pending_.begin(), pending_.end(), chunk.due,
                         [](Millis due, const Outgoing& queued) { return due < queued.due; });
    pending_.insert(after, std::move(chunk));
}

std::string Projector::pollOutput(Millis now) {
    std::string out;
    for (Outgoing& piece : takeOutput(now)) {
        out += piece.bytes;
    }
    return out;
}

std::vector<Outgoing> Projector::takeOutput(Millis now) {
    const auto end = std::find_if(pending_.begin(), pending_.end(),
                                  [now](const Outgoing& o) { return o.due > now; });
    std::vector<Outgoing> out(std::make_move_iterator(pending_.begin()),
                              std::make_move_iterator(end));
    pending_.erase(pending_.begin(), end);
    return out;
}

std::optional<Millis> Projector::nextDue() const {
    if (pending_.empty()) {
        return std::nullopt;
    }
    return pending_.front().due;
}

void Projector::queueBytes(std::string bytes, Millis at) {
    queue(Outgoing{at, std::move(bytes)});
}

void Projector::queueGarbage(std::size_t count, Millis at) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(byte(random_));
    }
    queueBytes(std::move(bytes), at);
}

std::vector<std::string_view> Projector::knownCommands() {
    std::vector<std::string_view> texts;
    for (const Command& c : kCommands) {
        texts.push_back(c.text);
    }
    return texts;
}

}  // namespace pj::sim
