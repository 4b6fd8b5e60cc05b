// Stand-in until the smart probes exist: no probe ("result 2", no link) unless a test put one
// with an identifier on the channel; then a probe object with that identifier is linked.
#include "hardware/kalvex.h"
#include "hardware/kalvex_standin.h"

#include "core/gest_db.h"

#include <cstring>

TKalvexStandin& kalvexStandin()
{
    static auto* s = new TKalvexStandin();
    return *s;
}

void resetKalvexStandin()
{
    kalvexStandin() = TKalvexStandin();
}

TKalvex::TKalvex(unsigned short ch)
    : channel(ch)
{
    if (ch < 4 && kalvexStandin().probeId[ch] != 0)
        id = kalvexStandin().probeId[ch];
    else
        state = 2;
}

int TKalvex::getId(char* designation, unsigned short* idOut)
{
    ++kalvexStandin().getIdCalls;
    if (state != 0 && state != 4)
        return -1;
    if (designation)
        std::memset(designation, 0, 6);
    if (idOut)
        *idOut = id;
    return 0;
}

int TKalvex::setUserFields(unsigned short colour, unsigned short second)
{
    kalvexStandin().userFieldCalls.push_back({channel, colour, second});
    return 0;
}

// The stand-in probe carries no coefficient and no unit.
int TKalvex::getProbeCoeff(float*)
{
    return -1;
}

int TKalvex::getMeasurementUnit(char*)
{
    return -1;
}

int TKalvex::getCorrection(double* gain, double* offset)
{
    const TKalvexStandin& s = kalvexStandin();
    const bool has = channel < 4 && s.hasCorrection[channel];
    if (gain)
        *gain = has ? s.correctionGain[channel] : 1.0;
    if (offset)
        *offset = has ? s.correctionOffset[channel] : 0.0;
    return has ? 0 : -1;
}

namespace {
TKalvex*& probeLink(int channel)
{
    auto& l = setupLinks();
    switch (channel) {
    case 1: return l.smartProbeCh2;
    case 2: return l.smartProbeCh3;
    case 3: return l.smartProbeCh4;
    default: return l.smartProbeCh1;
    }
}
} // namespace

int LectureKalvex(int16_t channel, database*)
{
    auto& s = kalvexStandin();
    s.lectureCalls.push_back(channel);
    if (channel < 0 || channel > 3)
        return 2;
    TKalvex*& link = probeLink(channel);
    int result;
    if (s.probeId[channel] != 0) {
        if (!link)
            link = new TKalvex(static_cast<unsigned short>(channel));
        result = 0;
    } else {
        delete link;
        link = nullptr;
        result = 2;
    }
    return s.forcedResult[channel] >= 0 ? s.forcedResult[channel] : result;
}
