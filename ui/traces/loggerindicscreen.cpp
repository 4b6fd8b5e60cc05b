#include "ui/traces/loggerindicscreen.h"

#include "core/gest_db.h"
#include "ui/traces/cursor.h"
#include "ui/traces/indicator.h"
#include "ui/traces/loggercursorvertical.h"

#include <QPainter>
#include <QPolygon>

LoggerIndicScreen::LoggerIndicScreen(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                                     int height)
    : ViewerIndicScreen(parent, channelMask, x, y, width, height)
{
    setCursor(0, new LoggerCursorVertical(0x8001, 100));
    setCursor(1, new LoggerCursorVertical(0x8002, 900));
}

void LoggerIndicScreen::paint(QPainter* painter)
{
    ViewerIndicScreen::paint(painter);
    if (!cursors_[0] || !cursors_[0]->isVisible())
        return;
    // The cursors address the newest points only: marks at the right edge say so.
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::white);
    painter->drawPolygon(QPolygon({QPoint(970, 30), QPoint(970, 80), QPoint(990, 55)}));
    painter->drawPolygon(QPolygon({QPoint(970, 970), QPoint(970, 920), QPoint(990, 945)}));
    painter->restore();
}

void LoggerIndicScreen::screenManualMeasurementSlot()
{
    static const int kWords[5][2] = {{0, -1}, {1, -1}, {-1, -1}, {-1, 2}, {-1, 3}};
    placeFromCursorTable(kWords);
}

void LoggerIndicScreen::setVisibleIndics()
{
    static const int kTraceOn[4] = {param::traceOnCh1, param::traceOnCh2, param::traceOnCh3, param::traceOnCh4};
    for (int n = 0; n < 4; ++n) {
        if (!indicators_[n])
            continue;
        indicators_[n]->setMovable(false);
        indicators_[n]->setVisible(setupValue(kTraceOn[n]) != 0 && (data.hwChannelMask & (1u << n)) != 0);
    }
    update();
}

void LoggerIndicScreen::screenMajSlot(int parameter)
{
    switch (parameter) {
    case 14: case 16: case 18: case 20:  // traceOnCh1-traceOnCh4
        setVisibleIndics();
        break;
    case 23:  // measRefChannel
        placementStep();
        break;
    case 29:   // layout
    case 142:  // split layout
        displayKalvexSlot();
        placementStep();
        setVisibleIndics();
        break;
    case 93:  // cursorState
        setVisibleIndics();
        cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
        screenManualMeasurementSlot();
        break;
    case 0:
        screenManualMeasurementSlot();
        break;
    default:
        return;
    }
    update();
}
