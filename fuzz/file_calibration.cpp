// The calibration file: the first byte chooses how the rest is read, the rest is the file. Bit 0
// stamps a valid checksum into a file of the right size, bit 1 asks for the factory trims. The
// identity texts built from the record are read back, as *IDN? and the web page do.
#include "fuzz/support.h"

#include "core/calibfile.h"
#include "core/filehdr.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t how = bytes[0];
    const std::string file =
        fuzzRecordFile<calibration>(bytes, size, [](calibration& image) { calibrationStampChecksum(image); });
    fuzzWriteBoardFile(kCalibrationFile, reinterpret_cast<const uint8_t*>(file.data()), file.size());

    calibration record;
    CalibrationRecall(&record, (how & 2) != 0);
    char text[kIdentificationSize];
    uint16_t identifier = 0;
    GetIdentification(&record, text, &identifier, true, true);
    GetIdentification(text, true);
    return 0;
}
