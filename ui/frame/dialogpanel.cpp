#include "ui/frame/dialogpanel.h"

DialogPanel::DialogPanel(QQuickItem* parent)
    : QQuickItem(parent)
{
}

void DialogPanel::display(QQuickItem* panel)
{
    QQuickItem* shown = displayed_;
    displayOff();
    // A null panel (a binding that has not resolved) only closes what is open.
    if (panel == nullptr || panel == shown)
        return;
    displayed_ = panel;
    destroyedWatch_ = connect(panel, &QObject::destroyed, this, [this] {
        displayed_ = nullptr;
        setHeight(0);
    });
    panel->setOpacity(1);
    setHeight(panel->height());
    panel->setEnabled(true);
}

void DialogPanel::displayOff()
{
    if (displayed_ == nullptr)
        return;
    disconnect(destroyedWatch_);
    displayed_->setEnabled(false);
    displayed_->setOpacity(0);
    setHeight(0);
    displayed_ = nullptr;
}
