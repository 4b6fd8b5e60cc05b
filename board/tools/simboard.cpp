// Developer tool of the simulated board, on the root benchview uses (BENCHVIEW_SIMROOT, else
// "simroot" beside the executable).
//   simboard boot    a power cycle: empties /var/tmp, touches /sim/boot
// Status 0; 1 with a message when a step fails; 2 with the usage for anything else.
#include "board/board.h"
#include "board/sim/simboard.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: simboard boot\n"
                         "  boot   boot the simulated board: empty <root>/var/tmp, touch <root>/sim/boot\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], "boot") != 0)
        return usage();
    if (!resolveBoardRoot()) {
        std::fprintf(stderr, "simboard: the simulated-board root cannot be made\n");
        return 1;
    }
    std::string error;
    if (!simboard::boot(&error)) {
        std::fprintf(stderr, "simboard boot: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
