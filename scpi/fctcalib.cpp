// ZC handlers of the factory: single calibration steps of the acquisition, single calibration
// values adjusted through a private copy of the record, the whole record as one block, the
// calibration file commit, the forced bandwidth variant, and the self-test result, the raw sorted
// samples and the built-in web files.
// Levels: ZC 0, CALibration 1, leaf 2 (ZC:HTTP: leaf 1).
#include "scpi/fct.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "hardware/CmdesBase.h"
#include "hardware/handshake.h"
#include "hardware/transfer.h"
#include "network/serverHTTP.h"
#include "scpi/TCalibration.h"
#include "scpi/blockdata.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr short kLeafLevel = 2;
constexpr int kChannels = 4;
constexpr uint16_t kScopeMode = 16;
constexpr uint16_t kShownChannels = 0xF;  // channelFlags: the channels on the screen
constexpr int32_t kActionSuspendOnly = 11;  // a file action the controller only pauses for
constexpr int kMatrixBytes = 10000;
constexpr int kCatEntries = 16;
constexpr size_t kSerialMax = kCalibSerialNumberWidth - 1;  // its zero must fit
constexpr size_t kIdentityTextMax = 9;
constexpr char kTrailer[] = "\n\r";

// Calibration step codes (the pseudo-parameter calRange).
enum : int32_t { kStepInit = 0, kStepVos = 3, kStepLvl = 4, kStepVp = 5, kStepVn = 6, kStepCdc = 7, kStepIGamme = 13 };

// Every level at suffix 1.
int start(indic* ind, int16_t* requestCount)
{
    return handlerStart(ind, requestCount, static_cast<short>(ind->count - 1));
}

// Headers with <n>: ZC and CALibration at 1, the leaf 1..4. *channel := n - 1.
int startChannel(indic* ind, int16_t* requestCount, int* channel)
{
    if (int r = handlerStart(ind, requestCount, kLeafLevel - 1))
        return r;
    const int16_t n = ind->suffix[kLeafLevel];
    if (n < 1 || n > kChannels)
        return kErrSuffixOutOfRange;
    *channel = n - 1;
    return 0;
}

char format()
{
    return static_cast<char>(memform(2, 0));
}

// An integer parameter without bounds to resolve a numeric keyword against: the keyword is
// refused as DEF and INF are.
int plainInteger(const char* area, int i, int32_t* out)
{
    if (paramSpecial(area, i) != kSpecialNone)
        return kErrQuery;
    *out = paramInt(area, i);
    return 0;
}

int step(pipe_dial* requests, int16_t* requestCount, int32_t code, int channel)
{
    if (data.instrumentMode != kScopeMode)
        return kErrSettingsConflict;
    // With no channel shown the acquisition stays parked and the step would never run.
    if ((data.channelFlags & kShownChannels) == 0)
        return kErrSettingsConflict;
    addSetting(requests, requestCount, param::acqRunStop, 1);
    addRequest(requests, requestCount, REQ_SET_PARAM, param::calRange, channel, code, 0.0f);
    return 0;
}

int channelStep(indic* ind, pipe_dial* requests, int16_t* requestCount, int32_t code)
{
    int channel = 0;
    if (int r = startChannel(ind, requestCount, &channel))
        return r;
    return step(requests, requestCount, code, channel);
}

int plainStep(indic* ind, pipe_dial* requests, int16_t* requestCount, int32_t code)
{
    if (int r = start(ind, requestCount))
        return r;
    return step(requests, requestCount, code, 0);
}

// The edit sequence: fetch (twice: construction and again), change, hand back. change returns 0
// to send the record, or an error to drop it.
template <typename Change>
int editRecord(Change change)
{
    std::unique_ptr<TCalibration> copy(new TCalibration());
    if (copy->GetParametersFromCOMM() != 0)
        return kErrExecution;
    if (int r = change(copy->record))
        return r;
    return copy->SendParametersToCOMM() == 0 ? 0 : kErrDeviceSpecific;
}

// A fetched record, as the queries read it; null when the controller did not hand it over in
// time.
std::unique_ptr<TCalibration> fetchTwice()
{
    std::unique_ptr<TCalibration> copy(new TCalibration());
    if (copy->GetParametersFromCOMM() != 0)
        copy.reset();
    return copy;
}

size_t boundedLength(const char* text, size_t width)
{
    const void* zero = std::memchr(text, 0, width);
    return zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : width;
}

void copyIdentityText(char* field, size_t width, const char* text)
{
    std::memset(field, 0, width);
    std::memcpy(field, text, std::min(std::strlen(text), kIdentityTextMax));
}

// Range r and gain index h of a meter trim from the nominal value of its readings.
void meterRangeOf(double nominal, int* range, int* gainIndex)
{
    static const struct {
        double below;
        int range;
        int gainIndex;
    } kRanges[] = {{0.801, 0, 6}, {8.01, 1, 9}, {80.1, 2, 12}};
    for (const auto& r : kRanges) {
        if (nominal < r.below) {
            *range = r.range;
            *gainIndex = r.gainIndex;
            return;
        }
    }
    *range = 3;
    *gainIndex = 15;
}

} // namespace

// ZC:CALibration:INIT, :VOS<n>, :LVL<n>, :VP<n>, :VN<n>, :CDC<n>, :IGAMme: one calibration step
// of the acquisition; the controller keeps the interpreter until the step ends.
int ZcCalInit(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    return plainStep(ind, requests, requestCount, kStepInit);
}

int ZcCalVos(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    return channelStep(ind, requests, requestCount, kStepVos);
}

int ZcCalLvl(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    return channelStep(ind, requests, requestCount, kStepLvl);
}

int ZcCalVp(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    return channelStep(ind, requests, requestCount, kStepVp);
}

int ZcCalVn(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    return channelStep(ind, requests, requestCount, kStepVn);
}

int ZcCalCdc(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    return channelStep(ind, requests, requestCount, kStepCdc);
}

int ZcCalIGamme(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    return plainStep(ind, requests, requestCount, kStepIGamme);
}

// ZC:CALibration:ACQSize: a pause of the acquisition, then scope mode.
int ZcCalAcqs(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    addRequest(requests, requestCount, REQ_FILE, kActionSuspendOnly, 0, 0, 0.0f);
    addSetting(requests, requestCount, param::instrumentMode, kScopeMode);
    return 0;
}

// ZC:CALibration:FLASH: the live record into the calibration file.
int ZcCalFlash(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    addSetting(requests, requestCount, param::calibrationSave, 0);
    return 0;
}

// ZC:CALibration:BW MHz / BW?: the bandwidth variant the board input reports, until the end of
// the program.
int ZcCalBw(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query) {
        const int variant = EtatLogique(ETAT_BANDWIDTH_VARIANT);
        return replyText(variant == 2 ? "100" : variant == 3 ? "60" : "300") < 0 ? kErrCommunication : 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    int32_t mhz = 0;
    if (int r = plainInteger(area, 0, &mhz))
        return r;
    us_g_swBandwidth.store(mhz <= 60 ? 3 : mhz <= 100 ? 2 : 1);
    return 0;
}

// ZC:CALibration:CAT<n> value,index: one comparator trim byte of channel n.
int ZcCalCat(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    int channel = 0;
    if (int r = startChannel(ind, requestCount, &channel))
        return r;
    if (ind->paramCount < 2)
        return kErrMissingParameter;
    int32_t value = 0;
    int32_t index = 0;
    if (int r = plainInteger(area, 0, &value))
        return r;
    if (int r = plainInteger(area, 1, &index))
        return r;
    if (index < 0 || index >= kCatEntries)
        return kErrDataOutOfRange;  // would land outside the channel's 16 entries
    return editRecord([&](calibration& c) -> int {
        c.trimP22[channel][index] = static_cast<uint8_t>(value);
        return 0;
    });
}

// ZC:CALibration:PIP<n> value: the pipeline trim of channel n.
int ZcCalPip(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    int channel = 0;
    if (int r = startChannel(ind, requestCount, &channel))
        return r;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    int32_t value = 0;
    if (int r = plainInteger(area, 0, &value))
        return r;
    return editRecord([&](calibration& c) -> int {
        c.pipelineTrim[channel] = static_cast<uint8_t>(value);
        return 0;
    });
}

// ZC:CALibration:CORTEMP<n> picoseconds: the time alignment of channel n.
int ZcCalCorTemp(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    int channel = 0;
    if (int r = startChannel(ind, requestCount, &channel))
        return r;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    int32_t value = 0;
    if (int r = plainInteger(area, 0, &value))
        return r;
    return editRecord([&](calibration& c) -> int {
        setCalibrationTimeAlignment(c, channel, value);
        return 0;
    });
}

// ZC:CALibration:IDENTify "model","name": the identity texts, 9 characters each at most.
int ZcCalIdent(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->paramCount < 2)
        return kErrMissingParameter;
    const char* model = paramText(area, 0);
    const char* name = paramText(area, 1);
    return editRecord([&](calibration& c) -> int {
        copyIdentityText(c.modelName, sizeof c.modelName, model);
        copyIdentityText(c.calibrationName, sizeof c.calibrationName, name);
        return 0;
    });
}

// ZC:CALibration:SNUMber "serial" / SNUMber?: the serial number; the query adds the
// identification code.
int ZcCalSnum(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query) {
        std::unique_ptr<TCalibration> copy = fetchTwice();
        if (!copy)
            return kErrDeviceSpecific;
        const calibration& c = copy->record;
        char text[kCalibSerialNumberWidth + kCalibIdentificationCodeWidth + 8];
        const size_t serial = boundedLength(c.serialNumber, sizeof c.serialNumber);
        std::memcpy(text, c.serialNumber, serial);
        size_t n = serial;
        text[n++] = '-';
        const size_t code = boundedLength(c.identificationCode, sizeof c.identificationCode);
        for (size_t pad = code; pad < 4; ++pad)
            text[n++] = '0';
        std::memcpy(text + n, c.identificationCode, code);
        n += code;
        text[n++] = '\0';  // part of the data
        return putParameterValue(format(), reinterpret_cast<const unsigned char*>(text), static_cast<long>(n),
                                 kTrailer) <= 0
                   ? kErrCommunication
                   : 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    const char* serial = paramText(area, 0);
    const size_t length = std::strlen(serial);
    if (length > kSerialMax)
        return kErrStringTooLong;  // would run over the identification code and the offsets
    return editRecord([&](calibration& c) -> int {
        std::memcpy(c.serialNumber, serial, length + 1);
        return 0;
    });
}

// ZC:CALibration:DMM<n> nominal,low1,high1,low2,high2: the meter gain and offset of the range
// of nominal, from two pairs of readings. The mix of single and double precision is the
// instrument's; the values it produces are what calibrated instruments hold.
int ZcCalDmm(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    int channel = 0;
    if (int r = startChannel(ind, requestCount, &channel))
        return r;
    if (ind->paramCount < 5)
        return kErrMissingParameter;
    float p[5];
    for (int i = 0; i < 5; ++i) {
        if (paramSpecial(area, i) != kSpecialNone)
            return kErrQuery;
        p[i] = paramFloat(area, i);
        if (!std::isfinite(p[i]))
            return kErrExecution;
    }
    const double limit = static_cast<double>(p[0]) / 10.0;
    // Without a positive nominal the offset divides by zero or below.
    if (!(p[0] > 0.0f) || !(std::fabs(p[2] - p[1]) <= limit) || !(std::fabs(p[4] - p[3]) <= limit))
        return kErrExecution;
    // Equal low readings leave the gain undefined: refused before anything is fetched.
    const float ratio = (p[4] - p[2]) / (p[3] - p[1]);
    if (!std::isfinite(ratio))
        return kErrExecution;
    int range = 0;
    int gainIndex = 0;
    meterRangeOf(p[0], &range, &gainIndex);
    return editRecord([&](calibration& c) -> int {
        const float newGain = ratio * calibrationMeterGain(c, channel, gainIndex);
        // Written so that an undefined gain fails too.
        if (!(newGain > 0.8f && newGain < 1.2f))
            return kErrExecution;
        const float spread = ((p[4] + p[2]) - (p[3] + p[1])) * 262080.0f;
        const float correction = static_cast<float>(static_cast<double>(spread) / (4.0 * static_cast<double>(p[0])));
        const float offset = calibrationMeterOffset(c, channel, range) + correction;
        if (!std::isfinite(offset))
            return kErrExecution;
        setCalibrationMeterGain(c, channel, gainIndex, newGain);
        setCalibrationMeterOffset(c, channel, range, offset);
        return 0;
    });
}

// ZC:CALibration:LIST? / LIST <block>: the whole record. The set takes a definite-length block
// of exactly one record, as raw bytes in every data format.
int ZcCalList(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    const bool block = !ind->query && ind->paramCount >= 1;
    const long length = block ? paramInt(area, 0) : 0;
    if (int r = start(ind, requestCount)) {
        // A refused block's bytes are read first, so none of them runs as commands.
        const int drained = block ? blockDrain(length) : 0;
        return drained != 0 ? drained : r;
    }
    if (ind->query) {
        std::unique_ptr<TCalibration> copy = fetchTwice();
        if (!copy)
            return kErrDeviceSpecific;
        const char f = format();
        if (entete_INT(f, static_cast<int>(kCalibrationSize)) < 0)
            return kErrCommunication;
        return putParameterValue(f, calibrationBytes(copy->record), kCalibrationSize, kTrailer) <= 0
                   ? kErrCommunication
                   : 0;
    }
    if (!block)
        return kErrMissingParameter;
    if (length != static_cast<long>(kCalibrationSize)) {
        const int drained = blockDrain(length);
        return drained != 0 ? drained : kErrDataOutOfRange;
    }
    std::unique_ptr<TCalibration> copy(new TCalibration());
    if (copy->ReadParametersFromCommandLine(0) != 0)
        return kErrExecution;
    return copy->SendParametersToCOMM() == 0 ? 0 : kErrDeviceSpecific;
}

// ZC:CALibration:TST?: the failed self tests as a bit mask, 0 when all passed.
int ZcCalTst(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    const unsigned v = static_cast<uint16_t>(~data.selfTestResult) & 0xFFu;
    char text[16];
    int n = 0;
    switch (format()) {
    case 1:
        n = std::snprintf(text, sizeof text, "#H%X\n\r", v);
        break;
    case 2: {
        n = std::snprintf(text, sizeof text, "#B");
        int top = 7;
        while (top > 0 && !(v & (1u << top)))
            --top;
        for (int bit = top; bit >= 0; --bit)
            text[n++] = (v >> bit) & 1 ? '1' : '0';
        text[n++] = '\n';
        text[n++] = '\r';
        break;
    }
    case 3:
        text[n++] = static_cast<char>(v & 0xFF);
        text[n++] = static_cast<char>(v >> 8);
        text[n++] = '\n';
        text[n++] = '\r';
        break;
    default:
        n = std::snprintf(text, sizeof text, "%u\n\r", v);
        break;
    }
    return PutMessage(text, n) < 0 ? kErrCommunication : 0;
}

// ZC:CALibration:MATrix?: the first 10000 bytes of the sorted samples, copied between two
// cycles; the acquisition runs on before anything is written.
int ZcCalMat(indic*, char*, pipe_dial*, int16_t* requestCount)
{
    *requestCount = 0;
    static unsigned char copy[kMatrixBytes];  // interpreter thread only
    AcqSuspend();
    std::memcpy(copy, tul_g_sortedSignal, sizeof copy);
    AcqResume(SYNCHRO_RESUME);
    const char f = format();
    if (entete_INT(f, kMatrixBytes) < 0)
        return kErrCommunication;
    if (putParameterValue(f, copy, kMatrixBytes, nullptr) <= 0)
        return kErrCommunication;
    return PutMessage(kTrailer, 2) < 0 ? kErrCommunication : 0;
}

// ZC:HTTP? "path": a built-in web file as a raw block, whatever the data format.
int ZcHttp(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    const THttpPage page = getHttpPseudoFileHeader(paramText(area, 0));
    if (!page.data || page.length <= 0)
        return kErrExecution;
    if (entete_INT(3, page.length) < 0)
        return kErrCommunication;
    return putParameterValue(3, reinterpret_cast<const unsigned char*>(page.data), page.length, kTrailer) <= 0
               ? kErrCommunication
               : 0;
}
