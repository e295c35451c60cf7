// SPDX-License-Identifier: Apache-2.0
// pjsim: a projector on a serial line, for trying out and testing the panel without one.

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bus.h"
#include "sim/line_server.h"
#include "sim/replay.h"

namespace {

constexpr std::string_view kUsage =
    R"(Usage: pjsim [options]

Plays a projector on a serial line, or several addressed ones sharing it, or replays a
recorded projector. By default it makes a fresh pseudo-terminal and prints the path of its
slave side, the port to open, as the first line on standard output. It runs until
interrupted (SIGINT or SIGTERM).

Options:
  --link PATH       also make PATH a symbolic link to the line (removed on exit)
  --device PATH     serve an existing serial device instead of a pseudo-terminal
  --listen [ADDR:]PORT
                    serve the line over TCP instead, as a serial device server in raw TCP
                    mode does: listen on PORT (0: any free port) at the IPv4 address ADDR
                    (default 127.0.0.1, this machine only; 0.0.0.0 for every network) and
                    print the port to open, tcp://ADDR:PORT. One client at a time: a client
                    that connects while the line has one is told the line is in use and let
                    go; a client that stops reading its answers is dropped.
  --baud RATE       line rate, 19200 (default) or 9600
  --address N       this projector's number on the line, 1 to 4 (default 1)
  --projectors LIST several projectors on the line, by number, e.g. 1,2,3,4 (each once);
                    each has its own state, and all take the settings below
  --delay MS        answer MS milliseconds after each command (default 0)
  --split N         send answers in pieces of N bytes (default: whole)
  --gap MS          pause between the pieces of a split answer (default 20)
  --warmup MS       stay in "warming up" this long after power-on (default 0)
  --cooldown MS     stay in "cooling down" this long after power-off (default 0)
  --noise N         send N bytes of line noise (stray bytes of every value but the carriage
                    return and ACK) in front of every answer (default 0)
  --silent          act on commands but never answer
  --throttle        take bytes from the line no faster than the line rate
  --replay FILE     answer as the projector on a line log (pjctl --log, pjpanel --log) did,
                    with its timing: each frame the log shows the panel writing is answered
                    with what came back after it, piece by piece, as long after the frame
                    as it came then. A frame the log does not hold goes unanswered. Takes
                    none of the projector's options (--address ... --silent). FILE is a
                    regular file of at most 64 MiB.
  --loopback        be a loopback plug instead of a projector: every byte written to the
                    line comes straight back
  --strict-baud     on a pseudo-terminal, a speed the opener set other than --baud garbles
                    the bytes both ways, as at the wrong speed on a real line (the carriage
                    return passes, so the projector answers, garbled)
  --verbose         print every frame received and every byte sent on standard error; with
                    --replay, also each frame that is not in the recording
  --help            print this text
  --version         print the program's name and version

Answers: status queries (CR0, CR1, CR3, CR4, CR6, CR7, CRA, CR9, CR PRESSURE) get their
status text and a carriage return; other known commands a single ACK; unknown commands "?"
and a carriage return. Frames for another projector's address are ignored; frames for
all projectors (AFFF) are acted on but not answered. With several projectors, each acts on
and answers the frames for its own number; a frame without an address is answered by all of
them at once, and their answers collide on the line as they would on a real one.
)";

std::string escaped(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "<CR>";
        } else if (c == '\n') {
            out += "<LF>";
        } else if (c == '\x06') {
            out += "<ACK>";
        } else if (code < 32 || code > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", code);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// Bytes as a wrong speed or a bad cable makes of a line, never ending an answer early.
std::string lineNoise(std::size_t size) {
    std::string noise(size, '\0');
    unsigned state = 0x2545F491u;
    for (char& c : noise) {
        do {
            state = state * 1664525u + 1013904223u;
            c = static_cast<char>(state >> 24);
        } while (c == '\r' || c == '\x06');
    }
    return noise;
}

std::optional<int> number(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// "1,3,4": projector numbers, 1 to 4, each once.
std::optional<std::vector<int>> addressList(std::string_view text) {
    std::vector<int> addresses;
    while (true) {
        const std::size_t comma = text.find(',');
        const auto address = number(text.substr(0, comma), 1, 4);
        if (!address ||
            std::find(addresses.begin(), addresses.end(), *address) != addresses.end()) {
            return std::nullopt;
        }
        addresses.push_back(*address);
        if (comma == std::string_view::npos) {
            return addresses;
        }
        text.remove_prefix(comma + 1);
    }
}

int fail(std::string_view message) {
    std::cerr << "pjsim: " << message << "\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using pj::sim::Millis;

    pj::sim::LineOptions options;
    pj::sim::ProjectorSettings settings;
    settings.record = false;
    std::vector<int> addresses;  // several projectors; empty: one, at settings.address
    bool addressGiven = false;
    std::string replay;
    std::string_view projectorOption;  // the last option given that sets up a projector
    bool verbose = false;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= argc) {
                return std::nullopt;
            }
            return std::string_view(argv[++i]);
        };
        const auto numeric = [&](int low, int high) -> std::optional<int> {
            const auto text = value();
            return text ? number(*text, low, high) : std::nullopt;
        };

        constexpr std::string_view kProjectorOptions[] = {
            "--address", "--projectors", "--delay", "--split",  "--gap",
            "--warmup",  "--cooldown",   "--noise", "--silent",
        };
        if (std::find(std::begin(kProjectorOptions), std::end(kProjectorOptions), arg) !=
            std::end(kProjectorOptions)) {
            projectorOption = arg;
        }

        if (arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "pjsim " PJ_VERSION "\n";
            return 0;
        } else if (arg == "--silent") {
            settings.silent = true;
        } else if (arg == "--throttle") {
            options.throttle = true;
        } else if (arg == "--loopback") {
            options.loopback = true;
        } else if (arg == "--strict-baud") {
            options.strictBaud = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--link" || arg == "--device") {
            const auto text = value();
            if (!text || text->empty()) {
                return fail(std::string(arg) + " needs a path");
            }
            (arg == "--link" ? options.link : options.device) = std::string(*text);
        } else if (arg == "--listen") {
            const auto text = value();
            const std::size_t colon = text ? text->rfind(':') : std::string_view::npos;
            const auto port =
                text ? number(colon == std::string_view::npos ? *text : text->substr(colon + 1), 0,
                              65535)
                     : std::nullopt;
            if (!port || colon == 0) {
                return fail("--listen needs a TCP port, 0 to 65535, optionally after ADDRESS:");
            }
            options.listenPort = *port;
            if (colon != std::string_view::npos) {
                options.listenAddress = std::string(text->substr(0, colon));
            }
        } else if (arg == "--baud") {
            const auto rate = numeric(9600, 19200);
            if (!rate || (*rate != 9600 && *rate != 19200)) {
                return fail("--baud must be 19200 or 9600");
            }
            options.baud = *rate;
        } else if (arg == "--address") {
            const auto address = numeric(1, 4);
            if (!address) {
                return fail("--address must be 1 to 4");
            }
            settings.address = *address;
            addressGiven = true;
        } else if (arg == "--projectors") {
            const auto text = value();
            const auto list = text ? addressList(*text) : std::nullopt;
            if (!list) {
                return fail("--projectors needs projector numbers, 1 to 4, each once: 1,2,3,4");
            }
            addresses = *list;
        } else if (arg == "--replay") {
            const auto text = value();
            if (!text || text->empty()) {
                return fail("--replay needs a file");
            }
            replay = std::string(*text);
        } else if (arg == "--noise") {
            const auto size = numeric(0, 65536);
            if (!size) {
                return fail("--noise must be a number of bytes, 0 to 65536");
            }
            settings.noise = lineNoise(static_cast<std::size_t>(*size));
        } else if (arg == "--split") {
            const auto size = numeric(1, 4096);
            if (!size) {
                return fail("--split must be a number of bytes, at least 1");
            }
            settings.splitSize = static_cast<std::size_t>(*size);
        } else if (arg == "--delay" || arg == "--gap" || arg == "--warmup" || arg == "--cooldown") {
            const auto ms = numeric(0, 3'600'000);
            if (!ms) {
                return fail(std::string(arg) + " must be a number of milliseconds");
            }
            Millis& target = arg == "--delay"    ? settings.replyDelay
                             : arg == "--gap"    ? settings.splitGap
                             : arg == "--warmup" ? settings.warmUp
                                                 : settings.coolDown;
            target = Millis{*ms};
        } else {
            return fail("unknown option " + std::string(arg) + " (see --help)");
        }
    }

    if (options.listenPort && (!options.device.empty() || !options.link.empty())) {
        return fail("--listen serves TCP: it does not go with --device or --link");
    }

    if (!replay.empty() && !projectorOption.empty()) {
        return fail("--replay answers as recorded: it does not go with " +
                    std::string(projectorOption));
    }
    if (!addresses.empty() && addressGiven) {
        return fail("--address is for one projector; --projectors numbers them all");
    }

    std::unique_ptr<pj::sim::FarEnd> farEnd;
    if (!replay.empty()) {
        pj::sim::ReadRecording read = pj::sim::loadRecording(replay);
        if (!read.error.empty()) {
            return fail(read.error);
        }
        auto player = std::make_unique<pj::sim::Replay>(std::move(read.recording), false);
        if (verbose) {
            player->setUnmatchedObserver([](std::string_view frame) {
                std::cerr << "pjsim: not in the recording: " << escaped(frame) << std::endl;
            });
        }
        farEnd = std::move(player);
    } else if (!addresses.empty()) {
        farEnd = std::make_unique<pj::sim::Bus>(pj::sim::Bus::withAddresses(addresses, settings));
    } else {
        farEnd = std::make_unique<pj::sim::Bus>(std::vector{pj::sim::Projector(settings)});
    }

    if (verbose) {
        options.trace = [](char direction, std::string_view bytes) {
            std::cerr << "pjsim: " << direction << ' ' << escaped(bytes) << std::endl;
        };
    }

    // The serving thread inherits this mask, so the signals reach only sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    pj::sim::LineServer server(options, std::move(farEnd));
    if (const auto error = server.start()) {
        return fail(*error);
    }
    std::cout << server.path() << std::endl;

    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    return 0;
}
