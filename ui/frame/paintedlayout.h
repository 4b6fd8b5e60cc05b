// What a painted item drew at its last paint: each text with its box, its colour and the colour
// behind it, and each picture, in item coordinates. A check of the screen reads it to find a
// text under another, a text outside its box or a text the colour of its background; the item
// draws through it so that what is recorded is what was drawn.
#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <mutex>
#include <vector>

class QPainter;
class QPixmap;

class PaintedLayout {
public:
    struct Entry {
        QString text;      // empty: a picture or a box
        QRectF rect;       // item coordinates: the ink of a text, the whole of a picture
        QColor colour;     // the pen of a text
        QColor behind;     // invalid: the item's own background
        bool box = false;  // a filled box: what it covers is hidden
    };

    // Starts a new paint: what the previous one drew is forgotten.
    void begin();
    // Draws the text with its baseline starting at the point (painter coordinates), in the
    // painter's font and pen, and records its box; behind is the colour drawn under it, when the
    // item drew one of its own.
    void text(QPainter* painter, const QPointF& baseline, const QString& text, const QColor& behind = QColor());
    // Fills the rectangle and records it as a box that hides what lies under it.
    void fill(QPainter* painter, const QRectF& rect, const QColor& colour);
    // Records a box the item drew itself (a rounded frame with its brush): it hides what lies under it.
    void covers(QPainter* painter, const QRectF& rect);
    // Draws the picture scaled into the rectangle and records it.
    void picture(QPainter* painter, const QRectF& target, const QPixmap& picture);

    // A copy of the last paint's entries (the paint may run in the render thread).
    std::vector<Entry> entries() const;

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// The items that paint through a PaintedLayout.
class PaintedLayoutSource {
public:
    virtual ~PaintedLayoutSource() = default;
    virtual const PaintedLayout& paintedLayout() const = 0;
};
