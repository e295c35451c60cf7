// SPDX-License-Identifier: Apache-2.0
#include "panel/layout.h"

#include <algorithm>

namespace pj {

namespace {

using enum ControlKind;
using enum Colour;
using enum FontCode;
using enum Align;
using Id = ControlId;

constexpr std::uint8_t None = 0;
constexpr std::uint8_t Border = kBorder;
constexpr std::uint8_t Hidden = kHidden;
constexpr std::uint8_t Selected = kSelected;

constexpr std::array kColours{
    ColourSpec{Silver, "silver", 192, 192, 192, false},
    ColourSpec{White, "white", 255, 255, 255, false},
    ColourSpec{Peach, "peach", 255, 224, 192, false},
    ColourSpec{Pink, "pink", 255, 192, 192, false},
    ColourSpec{Green, "green", 192, 255, 192, false},
    ColourSpec{Cyan, "cyan", 192, 255, 255, false},
    ColourSpec{Yellow, "yellow", 255, 255, 192, false},
    ColourSpec{Lavender, "lavender", 192, 192, 255, false},
    ColourSpec{Teal, "teal", 0, 192, 192, false},
    ColourSpec{Orange, "orange", 255, 128, 0, false},
    ColourSpec{Red, "red", 255, 0, 0, false},
    ColourSpec{DarkRed, "dark red", 192, 0, 0, false},
    ColourSpec{LineBlue, "line blue", 128, 128, 255, false},
    ColourSpec{Black, "black", 0, 0, 0, false},
    ColourSpec{ButtonFace, "button face", 240, 240, 240, true},
    ColourSpec{TextBoxColours, "text box colours", 255, 255, 255, true},
    ColourSpec{NoColour, "none", 0, 0, 0, true},
};

constexpr std::array kFonts{
    FontSpec{G9Bold, "G9 bold", FontFace::Fixed, 900, true},
    FontSpec{G9, "G9", FontFace::Fixed, 900, false},
    FontSpec{G8, "G8", FontFace::Fixed, 825, false},
    FontSpec{G8Bold, "G8 bold", FontFace::Fixed, 825, true},
    FontSpec{G10, "G10", FontFace::Fixed, 975, false},
    FontSpec{G10Bold, "G10 bold", FontFace::Fixed, 975, true},
    FontSpec{P9, "P9", FontFace::Proportional, 900, false},
    FontSpec{P9Bold, "P9 bold", FontFace::Proportional, 900, true},
    FontSpec{P7, "P7", FontFace::Proportional, 750, false},
    FontSpec{P10Bold, "P10 bold", FontFace::Proportional, 975, true},
    FontSpec{NoFont, "none", FontFace::Fixed, 0, false},
};

// clang-format off
constexpr std::array kControls{
//  name         kind     parent     caption           left  top   width height back       fore     font     tab  align   flags
    // Upper panel: the titled frames.
    Control{Id::Frame1,    Frame,   Id::Form1,   "",               120,  240,  1695, 975,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label1,    Label,   Id::Frame1,  "POWER",          240,  240,  1095, 255,  Silver,    DarkRed, P9,      0,   Centre, None},
    Control{Id::Command17, Button,  Id::Frame1,  "ON",             120,  600,  615,  300,  Green,     Black,   P9Bold,  1,   Centre, None},
    Control{Id::Command18, Button,  Id::Frame1,  "OFF",            960,  600,  615,  300,  Pink,      Black,   P9Bold,  22,  Centre, None},

    Control{Id::Frame2,    Frame,   Id::Form1,   "",               2400, 240,  2535, 975,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label2,    Label,   Id::Frame2,  "INPUT MODE SET", 240,  240,  1935, 255,  Silver,    Black,   P9,      0,   Centre, None},
    Control{Id::Command27, Button,  Id::Frame2,  "1",              120,  600,  495,  300,  Cyan,      Black,   P9Bold,  29,  Centre, None},
    Control{Id::Command28, Button,  Id::Frame2,  "2",              720,  600,  495,  300,  Cyan,      Black,   P9Bold,  30,  Centre, None},
    Control{Id::Command29, Button,  Id::Frame2,  "3",              1320, 600,  495,  300,  Cyan,      Black,   P9Bold,  31,  Centre, None},
    Control{Id::Command53, Button,  Id::Frame2,  "4",              1920, 600,  495,  300,  Cyan,      Black,   P9Bold,  60,  Centre, None},

    Control{Id::Frame6,    Frame,   Id::Form1,   "",               5640, 240,  1695, 975,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label7,    Label,   Id::Frame6,  "MENU",           360,  240,  975,  255,  Silver,    Black,   P9,      0,   Centre, None},
    Control{Id::Command23, Button,  Id::Frame6,  "ON",             120,  600,  615,  300,  Green,     Black,   P9Bold,  25,  Centre, None},
    Control{Id::Command24, Button,  Id::Frame6,  "OFF",            960,  600,  615,  300,  Pink,      Black,   P9Bold,  26,  Centre, None},

    Control{Id::Frame10,   Frame,   Id::Form1,   "",               7920, 600,  1455, 1695, Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label20,   Label,   Id::Frame10, "LENS SHIFT",     120,  195,  1215, 300,  Silver,    Black,   P7,      0,   Centre, None},
    Control{Id::Command59, Button,  Id::Frame10, "↑",              480,  600,  492,  252,  Peach,     Black,   P7,      68,  Centre, None},
    Control{Id::Command60, Button,  Id::Frame10, "←",              240,  960,  492,  252,  Peach,     Black,   P7,      69,  Centre, None},
    Control{Id::Command61, Button,  Id::Frame10, "→",              720,  960,  492,  252,  Peach,     Black,   P7,      70,  Centre, None},
    Control{Id::Command62, Button,  Id::Frame10, "↓",              480,  1320, 492,  252,  Peach,     Black,   P7,      71,  Centre, None},

    Control{Id::Frame4,    Frame,   Id::Form1,   "",               120,  1440, 1455, 855,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label5,    Label,   Id::Frame4,  "NO SHOW",        120,  210,  1095, 285,  Silver,    Black,   P9,      0,   Centre, None},
    Control{Id::Command21, Button,  Id::Frame4,  "ON",             120,  480,  615,  300,  Green,     Black,   P9Bold,  23,  Centre, None},
    Control{Id::Command22, Button,  Id::Frame4,  "OFF",            720,  480,  615,  300,  Pink,      Black,   P9Bold,  24,  Centre, None},

    Control{Id::Frame7,    Frame,   Id::Form1,   "",               2040, 1440, 1455, 855,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label8,    Label,   Id::Frame7,  "FREEZE",         240,  210,  975,  285,  Silver,    Black,   P9,      0,   Centre, None},
    Control{Id::Command25, Button,  Id::Frame7,  "ON",             120,  480,  615,  300,  Green,     Black,   P9Bold,  27,  Centre, None},
    Control{Id::Command26, Button,  Id::Frame7,  "OFF",            720,  480,  615,  300,  Pink,      Black,   P9Bold,  28,  Centre, None},

    Control{Id::Frame5,    Frame,   Id::Form1,   "",               3960, 1440, 1695, 855,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label6,    Label,   Id::Frame5,  "AV Size",        360,  210,  975,  285,  Silver,    Black,   P9,      0,   Centre, None},
    Control{Id::Command31, Button,  Id::Frame5,  "Nopmal",         120,  480,  855,  300,  Cyan,      Black,   P9,      32,  Centre, None},
    Control{Id::Command32, Button,  Id::Frame5,  "Wide",           960,  480,  615,  300,  Cyan,      Black,   P9,      33,  Centre, None},

    Control{Id::Frame12,   Frame,   Id::Form1,   "",               6240, 1440, 1095, 855,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label25,   Label,   Id::Frame12, "SHUTTER",        120,  210,  855,  255,  Silver,    Black,   G9Bold,  0,   Centre, None},
    Control{Id::Command88, Button,  Id::Frame12, "ON",             120,  480,  345,  300,  Green,     Black,   G9,      126, Centre, None},
    Control{Id::Command89, Button,  Id::Frame12, "OFF",            480,  480,  495,  300,  Pink,      Black,   G9,      127, Centre, None},

    // Upper panel: the cursor pad.
    Control{Id::Command5,  Button,  Id::Form1,   "↑",              1200, 2520, 855,  375,  Peach,     Black,   P9Bold,  12,  Centre, None},
    Control{Id::Command9,  Button,  Id::Form1,   "←",              240,  3000, 855,  375,  Peach,     Black,   P9Bold,  16,  Centre, None},
    Control{Id::Command6,  Button,  Id::Form1,   "SELECT",         1200, 3000, 855,  375,  Orange,    Black,   G9,      13,  Centre, None},
    Control{Id::Command8,  Button,  Id::Form1,   "→",              2160, 3000, 855,  375,  Peach,     Black,   P9Bold,  15,  Centre, None},
    Control{Id::Command7,  Button,  Id::Form1,   "↓",              1200, 3480, 855,  375,  Peach,     Black,   P9Bold,  14,  Centre, None},

    // Upper panel: zoom, focus, digital zoom, keystone.
    Control{Id::Label13,   Label,   Id::Form1,   "Zoom",           4440, 2520, 492,  252,  Silver,    Black,   G9,      0,   Left,   None},
    Control{Id::Command15, Button,  Id::Form1,   "+",              4440, 2880, 375,  255,  Cyan,      Black,   G9,      44,  Centre, None},
    Control{Id::Command35, Button,  Id::Form1,   "-",              4440, 3240, 375,  255,  Cyan,      Black,   G9,      45,  Centre, None},
    Control{Id::Label14,   Label,   Id::Form1,   "Focus",          5280, 2520, 615,  255,  Silver,    Black,   G9,      0,   Left,   None},
    Control{Id::Command36, Button,  Id::Form1,   "+",              5280, 2880, 375,  255,  Cyan,      Black,   G9,      47,  Centre, None},
    Control{Id::Command37, Button,  Id::Form1,   "-",              5280, 3240, 375,  255,  Cyan,      Black,   G9,      48,  Centre, None},
    Control{Id::Label17,   Label,   Id::Form1,   "D.Zoom",         6360, 2520, 735,  255,  Silver,    Black,   G9,      0,   Left,   None},
    Control{Id::Command48, Button,  Id::Form1,   "+",              6480, 2880, 375,  255,  Cyan,      Black,   P9,      54,  Centre, None},
    Control{Id::Command49, Button,  Id::Form1,   "-",              6480, 3240, 375,  255,  Cyan,      Black,   G9,      55,  Centre, None},
    Control{Id::Label18,   Label,   Id::Form1,   "Keystone",       7320, 2520, 855,  255,  Silver,    Black,   G9,      0,   Left,   None},
    Control{Id::Command50, Button,  Id::Form1,   "↑",              7440, 2880, 375,  255,  Peach,     Black,   G9,      57,  Centre, None},
    Control{Id::Command91, Button,  Id::Form1,   "←",              7080, 3120, 375,  255,  Peach,     Black,   G9Bold,  130, Centre, None},
    Control{Id::Command90, Button,  Id::Form1,   "→",              7800, 3120, 375,  255,  Peach,     Black,   G9Bold,  129, Centre, None},
    Control{Id::Command51, Button,  Id::Form1,   "↓",              7440, 3240, 375,  255,  Peach,     Black,   G9,      58,  Centre, None},

    // Upper panel: the function column.
    Control{Id::Command13, Button,  Id::Form1,   "A-PC Adj",       8400, 2880, 975,  250,  Teal,      Black,   G9,      19,  Centre, None},
    Control{Id::Command30, Button,  Id::Form1,   "IMAGE",          8400, 3120, 975,  255,  Lavender,  Black,   G9,      81,  Centre, None},
    Control{Id::Command14, Button,  Id::Form1,   "P-TIMER",        8400, 3360, 975,  250,  Lavender,  Black,   G9,      20,  Centre, None},
    Control{Id::Command3,  Button,  Id::Form1,   "DISPLAY CLEAR",  8400, 3600, 975,  492,  Lavender,  Black,   G9,      11,  Centre, None},
    Control{Id::Command16, Button,  Id::Form1,   "END",            8400, 4320, 975,  375,  Silver,    Black,   G9Bold,  21,  Centre, None},

    // Upper panel: lamp mode.
    Control{Id::Label19,   Label,   Id::Form1,   "LAMP Mode",      6480, 3720, 1335, 255,  Silver,    Black,   G9,      0,   Centre, None},
    Control{Id::Command56, Button,  Id::Form1,   "FULL",           6600, 3960, 1320, 372,  Yellow,    Black,   G9,      63,  Centre, None},
    Control{Id::Command57, Button,  Id::Form1,   "LAMP1",          6600, 4320, 705,  372,  Yellow,    Black,   G9,      64,  Centre, None},
    Control{Id::Command58, Button,  Id::Form1,   "LAMP2",          7320, 4320, 600,  372,  Yellow,    Black,   G9,      65,  Centre, None},

    // Upper panel: picture modes.
    Control{Id::Command4,  Button,  Id::Form1,   "STAND",          240,  4080, 975,  255,  Peach,     Black,   G9,      85,  Centre, None},
    Control{Id::Command10, Button,  Id::Form1,   "REAL",           1200, 4080, 975,  255,  Peach,     Black,   G9,      86,  Centre, None},
    Control{Id::Command11, Button,  Id::Form1,   "CINEMA",         2160, 4080, 975,  255,  Peach,     Black,   G9,      87,  Centre, None},
    Control{Id::Command39, Button,  Id::Form1,   "CUSTOM1",        240,  4320, 975,  255,  Cyan,      Black,   G9,      88,  Centre, None},
    Control{Id::Command40, Button,  Id::Form1,   "CUSTOM2",        1200, 4320, 975,  255,  Cyan,      Black,   G9,      89,  Centre, None},
    Control{Id::Command41, Button,  Id::Form1,   "CUSTOM3",        2160, 4320, 975,  255,  Cyan,      Black,   G9,      90,  Centre, None},
    Control{Id::Command42, Button,  Id::Form1,   "CUSTAM4",        240,  4560, 975,  255,  Cyan,      Black,   G9,      91,  Centre, None},

    // Upper panel: the port button, the picture, and the port panel lying over the button.
    Control{Id::Command33, Button,  Id::Form1,   "COM",            4080, 4200, 1815, 375,  ButtonFace, Black,  P9,      34,  Centre, None},
    Control{Id::Image1,    Image,   Id::Form1,   "",               8160, 120,  1200, 390,  NoColour,  Black,   NoFont,  0,   Left,   None},
    Control{Id::Frame8,    Frame,   Id::Form1,   "",               3480, 3600, 2775, 1185, Silver,    Black,   NoFont,  0,   Left,   Hidden},
    Control{Id::Option1,   Option,  Id::Frame8,  "COM1",           240,  240,  1215, 255,  Silver,    Black,   P9,      36,  Left,   None},
    Control{Id::Option2,   Option,  Id::Frame8,  "COM2",           1560, 240,  1095, 255,  Silver,    Black,   P9,      37,  Left,   None},
    Control{Id::Frame13,   Frame,   Id::Frame8,  "",               120,  480,  2535, 615,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Option9,   Option,  Id::Frame13, "19200",          120,  240,  1095, 255,  Silver,    Black,   P9,      83,  Left,   Selected},
    Control{Id::Option10,  Option,  Id::Frame13, "9600",           1440, 240,  975,  300,  Silver,    Black,   P9,      84,  Left,   None},

    // Data band.
    Control{Id::Frame9,    Frame,   Id::Form1,   "",               45,   4920, 6312, 1290, Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label9,    Label,   Id::Frame9,  "TXD",            105,  210,  390,  285,  Silver,    Black,   G9,      0,   Right,  None},
    Control{Id::Label11,   Label,   Id::Frame9,  "",               600,  180,  5610, 300,  White,     Black,   P10Bold, 0,   Left,   Border},
    Control{Id::Label10,   Label,   Id::Frame9,  "RXD",            75,   555,  450,  300,  Silver,    Black,   G9,      0,   Right,  None},
    Control{Id::Label12,   Label,   Id::Frame9,  "",               600,  540,  5616, 300,  White,     Black,   P10Bold, 0,   Left,   Border},
    Control{Id::Label23,   Label,   Id::Frame9,  "STATUS",         90,   975,  795,  225,  Silver,    Black,   G8,      0,   Left,   None},
    Control{Id::Label22,   Label,   Id::Frame9,  "",               930,  915,  5295, 300,  White,     Red,     P9Bold,  0,   Left,   Border},
    Control{Id::Command34, Button,  Id::Form1,   "データを表示する", 6600, 5040, 1200, 375,  Silver,    Black,   P9,      43,  Centre, Hidden},
    Control{Id::Command44, Button,  Id::Form1,   "STATUS",         6480, 5640, 975,  255,  Cyan,      Black,   G8Bold,  50,  Centre, None},
    Control{Id::Command45, Button,  Id::Form1,   "MODE",           6480, 5880, 975,  255,  Cyan,      Black,   G8Bold,  51,  Centre, None},
    Control{Id::Command46, Button,  Id::Form1,   "L-TIME",         7440, 5640, 975,  255,  Cyan,      Black,   G8Bold,  52,  Centre, None},
    Control{Id::Command47, Button,  Id::Form1,   "SETTING",        7440, 5880, 975,  255,  Cyan,      Black,   G8Bold,  53,  Centre, None},
    Control{Id::Command54, Button,  Id::Form1,   "TEMP",           8400, 5640, 975,  252,  Cyan,      Black,   G8Bold,  61,  Centre, None},
    Control{Id::Command55, Button,  Id::Form1,   "L-MODE",         8400, 5880, 975,  252,  Cyan,      Black,   G8Bold,  62,  Centre, None},

    // Address band.
    Control{Id::Frame11,   Frame,   Id::Form1,   "",               75,   6225, 6765, 465,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label21,   Label,   Id::Frame11, "PJ Select",      60,   150,  1050, 255,  Silver,    Black,   G8,      0,   Left,   None},
    Control{Id::Option3,   Option,  Id::Frame11, "SINGLE",         1155, 168,  1095, 225,  Silver,    Black,   G8,      75,  Left,   Selected},
    Control{Id::Option4,   Option,  Id::Frame11, "ALL",            2280, 165,  855,  225,  Silver,    Black,   G8,      76,  Left,   None},
    Control{Id::Option5,   Option,  Id::Frame11, "001",            3240, 180,  735,  225,  Silver,    Black,   G8,      77,  Left,   None},
    Control{Id::Option6,   Option,  Id::Frame11, "002",            4080, 180,  735,  225,  Silver,    Black,   G8,      78,  Left,   None},
    Control{Id::Option7,   Option,  Id::Frame11, "003",            4920, 180,  795,  225,  Silver,    Black,   G8,      79,  Left,   None},
    Control{Id::Option8,   Option,  Id::Frame11, "004",            5880, 180,  795,  225,  Silver,    Black,   G8,      80,  Left,   None},

    // Input band: the input grid and the fan speed.
    Control{Id::Frame14,   Frame,   Id::Form1,   "",               120,  6735, 5895, 1080, Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label15,   Label,   Id::Frame14, "1",              120,  240,  255,  255,  Silver,    Black,   G9Bold,  0,   Left,   None},
    Control{Id::Command63, Button,  Id::Frame14, "DVI",            360,  240,  735,  255,  Cyan,      Black,   G9,      93,  Centre, None},
    Control{Id::Command64, Button,  Id::Frame14, "RGB",            1080, 240,  735,  255,  Cyan,      Black,   G9,      94,  Centre, None},
    Control{Id::Command65, Button,  Id::Frame14, "VIDEO",          1800, 240,  975,  255,  Cyan,      Black,   G9,      95,  Centre, None},
    Control{Id::Command66, Button,  Id::Frame14, "YPbPr",          2760, 240,  975,  255,  Cyan,      Black,   G9,      96,  Centre, None},
    Control{Id::Command67, Button,  Id::Frame14, "YCbCr",          3720, 240,  975,  255,  Cyan,      Black,   G9,      97,  Centre, None},
    Control{Id::Command68, Button,  Id::Frame14, "S-VIDEO",        4680, 240,  975,  255,  Cyan,      Black,   G9,      98,  Centre, None},
    Control{Id::Label16,   Label,   Id::Frame14, "2",              120,  480,  255,  255,  Silver,    Black,   G9Bold,  0,   Left,   None},
    Control{Id::Command71, Button,  Id::Frame14, "DVI",            360,  480,  735,  255,  Cyan,      Black,   G9,      99,  Centre, None},
    Control{Id::Command72, Button,  Id::Frame14, "RGB",            1080, 480,  735,  255,  Cyan,      Black,   G9,      100, Centre, None},
    Control{Id::Command73, Button,  Id::Frame14, "VIDEO",          1800, 480,  975,  255,  Cyan,      Black,   G9,      101, Centre, None},
    Control{Id::Command74, Button,  Id::Frame14, "YPbPr",          2760, 480,  975,  255,  Cyan,      Black,   G9,      102, Centre, None},
    Control{Id::Command75, Button,  Id::Frame14, "YCbCr",          3720, 480,  975,  255,  Cyan,      Black,   G9,      103, Centre, None},
    Control{Id::Command76, Button,  Id::Frame14, "S-VIDEO",        4680, 480,  975,  255,  Cyan,      Black,   G9,      104, Centre, None},
    Control{Id::Label24,   Label,   Id::Frame14, "3",              120,  720,  255,  255,  Silver,    Black,   G9Bold,  0,   Left,   None},
    Control{Id::Command79, Button,  Id::Frame14, "DVI",            360,  720,  735,  255,  Cyan,      Black,   G9,      105, Centre, None},
    Control{Id::Command80, Button,  Id::Frame14, "RGB",            1080, 720,  735,  255,  Cyan,      Black,   G9,      106, Centre, None},
    Control{Id::Command81, Button,  Id::Frame14, "VIDEO",          1800, 720,  975,  255,  Cyan,      Black,   G9,      107, Centre, None},
    Control{Id::Command82, Button,  Id::Frame14, "YPbPr",          2760, 720,  975,  255,  Cyan,      Black,   G9,      108, Centre, None},
    Control{Id::Command83, Button,  Id::Frame14, "YCbCr",          3720, 720,  975,  255,  Cyan,      Black,   G9,      109, Centre, None},
    Control{Id::Command84, Button,  Id::Frame14, "S-VIDEO",        4680, 720,  975,  255,  Cyan,      Black,   G9,      110, Centre, None},

    Control{Id::Frame16,   Frame,   Id::Form1,   "",               7440, 6750, 1935, 945,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Label27,   Label,   Id::Frame16, "FAN SPEED",      345,  285,  1215, 255,  Silver,    Black,   G9Bold,  0,   Left,   None},
    Control{Id::Command97, Button,  Id::Frame16, "MAX",            120,  600,  855,  255,  Green,     Black,   G9Bold,  121, Centre, None},
    Control{Id::Command98, Button,  Id::Frame16, "NOR",            960,  600,  855,  255,  Green,     Black,   G9Bold,  122, Centre, None},

    // Command band: manual command entry.
    Control{Id::Frame15,   Frame,   Id::Form1,   "",               120,  8040, 7215, 570,  Silver,    Black,   NoFont,  0,   Left,   None},
    Control{Id::Text1,     TextBox, Id::Frame15, "",               600,  165,  5055, 345,  TextBoxColours, TextBoxColours, G10Bold, 115, Left, None},
    Control{Id::Label26,   Label,   Id::Frame15, "CMD",            120,  240,  495,  255,  Silver,    Black,   G10,     0,   Left,   None},
    Control{Id::Command95, Button,  Id::Frame15, "SEND",           5760, 240,  735,  255,  Green,     Black,   G9Bold,  116, Centre, None},
    Control{Id::Command96, Button,  Id::Frame15, "CLS",            6480, 240,  615,  255,  Pink,      Black,   G9Bold,  117, Centre, None},
};

constexpr std::array kLines{
//  name       x1    y1    x2    y2
    OutlineLine{"Line7",  1080, 2400, 2160, 2400},
    OutlineLine{"Line1",  1080, 2400, 1080, 2880},
    OutlineLine{"Line2",  2160, 2400, 2160, 2880},
    OutlineLine{"Line8",  120,  2880, 1080, 2880},
    OutlineLine{"Line9",  2160, 2880, 3120, 2880},
    OutlineLine{"Line6",  120,  2880, 120,  3480},
    OutlineLine{"Line3",  3120, 2880, 3120, 3480},
    OutlineLine{"Line10", 120,  3480, 1080, 3480},
    OutlineLine{"Line12", 2160, 3480, 3120, 3480},
    OutlineLine{"Line5",  1080, 3480, 1080, 3960},
    OutlineLine{"Line4",  2160, 3480, 2160, 3960},
    OutlineLine{"Line11", 1080, 3960, 2160, 3960},
};

constexpr std::array kTimers{
    TimerSpec{"Timer1", 200},   // repeat of the press-and-hold buttons
    TimerSpec{"Timer2", 500},   // reply window
    TimerSpec{"Timer3", 5000},  // hides the port panel
    TimerSpec{"Timer4", 1000},  // display hold
};
// clang-format on

static_assert(std::ranges::all_of(kColours, [](const ColourSpec& c) {
    return kColours[static_cast<std::size_t>(c.colour)].colour == c.colour;
}));
static_assert(std::ranges::all_of(kFonts, [](const FontSpec& f) {
    return kFonts[static_cast<std::size_t>(f.code)].code == f.code;
}));

}  // namespace

const ColourSpec& colourSpec(Colour colour) {
    return kColours[static_cast<std::size_t>(colour)];
}

const FontSpec& fontSpec(FontCode code) {
    return kFonts[static_cast<std::size_t>(code)];
}

std::span<const Control> layoutControls() {
    return kControls;
}
std::span<const OutlineLine> outlineLines() {
    return kLines;
}
std::span<const TimerSpec> layoutTimers() {
    return kTimers;
}

const Control* findControl(ControlId id) {
    const auto it = std::ranges::find_if(kControls, [id](const Control& c) { return c.id == id; });
    return it == kControls.end() ? nullptr : &*it;
}

std::vector<const Control*> childrenOf(ControlId container) {
    std::vector<const Control*> children;
    for (const Control& c : kControls) {
        if (c.parent == container) {
            children.push_back(&c);
        }
    }
    return children;
}

bool isInside(const Control& control, ControlId container) {
    for (const Control* c = &control; c != nullptr; c = findControl(c->parent)) {
        if (c->parent == container) {
            return true;
        }
    }
    return false;
}

Rect windowRect(const Control& control) {
    Rect r{control.left, control.top, control.width, control.height};
    for (const Control* p = findControl(control.parent); p != nullptr; p = findControl(p->parent)) {
        r.left += p->left;
        r.top += p->top;
    }
    return r;
}

Rect windowPixelRect(const Control& control) {
    const Rect t = windowRect(control);
    const int left = twipsToPixels(t.left);
    const int top = twipsToPixels(t.top);
    return {left, top, twipsToPixels(t.right()) - left, twipsToPixels(t.bottom()) - top};
}

Rect pixelRectInParent(const Control& control) {
    Rect r = windowPixelRect(control);
    if (const Control* parent = findControl(control.parent)) {
        const Rect p = windowPixelRect(*parent);
        r.left -= p.left;
        r.top -= p.top;
    }
    return r;
}

}  // namespace pj
