// Measure thread, run for real on its box: the cursor words and answer codes of each request,
// the collapsing of repeats, and the trigger level at mid-signal.
#include "acquisition/TAcquisition.h"
#include "acquisition/measure.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kZero = 524256;
constexpr uint32_t kTenth = 26208;  // 100 thousandths of the screen

using TWords = std::array<int32_t, 7>;

class MeasureThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 16;
        static int32_t* const table = new int32_t[7]();
        setupLinks().cursorTablePtr = table;
        uint32_t** buffers[4] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                                 &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee};
        for (uint32_t** b : buffers)
            if (*b == nullptr)
                *b = new uint32_t[TAcquisition::kNormalisedSamples]();
        // One thread for the process: it never ends. Its start-up refresh answers with code 0;
        // requests earlier tests of the process left in its box (with no thread to take them)
        // and records left in the inbox must not pass for that answer.
        static const bool started = [] {
            pipe_dial r{};
            while (o_g_measMessageBox.peek(&r))
                o_g_measMessageBox.receive(&r, true, 1);
            drainInbox();
            if (startThread(&MEAS_id, measure, &data, 25, true, "measure") != 0)
                return false;
            for (const pipe_dial& a : answers(1))
                if (a.kind == REQ_MANUAL_MEAS)
                    return a.senderId == senderValue(MEAS_id) && a.code == 0;
            return false;
        }();
        ASSERT_TRUE(started);
        drainInbox();
    }

    static void post(uint16_t kind, int32_t code)
    {
        pipe_dial r{kind, code, 0, 0, 0.0f, 0};
        ASSERT_EQ(o_g_measMessageBox.send(&r), 0);
    }

    // Records reaching the controller until `count` kind-64 answers came or the time passed.
    static std::vector<pipe_dial> answers(size_t count, int waitMs = 3000)
    {
        std::vector<pipe_dial> out;
        size_t seen = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (seen < count && std::chrono::steady_clock::now() < deadline) {
            pipe_dial r{};
            if (o_g_consMessageBox.receive(&r, true, 1) != 0)
                continue;
            out.push_back(r);
            seen += r.kind == REQ_MANUAL_MEAS ? 1 : 0;
        }
        return out;
    }
    static void drainInbox()
    {
        pipe_dial r{};
        while (o_g_consMessageBox.peek(&r))
            o_g_consMessageBox.receive(&r, true, 1);
    }
    static bool inboxStaysEmpty(int ms)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return o_g_consMessageBox.empty();
    }

    static TWords words()
    {
        TWords w;
        std::memcpy(w.data(), setupLinks().cursorTablePtr, sizeof w);
        return w;
    }
    static void clearWords() { std::fill(setupLinks().cursorTablePtr, setupLinks().cursorTablePtr + 7, -1); }

    static uint32_t* buffer(int channel)
    {
        uint32_t* const b[4] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                                TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee};
        return b[channel];
    }
    static void fillConstant(int channel, uint32_t code)
    {
        std::fill(buffer(channel), buffer(channel) + TAcquisition::kNormalisedSamples, code);
    }
    // A pulse train of 10,000-sample periods, low first, high for `duty` of each period.
    static void fillPulses(int channel, double duty, uint32_t low, uint32_t high)
    {
        const uint32_t lowSamples = static_cast<uint32_t>(10000 * (1.0 - duty));
        for (uint32_t i = 0; i < TAcquisition::kNormalisedSamples; ++i)
            buffer(channel)[i] = i % 10000 < lowSamples ? low : high;
    }

    // The level request and the answer of one request 205; level -9999 when none was asked.
    static int32_t levelRequest(int* source)
    {
        post(REQ_SET_PARAM, param::trigLevelAuto);
        const std::vector<pipe_dial> got = answers(1);
        int32_t level = -9999;
        *source = -1;
        for (const pipe_dial& r : got) {
            if (r.kind == REQ_SET_PARAM) {
                *source = r.code - param::trigLevelCh1;
                level = static_cast<int32_t>(r.intValue);
                EXPECT_EQ(r.senderId, senderValue(MEAS_id));
            }
        }
        EXPECT_FALSE(got.empty());
        if (!got.empty()) {
            EXPECT_EQ(got.back().kind, REQ_MANUAL_MEAS);
            EXPECT_EQ(got.back().code, 0);
        }
        return level;
    }
};

TEST_F(MeasureThreadTest, EachRequestWritesItsCursorWordsAndAnswersItsCode)
{
    data.cursor1Time = 11;
    data.cursor2Time = 12;
    data.cursor1Level = 13;
    data.cursor2Level = 14;
    data.cursor3Time = 15;
    data.xyCursor1X = 16;
    data.xyCursor2X = 17;
    constexpr int32_t _ = -1;
    struct Row {
        uint16_t kind;
        int32_t code;
        uint16_t mode;
        int16_t cursorState;
        int32_t answer;
        TWords words;
    };
    const Row rows[] = {
        {1, 24, 16, 0, 90, {11, _, _, _, _, _, _}},
        {1, 25, 16, 0, 91, {_, 12, _, _, _, _, _}},
        {1, 88, 16, 0, 90, {_, _, 13, _, _, _, _}},
        {1, 89, 16, 0, 91, {_, _, _, 14, _, _, _}},
        {1, 90, 16, 0, 90, {11, _, 13, _, _, _, _}},
        {1, 91, 16, 0, 91, {_, 12, _, 14, _, _, _}},
        {1, 92, 16, 0, 0, {_, _, _, _, 15, _, _}},
        {1, 93, 16, 0, 93, {11, 12, _, _, 15, _, _}},
        {1, 203, 16, 0, 90, {_, _, _, _, _, 16, _}},
        {1, 204, 16, 0, 91, {_, _, _, _, _, _, 17}},
        // Cursors shown (state 1 or 3): the levels follow every handled request.
        {1, 24, 16, 1, 90, {11, _, 13, 14, _, _, _}},
        {1, 121, 16, 1, 0, {_, _, 13, 14, _, _, _}},
        {1, 121, 16, 3, 0, {_, _, 13, 14, _, _, _}},
        {1, 121, 16, 2, 0, {_, _, _, _, _, _, _}},
        {1, 121, 16, 0, 0, {_, _, _, _, _, _, _}},
        // The recorder always, the meter never.
        {1, 38, 130, 0, 0, {_, _, 13, 14, _, _, _}},
        {1, 3, 128, 1, 0, {_, _, _, _, _, _, _}},
        {1, 25, 129, 3, 91, {_, 12, _, _, _, _, _}},
        // Codes and kinds that concern no cursor.
        {1, 50, 16, 1, 0, {_, _, _, _, _, _, _}},
        {16, 24, 16, 1, 0, {_, _, _, _, _, _, _}},
        {1024, 24, 16, 1, 0, {_, _, _, _, _, _, _}},
        {8, 24, 16, 1, 0, {_, _, _, _, _, _, _}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << row.kind << " code " << row.code << " mode " << row.mode
                                        << " cursorState " << row.cursorState);
        data.instrumentMode = row.mode;
        data.cursorState = row.cursorState;
        clearWords();
        post(row.kind, row.code);
        const std::vector<pipe_dial> got = answers(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].kind, REQ_MANUAL_MEAS);
        EXPECT_EQ(got[0].code, row.answer);
        EXPECT_NE(got[0].intValue, 0);
        EXPECT_EQ(got[0].senderId, senderValue(MEAS_id));
        EXPECT_EQ(words(), row.words);
    }
}

// While the test holds the lock the transfer writes under, request 205 waits; repeats queued
// meanwhile collapse to one answer, different codes answer each.
TEST_F(MeasureThreadTest, TheLevelIsMeasuredUnderTheTransferLockAndRepeatsCollapse)
{
    data.trigSource = 0;
    data.trigCouplingCh1 = 1;
    data.couplingCh1 = 1;
    fillConstant(0, kZero + kTenth);

    pthread_mutex_lock(&o_g_autoMeasMutex);
    post(REQ_SET_PARAM, param::trigLevelAuto);
    const bool waited = inboxStaysEmpty(200);
    for (int i = 0; i < 3; ++i)
        post(REQ_SET_PARAM, param::cursor1Time);
    post(REQ_SET_PARAM, param::cursor2Time);
    post(REQ_SET_PARAM, param::cursor1Time);
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    EXPECT_TRUE(waited);

    const std::vector<pipe_dial> got = answers(4);
    std::vector<std::pair<uint16_t, int32_t>> seen;
    for (const pipe_dial& r : got)
        seen.emplace_back(r.kind, r.code);
    EXPECT_EQ(seen, (std::vector<std::pair<uint16_t, int32_t>>{
                        {REQ_SET_PARAM, param::trigLevelCh1}, {64, 0}, {64, 90}, {64, 91}, {64, 90}}));
    EXPECT_TRUE(inboxStaysEmpty(100));
}

TEST_F(MeasureThreadTest, DcTriggerLevelIsTheMiddleOfTheSignalLessThePosition)
{
    struct Row {
        int source;
        uint32_t code;
        int16_t position;
        int16_t trigCoupling;
        int32_t level;
    };
    const Row rows[] = {
        {0, kZero, 0, 1, 0},
        {0, kZero + kTenth, 0, 1, 100},
        {1, kZero + kTenth, 30, 3, 70},
        {2, kZero - 2 * kTenth, 0, 1, -200},
        {3, kZero - 2 * kTenth, -50, 1, -150},
        // The level parameter's range holds.
        {1, 668400, -600, 1, 1000},
        {1, 380112, 600, 1, -1000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "source " << row.source << " code " << row.code);
        data.trigSource = static_cast<int16_t>(row.source);
        int16_t* positions[4] = {&data.offsetCh1, &data.offsetCh2, &data.offsetCh3, &data.offsetCh4};
        int16_t* trigCouplings[4] = {&data.trigCouplingCh1, &data.trigCouplingCh2, &data.trigCouplingCh3,
                                     &data.trigCouplingCh4};
        int16_t* couplings[4] = {&data.couplingCh1, &data.couplingCh2, &data.couplingCh3, &data.couplingCh4};
        *positions[row.source] = row.position;
        *trigCouplings[row.source] = row.trigCoupling;
        *couplings[row.source] = 1;
        fillConstant(row.source, row.code);
        int source = -1;
        EXPECT_EQ(levelRequest(&source), row.level);
        EXPECT_EQ(source, row.source);
    }
}

TEST_F(MeasureThreadTest, AcTriggerLevelFollowsTheDutyCycle)
{
    data.trigSource = 1;
    data.offsetCh2 = 100;  // no part in the rule
    struct Row {
        const char* what;
        int16_t trigCoupling;
        int16_t coupling;
        double duty;
        int32_t level;
    };
    const Row rows[] = {
        {"narrow high pulses", 0, 1, 0.2, 200},
        {"square", 0, 1, 0.5, 0},
        {"narrow low pulses", 2, 1, 0.8, -200},
        {"AC input", 1, 0, 0.2, 200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        data.trigCouplingCh2 = row.trigCoupling;
        data.couplingCh2 = row.coupling;
        fillPulses(1, row.duty, kZero - 2 * kTenth, kZero + 2 * kTenth);
        int source = -1;
        EXPECT_EQ(levelRequest(&source), row.level);
        EXPECT_EQ(source, 1);
    }
    // A flat signal has no edges: level 0.
    data.trigCouplingCh2 = 0;
    fillConstant(1, kZero + kTenth);
    int source = -1;
    EXPECT_EQ(levelRequest(&source), 0);
}

// Source 4 (channel 1's comparator at a fixed level) and a source with no channel set no level,
// and touch no other parameter; the answer still comes.
TEST_F(MeasureThreadTest, SourcesWithoutALevelAskNothing)
{
    fillConstant(0, kZero + kTenth);
    for (int16_t s : {4, 5, 55, -1}) {
        SCOPED_TRACE(s);
        data.trigSource = s;
        int source = -1;
        EXPECT_EQ(levelRequest(&source), -9999);
        EXPECT_EQ(source, -1);
    }
}

} // namespace
