// SPDX-License-Identifier: Apache-2.0
#include "panel/manual_entry.h"

#include <algorithm>
#include <string>

namespace pj {

ManualEntry::ManualEntry(Window& window, Transaction& transaction)
    : window_(window), transaction_(transaction) {}

void ManualEntry::send() {
    // The line carries single-byte ASCII. Text with anything else (the box holds UTF-8) is
    // refused whole rather than sent mangled, and nothing else changes. So is text with a
    // line break in it (a paste of several lines): the projectors take the carriage return
    // as the end of a command, so the part behind it would go out as a command of its own,
    // without the address, to every projector on the line. And text too long for any command
    // is refused rather than cut.
    std::string refusal;
    if (!std::all_of(typed_.begin(), typed_.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        refusal = "Not sent: the command may contain ASCII characters only.";
    } else if (typed_.find_first_of("\r\n") != std::string::npos) {
        refusal = "Not sent: the command may not contain a line break.";
    } else if (typed_.size() > kManualMostLength) {
        refusal = "Not sent: the command is longer than " + std::to_string(kManualMostLength) +
                  " characters.";
    }
    if (!refusal.empty()) {
        window_.warningBox(refusal, kAppTitle);
        return;
    }
    transaction_.setReplyWindow(kTypedReplyWindow);
    transaction_.setDisplayHold(kTypedDisplayHold);
    manualCommand_ = typed_;
    transaction_.send(manualCommand_);
}

void ManualEntry::clear() {
    typed_.clear();
    window_.setText(ControlId::Text1, "");
}

}  // namespace pj
