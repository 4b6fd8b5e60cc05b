// Observation and hooks of the file stand-in (tests only).
#pragma once

#include <string>
#include <vector>

struct TFileCall {
    std::string function;  // "TraceSaveAll", ...
    std::string name;      // "(null)" for none
    std::string comment;   // "(null)" for none; empty for recalls
};

struct TFilesStandin {
    // Hooks: the result each function reports.
    int traceSaveResult = 19;
    int maskSaveResult = 19;
    int functionSaveResult = 19;
    int harmonicSaveResult = 19;
    int traceRecallResult = 17;
    int functionRecallResult = 17;
    int loggerRecallResult = 17;

    std::vector<TFileCall> calls;
};

TFilesStandin& filesStandin();
void resetFilesStandin();
