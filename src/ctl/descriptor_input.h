// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <streambuf>

namespace pj::ctl {

// Input read from a file descriptor with read(2). A read that fails throws, which the istream
// reading through this buffer takes as its badbit: a failure is told from the end of the
// input, as it is not on the C library's stdin under std::cin.
class DescriptorInput final : public std::streambuf {
  public:
    explicit DescriptorInput(int fd) : fd_(fd) {}

  protected:
    int_type underflow() override;

  private:
    int fd_;
    std::array<char, 16384> buffer_{};
};

}  // namespace pj::ctl
