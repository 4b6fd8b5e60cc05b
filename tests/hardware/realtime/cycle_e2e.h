// Fixture of the end-to-end tests of the acquisition cycles on the simulated board: the
// controller's real start-up with a calibrated board, parameter requests as the user interface
// posts them, and the published tables read as the views read them.
#pragma once

#include "tests/core/command_fixture.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/requests.h"
#include "hardware/calibration.h"

#include <cmath>
#include <initializer_list>

// The range points of a calibrated board: the screen edges of every sensitivity where the
// simulated ADC puts them.
inline void calibrateRangePoints()
{
    const auto point = [](double raw) {
        return static_cast<int32_t>(std::llround(393216.0 + raw * 262144.0 / 262080.0 * 64.0));
    };
    for (int bwl = 0; bwl < 2; ++bwl)
        for (int ch = 0; ch < 4; ++ch)
            for (int s = 0; s < 16; ++s) {
                setCalibrationRangePoint(param_calibr, bwl, ch, 0, s, point(2047.5 - 1800.0));
                setCalibrationRangePoint(param_calibr, bwl, ch, 1, s, point(2047.5 + 1800.0));
            }
}

// Each test starts the instrument once, as a power-on does; the tear-down's power-off ends every
// thread it started. A test changes what it needs through requests, never by starting again.
class CycleEndToEndTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        COMM_id = pthread_self();
        recordPauses(true);
        setSpeed(4.0);
        for (int ch = 0; ch < 4; ++ch)
            simboard::setSignal(ch, dc(0.0));
    }

    static void setSpeed(double factor)
    {
        simboard::TScenario s = simboard::scenario();
        s.speedFactor = factor;
        simboard::setScenario(s);
    }

    // The controller's start-up with the range points of a calibrated board.
    static void startup()
    {
        commandStartup();
        calibrateRangePoints();
    }

    static simboard::TSignal dc(double volts)
    {
        simboard::TSignal s;
        s.offset = volts;
        return s;
    }

    static void post(int32_t parameter, intptr_t value)
    {
        pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, 0};
        ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
    }

    // Starts the meter in `mode` with the given meter function and channels shown.
    static void startMeter(int mode, int function, std::initializer_list<int> channels)
    {
        startup();
        post(param::meterFunction, function);
        for (int ch : channels)
            post(param::traceOnCh1 + 2 * ch, 1);
        post(param::instrumentMode, mode);
    }

    static mesures published(int ch)
    {
        pthread_mutex_lock(&o_g_autoMeasMutex);
        const mesures m = setupLinks().measResultsPtr[ch];
        pthread_mutex_unlock(&o_g_autoMeasMutex);
        return m;
    }

    // Back to the scope; the controller runs for a while so that the cycle ends.
    static void backToScope()
    {
        post(param::instrumentMode, 16);
        runLoop(3000, [](const pipe_dial&) {}, [] { return false; });
    }
};
