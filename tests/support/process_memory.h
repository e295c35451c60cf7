// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <unistd.h>

#include <fstream>

namespace pj::test {

// Resident memory of this process, in kilobytes.
inline long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace pj::test
