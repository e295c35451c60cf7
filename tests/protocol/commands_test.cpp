// SPDX-License-Identifier: Apache-2.0
#include "projector/commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "protocol/catalogue.h"
#include "protocol/hold.h"
#include "status/queries.h"
#include "support/control_print.h"

namespace pj {
namespace {

// Every button and query has a name, shaped as one and unlike any command text; names are
// unique and each finds its own row again.
TEST(CommandNames, EveryButtonAndQueryHasOneNameThatFindsItsRow) {
    std::set<std::string_view> names;
    const auto check = [&](std::string_view name, std::string_view text, CommandKind kind) {
        SCOPED_TRACE(std::string(name));
        EXPECT_TRUE(looksLikeCommandName(name));
        EXPECT_FALSE(looksLikeCommandName(text));
        EXPECT_TRUE(names.insert(name).second) << "given twice";
        const Command* found = findCommand(name);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->name, name);
        EXPECT_EQ(found->text, text);
        EXPECT_EQ(found->kind, kind);
    };
    for (const CatalogueEntry& e : kCatalogue) {
        check(e.name, e.command, CommandKind::OneShot);
        EXPECT_EQ(findCatalogueEntry(e.name), &e);
    }
    for (const HoldButton& b : kHoldButtons) {
        check(b.name, b.command, CommandKind::Hold);
    }
    for (const StatusQuery& q : kStatusQueries) {
        check(q.name, q.command, CommandKind::Query);
        EXPECT_EQ(findStatusQuery(q.name), &q);
        EXPECT_EQ(findStatusQuery(q.shortName), &q);
    }
    for (const QueryButton& b : kQueryButtons) {
        EXPECT_NE(findStatusQuery(b.query), nullptr) << b.control;
    }
    EXPECT_EQ(commands().size(), names.size());
}

TEST(CommandNames, AnUnknownNameIsOfferedTheNearestNames) {
    const struct {
        std::string_view given;
        std::string_view nearest;
    } rows[] = {
        {"power.of", "power.off"},
        {"zoom.inn", "zoom.in"},
        {"input.2.rgbb", "input.2.rgb"},
        {"shutter", "shutter.close"},  // a name begun is as near as it gets
        {"status.lamp-hour", "status.lamp-hours"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(findCommand(row.given), nullptr);
        const std::vector<std::string_view> nearest = nearestCommandNames(row.given);
        ASSERT_EQ(nearest.size(), 3u);
        EXPECT_EQ(nearest.front(), row.nearest) << row.given;
    }
}

}  // namespace
}  // namespace pj
