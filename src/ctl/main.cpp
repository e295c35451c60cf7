// pjctl: the projector's serial commands from the command line.
#include <QCoreApplication>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <iostream>
#include <string>
#include <vector>

#include "ctl/ctl.h"

int main(int argc, char* argv[]) {
    // No window system is needed: the core runs headless on the event loop alone.
#ifdef _WIN32
    // "decode" reads the answer's bytes as they came: no translation of line ends.
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pjctl"));
    const std::vector<std::string> args(argv + 1, argv + argc);
    return pj::ctl::run(args, std::cin, std::cout, std::cerr);
}
