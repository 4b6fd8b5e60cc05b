// Default setup, the five measured traces, their records and the cursor table linked as the
// controller links them; the previous links come back at the end.
#pragma once

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/support/linkedtraces.h"
#include "tests/support/simboardtest.h"

#include <memory>
#include <vector>

class AutoMeasFixture : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        data = init_par;
        traces_ = std::make_unique<TLinkedTraces>(TLinkedTraces::kLive | TLinkedTraces::kPower);
        TSetupLinks& l = setupLinks();
        for (mesures& m : records_)
            m = mesures{};
        l.measResultsPtr = records_;
        for (int32_t& w : cursors_)
            w = 0;
        l.cursorTablePtr = cursors_;
        drainRequests();
    }
    void TearDown() override
    {
        traces_.reset();
        SimBoardTest::TearDown();
    }

    static std::vector<pipe_dial> drainRequests()
    {
        std::vector<pipe_dial> out;
        pipe_dial r{};
        while (!o_g_consMessageBox.empty() && o_g_consMessageBox.receive(&r, true, 1) == 0)
            out.push_back(r);
        return out;
    }

    // 0-3 channels 1-4, 4 the power trace.
    TAcquisition* trace(int i) { return traces_->trace(i < 4 ? i : 8); }

    // A record with every validity bit and a clean square wave: top 600000, base 500000,
    // rising edge at 100, falling at 150, two whole periods of 100 samples.
    static mesures fullRecord()
    {
        mesures m{};
        m.flags = 0x3FFF;
        m.maxCode = 610000;
        m.minCode = 495000;
        m.topLevel = 600000;
        m.baseLevel = 500000;
        m.rise10 = 95;
        m.rise50 = 100;
        m.rise90 = 105;
        m.fall90 = 146;
        m.fall50 = 150;
        m.fall10 = 154;
        m.nextRise50 = 200;
        m.nextFall50 = 250;
        m.mean = 550000;
        m.meanSquare = 2.5e9;
        m.meanSquarePeriods = 2.5e9;
        m.sum = 550000.0 * 1000;
        m.count = 1000;
        m.lastCross50 = 300;
        m.periodCount = 2;
        m.otherEdgeCount = 3;
        return m;
    }

    mesures records_[9];
    int32_t cursors_[7];

private:
    std::unique_ptr<TLinkedTraces> traces_;
};
