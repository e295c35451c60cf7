// SPDX-License-Identifier: Apache-2.0
#include "panel/expanded_view.h"

#include <string_view>

#include "core/form_events.h"

namespace pj {

namespace {
constexpr std::string_view kCaptionClose = "CLOSE";
constexpr std::string_view kCaptionShowData = "データを表示する";
constexpr std::string_view kCaptionHideData = "データを表示しない";
constexpr int kToggleThreshold = 6000;
}  // namespace

ExpandedView::ExpandedView(Window& window, PortPanel& portPanel)
    : window_(window), portPanel_(portPanel) {}

void ExpandedView::setHeight(int twips) {
    height_ = twips;
    window_.setHeight(twips);
}

void ExpandedView::keyDown(int keyCode, int shift) {
    if ((shift & (kShiftMask | kCtrlMask | kAltMask)) != kCtrlMask || keyCode != kKeyK) {
        return;
    }
    setHeight(kHeightUnlocked);
    closeUnlocked_ = 1;
    window_.setCaption(ControlId::Command34, kCaptionClose);
    window_.setVisible(ControlId::Command34, true);
    // The key is not consumed: the focused control still receives it.
}

void ExpandedView::dblClick(ControlId control) {
    if (control != ControlId::Image1 || closeUnlocked_ != 1) {
        return;
    }
    setHeight(kHeightFull);
    window_.setCaption(ControlId::Command34, kCaptionClose);
    window_.setVisible(ControlId::Command34, true);
}

void ExpandedView::toggleDataDisplay() {
    portPanel_.setHideTimer(false);
    closeUnlocked_ = 0;
    if (height_ >= kToggleThreshold) {
        setHeight(kHeightCompact);
        window_.setCaption(ControlId::Command34, kCaptionShowData);
    } else {
        setHeight(kHeightData);
        window_.setCaption(ControlId::Command34, kCaptionHideData);
    }
    portPanel_.setHideTimer(true);
}

}  // namespace pj
