// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

#include "core/control_id.h"

namespace pj {

// The title of the window's message boxes.
inline constexpr std::string_view kAppTitle = "VELDAKON";

// What the core does to the window. The core only writes: what it needs to know again (the
// echo it showed, the height it set) it keeps itself. Geometry is in twips.
class Window {
  public:
    virtual ~Window() = default;

    virtual void setCaption(ControlId control, std::string_view text) = 0;
    virtual void setVisible(ControlId control, bool visible) = 0;
    // Marks an option button as the selected one of its group. Raises no click.
    virtual void selectOption(ControlId control) = 0;
    // The text of a text box ("Text1").
    virtual void setText(ControlId control, std::string_view text) = 0;

    // Outer height, caption bar and borders included.
    virtual void setHeight(int twips) = 0;

    // The screen the window is shown on, for centring it.
    virtual int screenWidth() const = 0;
    virtual int screenHeight() const = 0;
    virtual void move(int left, int top) = 0;

    // A modal warning: exclamation icon, an OK button. Returns when the operator closed it.
    virtual void warningBox(std::string_view text, std::string_view title) = 0;

    // A short line about the port's state, kept in view without interrupting the operator;
    // empty text removes it.
    virtual void setPortNotice(std::string_view text) = 0;

    // Unloads the window; the program ends when it is gone.
    virtual void unload() = 0;
};

}  // namespace pj
