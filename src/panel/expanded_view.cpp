// The hidden ways to a taller window: Ctrl+K, then a double-click on the picture; and the
// data-display button that collapses it again or toggles the data band.
#include "app/form.h"

namespace pj {

namespace {
constexpr std::string_view kCaptionClose = "CLOSE";
constexpr std::string_view kCaptionShowData = "データを表示する";
constexpr std::string_view kCaptionHideData = "データを表示しない";
constexpr int kToggleThreshold = 6000;
}  // namespace

void Form::KeyDown(int keyCode, int shift) {
    if (unloaded_ || (shift & (kShiftMask | kCtrlMask | kAltMask)) != kCtrlMask ||
        keyCode != kKeyK) {
        return;
    }
    window_.setHeight(kHeightUnlocked);
    state.CloseUnlocked = 1;
    window_.setCaption("Command34", kCaptionClose);
    window_.setVisible("Command34", true);
    // The key is not consumed: the focused control still receives it.
}

void Form::DblClick(std::string_view control) {
    if (unloaded_ || control != "Image1" || state.CloseUnlocked != 1) {
        return;
    }
    window_.setHeight(kHeightFull);
    window_.setCaption("Command34", kCaptionClose);
    window_.setVisible("Command34", true);
}

void Form::toggleDataDisplay() {
    timers_.Timer3.setEnabled(false);
    state.CloseUnlocked = 0;
    if (window_.height() >= kToggleThreshold) {
        window_.setHeight(kHeightCompact);
        window_.setCaption("Command34", kCaptionShowData);
    } else {
        window_.setHeight(kHeightData);
        window_.setCaption("Command34", kCaptionHideData);
    }
    timers_.Timer3.setEnabled(true);
}

}  // namespace pj
