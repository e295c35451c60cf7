// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace pj::posix {

// The reading and writing that the socket ports share, on a non-blocking stream socket.

// How reading a socket until it had nothing more for now found its connection.
struct ReadEnd {
    bool closed = false;  // the far end closed it
    int error = 0;        // it broke: the error
    bool ended() const { return closed || error != 0; }
};

// Reads everything `fd` has for now, a chunk at a time into `take`, which stops the reading
// early by returning false.
ReadEnd readAvailable(int fd, const std::function<bool(std::string_view chunk)>& take);

// Sends what `fd` takes now of `pending` and removes it from there; the error of a send that
// failed for good, else 0.
int sendSome(int fd, std::string& pending);

// Readies `fd` for closing: what is pending goes out in the background after close(), and
// what came in unread is dropped first, as a socket closed with unread input is reset rather
// than closed.
void readyToClose(int fd, const std::string& pending);

}  // namespace pj::posix
