// Zero line of a channel's FFT: fftOffsetCh1-fftOffsetCh4; "-40dB" appended to the title with
// the logarithmic scale.
#pragma once

#include "ui/traces/indicator0v.h"

class Indicator0V_F : public Indicator0V {
public:
    Indicator0V_F(unsigned short kind, int withLabel);
};
