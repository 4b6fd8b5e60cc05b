#include "acquisition/TFonction.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

const char* const DescMembre[kTokenCount] = {
    " ",  "t",     "ch1",   "ch2",   "ch3",  "ch4",  "0",    "1",    "2",    "3",     "4",
    "5",  "6",     "7",     "8",     "9",    ".",    "pi",   "-",    "+",    "/",     "*",
    "(",  "divv(", "divh(", "step(", "sin(", "cos(", "exp(", "log(", "sqrt(", ")",   ";",
};

const int16_t CodePhonemes[kTokenCount] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                           17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

namespace {

enum Token : int16_t {
    TOK_BLANK = 0,
    TOK_T = 1,
    TOK_CH1 = 2,
    TOK_CH4 = 5,
    TOK_DIGIT0 = 6,
    TOK_DIGIT9 = 15,
    TOK_POINT = 16,
    TOK_PI = 17,
    TOK_MINUS = 18,
    TOK_PLUS = 19,
    TOK_DIV = 20,
    TOK_MUL = 21,
    TOK_BRACKET = 22,
    TOK_DIVV = 23,
    TOK_DIVH = 24,
    TOK_STEP = 25,
    TOK_SIN = 26,
    TOK_COS = 27,
    TOK_EXP = 28,
    TOK_LOG = 29,
    TOK_SQRT = 30,
    TOK_CLOSE = 31,
    TOK_SEMICOLON = 32,
};

constexpr uint32_t kEmptySample = 0x80000000u;
constexpr int64_t kZeroLine = 524256;
constexpr int64_t kLowest = 0x40020;
constexpr int64_t kHighest = 0xBFFA0;
constexpr float kNoScale = 3.0525032e-5f;
constexpr float kPi = 3.1415927f;

// Copies at most 99 characters of a possibly null text into a cleared 100-byte field.
void copyText(char* field, const char* source)
{
    std::memset(field, 0, TFonction::kTextSize);
    if (!source)
        return;
    for (int i = 0; i < TFonction::kTextSize - 1 && source[i] != '\0'; ++i)
        field[i] = source[i];
}

TMembreDescription member(int16_t kind, int32_t value)
{
    TMembreDescription m;
    m.kind = kind;
    m.value = value;
    return m;
}

int64_t clampResult(int64_t r)
{
    const int64_t v = static_cast<int64_t>(static_cast<uint64_t>(r) + static_cast<uint64_t>(kZeroLine));
    return v < kLowest ? kLowest : (v > kHighest ? kHighest : v);
}

uint32_t* channelBuffer(int channel)
{
    switch (channel) {
    case 0: return TAcquisition::Voie1Normalisee;
    case 1: return TAcquisition::Voie2Normalisee;
    case 2: return TAcquisition::Voie3Normalisee;
    case 3: return TAcquisition::Voie4Normalisee;
    default: return nullptr;
    }
}

// Offsets of the four channels in codes: the hardware position of each, except for the power
// function (identifier 8), whose sources are taken as they are.
void channelOffsets(uint16_t identifier, int64_t offsets[4])
{
    const int16_t positions[4] = {TAcquisition::decadrage1_hard, TAcquisition::decadrage2_hard,
                                  TAcquisition::decadrage3_hard, TAcquisition::decadrage4_hard};
    for (int n = 0; n < 4; ++n)
        offsets[n] = identifier == 8 ? 0 : static_cast<int64_t>(positions[n]) * 262080 / 1000;
}

// Reads channel operand n at index i: false when the sample is missing.
bool channelSample(int n, uint32_t i, int64_t offset, int64_t* value)
{
    const uint32_t* buffer = channelBuffer(n);
    if (!buffer || i >= TAcquisition::kNormalisedSamples)
        return false;
    const uint32_t w = buffer[i];
    if (w & 0x80000000u)
        return false;
    *value = static_cast<int64_t>(w & 0xFFFFF) - offset - kZeroLine;
    return true;
}

int64_t wrapAdd(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

int64_t wrapSub(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

int64_t wrapMul(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// Integer division of the evaluator: operands beyond +-2^30 are halved first and the quotient
// scaled back by the halvings.
int64_t divide(int64_t dividend, int64_t divisor)
{
    int dividendShift = 0;
    int divisorShift = 0;
    while (dividend > 0x40000000 || dividend < -0x40000000) {
        dividend >>= 1;
        ++dividendShift;
    }
    while (divisor > 0x40000000 || divisor < -0x40000000) {
        divisor >>= 1;
        ++divisorShift;
    }
    if (divisor == 0)
        return 0;
    int64_t q = static_cast<int32_t>(dividend / divisor);
    if (dividendShift >= 32)
        q = 0;
    else
        q = wrapMul(q, int64_t(1) << dividendShift);
    return q >> (divisorShift > 31 ? 31 : divisorShift);
}

struct TScaleEntry {
    double value = 0.0;
    char unit[6] = {};
    int tag = 4;
};

constexpr int kQuantity = 8;
constexpr int kNumber = 4;

void setUnit(TScaleEntry& e, const char* u, size_t max)
{
    std::memset(e.unit, 0, sizeof e.unit);
    for (size_t i = 0; i < max && i < sizeof e.unit - 1 && u[i] != '\0'; ++i)
        e.unit[i] = u[i];
}

} // namespace

TFonction::TFonction(unsigned short id, char* initial)
    : identifier(id)
{
    std::lock_guard<std::mutex> lock(compileMutex_);
    defined = false;
    copyText(text, initial);
    for (char& c : text)
        if (c == '%')
            c = '+';
    if (!compile()) {
        std::memset(text, 0, sizeof text);
        defined = false;
        publish();
    }
}

bool TFonction::SetFonctionString(char* newText, bool webForm)
{
    std::lock_guard<std::mutex> lock(compileMutex_);
    copyText(text, newText);
    if (webForm) {
        for (int i = 0; i < kTextSize; ++i) {
            if (text[i] == '&') {
                std::memset(text + i, 0, kTextSize - i);
                break;
            }
            if (text[i] == '%')
                text[i] = '+';
        }
    }
    defined = false;
    return compile();
}

char* TFonction::GetFonctionString(char* out, bool webForm)
{
    if (!out)
        return out;
    std::memcpy(out, text, kTextSize);
    out[kTextSize - 1] = '\0';
    if (webForm) {
        if (out[0] == '\0') {
            out[0] = '+';
            out[1] = '\0';
        }
        else {
            for (int i = 0; i < kTextSize && out[i] != '\0'; ++i)
                if (out[i] == '+')
                    out[i] = '%';
        }
    }
    return out;
}

void TFonction::RAZ()
{
    std::lock_guard<std::mutex> lock(compileMutex_);
    std::memset(text, 0, sizeof text);
    defined = false;
    for (TMembreDescription& m : code)
        m = member(TMembreDescription::End, 0);
    publish();
}

bool TFonction::IsDefined()
{
    return defined;
}

uint16_t TFonction::VoiesSrc()
{
    TMembreDescription program[kCodeSize];
    {
        std::lock_guard<std::mutex> lock(publishMutex_);
        if (!publishedDefined_)
            return 0;
        std::memcpy(static_cast<void*>(program), published_, sizeof program);
    }
    uint16_t mask = 0;
    for (const TMembreDescription& m : program) {
        if (m.kind == TMembreDescription::End)
            break;
        if (m.kind == TMembreDescription::Channel && m.value >= 2 && m.value <= 5)
            mask = static_cast<uint16_t>(mask | (1u << (m.value - 2)));
    }
    return mask;
}

// Runs the three stages; the evaluated program changes only once the new one is complete.
bool TFonction::compile()
{
    const bool ok = AnalyseSyntaxique() && AnalyseSemantique();
    if (ok)
        CodageNPI();
    else {
        defined = false;
        for (TMembreDescription& m : code)
            m = member(TMembreDescription::End, 0);
    }
    publish();
    return ok;
}

void TFonction::publish()
{
    std::lock_guard<std::mutex> lock(publishMutex_);
    std::memcpy(static_cast<void*>(published_), code, sizeof published_);
    publishedDefined_ = defined;
    publishedReal_ = real;
}

bool TFonction::AnalyseSyntaxique()
{
    for (int16_t& t : tokens)
        t = -1;
    int count = 0;
    int pos = 0;
    const int length = static_cast<int>(strnlen(text, kTextSize - 1));
    while (pos < length) {
        while (pos < length && text[pos] == ' ')
            ++pos;
        if (pos >= length)
            return pos == 0; // blanks at the very end fail
        int found = -1;
        for (int k = 0; k < kTokenCount; ++k) {
            const size_t n = std::strlen(DescMembre[k]);
            if (pos + static_cast<int>(n) <= length && std::strncmp(text + pos, DescMembre[k], n) == 0) {
                found = k;
                break;
            }
        }
        if (found < 0 || count >= kTextSize - 1)
            return false;
        tokens[count++] = CodePhonemes[found];
        pos += static_cast<int>(std::strlen(DescMembre[found]));
    }
    return true;
}

bool TFonction::AnalyseSemantique()
{
    real = false;
    memberCount = 0;
    for (TMembreDescription& m : members)
        m = member(TMembreDescription::End, 0);

    int tokenCount = 0;
    while (tokenCount < kTextSize && tokens[tokenCount] >= 0)
        ++tokenCount;

    bool pointSeen = false;
    char number[kTextSize + 1] = {};
    int numberLength = 0;
    int depth = 0;
    int previous = 0;

    auto add = [&](TMembreDescription m) {
        if (memberCount >= kCodeSize)
            return false;
        const int k = m.kind;
        bool ok = true;
        switch (k) {
        case TMembreDescription::Binary: ok = previous >= 4 && previous <= 8; break;
        case TMembreDescription::UnaryMinus: ok = !(previous == 2 || (previous >= 4 && previous <= 8)); break;
        case TMembreDescription::Opening:
            ok = !(previous >= 4 && previous <= 8);
            ++depth;
            break;
        case TMembreDescription::Closing:
            ok = previous >= 4 && previous <= 8;
            --depth;
            if (depth < 0)
                ok = false;
            break;
        default: ok = previous >= 1 && previous <= 3; break;
        }
        members[memberCount++] = m;
        previous = k;
        return ok;
    };

    auto flushNumber = [&]() {
        if (numberLength == 0)
            return true;
        number[numberLength] = '\0';
        numberLength = 0;
        TMembreDescription m;
        if (pointSeen) {
            m.kind = TMembreDescription::Real;
            m.realValue = std::strtof(number, nullptr);
            real = true;
        }
        else {
            errno = 0;
            char* end = nullptr;
            const long long v = std::strtoll(number, &end, 10);
            if (errno == ERANGE || v > INT32_MAX || v < INT32_MIN)
                return false;
            m.kind = TMembreDescription::Integer;
            m.value = static_cast<int32_t>(v);
        }
        return add(m);
    };

    bool ok = add(member(TMembreDescription::Opening, TOK_BRACKET));
    for (int i = 0; ok && i <= tokenCount; ++i) {
        const int16_t t = i < tokenCount ? tokens[i] : int16_t(TOK_CLOSE);
        if ((t >= TOK_DIGIT0 && t <= TOK_DIGIT9) || t == TOK_POINT) {
            if (t == TOK_POINT)
                pointSeen = true;
            if (numberLength < kTextSize)
                number[numberLength++] = t == TOK_POINT ? '.' : static_cast<char>('0' + (t - TOK_DIGIT0));
            continue;
        }
        if (!flushNumber()) {
            ok = false;
            break;
        }
        switch (t) {
        case TOK_BLANK:
        case TOK_SEMICOLON: break;
        case TOK_T: ok = add(member(TMembreDescription::Time, 1)); break;
        case TOK_PI: {
            TMembreDescription m;
            m.kind = TMembreDescription::Real;
            m.realValue = kPi;
            real = true;
            ok = add(m);
            break;
        }
        case TOK_MINUS:
            ok = add(member(previous == TMembreDescription::Binary || previous == TMembreDescription::Opening
                                ? TMembreDescription::UnaryMinus
                                : TMembreDescription::Binary,
                            TOK_MINUS));
            break;
        case TOK_PLUS:
        case TOK_DIV:
        case TOK_MUL: ok = add(member(TMembreDescription::Binary, t)); break;
        case TOK_CLOSE: ok = add(member(TMembreDescription::Closing, TOK_CLOSE)); break;
        default:
            if (t >= TOK_CH1 && t <= TOK_CH4)
                ok = add(member(TMembreDescription::Channel, t));
            else if (t >= TOK_BRACKET && t <= TOK_SQRT) {
                if (t >= TOK_SIN)
                    real = true;
                ok = add(member(TMembreDescription::Opening, t));
            }
            else
                ok = false;
            break;
        }
    }
    return ok && depth == 0;
}

bool TFonction::CodageNPI()
{
    for (TMembreDescription& m : code)
        m = member(TMembreDescription::End, 0);
    if (strnlen(text, kTextSize) == 0 || memberCount == 0) {
        defined = false;
        return false;
    }
    int index = 0;
    int out = 0;
    // The first member is the wrapping bracket.
    if (members[0].kind != TMembreDescription::Opening)
        return defined = false;
    const int32_t bracket = members[0].value;
    index = 1;
    if (!CodageSegmentNPI(index, out) || out >= kCodeSize - 1) {
        for (TMembreDescription& m : code)
            m = member(TMembreDescription::End, 0);
        return defined = false;
    }
    code[out++] = member(TMembreDescription::Opening, bracket);
    code[out] = member(TMembreDescription::End, 0);
    defined = true;
    return true;
}

// Converts members from index up to the matching closing bracket (consumed) into code.
bool TFonction::CodageSegmentNPI(int& index, int& out)
{
    TMembreDescription stack[100];
    int top = 0;
    auto emit = [&](const TMembreDescription& m) {
        if (out >= kCodeSize - 1)
            return false;
        code[out++] = m;
        return true;
    };
    auto popUnary = [&]() {
        if (top > 0 && stack[top - 1].kind == TMembreDescription::UnaryMinus)
            return emit(stack[--top]);
        return true;
    };
    while (index < memberCount) {
        const TMembreDescription m = members[index++];
        switch (m.kind) {
        case TMembreDescription::Integer:
        case TMembreDescription::Real:
        case TMembreDescription::Channel:
        case TMembreDescription::Time:
            if (!emit(m) || !popUnary())
                return false;
            break;
        case TMembreDescription::Binary:
            while (top > 0 && stack[top - 1].value >= m.value)
                if (!emit(stack[--top]))
                    return false;
            if (top >= 100)
                return false;
            stack[top++] = m;
            break;
        case TMembreDescription::UnaryMinus:
            if (top >= 100)
                return false;
            stack[top++] = m;
            break;
        case TMembreDescription::Opening:
            if (!CodageSegmentNPI(index, out) || !emit(m) || !popUnary())
                return false;
            break;
        case TMembreDescription::Closing:
            while (top > 0)
                if (!emit(stack[--top]))
                    return false;
            return true;
        default: return false;
        }
    }
    return false; // no closing bracket
}

bool TFonction::Compute(uint32_t* out, uint32_t first, uint32_t count)
{
    if (!out)
        return false;
    TMembreDescription program[kCodeSize];
    bool isDefined;
    bool isReal;
    {
        std::lock_guard<std::mutex> lock(publishMutex_);
        std::memcpy(static_cast<void*>(program), published_, sizeof program);
        isDefined = publishedDefined_;
        isReal = publishedReal_;
    }
    if (!isDefined) {
        for (uint32_t i = 0; i < count; ++i)
            out[first + i] = kEmptySample;
        return true;
    }
    if (isReal)
        ComputeReal(program, out, first, count);
    else
        ComputeInt(program, out, first, count);
    return true;
}

void TFonction::ComputeInt(const TMembreDescription* program, uint32_t* out, uint32_t first, uint32_t count)
{
    int64_t offsets[4];
    channelOffsets(identifier, offsets);
    int64_t stack[kCodeSize];
    for (uint32_t i = first; i - first < count; ++i) {
        int top = 0;
        bool empty = false;
        for (int pc = 0; pc < kCodeSize && !empty; ++pc) {
            const TMembreDescription& m = program[pc];
            if (m.kind == TMembreDescription::End) {
                if (top != 1)
                    empty = true;
                else
                    out[i] = static_cast<uint32_t>(clampResult(stack[0]));
                break;
            }
            switch (m.kind) {
            case TMembreDescription::Channel: {
                int64_t v;
                if (top >= kCodeSize || !channelSample(m.value - 2, i, offsets[(m.value - 2) & 3], &v))
                    empty = true;
                else
                    stack[top++] = v;
                break;
            }
            case TMembreDescription::Time:
            case TMembreDescription::Integer:
            case TMembreDescription::Real:
                if (top >= kCodeSize)
                    empty = true;
                else if (m.kind == TMembreDescription::Time)
                    stack[top++] = i;
                else if (m.kind == TMembreDescription::Integer)
                    stack[top++] = m.value;
                else
                    stack[top++] = static_cast<int64_t>(m.realValue); // never in integer code
                break;
            case TMembreDescription::UnaryMinus:
                if (top < 1)
                    empty = true;
                else
                    stack[top - 1] = wrapSub(0, stack[top - 1]);
                break;
            case TMembreDescription::Opening: {
                if (top < 1) {
                    empty = true;
                    break;
                }
                int64_t& v = stack[top - 1];
                if (m.value == TOK_DIVV)
                    v = wrapMul(v, 32760);
                else if (m.value == TOK_DIVH)
                    v = wrapMul(v, 10000);
                else if (m.value == TOK_STEP)
                    v = v > 0 ? 1 : 0;
                break;
            }
            case TMembreDescription::Binary: {
                if (top < 2) {
                    empty = true;
                    break;
                }
                const int64_t right = stack[--top];
                int64_t& left = stack[top - 1];
                switch (m.value) {
                case TOK_MINUS: left = wrapSub(left, right); break;
                case TOK_PLUS: left = wrapAdd(left, right); break;
                case TOK_MUL: left = wrapMul(left, right); break;
                case TOK_DIV: left = divide(left, right); break;
                default: empty = true; break;
                }
                break;
            }
            default: empty = true; break;
            }
        }
        if (empty)
            out[i] = kEmptySample;
    }
}

void TFonction::ComputeReal(const TMembreDescription* program, uint32_t* out, uint32_t first, uint32_t count)
{
    int64_t offsets[4];
    channelOffsets(identifier, offsets);
    double stack[kCodeSize];
    for (uint32_t i = first; i - first < count; ++i) {
        int top = 0;
        bool empty = false;
        for (int pc = 0; pc < kCodeSize && !empty; ++pc) {
            const TMembreDescription& m = program[pc];
            if (m.kind == TMembreDescription::End) {
                if (top != 1) {
                    empty = true;
                    break;
                }
                const double r = stack[0] + static_cast<double>(kZeroLine);
                if (std::isnan(r) || r < kLowest)
                    out[i] = kLowest;
                else if (r > kHighest)
                    out[i] = kHighest;
                else
                    out[i] = static_cast<uint32_t>(r);
                break;
            }
            switch (m.kind) {
            case TMembreDescription::Channel: {
                int64_t v;
                if (top >= kCodeSize || !channelSample(m.value - 2, i, offsets[(m.value - 2) & 3], &v))
                    empty = true;
                else
                    stack[top++] = static_cast<double>(v);
                break;
            }
            case TMembreDescription::Time:
            case TMembreDescription::Integer:
            case TMembreDescription::Real:
                if (top >= kCodeSize)
                    empty = true;
                else if (m.kind == TMembreDescription::Time)
                    stack[top++] = static_cast<double>(i);
                else if (m.kind == TMembreDescription::Integer)
                    stack[top++] = static_cast<double>(m.value);
                else
                    stack[top++] = static_cast<double>(m.realValue);
                break;
            case TMembreDescription::UnaryMinus:
                if (top < 1)
                    empty = true;
                else
                    stack[top - 1] = -stack[top - 1];
                break;
            case TMembreDescription::Opening: {
                if (top < 1) {
                    empty = true;
                    break;
                }
                double& v = stack[top - 1];
                switch (m.value) {
                case TOK_DIVV: v *= 32760.0; break;
                case TOK_DIVH: v *= 10000.0; break;
                case TOK_STEP: v = v > 0.0 ? 1.0 : 0.0; break;
                case TOK_SIN: v = std::sin(v); break;
                case TOK_COS: v = std::cos(v); break;
                case TOK_EXP: v = std::exp(v); break;
                case TOK_LOG: v = v > 0.0 ? std::log(v) : 0.0; break;
                case TOK_SQRT: v = v > 0.0 ? std::sqrt(v) : 0.0; break;
                default: break;
                }
                break;
            }
            case TMembreDescription::Binary: {
                if (top < 2) {
                    empty = true;
                    break;
                }
                const double right = stack[--top];
                double& left = stack[top - 1];
                switch (m.value) {
                case TOK_MINUS: left -= right; break;
                case TOK_PLUS: left += right; break;
                case TOK_MUL: left *= right; break;
                case TOK_DIV: left /= right; break;
                default: empty = true; break;
                }
                break;
            }
            default: empty = true; break;
            }
        }
        if (empty)
            out[i] = kEmptySample;
    }
}

int TFonction::GetVerticalScale(float* scale, char* unit, TScale kind)
{
    auto fail = [&]() {
        if (scale)
            *scale = kNoScale;
        if (unit)
            std::strcpy(unit, "div");
        return -1;
    };
    TMembreDescription program[kCodeSize];
    bool isDefined;
    {
        std::lock_guard<std::mutex> lock(publishMutex_);
        std::memcpy(static_cast<void*>(program), published_, sizeof program);
        isDefined = publishedDefined_;
    }
    if (!isDefined)
        return fail();

    const TSetupLinks& links = setupLinks();
    TAcquisition* const traces[4] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};
    TFonction* const functions[4] = {links.mathFunctionCh1, links.mathFunctionCh2, links.mathFunctionCh3,
                                     links.mathFunctionCh4};
    const int16_t sensitivities[4] = {data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3,
                                      data.sensitivityCh4};
    const int16_t ranges[4] = {data.meterRangeCh1, data.meterRangeCh2, data.meterRangeCh3, data.meterRangeCh4};
    const char* const units[4] = {data.unitCh1, data.unitCh2, data.unitCh3, data.unitCh4};

    TScaleEntry stack[kCodeSize];
    int top = 0;
    int operands = 0;
    for (int pc = 0; pc < kCodeSize; ++pc) {
        const TMembreDescription& m = program[pc];
        if (m.kind == TMembreDescription::End)
            break;
        switch (m.kind) {
        case TMembreDescription::Channel: {
            const int n = m.value - 2;
            if (n < 0 || n > 3 || top >= kCodeSize)
                return fail();
            if (functions[n] && functions[n]->IsDefined())
                return fail();
            TScaleEntry e;
            e.value = ::GetVerticalScale(traces[n], kind,
                                         static_cast<short>(kind == SCALE_METER ? ranges[n] : sensitivities[n]));
            setUnit(e, units[n], 4);
            e.tag = kQuantity;
            stack[top++] = e;
            ++operands;
            break;
        }
        case TMembreDescription::Time: {
            if (top >= kCodeSize)
                return fail();
            TScaleEntry e;
            e.value = GetHorizontalScale(static_cast<unsigned short>(data.userTimeBase));
            setUnit(e, "s", 1);
            e.tag = kQuantity;
            stack[top++] = e;
            ++operands;
            break;
        }
        case TMembreDescription::Integer:
        case TMembreDescription::Real: {
            if (top >= kCodeSize)
                return fail();
            TScaleEntry e;
            e.value = m.kind == TMembreDescription::Integer ? static_cast<double>(m.value)
                                                             : static_cast<double>(m.realValue);
            e.tag = kNumber;
            stack[top++] = e;
            break;
        }
        case TMembreDescription::UnaryMinus:
            if (top < 1)
                return fail();
            break;
        case TMembreDescription::Opening: {
            if (top < 1)
                return fail();
            TScaleEntry& e = stack[top - 1];
            if (m.value == TOK_DIVV) {
                e.value = e.value * 262081 * 0.125;
                setUnit(e, "", 0);
            }
            else if (m.value == TOK_DIVH) {
                e.value = e.value * 100000 / 10;
                setUnit(e, "", 0);
            }
            else if (m.value != TOK_BRACKET)
                return fail();
            break;
        }
        case TMembreDescription::Binary: {
            if (top < 2)
                return fail();
            const TScaleEntry right = stack[--top];
            const TScaleEntry left = stack[top - 1];
            TScaleEntry& r = stack[top - 1];
            if (left.tag != kQuantity && right.tag != kQuantity)
                return fail();
            // A zero constant would make the scale infinite or zero.
            if ((m.value == TOK_MUL || m.value == TOK_DIV) &&
                ((left.tag == kNumber && left.value == 0.0) || (right.tag == kNumber && right.value == 0.0)))
                return fail();
            if (m.value == TOK_PLUS || m.value == TOK_MINUS) {
                r = left.tag == kQuantity ? left : right;
                break;
            }
            char u[6] = {};
            if (m.value == TOK_MUL) {
                if (left.tag == kNumber)
                    r.value = right.value / left.value;
                else if (right.tag == kNumber)
                    r.value = left.value / right.value;
                else
                    r.value = left.value * right.value;
                if (left.unit[0] && right.unit[0]) {
                    u[0] = left.unit[0];
                    u[1] = right.unit[0];
                }
                else
                    std::memcpy(u, left.unit[0] ? left.unit : right.unit, sizeof u);
            }
            else if (m.value == TOK_DIV) {
                if (right.tag == kNumber)
                    r.value = left.value * right.value;
                else if (left.tag == kNumber)
                    r.value = left.value * right.value;
                else
                    r.value = left.value / right.value;
                if (left.unit[0] && right.unit[0]) {
                    u[0] = left.unit[0];
                    u[1] = '/';
                    u[2] = right.unit[0];
                }
                else if (right.unit[0]) {
                    u[0] = '/';
                    u[1] = right.unit[0];
                }
                else
                    std::memcpy(u, left.unit, sizeof u);
            }
            else
                return fail();
            setUnit(r, u, sizeof u - 1);
            r.tag = kQuantity;
            break;
        }
        default: return fail();
        }
    }
    if (operands < 1 || operands > 2 || top < 1 || !std::isfinite(stack[0].value))
        return fail();
    if (scale)
        *scale = static_cast<float>(stack[0].value);
    if (unit) {
        std::memcpy(unit, stack[0].unit, 3);
        unit[3] = '\0';
    }
    return 0;
}

int32_t TFonction::write(int32_t fd)
{
    char line[kTextSize + 2];
    const size_t n = strnlen(text, kTextSize - 1);
    std::memcpy(line, text, n);
    line[n] = '\r';
    line[n + 1] = '\n';
    size_t done = 0;
    while (done < n + 2) {
        const ssize_t w = ::write(fd, line + done, n + 2 - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return -1;
        done += static_cast<size_t>(w);
    }
    return 0;
}

int32_t TFonction::read(int32_t fd)
{
    char line[kTextSize] = {};
    int length = 0;
    for (;;) {
        char c;
        const ssize_t r = ::read(fd, &c, 1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || c == '\n')
            break;
        if (c == '\r')
            continue;
        if (length < kTextSize - 1)
            line[length++] = c;
    }
    SetFonctionString(line, false);
    return defined ? 0 : -1;
}
