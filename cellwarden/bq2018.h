// The bq2018 charge counter and the gas-gauge arithmetic that turns its counts into a level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The learned values kept in the gauge's RAM (registers 0x02..0x1B, byte k at 0x02 + k),
// 16-bit fields little-endian. Padding bytes keep what was read: they count in the checksum.
struct ggData_t {
    uint8_t iLastMeasDsg[2];
    uint8_t iRemCap[2];
    uint8_t iCycleCnt[2];
    uint8_t iMaxTemp[2];
    uint8_t iValidDsg;
    uint8_t pad9;
    uint8_t iDsgCntr[2];
    uint8_t iDsgCntrCuml[2];
    uint8_t iLastRemCap[2];
    uint8_t iCumlCorrectn[2];
    uint8_t iDES_CAP[2];
    uint8_t iSLF_DSG_RATE[2];
    uint8_t iEND_DSG_VLTG[2];
    uint8_t checksum;
    uint8_t pad25;
};
static_assert(sizeof(ggData_t) == 26, "gauge record is 26 bytes");
static_assert(offsetof(ggData_t, iValidDsg) == 8 && offsetof(ggData_t, iDsgCntr) == 10 &&
                  offsetof(ggData_t, iLastRemCap) == 14 && offsetof(ggData_t, iDES_CAP) == 18 &&
                  offsetof(ggData_t, iSLF_DSG_RATE) == 20 && offsetof(ggData_t, iEND_DSG_VLTG) == 22 &&
                  offsetof(ggData_t, checksum) == 24 && offsetof(ggData_t, pad25) == 25,
              "gauge record layout");

inline uint16_t gg16(const uint8_t (&f)[2]) { return static_cast<uint16_t>(f[0] | f[1] << 8); }
// Stores the value wrapped to 16 bits.
inline void setGg16(uint8_t (&f)[2], uint32_t v)
{
    f[0] = static_cast<uint8_t>(v);
    f[1] = static_cast<uint8_t>(v >> 8);
}

constexpr uint8_t kGgMarker = 0x55;
constexpr const char* kGgDataFile = "/var/tmp/ggdata.txt";

class BQ2018 {
public:
    bool ChargerConnected = false;
    bool b_i_batEmpty = false;
    uint8_t bChgFull = 0;
    double start_time = 0;
    ggData_t s_l_gg_data{};
    uint32_t iCYCL_CAP = 0;
    uint32_t iChgTime = 0;
    uint32_t iDsgTime = 0;
    uint32_t iChgCntr = 0;
    uint32_t iDsgCntr = 0;
    uint32_t iSlfDsgCntr = 0;
    uint32_t iKelvin = 0;
    uint32_t iRegClr = 0;
    uint32_t iTimeSinceMaint = 0;
    uint32_t iRelChgPercent = 0;
    uint8_t bInit = 0;
    uint8_t bEDV = 0;
    uint8_t iValidDsgRam = 0;
    int32_t iRemCapNow = 0;
    int32_t iRemCapPrev = 0;
    uint32_t iRemCapTemp = 0;
    uint32_t iTempCorrection = 0;
    float fElapsedTime = 0;
    float fElapsedTimePrev = 0;
    uint16_t us_c_vBat = 0;

    // Seconds; the board layer's clock unless a test or the daemon installs another.
    std::function<double()> clock;

    BQ2018();
    ~BQ2018() {}
    void GgInitialize();
    int32_t GgUpdate(bool b_a_testFullCharge);
    void GgPwrDwnSave();
    void SetBatteryVoltage(unsigned short us_a_vBat) { us_c_vBat = us_a_vBat; }
    void GgMeasBattVltg();
    unsigned short ReadWordRegister(unsigned char uc_a_registerAddress);

    uint8_t GgDataChecksum() const;
    void ReadGgData();
    void WriteGgData();
    void InitGgData();
    void GgRegisterMaint();
    void GgSelfDischarge();
    void WriteGgDataToFile();
    // The record's text form as written to ggdata.txt.
    static std::string ggDataText(const ggData_t& d);

private:
    bool complete_ = true;
    int32_t lastPercent_ = 0;  // magnitude of the last complete update
    double now() const;
    uint8_t readByte(uint8_t reg);
};
