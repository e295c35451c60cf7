// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ostream>

#include "core/control_id.h"

namespace pj {

// Test failures name a control as the layout does.
inline std::ostream& operator<<(std::ostream& out, ControlId id) {
    return out << controlName(id);
}

}  // namespace pj
