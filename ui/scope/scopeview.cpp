#include "ui/scope/scopeview.h"

#include "core/gest_db.h"
#include "ui/frame/homeview.h"

namespace {
// Unzoomed time display: the whole record on screen.
constexpr float kUnzoomedWidth = 40.0f;
} // namespace

ScopeView::ScopeView(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::screenIhmSignal, this,
                                  [this](int code, int, int) { screenIhmSlot(code); });
        connections_[1] = connect(home, &HomeView::screenMajSignal, this, &ScopeView::screenMajSlot);
        connections_[2] = connect(home, &HomeView::screenRazSignal, this, &ScopeView::screenRazSlot);
    }
    update();
}

ScopeView::~ScopeView()
{
    for (auto& c : connections_)
        disconnect(c);
}

void ScopeView::screenIhmSlot(int code)
{
    // Emitted also when unchanged: the same command may come twice (reopen the same panel).
    directCmdeToIhm_ = code;
    emit directCmdeToIhmChanged();
}

void ScopeView::readCompressed()
{
    displayCompressedView_ = data.traceFormat != 0 || data.zoomWidth != kUnzoomedWidth;
    emit displayCompressedViewChanged();
}

void ScopeView::readFullScreen()
{
    displayFullScreen_ = data.keyToggleFlag != 0;
    emit displayFullScreenChanged();
}

void ScopeView::screenMajSlot(int code)
{
    switch (code) {
    case 0:
        update();
        break;
    case param::autosetRequest:
    case param::zoomWidth:
    case param::zoomState:
    case param::traceFormat:
    case param::timeBaseIndex:
        readCompressed();
        break;
    case param::spareWord29:
        update();
        readCompressed();
        readFullScreen();
        break;
    case param::keyToggleFlag:
        readFullScreen();
        break;
    default:
        break;
    }
}

void ScopeView::screenRazSlot()
{
    deleteLater();
}
