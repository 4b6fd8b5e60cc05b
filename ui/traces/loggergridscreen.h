// Recorder grid: the time verticals and horizontals at 250, 500 and 750; no title.
#pragma once

#include "ui/traces/gridscreen.h"

class LoggerGridScreen : public GridScreen {
    Q_OBJECT

public:
    explicit LoggerGridScreen(QQuickItem* parent = nullptr, int x = 0, int y = 0,
        int width = 0, int height = 0, QString title = QString());

    void paint(QPainter* painter) override;
};
