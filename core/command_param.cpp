#include "core/command_param.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/autoset.h"
#include "acquisition/measkernel.h"
#include "core/calibfile.h"
#include "core/checksum.h"
#include "core/command_helpers.h"
#include "core/command_tables.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/setup.h"
#include "core/setup_consistency.h"
#include "core/sysserv.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/fpga.h"
#include "hardware/handshake.h"
#include "hardware/kalvex.h"

#include <algorithm>
#include <cstring>

using namespace command_util;

static_assert(sizeof(mesures) == kMeasurementRecordSize, "the measurement table holds mesures records");

namespace {

// Instrument modes.
constexpr uint16_t kModeScope = 16;
constexpr uint16_t kModeBus = 17;
constexpr uint16_t kModeScopeAlt = 18;
constexpr uint16_t kModeScopeDots = 19;  // scope with traceMode 0
constexpr uint16_t kModeHarmonic = 64;
constexpr uint16_t kModeMeter = 128;
constexpr uint16_t kModeMeterAlt = 129;
constexpr uint16_t kModeRecorder = 130;
constexpr uint16_t kModeViewer = 256;
constexpr uint16_t kScopeBit = 0x10;
constexpr uint16_t kHarmonicBit = 0x40;
constexpr uint16_t kMeterBit = 0x80;

constexpr int kPowerMeasurementA = 8;
constexpr int kPowerMeasurementB = 9;
constexpr int kPowerHarmonicRecord = 4;

// The same field of channels 1..4.
using TByteField = uint8_t database::*;
using TWordField = int16_t database::*;
using TFloatField = float database::*;
using TUnitField = char (database::*)[4];
using TExpressionField = char (database::*)[100];

constexpr TByteField kTraceOn[4] = {&database::traceOnCh1, &database::traceOnCh2, &database::traceOnCh3,
                                    &database::traceOnCh4};
constexpr TByteField kRefShown[4] = {&database::refShownCh1, &database::refShownCh2, &database::refShownCh3,
                                     &database::refShownCh4};
constexpr TByteField kMemoryTrace[4] = {&database::memoryTraceCh1, &database::memoryTraceCh2,
                                        &database::memoryTraceCh3, &database::memoryTraceCh4};
constexpr TByteField kMeterAutoRange[4] = {&database::meterAutoRangeCh1, &database::meterAutoRangeCh2,
                                           &database::meterAutoRangeCh3, &database::meterAutoRangeCh4};
constexpr TWordField kOffset[4] = {&database::offsetCh1, &database::offsetCh2, &database::offsetCh3,
                                   &database::offsetCh4};
constexpr TWordField kRefOffset[4] = {&database::refOffsetCh1, &database::refOffsetCh2, &database::refOffsetCh3,
                                      &database::refOffsetCh4};
constexpr TWordField kFftOffset[4] = {&database::fftOffsetCh1, &database::fftOffsetCh2, &database::fftOffsetCh3,
                                      &database::fftOffsetCh4};
constexpr TWordField kRefFftOffset[4] = {&database::refFftOffsetCh1, &database::refFftOffsetCh2,
                                         &database::refFftOffsetCh3, &database::refFftOffsetCh4};
constexpr TWordField kTraceColor[4] = {&database::traceColorCh1, &database::traceColorCh2,
                                       &database::traceColorCh3, &database::traceColorCh4};
constexpr TFloatField kProbeCoeff[4] = {&database::probeCoeffCh1, &database::probeCoeffCh2,
                                        &database::probeCoeffCh3, &database::probeCoeffCh4};
constexpr TFloatField kVoltsPerDiv[4] = {&database::voltsPerDivCh1, &database::voltsPerDivCh2,
                                         &database::voltsPerDivCh3, &database::voltsPerDivCh4};
constexpr TUnitField kUnit[4] = {&database::unitCh1, &database::unitCh2, &database::unitCh3, &database::unitCh4};
constexpr TExpressionField kMathExpression[4] = {&database::mathExprCh1, &database::mathExprCh2,
                                                 &database::mathExprCh3, &database::mathExprCh4};

bool inScopeMode()
{
    return (data.instrumentMode & kScopeBit) != 0;
}

bool fromRemote(const pipe_dial& request)
{
    return isSender(request.senderId, SCPI_id) || isSender(request.senderId, tWEBSd_id);
}

// Applied in a later pass of the loop, after whatever is queued already.
void postToSelf(int32_t parameter, intptr_t value)
{
    pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, kSenderUserInterface};
    o_g_consMessageBox.send(&r);
}

void resetPassFailCounter()
{
    TAcquisition::passFailCounter.raz();
}

void updateMeasurementReference()
{
    data.measRefChannel = static_cast<int16_t>(GetMesureReference());
}

// The result tables are skipped while they are not linked.
void zeroMeasurementRecord(int index)
{
    if (mesures* table = setupLinks().measResultsPtr)
        std::memset(&table[index], 0, sizeof(mesures));  // padding included
}

void invalidateHarmonicRecord(int index)
{
    if (THarmonicResults* block = setupLinks().harmonicResultsPtr) {
        const uint32_t recompute = 1;
        std::memcpy(reinterpret_cast<unsigned char*>(block) + index * kHarmonicRecordSize, &recompute,
                    sizeof recompute);
    }
}

void invalidateAllHarmonicRecords()
{
    for (int i = 0; i < kHarmonicRecords; ++i)
        invalidateHarmonicRecord(i);
}

// A sender's text into a fixed field: at most width - 1 characters up to its first NUL, the
// rest of the field NUL-filled. The sender's buffer is only read; a null text empties the field.
void copyText(char* field, std::size_t width, const char* text)
{
    const std::size_t length = text ? strnlen(text, width - 1) : 0;
    if (length)
        std::memmove(field, text, length);
    std::memset(field + length, 0, width - length);
}

const char* textAt(intptr_t pointer)
{
    return reinterpret_cast<const char*>(pointer);
}

int32_t clampSigned(intptr_t value, int32_t low, int32_t high)
{
    return std::clamp(static_cast<int32_t>(value), low, high);
}

uint32_t clampUnsigned(intptr_t value, uint32_t low, uint32_t high)
{
    return std::clamp(static_cast<uint32_t>(value), low, high);
}

// Factors and widths travel as the value times 100.
float hundredths(intptr_t value)
{
    return static_cast<float>(static_cast<int32_t>(value)) / 100.0f;
}

[[noreturn]] void powerOff()
{
    message(MessagePowerOff);
    pauseMs(100);
    pauseMs(2000);
    Shutdown(POWEROFF_SAVE_SETUP);
}

void compileMathFunction(int ch)
{
    if (TFonction* function = channelFunction(ch)) {
        function->SetFonctionString(data.*kMathExpression[ch], false);
        if (function->IsDefined()) {
            data.*kRefShown[ch] = 0;
            data.*kMemoryTrace[ch] = 0;
            data.*kTraceOn[ch] = 1;
        }
    }
    SetVoiesValides();
    find_coeff();
}

void changeMode(uint16_t mode, TRequestOutcome& outcome)
{
    const uint16_t previous = data.instrumentMode;

    // 1. Front-panel event lines: the key line and the four probe keys.
    TFpga::setSpiRegister(4, 31);

    // 2.
    int shown = -1;
    switch (mode) {
    case kModeScope:
    case kModeScopeAlt:
        shown = MessageScopeMode;
        break;
    case kModeBus:
        shown = MessageBusMode;
        data.busDiag = 1;
        break;
    case kModeHarmonic:
        shown = MessageHarmonicMode;
        break;
    case kModeMeter:
    case kModeMeterAlt:
        shown = MessageMeterMode;
        break;
    case kModeRecorder:
        shown = MessageRecorderMode;
        break;
    case kModeViewer:
        shown = MessageViewerMode;
        break;
    default:
        break;
    }
    if (shown >= 0) {
        message(shown);
        pauseMs(100);
    } else {
        for (int ch = 0; ch < 4; ++ch)
            data.*kMemoryTrace[ch] = 0;
        SetVoiesValides();
        find_coeff();
        resetZooms();
    }

    // 3. Neither the bus analysis nor the meters keep math channels; the viewer leaves the
    // probes to be read again.
    if (previous == kModeBus || (mode & kMeterBit)) {
        for (int ch = 0; ch < 4; ++ch) {
            TFonction* function = channelFunction(ch);
            if (function && function->IsDefined()) {
                function->RAZ();
                data.*kTraceOn[ch] = 0;
            }
        }
        find_coeff();
        SetVoiesValides();
    } else if (previous == kModeViewer) {
        for (int ch = 0; ch < 4; ++ch)
            data.*kMemoryTrace[ch] = 0;
        for (int ch = 0; ch < 4; ++ch) {
            const int r = LectureKalvex(static_cast<int16_t>(ch), &data);
            if (!channelProbe(ch) || (r & ~4) != 0)
                continue;
            if (TAcquisition* trace = channelTrace(ch)) {
                trace->SetIdentifier(static_cast<unsigned short>(1u << ch));
                trace->SetAcquisitionParametres(nullptr);
            }
            data.*kTraceOn[ch] = 1;
        }
    }

    // What a recording's recall changed goes back when the viewer is left: the channels that were
    // on before it are on again, on their live traces, whatever mode comes next (after the probe
    // reads above, which leave a channel without a probe off).
    if (previous == kModeViewer && mode != kModeViewer) {
        SetViewerSpan(TRecordedExtent{0, 0});
        if (std::optional<TLiveChannels>& kept = liveChannelsBeforeViewer()) {
            RestoreLiveChannels(*kept, &data);
            kept.reset();
            for (int ch = 0; ch < 4; ++ch)
                if (TAcquisition* trace = channelTrace(ch))
                    trace->SetIdentifier(static_cast<unsigned short>(1u << ch));
        }
    }

    // 4.
    data.instrumentMode = mode;
    updateMeasurementReference();
    setUsbMassStorage(mode);

    // 5.
    if (mode & kMeterBit) {
        SetPowerFct(data.meterFunction == 9, &data);
        for (int ch = 0; ch < 4; ++ch) {
            TFonction* function = channelFunction(ch);
            if (!(data.hwChannelMask & (1u << ch)) || !function || !function->IsDefined())
                continue;
            if (channelProbe(ch)) {
                LectureKalvex(static_cast<int16_t>(ch), &data);
            } else {
                std::memcpy(data.*kUnit[ch], init_par.*kUnit[ch], sizeof data.unitCh1);
                data.*kVoltsPerDiv[ch] = init_par.*kVoltsPerDiv[ch];
            }
            if (TAcquisition* trace = channelTrace(ch))
                trace->SetMesureParametres();
        }
    }
    if (mode & kHarmonicBit) {
        SetPowerFct(false, &data);
        invalidateAllHarmonicRecords();
    }
    if (mode == kModeBus)
        data.traceMode = 4;
    // The recorder has no current file until its panel opens one: the name of an earlier
    // recording must not pass for it.
    if (mode == kModeRecorder)
        std::memset(data.loggerFileName, 0, sizeof data.loggerFileName);

    // 6.
    for (int ch = 0; ch < 4; ++ch)
        data.*kRefShown[ch] = 0;
    data.refCapture = 0;
    data.splitLayout = 0;
    data.keyToggleFlag = 0;
    find_coeff();
    SetVoiesValides();
    data.cursorState = mode == kModeViewer ? 1 : 0;
    updateMeasurementReference();
    for (int ch = 0; ch < 4; ++ch)
        if (TAcquisition* trace = channelTrace(ch))
            trace->SetAcquisitionParametres(nullptr);
    for (int ch = 0; ch < 4; ++ch)
        if (TAcquisition* trace = channelTrace(ch))
            trace->RazSignalNormalise(true);
    for (int ch = 0; ch < 4; ++ch)
        if (TAcquisition* trace = referenceTrace(ch))
            trace->RazSignalNormalise(true);
    if (TAcquisition* power = setupLinks().powerAcq)
        power->RazSignalNormalise(true);
    data.saveRestart = 0;
    data.acqRunStop = mode == kModeViewer ? 1 : 0;
    for (int index : {0, 1, 2, 3, kPowerMeasurementA, kPowerMeasurementB})
        zeroMeasurementRecord(index);

    // Leaving bus analysis must reach the bus thread too, or a running diagnosis times out in
    // the next mode's view.
    outcome.busAnyMode = previous == kModeBus;
}

// Zoom rectangle requests (value 4) carry the rectangle by pointer; without one nothing changes.
const TZoomRect* zoomRect(intptr_t pointer)
{
    return reinterpret_cast<const TZoomRect*>(pointer);
}

// Stage 2. False: the request ends here (no post-processing, screen update, forwarding or
// restart).
bool writeParameter(int n, pipe_dial& request, TRequestOutcome& outcome)
{
    const intptr_t value = request.intValue;
    const int16_t word = static_cast<int16_t>(value);
    // The recorder's own settings stay as they are (the rule is shared with the remote handlers).
    if (droppedInMode(n, static_cast<int32_t>(value), data.instrumentMode))
        return false;
    auto store = [n, value] { set_db(adr_par, type_par, n, static_cast<uint32_t>(value)); };

    switch (n) {
    case param::traceMode:
        store();
        if (data.traceMode == 0) {
            postToSelf(param::instrumentMode, kModeScopeDots);
            return false;
        }
        if (data.instrumentMode == kModeScopeDots)
            postToSelf(param::instrumentMode, kModeScope);
        return true;
    case param::acqRunStop:
        store();
        return true;
    case param::sweepOffset:
        data.sweepOffset = clampSigned(value, -92800, 1900000);
        return true;
    case param::measRefChannel:
        store();
        data.indicatorMask = static_cast<uint16_t>((data.indicatorMask & ~0xFu) | (data.measRefChannel & 0xF));
        return true;
    case param::hardcopyRequest:
        if (THomeBridge* bridge = homeBridge())
            bridge->screenHardcopy(reinterpret_cast<char*>(value));  // null: the default name
        return true;
    case param::trigHoldoff:
        data.trigHoldoff = clampSigned(value, 8, 1875000000);
        return true;
    case param::zoomWidth:
        data.horizPosition = static_cast<int32_t>(request.auxValue);
        data.zoomWidth = hundredths(value);
        if (data.zoomWidth == 40.0f)  // the whole record: back to the user's time base
            data.timeBaseIndex = data.userTimeBase;
        return true;
    case param::instrumentMode:
        changeMode(static_cast<uint16_t>(value), outcome);
        return true;
    case param::unitCh1:
    case param::unitCh2:
    case param::unitCh3:
    case param::unitCh4:
        copyText(data.*kUnit[n - param::unitCh1], sizeof data.unitCh1, textAt(value));
        return true;
    case param::probeCoeffCh1:
    case param::probeCoeffCh2:
    case param::probeCoeffCh3:
    case param::probeCoeffCh4:
        data.*kProbeCoeff[n - param::probeCoeffCh1] = request.floatValue;
        return true;
    case param::zoomState:
        if (word == 4) {
            if (const TZoomRect* rect = zoomRect(request.auxValue)) {
                data.vZoomFactor = rect->verticalFactor;
                data.vZoomPosition = rect->verticalPosition;
                data.zoomWidth = rect->windowWidth;
                data.horizPosition = rect->windowPosition;
                data.zoomState = 2;
            }
        } else {
            store();
        }
        adjustHorizontalZoom();
        return true;
    case param::mathExprCh1:
    case param::mathExprCh2:
    case param::mathExprCh3:
    case param::mathExprCh4:
        copyText(data.*kMathExpression[n - param::mathExprCh1], sizeof data.mathExprCh1, textAt(value));
        return true;
    case param::mathFunctionCh1:
    case param::mathFunctionCh2:
    case param::mathFunctionCh3:
    case param::mathFunctionCh4:
        compileMathFunction(n - param::mathFunctionCh1);
        return true;
    case param::fftZoomWidth:
        data.fftHorizPosition = static_cast<int32_t>(request.auxValue);
        data.fftZoomWidth = hundredths(value);
        return true;
    case param::fftZoomState:
        if (word == 4) {
            if (const TZoomRect* rect = zoomRect(request.auxValue)) {
                data.fftVZoomFactor = rect->verticalFactor;
                data.fftVZoomPosition = rect->verticalPosition;
                data.fftZoomWidth = rect->windowWidth;
                data.fftHorizPosition = rect->windowPosition;
                data.fftZoomState = 2;
            }
        } else {
            store();
        }
        return true;
    case param::manualCursorA:
        data.cursor1Time = static_cast<int32_t>(value);
        data.cursor1Level = static_cast<int32_t>(request.auxValue);
        return true;
    case param::manualCursorB:
        data.cursor2Time = static_cast<int32_t>(value);
        data.cursor2Level = static_cast<int32_t>(request.auxValue);
        return true;
    case param::vZoomFactor:
        data.vZoomPosition = static_cast<int32_t>(request.auxValue);
        data.vZoomFactor = hundredths(value);
        return true;
    case param::fftVZoomFactor:
        data.fftVZoomPosition = static_cast<int32_t>(request.auxValue);
        data.fftVZoomFactor = hundredths(value);
        return true;
    case param::xyZoomFactor:
        data.xyZoomPosition = static_cast<int32_t>(request.auxValue);
        data.xyZoomFactor = hundredths(value);
        return true;
    case param::timeBaseIndex:
        store();
        SetUserTimeBase(static_cast<uint16_t>(data.timeBaseIndex));
        return true;
    case param::powerOffRequest:
        powerOff();
    case param::calibrationRead:
    case param::calibrationWrite:
        // Their value is a record's address: stored, its low bits would land in saved setups.
        return true;
    case param::loggerFileName:
        copyText(data.loggerFileName, sizeof data.loggerFileName, textAt(value));
        screenMaj(param::loggerFileName);
        return true;
    case param::meterAuxMeas:
    case param::meterCouplingCh1:
    case param::meterCouplingCh2:
    case param::meterCouplingCh3:
    case param::meterCouplingCh4:
    case param::meterAutoRangeCh1:
    case param::meterAutoRangeCh2:
    case param::meterAutoRangeCh3:
    case param::meterAutoRangeCh4:
        store();
        return true;
    case param::meterFunction:
        store();
        if (data.meterFunction == 16) {
            if (data.instrumentMode != kModeMeterAlt)
                postToSelf(param::instrumentMode, kModeMeterAlt);
        } else if (data.instrumentMode != kModeMeter) {
            postToSelf(param::instrumentMode, kModeMeter);
        }
        return true;
    case param::meterRangeCh1:
    case param::ohmRange:
    case param::capaRange:
    case param::meterRangeCh2:
    case param::meterRangeCh3:
    case param::meterRangeCh4: {
        // A range chosen by hand ends the auto-range; the automatic selection keeps it.
        const int ch = n <= param::capaRange && n >= param::ohmRange ? 0 : (n - param::meterRangeCh1) / 3;
        if (!isSender(request.senderId, RTAC_id))
            data.*kMeterAutoRange[ch] = 0;
        store();
        return true;
    }
    case param::traceColorCh1:
    case param::traceColorCh2:
    case param::traceColorCh3:
    case param::traceColorCh4: {
        const int ch = n - param::traceColorCh1;
        store();
        if (const std::shared_ptr<TKalvex> probe = channelProbe(ch))
            probe->setUserFields(static_cast<unsigned short>(data.*kTraceColor[ch]),
                                 static_cast<unsigned short>(request.auxValue));
        return true;
    }
    case param::trigDelay:
        data.trigDelay = clampUnsigned(value, 6u, 2500000000u);
        return true;
    case param::eventCount:
        data.eventCount = clampSigned(value, 3, 16384);
        return true;
    case param::pulseT1:
        data.pulseT1 = clampSigned(value, 2, 1875000000);
        return true;
    case param::pulseT2:
        data.pulseT2 = clampSigned(value, 2, 1875000000);
        return true;
    case param::busFileName:
        copyText(data.busFileName, sizeof data.busFileName, textAt(value));
        screenMaj(param::busFileName);
        request = pipe_dial{REQ_BUS_STEP, BUS_STEP_LOAD, 0, reinterpret_cast<intptr_t>(data.busFileName), 0.0f,
                            senderValue(COMM_id)};
        outcome.bus = true;
        return true;
    case param::eventDuration:
        data.eventDuration = clampSigned(value, 5, 100000);
        return true;
    default:
        // Link slots stay 0: the live links are rebuilt by recalls, never set by a request.
        if (!isLinkParameter(n))
            store();
        return true;
    }
}

// Everything a changed channel list asks for.
void afterChannelFlags()
{
    SetVoiesValides();
    updateMeasurementReference();
    data.channelOnMask &= data.channelFlags;
}

void restoreDefaultAuxMeasurement()
{
    if (data.meterAuxMeas == 2)
        data.meterAuxMeas = init_par.meterAuxMeas;
}

// The channel's meter measurement and the power measurements are stale.
void clearMeterMeasurements(int ch)
{
    zeroMeasurementRecord(ch);
    zeroMeasurementRecord(kPowerMeasurementA);
    zeroMeasurementRecord(kPowerMeasurementB);
    find_coeff();
}

struct TAutosetChoice {
    const char* text;
    bool (*run)(unsigned short);
    unsigned short argument;
};

bool autosetChoice(int subCode, TAutosetChoice& choice)
{
    static const char* const kTrigger[4] = {"trig on CH1", "trig on CH2", "trig on CH3", "trig on CH4"};
    static const char* const kChannel[4] = {"ch1", "ch2", "ch3", "ch4"};
    const auto arg = [](int i) { return static_cast<unsigned short>(i); };
    if (subCode == 0)
        choice = {"", Autoset, 4};
    else if (subCode >= 1 && subCode <= 4)
        choice = {kTrigger[subCode - 1], Autoset, arg(subCode - 1)};
    else if (subCode >= 5 && subCode <= 8)
        choice = {kChannel[subCode - 5], AutosetVertical, arg(subCode - 5)};
    else if (subCode == 9)
        choice = {"", AutosetFft, 4};
    else if (subCode >= 10 && subCode <= 13)
        choice = {kTrigger[subCode - 10], AutosetFft, arg(subCode - 10)};
    else if (subCode >= 14 && subCode <= 17)
        choice = {kChannel[subCode - 14], AutosetVerticalFFT, arg(subCode - 14)};
    else
        return false;
    return true;
}

// True when settings were found. The acquisition stays stopped: the restart message resumes it.
bool runAutoset(int subCode)
{
    AcqSuspend();
    const bool wasDotsMode = data.instrumentMode == kModeScopeDots;
    bool found = false;
    TAutosetChoice choice{};
    if (autosetChoice(subCode, choice)) {
        message(MessageAutoset, choice.text);
        pauseMs(100);
        found = choice.run(choice.argument);
        message(MessageClear);
        if (!found) {
            message(MessageAutosetFailed);
            pauseMs(100);
        } else {
            if (wasDotsMode)
                screenRaz();
            postToSelf(param::acqRunStop, 0);
        }
    } else {
        message(MessageClear);
        message(MessageAutosetFailed);
        pauseMs(100);
    }
    resetPassFailCounter();
    SetVoiesValides();
    find_coeff();
    // The hold ends here without waking the acquisition: the restart order that follows makes
    // the acquisition control thread suspend and resume it with 1.
    AcqReleaseHold();
    return found;
}

void copyToReference(int ch)
{
    TAcquisition* reference = referenceTrace(ch);
    TAcquisition* live = channelTrace(ch);
    if (!reference || !live)
        return;
    *reference = *live;
    data.*kRefShown[ch] = 1;
    data.*kRefOffset[ch] = data.*kOffset[ch];
    data.*kRefFftOffset[ch] = data.*kFftOffset[ch];
}

void captureReference(int value)
{
    AcqSuspend();
    switch (value) {
    case 0:
        for (int ch = 0; ch < 4; ++ch) {
            if (TAcquisition* reference = referenceTrace(ch))
                reference->RazSignalNormalise(true);
            data.*kRefShown[ch] = 0;
        }
        break;
    case 0x11:
    case 0x22:
    case 0x44:
    case 0x88:
        copyToReference(value == 0x11 ? 0 : value == 0x22 ? 1 : value == 0x44 ? 2 : 3);
        break;
    case 255:
        for (int ch = 0; ch < 4; ++ch)
            if (channelShown(ch))
                copyToReference(ch);
        break;
    default:
        break;
    }
    AcqResume(SYNCHRO_RESUME);
    SetVoiesValides();
    updateMeasurementReference();
}

void buildPassFailMask()
{
    if (!data.passFailOn)
        return;
    message(MessagePassFailMask);
    pauseMs(100);
    const int source = data.passFailSource >= 1 && data.passFailSource <= 3 ? data.passFailSource : 0;
    TAcquisition* mask = setupLinks().maskAcq;
    TAcquisition* trace = channelTrace(source);
    if (mask && trace)
        mask->genPassFailMask(trace, data.passFailXMask / 100.0f, data.passFailYMask / 100.0f);
    message(MessageClear);
}

void readCalibration(intptr_t target)
{
    auto* record = reinterpret_cast<calibration*>(target);
    if (!record)
        return;
    calibrationStampChecksum(param_calibr);
    if (record != &param_calibr)
        std::memcpy(record, &param_calibr, sizeof(calibration));
}

void writeCalibration(intptr_t source)
{
    const auto* record = reinterpret_cast<const calibration*>(source);
    if (record && record != &param_calibr)
        std::memcpy(&param_calibr, record, sizeof(calibration));
}

void saveCalibration(const pipe_dial& request)
{
    message(MessageCalibrationStore);
    pauseMs(100);
    const int result = CalibrationSave(&param_calibr, !isSender(request.senderId, MENU_id));
    message(MessageClear);
    // A calibration that did not reach the file is reported, as a file save is.
    if (isSender(request.senderId, SCPI_id)) {
        data.deviceError = result != 0 ? 22 : 0;
    } else if (result != 0) {
        message(result);
        pauseMs(100);
    }
}

struct TPostResult {
    bool finished = false;      // nothing else follows: no screen update, forwarding or restart
    bool autosetFound = false;
};

// Stage 3.
TPostResult postProcess(int n, pipe_dial& request, TRequestOutcome& outcome)
{
    TPostResult result;
    switch (n) {
    case param::acqRunStop:
        if (data.acqRunStop == 1) {
            if (data.instrumentMode == kModeMeter) {
                message(MessageMeterHeld);
                pauseMs(100);
            }
        } else if (data.acqRunStop == 0) {
            data.channelOnMask = 0;
            if (data.instrumentMode == kModeMeter)
                message(MessageClear);
        }
        break;
    case param::sweepOffset:
    case param::horizPosition:
    case param::trigHoldoff:
    case param::fftHorizPosition:
    case param::passFailDisplay:
        resetPassFailCounter();
        break;
    case param::trigMode:
        if (data.trigMode == 2) {
            data.acqRunStop = 1;
        } else {
            data.acqRunStop = 0;
            data.channelOnMask = 0;
        }
        break;
    case param::channelFlags:
        afterChannelFlags();
        break;
    case param::traceOnCh1:
    case param::traceOnCh2:
    case param::traceOnCh3:
    case param::traceOnCh4: {
        const int ch = (n - param::traceOnCh1) / 2;
        invalidateHarmonicRecord(ch);
        invalidateHarmonicRecord(kPowerHarmonicRecord);
        if (TAcquisition* trace = channelTrace(ch))
            trace->SetIdentifier(static_cast<unsigned short>(1u << ch));
        data.*kMemoryTrace[ch] = 0;
        if (!(data.*kTraceOn[ch])) {
            if (TFonction* function = channelFunction(ch))
                function->RAZ();
            data.*kRefShown[ch] = 0;
        }
        afterChannelFlags();
        break;
    }
    case param::couplingCh1:
    case param::couplingCh2:
    case param::couplingCh3:
    case param::couplingCh4:
    case param::unitCh1:
    case param::unitCh2:
    case param::unitCh3:
    case param::unitCh4:
    case param::probeCoeffCh1:
    case param::probeCoeffCh2:
    case param::probeCoeffCh3:
    case param::probeCoeffCh4:
    case param::auxCoeffCh1:
    case param::auxCoeffCh2:
    case param::auxCoeffCh3:
    case param::auxCoeffCh4:
    case param::bwLimitCh1:
    case param::bwLimitCh2:
    case param::bwLimitCh3:
    case param::bwLimitCh4:
        find_coeff();
        break;
    case param::autosetRequest:
        result.autosetFound = runAutoset(data.autosetRequest);
        break;
    case param::spareWord29:
    case param::instrumentMode:
        restoreDefaultAuxMeasurement();
        updateMeasurementReference();
        resetPassFailCounter();
        find_coeff();
        break;
    case param::sensitivityCh1:
    case param::sensitivityCh2:
    case param::sensitivityCh3:
    case param::sensitivityCh4:
        invalidateHarmonicRecord(n - param::sensitivityCh1);
        invalidateHarmonicRecord(kPowerHarmonicRecord);
        find_coeff();
        break;
    case param::traceFormat:
        data.refCapture = 0;
        for (int ch = 0; ch < 4; ++ch) {
            data.*kRefShown[ch] = 0;
            if (TAcquisition* reference = referenceTrace(ch))
                reference->RazSignalNormalise(true);
        }
        resetPassFailCounter();
        SetVoiesValides();
        if (data.traceFormat == 1) {  // FFT: no software zoom below time base 6
            data.zoomState = 0;
            data.timeBaseIndex = std::max<int16_t>(data.timeBaseIndex, 6);
            data.horizPosition = init_par.horizPosition;
            data.zoomWidth = init_par.zoomWidth;
            SetUserTimeBase(static_cast<uint16_t>(data.timeBaseIndex));
        } else if (data.traceFormat == 2) {  // XY
            data.zoomState = 0;
            data.horizPosition = init_par.horizPosition;
            data.zoomWidth = init_par.zoomWidth;
        }
        find_coeff();
        break;
    case param::refCapture:
        captureReference(data.refCapture);
        break;
    case param::refShownCh1:
    case param::refShownCh2:
    case param::refShownCh3:
    case param::refShownCh4:
        SetVoiesValides();
        updateMeasurementReference();
        break;
    case param::cursorState:
        updateMeasurementReference();
        SetCursorsInScreen(static_cast<unsigned short>(data.cursorState));
        screenMaj(param::cursorState);
        break;
    case param::displayBrightness:
        CmdeAnalogique(ANALOG_BACKLIGHT_LEVEL, data.displayBrightness);
        break;
    case param::trigSource:
    case param::qualifSource:
    case param::trigType:
        SetVoiesValides();
        break;
    case param::timeBaseIndex:
        find_coeff();
        if (data.zoomState == 0) {
            data.horizPosition = 0;
            data.zoomWidth = 40.0f;
        }
        if (data.fftZoomState == 0) {
            data.fftHorizPosition = 0;
            data.fftZoomWidth = 40.0f;
        }
        resetPassFailCounter();
        break;
    case param::calRange:
        message(MessageCalibrationStep);
        pauseMs(100);
        outcome.operation = true;
        break;
    case param::calibrationRead:
        readCalibration(request.intValue);
        result.finished = true;
        break;
    case param::calibrationWrite:
        writeCalibration(request.intValue);
        break;
    case param::calibrationSave:
        saveCalibration(request);
        result.finished = true;
        break;
    case param::meterFunction:
        SetPowerFct(data.meterFunction == 9, &data);
        updateMeasurementReference();
        find_coeff();
        break;
    case param::meterCouplingCh1:
    case param::meterCouplingCh2:
    case param::meterCouplingCh3:
    case param::meterCouplingCh4: {
        const int ch = (n - param::meterCouplingCh1) / 3;
        data.*kMeterAutoRange[ch] = 1;
        restoreDefaultAuxMeasurement();
        clearMeterMeasurements(ch);
        break;
    }
    case param::meterRangeCh1:
    case param::meterRangeCh2:
    case param::meterRangeCh3:
    case param::meterRangeCh4:
        clearMeterMeasurements((n - param::meterRangeCh1) / 3);
        break;
    case param::ohmRange:
    case param::capaRange:
        clearMeterMeasurements(0);
        break;
    case param::busDiag:
        request = pipe_dial{REQ_BUS_STEP, data.busDiag ? BUS_STEP_STOP : BUS_STEP_START, 0, 0, 0.0f,
                            senderValue(COMM_id)};
        screenMaj(param::busDiag);
        outcome.bus = true;
        break;
    case param::harmPower:
        SetPowerFct(false, &data);
        invalidateAllHarmonicRecords();
        break;
    case param::passFailSource:
        buildPassFailMask();
        break;
    case param::passFailXMask:
    case param::passFailYMask:
    case param::passFailOn:
        resetPassFailCounter();
        buildPassFailMask();
        break;
    case param::passFailRunStop:
        if (data.passFailRunStop)
            resetPassFailCounter();
        break;
    default:
        break;
    }
    return result;
}

bool applies(TForwardRule rule, bool changed, bool remote)
{
    switch (rule) {
    case TForwardRule::Yes:
    case TForwardRule::CalibrationStep:
        return true;
    case TForwardRule::InScope:
        return inScopeMode();
    case TForwardRule::WhenChanged:
        return changed;
    case TForwardRule::WhenRemote:
        return remote;
    case TForwardRule::No:
    default:
        return false;
    }
}

// Offset, coupling, sensitivity, FFT offset and bandwidth limit of channel 1..4: the channel's
// stored memory when it shows one, the live channel when shown, else nothing (still sent).
int32_t channelRestartMask(int channel)
{
    const uint32_t bit = 1u << (channel - 1);
    if (data.passFailSource == channel - 1)
        resetPassFailCounter();
    if (data.channelFlags & (bit << 8))
        return static_cast<int32_t>(bit << 8);
    if (data.channelFlags & bit)
        return data.instrumentMode == kModeScopeDots ? 15 : static_cast<int32_t>(bit);
    return 0;
}

// Stage 4.
void decideFollowUp(int n, const pipe_dial& request, int32_t before, bool autosetFound, TRequestOutcome& outcome)
{
    const TParameterRule& rule = parameterRule(n);
    const bool changed = before != get_db(adr_par, type_par, &data, static_cast<uint32_t>(n));
    const bool remote = fromRemote(request);

    // The XY display follows the time display when both XY sources are one channel.
    if ((n == param::xySourceX || n == param::xySourceY || n == param::vZoomFactor || n == param::fftVZoomFactor
         || n == param::xyZoomFactor)
        && data.xySourceX == data.xySourceY) {
        data.xyZoomFactor = data.vZoomFactor;
        data.xyZoomPosition = data.vZoomPosition;
    }

    switch (rule.screen) {
    case TScreenRule::Maj:
        screenMaj(n);
        break;
    case TScreenRule::Raz:
        screenRaz();
        break;
    case TScreenRule::MajInScope:
        if (inScopeMode())
            screenMaj(n);
        break;
    case TScreenRule::RazInMode19:
        if (data.instrumentMode == kModeScopeDots)
            screenRaz();
        else
            screenMaj(n);
        break;
    case TScreenRule::MajAfterAutoset:
        if (autosetFound)
            screenMaj(n);
        break;
    case TScreenRule::None:
        break;
    }

    if (applies(rule.measure, changed, remote))
        outcome.measure = true;
    if (rule.bus)
        outcome.bus = true;
    if (applies(rule.restart, changed, remote)) {
        const TRestartEntry& entry = restartEntry(n);
        int32_t mask = entry.mask;
        if (entry.rule == TMaskRule::Channel)
            mask = channelRestartMask(entry.mask);
        else if (entry.rule == TMaskRule::AuxValue)
            mask = static_cast<int32_t>(request.auxValue);
        outcome.restart(rule.restartCode >= 0 ? rule.restartCode : n, mask, entry.action);
    }
}

} // namespace

void applyParameterRequest(pipe_dial& request, TRequestOutcome& outcome)
{
    const int n = request.code & 0xFFFF;
    if (n >= kParameterCount)
        return;
    // Stage 1: the value before, for the "when changed" rules.
    const int32_t before = get_db(adr_par, type_par, &data, static_cast<uint32_t>(n));
    if (!writeParameter(n, request, outcome))
        return;
    const TPostResult post = postProcess(n, request, outcome);
    if (post.finished)
        return;
    decideFollowUp(n, request, before, post.autosetFound, outcome);
}
