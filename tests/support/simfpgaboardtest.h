// A SimBoardTest whose device-I/O seam is the simulated FPGA board, installed from the test's own
// seeded scenario with strict mode on. A strict violation recorded during the test fails it at
// tear-down, with the context of each violation.
#pragma once

#include "board/sim/simboard.h"
#include "tests/support/simboardtest.h"

#include <string>

class SimFpgaBoardTest : public SimBoardTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The recorded violations, one per line ("" when none).
    static std::string violationText();
};
