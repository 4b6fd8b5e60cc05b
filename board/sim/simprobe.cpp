// Smart-probe images for the simulated board, built from a description. The layout and the
// checksum are the board's own copy of the probe-memory format, kept apart from the product's
// reader so that a layout mistake on either side shows up as a wrong reading.
#include "board/sim/simboard.h"
#include "board/sim/simstate.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace simboard {

namespace {

// Probe memory: id (2 bytes, big-endian) at 0; header (8) at 32; descriptor (244) at 288; user
// area (4104) at 800. Each area starts with a big-endian checksum of the rest of it.
constexpr size_t kImageSize = 4904;
constexpr size_t kHeaderAt = 32;
constexpr size_t kHeaderBytes = 8;
constexpr size_t kDescriptorAt = 288;
constexpr size_t kDescriptorBytes = 244;
constexpr size_t kUserAt = 800;
constexpr size_t kUserBytes = 4104;

struct TFieldPlace {
    const char* name;
    size_t offset;
    size_t size;
};
const TFieldPlace kFields[] = {
    {"input1", 4, 16},         {"input2", 20, 16},       {"floating1", 36, 16},
    {"floating2", 52, 16},     {"betweenChannels", 68, 16}, {"comment", 84, 104},
    {"bandwidthLimit", 188, 4}, {"sensitivity", 192, 8}, {"position", 200, 8},
    {"coupling", 208, 8},      {"unit", 216, 4},         {"coefficient", 220, 8},
    {"meterType", 228, 2},     {"meterCoupling", 230, 6}, {"meterRange", 236, 8},
};

const int kUsualColours[4] = {4, 2, 1, 5};

// Bitwise NOT of the wrapping byte sum.
uint32_t sum(const uint8_t* p, size_t n)
{
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i)
        s += p[i];
    return ~s;
}

void sealArea(uint8_t* area, size_t size, bool damaged)
{
    uint32_t c = sum(area + 4, size - 4);
    if (damaged)
        c ^= 0x5A;
    area[0] = static_cast<uint8_t>(c >> 24);
    area[1] = static_cast<uint8_t>(c >> 16);
    area[2] = static_cast<uint8_t>(c >> 8);
    area[3] = static_cast<uint8_t>(c);
}

TSimBoard& board()
{
    return TSimBoard::get();
}

} // namespace

bool TProbeDescription::operator==(const TProbeDescription& o) const
{
    return std::tie(id, colour, second, fields, hasCorrection, correction, correctionMarker, damage, expander, button) ==
           std::tie(o.id, o.colour, o.second, o.fields, o.hasCorrection, o.correction, o.correctionMarker, o.damage,
                    o.expander, o.button);
}

bool isProbeField(const std::string& name)
{
    return std::any_of(std::begin(kFields), std::end(kFields), [&](const TFieldPlace& f) { return name == f.name; });
}

std::vector<uint8_t> buildProbeImage(const TProbeDescription& d, int channel)
{
    std::vector<uint8_t> image(kImageSize, 0);
    image[0] = static_cast<uint8_t>(d.id >> 8);
    image[1] = static_cast<uint8_t>(d.id);

    uint8_t* header = image.data() + kHeaderAt;
    const int colour = d.colour >= 0 ? d.colour : kUsualColours[channel & 3];
    header[4] = static_cast<uint8_t>(colour);
    header[5] = static_cast<uint8_t>(d.second);
    sealArea(header, kHeaderBytes, d.damage == "header");

    uint8_t* descriptor = image.data() + kDescriptorAt;
    for (const TFieldPlace& f : kFields) {
        auto it = d.fields.find(f.name);
        if (it != d.fields.end())
            std::memcpy(descriptor + f.offset, it->second.data(), std::min(it->second.size(), f.size));
    }
    sealArea(descriptor, kDescriptorBytes, d.damage == "descriptor");

    uint8_t* user = image.data() + kUserAt;
    if (d.hasCorrection) {
        user[4] = 0x00;
        user[5] = d.correctionMarker ? 0x02 : 0x01;
        std::memcpy(user + 6, d.correction.data(), std::min(d.correction.size(), kUserBytes - 6));
    }
    sealArea(user, kUserBytes, d.damage == "userArea");
    return image;
}

void plugProbe(int channel, const TProbeDescription& description)
{
    if (channel < 0 || channel > 3)
        return;
    std::vector<uint8_t> mem(kProbeMemorySize, 0xFF);
    const std::vector<uint8_t> image = buildProbeImage(description, channel);
    std::copy(image.begin(), image.end(), mem.begin());
    std::lock_guard<std::mutex> lock(board().mu);
    board().plugProbe(channel, std::move(mem), description.expander);
    board().probeChips[channel].press(description.button);
    board().raisePanelFlag(channel + 1);
}

void pressProbeButton(int channel, int button)
{
    if (channel < 0 || channel > 3 || button < 1 || button > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().probeChips[channel].press(button);
    board().raisePanelFlag(channel + 1);
}

uint8_t probeExpanderConfiguration(int channel)
{
    if (channel < 0 || channel > 3)
        return 0xFF;
    std::lock_guard<std::mutex> lock(board().mu);
    return board().probeChips[channel].expanderConfig;
}

} // namespace simboard
