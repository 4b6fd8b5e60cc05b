// Traces: display codes to pixel rows, columns and their painting, the drawing thread, XY plots.
#include "tests/ui/support/test_trace_fixture.h"
#include "ui/traces/tracethread.h"
#include "ui/traces/tracexy.h"
#include "ui/frame/zinccolor.h"

#include <QPainter>
#include <QRect>

#include <atomic>
#include <string>
#include <vector>

namespace {

// The trace screen's painter settings on a 1000 x 1000 image.
void setUpPainter(QPainter& p)
{
    p.setWindow(QRect(0, 0, 1000, 1000));
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Source);
}

// Rows of a table case: the first entries given, the rest empty.
std::vector<int16_t> rowsStartingWith(std::initializer_list<int16_t> first)
{
    std::vector<int16_t> rows(Trace::kRows, Trace::kEmptyRow);
    std::copy(first.begin(), first.end(), rows.begin());
    return rows;
}

} // namespace

class TraceTest : public TraceFixture {};

TEST_F(TraceTest, ConstructionTakesTheLinkOfItsKindAndTheUnzoomedScale)
{
    const struct {
        short kind;
        int acq;
    } cases[] = {{0, 0}, {3, 3}, {4, 4}, {7, 7}, {13, 9}, {8, 8}, {9, 8}, {12, 8}, {-1, 8}};
    for (const auto& c : cases) {
        Trace t(c.kind);
        EXPECT_EQ(t.acquisition(), acq(c.acq)) << "kind " << c.kind;
        EXPECT_FALSE(t.ready());
        EXPECT_TRUE(t.compressed());
        EXPECT_EQ(t.scale(), 0.0038156288f);
        EXPECT_EQ(t.offset(), -1500);
        EXPECT_EQ(t.pen().color(), QColor(Qt::lightGray));
        EXPECT_EQ(t.pen().width(), 2);
        EXPECT_TRUE(t.pen().isCosmetic());
    }
}

TEST_F(TraceTest, RowsOfCodesWithAndWithoutZoom)
{
    const struct {
        const char* label;
        bool compressed;
        float factor;
        int position;
        uint32_t code;
        int16_t row;
    } cases[] = {
        {"top", true, 1, 0, 393216, 0},
        {"centre", true, 1, 0, 524256, 500},
        {"bottom", true, 1, 0, 655296, 1000},
        {"quarter", true, 1, 0, 458736, 250},
        {"no sample", true, 1, 0, 0x80000000u, -1000},
        {"invalid word", true, 1, 0, 0x40000000u, -1000},
        {"invalid word high", true, 1, 0, 0x7FFFFFFFu, -1000},
        {"largest valid code", true, 1, 0, 0x3FFFFFFFu, 32767},
        {"code 0 above the screen", true, 1, 0, 0, -1500},
        {"compressed ignores zoom", true, 2, 500, 458736, 250},
        {"compressed ignores zoom, centre", true, 4, -300, 524256, 500},
        {"zoom 2 at 500, centre", false, 2, 500, 524256, 500},
        {"zoom 2 at 500, quarter", false, 2, 500, 458736, 0},
        {"zoom 1 at 0 unzoomed", false, 1, 0, 458736, 250},
        {"zoom keeps empty", false, 2, 500, 0x80000000u, -1000},
        {"huge zoom saturates", false, 1e9f, 0, 655296, 32767},
        {"huge negative zoom saturates", false, -1e9f, 0, 655296, -32768},
        {"NaN zoom stays off screen", false, NAN, 0, 524256, -32768},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        // Both arrays hold the code: the compressed flag picks one, shown below.
        fillAll(acq(0), c.code);
        Trace t(0);
        t.setCompressed(c.compressed);
        t.setVerticalZoom(c.factor, c.position);
        t.samplesToPixels();
        int16_t rows[Trace::kRows];
        ASSERT_TRUE(t.copyRows(rows));
        EXPECT_EQ(rows[0], c.row);
        EXPECT_EQ(rows[2499], c.row);
        EXPECT_EQ(Trace::rowOfCode(c.code, t.scale(), t.offset()), c.row);
    }
}

TEST_F(TraceTest, CompressedConvertsTheEnvelopeArrayAndOtherwiseTheDisplayArray)
{
    for (int i = 0; i < 2500; ++i) {
        acq(0)->loggerRaw[i] = 524256;       // row 500
        acq(0)->loggerEnvelope[i] = 458736;  // row 250
    }
    Trace t(0);
    int16_t rows[Trace::kRows];
    t.samplesToPixels();
    ASSERT_TRUE(t.copyRows(rows));
    EXPECT_EQ(rows[10], 250);
    t.setCompressed(false);
    t.samplesToPixels();
    ASSERT_TRUE(t.copyRows(rows));
    EXPECT_EQ(rows[10], 500);
    // Back to compressed: the zoom is dropped with it.
    t.setVerticalZoom(2, 500);
    t.setCompressed(true);
    EXPECT_EQ(t.scale(), 0.0038156288f);
    EXPECT_EQ(t.offset(), -1500);
}

// A wrapped 16-bit row could land inside the window and draw a false mark.
TEST_F(TraceTest, ZoomedRowsSaturateInsteadOfWrappingIntoTheWindow)
{
    const uint32_t code = 655296;
    Trace t(0);
    t.setCompressed(false);
    t.setVerticalZoom(100, 0);
    const int64_t unzoomedPosition = static_cast<int64_t>(static_cast<float>(code) * t.scale()) + t.offset();
    // The position that puts the row at 65536 + 500: wrapped, it would read 500.
    const int position = static_cast<int>(unzoomedPosition - (65536 + 500));
    t.setVerticalZoom(100, position);
    const int64_t row = static_cast<int64_t>(static_cast<float>(code) * t.scale()) + t.offset();
    ASSERT_EQ(static_cast<int16_t>(row), 500) << "the case must be one that wraps into the window";
    fillAll(acq(0), code);
    t.samplesToPixels();
    int16_t rows[Trace::kRows];
    ASSERT_TRUE(t.copyRows(rows));
    EXPECT_EQ(rows[0], 32767);
}

TEST_F(TraceTest, ATraceWithoutWaveformNeverBecomesReadyAndPaintsNothing)
{
    setupLinks().powerAcq = nullptr;
    Trace t(8);
    ASSERT_EQ(t.acquisition(), nullptr);
    t.computeSamplesToPixels();
    t.samplesToPixels();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(t.ready());
    short columns[1000];
    std::fill(std::begin(columns), std::end(columns), 7);
    EXPECT_FALSE(t.computePolygon(columns));
    EXPECT_TRUE(std::all_of(std::begin(columns), std::end(columns), [](short v) { return v == 7; }));
    QImage image = blank();
    QPainter p(&image);
    setUpPainter(p);
    t.paint(&p);
    p.end();
    EXPECT_EQ(litCount(image), 0);
}

TEST_F(TraceTest, ColumnsOfFiveRowGroups)
{
    const struct {
        const char* label;
        std::vector<int16_t> rows;
        int column;
        short minimum, maximum;
    } cases[] = {
        {"min/max over the group", rowsStartingWith({0, 500, 1000, -1000, 500, 500}), 0, 0, 1000},
        {"empty first row empties the column", rowsStartingWith({-1000, 100, 200, 300, 400, 500}), 0, -1000, -1000},
        {"first row alone", rowsStartingWith({300, -1000, -1000, -1000, -1000}), 0, 300, 300},
        {"widened down by the next column", rowsStartingWith({300, 310, 305, -1000, 302, 400}), 0, 300, 400},
        {"widened up by the next column", rowsStartingWith({300, 310, 305, 301, 302, 100}), 0, 100, 310},
        {"empty next column leaves it", rowsStartingWith({300, 310, 305, 301, 302, -1000, 900}), 0, 300, 310},
        {"second column", rowsStartingWith({1, 1, 1, 1, 1, 600, 650, 620, -1000, 610, 700}), 1, 600, 700},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        short columns[1000];
        Trace::reduceColumns(c.rows.data(), columns);
        EXPECT_EQ(columns[2 * c.column], c.minimum);
        EXPECT_EQ(columns[2 * c.column + 1], c.maximum);
    }
    // The last column has no next one.
    std::vector<int16_t> rows(Trace::kRows, Trace::kEmptyRow);
    rows[2495] = 10;
    rows[2499] = 20;
    short columns[1000];
    Trace::reduceColumns(rows.data(), columns);
    EXPECT_EQ(columns[998], 10);
    EXPECT_EQ(columns[999], 20);
    EXPECT_EQ(columns[996], -1000);
}

TEST_F(TraceTest, ColumnRectangles)
{
    const struct {
        const char* label;
        int k;
        short minimum, maximum;
        bool drawn;
        QRect rect;
    } cases[] = {
        {"full height", 0, 0, 1000, true, QRect(QPoint(0, 0), QPoint(1, 999))},
        {"empty", 5, -1000, -1000, false, QRect()},
        {"no minimum: flat at the maximum", 7, -1000, 400, true, QRect(QPoint(14, 400), QPoint(15, 399))},
        {"no maximum: flat at the minimum", 499, 250, -1000, true, QRect(QPoint(998, 250), QPoint(999, 249))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QRect rect;
        EXPECT_EQ(Trace::columnRect(c.k, c.minimum, c.maximum, &rect), c.drawn);
        if (c.drawn) {
            EXPECT_EQ(rect, c.rect);
        }
    }
}

TEST_F(TraceTest, PaintLightsTheColumnBetweenItsRowsAndNothingElse)
{
    // Column 100 (x 200..201) from row 300 to row 600; every other point empty.
    fill(acq(0), [](int i) {
        if (i == 500) return codeOfRow(300);
        if (i == 502) return codeOfRow(600);
        if (i == 501) return codeOfRow(450);
        return kEmptySampleWord;
    });
    Trace t(0);
    t.setColor(4);
    ASSERT_TRUE(convert(&t));
    short columns[1000];
    ASSERT_TRUE(t.computePolygon(columns));
    ASSERT_EQ(columns[200], 300);
    ASSERT_EQ(columns[201], 600);
    QImage image = blank();
    QPainter p(&image);
    setUpPainter(p);
    t.paint(&p);
    p.end();
    // The outline's two-pixel pen: one pixel either way.
    for (int y = 302; y <= 597; ++y)
        ASSERT_TRUE(lit(image, 200, y) || lit(image, 201, y)) << "y " << y;
    EXPECT_EQ(litIn(image, 197, 0, 204, 296), 0);
    EXPECT_EQ(litIn(image, 197, 602, 204, 999), 0);
    EXPECT_EQ(litCount(image), litIn(image, 197, 297, 204, 601));
    EXPECT_EQ(QColor(image.pixel(200, 450)).rgb(), getZincColor(4).rgb());
}

// The columns are stroked in device coordinates: the picture must be the one of a rectangle a
// call on the painter as the screens set it up, at their sizes (fractional pixel edges), with
// empty points between; also on the persistence image's plain painter, on a painter that
// rotates and on an image with a pixel ratio of its own.
TEST_F(TraceTest, PaintGivesThePictureOfOneRectangleACall)
{
    uint32_t state = 12345u;
    fill(acq(0), [&state](int i) {
        state = state * 1664525u + 1013904223u;
        if (i % 97 == 13 || (i >= 1200 && i < 1240))
            return kEmptySampleWord;
        return codeOfRow(static_cast<int>(100 + (state >> 8) % 800));
    });
    Trace t(0);
    t.setColor(3);
    ASSERT_TRUE(convert(&t));
    short columns[1000];
    ASSERT_TRUE(t.computePolygon(columns));
    struct Case {
        QSize size;
        bool screenPainter;  // window, antialiasing, source composition; else the defaults
        qreal rotation;
        qreal pixelRatio;
    };
    const Case cases[] = {
        {QSize(725, 330), true, 0, 1},  {QSize(1000, 1000), true, 0, 1}, {QSize(795, 40), true, 0, 1},
        {QSize(725, 82), true, 0, 1},   {QSize(683, 311), true, 0, 1},   {QSize(1000, 1000), false, 0, 1},
        {QSize(725, 330), true, 10, 1}, {QSize(725, 330), true, 0, 2},
    };
    for (const Case& c : cases) {
        QImage drawn(c.size, QImage::Format_ARGB32_Premultiplied);
        drawn.setDevicePixelRatio(c.pixelRatio);
        drawn.fill(Qt::transparent);
        QImage plain = drawn;
        auto setUp = [&c](QPainter& p) {
            if (c.screenPainter)
                setUpPainter(p);
            p.rotate(c.rotation);
        };
        {
            QPainter p(&drawn);
            setUp(p);
            t.paint(&p);
        }
        {
            QPainter p(&plain);
            setUp(p);
            p.setPen(t.pen());
            p.setBrush(Qt::NoBrush);
            for (int k = 0; k < Trace::kColumns; ++k) {
                QRect rect;
                if (Trace::columnRect(k, columns[2 * k], columns[2 * k + 1], &rect))
                    p.drawRects(&rect, 1);
            }
        }
        const std::string what = std::to_string(c.size.width()) + " x " + std::to_string(c.size.height()) +
                                 (c.screenPainter ? " screen" : " plain") + " rotation " +
                                 std::to_string(c.rotation) + " ratio " + std::to_string(c.pixelRatio);
        EXPECT_GT(litCount(drawn), 0) << what;
        EXPECT_TRUE(drawn == plain) << what;
    }
}

TEST_F(TraceTest, ColourAndDarkerColour)
{
    Trace t(0);
    t.setColor(2);
    EXPECT_EQ(t.pen().color(), getZincColor(2));
    t.darkerColor(200);
    EXPECT_EQ(t.pen().color(), getZincColor(2).darker(200));
}

// While the test holds o_g_imageMutex the first conversion cannot end: requests made meanwhile
// return at once and give exactly one more conversion.
TEST_F(TraceTest, RequestsDuringAConversionCollapseIntoOneMoreAndNeverWait)
{
    TWatchdog watchdog(30, "requests while o_g_imageMutex is held");
    fillAll(acq(0), 524256);
    Trace t(0);
    pthread_mutex_lock(&o_g_imageMutex);
    t.computeSamplesToPixels();
    // Let the worker start and block inside its conversion.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < 5; ++i)
        t.computeSamplesToPixels();
    EXPECT_EQ(t.conversions(), 0u);
    pthread_mutex_unlock(&o_g_imageMutex);
    ASSERT_TRUE(waitConversions(&t, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(t.conversions(), 2u);
    // A later request: one more again.
    ASSERT_TRUE(convert(&t));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(t.conversions(), 3u);
}

// The screen repaints on this callback only: it must come for the first rows and for new rows,
// never for a conversion that gives the same rows again.
TEST_F(TraceTest, ChangedCallbackComesOnlyWhenThePublishedRowsChange)
{
    Trace t(0);
    int changes = 0;
    t.setChangedCallback([&changes] { ++changes; });
    fillAll(acq(0), 524256);
    const int expected[] = {1, 1, 2, 2};
    for (int step = 0; step < 4; ++step) {
        if (step == 2)
            fillAll(acq(0), codeOfRow(300));
        t.samplesToPixels();
        EXPECT_EQ(changes, expected[step]) << "conversion " << step;
    }
    int16_t rows[Trace::kRows];
    ASSERT_TRUE(t.copyRows(rows));
    EXPECT_EQ(rows[0], 300);
}

TEST_F(TraceTest, ARequestAndAPaintReturnWhileAnotherThreadHoldsTheImageMutex)
{
    TWatchdog watchdog(30, "request and paint while another thread holds o_g_imageMutex");
    fillAll(acq(0), 524256);
    Trace t(0);
    ASSERT_TRUE(convert(&t));
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        pthread_mutex_lock(&o_g_imageMutex);
        held = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pthread_mutex_unlock(&o_g_imageMutex);
    });
    while (!held)
        std::this_thread::yield();
    t.computeSamplesToPixels();
    t.computeSamplesToPixels();
    QImage image = blank();
    {
        QPainter p(&image);
        setUpPainter(p);
        t.paint(&p);
    }
    EXPECT_GT(litCount(image), 0) << "the rows of the finished conversion are drawn";
    release = true;
    holder.join();
    EXPECT_TRUE(waitConversions(&t, 2));
}

// A stop between two turns of the worker's loop must not be lost (the GUI thread would wait for
// ever when a screen is rebuilt).
TEST_F(TraceTest, BuildingRequestingAndDestroyingManyTracesNeverHangs)
{
    TWatchdog watchdog(120, "building, requesting and destroying traces");
    fillSine(acq(0), 500, 300, 3);
    std::atomic<bool> stop{false};
    std::thread acquisition([&] {
        while (!stop) {
            pthread_mutex_lock(&o_g_imageMutex);
            std::this_thread::yield();
            pthread_mutex_unlock(&o_g_imageMutex);
            std::this_thread::yield();
        }
    });
    QImage image = blank(100, 100);
    for (int i = 0; i < 400; ++i) {
        Trace t(static_cast<short>(i % 4));
        for (int r = 0; r <= i % 3; ++r)
            t.computeSamplesToPixels();
        if (i % 5 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (i % 7 == 0) {
            QPainter p(&image);
            setUpPainter(p);
            t.paint(&p);
        }
    }
    stop = true;
    acquisition.join();
}

TEST_F(TraceTest, AStoppedThreadTakesNoMoreRequests)
{
    fillAll(acq(0), 524256);
    Trace t(0);
    TraceThread worker;
    worker.stop();
    worker.computeSamplesToPixels(&t);
    EXPECT_FALSE(worker.isRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(t.conversions(), 0u);
}

class TraceXyTest : public TraceFixture {};

TEST_F(TraceXyTest, NothingWithANullOrUnconvertedSourceLinesOtherwise)
{
    // X: constant row 300 -> x = 700; Y: a ramp over the height.
    fillAll(acq(0), codeOfRow(300));
    fill(acq(1), [](int i) { return codeOfRow(100 + i * 800 / 2500); });
    Trace x(0), y(1);
    TraceXy xy;
    xy.setColor(6);
    auto painted = [&xy] {
        QImage image = blank();
        QPainter p(&image);
        setUpPainter(p);
        xy.paint(&p);
        p.end();
        return image;
    };
    xy.setSources(&x, nullptr);
    EXPECT_EQ(litCount(painted()), 0) << "null Y source";
    xy.setSources(nullptr, &y);
    EXPECT_EQ(litCount(painted()), 0) << "null X source";
    xy.setSources(&x, &y);
    EXPECT_EQ(xy.pen().width(), 2);
    EXPECT_TRUE(xy.pen().isCosmetic());
    ASSERT_TRUE(convert(&x));
    EXPECT_EQ(litCount(painted()), 0) << "Y source not converted";
    ASSERT_TRUE(convert(&y));
    const QImage image = painted();
    EXPECT_GT(litIn(image, 698, 120, 702, 880), 700);
    EXPECT_EQ(litCount(image), litIn(image, 697, 95, 703, 905));
    EXPECT_EQ(QColor(image.pixel(700, 500)).rgb(), getZincColor(6).rgb());
}
