// Board logic outputs and inputs, the backlight level and the screen saver.
#pragma once

#include <atomic>
#include <cstdint>
#include <pthread.h>
#include <signal.h>
#include <time.h>

struct database;

enum TCmdeLogiqueIdentifier {
    CMDE_INITIAL_STATE = 0,
    CMDE_BACKLIGHT_POWER = 1,
    CMDE_GPIO_4 = 2,
    CMDE_GPIO_121 = 3,
    CMDE_BEEP = 4,
    CMDE_GPIO_127 = 5,
    CMDE_GPIO_141 = 6,
    CMDE_GPIO_144 = 7,
    CMDE_FPGA_RESET = 8,
    CMDE_REG20_BIT18 = 9,
    CMDE_REG20_BIT19 = 10,
    CMDE_REG20_PULSE24 = 11,
    CMDE_REG20_BIT20 = 12,
    CMDE_SELFTEST_LAMPS = 13,
    CMDE_ACQ_STATUS_LAMP = 14,
    CMDE_LAMP = 15,
    CMDE_BLINK = 16,
    CMDE_CHANNEL_POWER = 17,
    CMDE_SCREEN_SAVER = 18,
    CMDE_PROBE_I2C_SELECT = 19,
};

enum TEtatLogiqueIdentifier {
    ETAT_FPGA_CONFIGURED = 0,
    ETAT_GPIO_146 = 1,
    ETAT_GPIO_123 = 2,
    ETAT_GPIO_136 = 3,
    ETAT_GPIO_136_BIS = 4,  // reads the same line as 3
    ETAT_BOARD_CODE = 5,
    ETAT_BANDWIDTH_VARIANT = 6,
    ETAT_TWO_CHANNEL_MODEL = 8,
    ETAT_GPIO_106 = 9,
    ETAT_GPIO_8 = 10,
    ETAT_GPIO_161 = 11,
    ETAT_GPIO_160 = 12,
    ETAT_GPIO_114 = 13,
};

enum TCmdeAnalogiqueIdentifier {
    ANALOG_BACKLIGHT_LEVEL = 1,
};

// Register 20 (board outputs) bits.
enum : uint32_t {
    REG20_CHANNEL_POWER = 0xF,          // bits 0-3, one per channel
    REG20_CHANNEL_POWER_INV = 0xF0,     // bits 4-7: the same, inverted
    REG20_ANY_CHANNEL_POWER = 1u << 8,
    REG20_LAMP = 1u << 9,
    REG20_SELFTEST_LAMPS = 0xFu << 10,  // overlaps the status lamp and nothing else
    REG20_STATUS_LAMP = 3u << 10,
    REG20_CHANNEL_POWER_COPY = 0xFu << 12,
    REG20_BIT18 = 1u << 18,
    REG20_BIT19 = 1u << 19,
    REG20_BIT20 = 1u << 20,
    REG20_PROBE_I2C_SELECT = 3u << 22,
    REG20_PULSE24 = 1u << 24,
};
constexpr unsigned short kBoardOutputsRegister = 20;

// Sets one logic output; identifiers above 19 do nothing. The result is of no use to callers (0).
// Every register-20 change is one read-modify-write under the register-20 lock, so concurrent
// callers never lose each other's bits.
int CmdeLogique(TCmdeLogiqueIdentifier id, uint32_t value);
// Reads one logic input; unknown identifiers and unreadable files read 0.
int EtatLogique(TEtatLogiqueIdentifier id);
// Start of the board outputs: with 0 also creates the timers (once) and sets the buzzer LED's
// trigger to "none"; then the initial output state.
void BaseInit(int16_t again);
// Undoes BaseInit(0) as a power-off does, for a test's tear-down (the program never calls it):
// both timers deleted, the blink stopped, the channel-power words back to 0.
void BaseEnd();
// Screen saver on (stops a waiting acquisition read at once) or off.
void EconomiseurEcran(bool on);
// Analogue output; only the backlight level acts.
void CmdeAnalogique(TCmdeAnalogiqueIdentifier id, uint16_t value);

// Powers the channels the setup needs (display flags, math-function sources, trigger and meter
// power sources) and keeps channels no longer needed powered for 300 s; returns the needed mask.
uint16_t AlimentationVoies(database* db);
// Powers exactly mask AND the live setup's hwChannelMask (8191: every installed channel).
void AlimentationVoies(uint32_t mask);
inline void AlimentationVoies(int mask) { AlimentationVoies(static_cast<uint32_t>(mask)); }
// Timer handlers (each expiry runs on a new thread); callable directly.
void shutDownChannelHandler(union sigval);
void BlinkPeriodCallBack(union sigval);

// Channels powered, and powered channels to switch off when the power-down timer fires; both
// guarded by o_g_channelPowerMutex (lock order: before the register-20 lock).
extern uint16_t us_g_channelsUsed;
extern uint16_t us_g_channelsToPowerOff;
extern pthread_mutex_t o_g_channelPowerMutex;
// Bandwidth variant forced by the factory (0: read from the board). Written without a lock by
// the factory command, hence atomic; EtatLogique reads it once per call.
extern std::atomic<uint16_t> us_g_swBandwidth;
// The two timers (CLOCK_MONOTONIC, a new thread per expiry), created by BaseInit(0).
extern timer_t o_g_blinkPeriodTimerId;
extern timer_t o_g_shutDownChannelPowerTimerId;
extern struct sigevent o_g_sevBlinkPeriodId;
extern struct sigevent o_g_sevShutDownChannelPowerPeriodId;
// Current phase of the blinking lamp (0 or 1).
extern uint8_t b_l_blinkPhase;
// True once BaseInit(0) created the timers.
bool boardTimersCreated();

constexpr int kChannelSettleMs = 60;
constexpr int kChannelPowerDownSeconds = 300;
constexpr int kBlinkPeriodMs = 500;
constexpr int kBeepMs = 70;
