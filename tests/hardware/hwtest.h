// Fixture of the hardware-layer tests: the simulated FPGA board (strict mode on), the register
// window mapped as the driver maps it, and the helpers that read the board's log.
#pragma once

#include "tests/hardware/drvtest.h"
#include "tests/support/requestboxes.h"
#include "tests/support/simfpgaboardtest.h"

#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/fpga.h"
#include "hardware/scaling.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>

class HardwareTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        data.hwChannelMask = 15;
        // An earlier test's traces (never freed) hold its modes: this test makes its own.
        setupLinks() = TSetupLinks{};
        mapWindow();
    }

    void TearDown() override
    {
        // The interrupt thread may still be draining through the window: end it first.
        if (threadsNamed("tItAcq") > 0) {
            simboard::shutdown();
            waitFor([] { return threadsNamed("tItAcq") == 0; }, 5000);
        }
        unmapWindow();
        SimFpgaBoardTest::TearDown();
        drainRequestBoxes();  // a notice posted before the threads ended must not reach the next test
    }

    // /dev/uio0's register window, as the driver maps it.
    void mapWindow()
    {
        uioFd_ = deviceIO().open("/dev/uio0", O_RDWR);
        ASSERT_GE(uioFd_, 0);
        TRegisterWindow* window = deviceIO().mapRegisterWindow(uioFd_, 64u << 20, 0);
        ASSERT_NE(window, nullptr);
        pv_g_fpgaIoMem.store(window);
    }
    void unmapWindow()
    {
        if (TRegisterWindow* window = pv_g_fpgaIoMem.exchange(nullptr))
            deviceIO().unmapRegisterWindow(window);
        if (uioFd_ >= 0)
            deviceIO().close(uioFd_);
        uioFd_ = -1;
    }

    static std::vector<simboard::TLogEntry> logOf(simboard::TLogKind kind) { return simboard::log({kind}); }
    static std::vector<simboard::TLogEntry> serialLog() { return logOf(simboard::TLogKind::Serial); }

    // Relay words (R- cleared bit 7, R+ set; left out without relayWords) and register numbers
    // sent to front-end channel ch since serialMark() returned `from`.
    static std::string frontEndSequence(int ch, size_t from, bool relayWords = true)
    {
        std::string out;
        const auto commands = simboard::serialCommands();
        for (size_t i = from; i < commands.size(); ++i) {
            const auto& c = commands[i];
            if (!(c.mask & (1u << ch)))
                continue;
            if (c.opcode == FE_OP_RELAY_WORD) {
                if (relayWords)
                    out += (c.data >> 1) & 0x80 ? "R+ " : "R- ";
            } else if (c.opcode < kScalingRegisters) {
                out += std::to_string(c.opcode) + " ";
            }
        }
        return out;
    }
    static size_t serialMark() { return simboard::serialCommands().size(); }

    // The channels (bit ch) whose front-end chip received register writes while f ran; every
    // chip is expected released after it (`what` names the case in a failure).
    template <typename F>
    static unsigned programmedChannels(F&& f, const std::string& what)
    {
        uint32_t before[4];
        for (int ch = 0; ch < 4; ++ch)
            before[ch] = simboard::frontEnd(ch).registerWrites;
        f();
        unsigned written = 0;
        for (int ch = 0; ch < 4; ++ch) {
            if (simboard::frontEnd(ch).registerWrites != before[ch])
                written |= 1u << ch;
            EXPECT_TRUE(simboard::frontEnd(ch).held()) << what << ", channel " << ch;
        }
        return written;
    }

    // Milliseconds taken by f.
    template <typename F>
    static double elapsedMs(F&& f)
    {
        const auto start = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }

private:
    int uioFd_ = -1;
};
