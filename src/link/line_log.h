// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/form_observer.h"

namespace pj {

// `bytes` as a JSON string, each byte the code point of the same number (U+0000 to U+00FF).
std::string jsonString(std::string_view bytes);
// `bytes` as two upper-case hex digits each, one space between them.
std::string hexBytes(std::string_view bytes);

// Who writes a line log, and on what line it began.
struct LineLogHeader {
    std::string program;  // "pjpanel", "pjctl"
    std::string port;     // the device or tcp://HOST:PORT
    int baud = 19200;     // the speed at the start
};

// A record of the line's traffic as it happened: JSON Lines, a header first, then one object
// for each frame written ("dir":"out"), each arrival from the line ("dir":"in"), and each time
// the port became ready or failed ("event"). Times are milliseconds since the log began, on the
// core's clock. Each line is flushed as it is written, so a log ends where the program did.
// Passes everything on to `next`, so it can stand between the core and its observer.
class LineLog final : public FormObserver {
  public:
    LineLog(std::ostream& out, const Clock& clock, const LineLogHeader& header,
            FormObserver* next = nullptr);

    // Whether every line so far was written.
    bool good() const { return good_; }

    void sent(std::string_view frame) override;
    void received(std::string_view bytes, std::string_view echo) override;
    void readout(std::string_view text) override;
    void replyWindowEnded(bool answered) override;
    void portReady() override;
    void portError(std::string_view message) override;

  private:
    void traffic(std::string_view direction, std::string_view bytes);
    void event(std::string_view what, std::string_view text);
    void write(const std::string& line);
    std::string stamp() const;

    std::ostream& out_;
    const Clock& clock_;
    FormObserver* next_;
    std::int64_t startUs_;
    bool good_ = true;
};

}  // namespace pj
