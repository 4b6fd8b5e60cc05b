// Grid of the recorder's compressed screen: as LoggerGridScreen, with the title.
#pragma once

#include "ui/traces/gridscreen.h"

class LoggerGridScreenComp : public GridScreen {
    Q_OBJECT

public:
    explicit LoggerGridScreenComp(QQuickItem* parent = nullptr, int x = 0, int y = 0,
        int width = 0, int height = 0, QString title = QString());

    void paint(QPainter* painter) override;
};
