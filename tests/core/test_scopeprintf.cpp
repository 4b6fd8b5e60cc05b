// Value texts with decimal prefixes: the examples of each rule and the cases at the table ends.
#include "core/scopeprintf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
const QString kMu(QChar(0x03BC));
}

TEST(ScopePrintf, PrecisionAndPrefixFollowTheExponent)
{
    struct Case {
        int digits;
        double value;
        QString text;
    } const cases[] = {
        {2, 1234.5, "1.23 k"},
        {2, -1234.5, "-1.23 k"},
        {2, 0.05, "50.0 m"},
        {2, 0.5, "500 m"},
        {2, 999.9995, "1.00 k"},   // mantissa 9.999995 rounds up into the next exponent
        {2, 999.996, "1000 "},      // 9.99996 stays below 9.99999
        {2, 0, "0.00 "},
        {2, 1e-6, "1.00 " + kMu},
        {3, 47e3, "47.00 k"},
        {2, 2.5e-12, "2.50 p"},
        {2, 12e-9, "12.0 n"},
        {2, 3.3e6, "3.30 M"},
        {2, 4.7e10, "47.0 G"},
        {2, 1.5e14, "150 T"},
        {2, 1e-13, "0.00 "},        // below the smallest prefix
        {2, -1e-15, "0.00 "},
        {2, 1e15, "---- "},         // beyond the largest prefix
        {2, std::numeric_limits<double>::infinity(), "---- "},
        {2, -std::numeric_limits<double>::infinity(), "---- "},
        {2, std::nan(""), "---- "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ScopePrintf(c.digits, c.value), c.text);
    }
}

TEST(ScopePrintf, RangeLayout)
{
    struct Case {
        double range;
        double value;
        QString text;
    } const cases[] = {
        {500, 5, "005.0 "},
        {2, -1.5, "-1.500 "},
        {1000, 5, "0.005 k"},        // at a row's bound: the next row
        {0.005, 0.001, "1.000 m"},
        {5e-5, 1e-5, "10.00 " + kMu},
        {0, 1e-15, "001.0 f"},       // zero and negative ranges use row 0
        {-3, 2e-15, "002.0 f"},
        {1e-12, 1e-12, "1.000 p"},   // 1e-12 as a float lies below 1e-12
        {5e13, 1e13, "10.00 T"},
        {1e14, 1, "00.00 T"},        // 1e14 as a float lies above 1e14
        {2e14, 1, "-----"},
        {std::nan(""), 1, "-----"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        EXPECT_EQ(ScopePrintfRange(c.range, c.value), c.text);
    }
}
