#include "ui/traces/tracescreenpassfail.h"

#include "ui/traces/trace.h"
#include "ui/traces/tracescreenpersist.h"
#include "ui/traces/tracexy.h"

#include <QPainter>
#include <sched.h>

namespace {

constexpr unsigned short kDarker = 200;

} // namespace

TraceScreenPassFail::TraceScreenPassFail(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                                         int height)
    : TraceScreen(parent, channelMask, x, y, width, height),
      image_(new QImage(kImageSize, kImageSize, QImage::Format_ARGB32)),
      imagePainter_(nullptr)
{
    image_->fill(QColor(0, 0, 0, 0));
    imagePainter_ = new QPainter(image_);
    if (liveXy_)
        liveXy_->darkerColor(kDarker);
    // The base constructor ran the base colours: the derived part did not exist yet.
    displayKalvexSlot();
    pending_ = false;
}

TraceScreenPassFail::~TraceScreenPassFail()
{
    // The painter ends before its image goes.
    imagePainter_->end();
    delete imagePainter_;
    imagePainter_ = nullptr;
    delete image_;
    image_ = nullptr;
}

void TraceScreenPassFail::displayKalvexSlot()
{
    // From the channel colours each time, so that one notice darkens once. The mask keeps its
    // own colour: it is what the traces are judged against.
    applyTraceColours();
    for (int slot = kStoredSlot; slot < kSlots; ++slot)
        if (traces_[slot])
            traces_[slot]->darkerColor(kDarker);
    update();
}

bool TraceScreenPassFail::conversionsDone() const
{
    for (int slot = 0; slot < kSlots; ++slot)
        if (traces_[slot] && traces_[slot]->conversions() <= conversionsAtNotice_[slot])
            return false;
    return true;
}

void TraceScreenPassFail::screenMajSlot(int parameter)
{
    // Display-neutral notices (cursors, colours, units ...) leave the picture alone.
    if (!TraceScreenPersist::keepsPicture(parameter))
        update();
    if (parameter != 90) {
        // Formats, zoom and sources as every trace screen; the screen holds only the mask trace,
        // so its XY plots find no sources to point at.
        TraceScreen::screenMajSlot(parameter);
        return;
    }
    // The rows of that acquisition come from the traces' workers: the picture is redrawn once
    // every trace has converted after this notice.
    for (int slot = 0; slot < kSlots; ++slot)
        conversionsAtNotice_[slot] = traces_[slot] ? traces_[slot]->conversions() : 0;
    pending_ = true;
    screenRefreshSlot();
}

void TraceScreenPassFail::paint(QPainter* painter)
{
    if (pending_ && conversionsDone()) {
        image_->fill(QColor(0, 0, 0, 0));
        imagePainter_->setWindow(QRect(0, 0, kImageSize, kImageSize));
        imagePainter_->setRenderHint(QPainter::Antialiasing);
        imagePainter_->setCompositionMode(QPainter::CompositionMode_Source);
        paintContent(imagePainter_);
        pending_ = false;
    }
    painter->setWindow(QRect(0, 0, kImageSize, kImageSize));
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    painter->drawImage(0, 0, *image_);
}
