// Log of the public set-up calls made on traces, through TAcquisition::callObserver.
#pragma once

#include "acquisition/TAcquisition.h"

#include <vector>

struct TTraceCallLog {
    std::vector<TTraceCall> calls;
};

// Written by the controller thread only; tests read it once the controller is done.
inline TTraceCallLog& traceCallLog()
{
    static auto* log = new TTraceCallLog();
    return *log;
}

// Empties the log and makes sure the traces report to it.
inline void resetTraceCallLog()
{
    traceCallLog().calls.clear();
    TAcquisition::callObserver = [](const TTraceCall& call) { traceCallLog().calls.push_back(call); };
}
