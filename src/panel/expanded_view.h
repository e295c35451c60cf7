// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "core/control_id.h"
#include "core/window.h"
#include "panel/port_panel.h"

namespace pj {

// Window heights in twips.
inline constexpr int kHeightCompact = 5350;
inline constexpr int kHeightData = 6645;
inline constexpr int kHeightUnlocked = 7200;
inline constexpr int kHeightFull = 9100;

// The window's height and the hidden ways to a taller window: Ctrl+K, then a double-click
// on the picture; and the data-display button that collapses it again or toggles the data
// band.
class ExpandedView {
  public:
    ExpandedView(Window& window, PortPanel& portPanel);

    void setHeight(int twips);
    void keyDown(int keyCode, int shift);
    void dblClick(ControlId control);
    // The data-display button, "CLOSE" once the view is unlocked.
    void toggleDataDisplay();

    int height() const { return height_; }
    std::int16_t closeUnlocked() const { return closeUnlocked_; }

  private:
    Window& window_;
    PortPanel& portPanel_;
    int height_ = 0;
    std::int16_t closeUnlocked_ = 0;
};

}  // namespace pj
