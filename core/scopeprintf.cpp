#include "core/scopeprintf.h"

#include <QStringList>

#include <cmath>

namespace {
const QChar kMicro(0x03BC);

// Prefix of decimal exponents -12..14, three exponents a row.
QString prefixOf(int exponent)
{
    static const char* const kPrefixes[] = {" p", " n", nullptr, " m", " ", " k", " M", " G", " T"};
    const int row = (exponent + 12) / 3;
    if (kPrefixes[row] == nullptr)
        return QStringLiteral(" ") + kMicro;
    return QString::fromLatin1(kPrefixes[row]);
}

constexpr int kRangeRows = 27;
const float kRangeBound[kRangeRows] = {1e-12f, 1e-11f, 1e-10f, 1e-9f, 1e-8f, 1e-7f, 1e-6f, 1e-5f, 1e-4f,
                                       1e-3f,  0.01f,  0.1f,   1.0f,  10.0f, 100.0f, 1000.0f, 1e4f, 1e5f,
                                       1e6f,   1e7f,   1e8f,   1e9f,  1e10f, 1e11f, 1e12f, 1e13f, 1e14f};
const float kRangeDivisor[kRangeRows] = {1e-15f, 1e-12f, 1e-12f, 1e-12f, 1e-9f, 1e-9f, 1e-9f, 1e-6f, 1e-6f,
                                         1e-6f,  1e-3f,  1e-3f,  1e-3f,  1.0f,  1.0f,  1.0f,  1e3f,  1e3f,
                                         1e3f,   1e6f,   1e6f,   1e6f,   1e9f,  1e9f,  1e9f,  1e12f, 1e12f};
const int kRangeDecimals[kRangeRows] = {1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3,
                                        2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2};
const char* const kRangePrefix[kRangeRows] = {" f", " p", " p", " p", " n", " n", " n", " u", " u",
                                              " u", " m", " m", " m", " ",  " ",  " ",  " k", " k",
                                              " k", " M", " M", " M", " G", " G", " G", " T", " T"};
} // namespace

QString ScopePrintf(int32_t digits, double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("---- ");
    const QStringList parts = QString::number(value, 'e', 6).split(QLatin1Char('e'));
    if (parts.size() != 2)
        return QStringLiteral("---- ");
    float mantissa = parts[0].toFloat();
    int exponent = parts[1].toInt();
    if (double(mantissa) >= 9.99999) {
        exponent += 1;
        mantissa /= 10.0f;
    }
    if (exponent > 14)
        return QStringLiteral("---- ");
    if (exponent < -12) {
        // Below the smallest prefix: the printed digits would all be zero.
        mantissa = 0.0f;
        exponent = 0;
    }
    int precision = digits;
    const int r = exponent % 3;
    if (r == 1 || r == -2) {
        mantissa *= 10.0f;
        precision -= 1;
    } else if (r == 2 || r == -1) {
        mantissa *= 100.0f;
        precision -= 2;
    }
    if (precision < 0)
        precision = 0;
    return QString::number(double(mantissa), 'f', precision) + prefixOf(exponent);
}

QString ScopePrintfRange(double range, double value)
{
    int row = 0;
    while (row < kRangeRows && !(double(kRangeBound[row]) > range))
        ++row;
    if (row == kRangeRows)
        return QStringLiteral("-----");
    const double divided = value / double(kRangeDivisor[row]);
    const QString number = QString::number(std::fabs(divided), 'f', kRangeDecimals[row]);
    const int pad = 5 - number.size();
    QString text = QStringLiteral("%1%2%3%4")
                       .arg(divided < 0 ? QStringLiteral("-") : QString())
                       .arg(pad > 0 ? QStringLiteral("00000").left(pad) : QString())
                       .arg(number)
                       .arg(QString::fromLatin1(kRangePrefix[row]));
    text.replace(QLatin1Char('u'), kMicro);
    return text;
}
