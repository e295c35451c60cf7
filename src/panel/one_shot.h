// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/control_id.h"
#include "panel/repeater.h"
#include "panel/transaction.h"

namespace pj {

// The one-shot buttons: the catalogue's fixed commands with the side effects of their
// families, the status query buttons, and the projector address selector.
class OneShotButtons {
  public:
    OneShotButtons(Transaction& transaction, Repeater& repeater);

    // False for a control that is none of these.
    bool click(ControlId control);

  private:
    Transaction& transaction_;
    Repeater& repeater_;
};

}  // namespace pj
