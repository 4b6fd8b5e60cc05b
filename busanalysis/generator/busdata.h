// The bus data from which the built-in descriptors are derived: one row per bus family, figures
// from the buses' physical-layer standards. Kept in this one place for review; busgen.cpp turns
// each variant into a descriptor.
#pragma once

#include <vector>

namespace busdata {

// One level measurement of a step, in volts at the bus.
struct TLevel {
    const char* name;
    int id;         // measurement identifier
    double min;     // kNone: no lower limit
    double max;     // kNone: no upper limit
    int channel;    // 0 channel 1, 3 channel 4
    bool top;       // taken while the signal's high part fills the record (trigger slope 0)
    bool acSignal;  // a small signal riding on a supply: measured AC-coupled
};

// One file of a family.
struct TVariant {
    const char* file;      // without its leading '/' and ".bus"
    const char* rate;      // for the title
    double bitRate;        // bit/s (baud for the three-level codes)
    double edgeMin;        // 10-90 % transition limits, s; kNone: none
    double edgeMax;
    bool small;            // the inf4V variants: one sensitivity step finer
    bool fftNoise;         // the noise variant: an FFT band step instead of the timing steps
};

constexpr double kNone = 1e300;

struct TFamily {
    const char* icon;
    const char* bus;        // title before the at-sign (the variant's rate follows)
    const char* standard;   // title after the at-sign
    const char* comment;
    int typeCodage;
    const char* wire1;      // what channel 1 measures
    const char* wire4;      // what channel 4 measures, or null
    std::vector<TLevel> levels;
    bool overshoot;         // overshoot steps
    double overshootMax;    // percent, kNone: no limit
    std::vector<int> levelDiag;
    std::vector<int> edgeDiag;
    std::vector<int> timingDiag;
    std::vector<int> overshootDiag;
    std::vector<TVariant> variants;
};

inline const std::vector<TFamily>& families()
{
    static const std::vector<TFamily> table = {
        {"can", "CAN HS", "ISO 11898-2", "High-speed CAN, differential two-wire bus", 0, "CAN-H - CAN-L", "CAN-H",
         {{"Vdiff Dom", 0x1040, 1.2, 3.0, 0, true, false},
          {"Vdiff Rec", 0x1030, -0.12, 0.05, 0, false, false},
          {"VCanH Dom", 0x1040, -0.8, 7.0, 3, true, false},
          {"VCanH Rec", 0x1030, -2.12, 7.0, 3, false, false}},
         true, kNone, {1, 3, 2, 4}, {5, 8}, {5, 8, 4}, {10, 1, 4},
         {{"CanHS_1Mbps", "1 Mbps", 1e6, kNone, 156e-9, false, false},
          {"CanHS_400kbps", "400 kbps", 400e3, kNone, 390e-9, false, false}}},
        {"can", "CAN LS", "ISO 11898-3", "Low-speed fault-tolerant CAN", 0, "CAN-H - CAN-L", "CAN-H",
         {{"Vdiff Dom", 0x1040, 2.2, 5.0, 0, true, false},
          {"Vdiff Rec", 0x1030, -5.2, -4.0, 0, false, false},
          {"VCanH Dom", 0x1040, 3.6, 5.0, 3, true, false}},
         true, kNone, {1, 3, 6, 7}, {5, 2}, {5, 4}, {10, 1, 4},
         {{"CanLS_125Kbps", "125 kbps", 125e3, kNone, 1e-6, false, false}}},
        {"rs485", "RS485", "TIA-485-A", "Differential multipoint serial bus", 0, "A - B", nullptr,
         {{"Vdiff High", 0x1040, 1.5, 5.0, 0, true, false}, {"Vdiff Low", 0x1030, -5.0, -1.5, 0, false, false}},
         true, kNone, {1, 11, 3, 13}, {5, 2, 10}, {4, 3}, {8, 9},
         {{"RS485_9600bps", "9600 bps", 9600, kNone, 0.3 / 9600, false, false},
          {"RS485_19200bps", "19200 bps", 19200, kNone, 0.3 / 19200, false, false},
          {"RS485_10Mbps", "10 Mbps", 10e6, kNone, 0.3 / 10e6, false, false},
          {"RS485_inf4V_9600bps", "9600 bps inf4V", 9600, kNone, 0.3 / 9600, true, false},
          {"RS485_inf4V_19200bps", "19200 bps inf4V", 19200, kNone, 0.3 / 19200, true, false},
          {"RS485_inf4V_10Mbps", "10 Mbps inf4V", 10e6, kNone, 0.3 / 10e6, true, false}}},
        {"rs485", "Profibus DP", "IEC 61158-2", "Profibus DP on RS-485", 0, "B - A", nullptr,
         {{"Vdiff High", 0x1040, 1.5, 5.0, 0, true, false}, {"Vdiff Low", 0x1030, -5.0, -1.5, 0, false, false}},
         true, kNone, {1, 11, 3, 13}, {5, 2, 10}, {4, 3}, {8, 9},
         {{"ProfibusDP_12Mbps", "12 Mbps", 12e6, kNone, 25e-9, false, false},
          {"ProfibusDP_inf4V_12Mbps", "12 Mbps inf4V", 12e6, kNone, 25e-9, true, false}}},
        {"rs232", "RS232", "TIA-232-F", "Single-ended point-to-point serial line", 0, "TxD", nullptr,
         {{"V Space", 0x1040, 5.0, 15.0, 0, true, false}, {"V Mark", 0x1030, -15.0, -5.0, 0, false, false}},
         false, kNone, {13, 3, 5}, {5, 2}, {4}, {},
         {{"RS232_9600bps", "9600 bps", 9600, kNone, 0.04 / 9600, false, false},
          {"RS232_115200bps", "115200 bps", 115200, kNone, 0.04 / 115200, false, false}}},
        {"lin", "LIN", "ISO 17987-4", "Single-wire LIN bus", 0, "LIN", nullptr,
         {{"V Rec", 0x1040, 9.6, 18.0, 0, true, false}, {"V Dom", 0x1030, 0.0, 2.4, 0, false, false}},
         false, kNone, {12, 11, 3, 6}, {5, 2, 11}, {4, 3}, {},
         {{"LIN_19200bps", "19200 bps", 19200, kNone, 10e-6, false, false}}},
        {"arinc", "ARINC 429 send", "ARINC 429", "Transmitter output, bipolar return-to-zero", 7, "A - B", nullptr,
         {{"V HI", 0x1040, 9.0, 11.0, 0, true, false},
          {"V NULL", 0x4850, -0.5, 0.5, 0, true, false},
          {"V LO", 0x1030, -11.0, -9.0, 0, false, false}},
         false, kNone, {13, 3, 1}, {5, 10}, {4, 3}, {},
         {{"Arinc429_send_100kbps", "100 kbps", 100e3, 1.0e-6, 2.0e-6, false, false},
          {"Arinc429_send_12-5kbps", "12.5 kbps", 12.5e3, 5e-6, 15e-6, false, false}}},
        {"arinc", "ARINC 429 receive", "ARINC 429", "Receiver input, bipolar return-to-zero", 7, "A - B", nullptr,
         {{"V HI", 0x1040, 6.5, 13.0, 0, true, false},
          {"V NULL", 0x4850, -2.5, 2.5, 0, true, false},
          {"V LO", 0x1030, -13.0, -6.5, 0, false, false}},
         false, kNone, {5, 3, 1}, {5, 10}, {4, 3}, {},
         {{"Arinc429_rec_100kbps", "100 kbps", 100e3, 1.0e-6, 2.0e-6, false, false},
          {"Arinc429_rec_12-5kbps", "12.5 kbps", 12.5e3, 5e-6, 15e-6, false, false}}},
        {"mil-std-1553", "MIL-STD-1553 direct", "MIL-STD-1553B", "Direct-coupled stub, Manchester II", 2, "bus", nullptr,
         {{"V pk-pk", 0x1020, 6.0, 9.0, 0, true, false}},
         false, kNone, {1, 13, 5}, {5, 10}, {4, 3}, {},
         {{"mil-std-1553_direct", "1 Mbps", 1e6, 100e-9, 300e-9, false, false},
          {"mil-std-1553_direct_inf4V", "1 Mbps inf4V", 1e6, 100e-9, 300e-9, true, false}}},
        {"mil-std-1553", "MIL-STD-1553 transfo", "MIL-STD-1553B", "Transformer-coupled stub, Manchester II", 2, "bus",
         nullptr, {{"V pk-pk", 0x1020, 18.0, 27.0, 0, true, false}},
         false, kNone, {1, 13, 5}, {5, 10}, {4, 3}, {},
         {{"mil-std-1553_transfo", "1 Mbps", 1e6, 100e-9, 300e-9, false, false},
          {"mil-std-1553_transfo_inf4V", "1 Mbps inf4V", 1e6, 100e-9, 300e-9, true, false}}},
        {"ethernet", "Ethernet 10BASE-T", "IEEE 802.3", "Twisted-pair Ethernet, Manchester", 2, "TD+ - TD-", nullptr,
         {{"V peak+", 0x1010, 2.2, 2.8, 0, true, false}, {"V peak-", 0x1000, -2.8, -2.2, 0, false, false}},
         false, kNone, {1, 5, 13}, {}, {4, 3}, {},
         {{"Ethernet_10baseT", "10 Mbps", 10e6, kNone, kNone, false, false}}},
        {"ether100baseT", "Ethernet 100BASE-TX", "IEEE 802.3", "Twisted-pair Fast Ethernet, MLT-3", 7, "TD+ - TD-",
         nullptr,
         {{"V +1", 0x1040, 0.95, 1.05, 0, true, false},
          {"V 0", 0x4850, -0.05, 0.05, 0, true, false},
          {"V -1", 0x1030, -1.05, -0.95, 0, false, false}},
         true, 5.0, {1, 5, 13}, {5, 10}, {4, 3}, {8, 9},
         {{"Ethernet_100baseT", "125 MBd", 125e6, 3e-9, 5e-9, false, false}}},
        {"ether10base2", "Ethernet 10BASE2", "IEEE 802.3", "Thin coaxial Ethernet, Manchester", 2, "core", nullptr,
         {{"V low", 0x1000, -2.05, -1.7, 0, false, false}, {"V mean", 0x1080, -1.13, -0.93, 0, false, false}},
         false, kNone, {1, 9, 3, 13}, {5, 10}, {4, 3}, {},
         {{"Ethernet_10base2", "10 Mbps", 10e6, 20e-9, 30e-9, false, false}}},
        {"usb", "USB", "USB 2.0", "USB 2.0 low and full speed, NRZI", 1, "D+", "D-",
         {{"VD+ High", 0x1040, 2.8, 3.6, 0, true, false},
          {"VD+ Low", 0x1030, 0.0, 0.3, 0, false, false},
          {"VD- High", 0x1040, 2.8, 3.6, 3, true, false},
          {"VD- Low", 0x1030, 0.0, 0.3, 3, false, false}},
         false, kNone, {12, 3, 5}, {5, 2, 10}, {4, 3}, {},
         {{"USB_FullSpeed", "Full Speed", 12e6, 4e-9, 20e-9, false, false},
          {"USB_LowSpeed", "Low Speed", 1.5e6, 75e-9, 300e-9, false, false}}},
        {"flexray", "FlexRay", "ISO 17458-4", "Differential FlexRay channel", 0, "BP - BM", nullptr,
         {{"Vdiff Data_1", 0x1040, 0.6, 2.0, 0, true, false}, {"Vdiff Data_0", 0x1030, -2.0, -0.6, 0, false, false}},
         false, kNone, {1, 3, 7}, {5, 2, 10}, {4, 3}, {},
         {{"FlexRay_10Mbps", "10 Mbps", 10e6, kNone, 22.5e-9, false, false}}},
        {"profibusPA", "Profibus PA", "IEC 61158-2", "Manchester-coded current modulation on the supply", 2, "bus", nullptr,
         {{"V mean", 0x1080, 9.0, 32.0, 0, true, false}, {"V pk-pk", 0x1020, 0.75, 1.0, 0, true, true}},
         false, kNone, {12, 1, 5}, {5, 2}, {4, 3}, {},
         {{"ProfibusPA", "31.25 kbps", 31.25e3, kNone, 8e-6, false, false},
          {"ProfibusPA_Noise", "31.25 kbps noise", 31.25e3, kNone, kNone, false, true}}},
        {"as-i", "AS-i", "IEC 62026-2", "Alternating pulses on the supply line", 3, "AS-i+ - AS-i-", nullptr,
         {{"V mean", 0x1080, 26.5, 31.6, 0, true, false}},
         false, kNone, {12, 11}, {}, {4, 3}, {},
         {{"AS-I", "166.7 kbps", 166.7e3, kNone, kNone, false, false}}},
        {"knx", "KNX", "ISO/IEC 14543-3", "KNX TP1 twisted pair, pulse coding", 5, "bus", nullptr,
         {{"V mean", 0x1080, 21.0, 32.0, 0, true, false}},
         false, kNone, {12, 11}, {}, {4, 3}, {},
         {{"KNX", "9600 bps", 9600, kNone, kNone, false, false}}},
        {"dali", "DALI", "IEC 62386-101", "Lighting control bus, Manchester", 2, "DA+ - DA-", nullptr,
         {{"V High", 0x1040, 9.5, 22.5, 0, true, false}, {"V Low", 0x1030, -4.5, 4.5, 0, false, false}},
         false, kNone, {12, 11, 3}, {5, 2}, {4, 3}, {},
         {{"DALI", "1200 bps", 1200, 10e-6, 100e-6, false, false}}},
    };
    return table;
}

} // namespace busdata
