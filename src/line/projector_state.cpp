// SPDX-License-Identifier: Apache-2.0
#include "line/projector_state.h"

#include <nlohmann/json.hpp>

#include "status/value_json.h"

namespace pj::line {

namespace {

// Puts one value into the state's field for it.
struct Apply {
    ProjectorState& state;

    bool operator()(std::monostate) const { return false; }
    bool operator()(OperatingState v) const { return set(state.operatingState, v); }
    bool operator()(InputMode v) const { return set(state.input, v); }
    bool operator()(LampHours v) const { return set(state.lampHours, v); }
    bool operator()(Orientation) const { return false; }
    bool operator()(const Temperatures& v) const { return set(state.temperatures, v); }
    bool operator()(const Lamps& v) const { return set(state.lamps, v); }
    bool operator()(const MuteAndSignal& v) const { return set(state.mute, v); }
    bool operator()(Pressure) const { return false; }

    template <class T>
    static bool set(std::optional<T>& field, const T& value) {
        field = value;
        return true;
    }
};

// Each field's value, or its JSON fields as null while it is unknown.
template <class T>
void put(nlohmann::ordered_json& out, const std::optional<T>& field,
         std::initializer_list<const char*> names) {
    if (field) {
        addValueFields(out, StatusValue{*field});
        return;
    }
    for (const char* name : names) {
        out[name] = nullptr;
    }
}

}  // namespace

const std::vector<const StatusQuery*>& polledQueries() {
    static const std::vector<const StatusQuery*> polled = [] {
        std::vector<const StatusQuery*> all;
        for (const StatusQuery& query : kStatusQueries) {
            if (query.polled) {
                all.push_back(&query);
            }
        }
        return all;
    }();
    return polled;
}

bool applyAnswer(const StatusQuery& query, std::string_view answer, ProjectorState& state) {
    return std::visit(Apply{state}, query.value(answer));
}

std::string stateJson(const ProjectorState& state) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    put(out, state.operatingState, {"power", "operating_state"});
    put(out, state.input, {"input"});
    put(out, state.lampHours, {"lamp_hours"});
    put(out, state.lamps, {"lamps", "lamp_mode"});
    if (state.temperatures) {
        addValueFields(out, StatusValue{*state.temperatures});
    } else {
        out["temperatures"] = {{"s1", nullptr}, {"s2", nullptr}, {"s3", nullptr}, {"s4", nullptr}};
    }
    put(out, state.mute, {"video_mute", "audio_mute", "signal"});
    out["responding"] = state.responding;
    return out.dump();
}

}  // namespace pj::line
