// Observation and hooks of the self-test stand-in (tests only).
#pragma once

#include <cstdint>

struct TSelfTestStandin {
    // Hooks: the results the two halves report.
    uint16_t autoTestResult = 0xFFFF;
    uint16_t acqTransfertInitResult = 0xFFFF;

    int autoTestCalls = 0;
    int acqTransfertInitCalls = 0;
};

TSelfTestStandin& selfTestStandin();
void resetSelfTestStandin();
