// The on-screen form of one acquired waveform: its 2500 display codes become pixel rows in a
// drawing thread of its own, and a paint reduces the rows to 500 min/max columns. Coordinates are
// those of the 1000 x 1000 logical window that the trace screen sets on the painter.
#pragma once

#include "ui/traces/tracethread.h"

#include <QPen>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class QPainter;
class QPen;
class QRect;
class TAcquisition;

class Trace {
public:
    static constexpr int kRows = 2500;
    static constexpr int kColumns = 500;
    // Rows per code when not zoomed (1000 / 262080, as a float) and the row offset.
    static constexpr float kScale = 0.0038156288f;
    static constexpr int32_t kOffset = -1500;
    // Row of a point without a sample.
    static constexpr int16_t kEmptyRow = -1000;

    // Kind 0-3 live channels 1-4, 4-7 their stored traces, 13 the pass/fail mask, any other the
    // auxiliary trace; the waveform link is read here once.
    explicit Trace(short kind);
    virtual ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Draws the columns of the last finished conversion; nothing before the first one.
    virtual void paint(QPainter* painter);
    // Hands this trace to its drawing thread; returns at once.
    virtual void computeSamplesToPixels();

    // The conversion (drawing thread; callable directly where no worker is wanted). Takes
    // o_g_imageMutex only while it reads the 2500 codes, then publishes the rows.
    void samplesToPixels();
    // 500 (minimum, maximum) pairs of the published rows into `columns` (1000 shorts); false,
    // leaving the array untouched, before the first conversion.
    bool computePolygon(short* columns) const;

    void setColor(unsigned short index);
    void darkerColor(unsigned short factor);
    // Compressed traces ignore the arguments and stay unzoomed.
    void setVerticalZoom(float factor, int position);
    // Compressed: converts the envelope array and drops the vertical zoom; else the display array.
    void setCompressed(bool compressed);

    short kind() const { return kind_; }
    const QPen& pen() const { return pen_; }
    bool ready() const { return ready_.load(std::memory_order_acquire); }
    TAcquisition* acquisition() const { return acquisition_; }
    bool compressed() const;
    float scale() const;
    int32_t offset() const;
    // Finished conversions so far.
    uint32_t conversions() const { return conversions_.load(std::memory_order_acquire); }
    // A copy of the published rows (kRows); false before the first conversion.
    bool copyRows(int16_t* out) const;
    // Called by the drawing thread after a conversion that published rows other than the
    // previous ones (also the first). Set before the first conversion is asked for.
    void setChangedCallback(std::function<void()> changed) { changed_ = std::move(changed); }

    // Row of one display code: empty (0x80000000) and invalid (0x40000000 or more) words give
    // kEmptyRow; others int(float(code) * scale) + offset, saturated to 16 bits.
    static int16_t rowOfCode(uint32_t code, float scale, int32_t offset);
    // The 500 columns of 2500 rows (see computePolygon).
    static void reduceColumns(const int16_t* rows, short* columns);
    // Rectangle of column k with its (minimum, maximum); false for an empty column. A single
    // empty side takes the other's value.
    static bool columnRect(int k, short minimum, short maximum, QRect* rect);
    // Strokes the rectangles with the pen, without fill: the picture of QPainter::drawRects.
    static void drawColumns(QPainter* painter, const QPen& pen, const QRect* rects, int count);

protected:
    // Stops and joins the drawing thread; a derived destructor runs it first so the thread never
    // sees a half-destroyed trace. Idempotent.
    void stopWorker() { worker_.stop(); }
    TraceThread& worker() { return worker_; }

private:
    short kind_;
    QPen pen_;
    std::atomic<bool> ready_{false};
    // Published rows and the zoom, guarded by rowsMutex_ (held only for copies).
    mutable std::mutex rowsMutex_;
    int16_t rows_[kRows];
    TAcquisition* acquisition_;
    bool compressed_ = true;
    float scale_ = kScale;
    int32_t offset_ = kOffset;
    std::atomic<uint32_t> conversions_{0};
    std::function<void()> changed_;
    // The drawing thread's own buffer.
    int16_t work_[kRows];
    TraceThread worker_;
};
