// Observation of the SCPI interpreter stand-in (tests only).
#pragma once

struct TScpiStandin {
    bool released = false;  // set by every release
    int releaseCount = 0;
};

// Read and reset under o_g_synchroScpiMutex.
TScpiStandin scpiStandin();
void resetScpiStandin();
