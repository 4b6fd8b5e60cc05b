// Fuzz target of the fuel-gauge replies: the input is what the gauge answers. Its first part is
// a stream of HDQ answer characters decoded as the bus does; the rest feeds both gauges' updates
// as register answers (every byte's low bit of a companion byte says whether the read came whole).
// Properties: no crash, no hang, no sanitizer report, levels within -100..100.
#include "board/deviceio.h"
#include "cellwarden/bq2018.h"
#include "cellwarden/bq34z100.h"
#include "cellwarden/hdq.h"

#include <cstddef>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

class TReplayBus : public THdqBus {
public:
    TReplayBus(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t readByte(uint8_t) override
    {
        if (at_ + 1 >= size_) {
            complete_ = false;
            return 0;
        }
        complete_ = data_[at_ + 1] & 1;
        const uint8_t v = data_[at_];
        at_ += 2;
        return v;
    }
    void writeByte(uint8_t, uint8_t) override {}
    uint16_t readWord(uint8_t reg) override
    {
        bool complete = true;
        const uint16_t v = consistentWordRead([](void* self, uint8_t r) { return static_cast<TReplayBus*>(self)->readByte(r); },
                                              [](void* self) { return static_cast<TReplayBus*>(self)->complete_; }, this,
                                              reg, &complete);
        complete_ = complete;
        return v;
    }
    void writeWord(uint8_t, uint16_t) override {}
    bool lastReadComplete() const override { return complete_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool complete_ = true;
};

// No file is touched: every open fails (the record's text file is skipped then).
class TNoFiles : public TDeviceIO {
public:
    int open(const char*, int, mode_t) override { return fail(); }
    int close(int) override { return fail(); }
    ssize_t read(int, void*, size_t) override { return fail(); }
    ssize_t write(int, const void*, size_t) override { return fail(); }
    off_t lseek(int, off_t, int) override { return fail(); }
    int ioctl(int, unsigned long, void*) override { return fail(); }
    int poll(struct pollfd*, nfds_t, int) override { return fail(); }
    TRegisterWindow* mapRegisterWindow(int, size_t, off_t) override { return nullptr; }
    int unmapRegisterWindow(TRegisterWindow*) override { return fail(); }
    void syncAll() override {}

private:
    static int fail()
    {
        errno = ENOENT;
        return -1;
    }
};

void checkLevel(const char* gauge, int32_t level)
{
    if (level < -100 || level > 100) {
        std::fprintf(stderr, "%s: level %d outside -100..100\n", gauge, static_cast<int>(level));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t chars = size < 16 ? size : 16;
    HDQ::DecodeAnswer(data, chars);
    data += chars;
    size -= chars;

    static TNoFiles noFiles;
    setDeviceIO(&noFiles);
    TReplayBus bus(data, size);
    setHdqBus(&bus);
    BQ34Z100 bq34;
    for (int i = 0; i < 4; ++i) {
        bq34.ChargerConnected = i & 1;
        checkLevel("bq34z100", bq34.GgUpdate());
    }
    BQ2018 bq2018;
    double now = 0;
    bq2018.clock = [&now] { return now; };
    bq2018.GgInitialize();
    for (int i = 0; i < 8; ++i) {
        now += 61 * 60;  // every update runs the maintenance
        bq2018.ChargerConnected = i & 1;
        bq2018.SetBatteryVoltage(static_cast<unsigned short>(i == 5 ? 9000 : 12000));
        checkLevel("bq2018", bq2018.GgUpdate(i > 2));
    }
    bq2018.GgPwrDwnSave();
    setHdqBus(nullptr);
    setDeviceIO(nullptr);
    return 0;
}
