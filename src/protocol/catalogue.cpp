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
    {ControlId::Command17, "ON",            "POWER",          "C00",               P},
    {ControlId::Command18, "OFF",           "POWER",          "C01",               P},
    {ControlId::Command27, "1",             "INPUT MODE SET", "C05",               P},
    {ControlId::Command28, "2",             "INPUT MODE SET", "C06",               P},
    {ControlId::Command29, "3",             "INPUT MODE SET", "C07",               P},
    {ControlId::Command53, "4",             "INPUT MODE SET", "C08",               P},
    {ControlId::Command21, "ON",            "NO SHOW",        "C0D",               P},
    {ControlId::Command22, "OFF",           "NO SHOW",        "C0E",               P},
    {ControlId::Command31, "Nopmal",        "AV Size",        "C0F",               P},
    {ControlId::Command32, "Wide",          "AV Size",        "C10",               P},
    {ControlId::Command23, "ON",            "MENU",           "C1C",               Adj},
    {ControlId::Command24, "OFF",           "MENU",           "C1D",               P},
    {ControlId::Command25, "ON",            "FREEZE",         "C43",               P},
    {ControlId::Command26, "OFF",           "FREEZE",         "C44",               P},
    {ControlId::Command88, "ON",            "SHUTTER",        "CF VMUTE CLOSE",    P},
    {ControlId::Command89, "OFF",           "SHUTTER",        "CF VMUTE OPEN",     P},
    {ControlId::Command97, "MAX",           "FAN SPEED",      "CF FANSPEED MAX",   P},
    {ControlId::Command98, "NOR",           "FAN SPEED",      "CF FANSPEED NOR",   P},
    {ControlId::Command56, "FULL",          "LAMP Mode",      "CF LAMPMODE FULL",  P},
    {ControlId::Command57, "LAMP1",         "LAMP Mode",      "CF LAMPMODE LAMP1", P},
    {ControlId::Command58, "LAMP2",         "LAMP Mode",      "CF LAMPMODE LAMP2", P},
    {ControlId::Command4,  "STAND",         "picture mode",   "CF IMAGE STAND",    Pic},
    {ControlId::Command10, "REAL",          "picture mode",   "CF IMAGE REAL",     Pic},
    {ControlId::Command11, "CINEMA",        "picture mode",   "CF IMAGE CINEMA",   Pic},
    {ControlId::Command39, "CUSTOM1",       "picture mode",   "CF IMAGE CUSTOM1",  Pic},
    {ControlId::Command40, "CUSTOM2",       "picture mode",   "CF IMAGE CUSTOM2",  Pic},
    {ControlId::Command41, "CUSTOM3",       "picture mode",   "CF IMAGE CUSTOM3",  Pic},
    {ControlId::Command42, "CUSTAM4",       "picture mode",   "CF IMAGE CUSTOM4",  Pic},
    {ControlId::Command63, "DVI",           "input 1",        "CF INPUT1 DIGITAL", In},
    {ControlId::Command64, "RGB",           "input 1",        "CF INPUT1 ANALOG",  In},
    {ControlId::Command65, "VIDEO",         "input 1",        "CF INPUT1 VIDEO",   In},
    {ControlId::Command66, "YPbPr",         "input 1",        "CF INPUT1 YPBPR",   In},
    {ControlId::Command67, "YCbCr",         "input 1",        "CF INPUT1 YCBCR",   In},
    {ControlId::Command68, "S-VIDEO",       "input 1",        "CF INPUT1 S-VIDEO", In},
    {ControlId::Command71, "DVI",           "input 2",        "CF INPUT2 DIGITAL", In},
    {ControlId::Command72, "RGB",           "input 2",        "CF INPUT2 ANALOG",  In},
    {ControlId::Command73, "VIDEO",         "input 2",        "CF INPUT2 VIDEO",   In},
    {ControlId::Command74, "YPbPr",         "input 2",        "CF INPUT2 YPBPR",   In},
    {ControlId::Command75, "YCbCr",         "input 2",        "CF INPUT2 YCBCR",   In},
    {ControlId::Command76, "S-VIDEO",       "input 2",        "CF INPUT2 S-VIDEO", In},
    {ControlId::Command79, "DVI",           "input 3",        "CF INPUT3 DIGITAL", In},
    {ControlId::Command80, "RGB",           "input 3",        "CF INPUT3 ANALOG",  In},
    {ControlId::Command81, "VIDEO",         "input 3",        "CF INPUT3 VIDEO",   In},
    {ControlId::Command82, "YPbPr",         "input 3",        "CF INPUT3 YPBPR",   In},
    {ControlId::Command83, "YCbCr",         "input 3",        "CF INPUT3 YCBCR",   In},
    {ControlId::Command84, "S-VIDEO",       "input 3",        "CF INPUT3 S-VIDEO", In},
    {ControlId::Command13, "A-PC Adj",      "function",       "C89",               Adj},
    {ControlId::Command30, "IMAGE",         "function",       "C27",               P},
    {ControlId::Command14, "P-TIMER",       "function",       "C8A",               P},
    {ControlId::Command3,  "DISPLAY CLEAR", "function",       "C1E",               P},
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

}  // namespace pj
