#include "scpi/TCalibration.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "scpi/blockdata.h"
#include "scpi/handler.h"
#include "scpi/scpi.h"

#include <cstdint>
#include <cstring>

namespace {

// Bypasses the handler's request array: the interpreter posts it and waits for the release.
void postAwaited(int32_t code, intptr_t value)
{
    pipe_dial request;
    fillRequest(&request, REQ_SET_PARAM, code, 0, value, 0.0f);
    scpi_SemV(&request);
}

} // namespace

TCalibration::TCalibration() : record{}
{
    GetParametersFromCOMM();
}

int TCalibration::GetParametersFromCOMM()
{
    postAwaited(param::acqRunStop, 1);
    postAwaited(param::calibrationRead, reinterpret_cast<intptr_t>(this));
    return 0;
}

int TCalibration::SendParametersToCOMM()
{
    postAwaited(param::calibrationWrite, reinterpret_cast<intptr_t>(this));
    return 0;
}

int TCalibration::ReadParametersFromCommandLine(unsigned char first)
{
    // Raw bytes whatever the data format: the block decoder hands over no first value.
    calibration block;
    if (getParameterValue(3, reinterpret_cast<char*>(calibrationBytes(block)), kCalibrationSize, nullptr, first) != 0)
        return -1;
    return calibrationInstallScpi(record, block, &record) ? 0 : -1;
}
