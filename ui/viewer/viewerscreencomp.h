// The viewer's compressed strip: the whole recording, fitted to its own span, in one pane above
// the main display.
#pragma once

#include "ui/viewer/viewerscreen.h"

class ViewerScreenComp : public ViewerScreen {
    Q_OBJECT

public:
    explicit ViewerScreenComp(QQuickItem* parent = nullptr);

public slots:
    void setLayout() override;
    void setLayout(bool split, short format, QString label) override
    {
        ScopeScreen::setLayout(split, format, label);
    }
};
