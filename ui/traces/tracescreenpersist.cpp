#include "ui/traces/tracescreenpersist.h"

#include "ui/traces/trace.h"
#include "ui/traces/tracexy.h"

#include <QImage>
#include <QPainter>

namespace {

constexpr unsigned short kPersistDarker = 200;
const QColor kTransparent(0, 0, 0, 0);  // "#00000000"

} // namespace

TraceScreenPersist::TraceScreenPersist(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                                       int height)
    : TraceScreen(parent, channelMask, x, y, width, height),
      image_(new QImage(1000, 1000, QImage::Format_ARGB32)),
      imagePainter_(nullptr)
{
    image_->fill(kTransparent);
    imagePainter_ = new QPainter(image_);
    if (liveXy_)
        liveXy_->darkerColor(kPersistDarker);
    displayKalvexSlot();
}

TraceScreenPersist::~TraceScreenPersist()
{
    // The painter must end before its image goes.
    imagePainter_->end();
    delete imagePainter_;
    delete image_;
}

bool TraceScreenPersist::keepsPicture(int p)
{
    return p == 1 || (p >= 23 && p <= 25) || p == 30 || p == 31 || p == 34 || (p >= 42 && p <= 45) ||
        (p >= 50 && p <= 53) || p == 74 || (p >= 88 && p <= 93) || (p >= 103 && p <= 107) || p == 127 ||
        p == 129 || p == 133 || (p >= 166 && p <= 169) || p == 203 || p == 204;
}

void TraceScreenPersist::displayKalvexSlot()
{
    applyTraceColours();
    for (int slot = kStoredSlot; slot < kSlots; ++slot)
        if (traces_[slot])
            traces_[slot]->darkerColor(kPersistDarker);
    update();
}

void TraceScreenPersist::screenMajSlot(int parameter)
{
    if (!keepsPicture(parameter)) {
        clearState_ = ClearChanged;
        update();
    }
    TraceScreen::screenMajSlot(parameter);
    // The acquisition-done notice: the first one after a change wipes at the next paint, which
    // comes now: the screen repaints on its own only when a trace's rows change, and a steady
    // signal's never do.
    if (parameter == 90 && clearState_ != ClearNone) {
        clearState_ = ClearNextPaint;
        update();
    }
}

void TraceScreenPersist::paint(QPainter* painter)
{
    painter->setWindow(QRect(0, 0, 1000, 1000));
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    if (clearState_ == ClearNextPaint) {
        imagePainter_->save();
        imagePainter_->setCompositionMode(QPainter::CompositionMode_Source);
        imagePainter_->fillRect(image_->rect(), kTransparent);
        imagePainter_->restore();
        clearState_ = ClearNone;
        // The wiping paint draws no trace; the next one draws the current traces without
        // waiting for them to change.
        QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
    } else {
        paintContent(imagePainter_);
    }
    painter->drawImage(0, 0, *image_);
}
