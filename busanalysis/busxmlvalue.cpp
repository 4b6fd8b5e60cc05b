#include "busanalysis/busxmlvalue.h"

#include <cmath>
#include <locale>
#include <sstream>

bool readBusInteger(const std::string& text, int bits, bool isSigned, int64_t* value)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    if (!text.empty() && text[0] == '$') {
        in.get();
        in >> std::hex;
    }
    int64_t v = 0;
    if (!(in >> v))
        return false;
    const int64_t low = isSigned ? -(int64_t{1} << (bits - 1)) : 0;
    const int64_t high = isSigned ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
    if (v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool readBusBool(const std::string& text, bool* value)
{
    int64_t v = 0;
    if (!readBusInteger(text, 8, false, &v) || v > 1)
        return false;
    *value = v == 1;
    return true;
}

bool readBusFloat(const std::string& text, float* value)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    float v = 0;
    if (!(in >> v) || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}
