// Measure thread: keeps the cursor table of the manual measurements in step with the setup and
// sets the trigger level at the middle of the trigger source's signal.
#include "acquisition/measure.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "core/requests.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

constexpr int kTraceRecords = 10;
// The thread's own measurement records; the controller gets their address with every answer.
mesures mesures_trace[kTraceRecords];

// Kinds the thread looks at, in this order: entries 16, 1 and 1024 of the table.
const uint16_t maskCode[5] = {1024, 2048, 1, 8, 16};
constexpr int kHandledKinds[] = {4, 2, 0};

// Words of the cursor table.
enum : int {
    kCursor1Time = 0,
    kCursor2Time = 1,
    kCursor1Level = 2,
    kCursor2Level = 3,
    kCursor3Time = 4,
    kXyCursor1X = 5,
    kXyCursor2X = 6,
};

// Answer codes of the kind-64 record.
constexpr int32_t kAnswerCursor1 = 90;
constexpr int32_t kAnswerCursor2 = 91;
constexpr int32_t kAnswerAll = 93;

constexpr int32_t kZeroCode = 524256;
constexpr int64_t kCodesPerThousand = 262080;   // codes of 1000 thousandths of the screen
constexpr int32_t kLevelLimit = 1000;           // range of the trigger-level parameters
// rise50, fall50 and nextRise50 valid: the duty cycle can be told.
constexpr int32_t kDutyEdges = 0x20 | 0x100 | MEAS_NEXT_RISE;

uint32_t* normalisedBuffer(int source)
{
    uint32_t* const buffers[4] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                                  TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee};
    return buffers[source];
}

// The level (thousandths of the screen) at the middle of the signal measured in m.
int32_t midLevel(const mesures& m, int16_t trigCoupling, int16_t coupling, int16_t position)
{
    const int64_t maxCode = m.maxCode, minCode = m.minCode;
    int64_t level = 0;
    if (trigCoupling != 0 && trigCoupling != 2 && coupling != 0) {
        level = (((maxCode + minCode) >> 1) - kZeroCode) * 1000 / kCodesPerThousand - position;
    } else if ((m.flags & kDutyEdges) == kDutyEdges && m.nextRise50 != m.rise50) {
        const double a = m.rise50, b = m.fall50, c = m.nextRise50, d = m.nextFall50;
        // The share of the period spent high.
        const double x = a < b ? (b - a) / (c - a) : (d - a) / (c - a);
        if (x < 0.3)
            level = ((maxCode - minCode) >> 1) * 1000 / kCodesPerThousand;
        else if (x > 0.7)
            level = ((minCode - maxCode) >> 1) * 1000 / kCodesPerThousand;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(level, -kLevelLimit, kLevelLimit));
}

// Request 205: measures the trigger source and asks the controller for its level. Only channels
// 0..3 have a level of their own (source 4 runs at a fixed level); other sources ask nothing.
void triggerLevel(const database& db)
{
    const int source = db.trigSource;
    if (source < 0 || source > 3)
        return;
    uint32_t* const buffer = normalisedBuffer(source);
    if (buffer == nullptr)
        return;
    mesures& m = mesures_trace[source];
    // The transfer writes the buffers under this lock.
    pthread_mutex_lock(&o_g_autoMeasMutex);
    meas_pix(buffer, &m, 0, static_cast<int32_t>(TAcquisition::kNormalisedSamples), kZeroCode);
    const mesures measured = m;
    pthread_mutex_unlock(&o_g_autoMeasMutex);

    const int16_t trigCouplings[4] = {db.trigCouplingCh1, db.trigCouplingCh2, db.trigCouplingCh3, db.trigCouplingCh4};
    const int16_t couplings[4] = {db.couplingCh1, db.couplingCh2, db.couplingCh3, db.couplingCh4};
    const int16_t positions[4] = {db.offsetCh1, db.offsetCh2, db.offsetCh3, db.offsetCh4};
    const int32_t level = midLevel(measured, trigCouplings[source], couplings[source], positions[source]);
    pipe_dial request{REQ_SET_PARAM, param::trigLevelCh1 + source, 0, level, 0.0f, senderValue(pthread_self())};
    o_g_consMessageBox.send(&request);
}

// A parameter request: the cursor words it concerns, and the answer code.
int32_t parameterRequest(const database& db, int32_t code)
{
    int32_t* const words = setupLinks().cursorTablePtr;
    const auto put = [words](int word, int32_t value) {
        if (words != nullptr)
            words[word] = value;
    };
    int32_t answer = 0;
    switch (code) {
    case param::cursor1Time: put(kCursor1Time, db.cursor1Time); answer = kAnswerCursor1; break;
    case param::cursor2Time: put(kCursor2Time, db.cursor2Time); answer = kAnswerCursor2; break;
    case param::cursor1Level: put(kCursor1Level, db.cursor1Level); answer = kAnswerCursor1; break;
    case param::cursor2Level: put(kCursor2Level, db.cursor2Level); answer = kAnswerCursor2; break;
    case param::manualCursorA:
        put(kCursor1Time, db.cursor1Time);
        put(kCursor1Level, db.cursor1Level);
        answer = kAnswerCursor1;
        break;
    case param::manualCursorB:
        put(kCursor2Time, db.cursor2Time);
        put(kCursor2Level, db.cursor2Level);
        answer = kAnswerCursor2;
        break;
    case param::cursor3Time: put(kCursor3Time, db.cursor3Time); break;
    case param::cursorState:
        put(kCursor1Time, db.cursor1Time);
        put(kCursor2Time, db.cursor2Time);
        put(kCursor3Time, db.cursor3Time);
        answer = kAnswerAll;
        break;
    case param::xyCursor1X: put(kXyCursor1X, db.xyCursor1X); answer = kAnswerCursor1; break;
    case param::xyCursor2X: put(kXyCursor2X, db.xyCursor2X); answer = kAnswerCursor2; break;
    case param::trigLevelAuto:
        triggerLevel(db);
        return 0;
    // Settings that move the trace or change the mode: the levels below only.
    case 3: case 7: case 23: case 27: case 29: case 36: case 38: case 59: case 60: case 70: case 73: case 121: case 142:
        break;
    default:
        return 0;
    }
    const uint16_t mode = db.instrumentMode;
    const bool meter = mode == 128 || mode == 129;
    const bool levels = mode == 130 || (!meter && (db.cursorState == 1 || db.cursorState == 3));
    if (levels) {
        put(kCursor1Level, db.cursor1Level);
        put(kCursor2Level, db.cursor2Level);
    }
    return answer;
}

int32_t handle(const database& db, const pipe_dial& request)
{
    for (int entry : kHandledKinds) {
        if (request.kind != maskCode[entry])
            continue;
        return request.kind == REQ_SET_PARAM ? parameterRequest(db, request.code) : 0;
    }
    return 0;
}

} // namespace

namespace {
std::atomic<bool> g_measureStop{false};
// Wakes the thread to look at the flag; no request has kind 0.
constexpr int32_t kMeasureWake = 0;
} // namespace

void measureStop()
{
    g_measureStop = true;
    pipe_dial wake{kMeasureWake, 0, 0, 0, 0.0f, 0};
    o_g_measMessageBox.send(&wake);
}

void* measure(void* db)
{
    const database& setup = *static_cast<const database*>(db);
    // MEAS_id may not be written yet when the thread begins.
    const intptr_t self = senderValue(pthread_self());
    g_measureStop = false;
    std::memset(mesures_trace, 0, sizeof mesures_trace);
    pipe_dial refresh{REQ_SET_PARAM, 29, 0, 0, 0.0f, self};
    o_g_measMessageBox.send(&refresh);
    for (;;) {
        pipe_dial request;
        o_g_measMessageBox.receive(&request, true, 0);
        if (g_measureStop)
            break;
        if (request.kind == kMeasureWake)
            continue;
        // Repeats of one request queued behind it collapse to the last.
        pipe_dial next;
        while (o_g_measMessageBox.peek(&next) && next.kind == request.kind && next.code == request.code)
            o_g_measMessageBox.receive(&request, true, 0);

        pipe_dial answer{REQ_MANUAL_MEAS, handle(setup, request), 0, reinterpret_cast<intptr_t>(mesures_trace), 0.0f, self};
        o_g_consMessageBox.send(&answer);
    }
    return nullptr;
}
