// SPDX-License-Identifier: Apache-2.0
#include "sim/bus.h"

#include <algorithm>
#include <utility>

namespace pj::sim {

namespace {

// The bytes of `talkers`, sent at the same moment, as the line carries them: one byte of
// each in turn.
std::string interleaved(const std::vector<std::string>& talkers) {
    std::string out;
    std::size_t longest = 0;
    for (const std::string& t : talkers) {
        longest = std::max(longest, t.size());
    }
    for (std::size_t at = 0; at < longest; ++at) {
        for (const std::string& t : talkers) {
            if (at < t.size()) {
                out.push_back(t[at]);
            }
        }
    }
    return out;
}

}  // namespace

Bus::Bus() : projectors_(1) {}

Bus::Bus(std::vector<Projector> projectors) : projectors_(std::move(projectors)) {
    if (projectors_.empty()) {
        projectors_.emplace_back();
    }
}

Bus Bus::withAddresses(const std::vector<int>& addresses, const ProjectorSettings& common) {
    std::vector<Projector> projectors;
    for (const int address : addresses) {
        ProjectorSettings settings = common;
        settings.address = address;
        projectors.emplace_back(std::move(settings));
    }
    return Bus(std::move(projectors));
}

void Bus::feed(std::string_view bytes, Millis now) {
    for (Projector& p : projectors_) {
        p.feed(bytes, now);
    }
}

void Bus::advance(Millis now) {
    for (Projector& p : projectors_) {
        p.advance(now);
    }
}

std::string Bus::pollOutput(Millis now) {
    if (projectors_.size() == 1) {
        return projectors_[0].pollOutput(now);
    }
    // Each projector's due pieces, earliest first; then, moment by moment, what every
    // projector sends at that moment.
    std::vector<std::vector<Outgoing>> due;
    for (Projector& p : projectors_) {
        due.push_back(p.takeOutput(now));
    }
    std::vector<std::size_t> next(due.size(), 0);
    std::string out;
    while (true) {
        std::optional<Millis> moment;
        for (std::size_t i = 0; i < due.size(); ++i) {
            if (next[i] < due[i].size() && (!moment || due[i][next[i]].due < *moment)) {
                moment = due[i][next[i]].due;
            }
        }
        if (!moment) {
            return out;
        }
        std::vector<std::string> talkers(due.size());
        for (std::size_t i = 0; i < due.size(); ++i) {
            for (; next[i] < due[i].size() && due[i][next[i]].due == *moment; ++next[i]) {
                talkers[i] += due[i][next[i]].bytes;
            }
        }
        out += interleaved(talkers);
    }
}

std::optional<Millis> Bus::nextDue() const {
    std::optional<Millis> earliest;
    for (const Projector& p : projectors_) {
        const auto due = p.nextDue();
        if (due && (!earliest || *due < *earliest)) {
            earliest = due;
        }
    }
    return earliest;
}

}  // namespace pj::sim
