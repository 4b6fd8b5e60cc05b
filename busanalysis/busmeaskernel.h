// The bus measurement kernel: levels (base, middle, top) and the first complete rising and
// falling edge of a trace at seven thresholds, plus the small search functions over integer
// arrays that the measurement factory uses. No state: any thread may call them at once.
#pragma once

#include "acquisition/measkernel.h"

#include <cstdint>

// A scope measurement record followed by the bus fields. MeasPixAmp fills the first part.
struct TBusAutoMeas : mesures {
    uint32_t midLevel;        // mean code of the middle level
    uint32_t afterFallLevel;  // code 5000 samples after the falling 45 % crossing; 0 when none
    // Crossing indices of the first complete rising and falling edge (full 32-bit indices).
    uint32_t rise5;
    uint32_t rise45;
    uint32_t rise55;
    uint32_t rise95;
    uint32_t fall95;
    uint32_t fall45;
    uint32_t fall55;
    uint32_t fall5;
};

// Least swing (maxCode - minCode) of the edge search: half a division.
constexpr uint32_t kBusLeastSwing = 16380;

// Levels and edges over [min(first, last), max(first, last)) clamped to 0..100000, over every
// valid sample whatever their spacing. codingType 7 needs a middle level; edges are searched
// only over a swing of kBusLeastSwing. Also sets rise50 and fall50, counts the mid-level
// crossings after the first two edges in periodCount (last one in lastCross50) and clears every
// other field of the record. 0, or -2 when the trace gives no usable levels: extremes within
// four bins or clipped, no middle level for coding 7 (flags then tell what was found).
int32_t MeasPixT_bus(const uint32_t* samples, TBusAutoMeas* out, int32_t first, int32_t last, int32_t codingType);

// Conditions of the search functions: p[i] against value.
enum TBusCondition : int32_t {
    kBusLess = 1,
    kBusGreater = 2,
    kBusAtMost = 3,
    kBusAtLeast = 4,
    kBusEqual = 5,
    kBusNotEqual = 6,
};

// Largest / smallest of p[from] .. p[to - 1]; p[from] when to <= from + 1.
uint32_t Maximum_sur_intervalle_int(const uint32_t* p, int32_t from, int32_t to);
uint32_t Minimum_sur_intervalle_int(const uint32_t* p, int32_t from, int32_t to);
// Largest / smallest of p[from] .. p[to] inclusive; p[from] when to <= from.
uint32_t Maximum_sur_intervalle_signal_t(const uint32_t* p, int32_t from, int32_t to);
uint32_t Minimum_sur_intervalle_signal_t(const uint32_t* p, int32_t from, int32_t to);
// p[from] .. p[to - 1] := value.
void remplissage_tableau(uint32_t* p, int32_t from, int32_t to, uint32_t value);
// First j with from < j < end and p[j] != p[j - 1]; -1 when none.
int32_t findEdge(const int32_t* p, int32_t from, int32_t end);
// direction 1: first index upward, 2: first index downward whose element meets the condition;
// -1 when none, for another direction, a bad condition or a null array.
int32_t findElement(const uint32_t* p, int32_t n, int32_t condition, uint32_t value, int32_t direction);
// Elements of p[0] .. p[n - 1] meeting the condition; -1 for a bad condition or a null array.
int32_t findNbOccurence(const uint32_t* p, int32_t n, int32_t condition, uint32_t value);
// Writes the indices of the matches into out, in order, at most outMax; the number written, or
// -1 for bad arguments.
int32_t findrr_entier(int32_t* out, int32_t outMax, const uint32_t* p, int32_t n, int32_t condition, uint32_t value);
// *count := number of matches, out := their indices (at most outMax); 1, or 0 when anything fails.
int32_t findEnsemble(const uint32_t* p, int32_t n, int32_t* out, int32_t outMax, uint32_t value, int32_t* count,
                     int32_t condition);
// mode 0: as findEnsemble with out holding n entries; mode 1 or 2: *out := findElement with that
// direction and *count := 1. 1, or 0 when nothing is found or the arguments are bad.
int32_t find_entier2(const uint32_t* p, int32_t n, int32_t condition, uint32_t value, int32_t* out, int32_t* count,
                     int32_t mode);
