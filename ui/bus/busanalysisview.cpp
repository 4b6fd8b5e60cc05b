#include "ui/bus/busanalysisview.h"

#include "core/gest_db.h"
#include "ui/frame/homeview.h"

BusAnalysisView::BusAnalysisView(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::screenIhmSignal, this,
                                  [this](int code, int, int) { screenIhmSlot(code); });
        connections_[1] = connect(home, &HomeView::screenMajSignal, this, &BusAnalysisView::screenMajSlot);
        connections_[2] = connect(home, &HomeView::screenRazSignal, this, &BusAnalysisView::screenRazSlot);
    }
    update();
}

BusAnalysisView::~BusAnalysisView()
{
    for (auto& c : connections_)
        disconnect(c);
}

void BusAnalysisView::screenIhmSlot(int code)
{
    // Notified also when unchanged: the results open at the end of every diagnosis.
    directCmdeToIhm_ = code;
    emit directCmdeToIhmChanged();
}

void BusAnalysisView::screenMajSlot(int code)
{
    if (code == 0 || code == param::spareWord29)
        update();
    else if (code == param::busDiag)
        emit closeDialog();
}

void BusAnalysisView::screenRazSlot()
{
    deleteLater();
}
