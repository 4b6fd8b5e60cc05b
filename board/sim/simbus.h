// Field-bus signal source of the simulated board: one bus per scenario, a repeating frame of
// bits with shaped edges, ringing, edge jitter and noise, read as a pure function of the
// simulated time (any instant, in any order, at constant cost) on its wires.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace simboard {

// Scenario key "bus" (board/sim/SCENARIO.txt).
struct TBusConfig {
    double bitRate = 500000;        // bit/s
    std::string coding = "nrz";     // "nrz" or "manchester" (a 1 moves from level 0 to level 1 at mid-bit)
    // The frame: a CAN base frame (canFrame) or the bits as written.
    bool canFrame = true;
    uint32_t canId = 0x123;
    std::vector<uint8_t> canData = {0x55, 0xAA, 0x0F, 0x81};
    std::string bits;               // '0' and '1'
    int idleBits = 16;              // recessive (value 1) bits after each frame
    // Volts of each wire for bit value 0 and for bit value 1 (CAN: 0 dominant).
    double high[2] = {3.5, 2.5};
    double low[2] = {1.5, 2.5};
    double edge0 = 60e-9;           // 10-90 % time of a transition into value 0, s
    double edge1 = 90e-9;           // ... into value 1
    double overshoot = 0.03;        // fraction of the step
    double ringFrequency = 25e6;    // Hz
    double ringDecay = 40e-9;       // time constant, s
    double jitter = 2e-9;           // rms of the edge instants, s
    double noise = 0.005;           // rms volts at the bus
    uint32_t seed = 1;
};

enum TBusWire { kBusDiff, kBusHigh, kBusLow };

namespace bus {

// The frame of a configuration expanded once.
struct TBusModel {
    TBusConfig config;
    std::vector<uint8_t> symbols;   // line value per symbol (a bit, or half a bit in Manchester)
    double symbolTime = 0;          // s
    double period = 0;              // s, the whole frame with its idle bits
    double edgeSigma[2] = {0, 0};   // Gaussian step width into value 0 and 1
    double jitterLimit = 0;         // an edge moves at most this far
    double ringSettled = 0;         // s after an edge beyond which its ring is negligible
    double mean[3] = {0, 0, 0};     // mean volts per wire over a period (AC coupling)
};

std::shared_ptr<const TBusModel> makeModel(const TBusConfig& config);
// Nominal volts of a wire for a line value.
double level(const TBusConfig& config, TBusWire wire, int value);
// Volts of a wire at t seconds.
double wireVolts(const TBusModel& model, TBusWire wire, double t);
// The bits of a CAN base data frame: SOF .. CRC stuffed, CRC delimiter, ACK slot driven
// dominant, ACK delimiter and seven EOF bits; no idle bits.
std::vector<uint8_t> canFrameBits(uint32_t id, const std::vector<uint8_t>& data);

} // namespace bus
} // namespace simboard
