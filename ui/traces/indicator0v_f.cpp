#include "ui/traces/indicator0v_f.h"

#include "core/gest_db.h"

Indicator0V_F::Indicator0V_F(unsigned short kind, int withLabel)
    : Indicator0V(kind)
{
    const int channel = channelOfKind(kind);
    const int16_t limits[4] = {max_par.fftOffsetCh1, max_par.fftOffsetCh2, max_par.fftOffsetCh3,
                               max_par.fftOffsetCh4};
    parameter_ = static_cast<unsigned short>(param::fftOffsetCh1 + channel);
    lowerBound_ = -limits[channel];
    upperBound_ = limits[channel];
    if (withLabel == 1)
        title_ += QStringLiteral("-40dB");
}
