// Stand-in until the trace object exists: no samples; records the calls.
#include "acquisition/TAcquisition.h"
#include "acquisition/TAcquisition_standin.h"

#include "hardware/handshake.h"

TPassFailCounter TAcquisition::passFailCounter;
uint32_t* TAcquisition::Voie1Normalisee = nullptr;
uint32_t* TAcquisition::Voie2Normalisee = nullptr;
uint32_t* TAcquisition::Voie3Normalisee = nullptr;
uint32_t* TAcquisition::Voie4Normalisee = nullptr;
uint32_t* TAcquisition::VoieAuxNormalisee = nullptr;

TAcquisitionStandin& acquisitionTraceStandin()
{
    static auto* s = new TAcquisitionStandin();
    return *s;
}

void resetAcquisitionTraceStandin()
{
    acquisitionTraceStandin() = TAcquisitionStandin();
}

TAcquisition::TAcquisition(unsigned short id)
    : identifier(id)
{
}

TAcquisition& TAcquisition::operator=(const TAcquisition& other)
{
    // The copy runs while the acquisition is paused, as the real one does: a caller that
    // already suspended it gets through at once.
    AcqSuspend();
    TTraceCall call{TTraceCall::Assign, this, identifier, false};
    call.source = &other;
    acquisitionTraceStandin().calls.push_back(call);
    AcqResume(SYNCHRO_RESUME);
    return *this;
}

void TAcquisition::SetIdentifier(unsigned short id)
{
    identifier = id;
    switch (id) {
    case 1: case 256: channelIndex = 0; break;
    case 2: case 512: channelIndex = 1; break;
    case 4: case 1024: channelIndex = 2; break;
    case 8: case 2048: channelIndex = 3; break;
    case 8192: channelIndex = 8; break;
    default: channelIndex = -1; break;
    }
    acquisitionTraceStandin().calls.push_back({TTraceCall::SetIdentifier, this, id, false});
}

void TAcquisition::SetAcquisitionParametres(acq_ctrl* ctrl)
{
    acquisitionTraceStandin().calls.push_back({TTraceCall::SetAcquisitionParametres, this, identifier, ctrl == nullptr});
}

void TAcquisition::SetMesureParametres()
{
    acquisitionTraceStandin().calls.push_back({TTraceCall::SetMesureParametres, this, identifier, false});
}

void TAcquisition::RazSignalNormalise(bool all)
{
    TTraceCall call{TTraceCall::RazSignalNormalise, this, identifier, false};
    call.all = all;
    acquisitionTraceStandin().calls.push_back(call);
}

void TAcquisition::genPassFailMask(TAcquisition* source, float xTolerance, float yTolerance)
{
    TTraceCall call{TTraceCall::GenPassFailMask, this, identifier, false};
    call.source = source;
    call.xTolerance = xTolerance;
    call.yTolerance = yTolerance;
    acquisitionTraceStandin().calls.push_back(call);
}

double TAcquisition::SetHarmonicSampleRate(double rate)
{
    if (rate > 0.0)
        harmonicSamplingPeriod = 1.0 / rate;
    return harmonicSamplingPeriod;
}

double TAcquisition::GetHarmonicSamplingPeriod() const
{
    return harmonicSamplingPeriod;
}
