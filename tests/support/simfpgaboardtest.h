// A SimBoardTest whose device-I/O seam is the simulated FPGA board, installed from the test's own
// seeded scenario with strict mode on. A strict violation recorded during the test fails it at
// tear-down, with the context of each violation.
//
// The FPGA starts configured (as after a completed load) so that register accesses work from the
// first line. A test that needs the unconfigured board sets startConfigured_ to false in its
// fixture's constructor, or calls restartUnconfigured().
#pragma once

#include "board/sim/simboard.h"
#include "tests/support/simboardtest.h"

#include <string>

class SimFpgaBoardTest : public SimBoardTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Power-on again (simboard::reset()) with the FPGA unconfigured, waiting for its image.
    static void restartUnconfigured();

    // The recorded violations, one per line ("" when none).
    static std::string violationText();

    bool startConfigured_ = true;
};
