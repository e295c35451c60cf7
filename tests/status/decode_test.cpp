// SPDX-License-Identifier: Apache-2.0
#include "status/decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "protocol/catalogue.h"
#include "protocol/echo.h"
#include "status/queries.h"
#include "support/control_print.h"

namespace pj {
namespace {

constexpr std::int16_t kUntouched = 4321;
const std::string kNines(10000, '9');
const std::string kZeros(10000, '0');

std::string framed(std::string_view prefix, std::string_view query) {
    return std::string(prefix) + std::string(query) + '\r';
}

struct Case {
    std::string_view query;
    std::string reply;  // as received on the line; decoded through its echo text
    std::optional<std::string> readout;
};

TEST(StatusDecode, RepliesBecomeReadouts) {
    const std::vector<Case> cases = {
        {"CR0", "00\r", " Power ON"},
        {"CR0", "02\r", " NO Key input "},
        {"CR0", "24\r", " Lamp OFF & Tempereture Warning by PWR Management"},
        {"CR0", "88\r", " Temperature Warning and recoverd"},
        {"CR0", "81", " Cooling down & sutandby (All Lamp FAIL)"},
        {"CR1", "3\r", " Input mode 3"},
        {"CR1", "33", " Input mode 3"},
        {"CR4", "00\r", " Top/Bottom , Left/Right reversal"},
        {"CRA", "FF\r", " Stand by"},
        {"CR7", "03\r", " No1,2 ON  : 2 Lamp mode"},
        {"CR7", "22\r", " No2 ON  : 1 Lamp mode(No2 USE)"},
        {"CR9", "12\x06\r\n", " 1 2 ACK CR LF "},
        // Codes that are in no table, or not complete yet, keep the readout.
        {"CR0", "99\r", std::nullopt},
        {"CR0", "0", std::nullopt},
        {"CR0", "\r", std::nullopt},
        {"CR1", "6\r", std::nullopt},
        {"CRA", "ff\r", std::nullopt},
        // Lamp hours: the first 38 characters of the echo, whatever they are.
        {"CR3", "01234\r", " 0 1 2 3 4 CR  Hour Use"},
        {"CR3", "ABCDEFGHIJKLMNOPQRSTUVWXY", " A B C D E F G H I J K L M N O P Q R S Hour Use"},
        {"CR3", "ABCDEFGHIJKLMNOPQR\r", " A B C D E F G H I J K L M N O P Q R C Hour Use"},
        {"CR6", "12345\r", "  S1= 1 2 3 4 5 C  ,   S2=  C  ,   S3=  C  ,   S4=  C "},
        {"CR6", "ABCDEFGHIJKLMNOPQRSTUVWX",
         "  S1= A B C D E C  ,   S2=  H I J K C  ,   S3= N O P Q  C  ,   S4=  U V W X C "},
        // Pressure: the leading number of the echo, 0 when there is none.
        {"CR PRESSURE", "512\r", "650 hPa"},
        {"CR PRESSURE", "0\r", "106 hPa"},
        {"CR PRESSURE", "6553\r", "7077 hPa"},
        {"CR PRESSURE", "-6553\r", "-6865 hPa"},
        {"CR PRESSURE", "5", "111 hPa"},
        {"CR PRESSURE", kZeros + "5", "111 hPa"},
        {"CR PRESSURE", "NG\r", "106 hPa"},
        {"CR PRESSURE", "-", "106 hPa"},
        {"CR PRESSURE", "+.\r", "106 hPa"},
        {"CR PRESSURE", "1e5", "107 hPa"},
        {"CR PRESSURE", ".6", "107 hPa"},
        // Halves of the reading go to the even neighbour.
        {"CR PRESSURE", "512.5\r", "650 hPa"},
        {"CR PRESSURE", "513.5\r", "652 hPa"},
        {"CR PRESSURE", "512.5001", "651 hPa"},
        {"CR PRESSURE", "-0.5", "106 hPa"},
        {"CR PRESSURE", "0.5" + kZeros + "1", "107 hPa"},
        // Outside the range the conversion is defined for: the readout stays.
        {"CR PRESSURE", "6554\r", std::nullopt},
        {"CR PRESSURE", "-6553.5", std::nullopt},
        {"CR PRESSURE", "32768", std::nullopt},
        {"CR PRESSURE", kNines, std::nullopt},
        {"CR PRESSURE", "1" + kZeros, std::nullopt},
    };
    for (const Case& c : cases) {
        std::int16_t pressure = kUntouched;
        const std::string echo = echoText(c.reply);
        EXPECT_EQ(decodeStatus(framed("", c.query), "", echo, pressure), c.readout)
            << c.query << " answered with echo \"" << echo.substr(0, 60) << '"';
        if (c.readout && c.query == "CR PRESSURE") {
            EXPECT_EQ(std::to_string(pressure) + " hPa", *c.readout);
        } else {
            EXPECT_EQ(pressure, kUntouched) << c.query << ' ' << echo.substr(0, 60);
        }
    }
}

TEST(StatusDecode, TemperaturesAreCutFromFixedPositions) {
    // Position p of the ruler is its pth character: each reading shows where it was cut.
    const std::string ruler = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::vector<std::pair<std::size_t, std::string>> cuts = {
        {14, "  S1=abcdefghij C  ,   S2=  C  ,   S3=  C  ,   S4=  C "},
        {15, "  S1=abcdefghij C  ,   S2= o C  ,   S3=  C  ,   S4=  C "},
        {30, "  S1=abcdefghij C  ,   S2= opqrstuv C  ,   S3= BCD C  ,   S4=  C "},
        {52, "  S1=abcdefghij C  ,   S2= opqrstuv C  ,   S3= BCDEFGHI C  ,   S4= OPQRSTUV C "},
    };
    for (const auto& [length, readout] : cuts) {
        EXPECT_EQ(decodeTemperatures(ruler.substr(0, length)), readout) << length;
    }
}

TEST(StatusDecode, PressureConversion) {
    std::int16_t pressure = kUntouched;
    EXPECT_EQ(decodePressure("\t5\n1 2 CR ", pressure), "650 hPa");
    EXPECT_EQ(pressure, 650);
    EXPECT_EQ(decodePressure(" 7 0 0 0 CR ", pressure), std::nullopt);
    EXPECT_EQ(pressure, 650);

    const std::vector<std::pair<std::int16_t, std::optional<std::int16_t>>> cases = {
        {6553, 7077},
        {-6553, -6865},
        {6554, std::nullopt},
        {-6554, std::nullopt},
        // Results a hair either side of a half: 2989.49993, 3606.50020, -762.49999...
        {2711, 2989},
        {3291, 3607},
        {-816, -762},
    };
    for (const auto& [reading, hpa] : cases) {
        EXPECT_EQ(pressureHpa(reading), hpa) << reading;
    }
    EXPECT_EQ(readPressure(" 3 2 7 6 7 . 4 CR "), 32767);
    EXPECT_EQ(readPressure(" - 3 2 7 6 8 . 5 CR "), -32768);
    EXPECT_EQ(readPressure(" 3 2 7 6 7 . 5 CR "), std::nullopt);
}

TEST(StatusDecode, RepliesArrivingInPiecesAreDecodedAgain) {
    std::string label = "previous";
    std::int16_t pressure = kUntouched;
    const auto receive = [&](std::string_view query, std::string_view rx) {
        if (const auto text = decodeStatus(framed("", query), "", echoText(rx), pressure)) {
            label = *text;
        }
    };
    receive("CR0", "0");
    EXPECT_EQ(label, "previous");
    receive("CR0", "00\r");
    EXPECT_EQ(label, " Power ON");
    receive("CR PRESSURE", "5");
    EXPECT_EQ(label, "111 hPa");
    receive("CR PRESSURE", "512\r");
    EXPECT_EQ(label, "650 hPa");
    EXPECT_EQ(pressure, 650);
}

TEST(StatusDecode, OnlyTheExactFrameUnderTheCurrentAddressIsDecoded) {
    // The same reply reads differently for every query, so each query's decoder shows.
    const std::vector<Case> onePerQuery = {
        {"CR0", "00\r", " Power ON"},
        {"CR1", "1\r", " Input mode 1"},
        {"CR4", "00\r", " Top/Bottom , Left/Right reversal"},
        {"CR3", "00\r", " 0 0 CR  Hour Use"},
        {"CR6", "00\r", "  S1= 0 0 CR  C  ,   S2=  C  ,   S3=  C  ,   S4=  C "},
        {"CRA", "00\r", " Video & Audio mute OFF"},
        {"CR9", "00\r", " 0 0 CR "},
        {"CR PRESSURE", "00\r", "106 hPa"},
        {"CR7", "00\r", " All OFF : 2 Lamp mode"},
    };
    const std::vector<std::string_view> prefixes = {"", "AFFF", "A001", "A002", "A004"};
    for (const Case& c : onePerQuery) {
        const std::string echo = echoText(c.reply);
        std::int16_t pressure = kUntouched;
        for (const std::string_view sentTo : prefixes) {
            for (const std::string_view current : prefixes) {
                EXPECT_EQ(decodeStatus(framed(sentTo, c.query), current, echo, pressure),
                          sentTo == current ? c.readout : std::nullopt)
                    << c.query << " sent to \"" << sentTo << "\", now \"" << current << '"';
            }
        }
        std::string lower(c.query);
        std::transform(lower.begin(), lower.end(), lower.begin(), [](char ch) {
            return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
        });
        const std::string query(c.query);
        for (const std::string& sent : {lower + '\r', query, query + " \r", std::string("C00\r")}) {
            EXPECT_EQ(decodeStatus(sent, "", echo, pressure), std::nullopt) << sent;
        }
    }
    for (const QueryButton& button : kQueryButtons) {
        EXPECT_TRUE(std::any_of(
            onePerQuery.begin(), onePerQuery.end(),
            [&](const Case& c) { return c.query == findStatusQuery(button.query)->command; }))
            << button.control << " sends a query that is not decoded";
    }
}

// Arbitrary replies rendered to echo text, and arbitrary text no echo would contain: no
// decoder fails, and each readout keeps its shape.
TEST(StatusDecode, ArbitraryEchoesDecodeSafely) {
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> length(0, 80);
    std::uniform_int_distribution<int> anyByte(0, 255);
    const std::string_view likely = "0123456789.+-  \t\n\rCRe";
    std::uniform_int_distribution<std::size_t> pick(0, likely.size() - 1);

    for (int round = 0; round < 3000; ++round) {
        std::string text(static_cast<std::size_t>(length(random)), ' ');
        for (char& ch : text) {
            ch = round % 2 == 0 ? likely[pick(random)] : static_cast<char>(anyByte(random));
        }
        const std::string echo = round % 3 == 0 ? text : echoText(text);
        for (const StatusQuery& query : kStatusQueries) {
            std::int16_t pressure = kUntouched;
            const auto readout =
                decodeStatus(framed("A001", query.command), "A001", echo, pressure);
            const std::string_view command = query.command;
            const std::string shown = readout.value_or("");
            if (command == "CR9") {
                EXPECT_EQ(readout, echo);
            } else if (command == "CR3") {
                EXPECT_TRUE(shown.ends_with(" Hour Use") && shown.size() <= 38 + 9 &&
                            echo.starts_with(shown.substr(0, shown.size() - 9)))
                    << shown;
            } else if (command == "CR6") {
                EXPECT_TRUE(shown.starts_with("  S1=") && shown.ends_with(" C ")) << shown;
            } else if (command == "CR PRESSURE" && readout) {
                EXPECT_EQ(shown, std::to_string(pressure) + " hPa");
            } else if (readout) {
                // Every key begins with the echo's leading space.
                EXPECT_TRUE(shown.starts_with(' ') && echo.starts_with(' ')) << command;
            }
            if (command != "CR PRESSURE" || !readout) {
                EXPECT_EQ(pressure, kUntouched) << command;
            }
        }
    }
}

}  // namespace
}  // namespace pj
