// The viewer's main display: one pane with every recorded trace, or one pane per trace after the
// split-layout switch, the instrument's channels and a power recording. A pane's trace screen
// exists only when its stored trace is in the recording.
#pragma once

#include "ui/traces/loggerscreen.h"

class ViewerScreen : public LoggerScreen {
    Q_OBJECT

public:
    explicit ViewerScreen(QQuickItem* parent = nullptr);

    // Stores the shown stored traces and the layout, rebuilds, and asks the controller for a
    // refresh that fills the new panes.
    void setLayout(unsigned short mask, TLoggerLayout layout);

public slots:
    void setLayout() override;
    void setLayout(bool split, short format, QString label) override
    {
        ScopeScreen::setLayout(split, format, label);
    }
    void screenMajSlot(int code) override;
};
