// SPDX-License-Identifier: Apache-2.0
#include "protocol/catalogue.h"

#include <algorithm>

namespace pj {

namespace {
constexpr SendFamily P = SendFamily::Plain;
constexpr SendFamily Pic = SendFamily::PictureMode;
constexpr SendFamily In = SendFamily::InputSelect;
constexpr SendFamily Adj = SendFamily::AdjustMode;
}  // namespace

// clang-format off
const std::array<CatalogueEntry, kCatalogueSize> kCatalogue{{
    {ControlId::Command17, "ON",            "POWER",          "power.on",                "C00",               P},
    {ControlId::Command18, "OFF",           "POWER",          "power.off",               "C01",               P},
    {ControlId::Command27, "1",             "INPUT MODE SET", "input.1",                 "C05",               P},
    {ControlId::Command28, "2",             "INPUT MODE SET", "input.2",                 "C06",               P},
    {ControlId::Command29, "3",             "INPUT MODE SET", "input.3",                 "C07",               P},
    {ControlId::Command53, "4",             "INPUT MODE SET", "input.4",                 "C08",               P},
    {ControlId::Command21, "ON",            "NO SHOW",        "no-show.on",              "C0D",               P},
    {ControlId::Command22, "OFF",           "NO SHOW",        "no-show.off",             "C0E",               P},
    {ControlId::Command31, "Nopmal",        "AV Size",        "av-size.normal",          "C0F",               P},
    {ControlId::Command32, "Wide",          "AV Size",        "av-size.wide",            "C10",               P},
    {ControlId::Command23, "ON",            "MENU",           "menu.on",                 "C1C",               Adj},
    {ControlId::Command24, "OFF",           "MENU",           "menu.off",                "C1D",               P},
    {ControlId::Command25, "ON",            "FREEZE",         "freeze.on",               "C43",               P},
    {ControlId::Command26, "OFF",           "FREEZE",         "freeze.off",              "C44",               P},
    {ControlId::Command88, "ON",            "SHUTTER",        "shutter.close",           "CF VMUTE CLOSE",    P},
    {ControlId::Command89, "OFF",           "SHUTTER",        "shutter.open",            "CF VMUTE OPEN",     P},
    {ControlId::Command97, "MAX",           "FAN SPEED",      "fan.max",                 "CF FANSPEED MAX",   P},
    {ControlId::Command98, "NOR",           "FAN SPEED",      "fan.normal",              "CF FANSPEED NOR",   P},
    {ControlId::Command56, "FULL",          "LAMP Mode",      "lamp-mode.full",          "CF LAMPMODE FULL",  P},
    {ControlId::Command57, "LAMP1",         "LAMP Mode",      "lamp-mode.lamp1",         "CF LAMPMODE LAMP1", P},
    {ControlId::Command58, "LAMP2",         "LAMP Mode",      "lamp-mode.lamp2",         "CF LAMPMODE LAMP2", P},
    {ControlId::Command4,  "STAND",         "picture mode",   "picture.standard",        "CF IMAGE STAND",    Pic},
    {ControlId::Command10, "REAL",          "picture mode",   "picture.real",            "CF IMAGE REAL",     Pic},
    {ControlId::Command11, "CINEMA",        "picture mode",   "picture.cinema",          "CF IMAGE CINEMA",   Pic},
    {ControlId::Command39, "CUSTOM1",       "picture mode",   "picture.custom1",         "CF IMAGE CUSTOM1",  Pic},
    {ControlId::Command40, "CUSTOM2",       "picture mode",   "picture.custom2",         "CF IMAGE CUSTOM2",  Pic},
    {ControlId::Command41, "CUSTOM3",       "picture mode",   "picture.custom3",         "CF IMAGE CUSTOM3",  Pic},
    {ControlId::Command42, "CUSTAM4",       "picture mode",   "picture.custom4",         "CF IMAGE CUSTOM4",  Pic},
    {ControlId::Command63, "DVI",           "input 1",        "input.1.dvi",             "CF INPUT1 DIGITAL", In},
    {ControlId::Command64, "RGB",           "input 1",        "input.1.rgb",             "CF INPUT1 ANALOG",  In},
    {ControlId::Command65, "VIDEO",         "input 1",        "input.1.video",           "CF INPUT1 VIDEO",   In},
    {ControlId::Command66, "YPbPr",         "input 1",        "input.1.ypbpr",           "CF INPUT1 YPBPR",   In},
    {ControlId::Command67, "YCbCr",         "input 1",        "input.1.ycbcr",           "CF INPUT1 YCBCR",   In},
    {ControlId::Command68, "S-VIDEO",       "input 1",        "input.1.s-video",         "CF INPUT1 S-VIDEO", In},
    {ControlId::Command71, "DVI",           "input 2",        "input.2.dvi",             "CF INPUT2 DIGITAL", In},
    {ControlId::Command72, "RGB",           "input 2",        "input.2.rgb",             "CF INPUT2 ANALOG",  In},
    {ControlId::Command73, "VIDEO",         "input 2",        "input.2.video",           "CF INPUT2 VIDEO",   In},
    {ControlId::Command74, "YPbPr",         "input 2",        "input.2.ypbpr",           "CF INPUT2 YPBPR",   In},
    {ControlId::Command75, "YCbCr",         "input 2",        "input.2.ycbcr",           "CF INPUT2 YCBCR",   In},
    {ControlId::Command76, "S-VIDEO",       "input 2",        "input.2.s-video",         "CF INPUT2 S-VIDEO", In},
    {ControlId::Command79, "DVI",           "input 3",        "input.3.dvi",             "CF INPUT3 DIGITAL", In},
    {ControlId::Command80, "RGB",           "input 3",        "input.3.rgb",             "CF INPUT3 ANALOG",  In},
    {ControlId::Command81, "VIDEO",         "input 3",        "input.3.video",           "CF INPUT3 VIDEO",   In},
    {ControlId::Command82, "YPbPr",         "input 3",        "input.3.ypbpr",           "CF INPUT3 YPBPR",   In},
    {ControlId::Command83, "YCbCr",         "input 3",        "input.3.ycbcr",           "CF INPUT3 YCBCR",   In},
    {ControlId::Command84, "S-VIDEO",       "input 3",        "input.3.s-video",         "CF INPUT3 S-VIDEO", In},
    {ControlId::Command13, "A-PC Adj",      "function",       "function.auto-pc-adjust", "C89",               Adj},
    {ControlId::Command30, "IMAGE",         "function",       "function.image",          "C27",               P},
    {ControlId::Command14, "P-TIMER",       "function",       "function.p-timer",        "C8A",               P},
    {ControlId::Command3,  "DISPLAY CLEAR", "function",       "function.display-clear",  "C1E",               P},
}};
// clang-format on

const FamilyRule& familyRule(SendFamily family) {
    return *std::find_if(kFamilyRules.begin(), kFamilyRules.end(),
                         [&](const FamilyRule& r) { return r.family == family; });
}

const CatalogueEntry* findCatalogueEntry(ControlId control) {
    const auto* it = std::find_if(kCatalogue.begin(), kCatalogue.end(),
                                  [&](const CatalogueEntry& e) { return e.control == control; });
    return it == kCatalogue.end() ? nullptr : it;
}

const CatalogueEntry* findCatalogueEntry(std::string_view name) {
    const auto* it = std::find_if(kCatalogue.begin(), kCatalogue.end(),
                                  [&](const CatalogueEntry& e) { return e.name == name; });
    return it == kCatalogue.end() ? nullptr : it;
}

}  // namespace pj
