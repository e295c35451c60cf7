// pjctl: the projector's serial commands from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "ctl/ctl.h"

int main(int argc, char* argv[]) {
    // No toolkit at all: the core runs headless on pjctl's own event loop.
    const std::vector<std::string> args(argv + 1, argv + argc);
    return pj::ctl::run(args, std::cin, std::cout, std::cerr);
}
