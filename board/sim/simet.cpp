// The simulated board's equivalent-time record model (see simet.h and simengine.cpp).
#include "board/sim/simet.h"

#include <algorithm>
#include <cmath>

namespace simboard {
namespace et {

uint32_t rotl20(uint32_t v, int n)
{
    v &= 0xFFFFF;
    n = ((n % 20) + 20) % 20;
    return n == 0 ? v : ((v << n) | (v >> (20 - n))) & 0xFFFFF;
}

uint32_t rotr20(uint32_t v, int n)
{
    return rotl20(v, 20 - ((n % 20) + 20) % 20);
}

int trailingZeros20(uint32_t v)
{
    v &= 0xFFFFF;
    if (v == 0)
        return 0;
    int n = 0;
    while (!(v & 1)) {
        v >>= 1;
        ++n;
    }
    return n;
}

TGeometry geometry(uint32_t elv, double periodNs, bool minMax)
{
    TGeometry geo;
    geo.elv = elv & 0xFFFFF;
    geo.periodNs = periodNs > 0 ? periodNs : 8.0;
    switch (geo.elv) {
    case 0xFFFFF: geo.g = 1; break;
    case 349525: geo.g = 2; break;
    case 33825: geo.g = 5; break;
    case 1025: geo.g = 10; break;
    default: geo.g = 20; break;
    }
    geo.K = geo.g < 20 ? geo.g * 1024 : kUnit;
    geo.perSample = geo.g < 20 ? kPhases / geo.g : 1;
    geo.d = geo.g < 20 ? 1 : std::max(1, static_cast<int>(std::lround(geo.periodNs / 8.0)));
    geo.H = (geo.g > 1 && geo.g < 20) ? 40 / geo.g : 0;
    // The column switch of a one-phase block costs 160 ps.
    geo.residualX1000 = geo.g == 20 ? static_cast<int>(6400.0 / geo.periodNs + 1e-9) : 0;
    // The trigger path: 72 ns, plus two samples of pipeline above the 8 ns clock, in whole
    // samples as the driver compensates them (its product gives 8 at the two fastest lengths).
    if (geo.periodNs < 8.5)
        geo.latency = (geo.g == 1 || geo.g == 2) ? 8 : 9;
    else
        geo.latency = static_cast<int>(72.0 / geo.periodNs + 1e-9) + 2;
    geo.minMax = minMax && geo.g == 20;
    return geo;
}

namespace {

int cdiv(int64_t a, int64_t b)
{
    return static_cast<int>(a / b);   // C truncation, as the product computes
}

// The pre-trigger part of the FPGA's pre word: the board's ring runs 3 ms before it takes a
// trigger, so the word carries that fill on top of the record's count.
int64_t recordSamples(const TGeometry& geo, uint32_t preWord, uint32_t postWord)
{
    const int64_t fill = std::llround(3e6 / geo.periodNs);
    const int64_t pre = preWord >= fill ? static_cast<int64_t>(preWord) - fill : preWord;
    const int64_t estimate = pre + postWord;
    // A record of 100,000 positions spans 2500 / D FPGA samples plus one; the fill's rounding
    // can hide one sample from the estimate.
    const int64_t standard = 2500 / geo.perSample + 1;
    return std::llabs(estimate - standard) <= 1 ? standard : std::max<int64_t>(estimate, 0);
}

} // namespace

TPlan plan(const TGeometry& geo, const TChoice& choiceIn, uint32_t preWord, uint32_t postWord, uint16_t vernierMin,
           uint16_t vernierMax)
{
    TPlan p;
    p.geo = geo;
    TChoice c = choiceIn;
    c.startBlock = ((c.startBlock % kBlocks) + kBlocks) % kBlocks;
    if (geo.minMax)
        c.startBlock |= 3;   // pairs read two blocks back: the walk keeps to blocks 3 mod 4
    c.rotation = ((c.rotation % geo.g) + geo.g) % geo.g;
    c.fraction = std::min(std::max(c.fraction, 0.0), std::nextafter(1.0, 0.0));
    p.choice = c;
    const int N = c.startBlock;

    // Pipeline byte: N = 127 - b - L (+128), L = (-b) & 3 for min/max, else 1.
    int L = 1;
    int b = N == 127 ? 127 : 126 - N;
    if (geo.minMax) {
        b = 127 - N;   // a multiple of 4: L = 0
        L = (-b) & 3;
    }
    p.answers.pipelineByte = static_cast<uint8_t>(b);
    p.pipelineN = 127 - b - L;
    if (p.pipelineN < 0)
        p.pipelineN += 128;

    const uint32_t elv = geo.elv == 0 ? 0xFFFFF : geo.elv;
    p.answers.pattern = rotl20(elv, c.rotation);
    p.patternUsed = p.answers.pattern;
    if (geo.elv != 0xFFFFF && p.pipelineN >= 64 - L && p.pipelineN <= 63)
        p.patternUsed = rotr20(p.patternUsed, 1);

    // Vernier: the fraction of the FPGA sample is a count of 8 ns clocks (macro vernier, counting
    // down) and a position within the clock (0..20479, code falling as it grows).
    const double q = c.fraction * geo.d * kUnit;
    const int clocks = std::min(geo.d - 1, std::max(0, static_cast<int>(q / kUnit)));
    const int ideal = std::min(kUnit - 1, std::max(0, static_cast<int>(q - static_cast<double>(clocks) * kUnit)));
    const int span = vernierMax - vernierMin;
    const int code = vernierMax - static_cast<int>(std::lround(ideal * static_cast<double>(span) / 20479.0));
    p.answers.vernierCode = static_cast<uint16_t>(code);
    p.vernierPosition = cdiv(static_cast<int64_t>(vernierMax - code) * 20479, span);
    p.answers.macroVernier = static_cast<int16_t>(geo.d - 1 - clocks);
    p.fractionTrue = (static_cast<double>(clocks) * kUnit + p.vernierPosition) / (static_cast<double>(geo.d) * kUnit);

    // Origin of the placement, as the pipeline read-out derives it.
    int j = 0;
    while (j < 20 && !((p.patternUsed >> j) & elv))
        ++j;
    if (j == 20)
        j = 0;
    const int64_t jScaled = geo.elv == 1 ? (static_cast<int64_t>(j) * 32768) / 400 : static_cast<int64_t>(j) * 1024;
    const int vp = p.vernierPosition;
    p.origin = cdiv(static_cast<int64_t>(p.answers.macroVernier) * kUnit + geo.K - vp % geo.K - 1 + jScaled, geo.d);

    // Start of the walk.
    const int tz = trailingZeros20(p.patternUsed);
    int u;
    if (geo.minMax)
        u = (vp / 1024) / 20 * 20 + tz;
    else
        u = (vp / 1024) - (vp / 1024) % geo.g + tz;
    const int start = ((N * kPhases + u) % kRingSamples + kRingSamples) % kRingSamples;

    const int64_t samples = recordSamples(geo, preWord, postWord);
    const double post = postWord;
    if (geo.minMax) {
        const int words = static_cast<int>(std::min<int64_t>((samples / 2) & ~int64_t(1), kRingSamples));
        const int pairs = words / 2;
        p.count = words;
        p.positionNs = geo.periodNs / 40.0;
        p.crossingPosition = 160.0 * pairs - 40.0 * (post + geo.latency - p.fractionTrue);
        int blk = start / kPhases, ph = start % kPhases;
        for (int k = 0; k < kRingSamples / 4; ++k) {
            TVisit v;
            v.entry = entryOf(blk, ph);
            v.entry2 = v.entry - 42;
            const int i = pairs - 1 - k;
            v.position = 160.0 * i;
            v.positionEnd = v.position + 160.0;
            v.sorted = k < pairs;
            v.stored = v.sorted;
            if (v.entry2 >= 2)
                p.visits.push_back(v);
            const int nb = blk - 4;
            if (blk >= 64 && nb <= 63) {
                ph = ph == 0 ? kPhases - 1 : ph - 1;
                blk = nb;
            } else {
                blk = nb < 0 ? nb + kBlocks : nb;
            }
        }
        return p;
    }

    // Plain walk, newest first, over the whole ring.
    const int count = static_cast<int>(std::min<int64_t>(samples * kPhases / geo.g, kRingSamples));
    p.count = count;
    std::vector<TVisit> walk;
    walk.reserve(kRingSamples);
    int blk = start / kPhases, ph = start % kPhases;
    for (int k = 0; k < kRingSamples; ++k) {
        TVisit v;
        v.entry = entryOf(blk, ph);
        if (geo.elv != 0xFFFFF && ph < geo.g && blk == 64) {
            v.mark = (ph == 0 && geo.elv == 1) ? kMarkWrap : kMarkShift;
            // Phase -1 (the wrap at length 1) falls on block 63's header: one entry further back.
            ph = ph + 19 - geo.g;
            blk = 63;
            if (ph < 0) {
                ph += kPhases;
                blk = 62;
            }
        } else {
            ph -= geo.g;
            if (ph < 0) {
                ph += kPhases;
                blk = blk == 0 ? kBlocks - 1 : blk - 1;
            }
        }
        walk.push_back(v);
    }

    // Placement of the sorted entries (index i = count - 1 - k).
    int u0 = (1 - p.origin / geo.K) * 40 + (p.origin * 40) / geo.K;
    int s0 = 1 - p.origin / geo.K;
    uint32_t carried = 0;
    while (u0 < 0 || s0 < 0) {
        if (s0 >= 0 && s0 < count)
            carried |= walk[count - 1 - s0].mark;
        u0 += 40;
        ++s0;
    }
    int64_t shift = 0, acc = 0;
    double oldest = u0 - 40.0 * s0;
    for (int i = 0; i < count; ++i) {
        TVisit& v = walk[count - 1 - i];
        if (i < s0) {
            v.position = u0 - 40.0 * (s0 - i);
            v.stored = false;
            continue;
        }
        const uint32_t m = v.mark | (i == s0 ? carried : 0);
        if (geo.elv == 1) {
            if (m & kMarkShift)
                acc += geo.residualX1000;
            else if (m & kMarkWrap)
                acc -= 19 * geo.residualX1000;
            shift += acc / 1000;
            acc %= 1000;
        } else if (m & kMarkShift) {
            shift += geo.H;
        }
        v.position = u0 + 40.0 * (i - s0) + static_cast<double>(shift);
        v.stored = !((m & kMarkWrap) && !(m & kMarkShift)) && v.position < kRecordPositions;
        if (i == 0)
            oldest = v.position;
    }
    for (int k = count; k < kRingSamples; ++k) {
        walk[k].position = oldest - 40.0 * (k - count + 1);
        walk[k].stored = false;
        walk[k].sorted = false;
    }
    const double newest = count > 0 ? walk[0].position : oldest - 40.0;
    p.positionNs = geo.periodNs / (40.0 * geo.perSample);
    p.crossingPosition = newest - 40.0 * geo.perSample * (post + geo.latency - p.fractionTrue) -
                         (geo.g < 20 ? 40.0 * u / geo.g : 0.0);
    p.visits = std::move(walk);
    return p;
}

} // namespace et
} // namespace simboard
