// The recorder's compressed strip above the main display: the envelope of the whole record of
// channels 1-4 under the "LOGGER" title.
#pragma once

#include "ui/traces/loggerscreen.h"

class LoggerScreenComp : public LoggerScreen {
    Q_OBJECT

public:
    explicit LoggerScreenComp(QQuickItem* parent = nullptr);
    ~LoggerScreenComp() override;

    using LoggerScreen::setLayout;

public slots:
    void setLayout() override;
};
