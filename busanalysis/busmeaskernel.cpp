#include "busanalysis/busmeaskernel.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr uint32_t kInvalidBits = 0xC0000000u;
constexpr uint32_t kCodeMask = 0xFFFFFu;
constexpr int32_t kBins = 512;  // 282 used: the measured range in bins of 1024 codes
constexpr int32_t kLastBin = 281;

bool valid(uint32_t word)
{
    return (word & kInvalidBits) == 0;
}

uint32_t clampedCode(uint32_t word)
{
    return std::clamp(word & kCodeMask, kMeasRangeLow, kMeasRangeHigh);
}

int32_t binOf(uint32_t code)
{
    return std::min<int32_t>(static_cast<int32_t>((code - kMeasRangeLow) / 1024), kLastBin);
}

struct THistogram {
    uint32_t count[kBins + 2];  // bin b at count[b + 1], so that b - 1 and b + 1 always exist
    uint64_t sum[kBins + 2];

    uint32_t window(int32_t middle) const
    {
        if (middle < 0 || middle > kLastBin)
            return 0;
        return count[middle] + count[middle + 1] + count[middle + 2];
    }
};

// The level bin from `from` toward `limit` (step +1 or -1): the first window of three bins over
// minimum whose next window is not larger, else the last such window; -1 when none.
int32_t levelBin(const THistogram& h, int32_t from, int32_t limit, int32_t step, uint32_t minimum)
{
    int32_t candidate = -1;
    for (int32_t j = from; step > 0 ? j <= limit : j >= limit; j += step) {
        const uint32_t c = h.window(j);
        if (c > minimum) {
            candidate = j;
            if (h.window(j + step) <= c)
                break;
        }
    }
    return candidate;
}

// Mean code of bins bin - 1 .. bin + 1, or fallback without samples.
uint32_t levelOf(const THistogram& h, int32_t bin, uint32_t fallback)
{
    uint64_t n = 0;
    uint64_t s = 0;
    for (int32_t b = bin - 1; b <= bin + 1; ++b) {
        if (b < 0 || b > kLastBin)
            continue;
        n += h.count[b + 1];
        s += h.sum[b + 1];
    }
    return n ? static_cast<uint32_t>(s / n) : fallback;
}

bool meets(uint32_t element, int32_t condition, uint32_t value)
{
    switch (condition) {
    case kBusLess:
        return element < value;
    case kBusGreater:
        return element > value;
    case kBusAtMost:
        return element <= value;
    case kBusAtLeast:
        return element >= value;
    case kBusEqual:
        return element == value;
    default:
        return element != value;
    }
}

bool goodCondition(int32_t condition)
{
    return condition >= kBusLess && condition <= kBusNotEqual;
}

} // namespace

int32_t MeasPixT_bus(const uint32_t* samples, TBusAutoMeas* out, int32_t first, int32_t last, int32_t codingType)
{
    std::memset(out, 0, sizeof *out);
    out->maxCode = kMeasRangeLow;
    out->minCode = kMeasRangeHigh;
    const int32_t from = std::max(std::min(first, last), 0);
    const int32_t to = std::min(std::max(first, last), 100000);

    THistogram h;
    std::memset(&h, 0, sizeof h);
    uint32_t n = 0;
    int32_t firstValid = -1;
    for (int32_t i = from; i < to; ++i) {
        if (!valid(samples[i]))
            continue;
        const uint32_t k = clampedCode(samples[i]);
        if (k <= out->minCode) {
            out->minCode = k;
            out->minIndex = i;
        }
        if (k >= out->maxCode) {
            out->maxCode = k;
            out->maxIndex = i;
        }
        const int32_t b = binOf(k) + 1;
        ++h.count[b];
        h.sum[b] += k;
        if (firstValid < 0)
            firstValid = i;
        ++n;
    }
    if (n == 0)
        return -2;
    const bool minValid = out->minCode != kMeasRangeLow && out->minCode != kMeasRangeHigh;
    const bool maxValid = out->maxCode != kMeasRangeLow && out->maxCode != kMeasRangeHigh;
    if (minValid)
        out->flags |= MEAS_MIN_VALID;
    if (maxValid)
        out->flags |= MEAS_MAX_VALID;
    const int32_t bt = binOf(out->maxCode);
    const int32_t bb = binOf(out->minCode);
    if (!minValid || !maxValid || bt - bb <= 4)
        return -2;
    // Less than half a division of swing still has its levels (a bus wire whose swing is small at
    // the sensitivity its range needs: CAN-H at 2 V/div); only the edge search needs that swing,
    // as the scope's kernel has it.
    const bool edgeSwing = out->maxCode - out->minCode >= kBusLeastSwing;

    const uint32_t minimum = n / 20;
    int32_t m = levelBin(h, bb, (bb + 7 * bt) / 10, 1, minimum);
    if (m < 0)
        m = bb;
    int32_t g = levelBin(h, bt, (bt + 7 * bb) / 10, -1, minimum);
    if (g < 0)
        g = bt;
    int32_t d = levelBin(h, (7 * m + 3 * g) / 10, (7 * g + 3 * m) / 10, 1, minimum);
    if (d < 0) {
        if (codingType == 7)
            return -2;
        d = (m + g) / 2;
    } else if (codingType == 7 && (d - m <= 4 || g - d <= 4)) {
        return -2;
    }

    const int64_t top = levelOf(h, g, 1024u * static_cast<uint32_t>(g) + kMeasRangeLow);
    const int64_t base = levelOf(h, m, 1024u * static_cast<uint32_t>(m) + kMeasRangeLow);
    const int64_t mid = levelOf(h, d, static_cast<uint32_t>((top + base) / 2));
    out->topLevel = static_cast<uint32_t>(top);
    out->baseLevel = static_cast<uint32_t>(base);
    out->midLevel = static_cast<uint32_t>(mid);
    out->flags |= MEAS_BASE_VALID | MEAS_TOP_VALID;
    if (!edgeSwing)
        return 0;

    // p5, p10, p45, p50, p55, p90, p95: bit t of a code's band is set when it reaches threshold t.
    const int64_t threshold[7] = {(9 * base + mid) / 10, (top + 9 * base) / 10, (base + 9 * mid) / 10, mid,
                                  (top + 9 * mid) / 10,  (9 * top + base) / 10, (9 * top + mid) / 10};
    auto bandOf = [&](uint32_t word) {
        const int64_t k = clampedCode(word);
        uint32_t band = 0;
        for (int t = 0; t < 7; ++t)
            if (k >= threshold[t])
                band |= 1u << t;
        return band;
    };
    // Codes of the current band lie in [bandLow, bandHigh): most samples stay there, so the band
    // is worked out again only when a code leaves it.
    int64_t bandLow = 0;
    int64_t bandHigh = 0;
    auto setBounds = [&](uint32_t b) {
        bandLow = INT64_MIN;
        bandHigh = INT64_MAX;
        for (int t = 0; t < 7; ++t) {
            if (b & (1u << t))
                bandLow = std::max(bandLow, threshold[t]);
            else
                bandHigh = std::min(bandHigh, threshold[t]);
        }
    };

    uint32_t cross[7] = {};
    uint32_t crossed = 0;
    int edges = 0;
    bool firstRising = true;
    uint32_t band = bandOf(samples[firstValid]);
    setBounds(band);
    // Every valid sample: a record's valid positions may stand at any spacing and parity (an
    // equivalent-time record holds one sample in 40 or 41 before its gaps are filled).
    for (int32_t i = firstValid + 1; i < to; ++i) {
        const uint32_t word = samples[i];
        if (!valid(word))
            continue;
        const int64_t k = clampedCode(word);
        if (k >= bandLow && k < bandHigh)
            continue;
        const uint32_t now = bandOf(word);
        const uint32_t changed = now ^ band;
        setBounds(now);
        for (int t = 0; t < 7; ++t)
            if (changed & (1u << t))
                cross[t] = static_cast<uint32_t>(i);
        crossed |= changed;
        if (edges >= 2) {
            // A mid-level crossing in the first edge's direction: 50 % and 55 % both passed.
            const uint32_t mid2 = 0x18;
            if ((changed & 0x10) && (firstRising ? (now & mid2) == mid2 : (now & mid2) == 0)) {
                ++out->periodCount;
                out->lastCross50 = static_cast<int32_t>(cross[3]);
            }
        } else if (crossed == 0x7F) {
            const bool rising = cross[0] != cross[6] ? cross[0] < cross[6] : now > band;
            if (edges == 0)
                firstRising = rising;
            if (rising) {
                out->flags |= MEAS_RISE;
                out->rise5 = cross[0];
                out->rise10 = cross[1];
                out->rise45 = cross[2];
                out->rise50 = cross[3];
                out->rise55 = cross[4];
                out->rise90 = cross[5];
                out->rise95 = cross[6];
            } else {
                out->flags |= MEAS_FALL;
                out->fall5 = cross[0];
                out->fall10 = cross[1];
                out->fall45 = cross[2];
                out->fall50 = cross[3];
                out->fall55 = cross[4];
                out->fall90 = cross[5];
                out->fall95 = cross[6];
            }
            ++edges;
            crossed = 0;
        }
        band = now;
    }
    // The level after the falling edge, when the record reaches that far.
    if ((out->flags & MEAS_FALL) == MEAS_FALL && out->fall45 + 5000u < 100000u &&
        valid(samples[out->fall45 + 5000u]))
        out->afterFallLevel = samples[out->fall45 + 5000u] & kCodeMask;
    return 0;
}

uint32_t Maximum_sur_intervalle_int(const uint32_t* p, int32_t from, int32_t to)
{
    uint32_t v = p[from];
    for (int32_t i = from + 1; i < to; ++i)
        v = std::max(v, p[i]);
    return v;
}

uint32_t Minimum_sur_intervalle_int(const uint32_t* p, int32_t from, int32_t to)
{
    uint32_t v = p[from];
    for (int32_t i = from + 1; i < to; ++i)
        v = std::min(v, p[i]);
    return v;
}

uint32_t Maximum_sur_intervalle_signal_t(const uint32_t* p, int32_t from, int32_t to)
{
    return Maximum_sur_intervalle_int(p, from, to + 1);
}

uint32_t Minimum_sur_intervalle_signal_t(const uint32_t* p, int32_t from, int32_t to)
{
    return Minimum_sur_intervalle_int(p, from, to + 1);
}

void remplissage_tableau(uint32_t* p, int32_t from, int32_t to, uint32_t value)
{
    for (int32_t i = from; i < to; ++i)
        p[i] = value;
}

int32_t findEdge(const int32_t* p, int32_t from, int32_t end)
{
    for (int32_t j = std::max(from + 1, 1); j < end; ++j)
        if (p[j] != p[j - 1])
            return j;
    return -1;
}

int32_t findElement(const uint32_t* p, int32_t n, int32_t condition, uint32_t value, int32_t direction)
{
    if (!p || !goodCondition(condition))
        return -1;
    if (direction == 1) {
        for (int32_t i = 0; i < n; ++i)
            if (meets(p[i], condition, value))
                return i;
    } else if (direction == 2) {
        for (int32_t i = n - 1; i >= 0; --i)
            if (meets(p[i], condition, value))
                return i;
    }
    return -1;
}

int32_t findNbOccurence(const uint32_t* p, int32_t n, int32_t condition, uint32_t value)
{
    if (!p || !goodCondition(condition))
        return -1;
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i)
        count += meets(p[i], condition, value) ? 1 : 0;
    return count;
}

int32_t findrr_entier(int32_t* out, int32_t outMax, const uint32_t* p, int32_t n, int32_t condition, uint32_t value)
{
    if (!out || !p || outMax < 0 || n < 0 || !goodCondition(condition))
        return -1;
    int32_t written = 0;
    for (int32_t i = 0; i < n && written < outMax; ++i)
        if (meets(p[i], condition, value))
            out[written++] = i;
    return written;
}

int32_t findEnsemble(const uint32_t* p, int32_t n, int32_t* out, int32_t outMax, uint32_t value, int32_t* count,
                     int32_t condition)
{
    if (!count)
        return 0;
    const int32_t matches = findNbOccurence(p, n, condition, value);
    if (matches < 0 || findrr_entier(out, outMax, p, n, condition, value) < 0)
        return 0;
    *count = matches;
    return 1;
}

int32_t find_entier2(const uint32_t* p, int32_t n, int32_t condition, uint32_t value, int32_t* out, int32_t* count,
                     int32_t mode)
{
    if (mode == 0)
        return findEnsemble(p, n, out, n, value, count, condition) && *count > 0 ? 1 : 0;
    if ((mode != 1 && mode != 2) || !out || !count)
        return 0;
    const int32_t index = findElement(p, n, condition, value, mode);
    if (index < 0)
        return 0;
    *out = index;
    *count = 1;
    return 1;
}
