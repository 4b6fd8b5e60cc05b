#include "ui/traces/indicator.h"

#include "core/requests.h"
#include "ui/frame/zinccolor.h"
#include "ui/traces/zoomguard.h"

#include <QPainter>

Indicator::Indicator()
    : parameter_(0),
      fillColor_(getZincColor(7)),
      active_(false),
      visible_(false),
      movable_(true),
      value_(0),
      x_(0),
      y_(0),
      lowerBound_(0),
      upperBound_(0),
      zoomFactor_(1.0f),
      zoomPosition_(0),
      pen_(QBrush(Qt::white), 3, Qt::SolidLine)
{
    font_.setPixelSize(30);
    font_.setWeight(75);
    font_.setItalic(true);
}

Indicator::~Indicator() = default;

void Indicator::paint(QPainter& painter)
{
    if (!visible_)
        return;
    paintFlag(painter, true, true);
}

void Indicator::paintFlag(QPainter& painter, bool fill, bool title)
{
    painter.setFont(font_);
    painter.setPen(pen_);
    int x0 = 0;
    int y0 = 0;
    const short* symbol = nullptr;
    getIndicPos(&x0, &y0, &symbol);
    if (fill)
        painter.fillRect(QRect(QPoint(x0, y0), QPoint(x0 + kWidth, y0 + kHeight)), fillColor_);
    drawSymbol(painter, x0, y0, symbol);
    if (title && !title_.isEmpty())
        painter.drawText(QPoint(x0, y0) + getTitlePos(), title_);
}

void Indicator::drawSymbol(QPainter& painter, int x0, int y0, const short* symbol)
{
    if (!symbol)
        return;
    const short* s = symbol + 1;
    for (int i = 0; i < symbol[0]; ++i, s += 4)
        painter.drawLine(x0 + s[0], y0 + s[1], x0 + s[2], y0 + s[3]);
}

void Indicator::setZoom(float factor, int position)
{
    zoomFactor_ = factor;
    zoomPosition_ = position;
    setPositionFromSetup(value_, 0);
}

void Indicator::setModel(short)
{
}

float Indicator::factor() const
{
    return usableZoomFactor(zoomFactor_);
}

bool Indicator::isNear(QPoint& p)
{
    if (!visible_ || !movable_)
        return false;
    int x0 = 0;
    int y0 = 0;
    const short* symbol = nullptr;
    getIndicPos(&x0, &y0, &symbol);
    const int px = p.x();
    const int py = 1000 - p.y();
    return px >= x0 && px <= x0 + kWidth && py >= y0 && py <= y0 + kHeight;
}

void Indicator::setActive(bool active)
{
    if (visible_ && active_ && !active)
        sendRequest();
    active_ = active;
}

void Indicator::sendRequest()
{
    pipe_dial request{REQ_SET_PARAM, parameter_, 0, value_, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

void Indicator::setColor(unsigned short index)
{
    fillColor_ = getZincColor(index);
}
