#include "hardware/feserial.h"

#include "hardware/fpga.h"

#include <chrono>
#include <pthread.h>
#include <time.h>

namespace {
// Statically initialised, never destroyed: any thread may use the interface until the end.
pthread_mutex_t serialMutex = PTHREAD_MUTEX_INITIALIZER;

bool busy()
{
    return (TFpga::getEimRegister(FE_WORD_STATUS) & 1) != 0;
}

// The interface is normally idle within a few polls; a silent FPGA must not hang the caller.
bool waitIdle()
{
    for (int i = 0; i < 16; ++i)
        if (!busy())
            return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFeBusyTimeoutMs);
    for (;;) {
        if (!busy())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        timespec t{0, 2000};
        nanosleep(&t, nullptr);
    }
}

class TSerialLock {
public:
    TSerialLock() { pthread_mutex_lock(&serialMutex); }
    ~TSerialLock() { pthread_mutex_unlock(&serialMutex); }
    TSerialLock(const TSerialLock&) = delete;
    TSerialLock& operator=(const TSerialLock&) = delete;
};
} // namespace

bool feSerialAccess(uint16_t dataWord, uint16_t commandWord, uint32_t* readBack)
{
    if (readBack)
        *readBack = 0;
    TSerialLock lock;
    if (!pv_g_fpgaIoMem.load(std::memory_order_acquire))
        return false;
    if (!waitIdle())
        return false;
    TFpga::setEimRegister(FE_WORD_DATA, dataWord);
    TFpga::setEimRegister(FE_WORD_COMMAND, commandWord);
    if (!waitIdle())
        return false;
    if (readBack)
        *readBack = ((TFpga::getEimRegister(FE_WORD_READ_HIGH) << 16) | TFpga::getEimRegister(FE_WORD_READ_LOW))
            & 0xFFFFFF;
    return true;
}

bool feSerialSend(uint16_t deviceMask, uint16_t opcode, uint32_t value)
{
    return feSerialAccess(static_cast<uint16_t>(value << 1), feCommandWord(deviceMask, opcode));
}

bool feSerialSendData(uint16_t deviceMask, uint16_t opcode, uint16_t dataWord)
{
    return feSerialAccess(dataWord, feCommandWord(deviceMask, opcode));
}

uint32_t feSerialQuery(uint16_t deviceMask, uint16_t opcode, bool* ok)
{
    uint32_t value = 0;
    const bool done = feSerialAccess(0, feCommandWord(deviceMask, opcode), &value);
    if (ok)
        *ok = done;
    return value;
}
