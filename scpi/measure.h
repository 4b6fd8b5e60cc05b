// The hold of the MEASure queries: the acquisition stands still between two cycles while one
// channel is measured and its value looked up.
#pragma once

#include <cstdint>

struct TMeasureHold {
    void (*suspend)();  // the owned hold of hardware/handshake.h by default
    void (*resume)();
    // Called after each resume with the time the acquisition stood held; null in the product.
    void (*observer)(int64_t heldNs);
};

// The hooks in use; tests replace them and put the defaults back.
TMeasureHold& measureHold();
TMeasureHold defaultMeasureHold();
