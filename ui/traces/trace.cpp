#include "ui/traces/trace.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "ui/frame/zinccolor.h"

#include <QPainter>
#include <QPointF>
#include <QRect>
#include <QTransform>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {

TAcquisition* acquisitionOfKind(short kind)
{
    const TSetupLinks& links = setupLinks();
    switch (kind) {
    case 0: return links.acqCh1;
    case 1: return links.acqCh2;
    case 2: return links.acqCh3;
    case 3: return links.acqCh4;
    case 4: return links.refAcqCh1;
    case 5: return links.refAcqCh2;
    case 6: return links.refAcqCh3;
    case 7: return links.refAcqCh4;
    case 13: return links.maskAcq;
    default: return links.powerAcq;
    }
}

// Truncation toward zero, saturated (NaN goes to the low end): a huge zoom must not wrap a row
// back into the window.
int64_t truncSaturated(float value)
{
    constexpr float kLimit = 1e12f;
    if (!(value > -kLimit))
        return -static_cast<int64_t>(kLimit);
    if (!(value < kLimit))
        return static_cast<int64_t>(kLimit);
    return static_cast<int64_t>(value);
}

} // namespace

Trace::Trace(short kind) : kind_(kind), acquisition_(acquisitionOfKind(kind))
{
    pen_.setColor(Qt::lightGray);
    pen_.setWidth(2);
    pen_.setCosmetic(true);
    std::fill(std::begin(rows_), std::end(rows_), kEmptyRow);
    std::fill(std::begin(work_), std::end(work_), kEmptyRow);
}

Trace::~Trace()
{
    stopWorker();
}

void Trace::computeSamplesToPixels()
{
    worker_.computeSamplesToPixels(this);
}

int16_t Trace::rowOfCode(uint32_t code, float scale, int32_t offset)
{
    if (code >= kInvalidSampleFrom)
        return kEmptyRow;
    const int64_t row = truncSaturated(static_cast<float>(code) * scale) + offset;
    return static_cast<int16_t>(std::clamp<int64_t>(row, std::numeric_limits<int16_t>::min(),
                                                    std::numeric_limits<int16_t>::max()));
}

void Trace::samplesToPixels()
{
    if (!acquisition_)
        return;
    bool compressed;
    float scale;
    int32_t offset;
    {
        std::lock_guard<std::mutex> lock(rowsMutex_);
        compressed = compressed_;
        scale = scale_;
        offset = offset_;
    }
    pthread_mutex_lock(&o_g_imageMutex);
    const uint32_t* codes = compressed ? acquisition_->loggerEnvelope : acquisition_->loggerRaw;
    for (int i = 0; i < kRows; ++i)
        work_[i] = rowOfCode(codes[i], scale, offset);
    pthread_mutex_unlock(&o_g_imageMutex);
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(rowsMutex_);
        changed = !ready_.load(std::memory_order_relaxed) || std::memcmp(rows_, work_, sizeof rows_) != 0;
        if (changed)
            std::memcpy(rows_, work_, sizeof rows_);
    }
    ready_.store(true, std::memory_order_release);
    conversions_.fetch_add(1, std::memory_order_acq_rel);
    if (changed && changed_)
        changed_();
}

bool Trace::copyRows(int16_t* out) const
{
    if (!ready())
        return false;
    std::lock_guard<std::mutex> lock(rowsMutex_);
    std::memcpy(out, rows_, sizeof rows_);
    return true;
}

void Trace::reduceColumns(const int16_t* rows, short* columns)
{
    for (int k = 0; k < kColumns; ++k) {
        const int16_t* r = rows + 5 * k;
        short lo = kEmptyRow;
        short hi = kEmptyRow;
        if (r[0] != kEmptyRow) {
            lo = hi = r[0];
            // The next column's first row joins neighbouring columns.
            const int last = k < kColumns - 1 ? 5 : 4;
            for (int j = 1; j <= last; ++j) {
                if (r[j] == kEmptyRow)
                    continue;
                lo = std::min<short>(lo, r[j]);
                hi = std::max<short>(hi, r[j]);
            }
        }
        columns[2 * k] = lo;
        columns[2 * k + 1] = hi;
    }
}

bool Trace::computePolygon(short* columns) const
{
    int16_t rows[kRows];
    if (!copyRows(rows))
        return false;
    reduceColumns(rows, columns);
    return true;
}

bool Trace::columnRect(int k, short minimum, short maximum, QRect* rect)
{
    if (minimum == kEmptyRow && maximum == kEmptyRow)
        return false;
    if (minimum == kEmptyRow)
        minimum = maximum;
    else if (maximum == kEmptyRow)
        maximum = minimum;
    *rect = QRect(QPoint(2 * k, minimum), QPoint(2 * k + 1, maximum - 1));
    return true;
}

// For a cosmetic pen the paint engine maps each rectangle's corners to the device, strokes the
// outline there and, around the fill, resets its transform and sets it back. Mapped here with
// the same transform and stroked under none with a pen of the same width, the outlines are the
// same, so are the pixels, without two changes of transform a rectangle. Other pens, and
// painters that rotate or whose device keeps a pixel ratio of its own, draw as before.
void Trace::drawColumns(QPainter* painter, const QPen& pen, const QRect* rects, int count)
{
    const QTransform toDevice = painter->deviceTransform();
    if (!pen.isCosmetic() || pen.widthF() <= 1.0 || toDevice.type() > QTransform::TxScale
        || painter->device()->devicePixelRatioF() != 1.0) {
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawRects(rects, count);
        return;
    }
    painter->save();
    painter->setViewTransformEnabled(false);
    painter->setWorldTransform(QTransform());
    QPen devicePen = pen;
    devicePen.setCosmetic(false);
    painter->setPen(devicePen);
    painter->setBrush(Qt::NoBrush);
    for (int i = 0; i < count; ++i) {
        // The engine's outline of a rectangle: its four corners in this order, closed.
        const qreal left = rects[i].x();
        const qreal right = rects[i].x() + rects[i].width();
        const qreal top = rects[i].y();
        const qreal bottom = rects[i].y() + rects[i].height();
        const QPointF corners[4] = {toDevice.map(QPointF(left, top)), toDevice.map(QPointF(right, top)),
                                    toDevice.map(QPointF(right, bottom)), toDevice.map(QPointF(left, bottom))};
        painter->drawPolygon(corners, 4);
    }
    painter->restore();
}

void Trace::paint(QPainter* painter)
{
    short columns[2 * kColumns];
    if (!computePolygon(columns))
        return;
    QRect rects[kColumns];
    int count = 0;
    for (int k = 0; k < kColumns; ++k)
        if (columnRect(k, columns[2 * k], columns[2 * k + 1], &rects[count]))
            ++count;
    if (count > 0)
        drawColumns(painter, pen_, rects, count);
}

void Trace::setColor(unsigned short index)
{
    pen_.setColor(getZincColor(index));
}

void Trace::darkerColor(unsigned short factor)
{
    pen_.setColor(pen_.color().darker(factor));
}

void Trace::setVerticalZoom(float factor, int position)
{
    std::lock_guard<std::mutex> lock(rowsMutex_);
    if (compressed_) {
        scale_ = kScale;
        offset_ = kOffset;
        return;
    }
    scale_ = factor * kScale;
    const float offset = factor * -1500.0f - static_cast<float>(position);
    offset_ = static_cast<int32_t>(std::clamp<int64_t>(truncSaturated(offset), std::numeric_limits<int32_t>::min(),
                                                       std::numeric_limits<int32_t>::max()));
}

void Trace::setCompressed(bool compressed)
{
    std::lock_guard<std::mutex> lock(rowsMutex_);
    compressed_ = compressed;
    if (compressed) {
        scale_ = kScale;
        offset_ = kOffset;
    }
}

bool Trace::compressed() const
{
    std::lock_guard<std::mutex> lock(rowsMutex_);
    return compressed_;
}

float Trace::scale() const
{
    std::lock_guard<std::mutex> lock(rowsMutex_);
    return scale_;
}

int32_t Trace::offset() const
{
    std::lock_guard<std::mutex> lock(rowsMutex_);
    return offset_;
}
