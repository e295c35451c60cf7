// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string_view>

namespace pj {

// How long a command's answer is waited for, as the window does it, and what is kept of it.

// The reply window as the window is designed (its Timer2), in milliseconds.
inline constexpr int kTimer2Design = 500;
// The reply window of a command typed into the command entry.
inline constexpr int kTypedReplyWindow = 2000;

// What the received-data line shows when the reply window ends with nothing received.
inline constexpr std::string_view kNoReplyMark = " X X X X";

// The most the receive buffer holds; older characters give way to newer ones.
inline constexpr std::size_t kRxBufferCap = 1024;

}  // namespace pj
