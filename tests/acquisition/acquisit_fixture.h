// The acquisition threads on the simulated FPGA board: the initial setup in oscilloscope mode,
// this thread as the controller, and the wait for acquisit to settle.
#pragma once

#include "acquisition/acquisit.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "hardware/handshake.h"
#include "tests/support/simfpgaboardtest.h"

#include <chrono>
#include <cstring>
#include <thread>

class AcquisitFixture : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof(database));
        data.instrumentMode = 16;
        COMM_id = pthread_self();
        RTAC_id = 0;
        ACQU_id = 0;
    }

    // acquisit has applied `orders` orders and startacq waits in its park with no resume
    // pending (two resumes close together may wake it once).
    static bool ordersSettled(int orders)
    {
        for (int i = 0; i < 5000; ++i) {
            const TAcquisitLog s = acquisitLog();
            if (s.ordersDone >= orders && s.parked && s.parkStamp == AcqResumeStamp())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};
