#include "hardware/transfer.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/acqctrl.h"
#include "acquisition/interpolation.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/feserial.h"
#include "hardware/vernier.h"

#include <algorithm>
#include <cmath>

uint32_t tul_g_sortedSignal[kSortedSignalWords];

const int16_t ts_l_retardResiduel_X1000[36] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 800, 400, 160, 80, 32, 16, 8, 3,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0,  0,  0,  0, 0};
const int16_t s_l_dynamicMacroVernier[36] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 5, 10, 25, 50, 100, 250,
    1000, 1000, 1000, 1000, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
const int16_t s_l_diviseurVernier[36] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 5, 10, 25, 50, 100, 250,
    500, 1000, 2500, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

namespace {

constexpr uint32_t kRecordLength = 100000;
constexpr uint32_t kEmpty = 0x80000000u;
constexpr uint32_t kMarkShift = 0x40000000u;   // half-area boundary: later positions move by H
constexpr uint32_t kMarkDrop = 0x20000000u;    // with kMarkShift clear: entry not stored
constexpr uint32_t kMarks = kMarkShift | kMarkDrop;
constexpr uint32_t kCode12 = 0xFFF;
constexpr int32_t kEtBlocks = 128;
constexpr int32_t kEtSamples = kEtBlocks * 20;  // 2560
constexpr int32_t kVernierSpan = 20480;

// xorshift32: trivially destructible, one owner (the real-time thread).
uint32_t s_randomState = 0x2545F491u;

uint32_t nextRandom()
{
    uint32_t x = s_randomState;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s_randomState = x;
    return x;
}

int tableIndex(uint16_t timeBase)
{
    return timeBase < 36 ? timeBase : -1;
}

int channelIndexOfBit(uint16_t bit)
{
    switch (bit) {
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: return 0;
    }
}

int trailingZeros20(uint32_t g)
{
    g &= 0xFFFFF;
    if (g == 0)
        return 0;
    int n = 0;
    while (!(g & 1u)) {
        g >>= 1;
        ++n;
    }
    return n;
}

uint32_t* normalisedBuffer(int channel)
{
    switch (channel) {
    case 0: return TAcquisition::Voie1Normalisee;
    case 1: return TAcquisition::Voie2Normalisee;
    case 2: return TAcquisition::Voie3Normalisee;
    case 3: return TAcquisition::Voie4Normalisee;
    default: return nullptr;
    }
}

TAcquisition* liveTrace(int channel)
{
    TSetupLinks& links = setupLinks();
    TAcquisition* const all[4] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};
    return all[channel & 3];
}

TFonction* mathFunction(int channel)
{
    TSetupLinks& links = setupLinks();
    TFonction* const all[4] = {links.mathFunctionCh1, links.mathFunctionCh2, links.mathFunctionCh3,
                               links.mathFunctionCh4};
    return all[channel & 3];
}

int16_t channelOffset(int channel)
{
    const int16_t all[4] = {data.offsetCh1, data.offsetCh2, data.offsetCh3, data.offsetCh4};
    return all[channel & 3];
}

// Equivalent-time step H of the half-area boundary and residual delay (thousandths of a
// position) by the block pattern.
void etStep(uint16_t timeBase, int32_t* h, int32_t* r)
{
    *h = 0;
    *r = 0;
    switch (pseudoELV) {
    case 1:
        *h = timeBase == 10 ? 2 : (timeBase == 11 ? 1 : 0);
        if (tableIndex(timeBase) >= 0)
            *r = ts_l_retardResiduel_X1000[timeBase];
        break;
    case 1025: *h = 4; break;
    case 33825: *h = 8; break;
    case 349525: *h = 20; break;
    default: break;
    }
}

// Averaging into an old word: a valid old code moves towards v by 1/2^shift, an empty one is
// replaced.
inline void placeAveraged(uint32_t* word, uint32_t v, int shift)
{
    const uint32_t old = *word;
    if (shift <= 0 || (old & kEmpty)) {
        *word = v;
        return;
    }
    const int32_t o = static_cast<int32_t>(old & kSampleCodeMask);
    const int32_t diff = static_cast<int32_t>(v) - o;
    *word = static_cast<uint32_t>(o + (diff >> shift));
}

// Envelope update of one word: an empty or interpolated old word is replaced, an empty or
// interpolated entry never replaces a valid word.
inline void envelopeUpdate(uint32_t* word, uint32_t entry, bool keepSmaller)
{
    const uint32_t old = *word;
    if (old & (kEmpty | kMarkDrop)) {
        *word = entry & ~kMarkShift;
        return;
    }
    if (entry & (kEmpty | kMarkDrop))
        return;
    const uint32_t e = entry & ~kMarkShift;
    if (keepSmaller ? (e < old) : (e > old))
        *word = e;
}

inline void envelopePair(uint32_t* buffer, int64_t position, uint32_t lo, uint32_t hi)
{
    if (position < 0 || position + 1 >= static_cast<int64_t>(kRecordLength))
        return;
    envelopeUpdate(&buffer[position], lo, true);
    envelopeUpdate(&buffer[position + 1], hi, false);
}

inline uint32_t convertCode(uint32_t x, int32_t zero, int32_t span)
{
    const uint32_t s = span > 0 ? static_cast<uint32_t>(span) : 262080u;
    const uint32_t v = static_cast<uint32_t>(zero) + ((x & kCode12) * 262144u / s) * 64u;
    return std::min(v, kSampleCodeMask);
}

// Start position of the equivalent-time placement and its first sorted entry.
void etStart(const acq_ctrl* ctrl, const TPipelineValues& values, int32_t stride, int32_t shift,
             int64_t* u, int64_t* s)
{
    const int64_t o = ctrl->transferPhase;
    const int64_t k = values.phaseUnit > 0 ? values.phaseUnit : kVernierSpan;
    *u = (1 - o / k) * stride + (o * stride) / k - shift;
    *s = 1 - o / k;
}

// Time-alignment shift in record positions: the untruncated scale, so that the fastest time
// bases (whose picosecond scale truncates to 0) neither divide by zero nor lose the shift.
int32_t alignmentShift(const acq_ctrl* ctrl, int channel)
{
    const calibration* cal = ctrl->calib ? ctrl->calib : &param_calibr;
    const double scalePs = static_cast<double>(GetHorizontalScaleT(ctrl->timeBase)) * 1e12;
    if (!(scalePs > 0.0))
        return 0;
    return static_cast<int32_t>(std::lround(cal->timeAlignment[channel & 3] / scalePs));
}

// Equivalent-time position walk shared by cases 32-34: calls put(position, entry) for each
// entry that is stored.
template <typename Put>
void etWalk(int32_t count, int64_t u, int64_t s, bool carryMarks, int32_t h, int32_t r, Put put)
{
    uint32_t carried = 0;
    while (u < 0 || s < 0) {
        if (carryMarks && s >= 0 && s < count)
            carried |= tul_g_sortedSignal[s] & kMarks;
        u += 40;
        ++s;
    }
    int64_t moved = 0;
    int64_t acc = 0;
    for (int64_t pos = u; s < count; ++s, pos += 40) {
        uint32_t e = tul_g_sortedSignal[s] | carried;
        carried = 0;
        if (e & kMarks) {
            if (pseudoELV == 1) {
                acc += (e & kMarkShift) ? r : -19 * static_cast<int64_t>(r);
                moved += acc / 1000;
                acc %= 1000;
            } else if (e & kMarkShift) {
                moved += h;
            }
        }
        const int64_t p = pos + moved;
        if (p >= static_cast<int64_t>(kRecordLength) && moved >= 0)
            break;
        if ((e & kMarks) == kMarkDrop)
            continue;
        if (p < 0 || p >= static_cast<int64_t>(kRecordLength))
            continue;
        put(p, e);
    }
}

// Holds each min/max pair over the empty pairs after it (the leading ones take the first pair);
// filled words carry the interpolation mark so that later acquisitions replace them.
void fillMinMaxGaps(uint32_t* buffer)
{
    uint32_t lo = kEmpty, hi = kEmpty;
    uint32_t firstValid = kRecordLength;
    for (uint32_t p = 0; p + 1 < kRecordLength; p += 2) {
        if (!(buffer[p] & kEmpty) && !(buffer[p + 1] & kEmpty)) {
            lo = buffer[p];
            hi = buffer[p + 1];
            if (firstValid == kRecordLength)
                firstValid = p;
        } else if (!(lo & kEmpty)) {
            buffer[p] = (lo & kSampleCodeMask) | kMarkDrop;
            buffer[p + 1] = (hi & kSampleCodeMask) | kMarkDrop;
        }
    }
    for (uint32_t p = 0; p < firstValid && firstValid < kRecordLength; p += 2) {
        buffer[p] = (buffer[firstValid] & kSampleCodeMask) | kMarkDrop;
        buffer[p + 1] = (buffer[firstValid + 1] & kSampleCodeMask) | kMarkDrop;
    }
}

}  // namespace

void setTransferRandomSeed(uint32_t seed)
{
    s_randomState = seed ? seed : 0x2545F491u;
}

acq_ctrl* AcqTransfertOpen(acq_ctrl* ctrl)
{
    return ctrl;
}

int32_t decodePipeline(acq_ctrl* ctrl, const uint16_t* ring, const TPipelineReadBack& readBack,
                       TPipelineValues* values)
{
    const int tb = tableIndex(ctrl->timeBase);
    const int trig = ctrl->triggerSource < 4 ? ctrl->triggerSource : 0;

    int32_t position = ring[trig] & kCode12;
    if (vernierOf(trig).ValeurCorrigee(&position) != 0) {
        const uint32_t r = nextRandom();
        const int32_t dyn = tb >= 0 ? std::max<int16_t>(s_l_dynamicMacroVernier[tb], 1) : 1;
        pseudoMacroVernier = static_cast<int16_t>(r % static_cast<uint32_t>(dyn));
        position = static_cast<int32_t>(r % kVernierSpan);
    }

    int32_t k;
    switch (pseudoELV) {
    case 1025: k = 10240; break;
    case 33825: k = 5120; break;
    case 349525: k = 2048; break;
    case 0xFFFFF: k = 1024; break;
    default: k = 20480; break;
    }

    const uint32_t b = readBack.phase & 0xFF;
    const uint32_t chosen = b < 64 ? readBack.pattern5 : readBack.pattern6;
    uint32_t g = (((chosen >> 16) & 0xFF) << 12 | (chosen & 0xFFFF) >> 4) & 0xFFFFF;
    if (g == 0)
        g = 0xFFFFF;
    const bool minMax = (ctrl->acqFlags & 4) && ctrl->timeBase > 10;
    const int32_t l = minMax ? static_cast<int32_t>((0u - b) & 3u) : 1;
    int32_t n = 127 - static_cast<int32_t>(b) - l;
    if (n < 0)
        n += 128;
    if (pseudoELV != 0xFFFFF && n >= 64 - l && n <= 63)
        g = ((g >> 1) | ((g & 1u) << 19)) & 0xFFFFF;

    values->phaseIndex = n;
    values->phaseUnit = k;
    values->pattern = g;
    const int32_t d = tb >= 0 ? s_l_diviseurVernier[tb] : -1;
    if (d <= 0) {
        ctrl->transferPhase = 0;
        values->vernierPosition = 0;
        return 1;
    }
    int64_t j = 0;
    while (j < 20 && !((g >> j) & pseudoELV))
        ++j;
    if (j >= 20)
        j = 0;
    const int64_t jScaled = pseudoELV == 1 ? j * 32768 / 400 : j * 1024;
    const int64_t origin = (static_cast<int64_t>(pseudoMacroVernier) * kVernierSpan + k -
                            position % k - static_cast<int64_t>(ctrl->triggerOffsetFrac) * 20 - 1 +
                            jScaled) /
                           d;
    ctrl->transferPhase = static_cast<int32_t>(origin);
    values->vernierPosition = position / 1024;
    return 1;
}

int32_t LecturePipeline(acq_ctrl* ctrl, const uint16_t* ring, TPipelineValues* values)
{
    const int trig = ctrl->triggerSource < 4 ? ctrl->triggerSource : 0;
    const uint16_t trigBit = feChannelMask(static_cast<unsigned>(trig));
    uint16_t set = static_cast<uint16_t>((ctrl->cycleChannels | trigBit) & FE_ALL_CHANNELS);
    if ((ctrl->triggerType == 2 || ctrl->triggerType == 3) && ctrl->qualifierSource < 4)
        set |= feChannelMask(ctrl->qualifierSource);

    TPipelineReadBack rb{};
    feSerialSend(set, 0x83, 0);
    rb.phase = feSerialQuery(trigBit, 0x181);
    rb.pattern5 = feSerialQuery(trigBit, 0x185);
    rb.pattern6 = feSerialQuery(trigBit, 0x186);
    feSerialSend(set, 0x84, 0);
    return decodePipeline(ctrl, ring, rb, values);
}

int32_t MatriceTri(uint16_t channelBit, acq_ctrl* ctrl, const TPipelineValues* values)
{
    const int ch = channelIndexOfBit(channelBit);
    const bool minMax = (ctrl->acqFlags & 4) && ctrl->timeBase > 10;
    const int group = minMax ? 3 : (ctrl->timeBase < 10 ? 2 : (ctrl->timeBase == 10 ? 1 : 0));
    const int16_t* offsets = matriceOffsetsOf(ch, group);
    const uint16_t* ring = tus_l_signalsBuffer;

    int32_t g;
    switch (pseudoELV) {
    case 0xFFFFF: g = 1; break;
    case 349525: g = 2; break;
    case 33825: g = 5; break;
    case 1025: g = 10; break;
    default: g = 20; break;
    }
    const int64_t samples = std::max<int64_t>(0, static_cast<int64_t>(pseudoPretrig) + pseudoPostrig);
    int32_t count;
    if (minMax)
        count = static_cast<int32_t>(std::min<int64_t>((samples / 2) & ~int64_t(1), kEtSamples));
    else
        count = static_cast<int32_t>(std::min<int64_t>(samples * 20 / g, kEtSamples));
    if (count <= 0)
        return 0;

    const int32_t vpos = values->vernierPosition;
    const int32_t tz = trailingZeros20(values->pattern);
    int32_t startPhase;
    if (minMax)
        startPhase = (vpos * 1024 < kVernierSpan ? 0 : vpos - vpos % 20) + tz;
    else
        startPhase = vpos - vpos % g + tz;
    int32_t start = (values->phaseIndex * 20 + startPhase) % kEtSamples;
    if (start < 0)
        start += kEtSamples;
    int32_t block = start / 20;
    int32_t phase = start % 20;

    auto code = [&](int32_t b, int32_t p) -> uint32_t {
        const int32_t entry = 2 + 21 * b + p;
        const int32_t v = static_cast<int32_t>(ring[entry * 4 + ch] & kCode12) - offsets[p];
        return v > 0 ? static_cast<uint32_t>(v) : 0u;
    };

    if (!minMax) {
        for (int32_t i = count - 1; i >= 0; --i) {
            tul_g_sortedSignal[i] = code(block, phase);
            if (pseudoELV != 0xFFFFF && phase < g && block == 64) {
                tul_g_sortedSignal[i] |= (phase == 0 && pseudoELV == 1) ? kMarkDrop : kMarkShift;
                phase = phase + 19 - g;
                block = 63;
                if (phase < 0) {
                    phase += 20;
                    --block;
                }
                continue;
            }
            phase -= g;
            if (phase < 0) {
                phase += 20;
                --block;
            }
            if (block < 0)
                block = kEtBlocks - 1;
        }
    } else {
        for (int32_t i = count - 2; i >= 0; i -= 2) {
            tul_g_sortedSignal[i] = code(block, phase);
            const int32_t earlier = block >= 2 ? block - 2 : block - 2 + kEtBlocks;
            tul_g_sortedSignal[i + 1] = code(earlier, phase);
            const int32_t next = block - 4;
            if (block >= 64 && next < 64) {
                phase = phase == 0 ? 19 : phase - 1;
                block = 63;
            } else if (next < 0) {
                block = kEtBlocks - 1;
            } else {
                block = next;
            }
        }
    }
    return count;
}

int32_t acqCalcul(acq_ctrl* ctrl, uint32_t* position, uint32_t n, bool reframeOnFailure)
{
    const uint32_t pos = std::min(*position, kRecordLength);
    const uint32_t count = std::min(n, kRecordLength - pos);
    const bool scopeMode = (data.instrumentMode & 0x10) != 0;
    for (int bit = 0; bit < 12; ++bit) {
        if (!(ctrl->shownChannels & (1u << bit)))
            continue;
        int ch;
        if (bit < 4)
            ch = bit;
        else if (bit >= 8)
            ch = bit - 8;
        else
            continue;
        TAcquisition* trace = liveTrace(ch);
        if (!trace)
            continue;
        const int16_t offset = channelOffset(ch);
        TFonction* fn = bit < 4 ? mathFunction(ch) : nullptr;
        if (fn && fn->IsDefined()) {
            if (trace->samples && fn->Compute(trace->samples, pos, count)) {
                if (ctrl->acqFlags != ACQ_FLAGS_REPROCESS && ctrl->acqFlags != ACQ_FLAGS_REPROCESS_REDRAW)
                    trace->acqFlags = ctrl->acqFlags;
                trace->position = 0;
                trace->CadrageSoftT(offset, pos, count);
                trace->SetAcquisitionParametres(ctrl);
            } else if (reframeOnFailure) {
                trace->CadrageSoftT(offset, pos, count);
            }
            continue;
        }
        const uint32_t* src = normalisedBuffer(ch);
        if (!src || !trace->samples)
            continue;
        std::copy(src + pos, src + pos + count, trace->samples + pos);
        if (scopeMode)
            trace->CadrageSoftT(offset, pos, count);
    }
    return 1;
}

int32_t acqtrans(acq_ctrl* ctrl, uint32_t* held, int32_t* first, TInterpolation* interpolate)
{
    *first = 0;
    const uint32_t total = std::min<uint32_t>(ctrl->postTrigger + ctrl->preTrigger, kRecordLength);
    const uint32_t position = std::min(*held, total);
    uint32_t n = ctrl->newSamples;
    if (position + static_cast<uint64_t>(n) > total)
        n = total - position;
    if (n == 0)
        return 0;

    const bool minMax = (ctrl->acqFlags & 4) && ctrl->timeBase >= 11;
    // The min/max flag means nothing below index 11.
    const uint16_t flags = minMax ? ctrl->acqFlags : static_cast<uint16_t>(ctrl->acqFlags & ~4u);
    const bool equivalentTime = (flags & 0x20) != 0;
    const bool decimated = (flags & 0x90) == 0x90;
    const bool firstTransfer = *interpolate != 1;
    const int shift = ctrl->averageIndex > 0 ? std::min<int>(ctrl->averageIndex, 31) : 0;
    int32_t h, r;
    etStep(ctrl->timeBase, &h, &r);

    TPipelineValues values{0, 0, kVernierSpan, 0xFFFFF};
    const bool scopeMode = (ctrl->acqMode & 0x10) != 0;
    int startChannel = 0;
    try {
        if (scopeMode) {
            if (ctrl->timeBase < 18 && LecturePipeline(ctrl, tus_l_signalsBuffer, &values) != 1)
                throw TransfertEnum(1);
            startChannel = ctrl->triggerSource < 4 ? ctrl->triggerSource : 0;
        }
        for (int step = 0; step < 4; ++step) {
            const int ch = (startChannel + step) & 3;
            const uint16_t bit = static_cast<uint16_t>(1u << ch);
            if (!(ctrl->acqChannels & bit))
                continue;
            // A channel outside the running cycle has nothing new in the ring: placing the
            // sorted area would write another channel's samples.
            if (!(ctrl->cycleChannels & bit))
                continue;
            uint32_t* buffer = normalisedBuffer(ch);
            if (!buffer)
                continue;

            int32_t count;
            if (equivalentTime) {
                count = MatriceTri(bit, ctrl, &values);
                if (count == 0)
                    throw TransfertEnum(2);
            } else {
                uint32_t m = ((flags & 0x80) && (flags & 0x10)) ? ctrl->newSamples : n;
                m = std::min(m, kRecordLength);
                const int64_t start = ((static_cast<int64_t>(ctrl->ringStart) % kRingWords) + kRingWords) % kRingWords;
                int64_t w = start + ch;
                for (uint32_t i = 0; i < m; ++i) {
                    tul_g_sortedSignal[i] = tus_l_signalsBuffer[w] & kCode12;
                    w += 4;
                    if (w >= kRingWords)
                        w -= kRingWords;
                }
                count = static_cast<int32_t>(m);
            }

            const int32_t zero = ctrl->zero[ch];
            const int32_t span = ctrl->span[ch];
            if (minMax) {
                const int32_t offMin = bypassMinOffsetOf(ch);
                const int32_t offMax = bypassMaxOffsetOf(ch);
                for (int32_t i = 0; i + 1 < count; i += 2) {
                    int32_t a = static_cast<int32_t>(tul_g_sortedSignal[i] & kCode12) - offMin;
                    int32_t b = static_cast<int32_t>(tul_g_sortedSignal[i + 1] & kCode12) - offMax;
                    a = std::clamp(a, 0, 4095);
                    b = std::clamp(b, 0, 4095);
                    tul_g_sortedSignal[i] = convertCode(static_cast<uint32_t>(std::min(a, b)), zero, span);
                    tul_g_sortedSignal[i + 1] = convertCode(static_cast<uint32_t>(std::max(a, b)), zero, span);
                }
                // Streaming min/max: two pairs a group, the one with the larger spread stands
                // for the group.
                if (flags == 132 || flags == 133 || flags == 134 || flags == 196 || flags == 197 ||
                    flags == 198) {
                    int32_t out = 0;
                    for (int32_t i = 0; i + 3 < count; i += 4) {
                        const uint32_t* q = &tul_g_sortedSignal[i];
                        const bool firstWider = (q[1] - q[0]) >= (q[3] - q[2]);
                        const uint32_t lo = firstWider ? q[0] : q[2];
                        const uint32_t hi = firstWider ? q[1] : q[3];
                        tul_g_sortedSignal[out++] = lo;
                        tul_g_sortedSignal[out++] = hi;
                    }
                    count = out;
                }
            } else {
                for (int32_t i = 0; i < count; ++i) {
                    const uint32_t e = tul_g_sortedSignal[i];
                    tul_g_sortedSignal[i] = convertCode(e, zero, span) | (e & kMarks);
                }
            }

            switch (flags) {
            case 32:
            case 33: {
                int64_t u, s;
                etStart(ctrl, values, 40, alignmentShift(ctrl, ch), &u, &s);
                int64_t uu = u, ss = s;
                while (uu < 0 || ss < 0) {
                    uu += 40;
                    ++ss;
                }
                etWalk(count, u, s, true, h, r, [&](int64_t p, uint32_t e) {
                    placeAveraged(&buffer[p], e & ~(kMarks | kEmpty), shift);
                });
                if (uu < ctrl->dispWidth)
                    *first = static_cast<int32_t>(uu);
                if (firstTransfer)
                    InterpolAcq(buffer, kRecordLength);
                buffer[0] = buffer[1];
                break;
            }
            case 34: {
                int64_t u, s;
                etStart(ctrl, values, 40, alignmentShift(ctrl, ch), &u, &s);
                etWalk(count, u, s, false, h, r, [&](int64_t p, uint32_t e) {
                    const int64_t at = p & ~int64_t(1);
                    envelopePair(buffer, at, e, e);
                });
                if (firstTransfer)
                    InterpolAcq(buffer, kRecordLength);
                break;
            }
            case 36:
            case 37:
                // interpMinMax counts pairs: the sort gives count / 2 of them (625 for a whole
                // record), each standing for 160 positions. A fixed 1250 would stretch them over
                // half the record and read stale pairs beyond the sorted area for the rest.
                interpMinMax(tul_g_sortedSignal, buffer, static_cast<uint32_t>(count / 2), kRecordLength);
                break;
            case 38: {
                int64_t u, s;
                etStart(ctrl, values, 160, alignmentShift(ctrl, ch), &u, &s);
                s *= 2;
                while (u < 0 || s < 0) {
                    u += 160;
                    s += 2;
                }
                if (u < ctrl->dispWidth)
                    *first = static_cast<int32_t>(u);
                for (int64_t p = u; s + 1 < count && p < static_cast<int64_t>(kRecordLength); s += 2, p += 160)
                    envelopePair(buffer, p & ~int64_t(1), tul_g_sortedSignal[s], tul_g_sortedSignal[s + 1]);
                if (firstTransfer)
                    fillMinMaxGaps(buffer);
                for (int k = 0; k < 2; ++k) {
                    buffer[2 * k] = buffer[4];
                    buffer[2 * k + 1] = buffer[5];
                }
                break;
            }
            case 128: case 129: case 192: case 193:
                for (int32_t i = 0; i < count && position + i < kRecordLength; ++i)
                    placeAveraged(&buffer[position + i], tul_g_sortedSignal[i], shift);
                break;
            case 130: case 194:
                for (int32_t i = 0; i < count && position + i < kRecordLength; ++i) {
                    const uint32_t v = tul_g_sortedSignal[i];
                    envelopePair(buffer, (position + i) & ~1u, v, v);
                }
                break;
            case 132: case 133: case 196: case 197:
                for (int32_t i = 0; i + 1 < count; i += 2) {
                    const uint32_t p = position + 2 * static_cast<uint32_t>(i);
                    for (uint32_t k = 0; k < 4 && p + k < kRecordLength; ++k)
                        placeAveraged(&buffer[p + k], tul_g_sortedSignal[i + (k & 1)], shift);
                }
                break;
            case 134: case 198:
                for (int32_t i = 0; i + 1 < count; i += 2) {
                    const uint32_t p = position + 2 * static_cast<uint32_t>(i);
                    envelopePair(buffer, p, tul_g_sortedSignal[i], tul_g_sortedSignal[i + 1]);
                    envelopePair(buffer, p + 2, tul_g_sortedSignal[i], tul_g_sortedSignal[i + 1]);
                }
                break;
            case 144: case 145: case 146: {
                const int64_t d = std::max<int64_t>(ctrl->decimation, 1);
                const int64_t m = std::clamp<int64_t>(pseudoMacroVernier, 0, 500);
                const int64_t t = d * m / 500;
                // Each acquisition's samples stand on a grid of its own (the vernier moves it):
                // a new record that is not averaged starts empty, or the previous one's samples
                // stay between the new ones (with the automatic trigger, from another phase).
                if (firstTransfer && shift == 0)
                    std::fill(buffer, buffer + kRecordLength, kEmpty);
                for (int32_t i = 0; i < count; ++i) {
                    const int64_t p = t + i * d;
                    if (p >= static_cast<int64_t>(kRecordLength))
                        break;
                    if (flags == 146)
                        envelopePair(buffer, p & ~int64_t(1), tul_g_sortedSignal[i], tul_g_sortedSignal[i]);
                    else
                        placeAveraged(&buffer[p], tul_g_sortedSignal[i], shift);
                }
                int64_t t2 = t - (ctrl->dispPosition % d);
                if (t2 < 0)
                    t2 = d - ((-t2) % d);
                if (t2 < ctrl->dispWidth)
                    *first = static_cast<int32_t>(t2);
                if (flags != 146) {
                    if (firstTransfer)
                        InterpolAcq(buffer, kRecordLength);
                    buffer[0] = buffer[1];
                }
                break;
            }
            case 148: case 149: {
                const int32_t half = count / 2;
                for (int32_t i = 0; i < half; ++i)
                    tul_g_sortedSignal[i] = tul_g_sortedSignal[2 * i];
                const uint32_t d = std::max<uint32_t>(ctrl->decimation, 1);
                interpMinMax(tul_g_sortedSignal, buffer, std::max<uint32_t>(kRecordLength / (2 * d), 1), kRecordLength);
                break;
            }
            case 150: {
                const int64_t d = std::max<int64_t>(ctrl->decimation, 1);
                const int64_t m = std::clamp<int64_t>(pseudoMacroVernier, 0, 500);
                const int64_t start = (4 * d * m / 500) & ~int64_t(3);
                for (int32_t i = 0; i + 3 < count; i += 4) {
                    const int64_t p = start + (i / 4) * 2 * d;
                    if (p >= static_cast<int64_t>(kRecordLength))
                        break;
                    envelopePair(buffer, p, tul_g_sortedSignal[i], tul_g_sortedSignal[i + 1]);
                    envelopePair(buffer, p + 2, tul_g_sortedSignal[i + 2], tul_g_sortedSignal[i + 3]);
                }
                int64_t t2 = start - (ctrl->dispPosition % (2 * d));
                if (t2 < 0)
                    t2 = 2 * d - ((-t2) % (2 * d));
                if (t2 < ctrl->dispWidth)
                    *first = static_cast<int32_t>(t2);
                if (firstTransfer)
                    fillMinMaxGaps(buffer);
                buffer[0] = buffer[1];
                break;
            }
            case 385: case 641: case 642: case 643:
                for (int32_t i = 0; i < count && position + i < kRecordLength; ++i)
                    buffer[position + i] = tul_g_sortedSignal[i];
                buffer[0] = buffer[1];
                break;
            default:
                break;
            }

            if (TAcquisition* trace = liveTrace(ch))
                trace->SetAcquisitionParametres(ctrl);
        }
    } catch (TransfertEnum) {
        return 0;
    }

    // Placements spread over the whole record count the record, not the ring samples.
    uint32_t pos = position;
    int32_t result;
    if (equivalentTime || decimated) {
        result = acqCalcul(ctrl, &pos, total - position, false);
        *held = total;
    } else {
        result = acqCalcul(ctrl, &pos, n, false);
        *held = std::min(position + n, total);
    }

    if (equivalentTime) {
        pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x40u);
        for (unsigned c = 0; c < 4; ++c)
            feSerialSend(feChannelMask(c), ACQ_OP_RELAY, static_cast<uint16_t>(pseudoRC | pseudoRC_bwl[c]));
    }
    *interpolate = 1;
    return result;
}
