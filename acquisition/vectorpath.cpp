#include "acquisition/vectorpath.h"

#include <atomic>

namespace {

TVectorPath detect()
{
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();  // may run before the constructor that would do it
    if (__builtin_cpu_supports("avx2"))
        return TVectorPath::Avx2;
#endif
#if defined(__SSE2__)
    return TVectorPath::Sse2;
#else
    return TVectorPath::Portable;
#endif
}

std::atomic<int>& current()
{
    static std::atomic<int>* path = new std::atomic<int>(static_cast<int>(detect()));
    return *path;
}

} // namespace

TVectorPath bestVectorPath()
{
    static const TVectorPath best = detect();
    return best;
}

TVectorPath vectorPath()
{
    return static_cast<TVectorPath>(current().load(std::memory_order_relaxed));
}

bool setVectorPath(TVectorPath path)
{
    bool inBuild = false;
    switch (path) {
    case TVectorPath::Portable:
#if !defined(__SSE2__)
        inBuild = true;
#endif
        break;
    case TVectorPath::Sse2:
#if defined(__SSE2__)
        inBuild = true;
#endif
        break;
    case TVectorPath::Avx2:
        inBuild = bestVectorPath() == TVectorPath::Avx2;
        break;
    }
    if (inBuild)
        current().store(static_cast<int>(path));
    return inBuild;
}

void resetVectorPath()
{
    current().store(static_cast<int>(bestVectorPath()));
}
