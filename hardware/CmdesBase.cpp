#include "hardware/CmdesBase.h"

#include "acquisition/TFonction.h"
#include "board/deviceio.h"
#include "board/process.h"
#include "core/gest_db.h"
#include "hardware/fpga.h"
#include "hardware/handshake.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>

uint16_t us_g_channelsUsed = 0;
uint16_t us_g_channelsToPowerOff = 0;
pthread_mutex_t o_g_channelPowerMutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<uint16_t> us_g_swBandwidth{0};
timer_t o_g_blinkPeriodTimerId{};
timer_t o_g_shutDownChannelPowerTimerId{};
struct sigevent o_g_sevBlinkPeriodId {};
struct sigevent o_g_sevShutDownChannelPowerPeriodId {};
uint8_t b_l_blinkPhase = 0;

namespace {
const char kLedBrightness[] = "/sys/class/leds/led426/brightness";
const char kLedTrigger[] = "/sys/class/leds/led426/trigger";
const char kBacklightPower[] = "/sys/class/backlight/backlight.22/bl_power";
const char kBacklightBrightness[] = "/sys/class/backlight/backlight.22/brightness";

// Innermost: nothing is taken while it is held. Every register-20 read-modify-write runs under
// it, so the controller, acquisition, interrupt, key, timer and probe threads never write back a
// stale copy over each other's bits.
pthread_mutex_t register20Mutex = PTHREAD_MUTEX_INITIALIZER;
// Guards the blink state so that a timer expiry already under way cannot switch the lamp off
// after the blink was stopped. Lock order: before the register-20 lock.
pthread_mutex_t blinkMutex = PTHREAD_MUTEX_INITIALIZER;
bool blinking = false;
// Set once by BaseInit(0) (controller thread), read by any thread afterwards.
std::atomic<bool> timersCreated{false};

// Hardware timing (the buzzer's sound, the settling of a channel's supply): always a real sleep,
// unlike the controller's pauses that tests may record.
void sleepMs(int ms)
{
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

class TLock {
public:
    explicit TLock(pthread_mutex_t& m) : m_(m) { pthread_mutex_lock(&m_); }
    ~TLock() { pthread_mutex_unlock(&m_); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

private:
    pthread_mutex_t& m_;
};

void changeRegister20(uint32_t clear, uint32_t set)
{
    TLock lock(register20Mutex);
    const uint32_t v = TFpga::getSpiRegister(kBoardOutputsRegister);
    TFpga::setSpiRegister(kBoardOutputsRegister, (v & ~clear) | (set & clear));
}

void setRegister20Bit(uint32_t bit, uint32_t value)
{
    changeRegister20(bit, value != 0 ? bit : 0);
}

// A sysfs file that cannot be opened is skipped: the output is simply not changed.
void writeSysfs(const char* path, const char* text)
{
    TDeviceIO& io = deviceIO();
    const int fd = io.open(path, O_WRONLY);
    if (fd < 0)
        return;
    io.write(fd, text, std::strlen(text));
    io.close(fd);
}

void gpioValuePath(char* out, size_t size, int line)
{
    std::snprintf(out, size, "/sys/class/gpio/gpio%d/value", line);
}

void setGpio(int line, uint32_t value)
{
    char path[48];
    gpioValuePath(path, sizeof path, line);
    writeSysfs(path, value != 0 ? "1" : "0");
}

int readGpio(int line)
{
    char path[48];
    gpioValuePath(path, sizeof path, line);
    TDeviceIO& io = deviceIO();
    const int fd = io.open(path, O_RDONLY);
    if (fd < 0)
        return 0;
    char c = 0;
    const ssize_t n = io.read(fd, &c, 1);
    io.close(fd);
    return n == 1 && c == '1' ? 1 : 0;
}

void beep()
{
    TDeviceIO& io = deviceIO();
    const int fd = io.open(kLedBrightness, O_WRONLY);
    if (fd < 0)
        return;
    io.write(fd, "255", 3);
    sleepMs(kBeepMs);
    io.write(fd, "0", 1);
    io.close(fd);
}

void setChannelPower(uint32_t value)
{
    const uint32_t m = value & 15;
    TLock lock(register20Mutex);
    // Two read-modify-writes as the board expects them, both under one hold of the lock.
    uint32_t v = TFpga::getSpiRegister(kBoardOutputsRegister);
    v &= ~(REG20_CHANNEL_POWER | REG20_CHANNEL_POWER_INV | REG20_ANY_CHANNEL_POWER);
    v |= m | ((~m & 15) << 4) | (m != 0 ? uint32_t{REG20_ANY_CHANNEL_POWER} : 0u);
    TFpga::setSpiRegister(kBoardOutputsRegister, v);
    v = TFpga::getSpiRegister(kBoardOutputsRegister);
    v = (v & ~REG20_CHANNEL_POWER_COPY) | (m << 12);
    TFpga::setSpiRegister(kBoardOutputsRegister, v);
}

void pulse24()
{
    TLock lock(register20Mutex);
    const uint32_t v = TFpga::getSpiRegister(kBoardOutputsRegister);
    TFpga::setSpiRegister(kBoardOutputsRegister, v | REG20_PULSE24);
    TFpga::setSpiRegister(kBoardOutputsRegister, v & ~REG20_PULSE24);
}

void armTimer(timer_t id, int firstMs, int periodMs)
{
    itimerspec spec{};
    spec.it_value.tv_sec = firstMs / 1000;
    spec.it_value.tv_nsec = (firstMs % 1000) * 1000000L;
    spec.it_interval.tv_sec = periodMs / 1000;
    spec.it_interval.tv_nsec = (periodMs % 1000) * 1000000L;
    timer_settime(id, 0, &spec, nullptr);
}

void disarmTimer(timer_t id)
{
    itimerspec spec{};
    timer_settime(id, 0, &spec, nullptr);
}

void setBlink(uint32_t value)
{
    TLock lock(blinkMutex);
    blinking = value != 0;
    if (timersCreated.load()) {
        if (blinking)
            armTimer(o_g_blinkPeriodTimerId, kBlinkPeriodMs, kBlinkPeriodMs);
        else
            disarmTimer(o_g_blinkPeriodTimerId);
    }
    // The lamp is left on whether the blink starts or stops.
    CmdeLogique(CMDE_LAMP, 1);
}

bool createTimer(timer_t* id, struct sigevent* event, void (*handler)(union sigval))
{
    std::memset(event, 0, sizeof *event);
    event->sigev_notify = SIGEV_THREAD;
    event->sigev_notify_function = handler;
    event->sigev_notify_attributes = nullptr;
    return timer_create(CLOCK_MONOTONIC, event, id) == 0;
}

uint16_t sourcesOf(TFonction* f)
{
    return f ? static_cast<uint16_t>(f->VoiesSrc() & 15) : 0;
}

// Bit of a trigger source; sources beyond the channels (55: none) add nothing after the
// installed-channel mask, and must not shift by more than the word.
uint16_t sourceBit(int16_t source)
{
    return source >= 0 && source < 16 ? static_cast<uint16_t>(1u << source) : 0;
}
void registerBaseEnd()
{
    registerPowerOffUndo("board timers and channel power", [] {
        BaseEnd();
        return true;
    });
}
} // namespace

bool boardTimersCreated()
{
    return timersCreated.load();
}

int CmdeLogique(TCmdeLogiqueIdentifier id, uint32_t value)
{
    switch (id) {
    case CMDE_INITIAL_STATE:
        CmdeLogique(CMDE_BEEP, 0);
        CmdeLogique(CMDE_REG20_BIT20, 1);
        CmdeLogique(CMDE_LAMP, 1);
        CmdeLogique(CMDE_BACKLIGHT_POWER, 1);
        CmdeLogique(CMDE_FPGA_RESET, 1);
        CmdeLogique(CMDE_GPIO_4, 1);
        CmdeLogique(CMDE_GPIO_144, 0);
        break;
    case CMDE_BACKLIGHT_POWER:
        writeSysfs(kBacklightPower, value != 0 ? "0" : "1");
        break;
    case CMDE_GPIO_4: setGpio(4, value); break;
    case CMDE_GPIO_121: setGpio(121, value); break;
    case CMDE_BEEP: beep(); break;
    case CMDE_GPIO_127: setGpio(127, value); break;
    case CMDE_GPIO_141: setGpio(141, value); break;
    case CMDE_GPIO_144: setGpio(144, value); break;
    case CMDE_FPGA_RESET: setGpio(145, value); break;
    case CMDE_REG20_BIT18: setRegister20Bit(REG20_BIT18, value); break;
    case CMDE_REG20_BIT19: setRegister20Bit(REG20_BIT19, value); break;
    case CMDE_REG20_PULSE24: pulse24(); break;
    case CMDE_REG20_BIT20: setRegister20Bit(REG20_BIT20, value); break;
    case CMDE_SELFTEST_LAMPS: {
        const uint32_t lamps = ~(value & (value >> 4)) & 15;
        changeRegister20(REG20_SELFTEST_LAMPS, lamps << 10);
        break;
    }
    case CMDE_ACQ_STATUS_LAMP: changeRegister20(REG20_STATUS_LAMP, (value & 3) << 10); break;
    case CMDE_LAMP: setRegister20Bit(REG20_LAMP, value); break;
    case CMDE_BLINK: setBlink(value); break;
    case CMDE_CHANNEL_POWER: setChannelPower(value); break;
    case CMDE_SCREEN_SAVER:
        if (value == 1) {
            CmdeLogique(CMDE_BACKLIGHT_POWER, 0);
            CmdeLogique(CMDE_CHANNEL_POWER, 0);
            CmdeLogique(CMDE_BLINK, 1);
            CmdeLogique(CMDE_GPIO_144, 1);
        } else {
            CmdeLogique(CMDE_GPIO_144, 0);
            CmdeLogique(CMDE_BLINK, 0);
            CmdeLogique(CMDE_BACKLIGHT_POWER, 1);
            CmdeLogique(CMDE_GPIO_4, 1);
        }
        break;
    case CMDE_PROBE_I2C_SELECT: changeRegister20(REG20_PROBE_I2C_SELECT, (value & 3) << 22); break;
    default: break;  // identifiers above 19 do nothing
    }
    return 0;
}

int EtatLogique(TEtatLogiqueIdentifier id)
{
    switch (id) {
    case ETAT_FPGA_CONFIGURED: return readGpio(147);
    case ETAT_GPIO_146: return readGpio(146);
    case ETAT_GPIO_123: return readGpio(123);
    case ETAT_GPIO_136:
    case ETAT_GPIO_136_BIS: return readGpio(136);
    case ETAT_BOARD_CODE: return ~((EtatLogique(ETAT_GPIO_106) << 1) | EtatLogique(ETAT_GPIO_8)) & 3;
    case ETAT_BANDWIDTH_VARIANT: {
        const uint16_t forced = us_g_swBandwidth.load();
        if (forced != 0)
            return forced;
        const int variant = (EtatLogique(ETAT_GPIO_161) << 1) | EtatLogique(ETAT_GPIO_160);
        return variant != 0 ? variant : 1;
    }
    case ETAT_TWO_CHANNEL_MODEL: return readGpio(164);
    case ETAT_GPIO_106: return readGpio(106);
    case ETAT_GPIO_8: return readGpio(8);
    case ETAT_GPIO_161: return readGpio(161);
    case ETAT_GPIO_160: return readGpio(160);
    case ETAT_GPIO_114: return readGpio(114);
    }
    return 0;  // 7 and anything else
}

void BaseInit(int16_t again)
{
    if (again == 0) {
        registerBaseEnd();
        if (!timersCreated.load()) {
            const bool blink = createTimer(&o_g_blinkPeriodTimerId, &o_g_sevBlinkPeriodId, BlinkPeriodCallBack);
            const bool power = createTimer(&o_g_shutDownChannelPowerTimerId, &o_g_sevShutDownChannelPowerPeriodId,
                                           shutDownChannelHandler);
            timersCreated.store(blink && power);
        }
        writeSysfs(kLedTrigger, "none");
    }
    CmdeLogique(CMDE_INITIAL_STATE, 0);
}

void BaseEnd()
{
    {
        TLock lock(blinkMutex);
        blinking = false;
        if (timersCreated.exchange(false)) {
            timer_delete(o_g_blinkPeriodTimerId);
            timer_delete(o_g_shutDownChannelPowerTimerId);
        }
        b_l_blinkPhase = 0;
    }
    TLock lock(o_g_channelPowerMutex);
    us_g_channelsUsed = 0;
    us_g_channelsToPowerOff = 0;
}

void EconomiseurEcran(bool on)
{
    if (on) {
        // Stop without waiting: a blocked acquisition read returns at once.
        AcqStopNoWait();
    }
    CmdeLogique(CMDE_SCREEN_SAVER, on ? 1 : 0);
}

void CmdeAnalogique(TCmdeAnalogiqueIdentifier id, uint16_t value)
{
    if (id != ANALOG_BACKLIGHT_LEVEL)
        return;
    char text[8];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    writeSysfs(kBacklightBrightness, text);
}

uint16_t AlimentationVoies(database* db)
{
    registerBaseEnd();  // the power words live until a power-off
    if (!db)
        return 0;
    TSetupLinks& links = setupLinks();
    const uint8_t traceOn[4] = {db->traceOnCh1, db->traceOnCh2, db->traceOnCh3, db->traceOnCh4};
    TFonction* const functions[4] = {links.mathFunctionCh1, links.mathFunctionCh2, links.mathFunctionCh3,
                                     links.mathFunctionCh4};
    uint16_t n = 0;
    for (int ch = 0; ch < 4; ++ch) {
        if (!traceOn[ch])
            continue;
        TFonction* f = functions[ch];
        if (f && f->IsDefined())
            n |= sourcesOf(f);
        else
            n |= static_cast<uint16_t>(1u << ch);
    }

    const uint16_t mode = data.instrumentMode;
    if (mode & 0x10) {
        if (n != 0) {
            if (db->trigType == 2 || db->trigType == 3)
                n |= sourceBit(db->qualifSource);
            n |= sourceBit(db->trigSource);
        }
    } else if (mode & 0x80) {
        if (db->meterFunction == 9)
            n |= sourcesOf(links.powerFunctionA) | sourcesOf(links.powerFunctionB);
        else if (db->meterFunction & 8)
            n |= sourcesOf(links.powerFunctionA);
    } else if ((mode & 0x40) && db->harmPower == 1) {
        n = sourcesOf(links.powerFunctionA);
    }
    n &= db->hwChannelMask;

    {
        TLock lock(o_g_channelPowerMutex);
        const uint16_t u = us_g_channelsUsed;
        const uint16_t p = us_g_channelsToPowerOff;
        us_g_channelsUsed = static_cast<uint16_t>(n | u);
        us_g_channelsToPowerOff = static_cast<uint16_t>(~n & ((u & ~n) | p));
        CmdeLogique(CMDE_CHANNEL_POWER, us_g_channelsUsed);
    }
    sleepMs(kChannelSettleMs);
    // One expiry 300 s after the last call; an armed timer restarts. No timer before BaseInit(0).
    if (timersCreated.load())
        armTimer(o_g_shutDownChannelPowerTimerId, kChannelPowerDownSeconds * 1000, 0);
    return n;
}

void AlimentationVoies(uint32_t mask)
{
    const uint16_t m = static_cast<uint16_t>(mask & data.hwChannelMask);
    {
        TLock lock(o_g_channelPowerMutex);
        us_g_channelsToPowerOff = 0;
        us_g_channelsUsed = m;
    }
    CmdeLogique(CMDE_CHANNEL_POWER, m);
    sleepMs(kChannelSettleMs);
}

void shutDownChannelHandler(union sigval)
{
    if (timersCreated.load())
        disarmTimer(o_g_shutDownChannelPowerTimerId);
    TLock lock(o_g_channelPowerMutex);
    us_g_channelsUsed = static_cast<uint16_t>(us_g_channelsUsed & ~us_g_channelsToPowerOff);
    us_g_channelsToPowerOff = 0;
    CmdeLogique(CMDE_CHANNEL_POWER, us_g_channelsUsed);
}

void BlinkPeriodCallBack(union sigval)
{
    TLock lock(blinkMutex);
    // An expiry that raced with the stop of the blink leaves the lamp as the stop set it.
    if (!blinking)
        return;
    b_l_blinkPhase = b_l_blinkPhase ? 0 : 1;
    CmdeLogique(CMDE_LAMP, b_l_blinkPhase);
}
