// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "core/window.h"
#include "panel/transaction.h"
#include "protocol/frame.h"

namespace pj {

// Manual command entry: any typed text ("Text1"), sent by "SEND" in the same frame as the
// buttons use, and emptied by "CLS".
class ManualEntry {
  public:
    ManualEntry(Window& window, Transaction& transaction);

    // The operator changed the entry's text.
    void change(std::string_view text) { typed_ = text; }
    void send();
    void clear();

    const std::string& manualCommand() const { return manualCommand_; }

  private:
    Window& window_;
    Transaction& transaction_;
    std::string typed_;
    std::string manualCommand_;
};

}  // namespace pj
