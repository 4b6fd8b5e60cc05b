// The compressed overview of the scope display: one pane with all channels and its own label.
#pragma once

#include "ui/traces/scopescreen.h"

class ScopeScreenComp : public ScopeScreen {
    Q_OBJECT

public:
    explicit ScopeScreenComp(QQuickItem* parent = nullptr);
    ~ScopeScreenComp() override;

public slots:
    void setLayout() override;
    // Both forms stay visible to QML and C++ callers.
    void setLayout(bool split, short format, QString label) override
    {
        ScopeScreen::setLayout(split, format, label);
    }
};
