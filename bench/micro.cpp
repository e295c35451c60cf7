// SPDX-License-Identifier: Apache-2.0
// pjmicro: what one send and one arrival cost in the panel's core, per call.
//
// The core runs on the tests' fakes (a recording window, a recording serial control, timers
// on a virtual clock that never advances), so the figures are the core's own work: the frame,
// the echo text, the window updates through the window interface and the status decoding.
// The Qt shell's share is measured end to end by pjtiming.
#include <benchmark/benchmark.h>

#include <string>

#include "app/form.h"
#include "support/fakes.h"

namespace {

using pj::ControlId;
using pj::test::Rig;

// Keeps the fake serial control's record of writes from growing without bound.
constexpr std::size_t kWritesKept = 4096;

void clearWritesNowAndThen(Rig& rig) {
    if (rig.serial.writes.size() >= kWritesKept) {
        rig.serial.writes.clear();
    }
}

// A click of "ON" in "POWER": catalogue entry, frame, Hyouji's send (write, echo into the
// sent-data label, reply window and display hold switched on). Argument 1 sends to all
// projectors, which puts the 4-byte address in front of every frame.
void BM_Send(benchmark::State& state) {
    Rig rig;
    rig.load();
    if (state.range(0) == 1) {
        rig.form.Click(ControlId::Option4);  // "ALL"
    }
    for (auto _ : state) {
        const bool handled = rig.form.Click(ControlId::Command17);
        benchmark::DoNotOptimize(handled);
        benchmark::DoNotOptimize(rig.serial.writes.back().data());
        benchmark::ClobberMemory();
        clearWritesNowAndThen(rig);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(rig.serial.writes.back().size() == 4 ? "4-byte frame" : "8-byte frame");
}
BENCHMARK(BM_Send)->Arg(0)->Arg(1);

// One period of a held "Zoom" "+" on the virtual clock: the repeat timer fires and sends,
// and the reply window and display hold that the previous send opened come to their ends.
void BM_RepeatPeriod(benchmark::State& state) {
    Rig rig;
    rig.load();
    rig.form.MouseDown(ControlId::Command15);
    const int period = rig.Timer1.interval();
    std::size_t sent = 0;
    for (auto _ : state) {
        const std::size_t before = rig.serial.writes.size();
        rig.clock.advance(period);
        sent += rig.serial.writes.size() - before;
        benchmark::ClobberMemory();
        clearWritesNowAndThen(rig);
    }
    if (sent != static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a period went by without a repeat");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RepeatPeriod);

// A short reply to a status query: "00" and a carriage return after "CR0". The receive
// event appends it to the empty buffer, shows its echo and decodes it. Before each arrival
// the reply window ends on the virtual clock and empties the buffer, as it would on the line;
// that end (a timer event on the fakes and the buffer emptied) is a few nanoseconds of the
// figure.
void BM_ArrivalShort(benchmark::State& state) {
    Rig rig;
    rig.load();
    rig.form.send("CR0");  // the query the reply answers, framed with the address
    for (auto _ : state) {
        rig.Timer2.setEnabled(true);
        rig.clock.advance(rig.Timer2.interval());
        rig.serial.arrive("00\r");
        benchmark::ClobberMemory();
    }
    if (rig.window.caption(ControlId::Label22).empty()) {
        state.SkipWithError("the reply was not decoded");
    }
    if (rig.form.state().RxBuffer != "00\r") {
        state.SkipWithError("the buffer was not emptied before the arrival");
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 3);
}
BENCHMARK(BM_ArrivalShort);

// An arrival of `range(0)` bytes into a buffer already at its cap (a noisy or wrong-speed
// line): the oldest bytes give way, and the whole capped buffer is rendered and decoded.
void BM_ArrivalCapped(benchmark::State& state) {
    Rig rig;
    rig.load();
    rig.form.send("CR0");
    std::string chunk;
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        // Printable and unprintable bytes alike, so every rule of the echo takes part.
        chunk += static_cast<char>(i % 7 == 0 ? 0x06 : 'A' + i % 26);
    }
    rig.serial.arrive(std::string(pj::kRxBufferCap, '0'));  // the buffer at its cap
    for (auto _ : state) {
        rig.serial.arrive(chunk);
        benchmark::ClobberMemory();
    }
    if (rig.form.state().RxBuffer.size() != pj::kRxBufferCap) {
        state.SkipWithError("the buffer is not at its cap");
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ArrivalCapped)->Arg(3)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
