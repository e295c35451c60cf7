// SPDX-License-Identifier: Apache-2.0
#pragma once

// JSON for the tests, read by nlohmann/json into a plain view: enough to take apart what the
// line server publishes and to reject what is not JSON.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pj::line::test {

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool flag = false;
    double number = 0;
    std::string text;  // a string's value, UTF-8
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    // The member at a dotted path ("device.name"), or nothing.
    const Json* at(std::string_view path) const {
        const Json* here = this;
        while (!path.empty()) {
            const std::size_t dot = path.find('.');
            const std::string_view key = path.substr(0, dot);
            const Json* next = nullptr;
            for (const auto& [name, value] : here->members) {
                if (name == key) {
                    next = &value;
                }
            }
            if (next == nullptr) {
                return nullptr;
            }
            here = next;
            path = dot == std::string_view::npos ? std::string_view{} : path.substr(dot + 1);
        }
        return here;
    }
    // The string at `path`, or "<absent>".
    std::string str(std::string_view path) const {
        const Json* found = at(path);
        return found != nullptr && found->kind == Kind::String ? found->text : "<absent>";
    }
};

class JsonReader {
  public:
    // `text` as one JSON value, or nothing when it is not JSON.
    static std::optional<Json> parse(std::string_view text) {
        const nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
        if (value.is_discarded()) {
            return std::nullopt;
        }
        return view(value);
    }

  private:
    static Json view(const nlohmann::json& value) {
        Json v;
        if (value.is_boolean()) {
            v.kind = Json::Kind::Bool;
            v.flag = value.get<bool>();
        } else if (value.is_number()) {
            v.kind = Json::Kind::Number;
            v.number = value.get<double>();
        } else if (value.is_string()) {
            v.kind = Json::Kind::String;
            v.text = value.get<std::string>();
        } else if (value.is_array()) {
            v.kind = Json::Kind::Array;
            for (const nlohmann::json& item : value) {
                v.items.push_back(view(item));
            }
        } else if (value.is_object()) {
            v.kind = Json::Kind::Object;
            for (const auto& [name, member] : value.items()) {
                v.members.emplace_back(name, view(member));
            }
        }
        return v;
    }
};

}  // namespace pj::line::test
