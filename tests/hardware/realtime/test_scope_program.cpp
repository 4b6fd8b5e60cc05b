// The program's own start-up in this process (controller thread, acquisition threads, driver) on
// the simulated board's default scenario, whose channel 1 carries a 1 kHz sine: the instrument
// keeps acquiring and the controller keeps refreshing the screen.
#include "tests/support/controllerend.h"
#include "tests/support/recordingbridge.h"
#include "tests/support/simfpgaboardtest.h"

#include "acquisition/TAcquisition.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/homebridge.h"
#include "core/process.h"
#include "core/requests.h"
#include "hardware/handshake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
using namespace std::chrono_literals;

class ScopeProgramTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        setPauseHook([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
        po_g_homeBridge.store(bridge_);
    }
    void TearDown() override
    {
        if (controllerStarted_) {
            EXPECT_TRUE(endControllerThread(COMM_id)) << "the controller did not end";
        }
        AcqStopNoWait();
        simboard::shutdown();
        SimFpgaBoardTest::TearDown();
    }

    int refreshes() const { return bridge_->count("screenRefresh()"); }

    TRecordingBridge* bridge_ = new TRecordingBridge();  // never freed: the threads outlive the test
    bool controllerStarted_ = false;
};

TEST_F(ScopeProgramTest, KeepsAcquiringAndTheDisplayHoldsTheSine)
{
    ASSERT_EQ(startThread(&COMM_id, command, nullptr, 50, false, "command"), 0);
    controllerStarted_ = true;
    for (int i = 0; i < 300 && refreshes() < 1; ++i)
        std::this_thread::sleep_for(100ms);
    // The user picks the oscilloscope with channel 1 on, as the screen's mode tools do.
    for (const pipe_dial& r : {pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, kSenderUserInterface},
                               pipe_dial{REQ_SET_PARAM, param::traceOnCh1, 0, 1, 0.0f, kSenderUserInterface}})
        ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
    // Started and acquiring: the first refreshes come.
    for (int i = 0; i < 300 && refreshes() < 3; ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_GE(refreshes(), 3);

    // A steady stream over the next seconds.
    int last = refreshes();
    for (int second = 0; second < 3; ++second) {
        std::this_thread::sleep_for(1s);
        const int now = refreshes();
        EXPECT_GT(now, last) << "second " << second;
        last = now;
    }

    TAcquisition* ch1 = setupLinks().acqCh1;
    ASSERT_NE(ch1, nullptr);
    uint32_t raw[TAcquisition::kLoggerWords];
    pthread_mutex_lock(&o_g_imageMutex);
    std::copy(ch1->loggerRaw, ch1->loggerRaw + TAcquisition::kLoggerWords, raw);
    pthread_mutex_unlock(&o_g_imageMutex);
    // The edge points may stand before the first measured sample or past the record's end.
    const uint32_t* begin = raw + 1;
    const uint32_t* end = raw + TAcquisition::kLoggerWords - 1;
    EXPECT_EQ(std::count(begin, end, 0x80000000u), 0);
    // Inverted codes: the 2 V swing at the default 1 V/div, both ways around the centre line.
    const uint32_t top = *std::min_element(begin, end);
    const uint32_t bottom = *std::max_element(begin, end);
    EXPECT_LT(top, kZeroLineCode - 20000);
    EXPECT_GT(bottom, kZeroLineCode + 20000);
}

}  // namespace
