#include "ui/harmonic/harmonictoolpanel.h"

#include "core/gest_db.h"
#include "ui/frame/homeview.h"

HarmonicToolPanel::HarmonicToolPanel(QQuickItem* parent)
    : QQuickItem(parent), filterImg_(QStringLiteral("images/harmFreqAuto.png"))
{
    if (HomeView* home = po_g_homeView)
        connection_ = connect(home, &HomeView::screenMajSignal, this, &HarmonicToolPanel::screenMajSlot);
}

HarmonicToolPanel::~HarmonicToolPanel()
{
    disconnect(connection_);
}

void HarmonicToolPanel::screenMajSlot(int code)
{
    if (code != 0 && code != param::harmonicFreq)
        return;
    switch (data.harmonicFreq) {
    case 1: filterImg_ = QStringLiteral("images/harmFreq50.png"); break;
    case 2: filterImg_ = QStringLiteral("images/harmFreq60.png"); break;
    case 3: filterImg_ = QStringLiteral("images/harmFreq400.png"); break;
    default: filterImg_ = QStringLiteral("images/harmFreqAuto.png"); break;
    }
    emit filterImgChanged();
}
