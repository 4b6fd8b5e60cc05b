#include "ui/traces/viewerchannel.h"

ViewerChannel::ViewerChannel(QQuickItem* parent)
    : LoggerChannel(parent)
{
}

void ViewerChannel::paint(QPainter* painter)
{
    paintCommon(painter);
}
