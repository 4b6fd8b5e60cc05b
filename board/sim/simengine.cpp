// Acquisition engine of the simulated board: the channel devices' acquisition opcodes, the
// sample clock, warm-up, FIFO back-pressure, trigger, end, the equivalent-time protocol with its
// record, and the device thread that advances it. Member functions and handlers run with the
// board's mutex held; the control API at the end takes it.
//
// Equivalent-time record
// ----------------------
// Ring: entry 0 = the four channels' vernier codes, then 128 blocks of a header (code 0) and 20
// phase samples; sample k of the ring is entry k + k / 20 + 2. The block length (ELV) gives the
// sort step g (0xFFFFF 1, 349525 2, 33825 5, 1025 10, else 20) and D = 20 / g sort steps per
// FPGA sample (1 at length 1). At the end of an acquisition the board picks the start block N,
// the rotation of the ELV pattern (G = ELV rotated left, 0..g-1) and the crossing's fraction f of
// its FPGA sample (seeded random, or forced), and answers the pipeline read-out with them:
// 0x181 b = 126 - N (127 for N = 127; min/max b = 127 - N, N kept at 3 mod 4 so that L = 0),
// 0x185/0x186 G << 4, 0x1A0 the macro vernier << 7. f is split into whole 8 ns clocks a (the
// macro vernier d - 1 - a, d = clocks per FPGA sample, 1 below 16 ns) and a position within the
// clock p (0..20479), given as code = max - p x (max - min) / 20479 through the board's limits.
// The board then walks the ring as the product's sort does (from sample 20 N + u, u = p / 1024
// down to a multiple of g plus the trailing zeros of G; back g phases a step, headers skipped,
// block 0 -> 127; from block 64 into 63 with a phase below g: phase + 19 - g (-1: block 62, phase
// 19, past the header), that sample marked
// 0x40000000, 0x20000000 at phase 0 of length 1), places the sorted entries like the product
// (origin O = (mv x 20480 + K - p mod K - 1 + j) / d, start (O x 40) / K, 40 positions an
// entry, H = 40 / g further after each 0x40000000 mark; at length 1 instead the residual
// delay of 160 ps per mark, -19 times it at the wrap mark, whose sample is left out) and writes
// into each entry the codes of the analogue model at the instant its position stands for:
//   time(p) = tc + (p - pc) x P / (40 D)
// tc the trigger crossing, P the FPGA sample period, pc the crossing's position: the newest
// sorted entry is the trigger sample plus the post count, the trigger sample the latency-th
// sample after the crossing (latency = the driver's compensation: 72 ns in whole samples, plus
// two above 8 ns), so pc = newest - 40 D (post + latency - f) - 40 u / g (u only below
// length 1). With the driver's counts pc is 50,000 to within one FPGA sample.
// Min/max (relay 0x400 at length 1): the walk takes pairs, the current entry (minimum) and the
// entry 42 earlier (maximum), 84 entries back a step, one phase down from block 64 into 63;
// pair i of the record (oldest 0) stands for positions [160 i, 160 i + 160), and the newest pair
// ends at the newest sample: pc = 160 pairs - 40 (post + latency - f).
#include "board/sim/simanalog.h"
#include "board/sim/simet.h"

#include <algorithm>
#include <linux/input.h>
#include <sys/time.h>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>

namespace simboard {

namespace {

constexpr int kGlobal = 7;              // per-device tables: devices 0..6, then the global controller
constexpr int kSlots = 8;
constexpr size_t kWarmUp = 8;
constexpr uint16_t kWarmUpCode = 0x0FFF;
constexpr uint64_t kAgeNs = 20000000;   // 20 ms: samples older than this raise the level bit
constexpr size_t kAgeSamples = 8;
constexpr int64_t kPositionRange = 4096;  // 13-bit two's complement
constexpr size_t kEtRecordEntries = et::kRecordEntries;
constexpr uint32_t kPipelineAnswer = 127 - 100 - 1;   // before an ET acquisition completed
constexpr uint64_t kMaxEtSteps = 20000;  // comparator evaluations per ET tick

uint32_t grayToBin(uint32_t g)
{
    for (int shift = 1; shift < 32; shift <<= 1)
        g ^= g >> shift;
    return g;
}

// A word sent as two consecutive serial writes of one opcode: (first << 14) | (second & 0x3FFF).
// A write that does not follow its first part directly starts a new word, so a stray single
// write never shifts the pairs that come after it.
struct TTwoPart {
    uint32_t first = 0;
    uint64_t firstCommand = 0;
    bool haveFirst = false;
    // Returns true with the rebuilt word when v was the second part.
    bool take(uint32_t v, uint64_t command, uint32_t* word)
    {
        if (!haveFirst || command != firstCommand + 1) {
            first = v;
            firstCommand = command;
            haveFirst = true;
            return false;
        }
        haveFirst = false;
        *word = (first << 14) | (v & 0x3FFF);
        return true;
    }
};

int slotOf(int device)
{
    return device < 0 ? kGlobal : device;
}

// The lowest device addressed by the command being executed (word 49 holds it), so that a
// command to several devices acts once.
bool firstAddressed(TSimBoard& b, int device)
{
    const uint16_t mask = static_cast<uint16_t>(b.eimStored(49) >> 9);
    if (device < 0 || mask == 0)
        return true;
    for (int d = 0; d < 7; ++d)
        if (mask & (1u << d))
            return d == device;
    return true;
}

} // namespace

struct TEngineCore {
    bool paused = false;
    uint64_t clockNs = 0;            // simulated time the engine has reached

    // Per device / global
    std::array<TTwoPart, kSlots> dividerParts{}, preParts{}, postParts{};
    std::array<uint32_t, kSlots> elvHi{}, elvLo{}, elvDevice{};
    std::array<int, kSlots> elvPartCount{};
    std::array<uint64_t, kSlots> elvCommand{};
    std::array<uint32_t, kSlots> c3Value{};
    std::array<uint64_t, kSlots> c3Seq{};   // 0: never written
    // Pulse-width condition words, as the driver writes them: 0x0CA (bits 0-2 the condition,
    // 3-5 the range of b, 6-8 the range of g), 0x0C9 b and 0x0D1 g (Gray code).
    std::array<uint32_t, kSlots> pulseSetup{}, pulseLow{}, pulseHigh{};
    uint64_t seq = 0;
    uint16_t relay = 0;                     // last 0x090 value
    std::array<bool, kSlots> elvLateCleared{};

    TEngineState st;
    bool go080 = false;
    uint64_t startNs = 0;
    double nextNs = 0;               // streaming: time of the next sample
    double signalNs = 0;             // streaming: input time of the next sample; a stall delays
                                     // production but the input is sampled without a gap
    double periodNs = 1000;
    bool forcePending = false;
    const char* forceCause = "force";
    // ET pulse-width trigger: pulses of the comparator output (output true), fired at their end.
    bool pulseTrigger = false;
    bool pulseOpen = false;          // the output rose during the scan: a pulse is measured
    double pulseStartNs = 0;
    double pulseLowNs = 0;           // b
    double pulseHighNs = 0;          // b + g
    uint32_t pulseCondition = 2;     // 2 shorter than b, 0 longer than b, 4 between, 6 outside
    bool prevOutValid = false;
    bool prevOut = false;
    bool positionRead = false;
    uint64_t triggerNs = 0;
    // Samples pushed after the trigger sample. The post-trigger count runs from the trigger sample
    // on, as the driver's own count does: a record read back from its end then holds the trigger
    // sample where its pre count puts it.
    uint64_t afterTrigger = 0;
    bool etAwaitFlush = false;
    uint64_t etScanNs = 0;           // ET: time up to which the comparator was scanned
    double prevScanNs = 0;           // ET: time of the last comparator evaluation
    double crossNs = 0;              // ET: the trigger crossing, refined
    bool minMax = false;             // relay 0x400 at the start
    // ET record: the choices, the plan of the last completed acquisition and its answers.
    TVernierLimits limits;
    int forcedBlock = -1;
    double forcedFraction = -1;
    et::TPlan etPlan;
    bool etAnswers = false;          // 0x181/0x185/0x186 answer the record until the next ELV load
    TEtRecord facts;
    std::vector<TEtPlacement> placements;
    uint64_t transitionsSinceNs = 0; // SPI 32: comparator transitions are counted from here

    std::array<int, 4> counterRange{{-1, -1, -1, -1}};   // 0x0CE selection, -1 idle

    // Faults
    std::array<bool, 4> counterSilent{};
    std::array<int, 4> qualityStuck{{-1, -1, -1, -1}};
    bool noTrigger = false;
    std::array<int, 4> silent{{-1, -1, -1, -1}};
    bool elvLate = false;
    std::array<bool, 4> elvLateChannel{};
    std::array<bool, 4> pipelineDead{};
    int missingVernier = -1;
    std::array<int, 4> vernierCode{{-1, -1, -1, -1}};
    int acquisitionBudget = -1;      // acquisitions still allowed a trigger; -1: no limit
    bool starved = false;            // this acquisition started with no budget left
    std::array<uint32_t, 4> thresholdFlips{};  // comparator flips made by register writes
    // Test option: code offsets by phase of the plain ET record.
    std::array<std::array<int16_t, 20>, 4> phaseOffsets{};

    std::array<analog::TChannelModel, 4> models{};
    std::array<analog::TPlan, 4> plans{};
    analog::TCapacitor capacitor;    // channel 1's capacitor load
    std::vector<TSample> batch;
    std::vector<uint64_t> stamps;
};

namespace {

TSimBoard& board()
{
    return TSimBoard::get();
}

void logEngine(TSimBoard& b, const std::string& text, int64_t a = 0, int64_t bb = 0, int64_t c = 0, int64_t d = 0)
{
    TLogEntry& e = b.addLog(TLogKind::Engine);
    e.a = a;
    e.b = bb;
    e.c = c;
    e.d = d;
    e.text = text;
}

void planChannels(TSimBoard& b);

// The plan of channel c: its signal, or on channel 1 the load behind a test path in use.
void planOf(TSimBoard& b, int c, const TAnalogChannel& a, analog::TPlan* p)
{
    analog::plan(b.scenario.signals[c], a, b.scenario.inputsConnected, p);
    if (c == 0)
        analog::planPath(b.scenario.load, b.engine->capacitor, p);
}

// Front-end models refreshed from the chips (an unknown sensitivity tuple is logged once).
void refreshModels(TSimBoard& b)
{
    TEngineCore& e = *b.engine;
    for (int c = 0; c < 4; ++c) {
        const bool powered = (b.spi[20] & (1u << c)) != 0;
        if (!analog::decode(b.chips[c], powered, &e.models[c]))
            logEngine(b, "unknown sensitivity", c, e.models[c].tuple[0], e.models[c].tuple[1], e.models[c].tuple[2]);
    }
    planChannels(b);
}

// Plans of the four channels for a run of samples (after refreshModels).
void planChannels(TSimBoard& b)
{
    TEngineCore& e = *b.engine;
    for (int c = 0; c < 4; ++c)
        planOf(b, c, e.models[c].a, &e.plans[c]);
}

// Codes of the four channels at t (seconds); the source channel's level into sourceUnits.
inline void synthesise(TSimBoard& b, double t, TSample& out, double* sourceUnits)
{
    TEngineCore& e = *b.engine;
    for (int c = 0; c < 4; ++c) {
        const analog::TPlan& p = e.plans[c];
        const double u = analog::units(p.a, analog::plannedVolts(p, t, b.rng));
        if (c == e.st.source && sourceUnits)
            *sourceUnits = u;
        out[c] = e.silent[c] >= 0 ? static_cast<uint16_t>(e.silent[c]) : analog::code(p.a, u);
    }
}

void stopAcquisition(TSimBoard& b, const char* cause)
{
    TEngineCore& e = *b.engine;
    if (!e.st.running)
        return;
    e.st.running = false;
    e.st.producing = false;
    b.ageLevel = false;
    logEngine(b, std::string("stop ") + cause, static_cast<int64_t>(e.st.kind), static_cast<int64_t>(e.st.produced));
}

void fireTrigger(TSimBoard& b, int64_t sampleIndex, uint64_t timeNs, const char* cause)
{
    TEngineCore& e = *b.engine;
    e.st.triggered = true;
    e.st.triggerSample = sampleIndex;
    e.triggerNs = timeNs;
    e.positionRead = false;
    e.afterTrigger = 0;
    e.forcePending = false;
    if (e.st.source >= 0) {
        b.triggerIndex[e.st.source] = sampleIndex;
        b.triggerSet[e.st.source] = true;
        b.triggerHighBits[e.st.source] = 0;
    }
    logEngine(b, std::string("trigger ") + cause, e.st.source, sampleIndex);
}

void endAcquisition(TSimBoard& b)
{
    TEngineCore& e = *b.engine;
    e.st.lastBlock = true;
    e.st.running = false;
    e.st.producing = false;
    logEngine(b, "last block", static_cast<int64_t>(e.st.kind), static_cast<int64_t>(e.st.produced));
    b.latchStatus(kStatusLastBlock);
}

// Why the trigger would fire on this sample (nullptr: it does not).
const char* triggerCause(TEngineCore& e, bool out)
{
    if (e.noTrigger || e.starved)
        return nullptr;
    if (e.forcePending)
        return e.forceCause;
    if (e.st.freeRun)
        return "free-run";
    if (e.pulseTrigger)
        return nullptr;
    if (e.st.source >= 0 && !e.models[e.st.source].a.triggerDisabled && e.prevOutValid && !e.prevOut && out)
        return "edge";
    return nullptr;
}

// Whether a pulse of width w (ns) meets the programmed condition.
bool pulseMeetsCondition(const TEngineCore& e, double w)
{
    switch (e.pulseCondition) {
    case 0:
        return w > e.pulseLowNs;
    case 4:
        return w > e.pulseLowNs && w < e.pulseHighNs;
    case 6:
        return w < e.pulseLowNs || w > e.pulseHighNs;
    default:
        return w < e.pulseLowNs;
    }
}

double refineCrossing(TSimBoard& b, double lo, double hi);
void setMacroVernierAll(TSimBoard& b, int16_t v);

void streamTick(TSimBoard& b, uint64_t target)
{
    TEngineCore& e = *b.engine;
    if (!e.st.producing) {
        if (!e.go080 || !(b.spi[0] & 0x2))
            return;
        const double unitNs = (b.spi[0] & 0x40) ? 80.0 : (b.spi[0] & 0x20) ? 1008.0 : 1000.0;
        e.periodNs = (static_cast<double>(b.spi[68]) + 1.0) * unitNs;
        e.st.samplePeriodPs = static_cast<uint64_t>(std::llround(e.periodNs * 1000));
        e.st.producing = true;
        e.nextNs = static_cast<double>(std::max(e.clockNs, e.startNs));
        e.signalNs = e.nextNs;
    }
    if (static_cast<double>(target) < e.nextNs)
        return;
    refreshModels(b);
    e.st.stalled = false;
    while (e.st.running && e.nextNs <= static_cast<double>(target)) {
        const size_t room = b.fifoStalled ? 0 : kFifoSamples - b.fifoSize;
        if (room == 0) {
            e.st.stalled = true;
            break;
        }
        const uint64_t due = static_cast<uint64_t>((static_cast<double>(target) - e.nextNs) / e.periodNs) + 1;
        size_t n = static_cast<size_t>(std::min<uint64_t>(due, room));
        e.batch.clear();
        e.stamps.clear();
        int64_t trigAt = -1;
        const char* cause = nullptr;
        uint64_t trigNs = 0;
        double trigSignalNs = 0;
        bool ended = false;
        for (size_t i = 0; i < n; ++i) {
            const uint64_t index = b.fifoProduced + e.batch.size();   // FIFO numbering
            if (e.st.triggered && e.afterTrigger + 1 >= e.st.postCount) {
                ended = true;
                break;
            }
            if (e.st.triggered && e.st.source >= 0 && !e.positionRead &&
                static_cast<int64_t>(index) - e.st.triggerSample >= kPositionRange) {
                e.st.stalled = true;
                break;
            }
            TSample s;
            if (e.st.produced < kWarmUp) {
                s = {kWarmUpCode, kWarmUpCode, kWarmUpCode, kWarmUpCode};
            } else {
                double u = 0;
                synthesise(b, e.signalNs * 1e-9, s, &u);
                const bool out = e.st.source >= 0 && analog::comparator(e.models[e.st.source].a, u);
                if (!e.st.triggered && e.st.produced - kWarmUp >= e.st.preCount) {
                    const char* c = triggerCause(e, out);
                    if (c) {
                        if (static_cast<int64_t>(index) - static_cast<int64_t>(b.fifoPopped) >= kPositionRange) {
                            e.st.stalled = true;   // its position would not fit: wait for the reader
                            break;
                        }
                        trigAt = static_cast<int64_t>(index);
                        trigNs = static_cast<uint64_t>(e.nextNs);
                        trigSignalNs = e.signalNs;
                        cause = c;
                        e.st.triggered = true;   // provisional within the batch; fired below
                        e.st.triggerSample = trigAt;
                        e.afterTrigger = 0;
                        e.positionRead = false;
                    }
                }
                e.prevOut = out;
                e.prevOutValid = true;
            }
            e.batch.push_back(s);
            e.stamps.push_back(static_cast<uint64_t>(e.nextNs));
            ++e.st.produced;
            if (e.st.triggered && static_cast<int64_t>(index) > e.st.triggerSample)
                ++e.afterTrigger;
            e.nextNs += e.periodNs;
            e.signalNs += e.periodNs;
        }
        if (!e.batch.empty())
            b.fifoPush(e.batch.data(), e.batch.size(), 0, e.stamps.data());
        if (trigAt >= 0) {
            const uint64_t after = e.afterTrigger;
            fireTrigger(b, trigAt, trigNs, cause);
            e.afterTrigger = after;
            // Middle time bases (divider 500): the macro vernier is the crossing's distance
            // before the trigger sample, in 1/500 of a sample, so that decimated records of
            // repeated acquisitions line up.
            if (e.st.divider == 500) {
                const double tc = std::string(cause) == "edge"
                                      ? refineCrossing(b, trigSignalNs - e.periodNs, trigSignalNs)
                                      : trigSignalNs;
                const double phi = (trigSignalNs - tc) / e.periodNs;
                setMacroVernierAll(b, static_cast<int16_t>(std::min(500L, std::max(0L, std::lround(phi * 500)))));
            }
            if (e.st.source >= 0)
                b.latchStatus(1u << e.st.source);
        }
        if (ended || (e.st.triggered && e.afterTrigger + 1 >= e.st.postCount)) {
            endAcquisition(b);
            break;
        }
        if (e.st.stalled || e.batch.empty())
            break;
    }
    if (e.st.stalled && e.nextNs < static_cast<double>(target))
        e.nextNs = static_cast<double>(target);   // production pauses; no sample is lost
}

// The source's comparator at t (ns).
bool comparatorAt(TSimBoard& b, double tNs)
{
    TEngineCore& e = *b.engine;
    TSample s;
    double u = 0;
    synthesise(b, tNs * 1e-9, s, &u);
    return e.st.source >= 0 && analog::comparator(e.models[e.st.source].a, u);
}

// The crossing of the source's comparator within (lo, hi], to a picosecond; hi when the output
// does not rise there (forces, free-run).
double refineCrossing(TSimBoard& b, double lo, double hi)
{
    if (b.engine->st.source < 0 || hi <= lo || comparatorAt(b, lo) || !comparatorAt(b, hi))
        return hi;
    while (hi - lo > 1e-3) {
        const double mid = 0.5 * (lo + hi);
        (comparatorAt(b, mid) ? hi : lo) = mid;
    }
    return hi;
}

// The falling crossing of the source's comparator within (lo, hi], to a picosecond.
double refineFalling(TSimBoard& b, double lo, double hi)
{
    if (b.engine->st.source < 0 || hi <= lo || !comparatorAt(b, lo) || comparatorAt(b, hi))
        return hi;
    while (hi - lo > 1e-3) {
        const double mid = 0.5 * (lo + hi);
        (comparatorAt(b, mid) ? lo : hi) = mid;
    }
    return hi;
}

void setMacroVernierAll(TSimBoard& b, int16_t v)
{
    for (auto& m : b.macroVernier)
        m = v;
}

double unitRandom(TSimBoard& b)
{
    return static_cast<double>(b.rng() & 0xFFFFFF) / 16777216.0;
}

// The choices and the plan of the ET record, at the end of the acquisition.
void etPlanRecord(TSimBoard& b)
{
    TEngineCore& e = *b.engine;
    const et::TGeometry geo = et::geometry(e.st.elv, e.periodNs, e.minMax);
    et::TChoice c;
    c.startBlock = e.forcedBlock >= 0 ? e.forcedBlock : static_cast<int>(b.rng() % et::kBlocks);
    c.rotation = static_cast<int>(b.rng() % static_cast<uint32_t>(geo.g));
    c.fraction = e.forcedFraction >= 0 ? e.forcedFraction : unitRandom(b);
    e.etPlan = et::plan(geo, c, e.st.preCount, e.st.postCount, e.limits.min, e.limits.max);
    e.etAnswers = true;
    setMacroVernierAll(b, e.etPlan.answers.macroVernier);

    const et::TPlan& p = e.etPlan;
    TEtRecord& f = e.facts;
    f = TEtRecord();
    f.valid = true;
    f.minMax = geo.minMax;
    f.elv = geo.elv;
    f.g = geo.g;
    f.startBlock = p.pipelineN;
    f.pattern = p.answers.pattern;
    f.macroVernier = p.answers.macroVernier;
    f.vernierCode = e.missingVernier >= 0 ? static_cast<uint16_t>(e.missingVernier) : p.answers.vernierCode;
    f.vernierMissing = e.missingVernier >= 0;
    f.fraction = p.fractionTrue;
    f.source = e.st.source;
    f.periodNs = geo.periodNs;
    f.triggerNs = e.crossNs;
    f.positionNs = p.positionNs;
    f.crossingPosition = p.crossingPosition;
    f.samples = p.count;
    e.placements.clear();
    for (const et::TVisit& v : p.visits)
        if (v.sorted && v.stored)
            e.placements.push_back({static_cast<uint32_t>(v.entry), v.entry2, v.position, v.positionEnd});
}

void etTick(TSimBoard& b, uint64_t target)
{
    TEngineCore& e = *b.engine;
    const double period = e.periodNs;
    if (!e.st.triggered) {
        refreshModels(b);
        uint64_t t = std::max(e.etScanNs, e.startNs);
        // No trigger is taken before the pre count: the comparator is watched from there on.
        const double preEnd = static_cast<double>(e.startNs) + period * e.st.preCount;
        if (static_cast<double>(t) < preEnd) {
            e.prevOutValid = false;
            t = static_cast<uint64_t>(std::ceil(preEnd));
        }
        const uint64_t span = target > t ? target - t : 0;
        double step = std::max(period, static_cast<double>(span) / kMaxEtSteps);
        // Fine enough to see every edge of the source's signal.
        if (e.st.source >= 0) {
            const TSignal& sig = b.scenario.signals[e.st.source];
            const double harmonics = std::max<double>(1.0, static_cast<double>(sig.harmonics.size()));
            if (sig.frequency > 0)
                step = std::max(period, std::min(step, 1e9 / (16.0 * sig.frequency * harmonics)));
        }
        for (double x = static_cast<double>(t); x <= static_cast<double>(target); x += step) {
            TSample s;
            double u = 0;
            synthesise(b, x * 1e-9, s, &u);
            const bool out = e.st.source >= 0 && analog::comparator(e.models[e.st.source].a, u);
            const double elapsed = (x - static_cast<double>(e.startNs)) / period;
            if (e.pulseTrigger && e.prevOutValid && out != e.prevOut && !e.noTrigger &&
                !e.models[e.st.source].a.triggerDisabled) {
                if (out) {
                    e.pulseOpen = true;
                    e.pulseStartNs = refineCrossing(b, e.prevScanNs, x);
                } else if (e.pulseOpen) {
                    e.pulseOpen = false;
                    const double end = refineFalling(b, e.prevScanNs, x);
                    if (pulseMeetsCondition(e, end - e.pulseStartNs)) {
                        e.crossNs = end;
                        fireTrigger(b, static_cast<int64_t>(b.fifoProduced), static_cast<uint64_t>(x), "pulse width");
                        b.latchStatus(1u << e.st.source);
                        break;
                    }
                }
            }
            if (elapsed >= static_cast<double>(e.st.preCount)) {
                if (const char* c = triggerCause(e, out)) {
                    e.crossNs = std::string(c) == "edge" ? refineCrossing(b, e.prevScanNs, x) : x;
                    fireTrigger(b, static_cast<int64_t>(b.fifoProduced), static_cast<uint64_t>(x), c);
                    if (e.st.source >= 0)
                        b.latchStatus(1u << e.st.source);
                    break;
                }
            }
            e.prevOut = out;
            e.prevOutValid = true;
            e.prevScanNs = x;
        }
        e.etScanNs = target;
    }
    if (e.st.triggered &&
        static_cast<double>(target) >= static_cast<double>(e.triggerNs) + period * e.st.postCount) {
        const TSample w = {kWarmUpCode, kWarmUpCode, kWarmUpCode, kWarmUpCode};
        std::vector<TSample> warm(kWarmUp, w);
        b.fifoPush(warm.data(), warm.size(), target);
        e.st.produced += kWarmUp;
        e.etAwaitFlush = true;
        etPlanRecord(b);
        endAcquisition(b);
    }
}

// The phase-offset test option: in a plain ET record, entry 2 + 21 b + j gets offset j (codes
// stay within 12 bits).
void addPhaseOffsets(const TEngineCore& e, std::vector<TSample>& rec)
{
    if (e.minMax)
        return;
    for (int c = 0; c < 4; ++c) {
        for (size_t entry = 2; entry < rec.size(); ++entry) {
            const size_t j = (entry - 2) % 21;
            if (j < 20 && e.phaseOffsets[c][j] != 0)
                rec[entry][c] = static_cast<uint16_t>(std::clamp(rec[entry][c] + e.phaseOffsets[c][j], 0, 4095));
        }
    }
}

// The ET record as planned at the end of the acquisition (see "Equivalent-time record").
void etFlush(TSimBoard& b)
{
    TEngineCore& e = *b.engine;
    if (!e.etAwaitFlush)
        return;
    e.etAwaitFlush = false;
    refreshModels(b);
    const et::TPlan& p = e.etPlan;
    const double tc = e.facts.triggerNs;
    auto timeOf = [&](double position) { return tc + (position - p.crossingPosition) * p.positionNs; };
    std::vector<TSample> rec(kEtRecordEntries, TSample{0, 0, 0, 0});
    TSample level;
    synthesise(b, tc * 1e-9, level, nullptr);
    for (int k = 0; k < et::kRingSamples; ++k)
        rec[static_cast<size_t>(et::entryOfSample(k))] = level;
    const uint16_t code = e.missingVernier >= 0 ? static_cast<uint16_t>(e.missingVernier) : p.answers.vernierCode;
    rec[0] = {code, code, code, code};
    for (int c = 0; c < 4; ++c)
        if (e.vernierCode[c] >= 0)
            rec[0][c] = static_cast<uint16_t>(e.vernierCode[c]);
    std::vector<bool> written(kEtRecordEntries, false);
    for (const et::TVisit& v : p.visits) {
        if (written[static_cast<size_t>(v.entry)])
            continue;
        written[static_cast<size_t>(v.entry)] = true;
        if (!p.geo.minMax) {
            synthesise(b, timeOf(v.position) * 1e-9, rec[static_cast<size_t>(v.entry)], nullptr);
            continue;
        }
        // The pair: the input's extremes over the interval it stands for.
        constexpr int kPoints = 32;
        TSample lo{4095, 4095, 4095, 4095}, hi{0, 0, 0, 0};
        const double t0 = timeOf(v.position), t1 = timeOf(v.positionEnd);
        for (int i = 0; i <= kPoints; ++i) {
            TSample s;
            synthesise(b, (t0 + (t1 - t0) * i / kPoints) * 1e-9, s, nullptr);
            for (int c = 0; c < 4; ++c) {
                lo[c] = std::min(lo[c], s[c]);
                hi[c] = std::max(hi[c], s[c]);
            }
        }
        rec[static_cast<size_t>(v.entry)] = lo;
        if (v.entry2 >= 0) {
            rec[static_cast<size_t>(v.entry2)] = hi;
            written[static_cast<size_t>(v.entry2)] = true;
        }
    }
    addPhaseOffsets(e, rec);
    // The record restarts the ring: what the FIFO still holds of the acquisition (its closing
    // warm-up, when the driver has not drained it yet) must not come before entry 0.
    b.fifoHead = (b.fifoHead + b.fifoSize) % kFifoSamples;
    b.fifoPopped += b.fifoSize;
    b.fifoSize = 0;
    const size_t taken = b.fifoPush(rec.data(), rec.size(), e.clockNs);
    e.st.flushed = true;
    logEngine(b, "flush", static_cast<int64_t>(taken));
    b.latchStatus(kStatusRingRestart);
}

// Wakes the device thread when an acquisition starts, so that its first due time counts.
std::condition_variable& engineWake()
{
    static auto* c = new std::condition_variable();
    return *c;
}

void startAcquisition(TSimBoard& b, uint64_t now)
{
    TEngineCore& e = *b.engine;
    if (b.spi[8] == 0) {
        b.violate(TStrictCheck::StartWithoutMask, "opcode 0x097 while SPI 8 is 0: nothing starts");
        logEngine(b, "start refused (mask 0)");
        return;
    }
    if (!e.st.postWritten)
        b.violate(TStrictCheck::PostCountNeverWritten, "acquisition started before any post-trigger count (0x0C5)");
    const bool wasRunning = e.st.running;
    if (wasRunning)
        stopAcquisition(b, "(restart)");
    e.starved = e.acquisitionBudget == 0;
    if (e.acquisitionBudget > 0)
        --e.acquisitionBudget;

    TEngineState& s = e.st;
    s.running = true;
    s.kind = (e.relay & 0x20) ? TAcqKind::EquivalentTime : TAcqKind::Streaming;
    s.producing = false;
    s.triggered = false;
    s.triggerSample = -1;
    s.produced = 0;
    s.lastBlock = false;
    s.flushed = false;
    s.stalled = false;
    ++s.starts;
    e.go080 = false;
    e.startNs = now;
    e.etScanNs = now;
    e.prevOutValid = false;
    e.positionRead = false;
    e.afterTrigger = 0;
    e.etAwaitFlush = false;
    e.etAnswers = false;
    e.minMax = (e.relay & 0x400) != 0;
    e.prevScanNs = static_cast<double>(now);
    e.crossNs = static_cast<double>(now);
    for (int d = 0; d < kSlots; ++d) {
        e.dividerParts[d].haveFirst = e.preParts[d].haveFirst = e.postParts[d].haveFirst = false;
    }
    // Trigger source: the channel device with the newest 0x0C3 of 0, 2 or 14; free-run when the
    // newest trigger parameter is a 21 (mask-0 modes).
    s.source = -1;
    uint64_t best = 0;
    for (int d = 0; d < 4; ++d) {
        const uint32_t v = e.c3Value[d];
        if (e.c3Seq[d] && (v == 0 || v == 2 || v == 14) && e.c3Seq[d] > best) {
            best = e.c3Seq[d];
            s.source = d;
        }
    }
    uint64_t newest21 = 0;
    for (int d = 0; d < kSlots; ++d)
        if (e.c3Seq[d] && e.c3Value[d] == 21)
            newest21 = std::max(newest21, e.c3Seq[d]);
    s.freeRun = newest21 > best;
    if (s.freeRun)
        s.source = -1;
    e.forcePending = false;
    for (int d = 0; d < kSlots; ++d)
        if (e.c3Seq[d] && e.c3Value[d] == 1) {
            e.forcePending = true;
            e.forceCause = "immediate";
        }
    if (b.spi[56] & 1) {
        e.forcePending = true;
        e.forceCause = "force";
    }
    e.pulseTrigger = false;
    e.pulseOpen = false;
    if (s.source >= 0 && e.c3Value[s.source] == 2 && s.kind == TAcqKind::EquivalentTime) {
        // Limits in 8 ns ticks, each shifted by four bits a range.
        const uint32_t setup = e.pulseSetup[s.source];
        const uint32_t k = (setup >> 3) & 7;
        const uint32_t j = (setup >> 6) & 7;
        e.pulseTrigger = true;
        e.pulseCondition = setup & 7;
        e.pulseLowNs = 8.0 * static_cast<double>(uint64_t{grayToBin(e.pulseLow[s.source])} << (4 * k));
        e.pulseHighNs =
            e.pulseLowNs + 8.0 * static_cast<double>(uint64_t{grayToBin(e.pulseHigh[s.source])} << (4 * j));
    } else if (s.source >= 0 && (e.c3Value[s.source] == 2 || e.c3Value[s.source] == 14)) {
        logEngine(b, "not modelled: pulse-width/delay trigger acts as an edge", s.source, 0, 0xC3, e.c3Value[s.source]);
    }
    if (s.kind == TAcqKind::EquivalentTime) {
        e.periodNs = (static_cast<double>(s.divider) + 1.0) * 8.0;
        s.samplePeriodPs = static_cast<uint64_t>(std::llround(e.periodNs * 1000));
    }
    logEngine(b, "start", static_cast<int64_t>(s.kind), static_cast<int64_t>(s.samplePeriodPs), s.postCount, s.preCount);
    engineWake().notify_one();
}

void engineTick(TSimBoard& b, uint64_t target)
{
    TEngineCore& e = *b.engine;
    if (target < e.clockNs)
        return;
    if (e.st.running) {
        if (e.st.kind == TAcqKind::Streaming)
            streamTick(b, target);
        else
            etTick(b, target);
    }
    e.clockNs = target;
    if (e.st.running && e.st.kind == TAcqKind::Streaming) {
        const bool before = b.ageLevel;
        b.refreshAgeLevel();
        if (b.ageLevel != before)
            b.updateInterrupt();
    }
}

constexpr uint64_t kTickNs = 1000000;
// While an equivalent-time acquisition waits for its edge: often enough to learn the trigger
// well before the record after it ends.
constexpr uint64_t kEdgeWatchNs = 200000;
constexpr uint64_t kShortestTickNs = 20000;

// Wall time until the engine next has something to do: the end of the pre-trigger fill, the
// end of the record after the trigger, else the usual tick. The scan is retroactive, so a late
// tick never moves an edge; it only delays what the driver sees.
uint64_t nextTickNs(const TSimBoard& b)
{
    const TEngineCore& e = *b.engine;
    if (e.paused || !e.st.running || e.st.kind != TAcqKind::EquivalentTime)
        return kTickNs;
    const double now = static_cast<double>(b.nowNs());
    double due = 0;
    if (e.st.triggered) {
        due = static_cast<double>(e.triggerNs) + e.periodNs * e.st.postCount;
    } else {
        const double preEnd = static_cast<double>(e.startNs) + e.periodNs * e.st.preCount;
        due = preEnd > now ? preEnd : now + static_cast<double>(kEdgeWatchNs) * b.speed;
    }
    const double wall = (due - now) / b.speed;
    return static_cast<uint64_t>(std::clamp(wall, static_cast<double>(kShortestTickNs), static_cast<double>(kTickNs)));
}

// Quick calibration: the simulated time the engine may skip at once while an acquisition runs.
// A streaming record moves ahead by what fills the FIFO's room (none while it is stalled or not
// yet producing: that waits for the driver); an equivalent-time record to its next due point.
uint64_t quickStepNs(const TSimBoard& b, uint64_t tickWallNs)
{
    const TEngineCore& e = *b.engine;
    if (e.st.kind != TAcqKind::Streaming)
        return static_cast<uint64_t>(static_cast<double>(tickWallNs) * b.speed);
    if (!e.st.producing || e.st.stalled || b.fifoStalled || e.periodNs <= 0)
        return 0;
    const size_t room = kFifoSamples - std::min(b.fifoSize, kFifoSamples);
    return static_cast<uint64_t>(static_cast<double>(room) * e.periodNs);
}

void deviceThread()
{
    TSimBoard& b = board();
    uint64_t waitNs = kTickNs;
    std::unique_lock<std::mutex> lock(b.mu);
    for (;;) {
        engineWake().wait_for(lock, std::chrono::nanoseconds(waitNs));
        waitNs = kTickNs;
        if (b.engine && !b.engine->paused) {
            engineTick(b, b.nowNs());
            waitNs = nextTickNs(b);
            if (b.quickCalibration && b.engine->st.running) {
                // Nothing but this acquisition to wait for: its time passes at once, with a
                // short wall pause for the driver to take what came.
                b.clockMarkNs += quickStepNs(b, waitNs);
                waitNs = kShortestTickNs;
            }
        }
    }
}

} // namespace

void TSimBoard::advanceClock(uint64_t ns)
{
    clockMarkNs += ns;
    if (engine && !engine->paused)
        engineTick(*this, nowNs());
    notifyAll();
    engineWake().notify_one();
}

namespace {

// Catches the engine up with now before a command changes its course.
void catchUp(TSimBoard& b)
{
    if (!b.engine->paused)
        engineTick(b, b.nowNs());
}

uint64_t engineNow(TSimBoard& b)
{
    return b.engine->paused ? b.engine->clockNs : b.nowNs();
}

void installEngine(TSimBoard& b)
{
    static bool threadStarted = false;
    if (!threadStarted) {
        threadStarted = true;
        std::thread(deviceThread).detach();
    }
    if (!b.engine)
        b.engine = new TEngineCore();
    const bool paused = b.engine->paused;
    *b.engine = TEngineCore();
    b.engine->paused = paused;
    b.engine->clockNs = b.nowNs();
    // The scenario's start-up faults.
    const TStartupFaults& faults = b.scenario.faults;
    b.engine->pipelineDead = faults.deadPipeline;
    b.engine->vernierCode = faults.vernierCode;
    for (int c = 0; c < 4; ++c)
        b.chips[static_cast<size_t>(c)].offsetDacStuck = faults.stuckOffsetDac[c];

    auto wrapOpcode = [&b](uint16_t op, std::function<uint32_t(TSimBoard&, int, uint16_t, uint16_t)> extra) {
        TOpcodeHandler base = b.opcodeHandlers[op];
        b.opcodeHandlers[op] = [base, extra](TSimBoard& bd, int d, uint16_t code, uint16_t data) -> uint32_t {
            uint32_t r = base ? base(bd, d, code, data) : 0;
            uint32_t x = extra(bd, d, code, data);
            return (code & 0x100) ? x : r;
        };
    };

    wrapOpcode(0x089, [](TSimBoard& bd, int d, uint16_t, uint16_t data) -> uint32_t {
        uint32_t w;
        if (bd.engine->dividerParts[slotOf(d)].take(data >> 1, bd.serialCount, &w))
            bd.engine->st.divider = w;
        return 0;
    });
    // Block length: two 0x082 parts (6 + 14 bits), committed by 0x083.
    wrapOpcode(0x082, [](TSimBoard& bd, int d, uint16_t, uint16_t data) -> uint32_t {
        TEngineCore& e = *bd.engine;
        const int s = slotOf(d);
        e.etAnswers = false;   // a new block length: the read-backs answer it again
        if (e.elvPartCount[s] != 1 || e.elvCommand[s] + 1 != bd.serialCount) {
            e.elvHi[s] = data >> 1;
            e.elvPartCount[s] = 1;
            e.elvCommand[s] = bd.serialCount;
        } else {
            e.elvLo[s] = data >> 1;
            e.elvPartCount[s] = 2;
        }
        return 0;
    });
    wrapOpcode(0x083, [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
        TEngineCore& e = *bd.engine;
        const int s = slotOf(d);
        if (e.elvPartCount[s] == 2) {
            e.elvDevice[s] = ((e.elvHi[s] << 14) | (e.elvLo[s] & 0x3FFF)) & 0xFFFFF;
            e.st.elv = e.elvDevice[s];
        }
        e.elvPartCount[s] = 0;
        return 0;
    });
    for (uint16_t op : {uint16_t(0x185), uint16_t(0x186)})
        wrapOpcode(op, [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
            TEngineCore& e = *bd.engine;
            const int s = slotOf(d);
            if (d >= 0 && d < 4 && e.pipelineDead[d])
                return 0;
            if (e.etAnswers)
                return (e.etPlan.answers.pattern << 4) & 0xFFFFFF;
            const bool late = e.elvLate || (d >= 0 && d < 4 && e.elvLateChannel[d]);
            if (late && !e.elvLateCleared[s])
                return 0;
            return ((e.elvDevice[s] & 0xFFFFF) << 4) & 0xFFFFFF;
        });
    for (uint16_t op : {uint16_t(0x0AC), uint16_t(0x0AD)})
        wrapOpcode(op, [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
            bd.engine->elvLateCleared[slotOf(d)] = true;
            return 0;
        });
    wrapOpcode(0x0C4, [](TSimBoard& bd, int d, uint16_t, uint16_t data) -> uint32_t {
        uint32_t w;
        if (bd.engine->preParts[slotOf(d)].take(data >> 1, bd.serialCount, &w))
            bd.engine->st.preCount = grayToBin(w);
        return 0;
    });
    wrapOpcode(0x0C5, [](TSimBoard& bd, int d, uint16_t, uint16_t data) -> uint32_t {
        uint32_t w;
        if (bd.engine->postParts[slotOf(d)].take(data >> 1, bd.serialCount, &w)) {
            bd.engine->st.postCount = grayToBin(w);
            bd.engine->st.postWritten = true;
        }
        return 0;
    });
    for (const uint16_t op : {uint16_t(0x0CA), uint16_t(0x0C9), uint16_t(0x0D1)}) {
        wrapOpcode(op, [op](TSimBoard& bd, int d, uint16_t, uint16_t data) -> uint32_t {
            TEngineCore& e = *bd.engine;
            auto& words = op == 0x0CA ? e.pulseSetup : op == 0x0C9 ? e.pulseLow : e.pulseHigh;
            words[static_cast<size_t>(slotOf(d))] = data >> 1;
            return 0;
        });
    }
    wrapOpcode(0x0C3, [](TSimBoard& bd, int d, uint16_t, uint16_t data) -> uint32_t {
        TEngineCore& e = *bd.engine;
        const int s = slotOf(d);
        e.c3Value[s] = data >> 1;
        e.c3Seq[s] = ++e.seq;
        if (e.c3Value[s] == 1 && e.st.running && !e.st.triggered) {
            catchUp(bd);
            e.forcePending = true;
            e.forceCause = "immediate";
        }
        return 0;
    });
    wrapOpcode(0x090, [](TSimBoard& bd, int, uint16_t, uint16_t data) -> uint32_t {
        bd.engine->relay = static_cast<uint16_t>(data >> 1);
        return 0;
    });
    wrapOpcode(0x097, [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
        if (firstAddressed(bd, d)) {
            catchUp(bd);
            startAcquisition(bd, engineNow(bd));
        }
        return 0;
    });
    wrapOpcode(0x080, [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
        if (firstAddressed(bd, d) && bd.engine->st.running)
            bd.engine->go080 = true;
        return 0;
    });
    wrapOpcode(0x096, [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
        if (firstAddressed(bd, d)) {
            catchUp(bd);
            stopAcquisition(bd, "(0x096)");
        }
        return 0;
    });
    wrapOpcode(0x095, [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
        if (firstAddressed(bd, d)) {
            catchUp(bd);
            etFlush(bd);
        }
        return 0;
    });
    b.opcodeHandlers[0x181] = [](TSimBoard& bd, int, uint16_t, uint16_t) -> uint32_t {
        return bd.engine->etAnswers ? bd.engine->etPlan.answers.pipelineByte : kPipelineAnswer;
    };

    // Stops and forces through the register file.
    {
        auto base = b.spiHandlers[0].write;
        b.spiHandlers[0].write = [base](TSimBoard& bd, int id, uint32_t v) {
            const uint32_t old = bd.spi[0];
            if ((old & 0x2) && !(v & 0x2) && bd.engine->st.running) {
                catchUp(bd);
                stopAcquisition(bd, "(SPI 0 bit 0x2 cleared)");
            }
            if (base)
                base(bd, id, v);
            else
                bd.spi[0] = v;
        };
    }
    {
        auto base = b.spiHandlers[8].write;
        b.spiHandlers[8].write = [base](TSimBoard& bd, int id, uint32_t v) {
            if (v == 0 && bd.engine->st.running) {
                catchUp(bd);
                stopAcquisition(bd, "(SPI 8 := 0)");
            }
            if (base)
                base(bd, id, v);
            else
                bd.spi[8] = v;
        };
    }
    {
        auto base = b.spiHandlers[56].write;
        b.spiHandlers[56].write = [base](TSimBoard& bd, int id, uint32_t v) {
            const uint32_t old = bd.spi[56];
            if (base)
                base(bd, id, v);
            else
                bd.spi[56] = v;
            TEngineCore& e = *bd.engine;
            if (!(old & 1) && (v & 1) && e.st.running && !e.st.triggered) {
                catchUp(bd);
                e.forcePending = true;
                e.forceCause = "force";
            }
        };
    }
    for (int id = 104; id <= 107; ++id) {
        auto base = b.spiHandlers[id].read;
        b.spiHandlers[id].read = [base](TSimBoard& bd, int reg) -> uint32_t {
            TEngineCore& e = *bd.engine;
            if (e.st.triggered && e.st.source == reg - 104)
                e.positionRead = true;
            return base ? base(bd, reg) : bd.spi[reg];
        };
    }
    {
        auto base = b.eimHandlers[16].write;
        b.eimHandlers[16].write = [base](TSimBoard& bd, uint32_t w, uint16_t v) {
            if ((v & 0x8000) && bd.engine->st.running) {
                catchUp(bd);
                stopAcquisition(bd, "(FIFO reset)");
            }
            if (base)
                base(bd, w, v);
            else
                bd.eimStore(w, v);
        };
    }
}

// Overscan detector: armed on a channel while SPI 36 holds its two bits (0x11 << ch) and its chip
// has p44 = 0, p63 = p64 = 1. SPI 40 bit ch latches when the level goes below the p19
// threshold, bit 4 + ch when it goes above the p66 one; the first latch queues one input event
// on /dev/input/event2. The signal is scanned over two periods whenever the arming changes.
void overscanQueueEvent(TSimBoard& b)
{
    struct input_event ev {};
    struct timeval now;
    gettimeofday(&now, nullptr);
    ev.input_event_sec = now.tv_sec;
    ev.input_event_usec = now.tv_usec;
    ev.type = EV_MSC;  // the product takes the event only as a wake-up
    for (auto& f : b.files) {
        if (!f || f->kind != TDevKind::Evdev || f->evdev != 2)
            continue;
        if (f->events.size() - f->eventHead >= kEventQueueLimit)
            continue;
        f->events.push_back(ev);
    }
    b.notifyAll();
}

void overscanEvaluate(TSimBoard& b)
{
    TEngineCore& e = *b.engine;
    uint32_t latched = b.spi[40];
    for (int c = 0; c < 4; ++c) {
        const uint32_t bits = 0x11u << c;
        const auto& p = b.chips[c].params;
        if ((b.spi[36] & bits) != bits || p[44] != 0 || p[63] != 1 || p[64] != 1)
            continue;
        analog::TChannelModel m = e.models[c];
        analog::decode(b.chips[c], (b.spi[20] & (1u << c)) != 0, &m);
        analog::TPlan plan;
        const TSignal& sig = b.scenario.signals[c];
        planOf(b, c, m.a, &plan);
        const double low = -(static_cast<double>(p[19]) - 511.0) * 20000.0 / 8184.0;
        const double high = -(static_cast<double>(p[66]) - 511.0) * 20000.0 / 8184.0;
        const double span = sig.frequency > 0 ? 2.0 / sig.frequency : 1e-3;
        std::mt19937 rng(b.scenario.seed);
        constexpr int kPoints = 4000;
        for (int i = 0; i < kPoints; ++i) {
            const double u = analog::units(m.a, analog::plannedVolts(plan, span * i / kPoints, rng));
            if (u < low)
                latched |= 1u << c;
            if (u > high)
                latched |= 1u << (4 + c);
        }
    }
    if (b.spi[40] == 0 && latched != 0)
        overscanQueueEvent(b);
    b.spi[40] = latched;
}

// The comparator output of channel c at the input's level now, the front end as it stands.
bool comparatorOutputNow(TSimBoard& b, int c)
{
    analog::TChannelModel m = b.engine->models[c];
    analog::decode(b.chips[c], true, &m);
    analog::TPlan plan;
    planOf(b, c, m.a, &plan);
    std::mt19937 rng(b.scenario.seed);
    return analog::comparator(m.a, analog::units(m.a, analog::plannedVolts(plan, static_cast<double>(b.nowNs()) * 1e-9, rng)));
}

// SPI 32: comparator output transitions per channel since the last write of the register,
// 6 bits per channel at 6 * ch + 4, saturating at 63. Counted when read, with the front end as
// it stands then.
uint32_t comparatorTransitions(TSimBoard& b)
{
    TEngineCore& e = *b.engine;
    const uint64_t now = b.nowNs();
    const double from = static_cast<double>(e.transitionsSinceNs) * 1e-9;
    const double span = now > e.transitionsSinceNs ? static_cast<double>(now - e.transitionsSinceNs) * 1e-9 : 0.0;
    uint32_t word = 0;
    for (int c = 0; c < 4; ++c) {
        if ((b.spi[20] & (1u << c)) == 0)
            continue;
        analog::TChannelModel m = e.models[c];
        analog::decode(b.chips[c], true, &m);
        analog::TPlan plan;
        const TSignal& sig = b.scenario.signals[c];
        planOf(b, c, m.a, &plan);
        uint32_t count = e.thresholdFlips[c];
        if (plan.shape != analog::TPlan::Dc && !plan.zero && span > 0) {
            const double step = sig.frequency > 0 ? 1.0 / (sig.frequency * 200.0) : span / 1000.0;
            std::mt19937 rng(b.scenario.seed);
            bool prev = analog::comparator(m.a, analog::units(m.a, analog::plannedVolts(plan, from, rng)));
            for (double t = step; t <= span && count < 63 && t < step * 200000.0; t += step) {
                const bool out = analog::comparator(m.a, analog::units(m.a, analog::plannedVolts(plan, from + t, rng)));
                count += out != prev ? 1 : 0;
                prev = out;
            }
        }
        word |= std::min<uint32_t>(count, 63) << (6 * c + 4);
    }
    for (int c = 0; c < 4; ++c) {
        if (e.qualityStuck[c] < 0)
            continue;
        word &= ~(0x3Fu << (6 * c + 4));
        word |= static_cast<uint32_t>(e.qualityStuck[c] & 0x3F) << (6 * c + 4);
    }
    return word;
}

// Frequency counters: units of ranges 0-2 (count = period / unit) and 3-6 (count = unit / period).
constexpr double kCounterUnits[7] = {8.192e-6, 5.12e-7, 3.2e-8, 0.0335544, 0.002097152, 1.31072e-4, 6.5536e-5};
constexpr uint32_t kCounterMax = 0xFFFF;

// True when channel c's comparator toggles over a period of its input as the front end stands.
bool comparatorToggles(TSimBoard& b, int c)
{
    if ((b.spi[20] & (1u << c)) == 0)
        return false;
    analog::TChannelModel m = b.engine->models[c];
    analog::decode(b.chips[c], true, &m);
    analog::TPlan plan;
    planOf(b, c, m.a, &plan);
    if (plan.shape == analog::TPlan::Dc || plan.zero || plan.freq <= 0)
        return false;
    std::mt19937 rng(b.scenario.seed);
    const bool first = analog::comparator(m.a, analog::units(m.a, analog::plannedVolts(plan, 0.0, rng)));
    for (int i = 1; i <= 400; ++i) {
        const double t = i / (plan.freq * 200.0);
        if (analog::comparator(m.a, analog::units(m.a, analog::plannedVolts(plan, t, rng))) != first)
            return true;
    }
    return false;
}

uint32_t counterCountOf(TSimBoard& b, int c, int range)
{
    if (c < 0 || c > 3 || range < 0 || range > 6 || !comparatorToggles(b, c))
        return 0;
    const double period = 1.0 / b.scenario.signals[c].frequency;
    const double n = range <= 2 ? period / kCounterUnits[range] : kCounterUnits[range] / period;
    return static_cast<uint32_t>(std::min(std::floor(n), static_cast<double>(kCounterMax)));
}

void installCounters(TSimBoard& b)
{
    b.engine->counterRange = {{-1, -1, -1, -1}};
    TOpcodeHandler base = b.opcodeHandlers[0x0CE];
    // A word for the global controller (no channel addressed) selects every channel's range.
    b.opcodeHandlers[0x0CE] = [base](TSimBoard& bd, int d, uint16_t code, uint16_t data) -> uint32_t {
        const uint32_t result = base ? base(bd, d, code, data) : 0;
        const uint16_t v = static_cast<uint16_t>(data >> 1);
        const int range = (v & 0x1C) / 4 - 1;
        for (int c = 0; c < 4; ++c)
            if (d == c || d < 0)
                bd.engine->counterRange[c] = range;
        return result;
    };
    b.opcodeHandlers[0x1CF] = [](TSimBoard& bd, int d, uint16_t, uint16_t) -> uint32_t {
        if (d < 0 || d > 3 || bd.engine->counterSilent[d])
            return 0;
        const uint32_t count = counterCountOf(bd, d, bd.engine->counterRange[d]);
        return ((count ^ (count >> 1)) << 8) & 0xFFFFFF;
    };
}

void installOverscan(TSimBoard& b)
{
    b.engine->transitionsSinceNs = b.nowNs();
    b.spiHandlers[32].write = [](TSimBoard& bd, int, uint32_t) {
        bd.engine->transitionsSinceNs = bd.nowNs();
        bd.engine->thresholdFlips = {};
    };
    b.spiHandlers[32].read = [](TSimBoard& bd, int) -> uint32_t { return comparatorTransitions(bd); };
    {
        auto base = b.spiHandlers[36].write;
        b.spiHandlers[36].write = [base](TSimBoard& bd, int id, uint32_t v) {
            if (base)
                base(bd, id, v);
            else
                bd.spi[36] = v;
            if (v == 0)
                bd.spi[40] = 0;
            else
                overscanEvaluate(bd);
        };
    }
    {
        auto base = b.spiHandlers[40].read;
        b.spiHandlers[40].read = [base](TSimBoard& bd, int reg) -> uint32_t {
            const uint32_t v = base ? base(bd, reg) : bd.spi[reg];
            bd.spi[40] = 0;  // read-to-clear
            return v;
        };
    }
    for (uint16_t r = 0; r < kChipRegisters; ++r) {
        TOpcodeHandler base = b.opcodeHandlers[r];
        b.opcodeHandlers[r] = [base](TSimBoard& bd, int d, uint16_t code, uint16_t data) -> uint32_t {
            const bool chip = d >= 0 && d <= 3;
            const bool before = chip && comparatorOutputNow(bd, d);
            const uint32_t result = base ? base(bd, d, code, data) : 0;
            // A threshold (or polarity) write that moves the comparator across the input's level
            // flips its output: one transition.
            if (chip && comparatorOutputNow(bd, d) != before)
                ++bd.engine->thresholdFlips[d];
            if (chip && bd.spi[36] != 0)
                overscanEvaluate(bd);
            return result;
        };
    }
}

} // namespace

namespace {

// The capacitor from now on holds what it has and follows the drive (and the load) given.
void capacitorFollow(TSimBoard& b, const analog::TCapacitor& drive, const TLoad& before)
{
    analog::TCapacitor& c = b.engine->capacitor;
    const double t = static_cast<double>(engineNow(b)) * 1e-9;
    c.v0 = before.kind == "capacitor" ? analog::capacitorVolts(before, c, t) : 0.0;
    c.t0 = t;
    c.amps = drive.amps;
    c.discharging = drive.discharging;
}

// Channel 1's capacitor changes course at the front-end write that changes its drive: the
// samples before it are produced with the drive they had.
void installCapacitor(TSimBoard& b)
{
    b.engine->capacitor = analog::capacitorDrive(b.chips[0]);
    b.engine->capacitor.t0 = static_cast<double>(engineNow(b)) * 1e-9;
    for (uint16_t r = 0; r < kChipRegisters; ++r) {
        TOpcodeHandler base = b.opcodeHandlers[r];
        b.opcodeHandlers[r] = [base](TSimBoard& bd, int d, uint16_t code, uint16_t data) -> uint32_t {
            if (d != 0 || bd.scenario.load.kind != "capacitor")
                return base ? base(bd, d, code, data) : 0;
            catchUp(bd);
            const uint32_t result = base ? base(bd, d, code, data) : 0;
            const analog::TCapacitor drive = analog::capacitorDrive(bd.chips[0]);
            const analog::TCapacitor& c = bd.engine->capacitor;
            if (drive.amps != c.amps || drive.discharging != c.discharging)
                capacitorFollow(bd, drive, bd.scenario.load);
            return result;
        };
    }
}

} // namespace

void TSimBoard::installEngineHandlers()
{
    installEngine(*this);
    installCapacitor(*this);
    installOverscan(*this);
    installCounters(*this);
}

void TSimBoard::refreshAgeLevel()
{
    const size_t n = fifoVisible();
    if (!engine || n < kAgeSamples) {
        ageLevel = false;
        return;
    }
    const uint64_t stamp = fifoTime[(fifoHead + kAgeSamples - 1) % kFifoSamples];
    ageLevel = engine->clockNs > stamp && engine->clockNs - stamp > kAgeNs;
}

void TSimBoard::clearEngineFaults()
{
    if (!engine)
        return;
    engine->noTrigger = false;
    engine->silent = {{-1, -1, -1, -1}};
    engine->elvLate = false;
    engine->missingVernier = -1;
    engine->elvLateChannel = {};
    engine->pipelineDead = {};
    engine->vernierCode = {{-1, -1, -1, -1}};
    engine->acquisitionBudget = -1;
    engine->starved = false;
    engine->phaseOffsets = {};
    for (TFrontEndChip& chip : chips) {
        chip.offsetDacStuck = false;
        chip.referenceDead = false;
    }
    engine->counterSilent = {};
    engine->qualityStuck = {{-1, -1, -1, -1}};
}

// ---------------------------------------------------------------------------------------------
// Control API

namespace {

// The engine exists from the first reset on; before it, the control API creates the board's.
TEngineCore& engineOf(TSimBoard& b)
{
    if (!b.engine)
        b.engine = new TEngineCore();
    return *b.engine;
}

} // namespace

TEngineState engineState()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return engineOf(board()).st;
}

void setSignal(int channel, const TSignal& signal)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().scenario.signals[channel] = signal;
}

void setInputsConnected(bool connected)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().scenario.inputsConnected = connected;
}

bool inputsConnected()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().scenario.inputsConnected;
}

TAnalogChannel analogChannel(int channel)
{
    if (channel < 0 || channel > 3)
        return TAnalogChannel();
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    engineOf(b);
    refreshModels(b);
    return b.engine->models[channel].a;
}

double inputVolts(int channel, double t)
{
    if (channel < 0 || channel > 3)
        return 0;
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    if (!b.scenario.inputsConnected)
        return 0;
    return analog::volts(b.scenario.signals[channel], t, b.rng);
}

uint16_t sampleCode(int channel, double t)
{
    if (channel < 0 || channel > 3)
        return 0;
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    engineOf(b);
    refreshModels(b);
    TSample s;
    synthesise(b, t, s, nullptr);
    return s[channel];
}

void setEnginePaused(bool paused)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    TEngineCore& e = engineOf(b);
    if (e.paused && !paused) {
        // Simulated time already spent by runEngine is not replayed.
        const uint64_t now = b.nowNs();
        if (now > e.clockNs) {
            const double shift = static_cast<double>(now - e.clockNs);
            e.nextNs += shift;
            e.startNs += static_cast<uint64_t>(shift);
            e.triggerNs += static_cast<uint64_t>(shift);
            e.crossNs += shift;
            e.prevScanNs += shift;
            if (e.etAwaitFlush)
                e.facts.triggerNs = e.crossNs;
            e.etScanNs = now;
            e.clockNs = now;
        }
    }
    e.paused = paused;
}

void runEngine(uint64_t simNs)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    TEngineCore& e = engineOf(b);
    engineTick(b, e.clockNs + simNs);
}

size_t popSamples(TSample* out, size_t max)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    const size_t n = std::min(max, b.fifoVisible());
    for (size_t i = 0; i < n; ++i) {
        out[i] = b.fifoData[b.fifoHead];
        b.fifoHead = (b.fifoHead + 1) % kFifoSamples;
        --b.fifoSize;
        ++b.fifoPopped;
    }
    b.nextPort = 0;
    if (b.ageLevel)
        b.refreshAgeLevel();
    b.lastActive &= ~kStatusThreshold;   // a later rise of the level is a new edge
    b.updateInterrupt();
    return n;
}

void setNoTrigger(bool on)
{
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).noTrigger = on;
}

void setCounterSilent(int channel, bool on)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).counterSilent[channel] = on;
}

void setQualityStuck(int channel, int value)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).qualityStuck[channel] = value < 0 ? -1 : std::min(value, 63);
}

void setLoad(const TLoad& load)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    engineOf(b);
    catchUp(b);
    const TLoad before = b.scenario.load;
    capacitorFollow(b, analog::capacitorDrive(b.chips[0]), before);
    b.scenario.load = load;
}

void setCapacitor(double farads, double leakOhms)
{
    TLoad load;
    load.kind = "capacitor";
    load.farads = farads;
    load.leakOhms = leakOhms;
    setLoad(load);
}

double pathVolts()
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    TEngineCore& e = engineOf(b);
    const double t = static_cast<double>(engineNow(b)) * 1e-9;
    if (b.scenario.load.kind == "capacitor")
        return analog::capacitorVolts(b.scenario.load, e.capacitor, t);
    analog::TChannelModel m = e.models[0];
    analog::decode(b.chips[0], true, &m);
    analog::TPlan plan;
    plan.a = m.a;
    if (!analog::planPath(b.scenario.load, e.capacitor, &plan))
        return 0.0;
    return plan.offset;
}

int counterRange(int channel)
{
    if (channel < 0 || channel > 3)
        return -1;
    std::lock_guard<std::mutex> lock(board().mu);
    return engineOf(board()).counterRange[channel];
}

uint32_t counterCount(int channel, int range)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    engineOf(b);
    return counterCountOf(b, channel, range);
}

void setSilentChannel(int channel, int code)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).silent[channel] = code < 0 ? -1 : (code & 0xFFF);
}

void setElvReadBackLate(bool on)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TEngineCore& e = engineOf(board());
    e.elvLate = on;
    e.elvLateCleared = {};
}

bool setVernierLimits(const TVernierLimits& limits)
{
    if (limits.min < 1 || limits.max > 4094 || limits.min >= limits.max)
        return false;
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).limits = limits;
    return true;
}

TVernierLimits vernierLimits()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return engineOf(board()).limits;
}

void forceEtChoices(int startBlock, double fraction)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TEngineCore& e = engineOf(board());
    e.forcedBlock = startBlock < 0 ? -1 : startBlock % et::kBlocks;
    e.forcedFraction = fraction < 0 || !std::isfinite(fraction) ? -1.0 : std::min(fraction, std::nextafter(1.0, 0.0));
}

void clearEtChoices()
{
    forceEtChoices(-1, -1);
}

TEtRecord etRecord()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return engineOf(board()).facts;
}

double etPositionTimeNs(double position)
{
    std::lock_guard<std::mutex> lock(board().mu);
    const TEtRecord& f = engineOf(board()).facts;
    if (!f.valid)
        return 0;
    return f.triggerNs + (position - f.crossingPosition) * f.positionNs;
}

std::vector<TEtPlacement> etPlacements()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return engineOf(board()).placements;
}

void setMissingVernier(int code)
{
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).missingVernier = code < 0 ? -1 : (code & 0xFFF);
}

void setElvReadBackLate(int channel, bool on)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    TEngineCore& e = engineOf(board());
    e.elvLateChannel[channel] = on;
    e.elvLateCleared[channel] = false;
}

void setPipelineDead(int channel, bool on)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).pipelineDead[channel] = on;
}

void setOffsetDacStuck(int channel, bool on)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().chips[channel].offsetDacStuck = on;
}

void setVernierCode(int channel, int code)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).vernierCode[channel] = code < 0 ? -1 : (code & 0xFFF);
}

void setAcquisitionBudget(int count)
{
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).acquisitionBudget = count < 0 ? -1 : count;
}

void setPhaseOffsets(int channel, const std::array<int16_t, 20>& offsets)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    engineOf(board()).phaseOffsets[channel] = offsets;
}

} // namespace simboard
