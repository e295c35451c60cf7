// Manual command entry: any typed text, sent in the same frame as the buttons use.
#include <algorithm>

#include "app/form.h"

namespace pj {

namespace {
constexpr int kManualReplyWindow = 2000;
constexpr int kManualDisplayHold = 2500;
}  // namespace

void Form::sendManual() {
    // The line carries single-byte ASCII. Text with anything else (the box holds UTF-8) is
    // refused whole rather than sent mangled, and nothing else changes.
    const std::string typed = window_.text("Text1");
    const bool ascii = std::all_of(typed.begin(), typed.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        window_.warningBox("Not sent: the command may contain ASCII characters only.", kAppTitle);
        return;
    }
    timers_.Timer2.setInterval(kManualReplyWindow);
    timers_.Timer4.setInterval(kManualDisplayHold);
    state.ManualCommand = typed;
    sendCommand(state.ManualCommand);
}

void Form::clearManual() {
    window_.setText("Text1", "");
}

}  // namespace pj
