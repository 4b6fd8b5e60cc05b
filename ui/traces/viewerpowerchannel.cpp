#include "ui/traces/viewerpowerchannel.h"

ViewerPowerChannel::ViewerPowerChannel(QQuickItem* parent)
    : LoggerPowerChannel(parent)
{
}

void ViewerPowerChannel::paint(QPainter* painter)
{
    paintCommon(painter);
}
