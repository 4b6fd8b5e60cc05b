#include "core/command.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/acquisit.h"
#include "acquisition/measure.h"
#include "board/board.h"
#include "board/deviceio.h"
#include "busanalysis/busAnalysisCore.h"
#include "core/calibfile.h"
#include "core/command_helpers.h"
#include "core/command_param.h"
#include "core/files.h"
#include "core/frontpanel.h"
#include "core/gest_db.h"
#include "core/homebridge.h"
#include "core/process.h"
#include "core/sdcard.h"
#include "core/setup.h"
#include "core/setup_consistency.h"
#include "core/sysserv.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/handshake.h"
#include "hardware/kalvex.h"
#include "hardware/selftest.h"
#include "network/ScopeAdmin.h"
#include "network/ScopeHttpd.h"
#include "network/pelanodeInterface.h"
#include "network/requestkey.h"
#include "scpi/scpi.h"
#include "scpi/io.h"
#include "ui/viewer/viewereventlistfactory.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

uint16_t pendingAcknowledge = 0;
bool b_g_scpiOrigin = false;
uint16_t us_g_hwChannels = 15;
std::atomic<uint8_t> ScreenSaverActif{0};

pthread_mutex_t o_g_synchroSavRelMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_synchroSavRelCond = PTHREAD_COND_INITIALIZER;
bool b_g_saveRestartDone = false;
std::atomic<bool> b_g_stateNoticePending{false};

bool isSender(intptr_t senderId, const pthread_t& identity)
{
    if (&identity == &MENU_id)
        return senderId == kSenderUserInterface;
    const intptr_t value = senderValue(identity);
    return value != 0 && senderId == value;
}

using namespace command_util;

namespace {

constexpr int kTwoChannelMask = 9;
constexpr int kFourChannelMask = 15;

// Identifier of the probe on channel n, when one is linked and reads without error; else 0.
uint16_t probeIdentifier(int n)
{
    const std::shared_ptr<TKalvex> probe = channelProbe(n);
    unsigned short id = 0;
    if (!probe || probe->getId(nullptr, &id) != 0)
        return 0;
    return id;
}

bool isWarningProbe(uint16_t id)
{
    return id == 9 || id == 36;
}

// The file's base name: the text after the last '/', all of it when there is none.
const char* baseName(const char* name)
{
    if (!name)
        return "";
    const char* slash = std::strrchr(name, '/');
    return slash ? slash + 1 : name;
}

void holdAcquisition()
{
    pipe_dial hold{REQ_SET_PARAM, param::acqRunStop, 0, 1, 0.0f, kSenderUserInterface};
    o_g_consMessageBox.send(&hold);
}

void signalSaveRestartDone()
{
    pthread_mutex_lock(&o_g_synchroSavRelMutex);
    b_g_saveRestartDone = true;
    pthread_cond_signal(&o_g_synchroSavRelCond);
    pthread_mutex_unlock(&o_g_synchroSavRelMutex);
}

void applyFile(pipe_dial& request, TRequestOutcome& outcome)
{
    const int32_t action = request.code;
    const char* name = reinterpret_cast<const char*>(request.intValue);
    const char* comment = reinterpret_cast<const char*>(request.auxValue);
    const bool fromRealTime = isSender(request.senderId, RTAC_id);

    isSdcardPresent();  // the file functions choose their directory from it themselves
    const bool suspends = action != fileTraceSaveAlt;
    if (suspends)
        AcqSuspend();

    int result = 0;
    bool known = true;
    switch (action) {
    case fileTraceSave:
        message(MessageFileWrite, baseName(name));
        pauseMs(100);
        result = TraceSaveAll(&data, name, comment);
        if (result != 0 && fromRealTime)
            holdAcquisition();
        message(MessageClear);
        break;
    case fileTraceSaveAlt:
        message(MessageFileWrite, baseName(name));
        pauseMs(100);
        result = TraceSaveAll(&data, name, comment);
        message(MessageClear);
        signalSaveRestartDone();
        break;
    case fileSetupSave:
        message(MessageFileWrite, baseName(name));
        pauseMs(100);
        result = SetupSave(name, false, comment);
        break;
    case fileSetupApply: {
        auto* image = reinterpret_cast<database*>(request.intValue);
        if (!image) {
            result = 20;  // no image: nothing to apply
            break;
        }
        result = SetupRecallPostTraitement(image, false, us_g_hwChannels, 0);
        SetUserTimeBase(static_cast<uint16_t>(data.timeBaseIndex));
        find_coeff();
        screenMaj(29);
        request = pipe_dial{REQ_BUS_STEP, BUS_STEP_APPLIED, 0, 0, 0.0f, senderValue(COMM_id)};
        outcome.bus = true;
        outcome.restart(29, CH_ALL, ACQ_RESTART_32);
        break;
    }
    case fileFunctionSave:
        message(MessageFileWrite, baseName(name));
        pauseMs(100);
        result = FunctionSaveAll(&data, name, comment);
        break;
    case fileHarmonicSave:
        message(MessageFileWrite, baseName(name));
        pauseMs(100);
        // The harmonic copy takes a name for granted.
        result = name ? HarmonicSaveAll(&data, name, comment) : 19;
        break;
    case fileLoggerRecall: {
        keepLiveChannelsForViewer();
        result = LoggerRecallAll(&data, name);
        SetVoiesValides();
        if (auto* worker = reinterpret_cast<ViewerEventListFactory*>(request.auxValue)) {
            worker->setFilterParams(&data);
            worker->init(QString::fromUtf8(data.loggerFileName,
                                           static_cast<int>(strnlen(data.loggerFileName, sizeof data.loggerFileName))));
            worker->exec();
        }
        data.measRefChannel = static_cast<int16_t>(GetMesureReference());
        resetZooms();
        if (result == 0)  // a refused recall keeps the plain window
            fitViewerWindow();
        else
            SetViewerSpan(TRecordedExtent{0, 0});
        screenMaj(8);
        outcome.restart(8, CH_ALL, ACQ_RESTART_CLEAR);
        break;
    }
    case fileBatchRecall:
        result = batchRecall(us_g_hwChannels);
        SetVoiesValides();
        outcome.restart(8, CH_ALL, ACQ_RESTART_CLEAR);
        break;
    case fileMaskSave:
        message(MessageFileWrite, baseName(name));
        pauseMs(100);
        result = PassFailMaskSave(&data, name, comment);
        if (result != 0 && fromRealTime)
            holdAcquisition();
        message(MessageClear);
        break;
    case fileTraceRecall:
        result = TraceRecallAll(&data, name);
        outcome.restart(214, CH_MASK_TRACE, ACQ_RESTART_CLEAR);
        break;
    default:
        known = false;  // suspends and resumes, reports nothing
        break;
    }

    // The report follows the record as it is now: an applied image has become the controller's.
    if (known) {
        if (isSender(request.senderId, SCPI_id)) {
            data.deviceError = result != 0 ? 22 : 0;
        } else if (result != 0) {
            message(result);
            pauseMs(100);
        }
    }

    if (suspends)
        AcqResume(SYNCHRO_RESUME);
}

void applyChannelState(pipe_dial& request, TRequestOutcome& outcome)
{
    if (request.kind == REQ_CHANNEL_STATE2 && data.trigMode != 3)
        request.kind = REQ_CHANNEL_STATE;

    const uint32_t bits = static_cast<uint32_t>(request.intValue);
    uint32_t keep = 0x001F1F1Fu;
    if (bits & 0xFu) {
        for (uint32_t b = 1; b <= 8; b <<= 1)
            if (bits & b)
                keep &= ~(b | (b << 8) | (b << 16));
    } else {
        keep = 0xFFFFFFFFu;
    }
    data.channelOnMask = bits | (data.channelOnMask & keep);

    if (data.instrumentMode == 17) {
        request = pipe_dial{REQ_BUS_STEP, BUS_STEP_ACQUIRED, 0, 0, 0.0f, senderValue(COMM_id)};
        outcome.bus = true;
    }
    screenRefresh();
    if (data.acqRunStop == 1 && (data.instrumentMode & 0x10))
        outcome.restart(0, CH_ALL, ACQ_RESTART_FULL);
}

void applyManualMeasurement(const pipe_dial& request)
{
    // Seven words: t0..t6.
    if (const int32_t* t = setupLinks().cursorTablePtr) {
        const bool first = request.code != 91;
        const bool second = request.code != 90;
        if (first) {
            data.cursor1Time = t[0];
            data.cursor1Level = t[2];
            data.xyCursor1X = t[5];
        }
        if (second) {
            data.cursor2Time = t[1];
            data.cursor2Level = t[3];
            data.xyCursor2X = t[6];
        }
    }
    if (THomeBridge* bridge = homeBridge())
        bridge->screenManualMeasurement();
}

void applyScreen(const pipe_dial& request)
{
    if (request.code == 2) {
        message(static_cast<int>(request.intValue), reinterpret_cast<const char*>(request.auxValue));
        pauseMs(100);
    } else if (THomeBridge* bridge = homeBridge()) {
        bridge->screenIhm(request.code, static_cast<int>(request.auxValue), static_cast<int>(request.intValue));
    }
}

void applyScreenSaver(const pipe_dial& request, TRequestOutcome& outcome)
{
    switch (request.code) {
    case 1:
        ScreenSaverActif = 1;
        break;
    case 3:
        ScreenSaverActif = 0;
        SetVoiesValides();
        break;
    case 5:
        ScreenSaverActif = ScreenSaverActif ? 0 : 1;
        break;
    default:
        break;
    }
    const bool on = ScreenSaverActif != 0;
    EconomiseurEcran(on);
    if (!on)
        outcome.restart(param::instrumentMode, CH_ALL, ACQ_RESTART_CLEAR);
}

void applyProbeEvent(const pipe_dial& request, TRequestOutcome& outcome)
{
    if (data.instrumentMode == 256) {
        screenKalvex();
        return;
    }
    AcqSuspend();
    pauseMs(500);
    const int n = (request.code >= 1 && request.code <= 3) ? request.code : 0;
    const int screenCode = param::traceOnCh1 + 2 * n;
    const int32_t channelBit = 1 << n;
    const int r = LectureKalvex(static_cast<int16_t>(n), &data);
    AcqResume(SYNCHRO_RESUME);

    if (r < 0 || r >= 5)
        return;
    SetVoiesValides();
    data.measRefChannel = static_cast<int16_t>(GetMesureReference());
    find_coeff();
    switch (r) {
    case 1:
    case 2:
        screenMaj(screenCode);
        screenKalvex();
        outcome.restart(screenCode, channelBit, ACQ_RESTART_CLEAR);
        break;
    case 3:
        screenMaj(screenCode);
        break;
    default:  // 0 or 4
        if (TAcquisition* trace = channelTrace(n))
            trace->SetIdentifier(static_cast<unsigned short>(channelBit));
        screenMaj(screenCode);
        if (channelProbe(n) && (r & ~4) == 0) {
            if (isWarningProbe(probeIdentifier(n))) {
                message(MessageProbeWarning);
                pauseMs(100);
            }
            screenKalvex();
        }
        outcome.restart(screenCode, channelBit, ACQ_RESTART_CLEAR);
        break;
    }
}

void markUserActivity()
{
    // Never created here: the meter and recorder views delete it to suspend the auto-off.
    int fd = ::open(boardPath("/var/tmp/auto_off").c_str(), O_WRONLY);
    if (fd < 0)
        return;
    ssize_t written = ::write(fd, " ", 1);
    (void)written;
    ::close(fd);
}

void scanProbes(bool& warning)
{
    for (int n = 0; n < 4; ++n) {
        if (!(us_g_hwChannels & (1 << n)))
            continue;
        TFonction* function = channelFunction(n);
        if (function && function->IsDefined() && channelShown(n))
            continue;
        const int r = LectureKalvex(static_cast<int16_t>(n), &data);
        if (!channelProbe(n) || (r & ~4) != 0)
            continue;
        const uint16_t id = probeIdentifier(n);
        if (TAcquisition* trace = channelTrace(n))
            trace->SetAcquisitionParametres(nullptr);
        if (isWarningProbe(id))
            warning = true;
    }
}

} // namespace

void commandStartup()
{
    // 1. Every thread gets round-robin attributes from startThread.
    // 2.
    ChipAcqDrv();
    // 3. The root window.
    while (!homeBridge())
        pauseMs(100);
    // 4.
    message(MessageStartup);
    pauseMs(100);
    if (THomeBridge* bridge = homeBridge())
        bridge->showWindow();
    // 5. Defaults; the run-time links live outside the record.
    std::memcpy(&data, &init_par, sizeof(database));
    // 6.-8.
    BaseInit(0);
    static char driverName[] = "chip_acq";
    ChipAcqOpen(driverName, 2);
    us_g_hwChannels = EtatLogique(ETAT_TWO_CHANNEL_MODEL) != 0 ? kTwoChannelMask : kFourChannelMask;
    // 9.-11.
    TStartupRefusals refused;
    Startup(&param_calibr, us_g_hwChannels, &refused);
    data.instrumentMode = 0x8000;
    setUsbMassStorage(0x8000);
    CmdeAnalogique(ANALOG_BACKLIGHT_LEVEL, data.displayBrightness);
    // 12. The model letters are bytes 4 and 5 of the calibration record.
    const auto* calib = reinterpret_cast<const unsigned char*>(&param_calibr);
    if (THomeBridge* bridge = homeBridge())
        bridge->setBrandVisible(calib[4] == 'Q' && calib[5] == 'V');
    // 13. Self test. A board model that needs no wall time to settle or acquire runs it quickly.
    deviceIO().quickCalibration(true);
    FrontEndInit(&param_calibr);
    data.selfTestResult = AutoTest(&param_calibr);
    CmdeLogique(CMDE_SELFTEST_LAMPS, data.selfTestResult);
    FrontEndInit(&param_calibr);
    data.selfTestResult = AcqTransfertInit(&param_calibr);
    deviceIO().quickCalibration(false);
    if (data.selfTestResult != 0xFFFF) {
        message(MessageSelfTestFailed);
        pauseMs(100);
    }
    // 14.-16.
    SetVoiesValides();
    ChipAcqIoctl(0, nullptr);
    // Only a test's power-off ends what starts here (the program ends with the process).
    registerPowerOffUndo("SCPI transports", [] {
        stopScpiTransports();
        return true;
    });
    startScpiOverTcp();
    startScpiOverUsb();
    startServiceThread(&tWEBSd_id, ScopeHttpd, nullptr, 80, "tWEBSd", ScopeHttpdStop);
    startServiceThread(&tAPPLd_id, pelanodeInterface, nullptr, 50, "tAPPLd", pelanodeInterfaceStop);
    startServiceThread(&tSADMd_id, ScopeAdmin, nullptr, 60, "tSADMd", ScopeAdminStop);
    startServiceThread(&SCPI_id, scpi, nullptr, 40, "scpi", stopScpiInterpreter);
    startServiceThread(&MEAS_id, measure, &data, 25, "MEAS", measureStop);
    startServiceThread(&tBUS_id, busAnalysisCore, &data, 30, "tBUS", busAnalysisCoreStop);
    // Its own end has the same name: the one registered here, before the thread runs, holds.
    startServiceThread(&tSDCARD_id, sdcard_detect, nullptr, 20, "SD-card watcher", [] { sdcardDetectEnd(50); });
    // 17. Smart probes, on the first start after boot only.
    bool probeWarning = false;
    const std::string marker = boardPath("/var/tmp/tavlinStarted");
    int fd = ::open(marker.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::close(fd);
    } else {
        fd = ::creat(marker.c_str(), 0777);
        if (fd >= 0)
            ::close(fd);
        scanProbes(probeWarning);
    }
    // 18.-22.
    SetVoiesValides();
    data.measRefChannel = static_cast<int16_t>(GetMesureReference());
    find_coeff();
    startServiceThread(&TRAD_id, FrontPanel, nullptr, 45, "TRAD", FrontPanelStop);
    screenMaj(14);
    startAcquisitionThread(&ACQU_id, acquisit, &param_calibr, 20);
    ScreenSaverActif = 0;
    BaseInit(1);
    // 23. The batch recall is the first request the loop applies after what others queued.
    pipe_dial batch{REQ_FILE, fileBatchRecall, 0, 0, 0.0f, senderValue(COMM_id)};
    o_g_consMessageBox.send(&batch);
    // 24.
    message(MessageClear);
    // A damaged stored file was replaced: the user must know the instrument runs uncalibrated
    // or on the default setup.
    if (refused.calibration) {
        std::string names = baseName(kCalibrationFile);
        if (refused.setup)
            names += std::string(" ") + baseName(kPowerOnSetupFile);
        message(MessageStartup, names.c_str());
        pauseMs(100);
    } else if (refused.setup) {
        message(MessageSetupFileDamaged);
        pauseMs(100);
    }
    if (probeWarning) {
        message(MessageProbeWarning);
        pauseMs(100);
    }
}

void applyRequest(pipe_dial& request)
{
    // The SCPI completion judges the sender as the record was taken.
    bool completesScpi = isSender(request.senderId, SCPI_id);
    const bool scpiOriginBefore = b_g_scpiOrigin;

    // 2. User requests mark activity.
    const bool fromKeys = isSender(request.senderId, TRAD_id);
    const bool fromMenu = isSender(request.senderId, MENU_id);
    const bool fromScpi = completesScpi;
    const bool fromWeb = isSender(request.senderId, tWEBSd_id);
    // The hardcopy key counts as SCPI here and in steps 3 to 5, never for the SCPI hand-off.
    const bool fromHardcopy = request.senderId == kSenderHardcopyKey;
    const bool userRequest = fromKeys || fromMenu || fromScpi || fromWeb || fromHardcopy;
    if (userRequest)
        markUserActivity();
    if (fromScpi)
        b_g_scpiOrigin = true;

    // 3. The held meter runs again first.
    if (data.instrumentMode == 128 && data.acqRunStop == 1 && request.kind != REQ_PROBE_EVENT
        && (fromKeys || fromMenu || fromScpi || fromHardcopy)) {
        if (fromScpi || fromHardcopy) {
            o_g_consMessageBox.send(&request);
            // The re-posted copy completes the SCPI request; the run request does not.
            completesScpi = false;
            b_g_scpiOrigin = scpiOriginBefore;
        }
        request.kind = REQ_SET_PARAM;
        request.code = param::acqRunStop;
        request.intValue = 0;
    }

    // 4. Local and SCPI setting changes make web clients' views stale.
    if (request.kind == REQ_SET_PARAM && (fromKeys || fromMenu || fromScpi || fromHardcopy))
        ResetRequestKey();

    // 5. A user request wakes the screen saver; keys and touches do nothing more.
    if (ScreenSaverActif && userRequest) {
        pipe_dial wake{REQ_SCREEN_SAVER, 3, 0, 0, 0.0f, kSenderTimer};
        o_g_consMessageBox.send(&wake);
        if (fromKeys || fromMenu)
            return;
    }

    // The bus thread's settings and step setups belong to its diagnosis: those it sent before it
    // learnt that the bus analysis was left are dropped, or a step's setup would bring the bus
    // mode back behind the screen's back and a stop would hold the next mode.
    if (isSender(request.senderId, tBUS_id) && data.instrumentMode != 17
        && (request.kind == REQ_SET_PARAM || request.kind == REQ_FILE))
        request.kind = 0;  // a kind that does nothing

    // 6. Dispatch.
    TRequestOutcome outcome;
    switch (request.kind) {
    case REQ_SET_PARAM:
        applyParameterRequest(request, outcome);
        break;
    case REQ_FILE:
        applyFile(request, outcome);
        break;
    case REQ_ACQ_DONE:
        screenMaj(90);
        pendingAcknowledge &= static_cast<uint16_t>(~8u);
        screenRefresh();
        break;
    case REQ_CHANNEL_STATE:
    case REQ_CHANNEL_STATE2:
        applyChannelState(request, outcome);
        break;
    case REQ_MANUAL_MEAS:
        applyManualMeasurement(request);
        break;
    case REQ_SCREEN:
        applyScreen(request);
        break;
    case REQ_OPERATION_DONE:
        message(MessageClear);
        pendingAcknowledge &= static_cast<uint16_t>(~0x800u);
        data.deviceError = request.code == 0 ? 22 : 0;
        break;
    case REQ_SCREEN_SAVER:
        applyScreenSaver(request, outcome);
        break;
    case REQ_PROBE_EVENT:
        applyProbeEvent(request, outcome);
        break;
    default:
        break;
    }

    // 7. No acquisition message of any kind while a calibration step is pending.
    bool sent = false;
    if (outcome.acquisition && !(pendingAcknowledge & 0x800)) {
        TLongArray restart{outcome.code, outcome.channelMask, outcome.actionBits, senderValue(COMM_id)};
        o_g_acquMessageBox.send(&restart);
        sent = true;
    }

    // 8.
    if (outcome.measure)
        o_g_measMessageBox.send(&request);
    if (outcome.bus && (data.instrumentMode == 17 || outcome.busAnyMode))
        o_g_busMessageBox.send(&request);

    // 9. SCPI completion.
    if (completesScpi) {
        if (outcome.operation) {
            pendingAcknowledge = 0x800;
        } else if (sent) {
            pendingAcknowledge = 8;
        } else {
            pendingAcknowledge = 0;
            scpi_SemP();
            b_g_scpiOrigin = false;
        }
    } else if (pendingAcknowledge == 0 && b_g_scpiOrigin) {
        scpi_SemP();
        b_g_scpiOrigin = false;
    }
}

void postStateNotice(const pipe_dial& notice)
{
    pipe_dial record = notice;
    if (record.kind == REQ_CHANNEL_STATE || record.kind == REQ_CHANNEL_STATE2) {
        if (b_g_stateNoticePending.exchange(true))
            return;
        if (o_g_consMessageBox.send(&record) != 0)
            b_g_stateNoticePending.store(false);
        return;
    }
    o_g_consMessageBox.send(&record);
}

void commandLoopPass()
{
    pipe_dial request{};
    if (o_g_consMessageBox.receive(&request, true, 0) == 0) {
        if (request.kind == REQ_CHANNEL_STATE || request.kind == REQ_CHANNEL_STATE2)
            b_g_stateNoticePending.store(false);
        applyRequest(request);
    }
}

namespace {
std::atomic<bool> g_commandStop{false};
}

void commandStop()
{
    g_commandStop = true;
    // Any record wakes the loop; one of kind 0 from no sender asks for nothing.
    pipe_dial wake{0, 0, 0, 0, 0.0f, 0};
    o_g_consMessageBox.send(&wake);
}

void* command(void*)
{
    g_commandStop = false;
    commandStartup();
    while (!g_commandStop)
        commandLoopPass();
    return nullptr;
}
