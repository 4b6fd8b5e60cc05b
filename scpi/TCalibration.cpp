#include "scpi/TCalibration.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "scpi/blockdata.h"
#include "scpi/handler.h"
#include "scpi/scpi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Objects whose address went to a controller that did not release it in time: it may still
// write into them, so their memory is never given back. Never destroyed.
std::mutex& pinnedMutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

std::vector<const void*>& pinned()
{
    static std::vector<const void*>* v = new std::vector<const void*>;
    return *v;
}

// Bypasses the handler's request array: the interpreter posts it and waits for the release.
// false when the release did not come in time.
bool postAwaited(int32_t code, intptr_t value)
{
    pipe_dial request;
    fillRequest(&request, REQ_SET_PARAM, code, 0, value, 0.0f);
    return scpi_SemV(&request);
}

bool postAddress(int32_t code, TCalibration* object)
{
    if (postAwaited(code, reinterpret_cast<intptr_t>(object)))
        return true;
    std::lock_guard<std::mutex> lock(pinnedMutex());
    pinned().push_back(object);
    return false;
}

} // namespace

TCalibration::TCalibration() : record{}
{
    GetParametersFromCOMM();
}

void* TCalibration::operator new(std::size_t size)
{
    return ::operator new(size);
}

void TCalibration::operator delete(void* object)
{
    {
        std::lock_guard<std::mutex> lock(pinnedMutex());
        if (std::find(pinned().begin(), pinned().end(), object) != pinned().end())
            return;
    }
    ::operator delete(object);
}

int TCalibration::GetParametersFromCOMM()
{
    if (!postAwaited(param::acqRunStop, 1))
        return -1;
    return postAddress(param::calibrationRead, this) ? 0 : -1;
}

int TCalibration::SendParametersToCOMM()
{
    return postAddress(param::calibrationWrite, this) ? 0 : -1;
}

int TCalibration::ReadParametersFromCommandLine(unsigned char first)
{
    // Raw bytes whatever the data format: the block decoder hands over no first value.
    calibration block;
    if (getParameterValue(3, reinterpret_cast<char*>(calibrationBytes(block)), kCalibrationSize, nullptr, first) != 0)
        return -1;
    return calibrationInstallScpi(record, block, &record) ? 0 : -1;
}
