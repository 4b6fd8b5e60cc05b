#include "ui/harmonic/harmonicview.h"

#include "core/gest_db.h"
#include "ui/frame/homeview.h"

HarmonicView::HarmonicView(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::screenMajSignal, this, &HarmonicView::screenMajSlot);
        connections_[1] = connect(home, &HomeView::screenRazSignal, this, &HarmonicView::screenRazSlot);
    }
}

HarmonicView::~HarmonicView()
{
    for (auto& c : connections_)
        disconnect(c);
}

void HarmonicView::screenMajSlot(int code)
{
    switch (code) {
    case 0:
        update();
        break;
    case param::spareWord29:
        update();
        [[fallthrough]];
    case param::keyToggleFlag:
        displayFullScreen_ = data.keyToggleFlag != 0;
        emit displayFullScreenChanged();
        break;
    default:
        break;
    }
}

void HarmonicView::screenRazSlot()
{
    deleteLater();
}
