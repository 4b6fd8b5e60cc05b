// Math functions: the first byte chooses the form, the rest is the text. Bit 0: the web form,
// bit 1: a line of a function file, bits 2-3: which function (channel 1 to 4). Whatever
// compiles is evaluated over a small fixed trace, at both ends of the sample buffers.
#include "fuzz/support.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/scale.h"

#include <string>
#include <unistd.h>

namespace {

// Every channel holds the same short pattern: the zero line, both ends of the code range,
// empty and invalid samples, repeated over the whole buffer.
void fixedTrace()
{
    static const uint32_t pattern[] = {kZeroLineCode, 0, kSampleCodeMask, kZeroLineCode + 1000,
                                       kZeroLineCode - 1000, kEmptySampleWord, kInvalidSampleFrom, 1};
    constexpr uint32_t n = TAcquisition::kNormalisedSamples;
    uint32_t* buffers = new uint32_t[4 * n];
    for (uint32_t i = 0; i < 4 * n; ++i)
        buffers[i] = pattern[(i + i / n) % (sizeof pattern / sizeof pattern[0])];
    TAcquisition::Voie1Normalisee = buffers;
    TAcquisition::Voie2Normalisee = buffers + n;
    TAcquisition::Voie3Normalisee = buffers + 2 * n;
    TAcquisition::Voie4Normalisee = buffers + 3 * n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    fixedTrace();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t how = bytes[0];
    std::string text(reinterpret_cast<const char*>(bytes + 1), size - 1);
    static TFonction* functions[4] = {};
    TFonction*& f = functions[(how >> 2) & 3];
    if (!f) {
        char empty[] = "";
        f = new TFonction(static_cast<unsigned short>((how >> 2) & 3), empty);
    }

    if (how & 2) {
        const int fd = fuzzMemoryFile(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        f->read(fd);
        ::close(fd);
    } else {
        f->SetFonctionString(&text[0], (how & 1) != 0);
    }

    char back[TFonction::kTextSize + 2];
    f->GetFonctionString(back, (how & 1) != 0);
    f->VoiesSrc();
    float scale = 0.0f;
    char unit[4];
    f->GetVerticalScale(&scale, unit, SCALE_SCOPE);
    if (f->IsDefined()) {
        // Results land at the samples' own indices.
        static uint32_t* out = new uint32_t[TAcquisition::kNormalisedSamples];
        f->Compute(out, 0, 64);
        f->Compute(out, TAcquisition::kNormalisedSamples - 64, 64);
    }
    return 0;
}
