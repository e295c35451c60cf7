// SPDX-License-Identifier: Apache-2.0
#include "status/value_json.h"

namespace pj {

namespace {

nlohmann::ordered_json orNull(const std::optional<bool>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json orNull(const std::optional<double>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

struct Fields {
    nlohmann::ordered_json& out;

    void operator()(std::monostate) const {}
    void operator()(OperatingState state) const {
        out["power"] = word(powerOf(state));
        out["operating_state"] = word(state);
    }
    void operator()(InputMode input) const { out["input"] = input.number; }
    void operator()(LampHours lamp) const { out["lamp_hours"] = lamp.hours; }
    void operator()(Orientation orientation) const { out["orientation"] = word(orientation); }
    void operator()(const Temperatures& t) const {
        nlohmann::ordered_json readings = nlohmann::ordered_json::object();
        for (std::size_t i = 0; i < t.celsius.size(); ++i) {
            readings["s" + std::to_string(i + 1)] = orNull(t.celsius[i]);
        }
        out["temperatures"] = std::move(readings);
    }
    void operator()(const Lamps& lamps) const {
        out["lamps"] = {lamps.lit[0], lamps.lit[1]};
        out["lamp_mode"] = word(lamps.mode);
    }
    void operator()(const MuteAndSignal& m) const {
        out["video_mute"] = orNull(m.video);
        out["audio_mute"] = orNull(m.audio);
        out["signal"] = word(m.signal);
    }
    void operator()(Pressure p) const { out["pressure_hpa"] = p.hpa; }
};

}  // namespace

void addValueFields(nlohmann::ordered_json& out, const StatusValue& value) {
    std::visit(Fields{out}, value);
}

}  // namespace pj
