#include "scpi/lex.h"

#include "core/utilities.h"
#include "scpi/io.h"
#include "scpi/memdat.h"

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace {

unsigned char lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool isLineEnd(unsigned char c)
{
    return c == '\n' || c == '\r';
}

bool isBlank(unsigned char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool isWordChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || isDigit(c) || c == '_' || c == '*';
}

unsigned char mapPunct(unsigned char c)
{
    if (c == '\t')
        return ' ';
    if (isLineEnd(c))
        return 0;
    return c;
}

// Every character the lexer reads is lowered, the look-ahead included.
unsigned char readChar(lex* l)
{
    unsigned char c;
    if (l->pendingFlag) {
        l->pendingFlag = 0;
        c = l->nextChar;
    } else {
        GetCharacter(&c);
    }
    return lower(c);
}

void keep(lex* l, unsigned char c)
{
    l->nextChar = c;
    l->pendingFlag = 1;
}

// Failure of the number recogniser. The offending character stays as look-ahead, so that a
// line end is not consumed and the discard of the line stops at the right place.
int numberFailure(lex* l, unsigned char c)
{
    keep(l, c);
    l->failure = kErrInvalidNumber;
    return kTokFailure;
}

// 10^e by binary decomposition; e beyond the double range gives infinity.
double powerOfTen(int e)
{
    static const double factors[] = {1e1, 1e2, 1e4, 1e8, 1e16, 1e32, 1e64, 1e128, 1e256};
    double r = 1.0;
    for (int i = 0; i < 9 && e != 0; ++i, e >>= 1) {
        if (e & 1)
            r *= factors[i];
    }
    return e != 0 ? HUGE_VAL : r;
}

float toFloat(double v)
{
    if (v > FLT_MAX)
        return HUGE_VALF;
    if (v < -FLT_MAX)
        return -HUGE_VALF;
    return static_cast<float>(v);
}

int hashForm(lex* l)
{
    unsigned char c = readChar(l);
    if (c == 'h' || c == 'b') {
        const bool hex = c == 'h';
        const int maxDigits = hex ? 8 : 32;
        uint32_t value = 0;
        int digits = 0;
        for (;;) {
            c = readChar(l);
            bool ok = hex ? isHexa(static_cast<char>(c)) : isBinary(static_cast<char>(c));
            if (!ok || digits == maxDigits)
                break;
            value = hex ? (value << 4) | static_cast<uint32_t>(hextoi(static_cast<char>(c)))
                        : (value << 1) | static_cast<uint32_t>(bintoi(static_cast<char>(c)));
            ++digits;
        }
        if (digits == 0)
            return numberFailure(l, c);
        keep(l, c);
        l->integer = static_cast<int32_t>(value);
        return kTokInteger;
    }
    // Definite-length block "#<n><len>"; "#0" (indefinite length) is refused.
    if (c >= '1' && c <= '9') {
        int n = c - '0';
        int32_t count = 0;
        for (int i = 0; i < n; ++i) {
            c = readChar(l);
            if (!isDigit(c))
                return numberFailure(l, c);
            count = count * 10 + (c - '0');
        }
        // No look-ahead: the next character is the first byte of the block.
        l->integer = count;
        l->block = 1;
        return kTokInteger;
    }
    return numberFailure(l, c);
}

} // namespace

int lexic(lex* l)
{
    unsigned char c = readChar(l);
    if ((c >= 'a' && c <= 'z') || c == '*') {
        int n = 0;
        while (isWordChar(c)) {
            if (n == kScpiWordMax) {
                l->failure = kErrMnemonicTooLong;
                return kTokFailure;
            }
            l->text[n++] = static_cast<char>(c);
            c = readChar(l);
        }
        l->text[n] = 0;
        l->textLength = static_cast<int16_t>(n);
        keep(l, c);
        l->punct = mapPunct(c);
        return kTokWord;
    }
    if (isDigit(c) || c == '+' || c == '-' || c == '.' || c == '#')
        return atonum(c, l);
    if (isLineEnd(c)) {
        l->punct = 0;
        return kTokPunct;
    }
    if (isBlank(c)) {
        do {
            c = readChar(l);
        } while (isBlank(c));
        keep(l, c);
        l->punct = ' ';
        return kTokPunct;
    }
    l->punct = c;
    return kTokPunct;
}

int atonum(unsigned char first, lex* l)
{
    enum State {
        Start, Sign, Digits, LeadingPoint, PointAfterSign, PointAfterDigits, Fraction, Blanks,
        ExponentMark, BlanksAfterMark, ExponentSign, ExponentDigits,
    };
    l->block = 0;
    unsigned char c = lower(first);
    if (c == '#')
        return hashForm(l);

    // Digits are kept in 64 bits while they fit (18 significant digits); further integer
    // digits only scale the value, further fraction digits are below float precision.
    constexpr uint64_t kMantissaLimit = 100000000000000000ULL;  // 1e17
    uint64_t mantissa = 0;
    int droppedIntegerDigits = 0;
    int fractionDigits = 0;
    int exponent = 0;
    bool negative = false;
    bool exponentNegative = false;
    bool real = false;

    auto addIntegerDigit = [&](unsigned char d) {
        if (mantissa < kMantissaLimit)
            mantissa = mantissa * 10 + (d - '0');
        else
            ++droppedIntegerDigits;
    };
    auto addFractionDigit = [&](unsigned char d) {
        if (mantissa < kMantissaLimit) {
            mantissa = mantissa * 10 + (d - '0');
            ++fractionDigits;
        }
    };

    State s = Start;
    for (;;) {
        // The candidates of the state, tried in order; the current character goes to the
        // first that accepts it, otherwise the number ends (or fails where it must go on).
        bool ended = false;
        switch (s) {
        case Start:
            if (c == '+' || c == '-') {
                negative = c == '-';
                s = Sign;
            } else if (isDigit(c)) {
                addIntegerDigit(c);
                s = Digits;
            } else if (c == '.') {
                real = true;
                s = LeadingPoint;
            } else {
                return numberFailure(l, c);
            }
            break;
        case Sign:
            if (isDigit(c)) {
                addIntegerDigit(c);
                s = Digits;
            } else if (c == '.') {
                real = true;
                s = PointAfterSign;
            } else {
                ended = true;
            }
            break;
        case Digits:
            if (isDigit(c)) {
                addIntegerDigit(c);
            } else if (c == '.') {
                real = true;
                s = PointAfterDigits;
            } else if (isBlank(c)) {
                s = Blanks;
            } else if (c == 'e') {
                real = true;
                s = ExponentMark;
            } else {
                ended = true;
            }
            break;
        case LeadingPoint:
            if (isDigit(c)) {
                addFractionDigit(c);
                s = Fraction;
            } else {
                ended = true;
            }
            break;
        case PointAfterSign:
            if (!isDigit(c))
                return numberFailure(l, c);
            addFractionDigit(c);
            s = Fraction;
            break;
        case PointAfterDigits:
        case Fraction:
            if (isDigit(c)) {
                addFractionDigit(c);
                s = Fraction;
            } else if (isBlank(c)) {
                s = Blanks;
            } else if (c == 'e') {
                s = ExponentMark;
            } else {
                ended = true;
            }
            break;
        case Blanks:
            if (isBlank(c)) {
            } else if (c == 'e') {
                real = true;
                s = ExponentMark;
            } else {
                ended = true;
            }
            break;
        case ExponentMark:
        case BlanksAfterMark:
            if (isBlank(c)) {
                s = BlanksAfterMark;
            } else if (c == '+' || c == '-') {
                exponentNegative = c == '-';
                s = ExponentSign;
            } else if (isDigit(c)) {
                exponent = c - '0';
                s = ExponentDigits;
            } else {
                return numberFailure(l, c);
            }
            break;
        case ExponentSign:
            if (!isDigit(c))
                return numberFailure(l, c);
            exponent = c - '0';
            s = ExponentDigits;
            break;
        case ExponentDigits:
            if (isDigit(c)) {
                if (exponent < 100000)
                    exponent = exponent * 10 + (c - '0');
            } else {
                ended = true;
            }
            break;
        }
        if (ended)
            break;
        c = readChar(l);
    }
    keep(l, c);

    if (!real && droppedIntegerDigits == 0 && mantissa <= (negative ? 2147483648ULL : 2147483647ULL)) {
        l->integer = negative ? static_cast<int32_t>(-static_cast<int64_t>(mantissa)) : static_cast<int32_t>(mantissa);
        return kTokInteger;
    }
    // A real, or an integer too large for 32 bits, which travels as a real with its value.
    int scale = droppedIntegerDigits - fractionDigits + (exponentNegative ? -exponent : exponent);
    double v = static_cast<double>(mantissa);
    if (mantissa != 0)
        v = scale >= 0 ? v * powerOfTen(scale) : v / powerOfTen(-scale);
    l->real = toFloat(negative ? -v : v);
    return kTokReal;
}

void skip(lex* l)
{
    if (l->pendingFlag && isLineEnd(l->nextChar)) {
        l->pendingFlag = 0;
        return;
    }
    l->pendingFlag = 0;
    unsigned char c;
    do {
        GetCharacter(&c);
    } while (!isLineEnd(c));
}
