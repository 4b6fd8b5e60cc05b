// The simulated board's control pipe: each line of the input is parsed as the pipe's reader
// parses it; an accepted line is run on the board unless it waits (presses of a set length
// sleep in real time), and every step it made must describe itself.
#include "fuzz/support.h"

#include "board/board.h"
#include "board/sim/simboard.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzInstallSimulatedBoard();
    // What a running program has under its root: the pipe itself and a probe image.
    const std::string pipe = boardPath(simboard::kControlPipePath);
    ::unlink(pipe.c_str());
    if (::mkfifo(pipe.c_str(), 0600) != 0)
        fuzzFailure("cannot make " + pipe);
    const std::vector<uint8_t> image = simboard::buildProbeImage(simboard::TProbeDescription{});
    fuzzWriteBoardFile("/sim/probe1.bin", image.data(), image.size());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(bytes), size));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<simboard::TControlStep> steps;
        std::string error;
        if (!simboard::parseControlLine(line, &steps, &error)) {
            if (error.empty())
                fuzzFailure("a line is refused without a reason: " + line);
            continue;
        }
        if (steps.empty())
            fuzzFailure("an accepted line makes no step: " + line);
        for (const simboard::TControlStep& step : steps)
            if (simboard::describe(step).empty())
                fuzzFailure("a step of an accepted line has no description: " + line);
        const bool waits = std::any_of(steps.begin(), steps.end(), [](const simboard::TControlStep& s) {
            return s.kind == simboard::TControlStep::Wait;
        });
        if (!waits)
            simboard::runControlLine(line, &error);
    }
    // Keys and probes back up for the next input; the log of ignored lines stays small.
    simboard::releaseKeys(0x7FFFFFFFu);
    simboard::setPowerKey(false);
    for (int channel = 0; channel < 4; ++channel)
        simboard::removeProbe(channel);
    ::truncate(boardPath(simboard::kControlLogPath).c_str(), 0);
    return 0;
}
