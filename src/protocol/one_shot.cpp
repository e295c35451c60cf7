// The one-shot buttons: one fixed command per click, with the side effects of its family.
#include "app/form.h"
#include "protocol/catalogue.h"

namespace pj {

void Form::sendOneShot(const CatalogueEntry& entry) {
    const FamilyRule& rule = familyRule(entry.family);
    if (rule.replyWindow) {
        timers_.Timer2.setInterval(*rule.replyWindow);
    }
    if (rule.displayHold) {
        timers_.Timer4.setInterval(*rule.displayHold);
    }
    sendCommand(entry.command);
    if (rule.repeatPeriod) {
        timers_.Timer1.setInterval(*rule.repeatPeriod);
    }
    if (rule.arrowPadMode) {
        state.ArrowPadMode = static_cast<std::uint8_t>(*rule.arrowPadMode);
    }
}

void Form::showPortPanel() {
    window_.setVisible("Frame8", true);
    timers_.Timer3.setEnabled(true);
}

}  // namespace pj
