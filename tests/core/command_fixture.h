// Fixture of the controller tests: own simulated board, a recording root-window bridge, pauses
// recorded instead of slept, the defaults in the live setup and fresh stand-ins.
#pragma once

#include "tests/support/recordingbridge.h"
#include "tests/support/requestboxes.h"
#include "tests/support/probes.h"
#include "tests/support/simfpgaboardtest.h"

#include "acquisition/TAcquisition.h"
#include "tests/core/trace_call_log.h"
#include "acquisition/TFonction.h"
#include "acquisition/acquisit.h"
#include "acquisition/measkernel.h"
#include "tests/core/autoset_call_log.h"
#include "board/board.h"
#include "board/sim/simboard.h"
#include "core/command.h"
#include "core/command_helpers.h"
#include "core/command_param.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "scpi/scpi.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

// Releases of the interpreter's hand-off (scpi_SemP calls) since the fixture's set-up.
inline int& scpiReleaseBaseline()
{
    static int base = 0;
    return base;
}
inline int scpiReleases()
{
    return scpiReleaseCalls() - scpiReleaseBaseline();
}

// Pauses asked for, in order. Lives for the whole process: a controller thread started by a test
// may still pause after the fixture is gone.
class TPauseLog {
public:
    static TPauseLog& instance()
    {
        static auto* log = new TPauseLog();
        return *log;
    }
    void add(int ms)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pauses_.push_back(ms);
    }
    std::vector<int> pauses() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return pauses_;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pauses_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> pauses_;
};

class CommandTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        unplugAllProbes();
        // The controller's pauses (this thread's) are recorded, not taken; other threads really sleep.
        recordPauses(false);
        resetControllerState();
    }

    // The program ends and starts again on the same board, its files and probes kept: what its
    // start set going ends as with the process, and the controller's words are as at a start.
    void restartProgram()
    {
        std::string stuck;
        if (!runPowerOffUndos(&stuck))
            ADD_FAILURE() << "did not end: " << stuck;
        resetControllerState();
    }

    void resetControllerState()
    {
        resetTraceCallLog();
        scpiReleaseBaseline() = scpiReleaseCalls();
        resetAutosetLog();
        primePassFailCounter();
        TPauseLog::instance().clear();
        std::memcpy(&data, &init_par, sizeof(database));
        // An earlier test's links (its objects are never freed) are no links of this one, and
        // the controller's own words are as at a start.
        setupLinks() = TSetupLinks{};
        pendingAcknowledge = 0;
        b_g_scpiOrigin = false;
        us_g_hwChannels = 15;
        ScreenSaverActif = 0;
        b_g_saveRestartDone = false;
        b_g_stateNoticePending = false;
        // A test that stood in for the acquisition threads left their identities: acquisit
        // would take its real-time companion for started.
        ACQU_id = 0;
        RTAC_id = 0;
        command_util::liveChannelsBeforeViewer().reset();
        po_g_homeBridge.store(bridge());
        // What an earlier test of the process left queued is no request of this one.
        drain(o_g_acquMessageBox);
        drain(o_g_measMessageBox);
        drain(o_g_busMessageBox);
        drain(o_g_consMessageBox);
    }

    void TearDown() override
    {
        po_g_homeBridge.store(nullptr);
        SimFpgaBoardTest::TearDown();
        drainRequestBoxes();  // a notice posted before the threads ended must not reach the next test
    }

    // Records the calling (controller) thread's pauses; `take` has it also sleep them, as a test
    // whose board acquires live needs: a skipped settling pause races the acquisition (the start-up's
    // calibration acquisitions then end early and each flush waits out its bound).
    static void recordPauses(bool take)
    {
        const pthread_t controller = pthread_self();
        setPauseHook([controller, take](int ms) {
            const bool own = pthread_equal(pthread_self(), controller);
            if (own)
                TPauseLog::instance().add(ms);
            if (own && !take)
                return;
            timespec t{ms / 1000, (ms % 1000) * 1000000L};
            while (nanosleep(&t, &t) != 0) {
            }
        });
    }

    // Never destroyed: a thread the test started may still hold the pointer.
    TRecordingBridge* bridge()
    {
        if (!bridge_)
            bridge_ = new TRecordingBridge();
        return bridge_;
    }

    std::vector<int> pauses() const { return TPauseLog::instance().pauses(); }

    // The probe buses the I2C master drove since the log was last cleared, each once, in order.
    static std::vector<int> probeBusesRead()
    {
        std::vector<int> buses;
        for (const simboard::TLogEntry& e : simboard::log({simboard::TLogKind::I2c}))
            if (std::find(buses.begin(), buses.end(), static_cast<int>(e.a)) == buses.end())
                buses.push_back(static_cast<int>(e.a));
        return buses;
    }

    // Runs the controller's loop on this thread, one pass per record, and shows each record to
    // `seen` first, until `done` holds or wallMs passed (the acquisition threads run live).
    static bool runLoop(int wallMs, const std::function<void(const pipe_dial&)>& seen,
                        const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wallMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (done())
                return true;
            pipe_dial r{};
            if (!o_g_consMessageBox.peek(&r)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            seen(r);
            commandLoopPass();  // takes that record: only this thread receives
        }
        return done();
    }

    // Every record queued in a box, oldest first, leaving it empty. A marker record posted
    // last tells where the queue ends, so an empty box costs no wait.
    template <typename T>
    static std::vector<T> drain(TTavlinMessageBox<T>& box)
    {
        T marker{};
        marker.senderId = kDrainMarker;
        box.send(&marker);
        std::vector<T> out;
        for (;;) {
            T record{};
            if (box.receive(&record, true, 5) != 0) {
                ADD_FAILURE() << "the drain marker never came back";
                return out;
            }
            if (record.senderId == kDrainMarker)
                return out;
            out.push_back(record);
        }
    }

    // Every link the controller follows, with result tables filled with 0xAB. Never freed: the
    // process ends with the test.
    struct TLinks {
        TAcquisition* channel[4];
        TAcquisition* reference[4];
        TAcquisition* power;
        TAcquisition* mask;
        TFonction* function[4];
        unsigned char* measurements;
        unsigned char* harmonics;
    };
    static TLinks linkEverything()
    {
        TLinks l{};
        TSetupLinks& s = setupLinks();
        TAcquisition** channel[4] = {&s.acqCh1, &s.acqCh2, &s.acqCh3, &s.acqCh4};
        TAcquisition** reference[4] = {&s.refAcqCh1, &s.refAcqCh2, &s.refAcqCh3, &s.refAcqCh4};
        TFonction** function[4] = {&s.mathFunctionCh1, &s.mathFunctionCh2, &s.mathFunctionCh3, &s.mathFunctionCh4};
        for (int n = 0; n < 4; ++n) {
            *channel[n] = l.channel[n] = new TAcquisition(static_cast<unsigned short>(1u << n));
            *reference[n] = l.reference[n] = new TAcquisition(static_cast<unsigned short>(16u << n));
            static char empty[] = "";
            *function[n] = l.function[n] = new TFonction(static_cast<unsigned short>(n), empty);
        }
        s.powerAcq = l.power = new TAcquisition(8192);
        static char none[] = "";
        s.powerFunctionA = new TFonction(8, none);
        s.powerFunctionB = new TFonction(9, none);
        s.maskAcq = l.mask = new TAcquisition(4096);
        mesures* table = new mesures[kMeasurementRecords];
        l.measurements = reinterpret_cast<unsigned char*>(table);
        std::memset(l.measurements, 0xAB, kMeasurementRecords * kMeasurementRecordSize);
        s.measResultsPtr = table;
        l.harmonics = new unsigned char[kHarmonicRecords * kHarmonicRecordSize];
        std::memset(l.harmonics, 0xAB, kHarmonicRecords * kHarmonicRecordSize);
        s.harmonicResultsPtr = reinterpret_cast<THarmonicResults*>(l.harmonics);
        resetTraceCallLog();
        return l;
    }
    static constexpr intptr_t kDrainMarker = -0x5EED;

    // Gives the real counter counts, so that a clear shows as "0 / 0".
    static void primePassFailCounter()
    {
        TAcquisition::passFailCounter.raz();
        TAcquisition::passFailCounter.incPass();
        TAcquisition::passFailCounter.incFail();
    }
    static bool passFailCleared() { return TAcquisition::passFailCounter.get(0) == "0 / 0"; }

private:
    TRecordingBridge* bridge_ = nullptr;
};

// Parameter requests: a running four-channel scope, fixed identities for the threads that do not
// run (distinct non-zero values), and the links a test asks for.
class CommandParamTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        COMM_id = pthread_self();
        SCPI_id = static_cast<pthread_t>(0x5C01);
        TRAD_id = static_cast<pthread_t>(0x7A01);
        tWEBSd_id = static_cast<pthread_t>(0x3E01);
        RTAC_id = static_cast<pthread_t>(0x47A1);
        ACQU_id = static_cast<pthread_t>(0xAC01);
        data.instrumentMode = 16;
        data.hwChannelMask = 15;
    }

    static intptr_t scpi() { return senderValue(SCPI_id); }
    static intptr_t keys() { return senderValue(TRAD_id); }
    static intptr_t web() { return senderValue(tWEBSd_id); }
    static intptr_t realTime() { return senderValue(RTAC_id); }
    static intptr_t comm() { return senderValue(COMM_id); }

    // One loop pass on a parameter request; the record as the loop left it.
    static pipe_dial set(int32_t parameter, intptr_t value, intptr_t aux = 0, intptr_t sender = 0,
                         float floatValue = 0.0f)
    {
        pipe_dial r{REQ_SET_PARAM, parameter, aux, value, floatValue, sender};
        applyRequest(r);
        return r;
    }
    static pipe_dial request(int32_t parameter, intptr_t value, intptr_t aux = 0, intptr_t sender = 0)
    {
        return pipe_dial{REQ_SET_PARAM, parameter, aux, value, 0.0f, sender};
    }

    static TLongArray restart(int32_t code, int32_t mask, int32_t action) { return {code, mask, action, comm()}; }
    static std::vector<TLongArray> restarts() { return drain(o_g_acquMessageBox); }
    static std::vector<pipe_dial> measureBox() { return drain(o_g_measMessageBox); }
    static std::vector<pipe_dial> busBox() { return drain(o_g_busMessageBox); }
    static std::vector<pipe_dial> inbox() { return drain(o_g_consMessageBox); }
    static void drainAll()
    {
        restarts();
        measureBox();
        busBox();
        inbox();
    }
    std::vector<std::string> messages() { return bridge()->callsStartingWith("screenMessage("); }

    // Text of a linked function ("" when unlinked).
    static std::string functionText(TFonction* f)
    {
        char out[128] = {};
        return f == nullptr ? std::string() : std::string(f->GetFonctionString(out, false));
    }
    static bool measurementRecordZero(const TLinks& l, int index)
    {
        const unsigned char* r = l.measurements + index * kMeasurementRecordSize;
        return std::all_of(r, r + kMeasurementRecordSize, [](unsigned char b) { return b == 0; });
    }
    static uint32_t harmonicValidity(const TLinks& l, int index)
    {
        uint32_t word;
        std::memcpy(&word, l.harmonics + index * kHarmonicRecordSize, sizeof word);
        return word;
    }

    // The trace calls of one kind, in order.
    static std::vector<TTraceCall> traceCalls(TTraceCall::Kind kind)
    {
        std::vector<TTraceCall> out;
        for (const TTraceCall& c : traceCallLog().calls)
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }

    // The real-time thread (idle: the record acquires nothing), so that suspends return; it takes
    // the place of the fixed identity.
    static void startRealTimeStandin()
    {
        RTAC_id = 0;
        ASSERT_EQ(startAcquisitionThread(&RTAC_id, startacq, nullptr, 15, "startacq"), 0);
    }
    static bool waitResumes(size_t count)
    {
        return acquisitLogWait([count](const TAcquisitLog& s) { return s.resumes.size() >= count; }, 5000);
    }
};

inline bool operator==(const TLongArray& a, const TLongArray& b)
{
    return a.code == b.code && a.channelMask == b.channelMask && a.actionBits == b.actionBits
        && a.senderId == b.senderId;
}

inline bool operator==(const pipe_dial& a, const pipe_dial& b)
{
    return a.kind == b.kind && a.code == b.code && a.auxValue == b.auxValue && a.intValue == b.intValue
        && a.floatValue == b.floatValue && a.senderId == b.senderId;
}

inline std::ostream& operator<<(std::ostream& os, const TLongArray& m)
{
    return os << "{" << m.code << ", " << m.channelMask << ", " << m.actionBits << ", " << m.senderId << "}";
}

inline std::ostream& operator<<(std::ostream& os, const pipe_dial& r)
{
    return os << "{" << r.kind << ", " << r.code << ", " << r.auxValue << ", " << r.intValue << ", "
              << r.floatValue << ", " << r.senderId << "}";
}
