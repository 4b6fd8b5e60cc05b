// Short value texts with a decimal prefix, for a unit the caller appends. No state: any thread.
#pragma once

#include <QString>

#include <cstdint>

// The value with digits + 1 significant digits, then a blank and the prefix letter of its
// magnitude (p n µ m k M G T; a lone blank for units). A value that is not finite or lies at
// 1e15 or above prints "----" and a blank; below 1e-12 (in magnitude) it prints as zero.
QString ScopePrintf(int32_t digits, double value);

// The value in the fixed layout of a measuring range: the prefix and decimals follow the range,
// the number is padded with zeros to five characters. "-----" when the range reaches the
// single-precision 1e14 (just above 1e14), or is not a number.
QString ScopePrintfRange(double range, double value);
