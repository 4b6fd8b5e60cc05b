#include "network/requestkey.h"

std::atomic<int32_t> l_g_requestKey{0};
std::atomic<int32_t> l_g_requestKeyOrigin{0};
std::atomic<uint16_t> us_g_requestId{0};

void ResetRequestKey()
{
    // Only the controller renews the key, so the read-modify-write needs no lock.
    const uint16_t id = static_cast<uint16_t>((us_g_requestId.load(std::memory_order_relaxed) + 1) & 0x7FFF);
    us_g_requestId.store(id, std::memory_order_relaxed);
    l_g_requestKey.store(
        static_cast<int32_t>(static_cast<uint32_t>(l_g_requestKeyOrigin.load(std::memory_order_relaxed)) + id),
        std::memory_order_relaxed);
}
