// Fuzz target of the trace, function and recording recalls: the input is written as a file
// under a temporary simulated-board root and recalled as each kind, with the traces and
// functions of a fresh setup linked. Properties: no crash, no hang, no sanitizer report.
#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "board/board.h"
#include "core/files.h"
#include "core/gest_db.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <string>
#include <unistd.h>

namespace {

constexpr char kFile[] = "/media/user/fuzz.bin";

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

std::string& rootDir()
{
    static std::string dir;
    return dir;
}

void removeRoot()
{
    nftw(rootDir().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool prepare()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/benchview-fuzz-XXXXXX";
    if (!mkdtemp(&templ[0]) || !setBoardRoot(templ) || !seedBoardRoot())
        std::abort();
    rootDir() = templ;
    std::atexit(removeRoot);

    TSetupLinks& l = setupLinks();
    TAcquisition** traces[4] = {&l.acqCh1, &l.acqCh2, &l.acqCh3, &l.acqCh4};
    TFonction** functions[4] = {&l.mathFunctionCh1, &l.mathFunctionCh2, &l.mathFunctionCh3, &l.mathFunctionCh4};
    static char none[] = "";
    for (int n = 0; n < 4; ++n) {
        *traces[n] = new TAcquisition(static_cast<unsigned short>(1u << n));
        *functions[n] = new TFonction(static_cast<unsigned short>(n), none);
    }
    l.powerAcq = new TAcquisition(8192);
    l.maskAcq = new TAcquisition(4096);
    uint32_t** buffers[5] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                             &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee,
                             &TAcquisition::VoieAuxNormalisee};
    for (uint32_t** b : buffers)
        *b = new uint32_t[TAcquisition::kNormalisedSamples];
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const bool ready = prepare();
    (void)ready;
    std::memcpy(&data, &init_par, sizeof data);
    data.instrumentMode = 16;
    if (!writeBoardFile(kFile, std::string(reinterpret_cast<const char*>(bytes), size)))
        std::abort();
    TraceRecallAll(&data, kFile);
    FunctionRecallAll(&data, kFile);
    LoggerRecallAll(&data, kFile);
    return 0;
}
