// SPDX-License-Identifier: Apache-2.0
#pragma once

// A small JSON reader for the tests: enough to take apart what the line server publishes and
// to reject what is not JSON.
#include <cstdlib>
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
    static std::optional<Json> parse(std::string_view text) {
        JsonReader reader(text);
        std::optional<Json> value = reader.value();
        reader.space();
        if (!value || reader.at_ != text.size()) {
            return std::nullopt;
        }
        return value;
    }

  private:
    explicit JsonReader(std::string_view text) : text_(text) {}

    void space() {
        while (at_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
    }
    bool take(char c) {
        space();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) == w) {
            at_ += w.size();
            return true;
        }
        return false;
    }

    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return std::nullopt;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                return std::nullopt;
            }
            const char e = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::string_view meant = "\"\\/\b\f\n\r\t";
            if (const std::size_t i = simple.find(e); i != std::string_view::npos) {
                out += meant[i];
            } else if (e == 'u' && at_ + 4 <= text_.size()) {
                const std::string hex(text_.substr(at_, 4));
                at_ += 4;
                char* end = nullptr;
                const long code = std::strtol(hex.c_str(), &end, 16);
                if (end != hex.c_str() + 4) {
                    return std::nullopt;
                }
                if (code < 0x80) {
                    out += static_cast<char>(code);
                } else if (code < 0x800) {
                    out += static_cast<char>(0xC0 | (code >> 6));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                } else {
                    out += static_cast<char>(0xE0 | (code >> 12));
                    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                }
            } else {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<Json> value() {
        space();
        Json v;
        if (at_ >= text_.size()) {
            return std::nullopt;
        }
        const char c = text_[at_];
        if (c == '"') {
            std::optional<std::string> s = string();
            if (!s) {
                return std::nullopt;
            }
            v.kind = Json::Kind::String;
            v.text = std::move(*s);
        } else if (c == '{') {
            ++at_;
            v.kind = Json::Kind::Object;
            if (take('}')) {
                return v;
            }
            do {
                std::optional<std::string> key = string();
                if (!key || !take(':')) {
                    return std::nullopt;
                }
                std::optional<Json> member = value();
                if (!member) {
                    return std::nullopt;
                }
                v.members.emplace_back(std::move(*key), std::move(*member));
            } while (take(','));
            if (!take('}')) {
                return std::nullopt;
            }
        } else if (c == '[') {
            ++at_;
            v.kind = Json::Kind::Array;
            if (take(']')) {
                return v;
            }
            do {
                std::optional<Json> item = value();
                if (!item) {
                    return std::nullopt;
                }
                v.items.push_back(std::move(*item));
            } while (take(','));
            if (!take(']')) {
                return std::nullopt;
            }
        } else if (word("null")) {
        } else if (word("true") || word("false")) {
            v.kind = Json::Kind::Bool;
            v.flag = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
        } else {
            const std::string rest(text_.substr(at_));
            char* end = nullptr;
            v.number = std::strtod(rest.c_str(), &end);
            if (end == rest.c_str()) {
                return std::nullopt;
            }
            v.kind = Json::Kind::Number;
            at_ += static_cast<std::size_t>(end - rest.c_str());
        }
        return v;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace pj::line::test
