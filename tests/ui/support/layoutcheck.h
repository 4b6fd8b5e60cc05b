// The screen as the eye reads it: every visible text of a window (the QML texts, and the texts the
// painted items report through their PaintedLayout), in paint order, checked for a text under
// another text or under a picture, a text outside its own item and a text the colour of what is
// behind it. A text wholly under an opaque box (a panel over a view) is not visible and not checked.
#pragma once

#include "ui/frame/paintedlayout.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace layoutcheck {

struct Ink {
    QString text;          // empty: a picture
    QRectF rect;           // scene coordinates
    QRectF box;            // the item's own rectangle (scene); the text must lie within it
    QColor colour;         // of a text
    QColor behind;         // invalid: look at the screenshot
    std::string where;     // item path, for the messages
    int order = 0;         // paint order
};

struct Occluder {
    QRectF rect;
    int order = 0;
};

class Walk {
public:
    void run(QQuickItem* root)
    {
        visit(root, 1.0, QRectF(), "");
    }
    std::vector<Ink> inks;
    std::vector<Occluder> occluders;

private:
    static std::string nameOf(QQuickItem* item)
    {
        const QString name = item->objectName();
        return name.isEmpty() ? std::string(item->metaObject()->className()) : name.toStdString();
    }

    void visit(QQuickItem* item, qreal opacity, QRectF clip, const std::string& path)
    {
        if (!item->isVisible())
            return;
        opacity *= item->opacity();
        if (opacity < 0.05)
            return;
        const QRectF own = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
        if (item->clip())
            clip = clip.isNull() ? own : clip.intersected(own);
        const std::string here = path + "/" + nameOf(item);

        const QList<QQuickItem*> list = item->childItems();
        std::vector<QQuickItem*> children(list.begin(), list.end());
        std::stable_sort(children.begin(), children.end(),
                         [](QQuickItem* a, QQuickItem* b) { return a->z() < b->z(); });
        for (QQuickItem* c : children)
            if (c->z() < 0)
                visit(c, opacity, clip, here);
        self(item, opacity, clip, own, here);
        for (QQuickItem* c : children)
            if (c->z() >= 0)
                visit(c, opacity, clip, here);
    }

    void add(Ink ink, const QRectF& clip)
    {
        if (!clip.isNull()) {
            if (!ink.rect.intersects(clip))
                return;
        }
        ink.order = order_++;
        inks.push_back(ink);
    }

    void self(QQuickItem* item, qreal opacity, const QRectF& clip, const QRectF& own, const std::string& here)
    {
        if (item->inherits("QQuickText") || item->inherits("QQuickTextInput") || item->inherits("QQuickTextEdit")) {
            const QString text = item->property("text").toString();
            if (text.trimmed().isEmpty())
                return;
            Ink ink;
            ink.text = text;
            QRectF box = item->boundingRect();
            // One line: its ink from the baseline, not its line box (lines closer than the
            // font's leading still read).
            // (A text fitted to its item draws in a font of its own: its line box then.)
            if (item->inherits("QQuickText") && item->property("lineCount").toInt() == 1
                && item->property("fontSizeMode").toInt() == 0 && !text.contains(QLatin1Char('<'))) {
                const QFontMetricsF metrics(item->property("font").value<QFont>());
                const QRectF ink = metrics.tightBoundingRect(text);
                box = QRectF(box.x() + ink.x(), item->baselineOffset() + ink.y(), std::min(ink.width(), box.width()), ink.height());
            }
            ink.rect = item->mapRectToScene(box);
            ink.box = own;
            ink.colour = item->property("color").value<QColor>();
            ink.where = here;
            if (item->property("truncated").toBool())
                ink.box = QRectF();  // elided: reported as not fitting
            add(ink, clip);
            return;
        }
        if (item->inherits("QQuickImage") || item->inherits("QQuickAnimatedImage")) {
            if (item->property("status").toInt() != 1)  // Image.Ready
                return;
            const qreal pw = item->property("paintedWidth").toReal();
            const qreal ph = item->property("paintedHeight").toReal();
            if (pw <= 0 || ph <= 0)
                return;
            const QRectF r((item->width() - pw) / 2, (item->height() - ph) / 2, pw, ph);
            Ink ink;
            ink.rect = item->mapRectToScene(r.intersected(QRectF(0, 0, item->width(), item->height())));
            ink.box = own;
            ink.where = here;
            add(ink, clip);
            return;
        }
        if (item->inherits("QQuickRectangle")) {
            const QColor c = item->property("color").value<QColor>();
            // Rounded corners leave little, and a layer of 0.75 or more hides what it covers.
            if (c.alpha() == 255 && opacity >= 0.75)
                occluders.push_back({clip.isNull() ? own : own.intersected(clip), order_++});
            return;
        }
        if (const auto* source = dynamic_cast<const PaintedLayoutSource*>(item)) {
            for (const PaintedLayout::Entry& e : source->paintedLayout().entries()) {
                if (e.box) {
                    const QRectF r = item->mapRectToScene(e.rect);
                    occluders.push_back({clip.isNull() ? r : r.intersected(clip), order_++});
                    continue;
                }
                Ink ink;
                ink.text = e.text;
                ink.rect = item->mapRectToScene(e.rect);
                ink.box = own;
                ink.colour = e.colour;
                ink.behind = e.behind;
                ink.where = here + (e.text.isEmpty() ? std::string(" (picture)") : std::string());
                add(ink, clip);
            }
        }
    }

    int order_ = 0;
};

inline double luminance(const QColor& c)
{
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

// The contrast ratio of two colours (1: the same, 21: black and white).
inline double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The most frequent colour of the screenshot inside the rectangle apart from the text's own
// colour: the background of a text; the text's colour when nothing else is there.
inline QColor dominantColour(const QImage& shot, const QRectF& rect, const QColor& text)
{
    const QRect r = rect.toAlignedRect().intersected(shot.rect());
    std::map<QRgb, int> counts;
    auto near = [&](QRgb p) {
        return std::abs(qRed(p) - text.red()) + std::abs(qGreen(p) - text.green()) + std::abs(qBlue(p) - text.blue()) < 48;
    };
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (!near(shot.pixel(x, y)))
                ++counts[shot.pixel(x, y) | 0xff000000u];
    if (counts.empty())
        return text;
    QRgb best = 0;
    int n = -1;
    for (const auto& kv : counts)
        if (kv.second > n) {
            best = kv.first;
            n = kv.second;
        }
    return QColor::fromRgb(best);
}

// A text is taken for its background below this contrast ratio of brightness (white on white is
// 1; the white texts on their grey gradients stay above it) unless its hue sets it apart (a
// channel's red name on grey reads).
constexpr double kLeastContrast = 1.25;
constexpr int kLeastColourDistance = 60;

inline int colourDistance(const QColor& a, const QColor& b)
{
    const int r = a.red() - b.red(), g = a.green() - b.green(), bl = a.blue() - b.blue();
    return static_cast<int>(std::sqrt(double(r * r + g * g + bl * bl)));
}

// Two boxes that share more than a sliver: a line box's leading may touch the next line's.
inline bool collide(const QRectF& a, const QRectF& b)
{
    const QRectF i = a.intersected(b);
    return i.width() > 1.5 && i.height() > std::min(a.height(), b.height()) * 0.25;
}

constexpr qreal kEdgeSlack = 3;

inline bool covers(const QRectF& outer, const QRectF& inner)
{
    return outer.adjusted(-0.5, -0.5, 0.5, 0.5).contains(inner);
}

inline std::string describe(const Ink& i)
{
    const QRectF& r = i.rect;
    std::string s = i.text.isEmpty() ? std::string("picture") : "'" + i.text.toStdString() + "'";
    return s + " [" + std::to_string(int(r.x())) + "," + std::to_string(int(r.y())) + " " + std::to_string(int(r.width()))
        + "x" + std::to_string(int(r.height())) + "] at " + i.where;
}

// Every fault of the window's screen, one line each; empty when every text can be read.
inline std::vector<std::string> faults(QQuickWindow& window)
{
    const QImage shot = window.grabWindow().convertToFormat(QImage::Format_RGB32);
    Walk walk;
    walk.run(window.contentItem());

    // What an opaque box above a text hides wholly is not on the screen.
    auto hidden = [&](const Ink& ink) {
        for (const Occluder& o : walk.occluders)
            if (o.order > ink.order && covers(o.rect, ink.rect))
                return true;
        return false;
    };
    std::vector<const Ink*> seen;
    for (const Ink& i : walk.inks)
        if (!hidden(i) && i.rect.intersects(QRectF(QPointF(0, 0), QSizeF(window.size()))))
            seen.push_back(&i);

    std::vector<std::string> out;
    for (const Ink* t : seen) {
        if (t->text.isEmpty())
            continue;
        // A pixel or two of ink beyond the item's edge still shows on its bar.
        if (!covers(t->box.adjusted(-kEdgeSlack, -kEdgeSlack, kEdgeSlack, kEdgeSlack), t->rect))
            out.push_back("outside its item: " + describe(*t));
        if (!t->colour.isValid())
            continue;
        const QColor behind = t->behind.isValid() ? t->behind : dominantColour(shot, t->rect, t->colour);
        if (contrast(t->colour, behind) < kLeastContrast && colourDistance(t->colour, behind) < kLeastColourDistance)
            out.push_back("unreadable colour on " + behind.name().toStdString() + ": " + describe(*t));
    }
    for (size_t a = 0; a < seen.size(); ++a)
        for (size_t b = a + 1; b < seen.size(); ++b) {
            const Ink* lower = seen[a]->order < seen[b]->order ? seen[a] : seen[b];
            const Ink* upper = lower == seen[a] ? seen[b] : seen[a];
            // A label on a picture reads; a picture on a text hides it.
            if (lower->text.isEmpty() || !collide(lower->rect, upper->rect))
                continue;
            // An opaque box between them hides the lower one where they meet.
            const QRectF meet = lower->rect.intersected(upper->rect);
            bool between = false;
            for (const Occluder& o : walk.occluders)
                between = between || (o.order > lower->order && o.order < upper->order && covers(o.rect, meet));
            if (!between)
                out.push_back("under " + describe(*upper) + ": " + describe(*lower));
        }
    return out;
}

} // namespace layoutcheck
