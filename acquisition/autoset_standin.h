// Observation and hook of the autoset stand-in (tests only).
#pragma once

#include <string>
#include <vector>

struct TAutosetCall {
    std::string function;  // "Autoset", "AutosetFft", "AutosetVerticalFFT", "AutosetVertical"
    unsigned short argument;
};

struct TAutosetStandin {
    bool result = false;  // hook: what every variant reports (false: found nothing)
    std::vector<TAutosetCall> calls;
};

TAutosetStandin& autosetStandin();
void resetAutosetStandin();
