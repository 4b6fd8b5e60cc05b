// Mnemonic and unit tables, and the readers of strings, expressions and channel lists.
#include "scpi/params.h"

#include "scpi/io.h"
#include "scpi/memdat.h"

#include <cstring>

namespace {

// B
constexpr mnemo mntgt[] = {
    {4, 4, "edge"},
    {3, 5, "pulse"},
    {3, 5, "delay"},
    {4, 5, "event"},
    {2, 2, "tv"},
    {3, 8, "recorder"},
    {4, 7, "capture"},
    {0, 0, nullptr},
};
// C
constexpr mnemo mncoup[] = {
    {2, 2, "ac"},
    {2, 2, "dc"},
    {3, 6, "ground"},
    {0, 0, nullptr},
};
// D
constexpr mnemo mntgcoup[] = {
    {2, 2, "ac"},
    {2, 2, "dc"},
    {0, 0, nullptr},
};
// E
constexpr mnemo mnvidsel[] = {
    {0, 0, nullptr},
};
// F
constexpr mnemo mnsrc[] = {
    {4, 4, "int1"},
    {9, 9, "internal1"},
    {4, 4, "int2"},
    {9, 9, "internal2"},
    {4, 4, "int3"},
    {9, 9, "internal3"},
    {4, 4, "int4"},
    {9, 9, "internal4"},
    {0, 0, nullptr},
};
// G
constexpr mnemo mnslop[] = {
    {2, 2, "no"},
    {3, 8, "positive"},
    {3, 8, "negative"},
    {3, 6, "either"},
    {4, 6, "window"},
    {0, 0, nullptr},
};
// H
constexpr mnemo mnat[] = {
    {4, 6, "normal"},
    {3, 8, "envelope"},
    {0, 0, nullptr},
};
// I
constexpr mnemo mntran[] = {
    {4, 11, "rectangular"},
    {4, 7, "hamming"},
    {4, 7, "hanning"},
    {4, 8, "blackman"},
    {7, 7, "flattop"},
    {0, 0, nullptr},
};
// J
constexpr mnemo mnspac[] = {
    {3, 6, "linear"},
    {3, 11, "logarithmic"},
    {0, 0, nullptr},
};
// K
constexpr mnemo mnbdtst[] = {
    {1, 1, "a"},
    {2, 2, "xy"},
    {0, 0, nullptr},
};
// L
constexpr mnemo mnstyle[] = {
    {4, 6, "normal"},
    {3, 8, "envelope"},
    {3, 3, "all"},
    {3, 10, "accumulate"},
    {0, 0, nullptr},
};
// M
constexpr mnemo mnint[] = {
    {4, 4, "int1"},
    {4, 4, "int2"},
    {4, 4, "int3"},
    {4, 4, "int4"},
    {4, 4, "int5"},
    {0, 0, nullptr},
};
// N
constexpr mnemo mnlang[] = {
    {3, 7, "english"},
    {3, 6, "french"},
    {3, 6, "german"},
    {3, 7, "spanish"},
    {3, 7, "italian"},
    {0, 0, nullptr},
};
// O
constexpr mnemo mnhclg[] = {
    {3, 3, "ibm"},
    {3, 5, "epson"},
    {3, 5, "canon"},
    {3, 3, "pcl"},
    {3, 3, "dpu"},
    {4, 10, "postscript"},
    {3, 3, "bmp"},
    {3, 3, "gif"},
    {0, 0, nullptr},
};
// P
constexpr mnemo mnfdat[] = {
    {3, 5, "ascii"},
    {3, 11, "hexadecimal"},
    {3, 6, "binary"},
    {3, 7, "integer"},
    {0, 0, nullptr},
};
// Q
constexpr mnemo mnsmod[] = {
    {4, 4, "home"},
    {4, 5, "scope"},
    {3, 6, "logger"},
    {6, 8, "analyser"},
    {4, 10, "multimeter"},
    {3, 3, "bus"},
    {3, 3, "eye"},
    {0, 0, nullptr},
};
// R
constexpr mnemo mnhelp[] = {
    {1, 1, "*"},
    {4, 5, "abort"},
    {3, 3, "arm"},
    {5, 7, "autoset"},
    {4, 9, "calculate"},
    {3, 6, "device"},
    {4, 7, "display"},
    {4, 6, "format"},
    {4, 5, "hcopy"},
    {4, 4, "help"},
    {4, 8, "initiate"},
    {3, 5, "input"},
    {4, 7, "measure"},
    {4, 7, "mmemory"},
    {8, 8, "passfail"},
    {4, 5, "sense"},
    {4, 6, "system"},
    {4, 5, "trace"},
    {4, 7, "trigger"},
    {0, 0, nullptr},
};
// S
constexpr mnemo mntrc[] = {
    {6, 6, "trace1"},
    {6, 6, "trace2"},
    {6, 6, "trace3"},
    {6, 6, "trace4"},
    {0, 0, nullptr},
};
// T
constexpr mnemo mntrac[] = {
    {4, 4, "int1"},
    {4, 4, "int2"},
    {4, 4, "int3"},
    {4, 4, "int4"},
    {4, 4, "img1"},
    {4, 4, "img2"},
    {4, 4, "img3"},
    {4, 4, "img4"},
    {0, 0, nullptr},
};
// U
constexpr mnemo mnpace[] = {
    {0, 0, nullptr},
};
// V
constexpr mnemo mnpari[] = {
    {0, 0, nullptr},
};
// W
constexpr mnemo mnmes[] = {
    {4, 7, "voltage"},
    {3, 10, "resistance"},
    {4, 10, "continuity"},
    {4, 9, "capacitor"},
    {4, 5, "diode"},
    {5, 5, "pt100"},
    {7, 7, "p$t1000"},
    {3, 3, "tck"},
    {3, 5, "power"},
    {5, 5, "pow3a"},
    {5, 5, "pow3b"},
    {5, 5, "pow3c"},
    {7, 7, "monitor"},
    {0, 0, nullptr},
};
// X
constexpr mnemo mnvcoup[] = {
    {2, 2, "ac"},
    {2, 2, "dc"},
    {4, 4, "acdc"},
    {0, 0, nullptr},
};
// Y
constexpr mnemo mnpulse[] = {
    {3, 8, "inferior"},
    {3, 8, "superior"},
    {3, 6, "equate"},
    {3, 6, "inside"},
    {3, 7, "outside"},
    {0, 0, nullptr},
};
// Z
constexpr mnemo mnsrctrig[] = {
    {4, 4, "int1"},
    {9, 9, "internal1"},
    {4, 4, "int2"},
    {9, 9, "internal2"},
    {4, 4, "int3"},
    {9, 9, "internal3"},
    {4, 4, "int4"},
    {9, 9, "internal4"},
    {4, 9, "ainternal"},
    {3, 5, "timer"},
    {0, 0, nullptr},
};
// [
constexpr mnemo mnfilesrc[] = {
    {5, 5, "local"},
    {5, 6, "sdcard"},
    {0, 0, nullptr},
};
// ]
constexpr mnemo mnmeas[] = {
    {2, 2, "no"},
    {3, 3, "min"},
    {3, 3, "max"},
    {3, 6, "ptpeak"},
    {3, 3, "low"},
    {4, 4, "high"},
    {4, 9, "amplitude"},
    {5, 10, "rovershoot"},
    {5, 10, "fovershoot"},
    {5, 5, "rtime"},
    {5, 5, "ftime"},
    {4, 6, "pwidth"},
    {4, 6, "nwidth"},
    {4, 9, "frequency"},
    {3, 6, "period"},
    {4, 10, "pdutycycle"},
    {4, 5, "count"},
    {0, 0, nullptr},
};
// ^
constexpr mnemo mnrms[] = {
    {3, 5, "cycle"},
    {3, 8, "interval"},
    {0, 0, nullptr},
};
// _
constexpr mnemo mnpfdisp[] = {
    {3, 3, "all"},
    {4, 4, "pass"},
    {4, 4, "fail"},
    {0, 0, nullptr},
};
constexpr mnemo mnempty[] = {{0, 0, nullptr}};

// Selected by letter - 'B'.
constexpr const mnemo* kMnemonicTables[30] = {
    mntgt, mncoup, mntgcoup, mnvidsel, mnsrc, mnslop,
    mnat, mntran, mnspac, mnbdtst, mnstyle, mnint,
    mnlang, mnhclg, mnfdat, mnsmod, mnhelp, mntrc,
    mntrac, mnpace, mnpari, mnmes, mnvcoup, mnpulse,
    mnsrctrig, mnfilesrc, mnempty, mnmeas, mnrms, mnpfdisp,
};

// Special numeric words and their codes 2..7 (position + 2).
constexpr mnemo kSpecialWords[] = {
    {3, 7, "minimum"}, {3, 7, "maximum"}, {3, 7, "default"}, {2, 2, "up"}, {4, 4, "down"}, {3, 8, "infinity"},
    {0, 0, nullptr},
};

// Units: matched whole, no short forms. MOHM is milli-ohm, MAOHM mega-ohm; MHZ and MAHZ are
// both mega-hertz.
constexpr const char* kTimeUnits[] = {"ps", "ns", "us", "ms", "s", "ks", nullptr};
constexpr double kTimeFactors[] = {1e-12, 1e-9, 1e-6, 1e-3, 1.0, 1e3};
constexpr const char* kVoltUnits[] = {"uv", "mv", "v", "kv", nullptr};
constexpr double kVoltFactors[] = {1e-6, 1e-3, 1.0, 1e3};
constexpr const char* kFrequencyUnits[] = {"hz", "khz", "mhz", "mahz", nullptr};
constexpr double kFrequencyFactors[] = {1.0, 1e3, 1e6, 1e6};
constexpr const char* kCapacitanceUnits[] = {"pf", "nf", "uf", "mf", "f", nullptr};
constexpr double kCapacitanceFactors[] = {1e-12, 1e-9, 1e-6, 1e-3, 1.0};
constexpr const char* kResistanceUnits[] = {"mohm", "ohm", "kohm", "maohm", nullptr};
constexpr double kResistanceFactors[] = {1e-3, 1.0, 1e3, 1e6};
constexpr const char* kPercentUnits[] = {"pct", nullptr};
constexpr double kPercentFactors[] = {1.0};

int lookUp(const mnemo* table, const char* word)
{
    const size_t length = std::strlen(word);
    for (int i = 0; table[i].shortLength != 0; ++i) {
        const mnemo& m = table[i];
        if ((length == static_cast<size_t>(m.shortLength) && std::strncmp(word, m.word, length) == 0) ||
            std::strcmp(word, m.word) == 0)
            return i;
    }
    return -1;
}

bool isLineEnd(unsigned char c)
{
    return c == '\n' || c == '\r';
}

bool isAlnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// c is one of the characters of set; never the NUL, which strchr would find at the set's end
// (a NUL taken into a text would cut it short for every later check).
bool isOneOf(const char* set, unsigned char c)
{
    return c != 0 && std::strchr(set, c) != nullptr;
}

} // namespace

const mnemo* mnemonicTable(char letter)
{
    int t = static_cast<unsigned char>(letter) - 'B';
    if (t < 0 || t >= 30)
        return nullptr;
    return kMnemonicTables[t];
}

short search_mnemo(char* word, short letter, short index)
{
    const mnemo* table = mnemonicTable(static_cast<char>(letter));
    if (!table)
        return kMnemoNone;
    if (index == kMnemoNone) {
        int i = lookUp(table, word);
        return i < 0 ? kMnemoNone : static_cast<short>(i);
    }
    int count = 0;
    while (table[count].shortLength != 0)
        ++count;
    if (index < 0 || index >= count) {
        word[0] = 0;
        return kMnemoNone;
    }
    const mnemo& m = table[index];
    int n = 0;
    for (; n < m.shortLength; ++n) {
        char c = m.word[n];
        word[n] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    word[n++] = '\n';
    word[n++] = '\r';
    word[n] = 0;
    return kMnemoNone;
}

short sp_num_search(const char* word)
{
    int i = lookUp(kSpecialWords, word);
    return static_cast<short>(i < 0 ? 1 : i + 2);
}

int unit(const char* const* table, const char* word)
{
    for (int i = 0; table && table[i]; ++i) {
        if (std::strcmp(table[i], word) == 0)
            return i + 1;
    }
    return 0;
}

const char* const* unitTable(char letter)
{
    switch (letter) {
    case 'c': return kTimeUnits;
    case 'd': return kVoltUnits;
    case 'h': return kFrequencyUnits;
    case 'n': return kCapacitanceUnits;
    case 'o': return kResistanceUnits;
    case 'l': return kPercentUnits;
    default: return nullptr;
    }
}

const double* unitFactors(char letter)
{
    switch (letter) {
    case 'c': return kTimeFactors;
    case 'd': return kVoltFactors;
    case 'h': return kFrequencyFactors;
    case 'n': return kCapacitanceFactors;
    case 'o': return kResistanceFactors;
    case 'l': return kPercentFactors;
    default: return nullptr;
    }
}

int get_string(char* dst, short room, short* length)
{
    if (room < 1)
        return kErrStringTooLong;  // not even the terminator fits
    int n = 0;
    *length = 0;
    for (;;) {
        unsigned char c;
        GetCharacter(&c);
        if (c == '"')
            break;
        if (isLineEnd(c)) {
            dst[n] = 0;
            *length = static_cast<short>(n);
            return kErrInvalidSeparator;  // 4: the line ended inside
        }
        if (!(isAlnum(c) || isOneOf("$%&-@_.:/", c)))
            return kErrInvalidString;
        if (n + 1 >= room)
            return kErrStringTooLong;
        dst[n++] = static_cast<char>(c);
    }
    dst[n] = 0;
    *length = static_cast<short>(n);
    return 0;
}

int get_equation(char* dst, short room, short* length)
{
    if (room < 1)
        return kErrStringTooLong;  // not even the terminator fits
    int n = 0;
    int depth = 1;  // the outer "(" is read already
    *length = 0;
    for (;;) {
        unsigned char c;
        GetCharacter(&c);
        if (isLineEnd(c)) {
            dst[n] = 0;
            *length = static_cast<short>(n);
            return kErrInvalidSeparator;
        }
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c - 'A' + 'a');
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                break;
        } else if (!(isAlnum(c) || isOneOf(" \"*+-/.", c))) {
            return kErrInvalidString;
        }
        if (n + 1 >= room)
            return kErrStringTooLong;
        dst[n++] = static_cast<char>(c);
    }
    dst[n] = 0;
    *length = static_cast<short>(n);
    return 0;
}

int getChannelList(char* dst, short room, short* length)
{
    if (room < 1)
        return kErrStringTooLong;  // not even the terminator fits
    int n = 0;
    *length = 0;
    auto store = [&](char c) {
        if (n + 1 >= room)
            return false;
        dst[n++] = c;
        return true;
    };
    unsigned char c;
    GetCharacter(&c);
    if (isLineEnd(c))
        return kErrInvalidSeparator;
    if (c != '@')
        return kErrIllegalValue;
    bool afterDigit = false;
    bool range = false;
    char last = 0;
    for (;;) {
        GetCharacter(&c);
        if (c == ')')
            break;
        if (isLineEnd(c))
            return kErrInvalidSeparator;
        if (c >= '1' && c <= '4') {
            if (range) {
                // Both ends included, the first one stored already.
                if (c == last)
                    return kErrIllegalValue;
                int step = c > last ? 1 : -1;
                for (char d = static_cast<char>(last + step);; d = static_cast<char>(d + step)) {
                    if (!store(d))
                        return kErrStringTooLong;
                    if (d == static_cast<char>(c))
                        break;
                }
                range = false;
            } else {
                // A digit right after a digit is no channel list.
                if (afterDigit)
                    return kErrIllegalValue;
                if (!store(static_cast<char>(c)))
                    return kErrStringTooLong;
            }
            last = static_cast<char>(c);
            afterDigit = true;
        } else if ((c == ',' || c == ':') && afterDigit) {
            range = c == ':';
            afterDigit = false;
        } else {
            return kErrIllegalValue;
        }
    }
    dst[n] = 0;
    *length = static_cast<short>(n);
    return 0;
}
