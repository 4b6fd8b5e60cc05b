#include "ui/traces/indicatortriggerv.h"

#include "core/gest_db.h"
#include "ui/frame/zinccolor.h"
#include "ui/traces/zoomguard.h"

#include <QPainter>

const short IndicatorTriggerV::ts_c_normalMotif[] = {1, 40, 25, 29, 25};
const short IndicatorTriggerV::ts_c_maxMotif[] = {2, 27, 0, 27, 50, 27, 50, 39, 25};
const short IndicatorTriggerV::ts_c_minMotif[] = {2, 27, 0, 27, 50, 27, 0, 39, 25};
const short IndicatorTriggerV::ts_c_couplingAc[] = {6, 2, 25, 7, 15, 7, 15, 18, 35, 18, 35, 23, 25,
                                                    2, 26, 7, 16, 7, 16, 18, 36, 18, 36, 23, 26};
const short IndicatorTriggerV::ts_c_couplingLfReject[] = {4, 5, 44, 13, 9, 13, 9, 21, 9,
                                                          5, 45, 13, 10, 13, 11, 21, 11};
const short IndicatorTriggerV::ts_c_couplingHfReject[] = {4, 5, 9, 13, 9, 13, 9, 21, 44,
                                                          5, 11, 13, 11, 13, 10, 21, 45};
const short IndicatorTriggerV::ts_c_couplingDc[] = {4, 6, 9, 21, 9, 13, 9, 13, 44,
                                                    6, 11, 21, 11, 14, 9, 14, 44};

IndicatorTriggerV::IndicatorTriggerV(unsigned short source)
    : model_(1),
      channelOffset_(0)
{
    const int channel = source <= 3 ? source : 0;
    const int16_t limits[4] = {max_par.trigLevelCh1, max_par.trigLevelCh2, max_par.trigLevelCh3,
                               max_par.trigLevelCh4};
    const int16_t colours[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4};
    parameter_ = static_cast<unsigned short>(param::trigLevelCh1 + channel);
    lowerBound_ = -limits[channel];
    upperBound_ = limits[channel];
    fillColor_ = getZincColor(static_cast<unsigned short>(colours[channel]));
    visible_ = true;
    x_ = 959;
    y_ = 500;
}

const short* IndicatorTriggerV::couplingSymbol(short model)
{
    switch (model) {
    case 0: return ts_c_couplingAc;
    case 2: return ts_c_couplingLfReject;
    case 3: return ts_c_couplingHfReject;
    default: return ts_c_couplingDc;
    }
}

void IndicatorTriggerV::paint(QPainter& painter)
{
    if (!visible_)
        return;
    paintFlag(painter, true, false);
    int x0 = 0;
    int y0 = 0;
    const short* symbol = nullptr;
    getIndicPos(&x0, &y0, &symbol);
    drawSymbol(painter, x0, y0, couplingSymbol(model_));
}

void IndicatorTriggerV::setZoom(float factor, int position)
{
    zoomFactor_ = factor;
    zoomPosition_ = position;
    setPositionFromSetup(value_, channelOffset_);
}

void IndicatorTriggerV::setModel(short model)
{
    model_ = model;
}

void IndicatorTriggerV::setPositionFromMouse(QPoint& p)
{
    y_ = 1000 - p.y();
    const int32_t level =
        truncToInt32(500.0f - (static_cast<float>(zoomPosition_) + 1000.0f - static_cast<float>(p.y())) / factor());
    value_ = clampToInt32(static_cast<int64_t>(level) - channelOffset_);
}

void IndicatorTriggerV::setPositionFromSetup(int value, int extra)
{
    channelOffset_ = extra;
    value_ = value;
    y_ = truncToInt32(static_cast<float>(500 - static_cast<int64_t>(value) - extra) * factor() -
                      static_cast<float>(zoomPosition_));
}

void IndicatorTriggerV::getIndicPos(int* x0, int* y0, short const** symbol)
{
    *x0 = x_;
    if (y_ > 1000) {
        *y0 = 949;
        *symbol = ts_c_maxMotif;
    } else if (y_ < 0) {
        *y0 = 0;
        *symbol = ts_c_minMotif;
    } else {
        *y0 = y_ - 25;
        *symbol = ts_c_normalMotif;
    }
}

QPoint IndicatorTriggerV::getTitlePos()
{
    return QPoint(0, 0);
}
