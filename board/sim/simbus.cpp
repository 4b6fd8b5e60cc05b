// The bus source. Every random figure comes from a hash of (seed, index), never from a running
// stream, so that equivalent-time sampling may ask for instants out of order.
#include "board/sim/simbus.h"

#include "board/sim/simboard.h"

#include <algorithm>
#include <cmath>

namespace simboard {
namespace bus {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNoiseSlot = 1e-9;  // the noise holds its value this long
// 10-90 % of a Gaussian-edged step is 2 x 1.2816 sigma.
constexpr double kEdgeSigmas = 2.5631;

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A near-normal figure of (seed, stream, index), mean 0 and variance 1: the sum of four uniform
// 16-bit parts of one hash (no transcendental call: the source is evaluated per sample).
double gaussian(uint32_t seed, uint64_t stream, int64_t index)
{
    const uint64_t h = mix((uint64_t{seed} << 32) ^ (stream << 56) ^ static_cast<uint64_t>(index));
    const double sum = static_cast<double>((h & 0xFFFF) + ((h >> 16) & 0xFFFF) + ((h >> 32) & 0xFFFF) + (h >> 48));
    // Four uniforms on 0..65535: mean 131070, variance 4 x (65536^2 - 1) / 12.
    return (sum - 131070.0) / 37837.23;
}

} // namespace

double level(const TBusConfig& c, TBusWire wire, int value)
{
    switch (wire) {
    case kBusHigh:
        return c.high[value];
    case kBusLow:
        return c.low[value];
    default:
        return c.high[value] - c.low[value];
    }
}

std::vector<uint8_t> canFrameBits(uint32_t id, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> raw;
    auto put = [&raw](uint32_t v, int bits) {
        for (int b = bits - 1; b >= 0; --b)
            raw.push_back(static_cast<uint8_t>((v >> b) & 1));
    };
    const size_t length = std::min<size_t>(data.size(), 8);
    put(0, 1);           // SOF
    put(id & 0x7FF, 11);
    put(0, 3);           // RTR, IDE, r0
    put(static_cast<uint32_t>(length), 4);
    for (size_t i = 0; i < length; ++i)
        put(data[i], 8);
    uint32_t crc = 0;
    for (uint8_t bit : raw) {
        const uint32_t next = bit ^ ((crc >> 14) & 1);
        crc = (crc << 1) & 0x7FFF;
        if (next)
            crc ^= 0x4599;
    }
    put(crc, 15);
    // Stuffing from SOF to the end of the CRC: after five equal bits, one of the other value.
    std::vector<uint8_t> out;
    int run = 0;
    uint8_t last = 2;
    for (uint8_t bit : raw) {
        out.push_back(bit);
        run = bit == last ? run + 1 : 1;
        last = bit;
        if (run == 5) {
            last = static_cast<uint8_t>(!bit);
            out.push_back(last);
            run = 1;
        }
    }
    for (uint8_t bit : {1, 0, 1, 1, 1, 1, 1, 1, 1, 1})  // CRC delimiter, ACK slot, ACK delimiter, EOF
        out.push_back(bit);
    return out;
}

std::shared_ptr<const TBusModel> makeModel(const TBusConfig& config)
{
    auto m = std::make_shared<TBusModel>();
    m->config = config;
    std::vector<uint8_t> bits;
    if (config.canFrame) {
        bits = canFrameBits(config.canId, config.canData);
    } else {
        for (char c : config.bits)
            bits.push_back(c == '1' ? 1 : 0);
    }
    bits.insert(bits.end(), static_cast<size_t>(std::max(config.idleBits, 0)), 1);
    if (bits.empty())
        bits.push_back(1);
    const bool manchester = config.coding == "manchester";
    for (uint8_t b : bits) {
        if (manchester)
            m->symbols.push_back(static_cast<uint8_t>(!b));
        m->symbols.push_back(b);
    }
    const double rate = config.bitRate > 0 ? config.bitRate : 1;
    m->symbolTime = manchester ? 0.5 / rate : 1.0 / rate;
    m->period = m->symbolTime * static_cast<double>(m->symbols.size());
    m->edgeSigma[0] = std::max(config.edge0, 1e-15) / kEdgeSigmas;
    m->edgeSigma[1] = std::max(config.edge1, 1e-15) / kEdgeSigmas;
    // The ring is below a millionth of its start after 14 time constants.
    m->ringSettled = config.overshoot > 0 ? 14 * config.ringDecay : 0;
    m->jitterLimit = std::min(m->symbolTime / 4, 3.5 * config.jitter);  // the sum of four uniforms ends at 3.46 rms
    size_t ones = 0;
    for (uint8_t s : m->symbols)
        ones += s;
    const double share1 = static_cast<double>(ones) / static_cast<double>(m->symbols.size());
    for (TBusWire w : {kBusDiff, kBusHigh, kBusLow})
        m->mean[w] = level(config, w, 0) * (1 - share1) + level(config, w, 1) * share1;
    return m;
}

double wireVolts(const TBusModel& m, TBusWire wire, double t)
{
    const TBusConfig& c = m.config;
    const int64_t n = static_cast<int64_t>(m.symbols.size());
    const int64_t k = static_cast<int64_t>(std::floor(t / m.symbolTime));  // absolute symbol index
    const int64_t base = ((k % n) + n) % n;  // symbol k - d is at base - d, wrapped once
    auto symbol = [&](int64_t i) {
        int64_t j = base + (i - k);
        j = j < 0 ? j + n : j >= n ? j - n : j;
        j = j < 0 ? j + n : j >= n ? j - n : j;  // a frame of one symbol
        return static_cast<int>(m.symbols[static_cast<size_t>(j)]);
    };

    // The level two symbols back, then the steps of the three edges around t.
    double v = level(c, wire, symbol(k - 2));
    for (int64_t b = k - 1; b <= k + 1; ++b) {
        const int to = symbol(b);
        const int from = symbol(b - 1);
        if (to == from)
            continue;
        const double step = level(c, wire, to) - level(c, wire, from);
        const double sigma = m.edgeSigma[to];
        // Far from the edge, whatever its jitter: the whole step (once the ring has died) or none.
        const double nominal = t - static_cast<double>(b) * m.symbolTime;
        if (nominal + m.jitterLimit < -8 * sigma)
            continue;
        if (nominal - m.jitterLimit > std::max(8 * sigma, m.ringSettled)) {
            v += step;
            continue;
        }
        const double shift = std::clamp(c.jitter * gaussian(c.seed, 1, b), -m.jitterLimit, m.jitterLimit);
        const double tau = nominal - shift;
        v += step * 0.5 * (1 + std::erf(tau / (sigma * 1.4142135623730951)));
        if (tau > 0 && c.overshoot > 0) {
            // A damped ring that starts with the step's overshoot.
            const double start = 1 - std::exp(-tau / sigma);
            v += step * c.overshoot * start * std::exp(-tau / c.ringDecay) * std::sin(2 * kPi * c.ringFrequency * tau + kPi / 2);
        }
    }
    if (c.noise > 0) {
        const int64_t slot = static_cast<int64_t>(std::floor(t / kNoiseSlot));
        const double high = c.noise * gaussian(c.seed, 2, slot);
        const double low = c.noise * gaussian(c.seed, 3, slot);
        v += wire == kBusHigh ? high : wire == kBusLow ? low : high - low;
    }
    return v;
}

} // namespace bus
} // namespace simboard

namespace simboard {

void attachBusModels(TScenario& scenario)
{
    std::shared_ptr<const bus::TBusModel> model;
    for (TSignal& s : scenario.signals) {
        if (s.shape != "bus") {
            s.busModel.reset();
            continue;
        }
        if (!model)
            model = bus::makeModel(scenario.bus);
        s.busModel = model;
    }
}

} // namespace simboard

namespace simboard {

namespace {

// Seconds per sample of each time-base index: the board's own copy.
const double kSecondsPerSample[] = {1e-13, 2e-13, 5e-13, 1e-12, 2.5e-12, 5e-12, 1e-11, 2e-11, 5e-11, 1e-10,
                                    2e-10, 4e-10, 1e-9,  2e-9,  5e-9,    1e-8,  2e-8,  5e-8,  1e-7,  2e-7,
                                    5e-7,  1e-6,  2e-6,  4e-6,  1e-5,    2e-5,  5e-5,  1e-4,  2e-4,  5e-4,
                                    1e-3,  2e-3,  5e-3,  1e-2,  2e-2};
// Volts per division at the input of each sensitivity index.
const double kVoltsPerDivision[] = {0.0025, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5,
                                    1,      2,     5,    10,   20,   50,  100, 200};
constexpr double kTraceZero = 524256;
constexpr double kTraceCodesPerDivision = 32760;
constexpr double kTraceCodesPerUnit = 262.08;  // a thousandth of the screen height

} // namespace

bool sampleBusTrace(const TBusTraceRequest& q, uint32_t* words)
{
    if (q.channel < 0 || q.channel > 3 || q.timeBase < 0 || q.timeBase > 34 || q.sensitivity < 0 ||
        q.sensitivity > 15 || !(q.probeFactor > 0))
        return false;
    const TScenario s = scenario();
    const TSignal& signal = s.signals[q.channel];
    if (signal.shape != "bus" || !signal.busModel)
        return false;
    const bus::TBusModel& m = *signal.busModel;
    const int64_t n = static_cast<int64_t>(m.symbols.size());
    // The chosen event among the symbol boundaries of one frame.
    std::vector<int64_t> events;
    for (int64_t b = 0; b < n; ++b) {
        const int to = m.symbols[static_cast<size_t>(b)];
        const int from = m.symbols[static_cast<size_t>((b + n - 1) % n)];
        if (to == from)
            continue;
        const bool rising = bus::level(m.config, signal.wire, to) > bus::level(m.config, signal.wire, from);
        bool wanted = false;
        switch (q.event) {
        case TBusTraceRequest::RisingEdge:
            wanted = rising;
            break;
        case TBusTraceRequest::FallingEdge:
            wanted = !rising;
            break;
        case TBusTraceRequest::PositivePulseEnd:
        case TBusTraceRequest::NegativePulseEnd: {
            if (rising != (q.event == TBusTraceRequest::NegativePulseEnd))
                break;
            int64_t width = 1;
            while (width < n && m.symbols[static_cast<size_t>((b - 1 - width + 2 * n) % n)] == from)
                ++width;
            wanted = static_cast<double>(width) * m.symbolTime < q.maxPulse;
            break;
        }
        }
        if (wanted)
            events.push_back(b);
    }
    if (events.empty())
        return false;
    const double t0 = static_cast<double>(events[static_cast<size_t>(q.occurrence) % events.size()]) * m.symbolTime;
    const double dt = kSecondsPerSample[q.timeBase];
    const double codesPerVolt = kTraceCodesPerDivision / kVoltsPerDivision[q.sensitivity];
    const double zero = kTraceZero + q.position * kTraceCodesPerUnit;
    for (int32_t i = 0; i < 100000; ++i) {
        const double t = t0 + static_cast<double>(i - q.triggerIndex) * dt;
        const double v = bus::wireVolts(m, signal.wire, t) / q.probeFactor;
        const double code = std::floor(zero + v * codesPerVolt + 0.5);
        words[i] = static_cast<uint32_t>(std::clamp(code, 0.0, 1048575.0));
    }
    return true;
}

} // namespace simboard
