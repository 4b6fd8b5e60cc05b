// Setup files: the first byte chooses how the rest is read, the rest is the file. Bit 0 stamps a
// valid checksum into a file of the right size (so the fuzzer gets past it), bit 1 recalls the
// file through a link in the batch directory instead of as the power-on setup. The live setup
// is then made consistent the way the controller does after every recall.
#include "fuzz/support.h"

#include "board/board.h"
#include "core/filehdr.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "core/setup_consistency.h"
#include "hardware/calibration.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr uint16_t kFourChannels = 15;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t how = bytes[0];
    const std::string file =
        fuzzRecordFile<database>(bytes, size, [](database& image) { image.setupChecksum = setupChecksum(image); });
    const auto* fileBytes = reinterpret_cast<const uint8_t*>(file.data());

    if (how & 2) {
        ::mkdir(boardPath(kBatchDir).c_str(), 0755);
        fuzzWriteBoardFile("/media/private/fuzz.cfg", fileBytes, file.size());
        const std::string link = boardPath(std::string(kBatchDir) + "/recall.cfg");
        ::unlink(link.c_str());
        if (::symlink(boardPath("/media/private/fuzz.cfg").c_str(), link.c_str()) != 0)
            fuzzFailure("cannot link " + link);
        batchRecall(kFourChannels);
    } else {
        fuzzWriteBoardFile(kPowerOnSetupFile, fileBytes, file.size());
        calibration calib;
        Startup(&calib, kFourChannels);
    }
    find_coeff();
    SetVoiesValides();
    GetMesureReference();
    return 0;
}
