// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

#include "core/control_id.h"

namespace pj {

// The window events the shell forwards to the core.
class FormEvents {
  public:
    virtual ~FormEvents() = default;

    // A click (mouse, Space or Enter). Returns false when the control has no click handler.
    virtual bool Click(ControlId control) = 0;
    // Any mouse button going down or up on a button; the release goes to the button that
    // took the press.
    virtual void MouseDown(ControlId control) = 0;
    virtual void MouseUp(ControlId control) = 0;
    // A key press seen by the window before the focused control. `shift` holds the
    // modifiers: Shift = 1, Ctrl = 2, Alt = 4.
    virtual void KeyDown(int keyCode, int shift) = 0;
    virtual void DblClick(ControlId control) = 0;
    // The operator changed the text of a text box (typing, pasting, deleting).
    virtual void Change(ControlId control, std::string_view text) = 0;
};

// Modifier bits and key codes as the window reports them.
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;
inline constexpr int kKeyK = 'K';

}  // namespace pj
