// Smart probes for tests: plugged into the simulated board and, when asked, read and linked to
// the setup as the controller would (header only; the test links the hardware library).
#pragma once

#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/kalvex.h"

#include <cstdint>
#include <memory>
#include <string>

inline simboard::TProbeDescription probeWithId(uint16_t id)
{
    simboard::TProbeDescription d;
    d.id = id;
    return d;
}

// A probe with a gain and offset correction ("<gain> x <offset>").
inline simboard::TProbeDescription correctedProbe(uint16_t id, double gain, double offset)
{
    simboard::TProbeDescription d = probeWithId(id);
    d.hasCorrection = true;
    d.correction = std::to_string(gain) + " x " + std::to_string(offset);
    return d;
}

// Plugs description into channel 0..3 of the simulated board and links a probe object read
// from it (no setup change); returns the link.
inline std::shared_ptr<TKalvex> linkProbe(int channel, const simboard::TProbeDescription& description)
{
    simboard::plugProbe(channel, description);
    auto probe = std::make_shared<TKalvex>(static_cast<unsigned short>(channel));
    setSmartProbeLink(channel, probe);
    return probe;
}

inline std::shared_ptr<TKalvex> linkProbe(int channel, uint16_t id)
{
    return linkProbe(channel, probeWithId(id));
}

// Unplugs every probe and clears every link.
inline void unplugAllProbes()
{
    for (int ch = 0; ch < 4; ++ch) {
        simboard::removeProbe(ch);
        setSmartProbeLink(ch, nullptr);
    }
}
