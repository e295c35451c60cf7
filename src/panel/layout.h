// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/control_id.h"

namespace pj {

// The window's layout as data: every control with its place, look and start state. All
// geometry is in twips; positions are measured from the top-left corner of the container
// ("Form1" for the window itself, otherwise the enclosing frame).

inline constexpr int kTwipsPerPixel = 15;  // at 96 dots per inch

enum class ControlKind : std::uint8_t { Button, Option, Label, Frame, TextBox, Image };

enum class Colour : std::uint8_t {
    Silver,
    White,
    Peach,
    Pink,
    Green,
    Cyan,
    Yellow,
    Lavender,
    Teal,
    Orange,
    Red,
    DarkRed,
    LineBlue,
    Black,
    ButtonFace,      // the desktop's normal button colour
    TextBoxColours,  // the desktop's colours for text entry
    NoColour,        // the picture, which paints itself
};

struct ColourSpec {
    Colour colour;
    std::string_view name;
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    bool system;  // taken from the desktop; red, green and blue are only a stand-in
};

const ColourSpec& colourSpec(Colour colour);

enum class FontFace : std::uint8_t { Fixed, Proportional };

enum class FontCode : std::uint8_t {
    G9Bold,
    G9,
    G8,
    G8Bold,
    G10,
    G10Bold,
    P9,
    P9Bold,
    P7,
    P10Bold,
    NoFont
};

struct FontSpec {
    FontCode code;
    std::string_view name;
    FontFace face;
    int centipoints;  // 825 is 8.25 pt
    bool bold;

    // The size in pixels at 96 dots per inch, rounded to the nearest pixel.
    constexpr int pixelSize() const { return (centipoints * 96 + 3600) / 7200; }
};

const FontSpec& fontSpec(FontCode code);

enum class Align : std::uint8_t { Left, Centre, Right };

// Bits of Control::flags.
inline constexpr std::uint8_t kBorder = 1;    // single border
inline constexpr std::uint8_t kHidden = 2;    // not visible at start
inline constexpr std::uint8_t kSelected = 4;  // the selected option of its group at start

struct Control {
    ControlId id;
    ControlKind kind;
    ControlId parent;          // ControlId::Form1 for the window itself
    std::string_view caption;  // UTF-8
    int left;
    int top;
    int width;
    int height;
    Colour back;
    Colour fore;
    FontCode font;
    int tab;  // position in the focus order; 0 for controls that take no focus
    Align align;
    std::uint8_t flags;

    constexpr bool border() const { return (flags & kBorder) != 0; }
    constexpr bool visibleAtStart() const { return (flags & kHidden) == 0; }
    constexpr bool selectedAtStart() const { return (flags & kSelected) != 0; }
    constexpr bool isContainer() const { return kind == ControlKind::Frame; }
};

// Outline lines, end points in the window's client coordinates.
struct OutlineLine {
    std::string_view name;
    int x1;
    int y1;
    int x2;
    int y2;
};

inline constexpr int kOutlineWidthPixels = 2;
inline constexpr Colour kOutlineColour = Colour::LineBlue;

struct TimerSpec {
    std::string_view name;
    int intervalMs;  // the designed period; every timer is off at start
};

struct FormSpec {
    ControlId id;
    std::string_view caption;
    int clientWidth;
    int clientHeight;
    Colour back;
    Colour fore;
    FontCode font;
};

inline constexpr FormSpec kForm{ControlId::Form1,
                                "VORN   TLM45    CONTROL   Ver.1.40 BASE",
                                9495,
                                8730,
                                Colour::Silver,
                                Colour::Black,
                                FontCode::G9Bold};

// The picture's bitmap, shown unscaled.
inline constexpr int kImageWidthPixels = 80;
inline constexpr int kImageHeightPixels = 26;

// Every control, containers before their contents.
std::span<const Control> layoutControls();
std::span<const OutlineLine> outlineLines();
std::span<const TimerSpec> layoutTimers();

const Control* findControl(ControlId id);
// The direct contents of a container (the window or a frame), in table order.
std::vector<const Control*> childrenOf(ControlId container);
// True when `control` lies, at any depth, in `container`.
bool isInside(const Control& control, ControlId container);

struct Rect {
    int left;
    int top;
    int width;
    int height;

    constexpr int right() const { return left + width; }
    constexpr int bottom() const { return top + height; }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// Nearest pixel for a twip coordinate (non-negative), halves rounded up.
constexpr int twipsToPixels(int twips) {
    return (twips * 2 + kTwipsPerPixel) / (2 * kTwipsPerPixel);
}

// A control's rectangle in the window's client coordinates, in twips.
Rect windowRect(const Control& control);
// Pixel rectangles: each edge is rounded on its own, in window coordinates, so that
// neighbours keep touching; the contained form is relative to the control's container.
Rect windowPixelRect(const Control& control);
Rect pixelRectInParent(const Control& control);

// The window's height is set as an outer height: caption bar and borders included. The
// client area is what remains after this allowance. It is chosen so that the bands of the
// panel come into view exactly at the heights the program uses: at 5350 the upper panel
// ends the client area and nothing of the data frame shows; at 6645 the data frame's lower
// edge is the last row; at 7200 the address frame is whole; at 9100 the command frame is.
inline constexpr int kOuterAllowanceTwips = 435;

constexpr int clientHeightPx(int outerTwips) {
    const int client = outerTwips - kOuterAllowanceTwips;
    return client <= 0 ? 0 : twipsToPixels(client);
}

constexpr int clientWidthPx() {
    return twipsToPixels(kForm.clientWidth);
}

}  // namespace pj
