#include "ui/scope/toolchannel.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "ui/frame/homeview.h"
#include "ui/frame/zinccolor.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const char* const kPrefix[] = {QT_TRANSLATE_NOOP("ToolChannel", "CH"), QT_TRANSLATE_NOOP("ToolChannel", "F"),
                               QT_TRANSLATE_NOOP("ToolChannel", "M")};
const char* const kCoupling[] = {QT_TRANSLATE_NOOP("ToolChannel", "AC"), QT_TRANSLATE_NOOP("ToolChannel", "DC"),
                                 QT_TRANSLATE_NOOP("ToolChannel", "GND")};
const char* const kBandwidth[] = {QT_TRANSLATE_NOOP("ToolChannel", "No"), QT_TRANSLATE_NOOP("ToolChannel", "15MHz"),
                                  QT_TRANSLATE_NOOP("ToolChannel", "1,5MHz"),
                                  QT_TRANSLATE_NOOP("ToolChannel", "5kHz")};
// The web client parses numbers: no decimal comma there.
const char* const kWebBandwidth[] = {QT_TRANSLATE_NOOP("ToolChannel", "No"),
                                     QT_TRANSLATE_NOOP("ToolChannel", "15MHz"),
                                     QT_TRANSLATE_NOOP("ToolChannel", "1.5MHz"),
                                     QT_TRANSLATE_NOOP("ToolChannel", "5kHz")};

// Codes of the full scale: 262080 codes span the range.
constexpr float kFullScaleCodes = 262080.0f;

QString translate(const char* text)
{
    return QCoreApplication::translate("ToolChannel", text);
}

// What a box or the web text shows for channel index n.
struct TSource {
    unsigned short kind = ToolChannel::KindChannel;
    TAcquisition* trace = nullptr;
    TFonction* function = nullptr;
    float coefficient = 1.0f;
    unsigned short range = 0;
    unsigned short coupling = 0;
    int bandwidth = 0;
    short colourIndex = 0;
    bool shown = false;
};

template <typename T>
T perChannel(unsigned short n, T a, T b, T c, T d)
{
    const T all[] = {a, b, c, d};
    return all[n];
}

TSource sourceOf(unsigned short n, bool web)
{
    const TSetupLinks& links = setupLinks();
    TSource s;
    s.trace = perChannel(n, links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4);
    s.function = perChannel(n, links.mathFunctionCh1, links.mathFunctionCh2, links.mathFunctionCh3,
                            links.mathFunctionCh4);
    s.colourIndex = perChannel(n, data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4);
    s.shown = (data.channelFlags & (0x101u << n)) != 0;
    const bool defined = s.function != nullptr && s.function->IsDefined();
    const unsigned short range = static_cast<unsigned short>(
        perChannel(n, data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3, data.sensitivityCh4));
    const unsigned short coupling = static_cast<unsigned short>(
        perChannel(n, data.couplingCh1, data.couplingCh2, data.couplingCh3, data.couplingCh4));
    const int bandwidth = perChannel(n, data.bwLimitCh1, data.bwLimitCh2, data.bwLimitCh3, data.bwLimitCh4);
    if ((data.channelFlags & (0x100u << n)) != 0) {
        s.kind = ToolChannel::KindMemory;
        // A memory bit without a trace: nothing stored to describe, the channel's own settings.
        s.coefficient = s.trace ? s.trace->probeCoeff : 1.0f;
        s.range = s.trace ? s.trace->sensitivity : range;
        s.coupling = s.trace ? s.trace->coupling : coupling;
        s.bandwidth = s.trace ? s.trace->bwLimit : bandwidth;
    } else if (!defined && (data.hwChannelMask & (1u << n)) != 0) {
        s.kind = ToolChannel::KindChannel;
        s.coefficient = perChannel(n, data.probeCoeffCh1, data.probeCoeffCh2, data.probeCoeffCh3, data.probeCoeffCh4);
        s.range = range;
        s.coupling = coupling;
        s.bandwidth = bandwidth;
    } else {
        s.kind = ToolChannel::KindFunction;
        s.coefficient = 1.0f;
        if (!web) {
            s.range = range;
            s.coupling = coupling;
            s.bandwidth = bandwidth;
        }
    }
    return s;
}

// Scale kind of channel index n's vertical texts.
TScale scaleKindOf(unsigned short n)
{
    if (data.traceFormat == 1)
        return data.fftVerticalScale == 1 ? SCALE_FFT_DB : SCALE_FFT;
    if (data.traceFormat == 2)
        return data.xySourceX == n ? SCALE_XY : SCALE_SCOPE;
    return SCALE_SCOPE;
}

constexpr int kSmallestPointSize = 7;

float fullScale(float coefficient, unsigned short range)
{
    return coefficient * GetSensitivity(range, SCALE_SCOPE) * kFullScaleCodes;
}

QString webNumber(int32_t digits, double value)
{
    return ScopePrintf(digits, value).replace(QChar(0x03BC), QLatin1Char('u'));
}

} // namespace

ToolChannel::ToolChannel(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , framePen_(Qt::white, 5)
    , textPen_(framePen_)
    , frameColour_(Qt::white)
{
    smallFont_.setPointSize(12);
    smallFont_.setWeight(75);
    nameFont_.setPointSize(20);
    nameFont_.setWeight(75);
    setAntialiasing(true);
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &ToolChannel::screenMajSlot);
    screenMajSlot(0);
}

ToolChannel::~ToolChannel() = default;

void ToolChannel::setIdentifier(int index)
{
    const unsigned short n = static_cast<unsigned short>(std::clamp(index, 0, 3));
    if (n == identifier_)
        return;
    identifier_ = n;
    emit identifierChanged();
    screenMajSlot(0);
}

int ToolChannel::physicalChannels()
{
    return data.hwChannelMask;
}

void ToolChannel::setColor(const QColor& colour)
{
    frameColour_ = colour;
    background_ = QLinearGradient(width(), 0, 0, height());
    background_.setColorAt(0, Qt::lightGray);
    background_.setColorAt(1, Qt::black);
    framePen_.setColor(colour);
    QQuickPaintedItem::update();
}

void ToolChannel::update(unsigned short kind, QColor colour, bool shown, unsigned short range,
                         unsigned short coupling, int bandwidth)
{
    kind = std::min<unsigned short>(kind, KindMemory);
    const TScale scale = scaleKindOf(identifier_);
    name_ = translate(kPrefix[kind]) + QString::number(identifier_ + 1);
    setColor(shown ? colour : QColor(Qt::white));
    coupling_ = (coupling < 3 && kind != KindFunction) ? translate(kCoupling[coupling]) : QString();
    bandwidth_ = (kind != KindFunction && bandwidth >= 0 && bandwidth < 4)
        ? tr("BW lim=") + translate(kBandwidth[bandwidth])
        : QString();
    division_ = ScopePrintf(2, GetVerticalDiv(trace_, range, scale)) + GetVerticalUnit(trace_, scale, true) + tr("/div");
    // The full scale in the unit of the display: volts for a time trace, the spectrum's own span
    // (in dB or volts) for an FFT, never volts labelled dBV.
    const bool fft = scale == SCALE_FFT || scale == SCALE_FFT_DB;
    const double span = fft ? double(GetVerticalScale(trace_, scale, static_cast<short>(range))) * kFullScaleCodes
                            : fullScale(coefficient_, range);
    range_ = kind == KindFunction ? QString()
                                  : QChar(0x2195) + ScopePrintf(2, span) + GetVerticalUnit(trace_, scale, true);
    QQuickPaintedItem::update();
}

void ToolChannel::rebuild()
{
    const TSource s = sourceOf(identifier_, false);
    trace_ = s.trace;
    function_ = s.function;
    coefficient_ = s.coefficient;
    update(s.kind, getZincColor(static_cast<unsigned short>(s.colourIndex)), s.shown, s.range, s.coupling,
           s.bandwidth);
}

void ToolChannel::screenMajSlot(int code)
{
    const int n = identifier_;
    switch (code) {
    case 0: case 23: case 27: case 29: case 61: case 72: case 73:
    case 94: case 95: case 96: case 97: case 101: case 102:
        reference_ = (data.measRefChannel & (1 << n)) != 0;
        if (code != 23)
            rebuild();
        break;
    case 50: case 51: case 52: case 53:
    case 55: case 56: case 57: case 58:
        rebuild();
        break;
    default:
        // The per-channel parameters: only the box of the channel they name.
        if (code == 14 + 2 * n || code == 15 + 2 * n || code == 42 + n || code == 66 + n || code == 138 + n
            || code == 166 + n) {
            rebuild();
            break;
        }
        return;
    }
    QQuickPaintedItem::update();
}

void ToolChannel::paint(QPainter* painter)
{
    const qreal w = width();
    const qreal h = height();
    // The gradient follows the size the box has now (QML sizes it after construction).
    background_.setStart(w, 0);
    background_.setFinalStop(0, h);
    layout_.begin();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(background_);
    painter->setPen(framePen_);
    painter->drawRoundedRect(QRectF(0, 0, w, h), 20, 40, Qt::RelativeSize);
    layout_.covers(painter, QRectF(0, 0, w, h));

    painter->setFont(nameFont_);
    const qreal nameWidth = QFontMetricsF(nameFont_).horizontalAdvance(name_);
    layout_.text(painter, QPointF(std::floor(w - 5 - nameWidth), nameFont_.pointSize() + 10), name_);
    if (reference_) {
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(QRectF(QPointF(w - 30, h - 30), QPointF(w - 11, h - 11)));
    }
    const int s = smallFont_.pointSize();
    painter->setPen(textPen_);
    // The first two lines share their height with the name: they end before it. A line that
    // would not fit its room is drawn in a smaller font.
    const qreal besideName = std::floor(w - 5 - nameWidth) - 5 - 5;
    auto line = [&](int baseline, const QString& text, qreal room) {
        QFont font = smallFont_;
        while (font.pointSize() > kSmallestPointSize
               && QFontMetricsF(font, painter->device()).horizontalAdvance(text) > room)
            font.setPointSize(font.pointSize() - 1);
        painter->setFont(font);
        layout_.text(painter, QPointF(5, baseline), text);
    };
    line(s + 4, coupling_, besideName);
    line(2 * (s + 4), range_, besideName);
    line(3 * s + 12, bandwidth_, w - 10);
    line(4 * (s + 4), division_, w - 10);
}

std::string ToolChannel::getPelanodeInfos(unsigned short channel)
{
    if (channel > 3)
        return std::string();
    const TSource s = sourceOf(channel, true);
    const TScale scale = scaleKindOf(channel);
    const QString unit = GetVerticalUnit(s.trace, scale, false);
    const bool on = perChannel<int>(channel, data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4) != 0
        || perChannel<int>(channel, data.memoryTraceCh1, data.memoryTraceCh2, data.memoryTraceCh3,
                           data.memoryTraceCh4) != 0;
    const bool function = s.kind == KindFunction;
    const QString plus = QStringLiteral("+");
    QString text;
    const QChar comma = QLatin1Char(',');
    text += translate(kPrefix[s.kind]) + QString::number(channel + 1) + comma;
    text += (on ? QStringLiteral("1") : QStringLiteral("0")) + comma;
    text += QString::number(s.colourIndex) + comma;
    text += (function ? plus : webNumber(3, fullScale(s.coefficient, s.range)) + unit) + comma;
    text += webNumber(3, GetVerticalDiv(s.trace, s.range, scale)) + unit + tr("/div") + comma;
    text += (function || s.coupling > 2 ? plus : translate(kCoupling[s.coupling])) + comma;
    text += (function || s.bandwidth < 0 || s.bandwidth > 3 ? plus
                                                            : tr("BW lim=") + translate(kWebBandwidth[s.bandwidth]))
        + comma;
    return text.toStdString();
}
