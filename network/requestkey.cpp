#include "network/requestkey.h"

std::atomic<int32_t> l_g_requestKey{0};
int32_t l_g_requestKeyOrigin = 0;
uint16_t us_g_requestId = 0;

void ResetRequestKey()
{
    us_g_requestId = static_cast<uint16_t>((us_g_requestId + 1) & 0x7FFF);
    l_g_requestKey.store(static_cast<int32_t>(static_cast<uint32_t>(l_g_requestKeyOrigin) + us_g_requestId),
                         std::memory_order_relaxed);
}
