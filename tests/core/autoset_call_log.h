// Log of the autoset entry points called, through autosetObserver, with the result they report
// in place of a search.
#pragma once

#include "acquisition/autoset.h"

#include <string>
#include <vector>

struct TAutosetCallRecord {
    std::string function;
    unsigned short argument;
};

struct TAutosetLog {
    bool result = false;  // what every entry point reports (false: found nothing)
    std::vector<TAutosetCallRecord> calls;
};

// Written by the controller thread only; tests read it once the controller is done.
inline TAutosetLog& autosetLog()
{
    static auto* log = new TAutosetLog();
    return *log;
}

// Empties the log and makes the entry points report to it instead of searching.
inline void resetAutosetLog()
{
    autosetLog() = TAutosetLog();
    autosetObserver = [](const TAutosetCall& call, bool* result) {
        autosetLog().calls.push_back({call.function, call.argument});
        *result = autosetLog().result;
        return true;
    };
}
