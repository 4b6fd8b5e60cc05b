// Guards for the zoom fields of the setup: a recalled setup or a remote request can leave a
// window width or a zoom factor at 0 (or worse), and the placement maths divide by them.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// A window width that is not positive or not finite is taken as the whole record.
inline float usableZoomWidth(float width)
{
    return (std::isfinite(width) && width > 0.0f) ? width : 40.0f;
}

// A zoom factor that is not positive or not finite is taken as no zoom.
inline float usableZoomFactor(float factor)
{
    return (std::isfinite(factor) && factor > 0.0f) ? factor : 1.0f;
}

inline bool isUsableZoomValue(float value)
{
    return std::isfinite(value) && value > 0.0f;
}

// Truncation toward zero into 32 bits that saturates instead of overflowing (NaN gives 0).
inline int32_t truncToInt32(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483520.0f)  // largest float below 2^31
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0f)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// The 64-bit integer clamped into 32 bits.
inline int32_t clampToInt32(int64_t value)
{
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}
