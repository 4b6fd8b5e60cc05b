// Stand-in until the trace object and the vertical scale tables exist: one unit per code.
#include "core/scale.h"
#include "core/scale_standin.h"

float& verticalScaleStandin()
{
    static float value = 1.0f;
    return value;
}

float GetVerticalScale(TAcquisition*, TScale, short)
{
    return verticalScaleStandin();
}
