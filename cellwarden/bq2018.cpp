#include "cellwarden/bq2018.h"

#include "board/deviceio.h"
#include "cellwarden/bq34z100.h"
#include "cellwarden/hdq.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

uint8_t* recordBytes(ggData_t& d) { return reinterpret_cast<uint8_t*>(&d); }
const uint8_t* recordBytes(const ggData_t& d) { return reinterpret_cast<const uint8_t*>(&d); }

// A record is usable only when it sums to the marker and its two divisors are not zero.
bool recordValid(const ggData_t& d, uint8_t sum)
{
    return sum == kGgMarker && gg16(d.iLastMeasDsg) != 0 && gg16(d.iSLF_DSG_RATE) != 0;
}

void addGg16(uint8_t (&f)[2], uint32_t v) { setGg16(f, gg16(f) + v); }

} // namespace

BQ2018::BQ2018() { b_i_batEmpty = false; }

double BQ2018::now() const
{
    if (clock)
        return clock();
    return static_cast<double>(std::time(nullptr));
}

uint8_t BQ2018::readByte(uint8_t reg)
{
    const uint8_t v = hdqBus().readByte(reg);
    complete_ = complete_ && hdqBus().lastReadComplete();
    return v;
}

unsigned short BQ2018::ReadWordRegister(unsigned char uc_a_registerAddress)
{
    const uint16_t v = hdqBus().readWord(uc_a_registerAddress);
    complete_ = complete_ && hdqBus().lastReadComplete();
    return v;
}

uint8_t BQ2018::GgDataChecksum() const
{
    uint8_t sum = 0;
    const uint8_t* b = recordBytes(s_l_gg_data);
    for (size_t k = 0; k < sizeof(ggData_t); ++k)
        sum = static_cast<uint8_t>(sum + b[k]);
    return sum;
}

void BQ2018::ReadGgData()
{
    uint8_t* b = recordBytes(s_l_gg_data);
    for (size_t k = 0; k < sizeof(ggData_t); ++k)
        b[k] = readByte(static_cast<uint8_t>(0x02 + k));
}

void BQ2018::WriteGgData()
{
    s_l_gg_data.checksum = 0;
    s_l_gg_data.checksum = static_cast<uint8_t>(kGgMarker - GgDataChecksum());
    const uint8_t* b = recordBytes(s_l_gg_data);
    for (size_t k = 0; k < sizeof(ggData_t); ++k)
        hdqBus().writeByte(static_cast<uint8_t>(0x02 + k), b[k]);
}

void BQ2018::InitGgData()
{
    ggData_t& d = s_l_gg_data;
    setGg16(d.iLastMeasDsg, 46400);
    setGg16(d.iRemCap, 46400);
    setGg16(d.iDES_CAP, 46400);
    setGg16(d.iSLF_DSG_RATE, 740);
    setGg16(d.iEND_DSG_VLTG, 10000);
    setGg16(d.iCycleCnt, 0);
    setGg16(d.iMaxTemp, 0);
    d.iValidDsg = 0;
    setGg16(d.iDsgCntr, 0);
    setGg16(d.iDsgCntrCuml, 0);
    setGg16(d.iLastRemCap, 0);
    setGg16(d.iCumlCorrectn, 0);
    WriteGgData();
}

std::string BQ2018::ggDataText(const ggData_t& d)
{
    const struct {
        const char* label;
        unsigned value;
    } rows[] = {
        {"Last measured discharge: ", gg16(d.iLastMeasDsg)},
        {"\r\nRemaining capacity: ", gg16(d.iRemCap)},
        {"\r\nCycle count: ", gg16(d.iCycleCnt)},
        {"\r\nMax temp seen by this BQ2018: ", gg16(d.iMaxTemp)},
        {"\r\nValid discharge flag: ", d.iValidDsg},
        {"\r\nDischarge counter for learning a new iLastMeasDsg: ", gg16(d.iDsgCntr)},
        {"\r\nCumulative discharge counter tracks partial discharges for iCycleCount update: ",
         gg16(d.iDsgCntrCuml)},
        {"\r\nLast computed remaining capacity value: ", gg16(d.iLastRemCap)},
        {"\r\nTracks cumulative self-discharge corrections: ", gg16(d.iCumlCorrectn)},
        {"\r\nPack design capacity (milliampere hours): ", gg16(d.iDES_CAP)},
        {"\r\nSel discharge rate (% / day * 105.8): ", gg16(d.iSLF_DSG_RATE)},
        {"\r\nEnd discharge voltage (millivolt): ", gg16(d.iEND_DSG_VLTG)},
    };
    std::string text;
    for (const auto& r : rows)
        text += r.label + std::to_string(r.value);
    return text + "\r\n";
}

void BQ2018::WriteGgDataToFile()
{
    const int fd = deviceIO().open(kGgDataFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string text = ggDataText(s_l_gg_data);
    deviceIO().write(fd, text.data(), text.size());
    deviceIO().close(fd);
}

void BQ2018::GgInitialize()
{
    start_time = now();
    complete_ = true;
    ReadGgData();
    WriteGgDataToFile();
    if (!recordValid(s_l_gg_data, GgDataChecksum()))
        InitGgData();
    iCYCL_CAP = static_cast<uint32_t>(gg16(s_l_gg_data.iDES_CAP)) * 8;
    iChgTime = ReadWordRegister(0x76);
    iDsgTime = ReadWordRegister(0x78);
    iTimeSinceMaint = ((iChgTime + iDsgTime) * 60) / 4096;
    bInit = kGgMarker;
    // The stored flag is consumed here; the run-time flag always starts cleared.
    if (s_l_gg_data.iValidDsg == kGgMarker)
        s_l_gg_data.iValidDsg = 0;
    bEDV = bChgFull = iValidDsgRam = 0;
    iTempCorrection = 0;
    fElapsedTime = fElapsedTimePrev = 0;
    iRemCapNow = gg16(s_l_gg_data.iRemCap);
}

void BQ2018::GgRegisterMaint()
{
    iTimeSinceMaint = 0;
    iRegClr = 27;
    if (iRemCapNow > 0) {
        iSlfDsgCntr = ReadWordRegister(0x7A);
        if (iSlfDsgCntr >= gg16(s_l_gg_data.iSLF_DSG_RATE))
            GgSelfDischarge();
    }
}

void BQ2018::GgSelfDischarge()
{
    ggData_t& d = s_l_gg_data;
    const uint32_t lastMeas = gg16(d.iLastMeasDsg);
    iRemCapTemp = iRemCapNow < 0 ? 0 : std::min(static_cast<uint32_t>(iRemCapNow), lastMeas);
    complete_ = true;
    uint32_t count = ReadWordRegister(0x7A);
    // A lost answer skips this maintenance rather than correcting by a garbage count.
    if (!complete_)
        return;
    const uint32_t rate = gg16(d.iSLF_DSG_RATE);
    uint32_t amount = 0;
    while (count >= rate) {
        const uint32_t step = iRemCapTemp >> 9;
        iTempCorrection += step;
        amount += step;
        iRemCapTemp -= step;
        count -= rate;
    }
    iSlfDsgCntr = count;
    // Only the steps of this call: the running total would correct the same loss again.
    iRemCapNow -= static_cast<int32_t>(amount);
    iDsgCntr += amount;
    addGg16(d.iDsgCntrCuml, amount);
    addGg16(d.iCumlCorrectn, amount);
    iRegClr += 4;
}

int32_t BQ2018::GgUpdate(bool b_a_testFullCharge)
{
    ggData_t& d = s_l_gg_data;
    b_i_batEmpty = false;
    complete_ = true;
    const uint32_t chg = ReadWordRegister(0x7C);
    const uint32_t dsg = ReadWordRegister(0x7E);
    const uint8_t temp = readByte(0x74);
    if (!complete_) {
        // A gauge that lost an answer changes nothing; the previous level stands.
        return signedLevel(lastPercent_, ChargerConnected);
    }
    iChgCntr = chg;
    iDsgCntr = dsg;
    iKelvin = static_cast<uint32_t>(temp >> 5) * 10 + 268;
    if (iKelvin > gg16(d.iMaxTemp))
        setGg16(d.iMaxTemp, iKelvin);

    fElapsedTimePrev = fElapsedTime;
    fElapsedTime = static_cast<float>((now() - start_time) / 60.0);
    const float delta = fElapsedTime - fElapsedTimePrev;

    iRemCapPrev = iRemCapNow;
    iRemCapNow = static_cast<int32_t>(iChgCntr) + static_cast<int32_t>(gg16(d.iRemCap)) -
                 static_cast<int32_t>(iDsgCntr);
    bChgFull = 0;
    const uint32_t lastMeas = gg16(d.iLastMeasDsg);
    if (iRemCapNow < iRemCapPrev) {
        const uint32_t fell = static_cast<uint32_t>(iRemCapPrev - iRemCapNow);
        iDsgCntr += fell;
        addGg16(d.iDsgCntrCuml, fell);
        if (gg16(d.iDsgCntrCuml) >= iCYCL_CAP) {
            setGg16(d.iDsgCntrCuml, gg16(d.iDsgCntrCuml) - iCYCL_CAP);
            addGg16(d.iCycleCnt, 1);
        }
        if (bInit != kGgMarker) {
            iTimeSinceMaint = static_cast<uint32_t>(static_cast<float>(iTimeSinceMaint) + delta);
            if (iRemCapNow <= 0)
                iRemCapNow = 0;
        }
    } else {
        if (bInit != kGgMarker)
            iTimeSinceMaint = static_cast<uint32_t>(static_cast<float>(iTimeSinceMaint) + delta);
        if (iRemCapNow > iRemCapPrev + 1) {
            if (iRemCapNow < static_cast<int32_t>(lastMeas))
                iValidDsgRam = 0;
            else
                iRemCapNow = static_cast<int32_t>(lastMeas);
        } else if (b_a_testFullCharge && ChargerConnected) {
            bChgFull = kGgMarker;
        }
    }

    if (iTimeSinceMaint >= 60)
        GgRegisterMaint();

    const uint32_t desCap = gg16(d.iDES_CAP);
    if (iKelvin <= 282 || static_cast<double>(gg16(d.iCumlCorrectn)) > desCap * 0.1)
        iValidDsgRam = 0;

    const uint32_t endVoltage = gg16(d.iEND_DSG_VLTG);
    if (bChgFull == kGgMarker) {
        iRegClr = 31;
        iTimeSinceMaint = 0;
        iRemCapNow = static_cast<int32_t>(lastMeas);
        setGg16(d.iCumlCorrectn, 0);
        if (iValidDsgRam != kGgMarker) {
            iValidDsgRam = kGgMarker;
            setGg16(d.iRemCap, lastMeas);
            iDsgCntr = 0;
            setGg16(d.iDsgCntrCuml, 0);
        }
        hdqBus().writeByte(0x74, 0x1F);
        iRegClr = 0;
    } else if (us_c_vBat >= endVoltage) {
        if (iRemCapNow <= 0) {
            iRemCapNow = 0;
            setGg16(d.iRemCap, 0);
            hdqBus().writeByte(0x74, 0x1F);
            iRegClr = 0;
        } else if (iRegClr != 0) {
            setGg16(d.iRemCap, static_cast<uint32_t>(iRemCapNow));
            hdqBus().writeByte(0x74, static_cast<uint8_t>(iRegClr));
            iRegClr = 0;
        }
    } else if (bEDV != kGgMarker) {
        iRemCapNow = 0;
        iTimeSinceMaint = 0;
        bEDV = kGgMarker;
        if (iValidDsgRam == kGgMarker) {
            iDsgCntr += static_cast<uint32_t>(iRemCapPrev);
            const uint16_t sum = static_cast<uint16_t>(iDsgCntr);
            const uint16_t tenth = static_cast<uint16_t>(desCap / 10);
            const uint16_t low = static_cast<uint16_t>(desCap - tenth);
            const uint16_t high = static_cast<uint16_t>(desCap + tenth);
            if (sum > low && sum < high)
                setGg16(d.iLastMeasDsg, sum);
        }
        setGg16(d.iRemCap, 0);
        hdqBus().writeByte(0x74, 0x1F);
        iRegClr = 0;
        b_i_batEmpty = true;
    }

    // The divisor is never 0 (such a record is replaced at start); the level stays within
    // 0..100 so that the sign keeps meaning wall power.
    const uint32_t divisor = gg16(d.iLastMeasDsg) ? gg16(d.iLastMeasDsg) : 1;
    int64_t level = static_cast<int64_t>(iRemCapNow) * 100 / static_cast<int64_t>(divisor);
    level = level < 0 ? 0 : level > 100 ? 100 : level;
    bInit = 0;
    lastPercent_ = static_cast<int32_t>(level);
    const int32_t result = signedLevel(lastPercent_, ChargerConnected);
    iRelChgPercent = static_cast<uint32_t>(result);
    return result;
}

void BQ2018::GgPwrDwnSave()
{
    setGg16(s_l_gg_data.iLastRemCap, static_cast<uint32_t>(iRemCapNow));
    if (iValidDsgRam == kGgMarker)
        s_l_gg_data.iValidDsg = kGgMarker;
    WriteGgData();
}

void BQ2018::GgMeasBattVltg()
{
    if (us_c_vBat <= gg16(s_l_gg_data.iEND_DSG_VLTG))
        GgUpdate(false);
}
