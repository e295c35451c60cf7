// SPDX-License-Identifier: Apache-2.0
#pragma once

// The few Jinja forms pjline's discovery configs use, rendered as Home Assistant renders
// them: `{{ EXPR }}` where EXPR is a conditional (`A if C else B`), a test (`X is none`,
// `X is not none`, `X in [...]`), a dict literal looked up with `.get(K, D)` or `[K]`, a
// variable path (`value_json.a.b`, `value_json.a[0]`), a string or a number. Anything else,
// and a name the data does not have, throws: a template this cannot read is a fault.
#include <nlohmann/json.hpp>

#include <cctype>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pj::line::test {

class JinjaSubset {
  public:
    // Renders `text` with `value_json` and `value` as its variables.
    static std::string render(std::string_view text, const nlohmann::json& valueJson,
                              const std::string& value = {}) {
        if (!text.starts_with("{{") || !text.ends_with("}}")) {
            throw std::runtime_error("not one {{ }} expression");
        }
        JinjaSubset parser(text.substr(2, text.size() - 4), valueJson, value);
        const nlohmann::json result = parser.expression();
        parser.skip();
        if (parser.at_ != parser.text_.size()) {
            throw std::runtime_error("left over: " + std::string(parser.text_.substr(parser.at_)));
        }
        return show(result);
    }

  private:
    JinjaSubset(std::string_view text, const nlohmann::json& valueJson, const std::string& value)
        : text_(text), valueJson_(valueJson), value_(value) {}

    static std::string show(const nlohmann::json& v) {
        if (v.is_null()) {
            return "None";
        }
        if (v.is_boolean()) {
            return v.get<bool>() ? "True" : "False";
        }
        if (v.is_string()) {
            return v.get<std::string>();
        }
        return v.dump();
    }
    static bool truthy(const nlohmann::json& v) {
        if (v.is_null()) {
            return false;
        }
        if (v.is_boolean()) {
            return v.get<bool>();
        }
        if (v.is_number()) {
            return v.get<double>() != 0;
        }
        return !v.empty();
    }

    void skip() {
        while (at_ < text_.size() && text_[at_] == ' ') {
            ++at_;
        }
    }
    bool take(std::string_view token) {
        skip();
        if (!text_.substr(at_).starts_with(token)) {
            return false;
        }
        const std::size_t end = at_ + token.size();
        const bool word = std::isalpha(static_cast<unsigned char>(token.back())) != 0;
        if (word && end < text_.size() && std::isalnum(static_cast<unsigned char>(text_[end]))) {
            return false;
        }
        at_ = end;
        return true;
    }
    void expect(std::string_view token) {
        if (!take(token)) {
            throw std::runtime_error("expected " + std::string(token) + " at " +
                                     std::string(text_.substr(at_)));
        }
    }

    // As Jinja, a conditional evaluates only the branch it takes: the other is read with
    // evaluation off, and `then` read again once the condition is known.
    nlohmann::json expression() {
        const std::size_t start = at_;
        const bool live = live_;
        live_ = false;
        nlohmann::json then = test();
        live_ = live;
        if (!take("if")) {
            at_ = start;
            return test();
        }
        const nlohmann::json condition = test();
        expect("else");
        const bool taken = truthy(condition);
        live_ = live && !taken;
        const nlohmann::json otherwise = expression();
        const std::size_t end = at_;
        live_ = live;
        if (taken) {
            at_ = start;
            then = test();
            at_ = end;
        }
        return taken ? then : otherwise;
    }
    nlohmann::json test() {
        const nlohmann::json left = postfix();
        if (take("is")) {
            const bool negated = take("not");
            expect("none");
            return left.is_null() != negated;
        }
        if (take("in")) {
            const nlohmann::json list = postfix();
            for (const auto& item : list) {
                if (item == left) {
                    return true;
                }
            }
            return false;
        }
        return left;
    }
    nlohmann::json postfix() {
        nlohmann::json v = primary();
        for (;;) {
            if (take(".get(")) {
                const nlohmann::json key = expression();
                expect(",");
                const nlohmann::json otherwise = expression();
                expect(")");
                v = lookup(v, key, &otherwise);
            } else if (take("[")) {
                const nlohmann::json key = expression();
                expect("]");
                v = lookup(v, key, nullptr);
            } else if (take(".")) {
                v = lookup(v, name(), nullptr);
            } else {
                return v;
            }
        }
    }
    // A dict literal is kept as its [key, value] pairs, so that number keys stay numbers.
    nlohmann::json lookup(const nlohmann::json& in, const nlohmann::json& key,
                          const nlohmann::json* otherwise) const {
        const bool live = live_;
        if (in.is_object() && in.contains("\x01pairs")) {
            for (const auto& pair : in["\x01pairs"]) {
                if (pair[0] == key) {
                    return pair[1];
                }
            }
        } else if (in.is_object() && key.is_string() && in.contains(key.get<std::string>())) {
            return in[key.get<std::string>()];
        } else if (in.is_array() && key.is_number_integer() && key.get<long>() >= 0 &&
                   static_cast<std::size_t>(key.get<long>()) < in.size()) {
            return in[key.get<std::size_t>()];
        }
        if (otherwise == nullptr) {
            if (!live) {
                return nullptr;
            }
            throw std::runtime_error("no " + key.dump() + " in " + in.dump());
        }
        return *otherwise;
    }
    std::string name() {
        skip();
        const std::size_t start = at_;
        while (at_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) {
            ++at_;
        }
        if (start == at_) {
            throw std::runtime_error("expected a name at " + std::string(text_.substr(at_)));
        }
        return std::string(text_.substr(start, at_ - start));
    }
    nlohmann::json primary() {
        skip();
        if (take("(")) {
            nlohmann::json v = expression();
            expect(")");
            return v;
        }
        if (take("'")) {
            const std::size_t end = text_.find('\'', at_);
            if (end == std::string_view::npos) {
                throw std::runtime_error("an unended string");
            }
            std::string s(text_.substr(at_, end - at_));
            at_ = end + 1;
            return s;
        }
        if (take("[")) {
            nlohmann::json list = nlohmann::json::array();
            while (!take("]")) {
                list.push_back(expression());
                take(",");
            }
            return list;
        }
        if (take("{")) {
            nlohmann::json pairs = nlohmann::json::array();
            while (!take("}")) {
                const nlohmann::json key = expression();
                expect(":");
                pairs.push_back({key, expression()});
                take(",");
            }
            return {{"\x01pairs", pairs}};
        }
        if (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
            std::size_t used = 0;
            const long n = std::stol(std::string(text_.substr(at_)), &used);
            at_ += used;
            return n;
        }
        const std::string variable = name();
        if (variable == "value_json") {
            return valueJson_;
        }
        if (variable == "value") {
            return value_;
        }
        if (variable == "none" || variable == "None") {
            return nullptr;
        }
        throw std::runtime_error("unknown name " + variable);
    }

    std::string_view text_;
    std::size_t at_ = 0;
    bool live_ = true;  // evaluating, not only reading
    const nlohmann::json& valueJson_;
    const std::string& value_;
};

}  // namespace pj::line::test
