// Time-base tables of the scale helpers.
#include "core/scale.h"

namespace {

// Seconds per point, per time-base index.
const float EchelleHorizontale_T[kTimeBaseTableSize] = {
    1e-13f, 2e-13f, 5e-13f, 1e-12f, 2.5e-12f, 5e-12f, 1e-11f, 2e-11f, 5e-11f, 1e-10f,
    2e-10f, 4e-10f, 1e-9f,  2e-9f,  5e-9f,    1e-8f,  2e-8f,  5e-8f,  1e-7f,  2e-7f,
    5e-7f,  1e-6f,  2e-6f,  4e-6f,  1e-5f,    2e-5f,  5e-5f,  1e-4f,  2e-4f,  5e-4f,
    1e-3f,  2e-3f,  5e-3f,  1e-2f,  2e-2f,    1.26e-7f,
};

} // namespace

float GetHorizontalScaleT(unsigned short index)
{
    return index < kTimeBaseTableSize ? EchelleHorizontale_T[index] : 0.0f;
}

float GetRealHorizontalScaleT(unsigned short index)
{
    // The hardware sampling period: the converter's fastest period up to 100 ns a division.
    static const float EchelleHorizontale_T[kTimeBaseTableSize] = {
        4e-10f, 4e-10f, 4e-10f, 4e-10f, 4e-10f, 4e-10f, 4e-10f, 8e-10f, 2e-9f, 4e-9f,
        8e-9f,  1.6e-8f, 4e-8f, 8e-8f,  2e-7f,  4e-7f,  8e-7f,  2e-6f,  4e-6f, 4e-6f,
        4e-6f,  4e-6f,  4e-6f,  4e-6f,  1e-5f,  2e-5f,  5e-5f,  1e-4f,  2e-4f, 5e-4f,
        1e-3f,  2e-3f,  5e-3f,  1e-2f,  2e-2f,  2.52e-6f,
    };
    return index < kTimeBaseTableSize ? EchelleHorizontale_T[index] : 0.0f;
}
