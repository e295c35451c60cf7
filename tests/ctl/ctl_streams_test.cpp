// SPDX-License-Identifier: Apache-2.0
// pjctl's standard input and output when they misbehave: output that cannot be written, input
// that cannot be read, and input far longer than any answer.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "panel/transaction.h"

namespace pj::ctl {
namespace {

// Output to a full device: writes are taken into the buffer, and flushing them fails.
class FullDevice final : public std::streambuf {
  protected:
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    int sync() override {
        errno = ENOSPC;
        return -1;
    }
};

// Input that gives `first`, then fails to read.
class FailingInput final : public std::streambuf {
  public:
    explicit FailingInput(std::string first) : first_(std::move(first)) {
        setg(first_.data(), first_.data(), first_.data() + first_.size());
    }

  protected:
    int_type underflow() override { throw std::runtime_error("read error"); }

  private:
    std::string first_;
};

// `total` bytes of `fill`, made a block at a time as they are read, ending in `last`.
class Generated final : public std::streambuf {
  public:
    Generated(std::size_t total, char fill, std::string last)
        : left_(total), fill_(fill), last_(std::move(last)) {}
    std::size_t given() const { return given_; }

  protected:
    int_type underflow() override {
        if (left_ == 0) {
            return traits_type::eof();
        }
        const std::size_t count = std::min(left_, block_.size());
        block_.assign(block_.size(), fill_);
        if (left_ <= block_.size()) {
            last_.copy(block_.data() + count - last_.size(), last_.size());
        }
        left_ -= count;
        given_ += count;
        setg(block_.data(), block_.data(), block_.data() + count);
        return traits_type::to_int_type(block_[0]);
    }

  private:
    std::size_t left_;
    std::size_t given_ = 0;
    char fill_;
    std::string last_;
    std::string block_ = std::string(65536, '\0');
};

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(PjctlStreams, OutputThatCannotBeWrittenIsAFailure) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
    };
    const Case cases[] = {
        {{"--help"}, ""},
        {{"decode", "CR0"}, "00\r"},
        {{"--json", "decode", "status"}, "80\r"},
        {{"decode", "CR0"}, ""},  // no reply, and not even that could be said
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back() + " <- " + c.input);
        std::istringstream in(c.input);
        FullDevice full;
        std::ostream out(&full);
        std::ostringstream err;
        EXPECT_EQ(run(c.args, in, out, err), kExitFailure);
        EXPECT_EQ(err.str(),
                  "pjctl: cannot write the output: " + std::string(std::strerror(ENOSPC)) + "\n");
    }
}

TEST(PjctlStreams, InputThatCannotBeReadIsAFailureNotAnEmptyAnswer) {
    for (const std::string first : {"", "00\r"}) {
        SCOPED_TRACE(first);
        FailingInput failing(first);
        std::istream in(&failing);
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(run({"decode", "CR0"}, in, out, err), kExitFailure);
        EXPECT_EQ(out.str(), "");
        EXPECT_EQ(err.str(), "pjctl: standard input could not be read\n");
    }
}

TEST(PjctlStreams, DecodeOfAnEndlessLineKeepsOnlyWhatTheReceiveBufferWould) {
    constexpr std::size_t kTotal = 50u << 20;
    const std::string last = "PJ\x06\r";
    // What the receive buffer is left with.
    std::string newest(kRxBufferCap, 'A');
    newest.replace(newest.size() - last.size(), last.size(), last);
    std::istringstream newestIn(newest);
    std::ostringstream expected;
    std::ostringstream ignored;
    ASSERT_EQ(run({"decode", "raw"}, newestIn, expected, ignored), kExitOk);

    const long peakBefore = peakResidentKiB();
    Generated endless(kTotal, 'A', last);
    std::istream in(&endless);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(run({"decode", "raw"}, in, out, err), kExitOk) << err.str();
    EXPECT_EQ(out.str(), expected.str());
    EXPECT_EQ(endless.given(), kTotal);
    // Had the input been held, the peak would have grown by its 50 MiB at least.
    EXPECT_LT(peakResidentKiB() - peakBefore, 8 * 1024);
}

}  // namespace
}  // namespace pj::ctl
