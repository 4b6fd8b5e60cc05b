// Smart probes: reading a probe's memory over the FPGA's I2C master and applying it to a setup.
#include "hardware/kalvex.h"

#include "core/checksum.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/scale.h"
#include "core/utilities.h"
#include "hardware/CmdesBase.h"
#include "hardware/fpga.h"

#include <QString>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

using namespace kalvex;

pthread_mutex_t o_g_probeBusMutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

// ---------------------------------------------------------------------------------------------
// Built-in descriptors

struct TBuiltIn {
    uint16_t id;
    const char* bandwidthLimit;
    const char* coupling;
    const char* unit;  // as the memory holds it: the degree sign is U+FFFD
    const char* coefficient;
    const char* meterType;
    const char* meterCoupling;
    const char* meterRange;
    const char* sensitivity;
    const char* position;
    const char* input1;
    const char* input2;
    const char* floating1;
    const char* floating2;
    const char* betweenChannels;
    const char* comment;  // its first 5 bytes: the short designation
};

#define DEG "\xEF\xBF\xBD"
// clang-format off
const TBuiltIn kBuiltIns[kBuiltInDescriptors] = {
    {0x0004, "",    "",   "V",      "",       "",  "",   "",  "",     "",
     "600V CAT II", "", "300V CAT II", "", "", "VP001 voltage probe"},
    {0x0005, "",    "",   "V",      "1.0",    "",  "",   "",  "",     "",
     "600V CAT II", "", "300V CAT II", "", "", "VP101 x1 voltage probe"},
    {0x8001, "",    "",   "V",      "10.0",   "",  "",   "",  "",     "",
     "300V CAT III", "", "300V CAT II", "", "", "VP110 x10 voltage probe"},
    {0x0006, "",    "",   "V{",     "1.0",    "",  "",   "",  "",     "",
     "600V CAT II", "600V CAT II", "", "", "", "VR101 voltage and resistance adapter"},
    {0x8002, "BL1", "",   "A",      "50.0",   "0", "DC", "",  "",     "",
     "600V CAT III", "", "", "", "", "CC050 current clamp 50 A"},
    {0x0007, "BL3", "DC", DEG "C",  "100.0",  "0", "DC", "1", "",     "",
     "30V max", "", "no floating", "", "", "TA007 temperature adapter"},
    {0x0009, "BL3", "DC", DEG "C",  "500.0",  "0", "DC", "1", "",     "",
     "30V max", "", "no floating", "", "", "TA009 temperature adapter"},
    {0x0024, "BL3", "DC", DEG "C",  "500.0",  "0", "DC", "1", "",     "",
     "30V max", "", "no floating", "", "", "TA024 temperature adapter"},
    {0x0015, "BL2", "AC", "A",      "2000.0", "0", "AC", "",  "",     "",
     "600V CAT III", "", "", "", "", "CC2K0 current clamp 2000 A"},
    {0x0016, "BL1", "AC", "A",      "200.0",  "0", "AC", "",  "",     "",
     "600V CAT III", "", "", "", "", "CC200 current clamp 200 A"},
    {0x0011, "BL3", "",   " ",      "1000.0", "",  "",   "",  "",     "",
     "1000V CAT II", "", "no floating", "", "", "HV1K0 high-voltage probe x1000"},
    {0x0008, "BL1", "DC", "A",      "0.04",   "",  "",   "",  "0.05", "-0.3",
     "30V max", "", "", "", "", "CS040 current shunt adapter"},
    {0x001D, "BL1", "DC", "%",      "125.0",  "0", "DC", "0", "0.20", "-0.4",
     "30V max", "", "no floating", "", "", "HU001 humidity adapter"},
    {0x000E, "BL2", "",   " ",      "2.0",    "",  "",   "",  "",     "",
     "600V CAT II", "", "", "", "", "DV002 x2 divider"},
    {0x0019, "",    "DC", "A",      "10.0",   "0", "DC", "1", "1.0",  "",
     "600V CAT III", "", "", "", "", "CC010 current clamp 10 A"},
    {0x0022, "",    "",   "V",      "10.0",   "",  "",   "",  "",     "",
     "600V CAT II", "", "300V CAT II", "", "", "VP210 x10 voltage probe"},
    {0x8004, "",    "",   "V",      "10.0",   "",  "",   "",  "",     "",
     "30V max", "", "", "", "", "VA110 x10 active voltage probe"},
};
// clang-format on
#undef DEG

void putField(uint8_t* d, const TField& f, const char* text)
{
    std::memcpy(d + f.offset, text, std::min(std::strlen(text), f.size));
}

using TDescriptorTable = TKalvexDescriptorTable;

TDescriptorTable buildBuiltIns()
{
    TDescriptorTable t{};
    for (int i = 0; i < kBuiltInDescriptors; ++i) {
        const TBuiltIn& b = kBuiltIns[i];
        uint8_t* d = t[i].data();
        const uint32_t word = b.id;
        std::memcpy(d, &word, sizeof word);
        putField(d, kInput1, b.input1);
        putField(d, kInput2, b.input2);
        putField(d, kFloating1, b.floating1);
        putField(d, kFloating2, b.floating2);
        putField(d, kBetweenChannels, b.betweenChannels);
        putField(d, kComment, b.comment);
        putField(d, kBandwidthLimit, b.bandwidthLimit);
        putField(d, kSensitivity, b.sensitivity);
        putField(d, kPosition, b.position);
        putField(d, kCoupling, b.coupling);
        putField(d, kUnit, b.unit);
        putField(d, kCoefficient, b.coefficient);
        putField(d, kMeterType, b.meterType);
        putField(d, kMeterCoupling, b.meterCoupling);
        putField(d, kMeterRange, b.meterRange);
    }
    return t;
}


} // namespace

const TKalvexDescriptorTable to_g_kalvexEepromSystem = buildBuiltIns();

namespace {

// ---------------------------------------------------------------------------------------------
// Probe bus

uint16_t bigEndian16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t bigEndian32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void putBigEndian32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// One probe-bus sequence: the mutex for its whole length, the channel's bus selected first.
class TProbeBus {
public:
    explicit TProbeBus(unsigned short channel)
    {
        pthread_mutex_lock(&o_g_probeBusMutex);
        CmdeLogique(CMDE_PROBE_I2C_SELECT, channel & 3u);
    }
    ~TProbeBus() { pthread_mutex_unlock(&o_g_probeBusMutex); }
    TProbeBus(const TProbeBus&) = delete;
    TProbeBus& operator=(const TProbeBus&) = delete;

    static bool readMemory(uint16_t offset, uint8_t* buffer, uint32_t length)
    {
        TFpga::i2cSetup(kMemoryAddress, 2, 1, 0);
        I2cfpga r{length, offset, buffer};
        return TFpga::i2cRead(&r) == 1;
    }
    static bool writeMemory(uint16_t offset, uint8_t* buffer, uint32_t length)
    {
        TFpga::i2cSetup(kMemoryAddress, 2, 1, 0);
        I2cfpga r{length, offset, buffer};
        return TFpga::i2cWrite(&r) == 1;
    }
    static bool readDevice(uint8_t address, uint8_t* buffer, uint32_t length)
    {
        TFpga::i2cSetup(address, 0, 1, 0);
        I2cfpga r{length, 0, buffer};
        return TFpga::i2cRead(&r) == 1;
    }
    static bool writeDevice(uint8_t address, uint8_t* buffer, uint32_t length)
    {
        TFpga::i2cSetup(address, 0, 1, 0);
        I2cfpga r{length, 0, buffer};
        return TFpga::i2cWrite(&r) == 1;
    }
};

// ---------------------------------------------------------------------------------------------
// Descriptor fields, each read within its own width

std::string fieldText(const uint8_t* descriptor, const TField& f)
{
    const char* p = reinterpret_cast<const char*>(descriptor + f.offset);
    const void* end = std::memchr(p, 0, f.size);
    return std::string(p, end ? static_cast<const char*>(end) - p : f.size);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The field's number when its text begins with a digit (or, with sign, a '-').
bool fieldNumber(const uint8_t* descriptor, const TField& f, bool sign, double* out)
{
    const std::string text = fieldText(descriptor, f);
    if (text.empty() || !(isDigit(text[0]) || (sign && text[0] == '-')))
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

// The index of the field's text among names into *out: 0, or -1 when it is none of them.
template <typename T, size_t N>
int fieldChoice(const uint8_t* descriptor, const TField& f, const char* const (&names)[N], T* out)
{
    const std::string text = fieldText(descriptor, f);
    for (size_t i = 0; i < N && out; ++i) {
        if (text == names[i]) {
            *out = static_cast<T>(i);
            return 0;
        }
    }
    return -1;
}

// Length of the UTF-8 sequence a lead byte starts (1 for anything else).
size_t sequenceLength(uint8_t lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// Parses "gain word offset" within text; false when it is not that or unusable.
bool parseCorrection(const uint8_t* text, size_t size, double* gain, double* offset)
{
    const void* end = std::memchr(text, 0, size);
    const std::string s(reinterpret_cast<const char*>(text), end ? static_cast<const uint8_t*>(end) - text : size);
    const char* p = s.c_str();
    char* next = nullptr;
    const double g = std::strtod(p, &next);
    if (next == p)
        return false;
    p = next;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '\0')
        return false;
    while (*p != '\0' && *p != ' ' && *p != '\t')
        ++p;
    const double o = std::strtod(p, &next);
    if (next == p)
        return false;
    if (!std::isfinite(g) || g == 0.0 || !std::isfinite(o))
        return false;
    *gain = g;
    *offset = o;
    return true;
}

const TDescriptorTable::value_type* builtInDescriptor(uint16_t id)
{
    for (const auto& row : to_g_kalvexEepromSystem) {
        uint32_t word;
        std::memcpy(&word, row.data(), sizeof word);
        if (word == id)
            return &row;
    }
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TKalvex

TKalvex::TKalvex(unsigned short ch)
    : channel(static_cast<uint16_t>(ch & 3u))
{
    {
        TProbeBus bus(channel);
        try {
            readProbe();
        } catch (const TEtatKalvex& e) {
            state = e.state;
        }
    }
    statusPending = 0;
    if (bigEndian16(userArea + kMarker) == kCorrectionMarker)
        hasCorrection_ = parseCorrection(userArea + kCorrectionText, kUserAreaSize - kCorrectionText,
                                         &correctionGain_, &correctionOffset_);
}

// Runs under the probe bus, the channel selected.
void TKalvex::readProbe()
{
    id = 0xAAAA;
    state = 0;

    uint8_t raw[2];
    if (!TProbeBus::readMemory(kIdOffset, raw, sizeof raw))
        throw TEtatKalvex{2};
    id = bigEndian16(raw);

    uint8_t h[kHeaderSize];
    if (!TProbeBus::readMemory(kHeaderOffset, h, sizeof h))
        throw TEtatKalvex{2};
    header.checksum = bigEndian32(h);
    header.colour = h[kHeaderColour];
    header.second = h[kHeaderSecond];
    header.spare[0] = h[6];
    header.spare[1] = h[7];
    if (header.checksum != Checksum(h + 4, 4))
        state = 4;

    if (const auto* builtIn = builtInDescriptor(id)) {
        std::memcpy(descriptor, builtIn->data(), kDescriptorSize);
    } else {
        if (!TProbeBus::readMemory(kDescriptorOffset, descriptor, kDescriptorSize))
            throw TEtatKalvex{2};
        const uint32_t sum = bigEndian32(descriptor);
        std::memcpy(descriptor, &sum, sizeof sum);
        if (sum != Checksum(descriptor + 4, kDescriptorSize - 4))
            throw TEtatKalvex{3};
    }

    if (!TProbeBus::readMemory(kUserAreaOffset, userArea, kUserAreaSize))
        throw TEtatKalvex{2};
    const uint32_t sum = bigEndian32(userArea);
    std::memcpy(userArea, &sum, sizeof sum);
    if (sum != Checksum(userArea + 4, kUserAreaSize - 4)) {
        userArea[kMarker] = 0;
        userArea[kMarker + 1] = kNoCorrectionMarker;
    }

    if (id & 0x8000) {
        uint8_t configuration = 0xC7;
        TProbeBus::writeDevice(kExpanderAddress, &configuration, 1);
    }
    if (id == 7) {
        uint8_t setup[2] = {0xAC, 0x0C};
        TProbeBus::writeDevice(kConverterAddress, setup, sizeof setup);
        uint8_t start = 0x51;
        TProbeBus::writeDevice(kConverterAddress, &start, 1);
    }
}

int TKalvex::getStatus()
{
    const int32_t s = state;
    if (s != 0)
        return s;
    if (statusPending.exchange(0) == 0)
        return 0;
    uint8_t lines = 0;
    {
        TProbeBus bus(channel);
        if (!TProbeBus::readDevice(kExpanderAddress, &lines, 1)) {
            uint8_t zero = 0;
            TProbeBus::writeDevice(kSecondExpanderAddress, &zero, 1);
            if (!TProbeBus::readDevice(kSecondExpanderAddress, &lines, 1))
                return 8;
        }
    }
    switch (lines & 7) {
    case 5: return 6;
    case 6: return 5;
    case 3: return 7;
    default: return 8;
    }
}

int TKalvex::updateStatus()
{
    TProbeBus bus(channel);
    uint8_t raw[2];
    if (!TProbeBus::readMemory(kIdOffset, raw, sizeof raw)) {
        state = 2;
        statusPending = 0;
        return 0;
    }
    statusPending = 0;
    if (bigEndian16(raw) == 0)
        return 1;
    uint8_t status = 0;
    const bool ok = TProbeBus::readDevice(kStatusAddress, &status, 1);
    statusPending = 1;
    return ok ? 1 : 0;
}

bool TKalvex::readable() const
{
    const int32_t s = state;
    return s == 0 || s == 4;
}

int TKalvex::getId(char* designation, unsigned short* idOut) const
{
    const int32_t s = state;
    if (s != 0 && s != 4)
        return -1;
    if (designation) {
        std::memcpy(designation, descriptor + kComment.offset, kDesignationSize);
        designation[kDesignationSize] = static_cast<char>(s & ~4);
    }
    if (idOut)
        *idOut = id;
    return 0;
}

int TKalvex::getScopeVertical(TAcquisition* trace, unsigned short* sensitivity, short* position) const
{
    int result = 0;
    double v = 0.0;
    if (sensitivity && fieldNumber(descriptor, kSensitivity, false, &v)) {
        const float wanted = static_cast<float>(v / kSensitivityDivisor);
        bool found = false;
        for (int index = 0; index <= max_par.sensitivityCh1 && !found; ++index) {
            if (FloatisEqu(wanted, GetSensitivity(static_cast<unsigned short>(index), SCALE_SCOPE))) {
                *sensitivity = static_cast<unsigned short>(index);
                found = true;
            }
        }
        if (!found)
            result = -1;
    } else {
        result = -1;
    }

    double volts = 0.0;
    if (!position || !trace || !sensitivity || !fieldNumber(descriptor, kPosition, true, &volts))
        return -1;
    const double scale = GetVerticalScale(trace, SCALE_SCOPE, static_cast<short>(*sensitivity));
    const double codes = volts / (scale * kPositionCodesPerScale);
    if (scale == 0.0 || !std::isfinite(codes) || codes <= std::numeric_limits<int16_t>::min() - 1.0 ||
        codes >= std::numeric_limits<int16_t>::max() + 1.0)
        return -1;
    *position = static_cast<short>(std::trunc(codes));
    return result;
}

int TKalvex::getScopeCoupling(unsigned short* coupling) const
{
    static const char* const names[] = {"AC", "DC", "GND"};
    return fieldChoice(descriptor, kCoupling, names, coupling);
}

int TKalvex::getScopeBWL(int32_t* limit) const
{
    static const char* const names[] = {"BL0", "BL1", "BL2", "BL3"};
    return fieldChoice(descriptor, kBandwidthLimit, names, limit);
}

int TKalvex::getMeasurementUnit(char* unit) const
{
    const uint8_t* u = descriptor + kUnit.offset;
    if (!unit || u[0] == 0 || u[0] == ' ')
        return -1;
    // The memory's U+FFFD is the degree sign; the setup keeps at most 3 bytes.
    std::string text;
    for (size_t i = 0; i < kUnit.size && u[i] != 0;) {
        if (i + 3 <= kUnit.size && u[i] == 0xEF && u[i + 1] == 0xBF && u[i + 2] == 0xBD) {
            text += "\xC2\xB0";
            i += 3;
            continue;
        }
        const size_t n = std::min(sequenceLength(u[i]), kUnit.size - i);
        text.append(reinterpret_cast<const char*>(u + i), n);
        i += n;
    }
    size_t cut = 0;
    while (cut < text.size()) {
        const size_t n = sequenceLength(static_cast<uint8_t>(text[cut]));
        if (cut + n > 3)
            break;
        cut += n;
    }
    char out[4] = {0, 0, 0, 0};
    std::memcpy(out, text.data(), cut);
    std::memcpy(unit, out, sizeof out);
    return 0;
}

int TKalvex::getProbeCoeff(float* coefficient) const
{
    double v = 0.0;
    if (!coefficient || !fieldNumber(descriptor, kCoefficient, false, &v))
        return -1;
    const double limit = max_par.probeCoeffCh1;
    *coefficient = static_cast<float>(std::max(-limit, std::min(limit, v)));
    return 0;
}

int TKalvex::getMeterMeasurementType(unsigned short* type) const
{
    // The meter functions the setup takes.
    static const int valid[] = {0, 1, 2, 3, 4, 8, 9, 10, 11, 16};
    double v = 0.0;
    if (!type || !fieldNumber(descriptor, kMeterType, false, &v))
        return -1;
    for (int t : valid) {
        if (v == t) {
            *type = static_cast<unsigned short>(t);
            return 0;
        }
    }
    return -1;
}

int TKalvex::getMeterRange(unsigned short* range) const
{
    double v = 0.0;
    if (!range || !fieldNumber(descriptor, kMeterRange, false, &v) || v != std::floor(v) || v < 0 ||
        v > max_par.meterRangeCh1)
        return -1;
    *range = static_cast<unsigned short>(v);
    return 0;
}

int TKalvex::getMeterCoupling(unsigned short* coupling) const
{
    static const char* const names[] = {"AC", "DC", "AC+DC"};
    return fieldChoice(descriptor, kMeterCoupling, names, coupling);
}

int TKalvex::getCorrection(double* gain, double* offset) const
{
    if (gain)
        *gain = hasCorrection_ ? correctionGain_ : 1.0;
    if (offset)
        *offset = hasCorrection_ ? correctionOffset_ : 0.0;
    return hasCorrection_ ? 0 : -1;
}

void TKalvex::message(const TField& field, QString& text) const
{
    text.clear();
    if (!readable())
        return;
    const std::string bytes = fieldText(descriptor, field);
    text = QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
    convert(text);
}

void TKalvex::getMessageInput1(QString& text) const { message(kInput1, text); }
void TKalvex::getMessageInput2(QString& text) const { message(kInput2, text); }
void TKalvex::getMessageFloating1(QString& text) const { message(kFloating1, text); }
void TKalvex::getMessageFloating2(QString& text) const { message(kFloating2, text); }
void TKalvex::getMessageBetweenChannels(QString& text) const { message(kBetweenChannels, text); }
void TKalvex::getMessageComments(QString& text) const { message(kComment, text); }

void TKalvex::convert(QString& text)
{
    text.replace(QChar(0xFFFD), QChar(0x00B0));
    text.replace(QChar('{'), QChar(0x2126));
}

int TKalvex::setUserFields(unsigned short colour, unsigned short second)
{
    // Built in a local buffer: the controller and other callers never share one.
    uint8_t buffer[kHeaderSize];
    TProbeBus bus(channel);
    header.colour = static_cast<uint8_t>(colour);
    header.second = static_cast<uint8_t>(second);
    buffer[kHeaderColour] = static_cast<uint8_t>(colour);
    buffer[kHeaderSecond] = static_cast<uint8_t>(second);
    buffer[6] = header.spare[0];
    buffer[7] = header.spare[1];
    header.checksum = Checksum(buffer + 4, 4);
    putBigEndian32(buffer, header.checksum);
    TProbeBus::writeMemory(kHeaderOffset, buffer, sizeof buffer);
    return 0;
}

int TKalvex::getUserFields(unsigned short* colour, unsigned short* second) const
{
    if (state != 0)
        return -1;
    if (colour)
        *colour = header.colour;
    if (second)
        *second = header.second;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// LectureKalvex

namespace {

constexpr unsigned short kProbeKeyRegister = 4;
constexpr uint32_t kProbeKeyEvents = 0x1Eu;  // bits 1-4
constexpr unsigned short kEventRegister = 12;
constexpr int kSettleMs = 20;

struct TChannelFields {
    int16_t database::*coupling;
    int32_t database::*bwLimit;
    char (database::*unit)[4];
    float database::*coefficient;
    int16_t database::*sensitivity;
    int16_t database::*offset;
    int16_t database::*meterCoupling;
    int16_t database::*meterRange;
    uint8_t database::*memoryTrace;
    uint8_t database::*refShown;
    uint8_t database::*traceOn;
    int16_t database::*traceColor;
    TAcquisition* TSetupLinks::*trace;
};

#define CHANNEL_FIELDS(n)                                                                          \
    {&database::couplingCh##n, &database::bwLimitCh##n, &database::unitCh##n,                      \
     &database::probeCoeffCh##n, &database::sensitivityCh##n, &database::offsetCh##n,              \
     &database::meterCouplingCh##n, &database::meterRangeCh##n, &database::memoryTraceCh##n,       \
     &database::refShownCh##n, &database::traceOnCh##n, &database::traceColorCh##n,                \
     &TSetupLinks::acqCh##n}
const TChannelFields kChannels[4] = {CHANNEL_FIELDS(1), CHANNEL_FIELDS(2), CHANNEL_FIELDS(3), CHANNEL_FIELDS(4)};
#undef CHANNEL_FIELDS

void applySettings(const TKalvex& probe, int channel, database& db)
{
    const TChannelFields& f = kChannels[channel];
    unsigned short value = 0;
    if (probe.getScopeCoupling(&value) == 0)
        db.*f.coupling = static_cast<int16_t>(value);
    probe.getScopeBWL(&(db.*f.bwLimit));
    probe.getMeasurementUnit(db.*f.unit);
    probe.getProbeCoeff(&(db.*f.coefficient));
    unsigned short sensitivity = static_cast<unsigned short>(db.*f.sensitivity);
    short position = db.*f.offset;
    probe.getScopeVertical(setupLinks().*f.trace, &sensitivity, &position);
    db.*f.sensitivity = static_cast<int16_t>(sensitivity);
    db.*f.offset = position;
    if (channel == 0 && probe.getMeterMeasurementType(&value) == 0)
        db.meterFunction = static_cast<int16_t>(value);
    if (probe.getMeterCoupling(&value) == 0)
        db.*f.meterCoupling = static_cast<int16_t>(value);
    if (probe.getMeterRange(&value) == 0)
        db.*f.meterRange = static_cast<int16_t>(value);
    db.*f.memoryTrace = 0;
    db.*f.refShown = 0;
    db.*f.traceOn = 1;
}

} // namespace

int LectureKalvex(int16_t channel, database* db)
{
    if (channel < 0 || channel > 3 || !db)
        return 2;
    const uint32_t keyEvents = TFpga::getSpiRegister(kProbeKeyRegister);
    TFpga::setSpiRegister(kProbeKeyRegister, keyEvents & ~kProbeKeyEvents);

    std::shared_ptr<TKalvex> probe = smartProbeLink(channel);
    if (!probe) {
        probe = std::make_shared<TKalvex>(static_cast<unsigned short>(channel));
        setSmartProbeLink(channel, probe);
    }
    const int s = probe->getStatus();
    const TChannelFields& f = kChannels[channel];
    if (s == 0)
        db->*f.traceColor = probe->header.colour;
    if (s == 0 || s == 4) {
        applySettings(*probe, channel, *db);
    } else if (s == 2 || s == 3) {
        setSmartProbeLink(channel, nullptr);
        db->*f.traceColor = init_par.*f.traceColor;
        std::memcpy(db->*f.unit, init_par.*f.unit, sizeof(db->*f.unit));
        db->*f.coefficient = init_par.*f.coefficient;
        db->*f.traceOn = 0;
        db->*f.refShown = 0;
    }
    probe.reset();

    pauseMs(kSettleMs);
    (void)TFpga::getSpiRegister(kEventRegister);
    TFpga::setSpiRegister(kProbeKeyRegister, keyEvents);
    return s;
}
