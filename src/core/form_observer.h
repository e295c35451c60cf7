// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace pj {

// What a program running the core headless learns of the line, as it happens. Every call
// mirrors something the window shows; none of them changes what the core does.
class FormObserver {
  public:
    virtual ~FormObserver() = default;

    // A frame went out, byte for byte.
    virtual void sent(std::string_view frame) { static_cast<void>(frame); }
    // One arrival from the line, as it came, and the RXD line's echo of the receive buffer
    // it joined. Any readout it brought has been given just before.
    virtual void received(std::string_view bytes, std::string_view echo) {
        static_cast<void>(bytes);
        static_cast<void>(echo);
    }
    // The status readout's new text.
    virtual void readout(std::string_view text) { static_cast<void>(text); }
    // The reply window closed; `answered` is false when nothing came (" X X X X").
    virtual void replyWindowEnded(bool answered) { static_cast<void>(answered); }
    // An opening that was under way has finished, or a lost port is back: frames can go.
    virtual void portReady() {}
    // The port cannot carry frames: it could not be opened, a send could not go out, or the
    // device went away.
    virtual void portError(std::string_view message) { static_cast<void>(message); }
};

}  // namespace pj
