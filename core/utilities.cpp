#include "core/utilities.h"

#include <cmath>

namespace {
// ASCII only: the process locale (set by Qt) must not change how texts compare.
int asciiLower(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u;
}
int asciiUpper(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u;
}
} // namespace

int bintoi(char c)
{
    return c == '1' ? 1 : 0;
}

int dectoi(char c)
{
    return isDecimal(c) ? c - '0' : 0;
}

int hextoi(char c)
{
    if (isDecimal(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

char itohex(int v)
{
    if (v < 0 || v > 15)
        return '0';
    return static_cast<char>(v < 10 ? '0' + v : 'a' + v - 10);
}

bool isBinary(char c)
{
    return c == '0' || c == '1';
}

bool isDecimal(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexa(char c)
{
    return isDecimal(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Difference and quotient in single precision, the comparison in double, as the callers'
// thresholds were tuned that way.
bool FloatisEqu(float a, float b)
{
    if (a == 0.0f)
        return static_cast<double>(std::fabs(b)) < 0.002;
    float q = (a - b) / a;
    return static_cast<double>(std::fabs(q)) < 0.002;
}

bool FloatisInf(float a, float b)
{
    float d = a - b;
    return static_cast<double>(d) < -0.002 * static_cast<double>(std::fabs(a));
}

char* itoa(int32_t value, char* out, int32_t base)
{
    if (base < 2 || base > 36)
        base = 10;
    // Magnitude in unsigned arithmetic: INT32_MIN has no positive counterpart.
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    char digits[33];
    int n = 0;
    do {
        uint32_t d = magnitude % static_cast<uint32_t>(base);
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
        magnitude /= static_cast<uint32_t>(base);
    } while (magnitude != 0);
    char* p = out;
    if (value < 0)
        *p++ = '-';
    while (n > 0)
        *p++ = digits[--n];
    *p = 0;
    return out;
}

void strCharToChar(char* text, char from, char to)
{
    if (!text)
        return;
    for (; *text; ++text) {
        if (*text == from)
            *text = to;
    }
}

int stricmp(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        int ca = asciiLower(*a);
        int cb = asciiLower(*b);
        if (ca != cb || *a == 0)
            return ca - cb;
    }
}

const char* stristr(const char* text, const char* pattern)
{
    if (!text || !pattern || !*text || !*pattern)
        return nullptr;
    for (const char* start = text; *start; ++start) {
        const char* t = start;
        const char* p = pattern;
        while (*t && *p && asciiUpper(*t) == asciiUpper(*p)) {
            ++t;
            ++p;
        }
        if (*p == 0)
            return start;
    }
    return nullptr;
}

char* stristr(char* text, const char* pattern)
{
    return const_cast<char*>(stristr(static_cast<const char*>(text), pattern));
}

char* strToLower(char* text)
{
    if (!text)
        return nullptr;
    for (char* p = text; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p - 'A' + 'a');
    }
    return text;
}
