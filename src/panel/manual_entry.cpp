#include "panel/manual_entry.h"

#include <algorithm>

namespace pj {

namespace {
constexpr int kManualReplyWindow = 2000;
constexpr int kManualDisplayHold = 2500;
}  // namespace

ManualEntry::ManualEntry(Window& window, Transaction& transaction)
    : window_(window), transaction_(transaction) {}

void ManualEntry::send() {
    // The line carries single-byte ASCII. Text with anything else (the box holds UTF-8) is
    // refused whole rather than sent mangled, and nothing else changes.
    const bool ascii = std::all_of(typed_.begin(), typed_.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        window_.warningBox("Not sent: the command may contain ASCII characters only.", kAppTitle);
        return;
    }
    transaction_.setReplyWindow(kManualReplyWindow);
    transaction_.setDisplayHold(kManualDisplayHold);
    manualCommand_ = typed_;
    transaction_.send(manualCommand_);
}

void ManualEntry::clear() {
    typed_.clear();
    window_.setText(ControlId::Text1, "");
}

}  // namespace pj
