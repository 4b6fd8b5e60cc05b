// The acquisition control thread and the real-time acquisition thread.
//
// acquisit applies the controller's restart orders while startacq is parked between two cycles;
// the decisions live in acquisit_rules, this file only sequences them. Suspend, resume, park and
// the waits go through the handshake helpers only.
#include "acquisition/acquisit.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/acquisit_rules.h"
#include "acquisition/modecycles.h"
#include "acquisition/scope.h"
#include "board/deviceio.h"
#include "core/calibfile.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibsteps.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/handshake.h"
#include "hardware/transfer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>

acq_ctrl par_acq;

namespace {

calibration* calib = nullptr;

// --- Observation ---------------------------------------------------------------------------------

struct TLogShared {
    std::mutex mutex;
    std::condition_variable changed;
    TAcquisitLog log;
    // Threads of this file running now, and the end asked by AcqThreadsEnd.
    int acquisitRunning = 0;
    int startacqRunning = 0;
    // Threads created by startAcquisitionThread that have not counted themselves in yet: an end
    // that missed them would leave one running into the next start.
    int starting = 0;
    bool ending = false;
};

TLogShared& logShared()
{
    static auto* s = new TLogShared();  // never destroyed: the threads outlive main
    return *s;
}

template <typename T>
void trim(std::vector<T>& list)
{
    if (list.size() > kLogListLimit)
        list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(list.size() - kLogListLimit));
}

template <typename F>
void record(F f)
{
    TLogShared& s = logShared();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        f(s.log);
        trim(s.log.orders);
        trim(s.log.resumes);
        trim(s.log.calibrationResults);
    }
    s.changed.notify_all();
}

// --- acquisit ------------------------------------------------------------------------------------

// The reply record, filled once; only the reported mask changes.
pipe_dial& replyRecord()
{
    static pipe_dial reply{REQ_ACQ_DONE, 0, 100000, 0, 0.0f, 0};
    return reply;
}

void reply(uint32_t mask)
{
    pipe_dial& r = replyRecord();
    r.intValue = static_cast<intptr_t>(mask);
    o_g_consMessageBox.send(&r);  // a full box drops it
}

TAcquisition* channelTrace(int n)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const traces[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return traces[n];
}

uint32_t* normalisedBuffer(int n)
{
    uint32_t* const buffers[4] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                                  TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee};
    return buffers[n];
}

void clearTraces(const TAcqClearing& c)
{
    for (int n = 0; n < 4; ++n) {
        if (!((c.channels >> n) & 1))
            continue;
        if (TAcquisition* trace = channelTrace(n))
            trace->RazSignalNormalise(true);
        if (uint32_t* buffer = normalisedBuffer(n))
            std::fill(buffer, buffer + TAcquisition::kNormalisedSamples, kEmptySampleWord);
    }
    if (c.maskTrace && setupLinks().maskAcq != nullptr)
        setupLinks().maskAcq->RazSignalNormalise(true);
}

void copyIntoTrace(const uint32_t* from, TAcquisition* trace)
{
    if (from != nullptr && trace != nullptr && trace->samples != nullptr)
        std::memcpy(trace->samples, from, TAcquisition::kNormalisedSamples * sizeof(uint32_t));
}

// Viewer mode: the held samples become the traces shown.
void viewerCopy(bool powerCopy)
{
    const uint8_t memory[4] = {data.memoryTraceCh1, data.memoryTraceCh2, data.memoryTraceCh3, data.memoryTraceCh4};
    for (int n = 0; n < 4; ++n)
        if (memory[n] != 0)
            copyIntoTrace(normalisedBuffer(n), channelTrace(n));
    if (powerCopy)
        copyIntoTrace(TAcquisition::VoieAuxNormalisee, setupLinks().powerAcq);
}

// Step 1: the oldest order, and every identical one queued right behind it.
TLongArray takeOrder()
{
    TLongArray order{};
    while (o_g_acquMessageBox.receive(&order, true, 0) != 0) {
    }
    int collapsed = 0;
    TLongArray next{};
    while (o_g_acquMessageBox.peek(&next) && acqSameOrder(order, next)) {
        o_g_acquMessageBox.receive(&order, true, 0);  // the last sender counts
        ++collapsed;
    }
    record([&](TAcquisitLog& log) {
        log.orders.push_back(order);
        log.collapsed += collapsed;
    });
    return order;
}

void applyOrder(const TLongArray& order)
{
    // 3. Re-application of the changed parameter.
    uint32_t actions = 1;
    const uint32_t mask = static_cast<uint32_t>(order.channelMask) & 0x1FFF;
    if (order.actionBits != 1) {
        affect_par(&data, static_cast<uint32_t>(order.code), calib, &par_acq);
        CmdeLogique(CMDE_REG20_BIT19, 0);
        const TAcqReapply reapply = acqReapply(order.code, data.acqRunStop);
        if (reapply.stop)
            ChipAcqIoctl(CHIPACQ_STOP, &par_acq);  // takes the acquisition mutex itself
        if (reapply.programFE)
            ProgramFE(order.code, &par_acq, calib);
        actions = static_cast<uint32_t>(order.actionBits) & 0x3F;
    }

    // 4.-7. The action-bit walk.
    const TAcqRuleFields fields = acqRuleFields(data);
    uint32_t restart = 0;
    bool redrawOnly = false;
    uint32_t visited[6];
    const int steps = acqActionWalk(actions, visited);
    for (int i = 0; i < steps; ++i) {
        const uint32_t bit = visited[i];
        const TAcqStep step = acqActionStep(bit, (actions & bit) != 0, order.code, mask, fields);
        if (step.restartSet)
            restart = step.restart;
        for (int k = 0; k < step.scopeCommands; ++k)
            ChipAcqIoctl(CHIPACQ_SCOPE, &par_acq);
        redrawOnly = redrawOnly || step.redrawOnly;
        if (step.calibration) {
            par_acq.acqMode = ACQ_MODE_CALIBRATION;
            par_acq.calStep = static_cast<uint16_t>(data.calRange);
            par_acq.calArg = static_cast<uint16_t>(order.channelMask);
        }
        if (step.programAll)
            ProgramFE(-1, &par_acq, calib);

        uint32_t clear = step.clear;
        acqPassFailAdjust(fields, &restart, &clear);
        if (acqPowerTraceReset(fields, clear) && setupLinks().powerAcq != nullptr)
            setupLinks().powerAcq->RazSignalNormalise(true);
        clearTraces(acqClearing(clear, fields.channelFlags));
    }

    // 8. Reply, or re-process the held samples.
    const TAcqFinishPlan plan = acqFinishDecision(restart, order, o_g_acquMessageBox.empty(), redrawOnly, fields);
    switch (plan.action) {
    case TAcqFinish::Nothing:
    case TAcqFinish::Deferred:
        return;
    case TAcqFinish::ReplyShown:
        reply(par_acq.shownChannels);
        return;
    default:
        break;
    }
    const uint16_t savedFlags = par_acq.acqFlags;
    const uint16_t savedShown = par_acq.shownChannels;
    par_acq.acqFlags = plan.acqFlags;
    par_acq.shownChannels = static_cast<uint16_t>(plan.restart);
    record([](TAcquisitLog& log) { ++log.reprocessRuns; });
    if (plan.action == TAcqFinish::ViewerCopy)
        viewerCopy(plan.powerCopy);
    if (plan.action == TAcqFinish::Scope)
        Scope(&data, &par_acq);  // posts its own notice
    else if (plan.reply)
        reply(plan.restart);
    par_acq.acqFlags = savedFlags;
    par_acq.shownChannels = savedShown;
}

// --- startacq ------------------------------------------------------------------------------------

void post(uint16_t kind, int32_t code, intptr_t intValue)
{
    pipe_dial notice{kind, code, 0, intValue, 0.0f, senderValue(pthread_self())};
    o_g_consMessageBox.send(&notice);
}

int32_t calibrationStep(const acq_ctrl* ctrl)
{
    const int32_t channel = ctrl->calArg;
    switch (ctrl->calStep) {
    case 0:
        CalibrationRecall(ctrl->calib, true);
        return 1;
    case 3: return CalibOffsetOscillo(channel, ctrl->calib);
    case 4: return CompensationLevelTrig(channel, ctrl->calib);
    case 5: return CompensationRef2VP(channel, ctrl->calib);
    case 6: return CompensationRef2VN(channel, ctrl->calib);
    case 7: return CompensationMesure(channel, ctrl->calib);
    case 13: return CompensationCourantIgamme(channel, ctrl->calib);
    default: return 0;
    }
}

// One cycle of the current mode; true when it was idle. `stoppedFirst`: a stop ended the scope
// run before its acquisition completed.
bool runCycle(acq_ctrl* ctrl, bool& stoppedFirst)
{
    stoppedFirst = false;
    if (ctrl->acqChannels == 0)
        return true;
    AcqTransfertOpen(ctrl);
    const bool hold = ctrl->runStop == 1;
    switch (ctrl->acqMode) {
    case 16:
    case 17:
        if (hold)
            return true;
        stoppedFirst = !Scope(&data, ctrl);
        return false;
    case ACQ_MODE_HARMONIC:
        if (hold)
            return true;
        Harmonic(&data, ctrl);
        return false;
    case 128:
    case 130:
        if (hold)
            return true;
        if (data.meterFunction == 3)
            Capa(&data, ctrl);
        else
            Meter(&data, ctrl);
        return false;
    case ACQ_MODE_CALIBRATION: {
        // Nothing else acquires meanwhile: a board model that needs no wall time to settle or
        // acquire takes the step's waits, the 1 s settling after it included, in its own time.
        deviceIO().quickCalibration(true);
        const int32_t result = calibrationStep(ctrl);
        record([result](TAcquisitLog& log) { log.calibrationResults.push_back(result); });
        hardwarePauseMs(1000);
        deviceIO().quickCalibration(false);
        post(REQ_OPERATION_DONE, result, 0);
        post(REQ_SET_PARAM, param::instrumentMode, 16);
        return true;
    }
    default:
        return true;
    }
}

bool ending()
{
    std::lock_guard<std::mutex> lock(logShared().mutex);
    return logShared().ending;
}

// Counts a thread of this file in (+1) or out (-1).
void running(int TLogShared::*counter, int change)
{
    record([counter, change](TAcquisitLog&) {
        TLogShared& shared = logShared();
        shared.*counter += change;
        if (change > 0 && shared.starting > 0)
            --shared.starting;
    });
}

bool stopPending()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const bool stop = (o_g_synchroAcqDetail & SYNCHRO_STOP) != 0;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return stop;
}

} // namespace

void* acquisit(void* calibrationRecord)
{
    running(&TLogShared::acquisitRunning, 1);
    calib = static_cast<calibration*>(calibrationRecord);
    par_acq.calib = calib;
    affect_par(&data, 29, calib, &par_acq);
    ProgramFE(29, &par_acq, calib);
    // The driver is programmed before the real-time thread exists: once it runs, the record and
    // the FPGA change only while it is parked.
    ChipAcqIoctl(CHIPACQ_SCOPE, &par_acq);
    if (RTAC_id == 0)
        startAcquisitionThread(&RTAC_id, startacq, &par_acq, 15, "startacq");
    replyRecord().senderId = senderValue(pthread_self());  // ACQU_id, known before the creator stores it
    // Sender 8 is no thread: the first full initialisation never produces the restart-0 reply.
    const TLongArray first{0x49, 0x1FFF, 8, 8};
    o_g_acquMessageBox.send(&first);

    for (;;) {
        const TLongArray order = takeOrder();
        if (ending())
            break;
        AcqSuspend();
        applyOrder(order);
        AcqResume(SYNCHRO_TIMEBASE_CHANGE);
        record([](TAcquisitLog& log) { ++log.ordersDone; });
    }
    running(&TLogShared::acquisitRunning, -1);
    return nullptr;
}

void* startacq(void* acqCtrl)
{
    running(&TLogShared::startacqRunning, 1);
    acq_ctrl* ctrl = acqCtrl != nullptr ? static_cast<acq_ctrl*>(acqCtrl) : &par_acq;
    ctrl->armOption = 1;
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, nullptr);

    const auto powerUp = [ctrl] { ProgScalingsPowerDown(ctrl->poweredChannels); };
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    b_g_acqSuspended = 0;
    powerUp();
    pthread_cond_broadcast(&o_g_acqSuspendedCond);
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);

    for (;;) {
        bool stoppedFirst = false;
        bool idle = runCycle(ctrl, stoppedFirst);
        // A cycle that came back on its own (no board, nothing to acquire, single shot done)
        // waits like an idle one: for the next resume, never spinning.
        if (!idle && !stopPending())
            idle = true;
        if (idle)
            ProgScalingsPowerDown(0);

        // The notices are judged on the record the cycle ran with: once parked, acquisit may
        // rewrite it. Only a shot taken ends the single mode: a scope run stopped first (a hold
        // for any order, even before its arming) runs again after the resume, or the shot is lost.
        const bool singleShotDone = !stoppedFirst && ctrl->acqMode != 17 && ctrl->triggerMode == 2 && ctrl->runStop == 0;
        const bool trigNotice = ctrl->runStop == 1 && data.trigStatus != 0;
        record([idle](TAcquisitLog& log) {
            ++log.cycles;
            if (idle)
                ++log.idleCycles;
        });

        // Counted before the flag rises, so whoever sees the thread parked sees the count.
        record([](TAcquisitLog& log) { ++log.parks; });
        const uint64_t stamp = AcqParkBetweenCycles();
        record([stamp](TAcquisitLog& log) {
            log.parked = true;
            log.parkStamp = stamp;
        });
        if (singleShotDone)
            post(REQ_SET_PARAM, param::acqRunStop, 1);
        if (trigNotice)
            post(REQ_SET_PARAM, param::trigStatus, 0);

        const TSynchroDetail detail = AcqWaitForResume(idle, stamp, powerUp);
        record([detail](TAcquisitLog& log) {
            log.parked = false;
            log.resumes.push_back(detail);
        });
        if (ending())
            break;
    }
    running(&TLogShared::startacqRunning, -1);
    return nullptr;
}

int startAcquisitionThread(pthread_t* id, void* (*entry)(void*), void* argument, int sharePercent, const char* name)
{
    // Registered by the creator too: an end that comes before the thread begins still ends it.
    registerPowerOffUndo("acquisition threads", [] { return AcqThreadsEnd(); });
    TLogShared& s = logShared();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.starting;
    }
    const int result = startThread(id, entry, argument, sharePercent, true, name);
    if (result != 0) {
        std::lock_guard<std::mutex> lock(s.mutex);
        --s.starting;
        s.changed.notify_all();
    }
    return result;
}

bool AcqThreadsEnd(int timeoutMs)
{
    TLogShared& s = logShared();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Gone: not running, and none created that has yet to begin.
    const auto goneWithin = [&s](int TLogShared::*counter, std::chrono::steady_clock::time_point until) {
        std::unique_lock<std::mutex> lock(s.mutex);
        return s.changed.wait_until(lock, until, [&s, counter] { return s.*counter == 0 && s.starting == 0; });
    };
    // A thread created but not yet begun would count itself in after the end and run on.
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        if (!s.changed.wait_until(lock, deadline, [&s] { return s.starting == 0; }))
            return false;
    }
    bool acquisitRuns = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ending = true;
        acquisitRuns = s.acquisitRunning > 0;
    }
    bool ended = true;
    if (acquisitRuns) {
        const TLongArray wake{0, 0, 0, 0};
        o_g_acquMessageBox.send(&wake);
        ended = goneWithin(&TLogShared::acquisitRunning, deadline);
    }
    // startacq: its cycle stopped, then woken from its park into its end (bounded, whoever
    // holds the acquisition).
    while (ended && !goneWithin(&TLogShared::startacqRunning, std::chrono::steady_clock::now())) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ended = false;
            break;
        }
        AcqNudgeForEnd();
        goneWithin(&TLogShared::startacqRunning, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
    }
    if (!ended) {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ending = false;  // what did not end runs on; the next start must not end at once
        return false;
    }

    TLongArray left{};
    while (o_g_acquMessageBox.peek(&left))
        o_g_acquMessageBox.receive(&left, true, 0);
    AcqHandshakeReset();
    par_acq = acq_ctrl{};
    calib = nullptr;
    replyRecord().senderId = 0;
    ACQU_id = 0;
    RTAC_id = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ending = false;
        s.log = TAcquisitLog{};
    }
    return true;
}

TAcquisitLog acquisitLog()
{
    std::lock_guard<std::mutex> lock(logShared().mutex);
    return logShared().log;
}

bool acquisitLogWait(const std::function<bool(const TAcquisitLog&)>& until, int timeoutMs)
{
    TLogShared& s = logShared();
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return until(s.log); });
}
