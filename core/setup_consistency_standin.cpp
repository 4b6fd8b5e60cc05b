// Stand-in until the setup-consistency helpers exist: channelFlags is rebuilt from the shown,
// reference and memory flags; the rest only records (no zoom, cursor or power arithmetic).
#include "core/setup_consistency.h"
#include "core/setup_consistency_standin.h"

#include "core/gest_db.h"

TSetupConsistencyStandin& setupConsistencyStandin()
{
    static auto* s = new TSetupConsistencyStandin();
    return *s;
}

void resetSetupConsistencyStandin()
{
    setupConsistencyStandin() = TSetupConsistencyStandin();
}

void find_coeff()
{
    ++setupConsistencyStandin().findCoeffCalls;
}

void SetVoiesValides()
{
    ++setupConsistencyStandin().setVoiesValidesCalls;
    const uint8_t shown[4] = {data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4};
    const uint8_t refs[4] = {data.refShownCh1, data.refShownCh2, data.refShownCh3, data.refShownCh4};
    const uint8_t memories[4] = {data.memoryTraceCh1, data.memoryTraceCh2, data.memoryTraceCh3, data.memoryTraceCh4};
    uint16_t flags = 0;
    for (int n = 0; n < 4; ++n) {
        if (shown[n])
            flags |= 1u << n;
        if (refs[n])
            flags |= 0x10u << n;
        if (memories[n])
            flags |= 0x100u << n;
    }
    data.channelFlags = flags;
}

uint16_t GetMesureReference()
{
    ++setupConsistencyStandin().getMesureReferenceCalls;
    return static_cast<uint16_t>(data.measRefChannel);
}

void SetUserTimeBase(uint16_t index)
{
    setupConsistencyStandin().userTimeBaseCalls.push_back(index);
}

void SetCursorsInScreen(unsigned short state)
{
    setupConsistencyStandin().cursorsInScreenCalls.push_back(state);
}

void adjustHorizontalZoom()
{
    ++setupConsistencyStandin().adjustHorizontalZoomCalls;
}

void SetPowerFct(bool threePhase, database* db)
{
    setupConsistencyStandin().powerFctCalls.emplace_back(threePhase, db);
}
