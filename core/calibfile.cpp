#include "core/calibfile.h"

#include "board/process.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "core/filehdr.h"
#include "core/fileio.h"
#include "hardware/calibration.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool readWhole(int fd, void* buffer, size_t length)
{
    auto* p = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        const ssize_t n = ::read(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The stored record when the file is whole and its checksum matches; else *refusal says why
// (empty when there is no file).
bool loadCalibrationFile(calibration& image, std::string* refusal)
{
    const int fd = openStoredFile(boardPath(kCalibrationFile), refusal);
    if (fd < 0)
        return false;
    std::string fault = storedFileShapeFault(fd, kCalibrationFileSize);
    if (fault.empty()
        && !(::lseek(fd, kFileHeaderSize, SEEK_SET) == static_cast<off_t>(kFileHeaderSize)
             && readWhole(fd, &image, sizeof image)))
        fault = "cannot be read";
    ::close(fd);
    if (fault.empty() && !calibrationChecksumValid(image))
        fault = "checksum does not match";
    if (refusal)
        *refusal = fault;
    return fault.empty();
}

// Where the simulated ADC puts a raw code, in the normalised scale read with the identity
// correction (span 262080, zero 0x60000).
int32_t simulatedAdcPoint(double raw)
{
    return static_cast<int32_t>(std::llround(393216.0 + raw * 262144.0 / 262080.0 * 64.0));
}

// The simulated ADC reads raw = 2047.5 + 3.6 u (u in thousandths of the screen height, +-500
// at the edges): every range point sits at a screen edge, the rest is the factory record. A
// board with analogue errors gets none: it starts on the factory record until it is calibrated.
void seedIdentityCalibration()
{
    struct stat st;
    if (::lstat(boardPath(kCalibrationFile).c_str(), &st) == 0 || boardScenarioNeedsCalibration())
        return;
    calibration record;
    std::memcpy(&record, &CalibUsine, sizeof record);
    const int32_t low = simulatedAdcPoint(2047.5 - 1800.0);
    const int32_t high = simulatedAdcPoint(2047.5 + 1800.0);
    for (int bwl = 0; bwl < 2; ++bwl)
        for (int ch = 0; ch < kCalibChannels; ++ch)
            for (int s = 0; s < kCalibSensitivities; ++s) {
                setCalibrationRangePoint(record, bwl, ch, 0, s, low);
                setCalibrationRangePoint(record, bwl, ch, 1, s, high);
            }
    CalibrationSave(&record, false);
}

} // namespace

int CalibrationSave(calibration* record, bool stampDate)
{
    if (!record)
        return 19;
    if (stampDate)
        setCalibrationDate(*record, static_cast<uint32_t>(std::time(nullptr)));
    calibrationStampChecksum(*record);

    TAtomicFile file(boardPath(kCalibrationFile));
    const bool ok = file.fd() >= 0 && WriteFileHeader(file.fd(), kFileTypeCalibration, "", -1) == 0
        && writeAll(file.fd(), record, sizeof(calibration)) && file.commit();
    deviceIO().syncAll();
    return ok ? 0 : 19;
}

void CalibrationRecall(calibration* record, bool factoryTrims)
{
    CalibrationRecall(record, factoryTrims, nullptr);
}

void CalibrationRecall(calibration* record, bool factoryTrims, std::string* refusal)
{
    if (refusal)
        refusal->clear();
    if (!record)
        return;
    // Read into a local image: the target is written once, whole.
    calibration image;
    if (!loadCalibrationFile(image, refusal)) {
        std::memcpy(&image, &CalibUsine, sizeof image);
    } else if (factoryTrims) {
        calibration fromFile;
        std::memcpy(&fromFile, &image, sizeof fromFile);
        std::memcpy(&image, &CalibUsine, sizeof image);
        calibrationCopyIdentity(image, fromFile);
    }
    calibrationApplyVosBf2Fill(image);
    std::memcpy(record, &image, sizeof image);
}

void registerCalibrationSeed()
{
    if (!kSimulatedBoard)
        return;
    registerBoardSeedStep("identity-calibration", seedIdentityCalibration);
    // A test's board after this one is seeded as the test asks.
    registerPowerOffUndo("identity-calibration seed", [] {
        forgetBoardSeedStep("identity-calibration");
        return true;
    });
}
