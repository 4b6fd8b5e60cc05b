// Grid screens: the opaque item at the bottom of each display stack, a black area with a frame
// and dotted divisions, painted in a logical window of 1000 x 1000 units. The variants differ
// only in their paint; none reacts to a signal.
#pragma once

#include <QFont>
#include <QPen>
#include <QQuickPaintedItem>
#include <QString>

class GridScreen : public QQuickPaintedItem {
    Q_OBJECT

public:
    // The defaults are what the QML engine gives a grid it creates itself.
    explicit GridScreen(QQuickItem* parent = nullptr, int x = 0, int y = 0, int width = 0,
                        int height = 0, QString title = QString());
    ~GridScreen() override;

    void paint(QPainter* painter) override;

    const QString& title() const { return title_; }

protected:
    // Black fill and the solid frame of the 1000 x 1000 window.
    void paintBackground(QPainter* painter);
    // The 1000-unit vertical divisions: x = 100 ... 900 and 1000, full height.
    void paintTimeVerticals(QPainter* painter);
    // Horizontal dotted lines at y = 250, 500, 750 across `width` units.
    void paintQuarterHorizontals(QPainter* painter, int width);
    // The title centred in the whole item, half opaque; an empty title draws nothing.
    void paintTitle(QPainter* painter);

    QString title_;
    QPen* pen_;
    QFont* font_;
};
