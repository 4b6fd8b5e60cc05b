// Key-to-request tables: per instrument mode a map from key and press type to an action code,
// then one table from action code to the records, shared by all modes. Constant data with a few
// value and condition rules; the setup is only read, every change goes through the controller.
#include "core/frontpanel.h"

#include "core/command.h"
#include "core/gest_db.h"
#include "hardware/CmdesBase.h"
#include "hardware/kalvex.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <memory>

namespace {

std::atomic<intptr_t> g_sender{0};
std::atomic<int16_t> g_activeChannel[3] = {};

// Zoom records whose address a zoom request carries; read by the controller later.
const TZoomRect o_l_zoomMax = {1.0f, 0, 1.0f, 48750};
const TZoomRect o_l_zoomOff = {1.0f, 0, 40.0f, 0};
const TZoomRect o_l_zoomFftMax = {1.0f, 0, 1.0f, 0};
const TZoomRect o_l_zoomFftOff = {1.0f, 0, 40.0f, 0};

const uint8_t tuc_l_nextMeterCoupling[11] = {4, 0, 6, 0, 8, 0, 10, 0, 2, 0, 1};
const uint32_t tul_l_button1[7] = {0x10000, 0x400, 0x20, 0x40, 0x2000, 0x4000000, 0x4000};
const uint32_t tul_l_button2[7] = {0x8000, 0x800, 0x2, 0x4, 0x8, 0x8000000, 0x40000};

constexpr int kNoAction = -1;

// ---------------------------------------------------------------------------------------------
// Per-mode maps

enum class TMapKind : uint8_t {
    Plain,         // the action (FFT and XY variants when given)
    PlusChannel,   // action + the mode's active channel
    PlusTrigger,   // action + trigSource
    MeterDown,     // meter range down, channel 1's resistance and capacitance rules
    MeterUp,
};

struct TKeyMapRow {
    uint32_t key;
    int16_t action;
    TMapKind kind = TMapKind::Plain;
    int16_t fft = kNoAction;   // in FFT (traceFormat 1), when not kNoAction
    int16_t xy = kNoAction;    // in XY (traceFormat 2)
};

const TKeyMapRow kScopeMap[] = {
    {0x1, 16}, {0x2, 121}, {0x4, 123, TMapKind::Plain, 125}, {0x8, 132}, {0x10, 15}, {0x20, 120},
    {0x40, 122, TMapKind::Plain, 124}, {0x80, 126, TMapKind::Plain, 127, 128}, {0x100, 131},
    {0x200, 14}, {0x400, 78, TMapKind::PlusChannel, 86}, {0x800, 82, TMapKind::PlusChannel, 90},
    {0x1000, 62}, {0x2000, 144, TMapKind::PlusTrigger}, {0x4000, 13},
    {0x8000, 70, TMapKind::PlusChannel}, {0x10000, 74, TMapKind::PlusChannel},
    {0x20000, 94, TMapKind::PlusChannel}, {0x40000, 130}, {0x80000, 12},
    {0x100001, 20}, {0x200001, 21}, {0x400001, 22}, {0x800001, 23},
    {0x140000, 140}, {0x240000, 141}, {0x440000, 142}, {0x840000, 143},
    {0x1000000, 11}, {0x2000000, 10}, {0x4000000, 30}, {0x4100000, 31}, {0x4200000, 32},
    {0x4400000, 33}, {0x4800000, 34}, {0x8000000, 35}, {0x10000000, 37},
};
const TKeyMapRow kBusMap[] = {
    {0x80, 128}, {0x200, 14}, {0x80000, 12}, {0x1000000, 11}, {0x2000000, 10},
};
const TKeyMapRow kHarmonicMap[] = {
    {0x8, 132}, {0x200, 14}, {0x4000, 13}, {0x8000, 70, TMapKind::PlusChannel},
    {0x10000, 74, TMapKind::PlusChannel}, {0x20000, 94, TMapKind::PlusChannel}, {0x80000, 12},
    {0x1000000, 11}, {0x2000000, 10},
};
const TKeyMapRow kMeterMap[] = {
    {0x8, 132}, {0x10, 15}, {0x200, 14}, {0x8000, 100, TMapKind::MeterDown},
    {0x10000, 104, TMapKind::MeterUp}, {0x20000, 112, TMapKind::PlusChannel}, {0x80000, 12},
    {0x1000000, 11}, {0x2000000, 10},
};
const TKeyMapRow kMeterVariantMap[] = {
    {0x200, 14}, {0x1000, 62}, {0x4000, 13}, {0x80000, 12}, {0x1000000, 11}, {0x8000000, 36},
    {0x10000000, 37},
};
const TKeyMapRow kRecorderMap[] = {
    {0x4, 123}, {0x40, 122}, {0x80, 129}, {0x200, 14}, {0x1000, 62}, {0x4000, 13}, {0x80000, 12},
    {0x1000000, 11}, {0x2000000, 10}, {0x8000000, 36}, {0x10000000, 37},
};
const TKeyMapRow kOtherMap[] = {
    {0x200, 14}, {0x4000, 180}, {0x80000, 12}, {0x1000000, 11}, {0x2000000, 10},
};

struct TModeMap {
    const TKeyMapRow* rows;
    size_t count;
    int function;          // active-channel function with channel keys; -1: none
    int16_t channelLong;   // first long-press action of the channel keys
};

template <size_t N>
constexpr TModeMap modeMap(const TKeyMapRow (&rows)[N], int function, int16_t channelLong)
{
    return TModeMap{rows, N, function, channelLong};
}

TModeMap mapOfMode(uint16_t mode)
{
    switch (mode) {
    case 16: return modeMap(kScopeMap, KeyFunctionScope, 58);
    case 17: return modeMap(kBusMap, -1, 0);
    case 64: return modeMap(kHarmonicMap, KeyFunctionHarmonic, 58);
    case 128: return modeMap(kMeterMap, KeyFunctionMeter, 116);
    case 130: return modeMap(kMeterVariantMap, -1, 0);
    case 256: return modeMap(kRecorderMap, -1, 0);
    default: return modeMap(kOtherMap, -1, 0);
    }
}

int channelOfKey(uint32_t key)
{
    for (int ch = 0; ch < 4; ++ch)
        if (key == (kKeyChannel1 << ch))
            return ch;
    return -1;
}

// Step 2: the action of a key in the current mode (kNoAction when the mode does not list it).
int mapKey(uint32_t key, TPressType press)
{
    const TModeMap map = mapOfMode(data.instrumentMode);
    const int ch = channelOfKey(key);
    if (ch >= 0 && map.function >= 0) {
        g_activeChannel[map.function].store(static_cast<int16_t>(ch));
        switch (press) {
        case PRESS_SHORT: return 50 + ch;
        case PRESS_DOUBLE: return 54 + ch;
        case PRESS_LONG: return map.channelLong + ch;
        default: return kNoAction;
        }
    }
    const int active = map.function >= 0 ? g_activeChannel[map.function].load() : 0;
    for (size_t i = 0; i < map.count; ++i) {
        const TKeyMapRow& row = map.rows[i];
        if (row.key != key)
            continue;
        int action = row.action;
        if (data.traceFormat == 1 && row.fft != kNoAction)
            action = row.fft;
        else if (data.traceFormat == 2 && row.xy != kNoAction)
            action = row.xy;
        switch (row.kind) {
        case TMapKind::Plain: break;
        case TMapKind::PlusChannel: action += active; break;
        case TMapKind::PlusTrigger: action += data.trigSource; break;
        case TMapKind::MeterDown:
        case TMapKind::MeterUp: {
            const bool up = row.kind == TMapKind::MeterUp;
            if (active != 0)
                action += active;
            else if (data.meterFunction == 1)
                action = up ? 109 : 108;
            else if (data.meterFunction == 3)
                action = up ? 111 : 110;
            break;
        }
        }
        return action;
    }
    return kNoAction;
}

// ---------------------------------------------------------------------------------------------
// Action table

enum class TWhen : uint8_t {
    Always,
    ShortOrLong,
    ShortOnly,
    NoDouble,
    StepShortRepeat,     // other press types send the current value
    DoubleSendsCurrent,  // a double press sends the current value
};

enum class TRule : uint8_t {
    Value,           // arg (in FFT: fftArg)
    ValuePlusIndex,  // the same plus the channel index
    ChannelBit,      // 1 << channel index
    ChannelIndex,    // the channel index
    Down,            // current - 1 when above arg
    Up,              // current + 1 when below arg (kMaxPar: below the parameter's limit)
    Xor1,            // current XOR 1; no record when current is arg (kNone: always a record)
    IfZero,          // arg when current is 0, else 0
    RunStop,         // 0 when current is 1, else 1
    Cycle,           // current + 1, or 0 when not below the limit
    OffsetUp, OffsetDown,
    HorizDown, HorizUp,            // with zoomWidth (arg 0) or fftZoomWidth (arg 1)
    NextCoupling,                  // meter coupling; channel 1 only for some meter functions
    NextChannel,                   // no record when current is arg (kNone: always a record)
    ShowChannel,                   // 1, unless the channel is not usable
    Zoom,                          // 4, the zoom record by the width (arg 0 scope, 1 FFT, 2 off)
    Screen,                        // REQ_SCREEN, code arg, intValue fftArg
    ScreenSaverToggle,
    Hardcopy,                      // 0 with the hardcopy key's own sender
    Message,                       // message 21
};

constexpr int32_t kMaxPar = 0x7FFFFFFF;
constexpr int32_t kNone = 0x7FFFFFFE;

struct TActionRow {
    int16_t first, last;   // action codes; channel index = action - first
    TWhen when;
    TRule rule;
    int16_t param;         // first channel's parameter
    int16_t paramStep;     // between channels' parameters
    int32_t arg = 0;
    int32_t fftArg = 0;
};

// Rows of one action are written in table order.
const TActionRow kActions[] = {
    {0, 0, TWhen::Always, TRule::Value, param::powerOffRequest, 0, 0},
    {1, 1, TWhen::Always, TRule::ScreenSaverToggle, 0, 0},
    {10, 10, TWhen::ShortOrLong, TRule::Value, param::instrumentMode, 0, 0x8000, 0x8000},
    {11, 11, TWhen::StepShortRepeat, TRule::Down, param::displayBrightness, 0, 3},
    {12, 12, TWhen::StepShortRepeat, TRule::Up, param::displayBrightness, 0, 9},
    {13, 13, TWhen::ShortOrLong, TRule::Xor1, param::keyToggleFlag, 0, kNone},
    {14, 14, TWhen::ShortOnly, TRule::Hardcopy, param::hardcopyRequest, 0},
    {15, 15, TWhen::ShortOrLong, TRule::IfZero, param::refCapture, 0, 255},
    {16, 16, TWhen::ShortOrLong, TRule::ValuePlusIndex, param::autosetRequest, 0, 0, 9},
    {20, 23, TWhen::ShortOrLong, TRule::ValuePlusIndex, param::autosetRequest, 0, 1, 10},
    {30, 30, TWhen::ShortOrLong, TRule::Screen, 0, 0, IhmDirectCommand, 0},
    {31, 34, TWhen::ShortOrLong, TRule::Screen, 0, 0, IhmDirectCommand, 0},
    {31, 34, TWhen::ShortOrLong, TRule::ChannelBit, param::measRefChannel, 0},
    {35, 35, TWhen::Always, TRule::NextChannel, param::measRefChannel, 0, 8191},
    {36, 36, TWhen::Always, TRule::NextChannel, param::measRefChannel, 0, kNone},
    {37, 37, TWhen::ShortOrLong, TRule::Xor1, param::cursorState, 0, 3},
    {50, 53, TWhen::Always, TRule::ShowChannel, param::traceOnCh1, 2},
    {54, 57, TWhen::Always, TRule::Value, param::traceOnCh1, 2, 0, 0},
    {58, 61, TWhen::Always, TRule::ValuePlusIndex, param::autosetRequest, 0, 5, 14},
    {62, 62, TWhen::Always, TRule::Xor1, param::splitLayout, 0, kNone},
    {70, 73, TWhen::StepShortRepeat, TRule::Down, param::sensitivityCh1, 1, 0},
    {74, 77, TWhen::StepShortRepeat, TRule::Up, param::sensitivityCh1, 1, kMaxPar},
    {78, 81, TWhen::StepShortRepeat, TRule::OffsetUp, param::offsetCh1, 1},
    {82, 85, TWhen::StepShortRepeat, TRule::OffsetDown, param::offsetCh1, 1},
    {86, 89, TWhen::StepShortRepeat, TRule::OffsetUp, param::fftOffsetCh1, 1},
    {90, 93, TWhen::StepShortRepeat, TRule::OffsetDown, param::fftOffsetCh1, 1},
    {94, 97, TWhen::Always, TRule::Cycle, param::couplingCh1, 2},
    {100, 103, TWhen::StepShortRepeat, TRule::Down, param::meterRangeCh1, 3, 0},
    {104, 107, TWhen::StepShortRepeat, TRule::Up, param::meterRangeCh1, 3, kMaxPar},
    {108, 108, TWhen::StepShortRepeat, TRule::Down, param::ohmRange, 0, 0},
    {109, 109, TWhen::StepShortRepeat, TRule::Up, param::ohmRange, 0, kMaxPar},
    {110, 110, TWhen::StepShortRepeat, TRule::Down, param::capaRange, 0, 1},
    {111, 111, TWhen::StepShortRepeat, TRule::Up, param::capaRange, 0, kMaxPar},
    {112, 115, TWhen::Always, TRule::NextCoupling, param::meterCouplingCh1, 3},
    {116, 119, TWhen::Always, TRule::Xor1, param::meterAutoRangeCh1, 3, kNone},
    {120, 120, TWhen::StepShortRepeat, TRule::Up, param::timeBaseIndex, 0, kMaxPar},
    {121, 121, TWhen::StepShortRepeat, TRule::Down, param::timeBaseIndex, 0, 0},
    {122, 122, TWhen::DoubleSendsCurrent, TRule::HorizDown, param::horizPosition, 0, 0},
    {123, 123, TWhen::DoubleSendsCurrent, TRule::HorizUp, param::horizPosition, 0, 0},
    {124, 124, TWhen::DoubleSendsCurrent, TRule::HorizDown, param::fftHorizPosition, 0, 1},
    {125, 125, TWhen::DoubleSendsCurrent, TRule::HorizUp, param::fftHorizPosition, 0, 1},
    {126, 126, TWhen::Always, TRule::Zoom, param::zoomState, 0, 0},
    {127, 127, TWhen::Always, TRule::Zoom, param::fftZoomState, 0, 1},
    {128, 128, TWhen::Always, TRule::Value, param::xyZoomFactor, 0, 100, 100},
    {128, 128, TWhen::Always, TRule::Zoom, param::zoomState, 0, 2},
    {129, 129, TWhen::Always, TRule::Value, param::horizPosition, 0, 0, 0},
    {129, 129, TWhen::Always, TRule::Zoom, param::zoomState, 0, 0},
    {130, 130, TWhen::Always, TRule::Value, param::trigLevelAuto, 0, 1, 1},
    {131, 131, TWhen::NoDouble, TRule::Cycle, param::trigMode, 0},
    {132, 132, TWhen::NoDouble, TRule::RunStop, param::acqRunStop, 0},
    {140, 143, TWhen::ShortOrLong, TRule::ChannelIndex, param::trigSource, 0},
    {140, 143, TWhen::ShortOrLong, TRule::Value, param::trigLevelAuto, 0, 1, 1},
    {144, 147, TWhen::NoDouble, TRule::IfZero, param::trigEdgeCh1, 1, 1},
    {180, 180, TWhen::Always, TRule::Screen, 0, 0, IhmExit, 180},
};
const TActionRow kNoActionRow = {kNoAction, kNoAction, TWhen::ShortOnly, TRule::Message, 0, 0};

bool allowed(TWhen when, TPressType press)
{
    switch (when) {
    case TWhen::ShortOrLong: return press == PRESS_SHORT || press == PRESS_LONG;
    case TWhen::ShortOnly: return press == PRESS_SHORT;
    case TWhen::NoDouble: return press != PRESS_DOUBLE;
    default: return true;
    }
}

int32_t current(int p)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(p));
}

int32_t limit(int p)
{
    return get_db(adr_par, type_par, &max_par, static_cast<uint32_t>(p));
}

// A width from the setup (a recalled file may hold anything) counts as 40 unless it is usable.
double usableWidth(float width)
{
    return std::isfinite(width) && width > 0.0f && width <= 40.0f ? static_cast<double>(width) : 40.0;
}

// Bit ch or ch + 8 of channelFlags.
bool channelFlagged(int ch)
{
    return (data.channelFlags & ((1u << ch) | (1u << (ch + 8)))) != 0;
}

// The next channel mask after m that has a usable channel; m itself when none has. A value that
// is not a single channel bit starts the cycle before channel 1.
int32_t nextUsableChannel(int32_t m)
{
    int start = -1;
    for (int ch = 0; ch < 4; ++ch)
        if (m == (1 << ch))
            start = ch;
    for (int i = 1; i <= 4; ++i) {
        const int ch = (start + i) % 4;
        if (channelFlagged(ch))
            return 1 << ch;
    }
    return m;
}

pipe_dial record(uint16_t kind, int32_t code, intptr_t aux, intptr_t value, intptr_t sender)
{
    return pipe_dial{kind, code, aux, value, 0.0f, sender};
}

// Writes the record of one row; false when the row gives none.
bool rowRecord(const TActionRow& row, int action, TPressType press, int32_t heldTime, pipe_dial* out)
{
    if (!allowed(row.when, press))
        return false;
    const int ch = action - row.first;
    const int p = row.param + ch * row.paramStep;
    const intptr_t sender = keySender();
    const bool fft = data.traceFormat == 1;
    const int32_t cur = row.param ? current(p) : 0;
    const bool steps = row.when != TWhen::StepShortRepeat || press == PRESS_SHORT || press == PRESS_REPEAT;
    const bool keep = !steps || (row.when == TWhen::DoubleSendsCurrent && press == PRESS_DOUBLE);
    intptr_t aux = 0;
    int32_t v = cur;

    switch (row.rule) {
    case TRule::Value: v = fft ? row.fftArg : row.arg; break;
    case TRule::ValuePlusIndex: v = (fft ? row.fftArg : row.arg) + ch; break;
    case TRule::ChannelBit: v = 1 << ch; break;
    case TRule::ChannelIndex: v = ch; break;
    case TRule::Down: v = cur > row.arg ? cur - 1 : cur; break;
    case TRule::Up: v = cur < (row.arg == kMaxPar ? limit(p) : row.arg) ? cur + 1 : cur; break;
    case TRule::Xor1:
        if (row.arg != kNone && cur == row.arg)
            return false;
        v = cur ^ 1;
        break;
    case TRule::IfZero: v = cur == 0 ? row.arg : 0; break;
    case TRule::RunStop: v = cur == 1 ? 0 : 1; break;
    case TRule::Cycle: v = cur < limit(p) ? cur + 1 : 0; break;
    case TRule::OffsetUp:
    case TRule::OffsetDown: {
        const int32_t step = heldTime > 2000000 ? 50 : 10;
        const int32_t max = limit(p);
        if (row.rule == TRule::OffsetUp) {
            v = cur + step;
            if (cur < 0 && v > 0)
                v = 0;
            if (v > max)
                v = max;
        } else {
            v = cur - step;
            if (cur > 0 && v < 0)
                v = 0;
            if (v < -max)
                v = -max;
        }
        break;
    }
    case TRule::HorizDown:
    case TRule::HorizUp: {
        const double width = usableWidth(row.arg == 1 ? data.fftZoomWidth : data.zoomWidth);
        const int32_t step = heldTime > 2000000 ? static_cast<int32_t>(width * 10000.0 / 40.0) : 100;
        if (row.rule == TRule::HorizDown) {
            v = cur - step;
            if (v < 0)
                v = 0;
        } else {
            const int32_t top = static_cast<int32_t>(100000.0 - width * 100000.0 / 40.0);
            v = cur + step;
            if (cur < 0 && v > 0)
                v = 0;
            if (v > top)
                v = top;
        }
        break;
    }
    case TRule::NextCoupling: {
        if (ch == 0 && data.meterFunction != 0 && !(data.meterFunction & 8))
            return false;
        const uint16_t c = static_cast<uint16_t>(cur);
        v = c > 10 ? 1 : tuc_l_nextMeterCoupling[c];
        break;
    }
    case TRule::NextChannel:
        if (row.arg != kNone && data.measRefChannel == row.arg)
            return false;
        v = nextUsableChannel(data.measRefChannel);
        break;
    case TRule::ShowChannel:
        if (channelFlagged(ch))
            return false;
        v = 1;
        break;
    case TRule::Zoom:
        v = 4;
        if (row.arg == 0)
            aux = reinterpret_cast<intptr_t>(data.zoomWidth == 40.0f ? &o_l_zoomMax : &o_l_zoomOff);
        else if (row.arg == 1)
            aux = reinterpret_cast<intptr_t>(data.fftZoomWidth == 40.0f ? &o_l_zoomFftMax : &o_l_zoomFftOff);
        else
            aux = reinterpret_cast<intptr_t>(&o_l_zoomOff);
        break;
    case TRule::Screen:
        *out = record(REQ_SCREEN, row.arg, 0, row.fftArg, sender);
        return true;
    case TRule::ScreenSaverToggle:
        *out = record(REQ_SCREEN_SAVER, 5, 0, 0, sender);
        return true;
    case TRule::Hardcopy:
        *out = record(REQ_SET_PARAM, p, 0, 0, kSenderHardcopyKey);
        return true;
    case TRule::Message:
        *out = record(REQ_SCREEN, IhmMessage, 0, MessageKeyInactive, sender);
        return true;
    }
    if (keep)
        v = cur;
    *out = record(REQ_SET_PARAM, p, aux, v, sender);
    return true;
}

int actionRecords(int action, TPressType press, int32_t heldTime, pipe_dial* out)
{
    int n = 0;
    for (const TActionRow& row : kActions)
        if (action >= row.first && action <= row.last && rowRecord(row, action, press, heldTime, out + n))
            ++n;
    bool known = false;
    for (const TActionRow& row : kActions)
        known = known || (action >= row.first && action <= row.last);
    if (!known && rowRecord(kNoActionRow, action, press, heldTime, out))
        n = 1;
    return n;
}

} // namespace

void setKeySender(intptr_t sender)
{
    g_sender.store(sender);
}

intptr_t keySender()
{
    return g_sender.load();
}

int activeKeyChannel(TKeyFunction function)
{
    return g_activeChannel[function].load();
}

void setActiveKeyChannel(TKeyFunction function, int channel)
{
    g_activeChannel[function].store(static_cast<int16_t>(channel & 3));
}

int getRequest(uint32_t keyMask, TPressType press, int32_t heldTime, pipe_dial* out)
{
    // 1.
    if (press != PRESS_SHORT && press != PRESS_DOUBLE && press != PRESS_LONG && press != PRESS_HELD &&
        press != PRESS_REPEAT)
        return 0;
    const bool power = keyMask == kKeyPower;
    const bool locked = data.keyLock != 0 && !power;
    // 2. A locked panel does not even follow the channel keys.
    int action = kNoAction;
    if (power)
        action = press == PRESS_LONG ? 0 : press == PRESS_SHORT ? 1 : kNoAction;
    else if (!locked)
        action = mapKey(keyMask, press);
    if (!out)
        return 0;
    if (power)
        CmdeLogique(CMDE_BEEP, 1);
    int n = 0;
    if (locked) {
        // A locked panel only says so.
        n = actionRecords(kNoAction, press, heldTime, out);
    } else if (data.keyHelpOn && !(power && action != kNoAction)) {
        // 3.
        out[0] = record(REQ_SCREEN, IhmKeyHelp, static_cast<intptr_t>(keyMask), action, keySender());
        n = 1;
    } else {
        // 4.
        n = actionRecords(action, press, heldTime, out);
    }
    // 5.
    if (press == PRESS_REPEAT && n > 0)
        CmdeLogique(CMDE_REG20_PULSE24, 1);
    return n;
}

int getKalvexRequest(uint32_t probeBits, pipe_dial* out)
{
    if (data.instrumentMode == 130)
        return 0;
    int n = -1;
    for (int ch = 0; ch < 4 && n < 0; ++ch)
        if (probeBits & (2u << ch))
            n = ch;
    if (n >= 0) {
        getRequest(kKeyChannel1 << n, PRESS_SHORT, 0, nullptr);
        // A copy of the link: the controller may replace it meanwhile.
        const std::shared_ptr<TKalvex> probe = smartProbeLink(n);
        if (probe) {
            probe->updateStatus();
            const int status = probe->getStatus();
            if (status == 5 || status == 6) {
                unsigned short colour = 0, index = 0;
                if (probe->getUserFields(&colour, &index) != 0 || index > 6)
                    return 0;
                return getRequest(status == 5 ? tul_l_button1[index] : tul_l_button2[index], PRESS_SHORT, 0, out);
            }
            if (status == 7)
                return 0;
        }
    }
    out[0] = record(REQ_PROBE_EVENT, n < 0 ? 0 : n, 0, 0, keySender());
    return 1;
}
