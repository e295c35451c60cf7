// SPDX-License-Identifier: Apache-2.0
#include "panel/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "app/form.h"
#include "support/fakes.h"

namespace pj {
namespace {

TEST(Layout, HoldsTheDesignedNumberOfEachKindAndTheDesignedTimers) {
    std::map<ControlKind, int> counts;
    for (const Control& c : layoutControls()) {
        ++counts[c.kind];
    }
    EXPECT_EQ(counts[ControlKind::Button], 80);
    EXPECT_EQ(counts[ControlKind::Option], 10);
    EXPECT_EQ(counts[ControlKind::Label], 25);
    EXPECT_EQ(counts[ControlKind::Frame], 15);
    EXPECT_EQ(counts[ControlKind::TextBox], 1);
    EXPECT_EQ(counts[ControlKind::Image], 1);
    EXPECT_EQ(outlineLines().size(), 12u);
    ASSERT_EQ(layoutTimers().size(), 4u);
    // The core restores these periods; the two must not drift apart.
    const int designed[] = {kTimer1Design, kTimer2Design, kTimer3Design, kTimer4Design};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(layoutTimers()[i].intervalMs, designed[i]) << layoutTimers()[i].name;
    }
}

TEST(Layout, NamesAndFocusPositionsAreUnique) {
    std::set<ControlId> ids;
    std::set<std::string_view> lines;
    std::set<int> tabs;
    const Control* first = nullptr;
    for (const Control& c : layoutControls()) {
        EXPECT_TRUE(ids.insert(c.id).second) << c.id << " appears twice";
        EXPECT_EQ(findControl(c.id), &c);
        EXPECT_EQ(controlFromName(controlName(c.id)), c.id);
        const bool focusable = c.kind == ControlKind::Button || c.kind == ControlKind::Option ||
                               c.kind == ControlKind::TextBox;
        EXPECT_EQ(c.tab > 0, focusable) << c.id;
        if (c.tab > 0) {
            EXPECT_TRUE(tabs.insert(c.tab).second) << c.id << " shares tab " << c.tab;
            first = first == nullptr || c.tab < first->tab ? &c : first;
        }
    }
    for (const OutlineLine& l : outlineLines()) {
        EXPECT_TRUE(lines.insert(l.name).second) << l.name << " appears twice";
        EXPECT_FALSE(controlFromName(l.name)) << l.name << " is also a control";
    }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->id, ControlId::Command17);
    // Every control but the window itself is in the table, and no name stands for two.
    EXPECT_EQ(ids.size() + 1, kControlCount);
    EXPECT_EQ(findControl(ControlId::Form1), nullptr);
    EXPECT_FALSE(controlFromName("Frame3"));
}

TEST(Layout, ContainersComeFirstAndHoldTheirContents) {
    std::set<ControlId> seen{kForm.id};
    for (const Control& c : layoutControls()) {
        ASSERT_TRUE(seen.contains(c.parent)) << c.id << " before its container " << c.parent;
        seen.insert(c.id);
        const Control* parent = findControl(c.parent);
        EXPECT_TRUE(parent == nullptr || parent->isContainer()) << c.id << " in " << c.parent;
        const int width = parent != nullptr ? parent->width : kForm.clientWidth;
        const int height = parent != nullptr ? parent->height : kForm.clientHeight;
        EXPECT_TRUE(c.left >= 0 && c.top >= 0) << c.id;
        EXPECT_LE(c.left + c.width, width) << c.id << " sticks out of " << c.parent;
        EXPECT_LE(c.top + c.height, height) << c.id << " sticks out of " << c.parent;
    }
}

TEST(Layout, SiblingsOverlapByOnePixelAtMostExceptThePortPanelOverCom) {
    for (const Control& a : layoutControls()) {
        for (const Control* b : childrenOf(a.parent)) {
            const int overlapX =
                std::min(a.left + a.width, b->left + b->width) - std::max(a.left, b->left);
            const int overlapY =
                std::min(a.top + a.height, b->top + b->height) - std::max(a.top, b->top);
            if (b->id <= a.id || overlapX <= 0 || overlapY <= 0) {
                continue;
            }
            if (a.id == ControlId::Command33 && b->id == ControlId::Frame8) {
                EXPECT_EQ(overlapX * overlapY, a.width * a.height) << "COM not covered";
                continue;
            }
            EXPECT_LE(std::min(overlapX, overlapY), kTwipsPerPixel) << a.id << " / " << b->id;
        }
    }
}

TEST(Layout, StartStateHidesThePortPanelAndDataButtonAndSelectsTwoOptions) {
    std::vector<ControlId> hidden;
    std::vector<ControlId> selected;
    for (const Control& c : layoutControls()) {
        if (!c.visibleAtStart()) {
            hidden.push_back(c.id);
        }
        if (c.selectedAtStart()) {
            EXPECT_EQ(c.kind, ControlKind::Option) << c.id;
            selected.push_back(c.id);
        }
    }
    EXPECT_EQ(hidden, (std::vector<ControlId>{ControlId::Frame8, ControlId::Command34}));
    EXPECT_EQ(selected, (std::vector<ControlId>{ControlId::Option9, ControlId::Option3}));
}

// The bands of the client area, top to bottom, and the least outer height showing each.
struct Band {
    std::string_view name;
    int firstRow;
    int lastRow;
    int shownFrom;
};
constexpr Band kBands[] = {
    {"upper panel", 0, 4815, kHeightCompact},      {"data band", 4920, 6210, kHeightData},
    {"address band", 6225, 6690, kHeightUnlocked}, {"input band", 6735, 7815, kHeightFull},
    {"command band", 8040, 8610, kHeightFull},
};

const Band* bandOf(const Rect& r) {
    const auto it = std::ranges::find_if(
        kBands, [&r](const Band& b) { return r.top >= b.firstRow && r.bottom() <= b.lastRow; });
    return it == std::end(kBands) ? nullptr : &*it;
}

TEST(Layout, EachOuterHeightShowsWholeExactlyTheBandsItShouldShow) {
    for (const OutlineLine& l : outlineLines()) {
        EXPECT_LE(std::max(l.y1, l.y2), kBands[0].lastRow) << l.name << " below the upper panel";
    }
    for (const int outer : {kHeightCompact, kHeightData, kHeightUnlocked, kHeightFull}) {
        const int clientRows = clientHeightPx(outer);
        for (const Control& c : layoutControls()) {
            const Band* band = bandOf(windowRect(c));
            ASSERT_NE(band, nullptr) << c.id << " lies between bands";
            const Rect px = windowPixelRect(c);
            EXPECT_EQ(px.bottom() <= clientRows, outer >= band->shownFrom)
                << c.id << " in the " << band->name << " at outer height " << outer;
            // At the start height nothing below the upper panel peeks in.
            if (outer == kHeightCompact && band != &kBands[0]) {
                EXPECT_GE(px.top, clientRows) << c.id;
            }
        }
    }
}

TEST(Layout, PixelRectanglesRoundEachEdgeSoNeighboursKeepTouching) {
    for (const Control& c : layoutControls()) {
        const Rect t = windowRect(c);
        const Rect px = windowPixelRect(c);
        EXPECT_EQ(px,
                  (Rect{twipsToPixels(t.left), twipsToPixels(t.top),
                        twipsToPixels(t.right()) - px.left, twipsToPixels(t.bottom()) - px.top}))
            << c.id;
        const Control* parent = findControl(c.parent);
        const Rect origin = parent != nullptr ? windowPixelRect(*parent) : Rect{};
        const Rect local = pixelRectInParent(c);
        EXPECT_EQ(
            (Rect{local.left + origin.left, local.top + origin.top, local.width, local.height}), px)
            << c.id;
    }
    EXPECT_EQ(twipsToPixels(7), 0);
    EXPECT_EQ(twipsToPixels(8), 1);
}

}  // namespace
}  // namespace pj
