#pragma once

#include <string>
#include <vector>

namespace pj::posix {

// A process that has a device open.
struct Holder {
    int pid = 0;
    std::string name;
};

// The processes that have the character device `device` open, as far as /proc tells (another
// user's processes are not seen), by their pid.
std::vector<Holder> deviceHolders(const std::string& device);

// "pid 812 (pjline)", several joined by " and "; empty when none is seen.
std::string describeHolders(const std::vector<Holder>& holders);

}  // namespace pj::posix
