#include "ui/meter/metertoolpanel.h"

#include "hardware/CmdesBase.h"

MeterToolPanel::MeterToolPanel(QQuickItem* parent) : QQuickItem(parent) {}

bool MeterToolPanel::is2wattmeterMeasAvailable() const
{
    return EtatLogique(ETAT_TWO_CHANNEL_MODEL) == 0;
}
