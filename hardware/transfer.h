// Sample transfer: moves the new samples of one acquisition from the sample ring into the
// normalised channel buffers (streaming, decimated and equivalent-time placement, envelopes,
// min/max pairs, averaging, gap interpolation), then into the traces or the math functions.
#pragma once

#include <cstdint>

struct acq_ctrl;

// Working area between the ring and the channel buffers.
constexpr int32_t kSortedSignalWords = 100004;
extern uint32_t tul_g_sortedSignal[kSortedSignalWords];

// Equivalent-time pipeline facts of one acquisition (filled by LecturePipeline).
struct TPipelineValues {
    int32_t phaseIndex;       // N, 0..127
    int32_t vernierPosition;  // vernier position / 1024
    int32_t phaseUnit;        // K
    uint32_t pattern;         // G, 20-bit block pattern
};

// Caller-owned word: gaps are interpolated only while it is not 1; every transfer sets it to 1.
using TInterpolation = uint32_t;
// Thrown and caught inside the transfer only.
using TransfertEnum = int32_t;

// Indexed by time-base index 0..35.
extern const int16_t ts_l_retardResiduel_X1000[36];
extern const int16_t s_l_dynamicMacroVernier[36];
extern const int16_t s_l_diviseurVernier[36];

// Transfers the last read-out. `held`: samples already in the channel buffers (updated);
// `first`: first valid display position (0 unless a placement reports one). Returns 1 on
// success, 0 when nothing was new or the sort yielded nothing.
int32_t acqtrans(acq_ctrl* ctrl, uint32_t* held, int32_t* first, TInterpolation* interpolate);
// Copies [*position, *position + n) of each shown channel into its trace, or evaluates the
// channel's math function over it. *position is read, not changed. Always 1.
int32_t acqCalcul(acq_ctrl* ctrl, uint32_t* position, uint32_t n, bool reframeOnFailure);
// Reads the equivalent-time pipeline state of the last acquisition (serial read-back and the
// ring's vernier entry); sets ctrl->transferPhase and pseudoMacroVernier. Returns 1.
int32_t LecturePipeline(acq_ctrl* ctrl, const uint16_t* ring, TPipelineValues* values);
// Sorts one channel's equivalent-time ring entries into tul_g_sortedSignal. Returns the count
// (at most 2560; 0 when nothing to sort).
int32_t MatriceTri(uint16_t channelBit, acq_ctrl* ctrl, const TPipelineValues* values);
// Returns its argument; no effect.
acq_ctrl* AcqTransfertOpen(acq_ctrl* ctrl);
// Seeds the one generator of the missing-vernier placement.
void setTransferRandomSeed(uint32_t seed);

// The three serial read-backs LecturePipeline takes (word 51 << 16 | word 52 after 0x181, 0x185
// and 0x186); decodePipeline is LecturePipeline without the serial traffic.
struct TPipelineReadBack {
    uint32_t phase;     // 0x181
    uint32_t pattern5;  // 0x185
    uint32_t pattern6;  // 0x186
};
int32_t decodePipeline(acq_ctrl* ctrl, const uint16_t* ring, const TPipelineReadBack& readBack,
                       TPipelineValues* values);
