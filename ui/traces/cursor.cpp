#include "ui/traces/cursor.h"

#include "core/gest_db.h"
#include "ui/frame/zinccolor.h"
#include "ui/traces/zoomguard.h"

#include <QPainter>

Cursor::Cursor(unsigned short identity)
    : identity_(identity),
      pen_(Qt::DashLine),
      labelColor_(Qt::white),
      setupPosition_{0, 0},
      x_(0),
      y_(0),
      request_{REQ_SET_PARAM, 0, 0, 0, 0.0f, senderValue(MENU_id)},
      active_(false),
      visible_(false),
      scale_(kCodeScale),
      offset_(-1500),
      followsTimeZoom_(true)
{
    font_.setPixelSize(35);
    font_.setWeight(75);
    pen_.setWidth(3);
    pen_.setCosmetic(true);
}

Cursor::~Cursor() = default;

void Cursor::setZoom(float factor, int32_t position)
{
    const float f = usableZoomFactor(factor);
    scale_ = f * kCodeScale;
    offset_ = truncToInt32(f * -1500.0f - static_cast<float>(position));
    QPoint v(setupPosition_[0], setupPosition_[1]);
    setPositionFromSetup(v);
}

unsigned short Cursor::setActive(bool on, unsigned short bits)
{
    if (on) {
        if ((bits & identity_ & (kVertical | kHorizontal)) == 0) {
            active_ = true;
            return static_cast<unsigned short>(bits | identity_);
        }
        return bits;
    }
    if (active_)
        sendRequest();
    active_ = false;
    return bits;
}

void Cursor::setReferenceChannel(unsigned short channelBit)
{
    unsigned short index = 15;
    int channel = -1;
    switch (channelBit) {
    case 1: channel = 0; break;
    case 2: channel = 1; break;
    case 4: channel = 2; break;
    case 8: channel = 3; break;
    case 8192: index = 6; break;
    default: break;
    }
    if (channel >= 0) {
        const uint8_t traceOn[4] = {data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4};
        const uint8_t memory[4] = {data.memoryTraceCh1, data.memoryTraceCh2, data.memoryTraceCh3,
                                   data.memoryTraceCh4};
        const int16_t colour[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3,
                                   data.traceColorCh4};
        if (traceOn[channel] || memory[channel])
            index = static_cast<unsigned short>(colour[channel]);
    }
    labelColor_ = getZincColor(index);
}

void Cursor::post(int32_t value)
{
    request_.intValue = value;
    o_g_consMessageBox.send(&request_);
}

void Cursor::paintLine(QPainter& painter, const QPoint& from, const QPoint& to, const QPoint& labelAt)
{
    QPen pen = pen_;
    pen.setColor(active_ ? QColor(Qt::white) : QColor(Qt::lightGray));
    painter.setPen(pen);
    painter.drawLine(from, to);
    painter.setFont(font_);
    pen.setColor(labelColor_);
    painter.setPen(pen);
    painter.drawText(labelAt, label_);
}
