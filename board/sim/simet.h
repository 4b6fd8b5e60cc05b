// The simulated board's equivalent-time record model: how the ring of one ET acquisition is laid
// out, in which order the product's sort visits it and which record position each visited entry
// takes. Pure functions, no board state; the engine (simengine.cpp) fills the entries with the
// analogue model at the instants those positions stand for. The model is described in
// simengine.cpp ("Equivalent-time record") and in SCENARIO.txt.
#pragma once

#include <cstdint>
#include <vector>

namespace simboard {
namespace et {

constexpr int kBlocks = 128;
constexpr int kPhases = 20;
constexpr int kRingSamples = kBlocks * kPhases;          // 2560
constexpr int kRecordEntries = 1 + kBlocks * (kPhases + 1);  // 2689
constexpr int kRecordPositions = 100000;
constexpr int kUnit = 20480;                             // vernier units per 8 ns clock
constexpr uint32_t kMarkShift = 0x40000000;
constexpr uint32_t kMarkWrap = 0x20000000;

// Ring entry of sample k (0..2559): block headers skipped.
inline int entryOfSample(int k)
{
    return k + k / kPhases + 2;
}
inline int entryOf(int block, int phase)
{
    return 2 + 21 * block + phase;
}

// What the block length and sample period make of an acquisition.
struct TGeometry {
    uint32_t elv = 1;
    int g = 20;             // phases per sort step
    int K = kUnit;          // vernier units per sort step
    int d = 1;              // 8 ns clocks per FPGA sample (macro vernier range), 1 below 16 ns
    int perSample = 1;      // sort steps per FPGA sample (D): 20 / g, 1 at block length 1
    double periodNs = 8;    // FPGA sample period
    bool minMax = false;
    int H = 0;              // positions one phase stands for (half-area shift), 0 at length 1
    int residualX1000 = 0;  // column delay at length 1, thousandths of a position
    int latency = 9;        // FPGA samples between the crossing and the trigger sample
};
TGeometry geometry(uint32_t elv, double periodNs, bool minMax);

// Rotations within 20 bits.
uint32_t rotl20(uint32_t v, int n);
uint32_t rotr20(uint32_t v, int n);
int trailingZeros20(uint32_t v);

// The acquisition's choices and what the pipeline read-back gives the product.
struct TChoice {
    int startBlock = 0;     // N
    int rotation = 0;       // G = ELV rotated left by this (0..g-1)
    double fraction = 0;    // crossing's place in its FPGA sample, 0 <= f < 1
};
struct TAnswers {
    uint8_t pipelineByte = 0;   // 0x181, low byte of word 52
    uint32_t pattern = 0;       // G as answered by 0x185 / 0x186
    int16_t macroVernier = 0;   // 0x1A0
    uint16_t vernierCode = 0;   // entry 0
};

// One visited ring entry (min/max: the pair's two entries).
struct TVisit {
    int entry = 0;
    int entry2 = -1;        // min/max: the entry 42 earlier
    uint32_t mark = 0;
    double position = 0;    // plain: the position it takes; min/max: the start of its interval
    double positionEnd = 0; // min/max: end of the interval
    bool stored = true;     // false: an entry the placement leaves out (wrap mark, beyond the record)
    bool sorted = true;     // false: visited only to fill the rest of the ring
};

struct TPlan {
    TGeometry geo;
    TChoice choice;
    TAnswers answers;
    int pipelineN = 0;          // N as the product decodes it
    uint32_t patternUsed = 0;   // G after the product's half-area rotation
    int vernierPosition = 0;    // position 0..20479 the product derives from the code
    int origin = 0;             // pipeline origin O
    double fractionTrue = 0;    // the fraction the code expresses
    int count = 0;              // sorted entries (min/max: words)
    double positionNs = 0;      // time between two record positions
    double crossingPosition = 0;// record position of the trigger crossing
    std::vector<TVisit> visits; // newest first
};

// The board's record plan. preWord / postWord: the pre- and post-trigger counts the FPGA got;
// vernierMin / vernierMax: the board's vernier limits (min < max).
TPlan plan(const TGeometry& geo, const TChoice& choice, uint32_t preWord, uint32_t postWord, uint16_t vernierMin,
           uint16_t vernierMax);

} // namespace et
} // namespace simboard
