// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <variant>

namespace pj {

// What a small file read whole gave: its text, or why it was refused, naming the file.
struct FileRefused {
    std::string message;
};
using FileText = std::variant<std::string, FileRefused>;

// Reads `path`, a regular file (a link to one is followed) of at most `limit` bytes. A
// device, a pipe or a directory is refused before a byte is read, and reading stops at the
// limit, so that /dev/zero or a runaway file never fills memory.
FileText readBoundedFile(const std::string& path, std::size_t limit);

}  // namespace pj
