#include "ui/scope/scopescreencomp.h"

#include "core/gest_db.h"
#include "ui/traces/gridscreen.h"
#include "ui/traces/indicscreentcomp.h"
#include "ui/traces/tracescreen.h"
#include "ui/traces/tracescreenpassfail.h"

ScopeScreenComp::ScopeScreenComp(QQuickItem* parent) : ScopeScreen(parent) {}

ScopeScreenComp::~ScopeScreenComp() = default;

void ScopeScreenComp::setLayout()
{
    clearChildren();
    const int W = static_cast<int>(width());
    const int H = static_cast<int>(height());
    if (H < 1 || W < 1)
        return;
    const int w = W - 5;
    grids_[0] = new GridScreen(this, 0, 0, w, H, label_);
    int n = 0;
    if (data.passFailOn != 0 && static_cast<uint16_t>(data.passFailSource) < 4)
        traceScreens_[n++] = new TraceScreenPassFail(this, 0x1000, 0, 0, w, H);
    traceScreens_[n] = new TraceScreen(this, 0x0F0F, 0, 0, w, H);
    overlays_[0] = new IndicScreenTComp(this, 0x0F0F, 0, 0, w, H);
    overlays_[0]->screenMajSlot(param::spareWord29);
}
