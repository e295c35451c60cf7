// SPDX-License-Identifier: Apache-2.0
// The core's receive path, driven through the fakes on the virtual clock: arrivals of any
// bytes in any pieces, interleaved with sends, address changes, press-and-hold, lost
// devices and the passing of time, all chosen by the input: a sequence of steps, each a
// byte (its value modulo kStepCount picks the Step) followed by the bytes the step takes.
//
// After every step the receive buffer stays within its cap and the labels within what an
// echo of a capped buffer can be; after every arrival the buffer holds exactly the newest
// characters, the received echo shows all of it and the status readout is what the decoding
// gives for it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/form.h"
#include "fuzz_support.h"
#include "protocol/catalogue.h"
#include "protocol/echo.h"
#include "protocol/frame.h"
#include "protocol/hold.h"
#include "status/decode.h"
#include "status/queries.h"
#include "support/fakes.h"

namespace {

using pj::kRxBufferCap;

// The longest text an echo of the buffer can be: every character an "ACK ".
constexpr std::size_t kMostEchoLength = 1 + 4 * kRxBufferCap;

enum Step : std::uint8_t {
    kArrive,       // a piece of up to 255 bytes
    kArriveShort,  // a piece of up to 7 bytes, as a slow line delivers them
    kFlood,        // one byte repeated up to 2048 times: a noisy or wrong-speed line
    kQuery,        // a status query button
    kAddress,      // the address selector
    kWait,         // up to about two seconds of time
    kManual,       // manual entry of a few bytes
    kOneShot,      // a one-shot button
    kPress,        // press of a press-and-hold button
    kRelease,      // release of a press-and-hold button
    kLine,         // something happens to the port
    kStepCount
};

void checkAlways(const pj::test::Rig& rig) {
    const pj::WindowState state = rig.form.state();
    PJ_FUZZ_CHECK(state.RxBuffer.size() <= kRxBufferCap);
    PJ_FUZZ_CHECK(state.AwaitingReply == 0 || state.AwaitingReply == 1);
    PJ_FUZZ_CHECK(rig.label(pj::ControlId::Label12).size() <= kMostEchoLength);
    PJ_FUZZ_CHECK(rig.label(pj::ControlId::Label22).size() <= kMostEchoLength);
}

void arrive(pj::test::Rig& rig, std::string_view bytes) {
    const std::string before = rig.form.state().RxBuffer;
    const std::string readoutBefore = rig.label(pj::ControlId::Label22);
    std::int16_t expectedPressure = rig.form.state().PressureValue;

    rig.serial.arrive(bytes);
    if (rig.form.unloaded()) {
        return;
    }
    const pj::WindowState state = rig.form.state();

    // The buffer keeps the newest characters, as many as the cap allows.
    std::string all = before + std::string(bytes);
    if (all.size() > kRxBufferCap) {
        all.erase(0, all.size() - kRxBufferCap);
    }
    PJ_FUZZ_CHECK(state.RxBuffer == all);
    PJ_FUZZ_CHECK(state.AwaitingReply == 0);
    PJ_FUZZ_CHECK(rig.label(pj::ControlId::Label12) == pj::echoText(state.RxBuffer));

    const auto readout = pj::decodeStatus(state.LastCommand, state.AddressPrefix,
                                          pj::echoText(state.RxBuffer), expectedPressure);
    PJ_FUZZ_CHECK(rig.label(pj::ControlId::Label22) == (readout ? *readout : readoutBefore));
    PJ_FUZZ_CHECK(state.PressureValue == expectedPressure);
}

void query(pj::test::Rig& rig, const pj::QueryButton& button) {
    const bool open = rig.serial.portOpen();
    const std::size_t writes = rig.serial.writes.size();
    rig.form.Click(button.control);
    const pj::WindowState state = rig.form.state();
    PJ_FUZZ_CHECK(state.LastCommand ==
                  pj::buildFrame(state.AddressPrefix, pj::findStatusQuery(button.query)->command));
    if (open) {
        PJ_FUZZ_CHECK(rig.serial.writes.size() == writes + 1);
        PJ_FUZZ_CHECK(rig.serial.writes.back() == state.LastCommand);
        PJ_FUZZ_CHECK(rig.label(pj::ControlId::Label11) == pj::echoText(state.LastCommand));
        PJ_FUZZ_CHECK(state.AwaitingReply == 1);
    } else {
        PJ_FUZZ_CHECK(rig.serial.writes.size() == writes);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pj::fuzz::ByteReader in(data, size);
    pj::test::Rig rig;
    rig.load();
    checkAlways(rig);

    // Bounded work per input, however the steps are chosen.
    for (int steps = 0; steps < 256 && !in.empty(); ++steps) {
        const std::uint8_t step = in.byte();
        switch (step % kStepCount) {
            case kArrive:
                arrive(rig, in.take(in.byte()));
                break;
            case kArriveShort:
                arrive(rig, in.take(in.byte() % 8));
                break;
            case kFlood: {
                const std::size_t count = (std::size_t{in.byte()} + 1) * 8;
                arrive(rig, std::string(count, static_cast<char>(in.byte())));
                break;
            }
            case kQuery:
                query(rig, pj::kQueryButtons[in.byte() % pj::kQueryButtons.size()]);
                break;
            case kAddress:
                rig.form.Click(pj::kAddressOptions[in.byte() % pj::kAddressOptions.size()].control);
                break;
            case kWait:
                rig.clock.advance(std::int64_t{in.byte()} * 8);
                break;
            case kManual:
                rig.type(in.take(in.byte() % 16));
                rig.form.Click(pj::ControlId::Command95);
                break;
            case kOneShot:
                rig.form.Click(pj::kCatalogue[in.byte() % pj::kCatalogue.size()].control);
                break;
            case kPress:
                rig.form.MouseDown(pj::kHoldButtons[in.byte() % pj::kHoldButtons.size()].control);
                break;
            case kRelease:
                rig.form.MouseUp(pj::kHoldButtons[in.byte() % pj::kHoldButtons.size()].control);
                break;
            case kLine:
                switch (in.byte() % 6) {
                    case 0:
                        rig.serial.loseDevice();
                        break;
                    case 1:
                        // A line error leaves the port open and must change nothing here.
                        rig.serial.raiseEvent(
                            {pj::CommEvent::Kind::LineError, std::string(1, char(in.byte()))});
                        break;
                    case 2:
                        rig.form.Click(pj::ControlId::Option1);
                        break;
                    case 3:
                        rig.form.Click(pj::ControlId::Option2);
                        break;
                    case 4:
                        rig.form.Click(in.byte() % 2 == 0 ? pj::ControlId::Option9
                                                          : pj::ControlId::Option10);
                        break;
                    default:
                        // The next opening of port 2 fails, or succeeds again.
                        if (rig.serial.openFailure.erase(2) == 0) {
                            rig.serial.openFailure[2] = "the device is busy";
                        }
                        break;
                }
                break;
            default:
                break;
        }
        checkAlways(rig);
    }
    return 0;
}
