// Harmonic grid: a 1024 x 1000 window of 64 bands of 16 units, alternating black and dark grey,
// with horizontals at 250, 500 and 750; no title. Also placed from QML.
#pragma once

#include "ui/traces/gridscreen.h"

class HarmonicGridScreen : public GridScreen {
    Q_OBJECT

public:
    explicit HarmonicGridScreen(QQuickItem* parent = nullptr, int x = 0, int y = 0,
        int width = 0, int height = 0, QString title = QString());

    void paint(QPainter* painter) override;
};
