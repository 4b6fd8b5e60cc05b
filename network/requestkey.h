// The request key that web-service clients echo back: renewed whenever a local or SCPI user
// changes a setting, so that a client can tell its view is stale.
#pragma once

#include <atomic>
#include <cstdint>

// Written by the web-service thread (its "o" key), the controller and the key thread.
extern std::atomic<int32_t> l_g_requestKey;
// (random AND 0x7FFF) << 16, drawn once when the web-service thread starts; 0 until then.
extern std::atomic<int32_t> l_g_requestKeyOrigin;
extern std::atomic<uint16_t> us_g_requestId;

// request id := (request id + 1) AND 0x7FFF; request key := origin + request id. Called by the
// controller alone.
void ResetRequestKey();
