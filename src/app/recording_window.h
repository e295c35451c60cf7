#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/window.h"

namespace pj {

// The window without a screen: it keeps what the core shows (captions, texts, visibility,
// option selection, height, position) so that a caller can read the displays as an operator
// would. Controls start as the layout table designs them. A warning box is collected and
// returns at once. Used by the command line and by the tests.
class RecordingWindow final : public Window {
  public:
    void setCaption(std::string_view control, std::string_view text) override;
    std::string caption(std::string_view control) const override;
    void setVisible(std::string_view control, bool visible) override;
    bool visible(std::string_view control) const override;
    void selectOption(std::string_view control) override;
    bool optionSelected(std::string_view control) const override;
    std::string text(std::string_view control) const override;
    void setText(std::string_view control, std::string_view text) override;
    void setHeight(int twips) override { height_ = twips; }
    int height() const override { return height_; }
    int screenWidth() const override { return screenWidthTwips; }
    int screenHeight() const override { return screenHeightTwips; }
    void move(int l, int t) override;
    void warningBox(std::string_view text, std::string_view title) override;
    void setPortNotice(std::string_view text) override;
    void unload() override { unloaded = true; }

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
    std::map<std::string, std::string, std::less<>> captions_;
    std::map<std::string, std::string, std::less<>> texts_;
    std::map<std::string, bool, std::less<>> visible_;
    std::map<std::string, std::string, std::less<>> selected_;  // container -> option
    int height_ = 0;
};

}  // namespace pj
