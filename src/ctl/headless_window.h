#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/window.h"

namespace pj::ctl {

// The window without a screen: it keeps what the core shows (captions, texts, visibility,
// selected options, height) so that a caller can read the displays as an operator would.
// A warning box is collected instead of shown and returns at once.
class HeadlessWindow final : public Window {
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
    int screenWidth() const override { return 0; }
    int screenHeight() const override { return 0; }
    void move(int /*left*/, int /*top*/) override {}
    void warningBox(std::string_view text, std::string_view title) override;
    void setPortNotice(std::string_view text) override;
    void unload() override { unloaded_ = true; }

    // Every warning box's text, in order.
    const std::vector<std::string>& warnings() const { return warnings_; }
    const std::string& portNotice() const { return portNotice_; }
    bool unloaded() const { return unloaded_; }

    // Called after the port notice changes.
    void setOnPortNotice(std::function<void()> handler) { onPortNotice_ = std::move(handler); }

  private:
    std::map<std::string, std::string, std::less<>> captions_;
    std::map<std::string, std::string, std::less<>> texts_;
    std::map<std::string, bool, std::less<>> visible_;
    std::set<std::string, std::less<>> selected_;
    std::vector<std::string> warnings_;
    std::string portNotice_;
    std::function<void()> onPortNotice_;
    int height_ = 0;
    bool unloaded_ = false;
};

}  // namespace pj::ctl
