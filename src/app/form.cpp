#include "app/form.h"

#include <array>
#include <utility>

#include "protocol/catalogue.h"
#include "protocol/frame.h"
#include "status/queries.h"

namespace pj {

Form::Form(Window& window, SerialControl& serial, FormTimers timers, const Clock& clock)
    : window_(window), serial_(serial), timers_(timers), clock_(clock) {
    // The timers as designed: off, at their design periods.
    const std::array<std::pair<Timer*, int>, 4> design{{{&timers_.Timer1, kTimer1Design},
                                                        {&timers_.Timer2, kTimer2Design},
                                                        {&timers_.Timer3, kTimer3Design},
                                                        {&timers_.Timer4, kTimer4Design}}};
    for (const auto& [timer, period] : design) {
        timer->setEnabled(false);
        timer->setInterval(period);
    }
    timers_.Timer1.setOnTimer([this] { Timer1_Timer(); });
    timers_.Timer2.setOnTimer([this] { Timer2_Timer(); });
    timers_.Timer3.setOnTimer([this] { Timer3_Timer(); });
    timers_.Timer4.setOnTimer([this] { Timer4_Timer(); });
    timers_.LinePacer.setEnabled(false);
    timers_.LinePacer.setOnTimer([this] { LinePacer_Timer(); });
    timers_.Reconnect.setEnabled(false);
    timers_.Reconnect.setInterval(kReconnectPeriod);
    timers_.Reconnect.setOnTimer([this] { Reconnect_Timer(); });
    serial_.setOnComm([this] { MSComm1_OnComm(); });
}

void Form::Load() {
    state.LineSettings = kSettings19200;
    state.AddressPrefix.clear();

    // Centred at the designed size; the top edge stays there when the window is made
    // compact, so the compact window sits above the middle of the screen.
    window_.move((window_.screenWidth() - kDesignOuterWidth) / 2,
                 (window_.screenHeight() - kDesignOuterHeight) / 2);
    window_.setHeight(kHeightCompact);

    state.RepeatCode = 0;
    state.AwaitingReply = 0;
    state.RxBuffer.clear();

    // A failure here is met again, and reported, by the port selection just below.
    serial_.setCommPort(1);
    serial_.setSettings(state.LineSettings);
    serial_.setPortOpen(true);

    // Selecting "COM1" in code runs its click, as the operator's choice would.
    window_.selectOption("Option1");
    Click("Option1");
}

bool Form::Click(std::string_view control) {
    if (unloaded_) {
        return false;
    }
    if (const AddressOption* option = findAddressOption(control)) {
        state.AddressPrefix = option->prefix;
        return true;
    }
    if (const CatalogueEntry* entry = findCatalogueEntry(control)) {
        sendOneShot(*entry);
        return true;
    }
    for (const QueryButton& query : kQueryButtons) {
        if (query.control == control) {
            sendCommand(query.command);
            return true;
        }
    }
    using Handler = void (*)(Form&);
    static constexpr std::array<std::pair<std::string_view, Handler>, 9> kHandlers{{
        {"Command16", [](Form& f) { f.end(); }},
        {"Command33", [](Form& f) { f.showPortPanel(); }},
        {"Command34", [](Form& f) { f.toggleDataDisplay(); }},
        {"Command95", [](Form& f) { f.sendManual(); }},
        {"Command96", [](Form& f) { f.clearManual(); }},
        {"Option1", [](Form& f) { f.selectPort(1); }},
        {"Option2", [](Form& f) { f.selectPort(2); }},
        {"Option9", [](Form& f) { f.selectSpeed(kSettings19200); }},
        {"Option10", [](Form& f) { f.selectSpeed(kSettings9600); }},
    }};
    for (const auto& [name, handler] : kHandlers) {
        if (name == control) {
            handler(*this);
            return true;
        }
    }
    return false;
}

void Form::end() {
    serial_.setPortOpen(false);
    for (Timer* timer : {&timers_.Timer1, &timers_.Timer2, &timers_.Timer3, &timers_.Timer4,
                         &timers_.LinePacer, &timers_.Reconnect}) {
        timer->setEnabled(false);
    }
    unloaded_ = true;
    window_.unload();
}

}  // namespace pj
