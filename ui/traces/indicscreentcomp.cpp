#include "ui/traces/indicscreentcomp.h"

#include "ui/traces/indicatortriggertcomp.h"

IndicScreenTComp::IndicScreenTComp(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                                   int height)
    : IndicScreenComp(parent, channelMask, x, y, width, height)
{
    setIndicator(9, new IndicatorTriggerTComp);
}
