// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/window.h"

namespace pj {

// The window without a screen: it keeps what the core shows (captions, texts, visibility,
// option selection, height, position) so that a caller can read the displays as an operator
// would. Controls start as the layout table designs them. A warning box is collected and
// returns at once. Used by the tests and the benchmarks.
class RecordingWindow final : public Window {
  public:
    void setCaption(ControlId control, std::string_view text) override;
    void setVisible(ControlId control, bool visible) override;
    void selectOption(ControlId control) override;
    void setText(ControlId control, std::string_view text) override;
    void setHeight(int twips) override { height_ = twips; }
    int screenWidth() const override { return screenWidthTwips; }
    int screenHeight() const override { return screenHeightTwips; }
    void move(int l, int t) override;
    void warningBox(std::string_view text, std::string_view title) override;
    void setPortNotice(std::string_view text) override;
    void unload() override { unloaded = true; }

    // What the window shows now.
    std::string caption(ControlId control) const;
    bool visible(ControlId control) const;
    bool optionSelected(ControlId control) const;
    std::string text(ControlId control) const;
    int height() const { return height_; }

    struct Box {
        std::string text;
        std::string title;
    };
    std::vector<Box> boxes;              // every warning box, in order
    std::function<void()> onBox;         // runs while a box is "open"
    std::string portNotice;              // the port line as last set
    std::function<void()> onPortNotice;  // runs after the port line changes
    bool unloaded = false;
    int left = 0;
    int top = 0;
    int screenWidthTwips = 1024 * 15;
    int screenHeightTwips = 768 * 15;

  private:
    template <class T>
    using PerControl = std::array<std::optional<T>, kControlCount>;

    PerControl<std::string> captions_;
    PerControl<std::string> texts_;
    PerControl<bool> visible_;
    PerControl<ControlId> selected_;  // container -> its selected option
    int height_ = 0;
};

}  // namespace pj
