// SPDX-License-Identifier: Apache-2.0
#include "projector/commands.h"

#include <algorithm>
#include <numeric>

#include "protocol/catalogue.h"
#include "protocol/hold.h"
#include "protocol/reply.h"
#include "status/queries.h"

namespace pj {

namespace {

std::vector<Command> gather() {
    std::vector<Command> all;
    for (const CatalogueEntry& e : kCatalogue) {
        all.push_back({e.name, e.command, e.group, CommandKind::OneShot,
                       familyRule(e.family).replyWindow.value_or(kTimer2Design)});
    }
    for (const HoldButton& b : kHoldButtons) {
        const ClassPeriods* periods = findClassPeriods(b.timing);
        all.push_back({b.name, b.command, b.group, CommandKind::Hold,
                       periods != nullptr ? periods->replyWindow : kTimer2Design});
    }
    for (const StatusQuery& q : kStatusQueries) {
        // A query the panel has no button for is typed into the command entry.
        const bool button = std::any_of(kQueryButtons.begin(), kQueryButtons.end(),
                                        [&](const QueryButton& b) { return b.query == q.name; });
        all.push_back({q.name, q.command, "status", CommandKind::Query,
                       button ? kTimer2Design : kTypedReplyWindow});
    }
    return all;
}

std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::span<const Command> commands() {
    static const std::vector<Command> all = gather();
    return all;
}

const Command* findCommand(std::string_view name) {
    for (const Command& c : commands()) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

std::vector<std::string_view> nearestCommandNames(std::string_view name, std::size_t most) {
    std::vector<std::pair<std::size_t, std::string_view>> scored;
    for (const Command& c : commands()) {
        // A name that begins with what was given is as near as a name can be.
        const std::size_t d = c.name.starts_with(name) ? 0 : distance(name, c.name);
        scored.emplace_back(d, c.name);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string_view> names;
    for (std::size_t i = 0; i < scored.size() && i < most; ++i) {
        names.push_back(scored[i].second);
    }
    return names;
}

bool looksLikeCommandName(std::string_view text) {
    const bool shaped = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
    return shaped && text.find('.') != std::string_view::npos && text.front() != '.';
}

std::string_view word(CommandKind kind) {
    switch (kind) {
        case CommandKind::OneShot:
            return "one-shot";
        case CommandKind::Hold:
            return "hold";
        case CommandKind::Query:
            return "query";
    }
    return {};
}

}  // namespace pj
