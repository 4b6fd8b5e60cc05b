// The simulated board's scenario file. A text that is accepted must write back as a text that
// is accepted again: the board seeds and rewrites the file that way.
#include "fuzz/support.h"

#include "board/sim/simboard.h"

#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    simboard::TScenario scenario;
    std::string error;
    if (!simboard::parseScenario(text, &scenario, &error))
        return 0;
    const std::string again = simboard::scenarioToJson(scenario);
    simboard::TScenario reread;
    if (!simboard::parseScenario(again, &reread, &error))
        fuzzFailure("an accepted scenario writes back as a text that is refused: " + error + "\n" + again);
    return 0;
}
