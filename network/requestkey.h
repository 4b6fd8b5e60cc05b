// The request key that web-service clients echo back: renewed whenever a local or SCPI user
// changes a setting, so that a client can tell its view is stale.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> l_g_requestKey;
extern int32_t l_g_requestKeyOrigin;
extern uint16_t us_g_requestId;

// request id := (request id + 1) AND 0x7FFF; request key := origin + request id.
void ResetRequestKey();
