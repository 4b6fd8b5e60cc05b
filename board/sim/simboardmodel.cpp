// The board around the FPGA: register-20 outputs, GPIO lines, the buzzer LED and the backlight.
#include "board/sim/simstate.h"

#include "board/board.h"

#include <cstdlib>

namespace simboard {

namespace {

constexpr int kFpgaResetLine = 145;   // the FPGA's configuration reset

bool parseInteger(const std::string& text, long* out)
{
    const char* s = text.c_str();
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (end == s)
        return false;
    while (*end == '\n' || *end == ' ')
        ++end;
    if (*end != '\0')
        return false;
    *out = v;
    return true;
}

std::string trimmed(const std::string& text)
{
    size_t n = text.size();
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == ' '))
        --n;
    return text.substr(0, n);
}

} // namespace

int TSimBoard::gpioInput(int line) const
{
    for (const auto& g : scenario.gpioInputs)  // an explicit scenario line wins
        if (g.first == line)
            return g.second ? 1 : 0;
    switch (line) {
    case 164: return scenario.model == 2 ? 1 : 0;
    case 106: return (scenario.boardCode & 2) ? 0 : 1;
    case 8: return (scenario.boardCode & 1) ? 0 : 1;
    case 161: return (scenario.bandwidthLines >> 1) & 1;
    case 160: return scenario.bandwidthLines & 1;
    case 147: return fpgaConfigured() ? 1 : 0;
    default: return scenarioLineLevel(scenario, line);
    }
}

int TSimBoard::gpioLevel(int line) const
{
    // Lines shared with the companion programs live in their files under the root.
    if (isSharedLine(line) && !boardRoot().empty()) {
        const int level = sharedLineFileLevel(line);
        return lineSeen[line] = level >= 0 ? level : gpioInput(line);
    }
    auto it = gpioOutputs.find(line);
    return it != gpioOutputs.end() ? it->second : gpioInput(line);
}

std::string TSimBoard::sysfsText(const TVFile& f) const
{
    switch (f.node) {
    case TSysfsNode::GpioValue: return gpioLevel(f.gpio) ? "1\n" : "0\n";
    case TSysfsNode::GpioEdge: {
        auto it = gpioEdges.find(f.gpio);
        return (it != gpioEdges.end() ? it->second : std::string("none")) + "\n";
    }
    case TSysfsNode::LedBrightness: return ledBrightness + "\n";
    case TSysfsNode::LedTrigger: return ledTrigger + "\n";
    case TSysfsNode::BlPower: return blPower + "\n";
    case TSysfsNode::BlBrightness: return blBrightness + "\n";
    }
    return std::string();
}

bool TSimBoard::sysfsWrite(TVFile& f, const std::string& text)
{
    std::string value = trimmed(text);
    long n = 0;
    bool ok = true;
    int resetBefore = -1, resetAfter = -1;
    switch (f.node) {
    case TSysfsNode::GpioValue:
        ok = parseInteger(value, &n);
        if (ok) {
            if (f.gpio == kFpgaResetLine) {
                auto it = gpioOutputs.find(f.gpio);
                resetBefore = it != gpioOutputs.end() ? it->second : 1;  // undriven: pulled high
                resetAfter = n != 0 ? 1 : 0;
            }
            if (isSharedLine(f.gpio) && !boardRoot().empty())
                ok = writeSharedLineFile(f.gpio, n != 0 ? 1 : 0);
            else
                gpioOutputs[f.gpio] = n != 0 ? 1 : 0;
            lineSeen[f.gpio] = n != 0 ? 1 : 0;
        }
        break;
    case TSysfsNode::GpioEdge:
        ok = value == "none" || value == "rising" || value == "falling" || value == "both";
        if (ok)
            gpioEdges[f.gpio] = value;
        break;
    case TSysfsNode::LedBrightness:
        ok = parseInteger(value, &n) && n >= 0;
        if (ok)
            ledBrightness = std::to_string(n > 255 ? 255 : n);
        break;
    case TSysfsNode::LedTrigger:
        ledTrigger = value;
        break;
    case TSysfsNode::BlPower:
        ok = parseInteger(value, &n) && n >= 0 && n <= 4;
        if (ok)
            blPower = std::to_string(n);
        break;
    case TSysfsNode::BlBrightness:
        ok = parseInteger(value, &n) && n >= 0;
        if (ok)
            blBrightness = std::to_string(n);
        break;
    }

    TLogEntry& e = addLog(TLogKind::Sysfs);
    e.text = f.path + " " + text + (ok ? "" : " (rejected)");
    if (ok) {
        if (sysfsHistory.size() >= kHistoryLimit)
            sysfsHistory.erase(sysfsHistory.begin(), sysfsHistory.begin() + kHistoryLimit / 10);
        sysfsHistory.push_back(TSysfsWrite{nowNs(), f.path, text});
    }
    if (resetBefore >= 0)
        fpgaResetLine(resetBefore, resetAfter);
    return ok;
}

void TSimBoard::writeReg20(uint32_t value)
{
    constexpr uint32_t kPulse = 1u << 24;
    if ((value & kPulse) && !(spi[20] & kPulse))
        ++pulse24Count;
    spi[20] = value;
    if (reg20History.size() >= kHistoryLimit)
        reg20History.erase(reg20History.begin(), reg20History.begin() + kHistoryLimit / 10);
    reg20History.push_back(TTimed<uint32_t>{nowNs(), value});
}

} // namespace simboard
