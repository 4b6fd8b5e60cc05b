#include "ui/recorder/loggerview.h"

#include "core/gest_db.h"
#include "ui/frame/homeview.h"

LoggerView::LoggerView(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::screenMajSignal, this, &LoggerView::screenMajSlot);
        connections_[1] = connect(home, &HomeView::screenRazSignal, this, &LoggerView::screenRazSlot);
    }
}

LoggerView::~LoggerView()
{
    for (auto& c : connections_)
        disconnect(c);
}

void LoggerView::screenMajSlot(int code)
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

void LoggerView::screenRazSlot()
{
    deleteLater();
}
