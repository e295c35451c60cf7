#include "posix/device_holders.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace pj::posix {

namespace fs = std::filesystem;

std::vector<Holder> deviceHolders(const std::string& device) {
    std::vector<Holder> holders;
    struct stat target {};
    if (::stat(device.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) {
        return holders;
    }
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code unreadable;  // another user's process, or one that just ended
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
            struct stat info {};
            if (::stat(fd.path().c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
                info.st_rdev == target.st_rdev) {
                std::ifstream comm(process.path() / "comm");
                Holder holder{std::stoi(pid), {}};
                std::getline(comm, holder.name);
                holders.push_back(std::move(holder));
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const Holder& a, const Holder& b) { return a.pid < b.pid; });
    return holders;
}

std::string describeHolders(const std::vector<Holder>& holders) {
    std::string text;
    for (const Holder& h : holders) {
        text += (text.empty() ? "pid " : " and pid ") + std::to_string(h.pid) + " (" + h.name + ")";
    }
    return text;
}

}  // namespace pj::posix
