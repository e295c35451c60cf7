// SPDX-License-Identifier: Apache-2.0
// The line server's hub under any traffic: three clients (one that takes messages, in
// records), the line's answers, the server's own queries, time passing, clients that send no
// more, and the line going away and coming back. Whatever comes, only whole frames are
// written, one at a time as the line settles; a raw client hears the line's bytes and never
// a message; the client in records can always read what it heard; and every query of the
// server's own is answered once.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "line/hub.h"
#include "link/line_wire.h"
#include "support/fakes.h"

namespace {

using pj::line::Hub;

constexpr int kWindowMs = 50;  // settle, hold and the server's queries alike
constexpr std::size_t kMaxFrame = 16;

struct Line final : pj::line::LineLink {
    bool write(std::string_view frame) override {
        PJ_FUZZ_CHECK(!frame.empty() && frame.back() == '\r');
        PJ_FUZZ_CHECK(frame.size() <= kMaxFrame + 1);
        PJ_FUZZ_CHECK(frame.find_first_of("\r\n") == frame.size() - 1);
        PJ_FUZZ_CHECK(frame.front() != '\0');
        // One at a time: the one before was answered, or its window passed.
        PJ_FUZZ_CHECK(!lastWriteMs || answeredSince || clock->now() - *lastWriteMs >= kWindowMs);
        if (takes) {
            lastWriteMs = clock->now();
            answeredSince = false;
        }
        return takes;
    }
    const pj::test::VirtualClock* clock = nullptr;
    std::optional<std::int64_t> lastWriteMs;
    bool answeredSince = false;
    bool takes = true;
};

struct Client final : pj::line::ClientLink {
    void deliver(std::string_view bytes) override {
        PJ_FUZZ_CHECK(!finished);
        heard += bytes;
    }
    void finish(std::string) override {
        PJ_FUZZ_CHECK(!finished);
        finished = true;
    }
    std::string heard;
    bool finished = false;
};

const std::string kHello = pj::wire::hello(std::string(pj::wire::kNonceSize, 'h'));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pj::fuzz::ByteReader in(data, size);
    pj::test::VirtualClock clock;
    std::deque<std::function<void()>> deferred;
    pj::line::HubSettings settings;
    settings.settleMs = settings.holdMs = kWindowMs;
    settings.maxFrame = kMaxFrame;
    settings.maxQueuedPerClient = 3;
    Hub hub(
        settings, clock.makeTimer(), clock,
        [&](std::function<void()> call) { deferred.push_back(std::move(call)); },
        [](std::string_view) {});
    Line line;
    line.clock = &clock;
    hub.lineOpened(line);
    bool up = true;
    std::vector<Client> clients(3);
    std::vector<Hub::ClientId> ids;
    for (Client& c : clients) {
        ids.push_back(hub.attach(c, "client"));
    }
    hub.fromClient(ids[0], kHello + pj::wire::message(pj::wire::kHold));

    int asked = 0;
    int answered = 0;
    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        switch (op % 6) {
            case 0:
            case 1:
            case 2: {
                // Bytes from a client; the one in records sends them as a message or data.
                std::string bytes(in.take(in.byte() % 24));
                std::erase(bytes, '\0');
                if (op % 3 == 0) {
                    // Without digits a hold is the hub's own, whose window the line checks.
                    std::erase_if(bytes, [](char c) { return c >= '0' && c <= '9'; });
                    bytes = pj::wire::encode(
                        op & 0x80 ? pj::wire::RecordType::Message : pj::wire::RecordType::Data,
                        bytes);
                }
                if (op & 0x40) {
                    hub.clientDone(ids[op % 3]);
                } else {
                    hub.fromClient(ids[op % 3], bytes);
                }
                break;
            }
            case 3: {
                std::string bytes(in.take(in.byte() % 8));
                std::erase(bytes, '\0');
                line.answeredSince = line.answeredSince || bytes.find_first_of(std::string_view(
                                                               "\r\x06", 2)) != std::string::npos;
                hub.fromLine(bytes);
                break;
            }
            case 4:
                clock.advance(in.byte() % 80);
                break;
            case 5:
                switch (in.byte() % 4) {
                    case 0:
                        ++asked;
                        hub.transact(
                            "CR0", kWindowMs, [&](const std::optional<std::string>& answer) {
                                PJ_FUZZ_CHECK(!answer || answer->find_first_of(std::string_view(
                                                             "\r\x06", 2)) == answer->size() - 1);
                                ++answered;
                            });
                        break;
                    case 1:
                        // A line opened afresh owes nothing to what went out before.
                        line.lastWriteMs.reset();
                        up ? hub.lineLost("gone") : hub.lineOpened(line);
                        up = !up;
                        break;
                    case 2:
                        line.takes = !line.takes;
                        break;
                    default:
                        while (!deferred.empty()) {
                            auto call = std::move(deferred.front());
                            deferred.pop_front();
                            call();
                        }
                }
        }
    }
    // Whatever was left in flight or waiting ends, one way or the other.
    clock.advance(10 * kWindowMs);
    hub.lineLost("end");
    while (!deferred.empty()) {
        auto call = std::move(deferred.front());
        deferred.pop_front();
        call();
    }
    PJ_FUZZ_CHECK(asked == answered);
    for (std::size_t i = 1; i < clients.size(); ++i) {
        PJ_FUZZ_CHECK(clients[i].heard.find('\0') == std::string::npos);
    }
    pj::wire::ClientReader reader(kHello);
    std::vector<pj::wire::Record> records;
    PJ_FUZZ_CHECK(reader.take(clients[0].heard, records));
    PJ_FUZZ_CHECK(reader.greeted());
    return 0;
}
