// Stand-in for the board logic until the simulated FPGA board exists: records the calls.
#include "hardware/CmdesBase.h"
#include "hardware/CmdesBase_standin.h"

TCmdesBaseStandin& cmdesBaseStandin()
{
    static auto* s = new TCmdesBaseStandin();
    return *s;
}

void resetCmdesBaseStandin()
{
    cmdesBaseStandin() = TCmdesBaseStandin();
}

int CmdeLogique(TCmdeLogiqueIdentifier id, uint32_t value)
{
    cmdesBaseStandin().cmdeLogiqueCalls.emplace_back(static_cast<int>(id), value);
    return 0;
}

int EtatLogique(TEtatLogiqueIdentifier id)
{
    auto& s = cmdesBaseStandin();
    s.etatLogiqueCalls.push_back(static_cast<int>(id));
    return id == ETAT_TWO_CHANNEL_MODEL ? s.twoChannelModel : 0;
}

void BaseInit(int16_t again)
{
    cmdesBaseStandin().baseInitCalls.push_back(again);
}

void EconomiseurEcran(bool on)
{
    cmdesBaseStandin().economiseurCalls.push_back(on);
}

void CmdeAnalogique(TCmdeAnalogiqueIdentifier id, uint16_t value)
{
    cmdesBaseStandin().cmdeAnalogiqueCalls.emplace_back(static_cast<int>(id), value);
}
