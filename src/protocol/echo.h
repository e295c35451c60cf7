// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace pj {

// The printable rendition of a sent or received string: a leading space, then one piece
// per character ("ACK ", "&", "CR ", "LF ", "? ", or the character and a space).
std::string echoText(std::string_view bytes);

}  // namespace pj
