// SPDX-License-Identifier: Apache-2.0
#include "ctl/descriptor_input.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace pj::ctl {

DescriptorInput::int_type DescriptorInput::underflow() {
    ssize_t got = 0;
    do {
        got = ::read(fd_, buffer_.data(), buffer_.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        throw std::system_error(errno, std::generic_category(), "read");
    }
    if (got == 0) {
        return traits_type::eof();
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return traits_type::to_int_type(buffer_[0]);
}

}  // namespace pj::ctl
