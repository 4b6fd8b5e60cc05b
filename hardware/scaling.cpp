#include "hardware/scaling.h"

#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "hardware/feserial.h"

#include <cstring>

uint16_t to_g_scalingParams[kScalingChannels][kScalingParams] = {};
uint16_t o_g_scalingParamsCalibration[kScalingParams] = {};
uint16_t tus_g_scalingPseudoReg[kScalingChannels][kScalingRegisters] = {};
pthread_mutex_t exclusionScalingIO = PTHREAD_MUTEX_INITIALIZER;

namespace {
constexpr uint16_t R = SCALING_FIELD_REVERSED;
constexpr uint16_t I = SCALING_FIELD_INVERTED;
constexpr uint16_t T = kScalingTopBitField;

// {parameter, mask, position, flags}; masks are value masks (width bits from bit 0).
const TScalingField reg0[] = {{1, 0xFF, 0, R}, {2, 1, 8, 0}, {3, 1, 9, 0}, {47, 1, 10, 0}, {48, 1, 11, 0},
                              {49, 1, 12, 0},  {T, 1, 13, 0}, {0, 0, 0, 0}};
const TScalingField reg1[] = {{4, 0xFF, 0, R}, {5, 0xF, 8, R}, {6, 1, 12, 0}, {7, 1, 13, 0}, {0, 0, 0, 0}};
const TScalingField reg2[] = {{8, 0xFF, 0, R}, {9, 1, 8, 0},  {10, 1, 9, 0}, {11, 1, 10, 0},
                              {12, 3, 11, R},  {50, 1, 13, R}, {0, 0, 0, 0}};
const TScalingField reg3[] = {{13, 1, 0, 0},  {14, 3, 1, R}, {15, 1, 3, 0}, {16, 0xFF, 4, R},
                              {17, 1, 12, 0}, {T, 1, 13, 0}, {0, 0, 0, 0}};
const TScalingField reg4[] = {{18, 0x3FF, 0, R}, {0, 0, 0, 0}};
const TScalingField reg5[] = {{19, 0x3FF, 0, R}, {40, 1, 10, 0}, {41, 1, 11, 0}, {51, 1, 12, 0},
                              {T, 1, 13, 0},     {0, 0, 0, 0}};
const TScalingField reg6[] = {{52, 0x1F, 0, R}, {53, 0xF, 5, R}, {54, 0xF, 9, R}, {T, 1, 13, 0}, {0, 0, 0, 0}};
const TScalingField reg7[] = {{20, 1, 0, 0}, {21, 0x1F, 1, R}, {22, 0xFF, 6, R}, {0, 0, 0, 0}};
const TScalingField reg8[] = {{23, 1, 0, 0}, {55, 1, 1, 0}, {24, 0xF, 2, R | I}, {25, 0xFF, 6, R}, {0, 0, 0, 0}};
const TScalingField reg9[] = {{56, 0x3F, 0, R}, {27, 7, 6, R}, {28, 1, 9, 0}, {0, 0, 0, 0}};
const TScalingField reg10[] = {{29, 0xFF, 0, R}, {31, 1, 8, 0}, {32, 1, 9, 0}, {57, 1, 10, 0},
                               {T, 1, 11, 0},    {0, 0, 0, 0}};
const TScalingField reg11[] = {{33, 0xF, 0, R}, {34, 7, 4, R}, {35, 7, 7, R}, {58, 1, 10, 0},
                               {59, 1, 11, 0},  {0, 0, 0, 0}};
const TScalingField reg12[] = {{36, 1, 0, 0},   {37, 7, 1, R}, {38, 0xF, 4, R}, {39, 0x1F, 8, R},
                               {T, 1, 13, 0},   {0, 0, 0, 0}};
const TScalingField reg13[] = {{43, 0xF, 0, R}, {60, 0xF, 4, R}, {61, 3, 8, R}, {62, 1, 10, 0},
                               {T, 1, 11, 0},   {0, 0, 0, 0}};
const TScalingField reg14[] = {{63, 1, 2, 0}, {64, 1, 3, 0}, {44, 1, 4, 0}, {65, 1, 5, 0},
                               {45, 3, 6, R}, {46, 7, 8, R}, {T, 1, 11, 0}, {0, 0, 0, 0}};
const TScalingField reg15[] = {{66, 0x3FF, 0, R}, {67, 1, 10, 0}, {68, 1, 11, 0}, {69, 1, 12, 0},
                               {T, 1, 13, 0},     {0, 0, 0, 0}};
const TScalingField reg16[] = {{30, 0x1F, 0, R}, {70, 7, 5, R}, {71, 0xF, 8, R}, {0, 0, 0, 0}};

const uint8_t all[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 255};
const uint8_t none[] = {255};
const uint8_t in0[] = {0, 255};
const uint8_t in1[] = {1, 255};
const uint8_t in2[] = {2, 255};
const uint8_t in3[] = {3, 255};
const uint8_t in4[] = {4, 255};
const uint8_t in5[] = {5, 255};
const uint8_t in6[] = {6, 255};
const uint8_t in7[] = {7, 255};
const uint8_t in8[] = {8, 255};
const uint8_t in9[] = {9, 255};
const uint8_t in10[] = {10, 255};
const uint8_t in11[] = {11, 255};
const uint8_t in12[] = {12, 255};
const uint8_t in13[] = {13, 255};
const uint8_t in14[] = {14, 255};
const uint8_t in15[] = {15, 255};
const uint8_t in16[] = {16, 255};

uint16_t mirror(uint16_t x, int width)
{
    uint16_t out = 0;
    for (int i = 0; i < width; ++i)
        if (x & (1u << i))
            out = static_cast<uint16_t>(out | (1u << (width - 1 - i)));
    return out;
}

class TScalingLock {
public:
    TScalingLock() { pthread_mutex_lock(&exclusionScalingIO); }
    ~TScalingLock() { pthread_mutex_unlock(&exclusionScalingIO); }
    TScalingLock(const TScalingLock&) = delete;
    TScalingLock& operator=(const TScalingLock&) = delete;
};

bool sendRelayWord(uint16_t channel)
{
    return feSerialSend(feChannelMask(channel), FE_OP_RELAY_WORD,
                        static_cast<uint16_t>(pseudoRC | pseudoRC_bwl[channel]));
}

bool holdBefore(uint16_t channel, uint16_t flags)
{
    if (flags & SCALING_HOLD_BEFORE) {
        pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x80u);
        return sendRelayWord(channel);
    }
    return true;
}

bool releaseAfter(uint16_t channel, uint16_t flags)
{
    if (flags & SCALING_RELEASE_AFTER) {
        pseudoRC = static_cast<uint16_t>(pseudoRC | 0x80u);
        return sendRelayWord(channel);
    }
    return true;
}
} // namespace

const TScalingField* const scaling2RegisterDesc[kScalingRegisters] = {
    reg0, reg1, reg2, reg3, reg4, reg5, reg6, reg7, reg8, reg9, reg10, reg11, reg12, reg13, reg14, reg15, reg16};

const uint8_t* const scaling2Register[kScalingParams] = {
    all,  in0,  in0,  in0,  in1,  in1,  in1,  in1,  in2,  in2,  in2,  in2,  // 0-11
    in2,  in3,  in3,  in3,  in3,  in3,  in4,  in5,  in7,  in7,  in7,  in8,  // 12-23
    in8,  in8,  none, in9,  in9,  in10, in16, in10, in10, in11, in11, in11, // 24-35
    in12, in12, in12, in12, in5,  in5,  none, in13, in14, in14, in14, in0,  // 36-47
    in0,  in0,  in2,  in5,  in6,  in6,  in6,  in8,  in9,  in10, in11, in11, // 48-59
    in13, in13, in13, in14, in14, in14, in15, in15, in15, in15, in16, in16, // 60-71
};

const uint8_t tuc_g_scalingRegisterTopBit[kScalingRegisters] = {13, 13, 13, 13, 9,  13, 13, 13, 13,
                                                                  9,  11, 11, 13, 11, 11, 13, 11};

// Columns: scope, harmonic, capacitance, meter, calibration.
const uint16_t tus_g_scalingDefaults[kScalingParams][kScalingDefaultSets] = {
    {0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD}, // 0
    {128, 128, 64, 64, 128},                  // 1
    {1, 1, 1, 1, 1},                          // 2
    {0, 0, 0, 0, 0},                          // 3
    {128, 128, 128, 128, 128},                // 4
    {15, 15, 15, 15, 15},                     // 5
    {0, 0, 0, 0, 0},                          // 6
    {1, 1, 1, 1, 1},                          // 7
    {128, 128, 128, 128, 128},                // 8
    {0, 0, 0, 0, 0},                          // 9
    {0, 0, 0, 0, 0},                          // 10
    {0, 0, 0, 0, 0},                          // 11
    {1, 1, 0, 1, 0},                          // 12
    {0, 0, 0, 0, 0},                          // 13
    {0, 0, 0, 1, 0},                          // 14
    {0, 0, 1, 0, 0},                          // 15
    {128, 128, 128, 128, 128},                // 16
    {0, 0, 1, 0, 0},                          // 17
    {512, 512, 512, 512, 512},                // 18
    {512, 512, 512, 512, 512},                // 19
    {1, 1, 1, 1, 1},                          // 20
    {31, 31, 31, 31, 31},                     // 21
    {128, 128, 128, 128, 128},                // 22
    {0, 0, 0, 0, 0},                          // 23
    {7, 7, 7, 7, 7},                          // 24
    {128, 128, 128, 128, 128},                // 25
    {47, 47, 0, 47, 0},                       // 26
    {0, 0, 0, 0, 0},                          // 27
    {1, 1, 1, 1, 1},                          // 28
    {128, 128, 128, 128, 128},                // 29
    {31, 31, 31, 31, 31},                     // 30
    {1, 1, 1, 1, 1},                          // 31
    {1, 1, 1, 1, 1},                          // 32
    {1, 1, 1, 1, 1},                          // 33
    {0, 0, 0, 0, 34},                         // 34
    {2, 2, 1, 2, 1},                          // 35
    {1, 1, 1, 1, 1},                          // 36
    {4, 4, 4, 4, 6},                          // 37
    {6, 6, 1, 6, 6},                          // 38
    {0, 0, 0, 0, 15},                         // 39
    {1, 1, 0, 0, 1},                          // 40
    {0, 0, 0, 1, 0},                          // 41
    {1, 1, 1, 1, 1},                          // 42
    {7, 7, 7, 7, 7},                          // 43
    {1, 1, 1, 1, 1},                          // 44
    {0, 0, 0, 0, 0},                          // 45
    {3, 3, 3, 1, 1},                          // 46
    {0, 0, 0, 0, 0},                          // 47
    {1, 1, 1, 1, 1},                          // 48
    {1, 1, 1, 1, 1},                          // 49
    {0, 0, 0, 0, 0},                          // 50
    {0, 0, 0, 0, 0},                          // 51
    {8, 8, 8, 8, 8},                          // 52
    {8, 8, 8, 8, 8},                          // 53
    {0, 0, 0, 0, 0},                          // 54
    {0, 0, 0, 0, 0},                          // 55
    {31, 31, 31, 31, 0},                      // 56
    {0, 0, 0, 1, 0},                          // 57
    {0, 0, 0, 0, 0},                          // 58
    {0, 0, 0, 0, 0},                          // 59
    {6, 6, 6, 6, 6},                          // 60
    {1, 1, 1, 1, 1},                          // 61
    {1, 1, 1, 1, 1},                          // 62
    {0, 0, 0, 0, 0},                          // 63
    {0, 0, 0, 0, 0},                          // 64
    {0, 0, 0, 0, 0},                          // 65
    {512, 512, 512, 512, 512},                // 66
    {1, 1, 1, 1, 1},                          // 67
    {0, 0, 0, 0, 0},                          // 68
    {1, 1, 1, 1, 1},                          // 69
    {0, 0, 0, 0, 0},                          // 70
    {6, 6, 6, 6, 6},                          // 71
};

void ScalingLoadDefaults(TScalingDefaultSet set, uint16_t* params)
{
    if (!params || set < 0 || set >= kScalingDefaultSets)
        return;
    for (int p = 0; p < kScalingParams; ++p)
        params[p] = tus_g_scalingDefaults[p][set];
}

uint16_t scalingPackField(uint16_t registerValue, const TScalingField& field, uint16_t value)
{
    if (field.mask == 0)
        return registerValue;
    const int low = __builtin_ctz(field.mask);
    const uint16_t shifted = static_cast<uint16_t>(field.mask >> low);
    const int width = 32 - __builtin_clz(shifted);
    uint16_t x = static_cast<uint16_t>((value & field.mask) >> low);
    if (field.flags & SCALING_FIELD_INVERTED)
        x ^= shifted;
    if (field.flags & SCALING_FIELD_REVERSED)
        x = mirror(x, width);
    const uint32_t place = static_cast<uint32_t>(shifted) << field.position;
    return static_cast<uint16_t>((registerValue & ~place) | ((static_cast<uint32_t>(x) << field.position) & place));
}

int ScalingInit()
{
    AlimentationVoies(8191u);
    TScalingLock lock;
    std::memset(tus_g_scalingPseudoReg, 0, sizeof tus_g_scalingPseudoReg);
    return 0;
}

int ScalingWrite(uint16_t channel, uint16_t* params, int16_t parameter, uint16_t flags)
{
    if (channel >= kScalingChannels)
        return -1;
    const bool sendsRegisters = parameter >= 0 && parameter < kScalingParams;
    const bool fromShadow = (flags & SCALING_FROM_SHADOW) != 0;
    if (sendsRegisters && !fromShadow && !params)
        return -1;

    TScalingLock lock;
    const uint16_t mask = feChannelMask(channel);
    bool sent = holdBefore(channel, flags);
    if (sendsRegisters) {
        for (const uint8_t* r = scaling2Register[parameter]; *r != 255; ++r) {
            uint16_t v = tus_g_scalingPseudoReg[channel][*r];
            if (!fromShadow) {
                for (const TScalingField* f = scaling2RegisterDesc[*r]; f->mask != 0; ++f) {
                    // The top-bit field has no parameter: it keeps its shadow bit.
                    if (f->parameter == kScalingTopBitField)
                        continue;
                    if (parameter == 0 || f->parameter == parameter)
                        v = scalingPackField(v, *f, params[f->parameter]);
                }
            }
            tus_g_scalingPseudoReg[channel][*r] = v;
            sent = feSerialSend(mask, static_cast<uint16_t>(FE_OP_WRITE_REGISTER + *r), v) && sent;
        }
    }
    sent = releaseAfter(channel, flags) && sent;
    return sent ? 0 : -2;
}

int ScalingRead(uint16_t channel, uint16_t* out, uint16_t reg, uint16_t flags)
{
    if (channel >= kScalingChannels || reg >= kScalingRegisters || !out)
        return -1;
    TScalingLock lock;
    const uint16_t mask = feChannelMask(channel);
    bool read = holdBefore(channel, flags);
    const uint16_t first = reg;
    const uint16_t last = reg == 0 ? kScalingRegisters - 1 : reg;
    for (uint16_t r = first; r <= last; ++r) {
        bool ok = false;
        const uint32_t readBack = feSerialQuery(mask, static_cast<uint16_t>(FE_OP_READ_REGISTER + r), &ok);
        *out++ = static_cast<uint16_t>(readBack >> (23 - tuc_g_scalingRegisterTopBit[r]));
        read = ok && read;
    }
    read = releaseAfter(channel, flags) && read;
    return read ? 0 : -2;
}
