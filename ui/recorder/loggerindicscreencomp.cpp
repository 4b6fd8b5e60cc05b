#include "ui/recorder/loggerindicscreencomp.h"

LoggerIndicScreenComp::LoggerIndicScreenComp(QQuickItem* parent, unsigned short channelMask, int x, int y,
                                             int width, int height)
    : IndicScreen(parent, channelMask, x, y, width, height)
{
}

void LoggerIndicScreenComp::screenMajSlot(int)
{
}
