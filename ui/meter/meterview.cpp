#include "ui/meter/meterview.h"

#include "ui/frame/homeview.h"

MeterView::MeterView(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView)
        connection_ = connect(home, &HomeView::screenRazSignal, this, &MeterView::screenRazSlot);
}

MeterView::~MeterView()
{
    disconnect(connection_);
}

void MeterView::screenRazSlot()
{
    deleteLater();
}
