// SPDX-License-Identifier: Apache-2.0
#include "panel/one_shot.h"

#include "protocol/catalogue.h"
#include "protocol/frame.h"
#include "status/queries.h"

namespace pj {

OneShotButtons::OneShotButtons(Transaction& transaction, Repeater& repeater)
    : transaction_(transaction), repeater_(repeater) {}

bool OneShotButtons::click(ControlId control) {
    if (const AddressOption* option = findAddressOption(control)) {
        transaction_.setAddressPrefix(option->prefix);
        return true;
    }
    if (const CatalogueEntry* entry = findCatalogueEntry(control)) {
        const FamilyRule& rule = familyRule(entry->family);
        if (rule.replyWindow) {
            transaction_.setReplyWindow(*rule.replyWindow);
        }
        if (rule.displayHold) {
            transaction_.setDisplayHold(*rule.displayHold);
        }
        transaction_.send(entry->command);
        if (rule.repeatPeriod) {
            repeater_.setRepeatPeriod(*rule.repeatPeriod);
        }
        if (rule.arrowPadMode) {
            repeater_.setArrowPadMode(static_cast<std::uint8_t>(*rule.arrowPadMode));
        }
        return true;
    }
    for (const QueryButton& query : kQueryButtons) {
        if (query.control == control) {
            transaction_.send(findStatusQuery(query.query)->command);
            return true;
        }
    }
    return false;
}

}  // namespace pj
