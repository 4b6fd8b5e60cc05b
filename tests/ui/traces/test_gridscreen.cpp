// Grid screens painted into images: frame, dotted divisions at their positions and nowhere
// else, the harmonic bands and the title.
#include "ui/traces/gridscreen.h"
#include "ui/traces/gridscreenxy.h"
#include "ui/harmonic/harmonicgridscreen.h"
#include "ui/traces/loggergridscreen.h"
#include "ui/recorder/loggergridscreencomp.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Antialiased one-pixel white on black: a line covers at least half a pixel, about 128.
constexpr int kLit = 100;

QImage render(GridScreen& grid, int width, int height)
{
    grid.setSize(QSizeF(width, height));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    grid.paint(&painter);
    painter.end();
    return image;
}

bool lit(const QImage& image, int x, int y)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return false;
    return qGray(image.pixel(x, y)) > kLit;
}

// Share of the pixels along a vertical (or horizontal) line at `pixel` that are lit, allowing
// `slack` pixels either way: the window's units fall between device pixels.
double litShare(const QImage& image, bool vertical, int pixel, int slack)
{
    const int length = vertical ? image.height() : image.width();
    int count = 0;
    for (int i = 0; i < length; ++i) {
        bool any = false;
        for (int d = -slack; d <= slack && !any; ++d)
            any = vertical ? lit(image, pixel + d, i) : lit(image, i, pixel + d);
        count += any;
    }
    return double(count) / length;
}

struct TGridCase {
    const char* name;
    std::function<GridScreen*()> make;
    int windowWidth;
    std::vector<int> verticals;    // dotted, in window units
    std::vector<int> horizontals;
};

std::vector<TGridCase> gridCases()
{
    const std::vector<int> time = {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000};
    const std::vector<int> eighths = {125, 250, 375, 500, 625, 750, 875};
    const std::vector<int> quarters = {250, 500, 750};
    std::vector<int> xyVerticals = eighths;
    xyVerticals.push_back(1000);
    return {
        {"GridScreen", [] { return new GridScreen(); }, 1000, time, eighths},
        {"GridScreenXy", [] { return new GridScreenXy(); }, 1000, xyVerticals, eighths},
        {"LoggerGridScreen", [] { return new LoggerGridScreen(); }, 1000, time, quarters},
        {"LoggerGridScreenComp", [] { return new LoggerGridScreenComp(); }, 1000, time, quarters},
        {"HarmonicGridScreen", [] { return new HarmonicGridScreen(); }, 1024, {}, quarters},
    };
}

// Every position any grid uses: those a class does not draw must stay dark.
std::vector<int> candidatePositions()
{
    std::vector<int> all;
    for (int p = 100; p <= 900; p += 100)
        all.push_back(p);
    for (int p = 125; p <= 875; p += 125)
        all.push_back(p);
    return all;
}

template <class TGrid>
GridScreen* titled(QString title)
{
    return new TGrid(nullptr, 0, 0, 0, 0, std::move(title));
}

} // namespace

TEST(GridScreen, DottedLinesLieAtTheirPositionsAndNowhereElse)
{
    // One unit per pixel, then a scope main-screen size where units fall between pixels.
    for (const QSize size : {QSize(1000, 1000), QSize(725, 330)}) {
        for (const TGridCase& c : gridCases()) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(size.width()) + "x" +
                         std::to_string(size.height()));
            std::unique_ptr<GridScreen> grid(c.make());
            const int width = c.windowWidth == 1024 && size.width() == 1000 ? 1024 : size.width();
            const QImage image = render(*grid, width, size.height());
            const auto toX = [&](int unit) { return int(unit * double(width) / c.windowWidth); };
            const auto toY = [&](int unit) { return int(unit * double(size.height()) / 1000); };

            // The frame is solid on all four sides.
            EXPECT_GT(litShare(image, true, 0, 1), 0.95);
            EXPECT_GT(litShare(image, false, 0, 1), 0.95);
            EXPECT_GT(litShare(image, true, toX(c.windowWidth - 2), 1), 0.95);
            EXPECT_GT(litShare(image, false, toY(998), 1), 0.95);

            for (int v : c.verticals) {
                if (v == 1000)
                    continue;  // on the frame's far side, hidden by it
                const double share = litShare(image, true, toX(v), 1);
                EXPECT_GT(share, 0.2) << "vertical " << v;
                EXPECT_LT(share, 0.8) << "vertical " << v << " is not dotted";
            }
            for (int h : c.horizontals) {
                const double share = litShare(image, false, toY(h), 1);
                EXPECT_GT(share, 0.2) << "horizontal " << h;
                EXPECT_LT(share, 0.8) << "horizontal " << h << " is not dotted";
            }
            const auto near = [](const std::vector<int>& set, int p, int units) {
                for (int q : set)
                    if (std::abs(q - p) <= units)
                        return true;
                return false;
            };
            for (int p : candidatePositions()) {
                if (!near(c.verticals, p, 10)) {
                    EXPECT_LT(litShare(image, true, toX(p), 0), 0.1) << "stray vertical " << p;
                }
                if (!near(c.horizontals, p, 10)) {
                    EXPECT_LT(litShare(image, false, toY(p), 0), 0.1) << "stray horizontal " << p;
                }
            }
            // Between the lines the area is black (in the harmonic grid: a black band).
            EXPECT_EQ(qGray(image.pixel(toX(c.windowWidth / 2 + 8), toY(540))), 0);
        }
    }
}

TEST(GridScreen, HarmonicBandsAlternateBlackAndDarkGrey)
{
    HarmonicGridScreen grid;
    const QImage image = render(grid, 1024, 1000);
    const QColor grey = QColor(Qt::gray).darker(200);
    for (int band = 0; band < 64; ++band) {
        const QRgb expected = band % 2 == 0 ? qRgb(0, 0, 0) : grey.rgb();
        for (int x : {band * 16 + 3, band * 16 + 12})
            EXPECT_EQ(image.pixel(x, 100), expected) << "band " << band << " x " << x;
    }
    // The frame's far side at 1022, the last band beside it.
    EXPECT_GT(qGray(image.pixel(1022, 100)) + qGray(image.pixel(1023, 100)), 2 * kLit);
}

TEST(GridScreen, TitleIsDrawnHalfOpaqueAndCentredOnlyWhereTheClassHasOne)
{
    const auto image = [](GridScreen* grid) {
        std::unique_ptr<GridScreen> owner(grid);
        return render(*grid, 725, 330);
    };
    struct TCase {
        const char* name;
        std::function<GridScreen*(QString)> make;
        bool titled;
    };
    const TCase cases[] = {
        {"GridScreen", titled<GridScreen>, true},
        {"LoggerGridScreenComp", titled<LoggerGridScreenComp>, true},
        {"GridScreenXy", titled<GridScreenXy>, false},
        {"LoggerGridScreen", titled<LoggerGridScreen>, false},
        {"HarmonicGridScreen", titled<HarmonicGridScreen>, false},
    };
    // The recorder grids draw the same lines: an empty title leaves their pictures equal.
    EXPECT_EQ(image(titled<LoggerGridScreenComp>(QString())),
              image(titled<LoggerGridScreen>(QString())));
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage plain = image(c.make(QString()));
        const QImage titled = image(c.make(QStringLiteral("MEMORY")));
        if (!c.titled) {
            EXPECT_EQ(plain, titled);
            continue;
        }
        QRect changed;
        int brightest = 0;
        for (int y = 0; y < plain.height(); ++y)
            for (int x = 0; x < plain.width(); ++x)
                if (plain.pixel(x, y) != titled.pixel(x, y)) {
                    changed |= QRect(x, y, 1, 1);
                    if (qGray(plain.pixel(x, y)) == 0)
                        brightest = std::max(brightest, qGray(titled.pixel(x, y)));
                }
        ASSERT_FALSE(changed.isEmpty());
        EXPECT_NEAR(changed.center().x(), 725 / 2, 6);
        EXPECT_NEAR(changed.center().y(), 330 / 2, 6);
        EXPECT_GT(changed.width(), 100);  // 35-point bold letters
        // Half opaque: white text over black gives mid-grey, never full white.
        EXPECT_NEAR(brightest, 128, 8);
    }
}

TEST(GridScreen, ConstructorPlacesTheItem)
{
    GridScreen grid(nullptr, 12, 34, 560, 78, QStringLiteral("REF"));
    EXPECT_EQ(grid.position(), QPointF(12, 34));
    EXPECT_EQ(grid.size(), QSizeF(560, 78));
    EXPECT_EQ(grid.title(), QStringLiteral("REF"));
}
