// SPDX-License-Identifier: Apache-2.0
#include "link/line_settings.h"

#include <gtest/gtest.h>

namespace pj {
namespace {

TEST(LineSettings, ReadsTheTwoSpeedsThePanelUses) {
    const auto fast = parseLineSettings("19200,N,8,1");
    ASSERT_TRUE(fast);
    EXPECT_EQ(fast->baud, 19200);
    EXPECT_EQ(fast->parity, 'N');
    EXPECT_EQ(fast->dataBits, 8);
    EXPECT_EQ(fast->stopBits, 1);
    // Ten bits a character: 0.52 ms at 19200, 1.04 ms at 9600.
    EXPECT_EQ(characterTimeUs(*fast), 521);
    EXPECT_EQ(characterTimeUs(*parseLineSettings("9600,N,8,1")), 1042);
    EXPECT_EQ(characterTimeUs(*parseLineSettings("9600,E,7,2")), 1146);
}

TEST(LineSettings, RejectsMalformedText) {
    for (const char* bad :
         {"", "19200", "19200,N,8", "19200,N,8,1,", "x,N,8,1", "0,N,8,1", "-9600,N,8,1",
          "9600,Q,8,1", "9600,NN,8,1", "9600,N,9,1", "9600,N,8,3", "9600,N,8,1x", "9600 ,N,8,1"}) {
        EXPECT_FALSE(parseLineSettings(bad)) << bad;
    }
}

}  // namespace
}  // namespace pj
