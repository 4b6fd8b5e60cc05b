// Stand-in until autoset exists: records the call and finds nothing, unless a test says so.
#include "acquisition/autoset.h"
#include "acquisition/autoset_standin.h"

TAutosetStandin& autosetStandin()
{
    static auto* s = new TAutosetStandin();
    return *s;
}

void resetAutosetStandin()
{
    autosetStandin() = TAutosetStandin();
}

namespace {
bool record(const char* function, unsigned short argument)
{
    autosetStandin().calls.push_back({function, argument});
    return autosetStandin().result;
}
} // namespace

bool Autoset(unsigned short which)
{
    return record("Autoset", which);
}

bool AutosetFft(unsigned short which)
{
    return record("AutosetFft", which);
}

bool AutosetVerticalFFT(unsigned short which)
{
    return record("AutosetVerticalFFT", which);
}

bool AutosetVertical(unsigned short channel)
{
    return record("AutosetVertical", channel);
}
