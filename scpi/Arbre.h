// The SCPI command tree: one constant tree of nodes, walked one header level at a time.
#pragma once

#include "scpi/header.h"

#include <cstdint>

struct entry {
    uint8_t setAllowed;        // the header may be sent without "?"
    uint8_t queryAllowed;      // the header may end with "?"
    uint8_t shortLength;       // the short form is the first shortLength characters
    uint8_t longLength;
    const char* keyword;       // the long form, lower case
    THandler handler;          // null for a path entry
    const char* paramLetters;  // null when the command takes no parameter
    const node* child;         // the next level, or null
};

struct node {
    int16_t entryCount;
    const entry* entries;
    int16_t defaultEntry;      // the entry that may be left out of a header, -1 for none
};

// The root node. Constant, shared, built at compile time.
const node* tree();
