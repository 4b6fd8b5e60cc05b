// The transparent item that draws the waveforms of one display area: up to ten traces (time and
// FFT displays) or two XY plots, created in code by the screen layouts with a channel mask and a
// geometry. It follows the controller through the root window's notices.
#pragma once

#include <QMetaObject>
#include <QQuickPaintedItem>
#include <atomic>
#include <cstdint>

class Trace;
class TraceXy;

class TraceScreen : public QQuickPaintedItem {
    Q_OBJECT

public:
    static constexpr int kSlots = 10;
    // Slots: 0 mask trace, 1-4 stored traces of channels 1-4, 5-8 live channels 1-4, 9 the
    // auxiliary trace; the slot order is the paint order.
    static constexpr int kMaskSlot = 0;
    static constexpr int kStoredSlot = 1;
    static constexpr int kLiveSlot = 5;
    static constexpr int kAuxSlot = 9;
    // Mask bit and trace kind of each slot.
    static const uint16_t kSlotBits[kSlots];
    static const short kSlotKinds[kSlots];

    // Display formats (traceFormat).
    enum { FormatTime = 0, FormatFft = 1, FormatXy = 2 };

    // A mask of 0 creates no traces and no XY plots. Connects to po_g_homeView when it is set.
    TraceScreen(QQuickItem* parent, unsigned short channelMask, int x, int y, int width, int height);
    ~TraceScreen() override;

    void paint(QPainter* painter) override;
    // Stores the flag here and in every trace.
    void setCompressed(bool compressed);
    // Vertical zoom of every trace for the display format.
    void setVerticalZoom();

    unsigned short channelMask() const { return channelMask_; }
    bool compressed() const { return compressed_; }
    uint16_t displayFormat() const { return displayFormat_; }
    // The layouts give each new screen the format they were built for.
    void setDisplayFormat(uint16_t format) { displayFormat_ = format; }
    Trace* trace(int slot) const { return slot >= 0 && slot < kSlots ? traces_[slot] : nullptr; }
    TraceXy* liveXy() const { return liveXy_; }
    TraceXy* memoryXy() const { return memoryXy_; }
    // Repaints asked for by changed rows, all screens of the process together (the pictures
    // there were to draw; benchmarks compare the frames drawn with it).
    static uint64_t changedPictures() { return changedPictures_.load(std::memory_order_relaxed); }

public slots:
    // Trace colours from the channel colours of the setup.
    virtual void displayKalvexSlot();
    virtual void screenMajSlot(int parameter);
    // Asks every trace for a conversion; a trace whose rows changed repaints the screen.
    void screenRefreshSlot();

protected:
    // The trace of an XY source (0-3) counted from `firstSlot`; null for any other source.
    Trace* sourceTrace(int firstSlot, int source) const;
    // The XY plots take the sources of the setup.
    void setXySources();
    // The colours of displayKalvexSlot without the repaint.
    void applyTraceColours();
    // The XY plots or the traces in slot order, on a painter set up by the caller.
    void paintContent(QPainter* painter);

    unsigned short channelMask_;
    bool compressed_ = true;
    uint16_t displayFormat_ = FormatTime;
    Trace* traces_[kSlots] = {};
    TraceXy* liveXy_ = nullptr;
    TraceXy* memoryXy_ = nullptr;

    // Drawing threads: a trace published new rows.
    void repaintChanged();

private:

    QMetaObject::Connection connections_[4];
    std::atomic<bool> repaintQueued_{false};
    static std::atomic<uint64_t> changedPictures_;
};
