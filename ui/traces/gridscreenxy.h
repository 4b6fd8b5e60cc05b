// Grid of the XY format: 125-unit divisions both ways, no title.
#pragma once

#include "ui/traces/gridscreen.h"

class GridScreenXy : public GridScreen {
    Q_OBJECT

public:
    explicit GridScreenXy(QQuickItem* parent = nullptr, int x = 0, int y = 0,
        int width = 0, int height = 0, QString title = QString());

    void paint(QPainter* painter) override;
};
