// Header matching: the path context, numeric suffixes and the lookup of a mnemonic in a node of
// the command tree.
#pragma once

#include "core/requests.h"
#include "scpi/lex.h"

#include <cstdint>

constexpr int kScpiLevels = 10;
// A suffix that does not fit 15 bits reads as this, outside every range a handler accepts.
constexpr int16_t kScpiSuffixMax = 32767;

// The path context of the unit being executed.
struct indic {
    int16_t count;                // header levels matched so far
    int16_t suffix[kScpiLevels];  // numeric suffix of each level, 1 when none was given
    int16_t query;                // 1 when the header ended with "?"
    int16_t paramCount;           // parameters decoded
    int16_t postAction;           // set by handlers: 10, 11 or 12
};

constexpr int kScpiMaxRequests = 20;

// Command handler: path context, parameter area, request array (at most kScpiMaxRequests) and
// the request count. Returns 0 or an internal error number.
using THandler = int (*)(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount);

struct node;
struct entry;

// Path reset to a level: count := level, suffixes of level..9 := 1, the rest 0.
void scpi_init(indic* ind, short level);
// Splits the trailing digits of the current word into the suffix of the current level.
void explode(lex* l, indic* ind);
// Looks the text up in the node, descending through optional levels; counts the levels.
// Returns the entry or null.
const entry* search(const node* n, const char* text, indic* ind);
// Number of levels from..to (inclusive) whose suffix is not 1.
int tstind(const indic* ind, short from, short to);
