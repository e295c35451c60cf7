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
    {"Command17", "ON",            "POWER",          "C00",               P},
    {"Command18", "OFF",           "POWER",          "C01",               P},
    {"Command27", "1",             "INPUT MODE SET", "C05",               P},
    {"Command28", "2",             "INPUT MODE SET", "C06",               P},
    {"Command29", "3",             "INPUT MODE SET", "C07",               P},
    {"Command53", "4",             "INPUT MODE SET", "C08",               P},
    {"Command21", "ON",            "NO SHOW",        "C0D",               P},
    {"Command22", "OFF",           "NO SHOW",        "C0E",               P},
    {"Command31", "Nopmal",        "AV Size",        "C0F",               P},
    {"Command32", "Wide",          "AV Size",        "C10",               P},
    {"Command23", "ON",            "MENU",           "C1C",               Adj},
    {"Command24", "OFF",           "MENU",           "C1D",               P},
    {"Command25", "ON",            "FREEZE",         "C43",               P},
    {"Command26", "OFF",           "FREEZE",         "C44",               P},
    {"Command88", "ON",            "SHUTTER",        "CF VMUTE CLOSE",    P},
    {"Command89", "OFF",           "SHUTTER",        "CF VMUTE OPEN",     P},
    {"Command97", "MAX",           "FAN SPEED",      "CF FANSPEED MAX",   P},
    {"Command98", "NOR",           "FAN SPEED",      "CF FANSPEED NOR",   P},
    {"Command56", "FULL",          "LAMP Mode",      "CF LAMPMODE FULL",  P},
    {"Command57", "LAMP1",         "LAMP Mode",      "CF LAMPMODE LAMP1", P},
    {"Command58", "LAMP2",         "LAMP Mode",      "CF LAMPMODE LAMP2", P},
    {"Command4",  "STAND",         "picture mode",   "CF IMAGE STAND",    Pic},
    {"Command10", "REAL",          "picture mode",   "CF IMAGE REAL",     Pic},
    {"Command11", "CINEMA",        "picture mode",   "CF IMAGE CINEMA",   Pic},
    {"Command39", "CUSTOM1",       "picture mode",   "CF IMAGE CUSTOM1",  Pic},
    {"Command40", "CUSTOM2",       "picture mode",   "CF IMAGE CUSTOM2",  Pic},
    {"Command41", "CUSTOM3",       "picture mode",   "CF IMAGE CUSTOM3",  Pic},
    {"Command42", "CUSTAM4",       "picture mode",   "CF IMAGE CUSTOM4",  Pic},
    {"Command63", "DVI",           "input 1",        "CF INPUT1 DIGITAL", In},
    {"Command64", "RGB",           "input 1",        "CF INPUT1 ANALOG",  In},
    {"Command65", "VIDEO",         "input 1",        "CF INPUT1 VIDEO",   In},
    {"Command66", "YPbPr",         "input 1",        "CF INPUT1 YPBPR",   In},
    {"Command67", "YCbCr",         "input 1",        "CF INPUT1 YCBCR",   In},
    {"Command68", "S-VIDEO",       "input 1",        "CF INPUT1 S-VIDEO", In},
    {"Command71", "DVI",           "input 2",        "CF INPUT2 DIGITAL", In},
    {"Command72", "RGB",           "input 2",        "CF INPUT2 ANALOG",  In},
    {"Command73", "VIDEO",         "input 2",        "CF INPUT2 VIDEO",   In},
    {"Command74", "YPbPr",         "input 2",        "CF INPUT2 YPBPR",   In},
    {"Command75", "YCbCr",         "input 2",        "CF INPUT2 YCBCR",   In},
    {"Command76", "S-VIDEO",       "input 2",        "CF INPUT2 S-VIDEO", In},
    {"Command79", "DVI",           "input 3",        "CF INPUT3 DIGITAL", In},
    {"Command80", "RGB",           "input 3",        "CF INPUT3 ANALOG",  In},
    {"Command81", "VIDEO",         "input 3",        "CF INPUT3 VIDEO",   In},
    {"Command82", "YPbPr",         "input 3",        "CF INPUT3 YPBPR",   In},
    {"Command83", "YCbCr",         "input 3",        "CF INPUT3 YCBCR",   In},
    {"Command84", "S-VIDEO",       "input 3",        "CF INPUT3 S-VIDEO", In},
    {"Command13", "A-PC Adj",      "function",       "C89",               Adj},
    {"Command30", "IMAGE",         "function",       "C27",               P},
    {"Command14", "P-TIMER",       "function",       "C8A",               P},
    {"Command3",  "DISPLAY CLEAR", "function",       "C1E",               P},
}};
// clang-format on

const FamilyRule& familyRule(SendFamily family) {
    return *std::find_if(kFamilyRules.begin(), kFamilyRules.end(),
                         [&](const FamilyRule& r) { return r.family == family; });
}

const CatalogueEntry* findCatalogueEntry(std::string_view control) {
    const auto* it = std::find_if(kCatalogue.begin(), kCatalogue.end(),
                                  [&](const CatalogueEntry& e) { return e.control == control; });
    return it == kCatalogue.end() ? nullptr : it;
}

}  // namespace pj
