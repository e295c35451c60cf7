// SPDX-License-Identifier: Apache-2.0
// pjctl: the projector's serial commands from the command line.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "ctl/descriptor_input.h"

int main(int argc, char* argv[]) {
    // No toolkit at all: the core runs headless on pjctl's own event loop.
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Standard input straight from its descriptor, so that a read error is one; the output
    // goes through std::cout, whose flush reports a write that failed.
    pj::ctl::DescriptorInput input(STDIN_FILENO);
    std::istream in(&input);
    return pj::ctl::run(args, in, std::cout, std::cerr);
}
