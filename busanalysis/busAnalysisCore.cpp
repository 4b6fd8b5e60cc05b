#include "busanalysis/busAnalysisCore.h"

#include "acquisition/TAcquisition.h"
#include "busanalysis/busanalysis.h"
#include "busanalysis/buspseudofile.h"
#include "busanalysis/busxmlvalue.h"
#include "core/filename.h"
#include "core/process.h"
#include "core/setup.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <strings.h>

namespace {

enum : int { kMessageClear = 0, kMessageStep = 29, kMessageNotLoaded = 30, kMessageTimeOut = 31, kMessageStopped = 32 };
constexpr int32_t kScreenMessage = 2;
constexpr int32_t kScreenBusResults = 5;
// A descriptor holds at most this many measurements in all and steps (30 children at the top).
constexpr int kMaxSteps = 27;
constexpr float kMaxSettleMs = 10000;

enum Reading { kU16, kS16, kU32, kS32, kBool, kWord };
struct TSetupTag {
    const char* key;
    int16_t parameter;
    Reading reading;
};

// Tested in this order for containment in the lower-cased tag: the first key found decides.
const TSetupTag kSetupTags[] = {
    {"timebase", param::timeBaseIndex, kU16},
    {"runafterdel", param::sweepOffset, kS32},
    {"modetrig", param::trigMode, kU16},
    {"decadech1", param::offsetCh1, kS16},
    {"decadech2", param::offsetCh2, kS16},
    {"decadech3", param::offsetCh3, kS16},
    {"decadech4", param::offsetCh4, kS16},
    {"validech1", param::traceOnCh1, kBool},
    {"validech2", param::traceOnCh2, kBool},
    {"validech3", param::traceOnCh3, kBool},
    {"validech4", param::traceOnCh4, kBool},
    {"couplagech1", param::couplingCh1, kU16},
    {"couplagech4", param::couplingCh4, kU16},
    {"holdoff", param::trigHoldoff, kU32},
    {"sensich1", param::sensitivityCh1, kU16},
    {"sensich4", param::sensitivityCh4, kU16},
    {"qualifiersource", param::qualifSource, kU16},
    {"trigsource", param::trigSource, kU16},
    {"leveltrigch1", param::trigLevelCh1, kS16},
    {"leveltrigch4", param::trigLevelCh4, kS16},
    {"bwlimitch1", param::bwLimitCh1, kS32},
    {"bwlimitch4", param::bwLimitCh4, kS32},
    {"trigcoupch1", param::trigCouplingCh1, kU16},
    {"trigcoupch4", param::trigCouplingCh4, kU16},
    {"trigslopech1", param::trigEdgeCh1, kU16},
    {"trigslopech4", param::trigEdgeCh4, kU16},
    {"trignoisech1", param::noiseRejectCh1, kU16},
    {"trignoisech4", param::noiseRejectCh4, kU16},
    {"trigselect", param::trigType, kU16},
    {"trigpulsetype", param::pulseType, kU16},
    {"trigpulsewidthd", param::pulseT2, kU32},
    {"trigpulsewidth", param::pulseT1, kU32},
    {"trigaftercount", param::eventCount, kU32},
    {"trigafterdelay", param::trigDelay, kU32},
    {"representation", param::traceFormat, kU16},
    {"fftwindow", param::fftWindow, kU16},
    {"fftverticalscale", param::fftVerticalScale, kU16},
    {"fftdecadch1", param::fftOffsetCh1, kS16},
    {"fftdecadch2", param::fftOffsetCh2, kS16},
    {"fftdecadch3", param::fftOffsetCh3, kS16},
    {"fftdecadch4", param::fftOffsetCh4, kS16},
    {"math2", param::mathExprCh2, kWord},
    {"math3", param::mathExprCh3, kWord},
};
constexpr int kSetupTagCount = static_cast<int>(sizeof kSetupTags / sizeof kSetupTags[0]);
static_assert(kSetupTagCount == 43, "setup tag table");

const char* const* setupKeys()
{
    static const char* keys[kSetupTagCount];
    for (int i = 0; i < kSetupTagCount; ++i)
        keys[i] = kSetupTags[i].key;
    return keys;
}

// Measurements of the steps that will run, and whether the step count fits the format.
bool withinBounds(XmlDescriptor* descriptor, int steps)
{
    if (steps < 0 || steps > kMaxSteps)
        return false;
    int measurements = 0;
    for (int n = 0; n < steps; ++n) {
        XmlDescriptor* step = busStepElement(descriptor, n);
        for (int i = 0; step && i < XmlDescriptor::kChildren && step->children[i]; ++i)
            if (strcasecmp(step->children[i]->tag, "MESURE") == 0)
                ++measurements;
    }
    return measurements <= TBus::kSlots;
}

} // namespace

int createBusSetup(XmlDescriptor* setupElement, database* setup)
{
    return walkBusChildren(setupElement, setupKeys(), kSetupTagCount, [setup](int key, const std::string& text) {
        const TSetupTag& tag = kSetupTags[key];
        int64_t v = 0;
        switch (tag.reading) {
        case kWord: {
            const size_t begin = text.find_first_not_of(" \t\r\n");
            const size_t end = begin == std::string::npos ? begin : text.find_first_of(" \t\r\n", begin);
            const std::string word = begin == std::string::npos ? std::string() : text.substr(begin, end - begin);
            char* field = reinterpret_cast<char*>(setup) + adr_par[tag.parameter];
            const size_t size = type_par[tag.parameter];
            std::memset(field, 0, size);
            std::memcpy(field, word.data(), std::min(word.size(), size - 1));
            return true;
        }
        case kBool: {
            bool b = false;
            if (!readBusBool(text, &b))
                return false;
            v = b ? 1 : 0;
            break;
        }
        default: {
            const bool isSigned = tag.reading == kS16 || tag.reading == kS32;
            const int bits = tag.reading == kU16 || tag.reading == kS16 ? 16 : 32;
            if (!readBusInteger(text, bits, isSigned, &v))
                return false;
            break;
        }
        }
        set_db(setup, tag.parameter, static_cast<uint32_t>(v));
        return true;
    });
}

TBusAnalysis::TBusAnalysis(database* live)
    : live_(live ? live : &data),
      descriptor_(new XmlDescriptor()),
      bus_(new TBus()),
      factory_(new TBusMeasFactory()),
      current_(new database(init_par)),
      ring_(new database[kRing]),
      texts_(new char[kRing][1024]())
{
}

void TBusAnalysis::handleNext()
{
    pipe_dial record{};
    if (o_g_busMessageBox.receive(&record, true, waitTimeout_) != 0) {
        timeOut();
        return;
    }
    handle(record);
}

void TBusAnalysis::handle(const pipe_dial& record)
{
    if (record.kind == REQ_SET_PARAM && record.code == param::instrumentMode) {
        if (record.intValue == 17) {
            postOwn(BUS_STEP_LOAD, reinterpret_cast<intptr_t>(live_->busFileName));
        } else {
            // Leaving bus analysis ends a diagnosis that still runs.
            endDiagnosis();
            postBusDiagIdle();
        }
        loadState_ = kLoaded;
        return;
    }
    if (record.kind != REQ_BUS_STEP)
        return;
    switch (record.code) {
    case BUS_STEP_LOAD:
    case BUS_STEP_RELOAD:
        load(reinterpret_cast<const char*>(record.intValue));
        break;
    case BUS_STEP_ACQUIRED:
        acquired();
        break;
    case BUS_STEP_START:
        start();
        break;
    case BUS_STEP_NEXT:
        next();
        break;
    case BUS_STEP_STOP:
        stop();
        break;
    case BUS_STEP_APPLIED:
        applied();
        break;
    default:
        break;
    }
}

void TBusAnalysis::timeOut()
{
    postMessage(kMessageTimeOut, senderValue(tBUS_id));
    endDiagnosis();
    postBusDiagIdle();
    loadState_ = kTimedOut;
}

bool TBusAnalysis::loadDescriptor(const char* name)
{
    descriptor_->clear();
    if (!name || !*name)
        return false;
    const std::string text(name, strnlen(name, sizeof live_->busFileName));
    if (text.back() == '*') {
        // A user file: only a plain name inside the user folder.
        const std::string file = text.substr(0, text.size() - 1);
        if (file.empty() || file.find('/') != std::string::npos || file[0] == '.'
            || !fileNameIsClean(file.data(), file.size()))
            return false;
        if (!descriptor_->fileRead((kUserFolder + file).c_str(), true))
            return false;
    } else {
        const TBusPseudoFile* row = findBusPseudoFileBySuffix(text.c_str());
        if (!row || !descriptor_->fileRead(row->name, false))
            return false;
    }
    bus_->init();
    if (bus_->readGlobalParamsFromXml(descriptor_.get()) != 0)
        return false;
    // Beyond the slots or the format's step count the steps could not all run.
    if (!withinBounds(descriptor_.get(), bus_->nbmesuremax))
        return false;
    *current_ = init_par;
    SetupSystemCopy(current_.get(), live_);
    current_->busDiag = 1;
    XmlFifo path;
    path.initFifo(2, "FILEBUS", "SETUP");
    return createBusSetup(descriptor_->getTag(&path), current_.get()) == 0;
}

void TBusAnalysis::load(const char* name)
{
    if (running_) {
        // A new file chosen during a diagnosis ends it.
        endDiagnosis();
        postBusDiagIdle();
    }
    if (!loadDescriptor(name)) {
        postMessage(kMessageNotLoaded, senderValue(tBUS_id));
        loadState_ = kLoadFailed;
        return;
    }
    current_->busDiag = 1;
    postWorkingSetup(0);
    loadState_ = kLoaded;
}

void TBusAnalysis::start()
{
    if (running_)
        return;
    if (loadState_ != kLoaded) {
        // Nothing to run: the switch goes back to idle.
        postMessage(kMessageNotLoaded, senderValue(tBUS_id));
        postBusDiagIdle();
        return;
    }
    factory_->reset();
    bus_->initMeasurements();
    running_ = true;
    acquiring_ = false;
    next();
}

void TBusAnalysis::next()
{
    if (!running_)
        return;
    const int n = bus_->stepCount;
    const int total = bus_->nbmesuremax;
    if (n >= total) {
        bus_->saveResultToFile(kReportPath, descriptor_.get());
        postMessage(kMessageClear, senderValue(TRAD_id));
        running_ = false;
        acquiring_ = false;
        postBusDiagIdle();
        post(REQ_SCREEN, kScreenBusResults, 0, senderValue(TRAD_id));
        return;
    }
    post(REQ_SET_PARAM, param::acqRunStop, 1, senderValue(tBUS_id));
    pauseMs(500);
    XmlFifo path;
    const std::string step = "MESURE" + std::to_string(n);
    path.initFifo(3, "FILEBUS", step.c_str(), "SETUP");
    if (createBusSetup(descriptor_->getTag(&path), current_.get()) != 0) {
        endWithMessage(kMessageNotLoaded);
        return;
    }
    current_->busDiag = 0;
    stepList_.clear();
    factory_->resetHistograms();
    bus_->addStep(descriptor_.get(), factory_.get(), stepList_);
    if (bus_->stepCount == n) {
        // A step that found no free slot would run for ever.
        endWithMessage(kMessageNotLoaded);
        return;
    }
    postWorkingSetup(1);
    postMessage(kMessageStep, senderValue(TRAD_id), stepText());
    waitTimeout_ = kStepTimeoutSeconds;
}

const char* TBusAnalysis::stepText()
{
    std::string text = std::to_string(bus_->stepCount) + "/" + std::to_string(bus_->nbmesuremax) + " ( ";
    for (const TBusMeasurement* m : stepList_) {
        std::string name = m->name;
        std::replace(name.begin(), name.end(), ' ', '_');
        text += name + " ";
    }
    text += ")";
    char* buffer = texts_[textNext_];
    textNext_ = (textNext_ + 1) % kRing;
    const size_t size = sizeof texts_[0];
    std::memcpy(buffer, text.c_str(), std::min(text.size() + 1, size));
    buffer[size - 1] = '\0';
    return buffer;
}

void TBusAnalysis::applied()
{
    if (!running_)
        return;
    if (!stepList_.isEmpty()) {
        // A settling pause from the descriptor, bounded.
        const float ms = stepList_.first()->tempocoupac;
        const float bounded = std::isfinite(ms) ? std::clamp(ms, 0.0f, kMaxSettleMs) : 0.0f;
        pauseMs(static_cast<int>(bounded));
    }
    pauseMs(5);
    acquiring_ = true;
    // Acquisitions of the previous setup are stale; anything else waiting stays.
    o_g_busMessageBox.removeIf(
        [](const pipe_dial& r) { return r.kind == REQ_BUS_STEP && r.code == BUS_STEP_ACQUIRED; });
    post(REQ_SET_PARAM, param::acqRunStop, 0, senderValue(MENU_id));
}

void TBusAnalysis::acquired()
{
    if (!running_ || !acquiring_)
        return;
    int r = 0;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    r = factory_->newAcq(live_, &autoMeas_);
    for (TBusMeasurement* m : stepList_) {
        const int state = m->setBusMeasPixValues(factory_.get(), &autoMeas_);
        if (state != TBusMeasurement::kVerdict && state != TBusMeasurement::kNoValue)
            r = -1;
    }
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    if (r == 0) {
        post(REQ_SET_PARAM, param::acqRunStop, 1, senderValue(tBUS_id));
        postOwn(BUS_STEP_NEXT, 0);
        waitTimeout_ = 0;
        acquiring_ = false;
    } else {
        post(REQ_SET_PARAM, param::acqRunStop, 0, senderValue(tBUS_id));
        running_ = acquiring_ = true;
    }
}

void TBusAnalysis::stop()
{
    if (running_)
        postMessage(kMessageStopped, senderValue(TRAD_id));
    endDiagnosis();
    postOwn(BUS_STEP_RELOAD, reinterpret_cast<intptr_t>(live_->busFileName));
}

void TBusAnalysis::endDiagnosis()
{
    running_ = false;
    acquiring_ = false;
    waitTimeout_ = 0;
}

void TBusAnalysis::endWithMessage(int message)
{
    postMessage(message, senderValue(tBUS_id));
    endDiagnosis();
    postBusDiagIdle();
}

void TBusAnalysis::post(uint16_t kind, int32_t code, intptr_t value, intptr_t sender, intptr_t aux)
{
    pipe_dial r{kind, code, aux, value, 0.0f, sender};
    o_g_consMessageBox.send(&r);
}

void TBusAnalysis::postOwn(int32_t code, intptr_t value)
{
    pipe_dial r{REQ_BUS_STEP, code, 0, value, 0.0f, senderValue(tBUS_id)};
    o_g_busMessageBox.send(&r);
}

void TBusAnalysis::postMessage(int message, intptr_t sender, const char* text)
{
    post(REQ_SCREEN, kScreenMessage, message, sender, reinterpret_cast<intptr_t>(text));
}

void TBusAnalysis::postBusDiagIdle()
{
    post(REQ_SET_PARAM, param::busDiag, 1, senderValue(MENU_id));
}

void TBusAnalysis::postWorkingSetup(int16_t runStop)
{
    // The instrument's own fields (probes, units, file name) as they are now, so that the
    // step's setup does not revert them.
    const int16_t diag = current_->busDiag;
    SetupSystemCopy(current_.get(), live_);
    current_->busDiag = diag;
    current_->acqRunStop = runStop;
    database& slot = ring_[ringNext_];
    ringNext_ = (ringNext_ + 1) % kRing;
    slot = *current_;
    post(REQ_FILE, fileSetupApply, reinterpret_cast<intptr_t>(&slot), senderValue(tBUS_id));
}

namespace {
std::atomic<bool> g_busStop{false};
}

void busAnalysisCoreStop()
{
    g_busStop = true;
    // Any record wakes the engine; a kind it does not handle changes nothing.
    pipe_dial wake{0, 0, 0, 0, 0.0f, 0};
    o_g_busMessageBox.send(&wake);
}

void* busAnalysisCore(void* setup)
{
    g_busStop = false;
    // Never freed: the controller may read its records up to the last instant, even after the
    // thread ended.
    auto* engine = new TBusAnalysis(static_cast<database*>(setup));
    while (!g_busStop)
        engine->handleNext();
    return nullptr;
}
