// Trace screens: traces of a channel mask, XY plots, zoom, colours, notices of the root window,
// the persistence screen; and one composite picture with the grid kept for people to look at.
#include "tests/ui/support/test_trace_fixture.h"
#include "ui/traces/gridscreen.h"
#include "ui/frame/homeview.h"
#include "ui/traces/tracescreen.h"
#include "ui/traces/tracescreenpassfail.h"
#include "ui/traces/tracescreenpersist.h"
#include "ui/traces/tracexy.h"
#include "ui/frame/zinccolor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QQuickWindow>

#include <atomic>
#include <functional>

namespace {

QImage paintedScreen(TraceScreen& screen, int w = 1000, int h = 1000)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    screen.paint(&p);
    return image;
}

} // namespace

class TraceScreenTest : public TraceFixture {
protected:
    void SetUp() override
    {
        TraceFixture::SetUp();
        data.traceFormat = TraceScreen::FormatTime;
        data.xySourceX = 0;
        data.xySourceY = 1;
        data.vZoomFactor = 1;
        data.vZoomPosition = 0;
        data.traceColorCh1 = 4;
        data.traceColorCh2 = 2;
        data.traceColorCh3 = 1;
        data.traceColorCh4 = 5;
        data.passFailSource = 0;
    }
    // Converts every trace of the screen through its worker.
    static bool convertAll(TraceScreen& screen)
    {
        for (int slot = 0; slot < TraceScreen::kSlots; ++slot)
            if (Trace* t = screen.trace(slot); t && t->acquisition() && !convert(t))
                return false;
        return true;
    }
};

TEST_F(TraceScreenTest, MaskChoosesTheSlotsAndMissingXySourcesDrawNothing)
{
    data.xySourceX = 0;
    data.xySourceY = 2;  // channel 3: not in the mask
    fillAll(acq(0), codeOfRow(300));
    fillAll(acq(1), codeOfRow(600));
    TraceScreen screen(nullptr, 0x0003, 10, 20, 725, 330);
    EXPECT_EQ(screen.position(), QPointF(10, 20));
    EXPECT_EQ(screen.size(), QSizeF(725, 330));
    for (int slot = 0; slot < TraceScreen::kSlots; ++slot)
        EXPECT_EQ(screen.trace(slot) != nullptr, slot == 5 || slot == 6) << "slot " << slot;
    EXPECT_EQ(screen.trace(5)->kind(), 0);
    EXPECT_EQ(screen.trace(6)->kind(), 1);
    ASSERT_TRUE(screen.liveXy() && screen.memoryXy());
    EXPECT_EQ(screen.liveXy()->xSource(), screen.trace(5));
    EXPECT_EQ(screen.liveXy()->ySource(), nullptr);
    EXPECT_EQ(screen.memoryXy()->xSource(), nullptr);
    EXPECT_EQ(screen.memoryXy()->ySource(), nullptr);
    ASSERT_TRUE(convertAll(screen));
    EXPECT_GT(litCount(paintedScreen(screen)), 0) << "time format draws the traces";
    data.traceFormat = TraceScreen::FormatXy;
    screen.screenMajSlot(param::traceFormat);
    ASSERT_TRUE(convertAll(screen));
    EXPECT_EQ(litCount(paintedScreen(screen)), 0);
}

TEST_F(TraceScreenTest, MaskZeroCreatesNothingAndIgnoresFormatAndSources)
{
    TraceScreen screen(nullptr, 0, 0, 0, 100, 100);
    for (int slot = 0; slot < TraceScreen::kSlots; ++slot)
        EXPECT_EQ(screen.trace(slot), nullptr);
    EXPECT_EQ(screen.liveXy(), nullptr);
    EXPECT_EQ(screen.memoryXy(), nullptr);
    data.traceFormat = TraceScreen::FormatXy;
    for (int p : {int(param::traceFormat), int(param::xySourceX), int(param::vZoomFactor), 0})
        screen.screenMajSlot(p);
    screen.setCompressed(false);
    EXPECT_EQ(litCount(paintedScreen(screen)), 0);
}

TEST_F(TraceScreenTest, XyFormatDrawsOnlyTheXyPlots)
{
    // Ch1 row 300 against ch2 row 600: every XY line sits at (700, 600); the traces themselves
    // would be bands across the whole width.
    fillAll(acq(0), codeOfRow(300));
    fillAll(acq(1), codeOfRow(600));
    fillAll(acq(4), codeOfRow(200));
    fillAll(acq(5), codeOfRow(800));
    TraceScreen screen(nullptr, 0x0303, 0, 0, 1000, 1000);
    ASSERT_TRUE(convertAll(screen));
    QImage time = paintedScreen(screen);
    EXPECT_GT(litIn(time, 100, 298, 102, 302), 0);
    data.traceFormat = TraceScreen::FormatXy;
    screen.screenMajSlot(param::traceFormat);
    ASSERT_TRUE(convertAll(screen));
    QImage xy = paintedScreen(screen);
    EXPECT_EQ(litIn(xy, 0, 290, 600, 310), 0) << "no trace band";
    EXPECT_GT(litIn(xy, 697, 597, 703, 603), 0) << "live XY";
    EXPECT_GT(litIn(xy, 797, 797, 803, 803), 0) << "memory XY";
    EXPECT_EQ(litCount(xy), litIn(xy, 697, 597, 703, 603) + litIn(xy, 797, 797, 803, 803));
    EXPECT_EQ(QColor(xy.pixel(700, 600)).rgb(), getZincColor(6).rgb());
    EXPECT_EQ(QColor(xy.pixel(800, 800)).rgb(), getZincColor(14).rgb());
}

TEST_F(TraceScreenTest, FormatNoticeRereadsFormatZoomAndSourcesInOneCall)
{
    TraceScreen screen(nullptr, 0x0F0F, 0, 0, 100, 100);
    screen.setCompressed(false);
    data.traceFormat = TraceScreen::FormatXy;
    data.xySourceX = 2;
    data.xySourceY = 0;
    data.xyZoomFactor = 2;
    data.xyZoomPosition = 100;
    data.vZoomFactor = 4;
    data.vZoomPosition = -50;
    screen.screenMajSlot(param::traceFormat);
    EXPECT_EQ(screen.displayFormat(), TraceScreen::FormatXy);
    EXPECT_EQ(screen.liveXy()->xSource(), screen.trace(7));
    EXPECT_EQ(screen.liveXy()->ySource(), screen.trace(5));
    EXPECT_EQ(screen.memoryXy()->xSource(), screen.trace(3));
    EXPECT_EQ(screen.memoryXy()->ySource(), screen.trace(1));
    // X sources (live and stored) the XY zoom, Y sources and the rest the vertical zoom.
    for (int slot : {3, 7}) {
        EXPECT_EQ(screen.trace(slot)->scale(), 2 * Trace::kScale) << slot;
        EXPECT_EQ(screen.trace(slot)->offset(), -3100) << slot;
    }
    for (int slot : {1, 2, 4, 5, 6, 8}) {
        EXPECT_EQ(screen.trace(slot)->scale(), 4 * Trace::kScale) << slot;
        EXPECT_EQ(screen.trace(slot)->offset(), -5950) << slot;
    }
}

TEST_F(TraceScreenTest, ZoomOfEachFormatAndCompressedScreens)
{
    data.vZoomFactor = 2;
    data.vZoomPosition = 500;
    data.fftVZoomFactor = 3;
    data.fftVZoomPosition = 0;
    const struct {
        int format;
        bool compressed;
        float scale;
        int32_t offset;
    } cases[] = {
        {TraceScreen::FormatTime, false, 2 * Trace::kScale, -3500},
        {TraceScreen::FormatFft, false, 3 * Trace::kScale, -4500},
        {TraceScreen::FormatTime, true, Trace::kScale, -1500},
        {TraceScreen::FormatFft, true, Trace::kScale, -1500},
    };
    for (const auto& c : cases) {
        TraceScreen screen(nullptr, 0x3F0F, 0, 0, 100, 100);
        screen.setCompressed(c.compressed);
        data.traceFormat = static_cast<int16_t>(c.format);
        screen.screenMajSlot(param::traceFormat);
        for (int slot = 0; slot < TraceScreen::kSlots; ++slot) {
            EXPECT_EQ(screen.trace(slot)->scale(), c.scale) << "format " << c.format << " slot " << slot;
            EXPECT_EQ(screen.trace(slot)->offset(), c.offset) << "format " << c.format << " slot " << slot;
        }
    }
}

TEST_F(TraceScreenTest, ColoursFromTheChannelColours)
{
    data.passFailSource = 1;
    TraceScreen screen(nullptr, 0x3F0F, 0, 0, 100, 100);
    EXPECT_EQ(screen.trace(0)->pen().color(), getZincColor(2 + 8)) << "mask: pass/fail source + 8";
    const int colours[4] = {4, 2, 1, 5};
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(screen.trace(1 + ch)->pen().color(), getZincColor(colours[ch] + 8)) << ch;
        EXPECT_EQ(screen.trace(5 + ch)->pen().color(), getZincColor(colours[ch])) << ch;
    }
    EXPECT_EQ(screen.trace(9)->pen().color(), getZincColor(6));
    // A pass/fail source outside the channels leaves the mask colour.
    data.passFailSource = 4;
    data.traceColorCh2 = 7;
    data.traceColorCh1 = 3;
    screen.displayKalvexSlot();
    EXPECT_EQ(screen.trace(0)->pen().color(), getZincColor(2 + 8));
    EXPECT_EQ(screen.trace(5)->pen().color(), getZincColor(3));
    EXPECT_EQ(screen.trace(2)->pen().color(), getZincColor(7 + 8));
}

// XY sources are setup bytes that a recalled setup or a remote request can set to anything.
TEST_F(TraceScreenTest, AnXySourceOutOfRangeDrawsNothingAndDoesNotCrash)
{
    data.xySourceX = 200;
    data.xySourceY = 255;
    data.traceFormat = TraceScreen::FormatXy;
    fillAll(acq(0), codeOfRow(300));
    TraceScreen screen(nullptr, 0x3F0F, 0, 0, 1000, 1000);
    screen.setCompressed(false);
    for (int p : {int(param::traceFormat), int(param::xySourceX), int(param::xySourceY), int(param::vZoomFactor)})
        screen.screenMajSlot(p);
    EXPECT_EQ(screen.liveXy()->xSource(), nullptr);
    EXPECT_EQ(screen.memoryXy()->ySource(), nullptr);
    ASSERT_TRUE(convertAll(screen));
    EXPECT_EQ(litCount(paintedScreen(screen)), 0);
    data.xySourceY = 3;
    screen.screenMajSlot(param::xySourceY);
    EXPECT_EQ(screen.liveXy()->ySource(), screen.trace(8));
    EXPECT_EQ(screen.liveXy()->xSource(), nullptr);
}

TEST_F(TraceScreenTest, NoticesOfTheRootWindowReachTheScreenUntilItGoes)
{
    HomeView view;
    po_g_homeView = &view;
    fillAll(acq(0), codeOfRow(300));
    auto* screen = new TraceScreen(nullptr, 0x0001, 0, 0, 100, 100);
    ASSERT_TRUE(waitConversions(screen->trace(5), 1)) << "the constructor's refresh";
    const uint32_t before = screen->trace(5)->conversions();
    emit view.screenRefreshSignal();
    EXPECT_TRUE(waitConversions(screen->trace(5), before + 1));
    emit view.screenAutomaticMeasurementSignal();
    EXPECT_TRUE(waitConversions(screen->trace(5), before + 2));
    data.traceFormat = TraceScreen::FormatFft;
    emit view.screenMajSignal(param::traceFormat);
    EXPECT_EQ(screen->displayFormat(), TraceScreen::FormatFft);
    data.traceColorCh1 = 9;
    emit view.displayKalvexSignal();
    EXPECT_EQ(screen->trace(5)->pen().color(), getZincColor(9));
    delete screen;
    // Nothing is left connected.
    emit view.screenRefreshSignal();
    emit view.screenMajSignal(0);
    emit view.displayKalvexSignal();
    po_g_homeView = nullptr;
}

class TraceScreenPersistTest : public TraceScreenTest {};

TEST_F(TraceScreenPersistTest, PicturesPileUpUntilTheFirstAcquisitionAfterAChange)
{
    fillAll(acq(0), codeOfRow(300));
    TraceScreenPersist screen(nullptr, 0x0001, 0, 0, 1000, 1000);
    EXPECT_EQ(screen.trace(5)->pen().color(), getZincColor(4).darker(200));
    EXPECT_EQ(screen.liveXy()->pen().color(), getZincColor(6).darker(200));
    EXPECT_EQ(screen.memoryXy()->pen().color(), getZincColor(14));
    Trace* t = screen.trace(5);
    ASSERT_TRUE(waitConversions(t, 1));
    auto band = [](const QImage& image, int row) { return litIn(image, 100, row - 2, 900, row + 2) > 0; };

    paintedScreen(screen);
    fillAll(acq(0), codeOfRow(600));
    ASSERT_TRUE(convert(t));
    QImage image = paintedScreen(screen);
    EXPECT_TRUE(band(image, 300) && band(image, 600)) << "pictures accumulate";

    // A cursor move keeps the picture, even after the acquisition-done notice.
    screen.screenMajSlot(24);
    screen.screenMajSlot(90);
    EXPECT_EQ(screen.clearState(), TraceScreenPersist::ClearNone);
    fillAll(acq(0), codeOfRow(700));
    ASSERT_TRUE(convert(t));
    image = paintedScreen(screen);
    EXPECT_TRUE(band(image, 300) && band(image, 600) && band(image, 700));

    // A setting change: kept until the acquisition-done notice, wiped at the next paint.
    screen.screenMajSlot(121);
    EXPECT_EQ(screen.clearState(), TraceScreenPersist::ClearChanged);
    image = paintedScreen(screen);
    EXPECT_TRUE(band(image, 300));
    screen.screenMajSlot(90);
    EXPECT_EQ(screen.clearState(), TraceScreenPersist::ClearNextPaint);
    image = paintedScreen(screen);
    EXPECT_EQ(litCount(image), 0) << "the clearing paint draws no trace";
    EXPECT_EQ(screen.clearState(), TraceScreenPersist::ClearNone);
    fillAll(acq(0), codeOfRow(400));
    ASSERT_TRUE(convert(t));
    image = paintedScreen(screen);
    EXPECT_TRUE(band(image, 400));
    EXPECT_FALSE(band(image, 300) || band(image, 600) || band(image, 700));
}

// A persistence screen that counts its paints (the scene graph may paint in its own thread).
class TCountingPersist : public TraceScreenPersist {
public:
    using TraceScreenPersist::TraceScreenPersist;
    void paint(QPainter* painter) override
    {
        TraceScreenPersist::paint(painter);
        ++paints;
    }
    std::atomic<int> paints{0};
};

// In a window, as on the instrument: the wipe after a setting change comes with the next
// acquisition notice, and the steady signal is drawn again right after it, although no trace's
// rows change.
TEST_F(TraceScreenPersistTest, SteadySignalIsDrawnAgainAfterTheWipe)
{
    fillAll(acq(0), codeOfRow(300));
    QQuickWindow window;
    window.resize(200, 200);
    auto* screen = new TCountingPersist(window.contentItem(), 0x0001, 0, 0, 200, 200);
    window.show();
    auto runUntil = [](const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    };
    ASSERT_TRUE(runUntil([&] { return window.isExposed(); }));
    ASSERT_TRUE(waitConversions(screen->trace(5), 1));
    ASSERT_TRUE(runUntil([&] { return screen->paints > 0; }));
    auto bandAt300 = [&] { return litIn(window.grabWindow(), 20, 58, 180, 62) > 0; };
    ASSERT_TRUE(runUntil(bandAt300));

    screen->screenMajSlot(121);
    const int before = screen->paints;
    screen->screenMajSlot(90);
    // The wiping paint and the one after it, with the same rows.
    EXPECT_TRUE(runUntil([&] { return screen->paints >= before + 2; })) << screen->paints - before;
    EXPECT_EQ(screen->clearState(), TraceScreenPersist::ClearNone);
    EXPECT_TRUE(bandAt300());
    delete screen;
}

TEST_F(TraceScreenPersistTest, DisplayNeutralParametersKeepThePicture)
{
    for (int p : {1, 23, 24, 25, 30, 31, 34, 42, 45, 50, 53, 74, 88, 90, 93, 103, 107, 127, 129, 133, 166, 169, 203, 204})
        EXPECT_TRUE(TraceScreenPersist::keepsPicture(p)) << p;
    for (int p : {0, 2, 22, 26, 29, 32, 33, 35, 41, 46, 49, 54, 73, 87, 94, 102, 108, 121, 128, 130, 165, 170, 202, 205, 300, -1})
        EXPECT_FALSE(TraceScreenPersist::keepsPicture(p)) << p;
}

class TraceScreenPassFailTest : public TraceScreenTest {};

// The mask is drawn into the screen's own picture only after the acquisition-done notice (90) and
// once its worker converted after that notice; other refreshes show the stored picture.
TEST_F(TraceScreenPassFailTest, MaskIsRedrawnOnlyAfterTheAcquisitionNotice)
{
    data.passFailSource = 1;  // channel 2: colour 2, its mask colour 10
    fillAll(acq(9), codeOfRow(300));
    TraceScreenPassFail screen(nullptr, 0x1000, 0, 0, 1000, 1000);
    Trace* mask = screen.trace(TraceScreen::kMaskSlot);
    ASSERT_NE(mask, nullptr);
    // The mask keeps its own colour (the live traces beside it are darkened).
    const QColor maskColour = getZincColor(10);
    EXPECT_EQ(mask->pen().color(), maskColour);
    EXPECT_EQ(screen.liveXy()->pen().color(), getZincColor(6).darker(200));
    // A colour notice recolours from the channel colours: the mask still in its own colour.
    screen.displayKalvexSlot();
    EXPECT_EQ(mask->pen().color(), maskColour);
    ASSERT_TRUE(waitConversions(mask, 1));
    EXPECT_EQ(litCount(paintedScreen(screen)), 0) << "transparent before the first notice";

    // Notice 90 asks for a conversion; the picture waits for it.
    const uint32_t before = mask->conversions();
    screen.screenMajSlot(90);
    EXPECT_TRUE(screen.redrawPending());
    ASSERT_TRUE(waitConversions(mask, before + 1));
    QImage image = paintedScreen(screen);
    EXPECT_FALSE(screen.redrawPending());
    EXPECT_GT(litIn(image, 100, 298, 900, 302), 0);
    EXPECT_EQ(litIn(image, 0, 0, 999, 290), 0);
    EXPECT_EQ(QColor(image.pixel(500, 300)).rgb(), maskColour.rgb());

    // New samples and a display refresh without the notice: the stored picture stays.
    fillAll(acq(9), codeOfRow(700));
    ASSERT_TRUE(convert(mask));
    screen.screenMajSlot(param::traceOnCh1);
    ASSERT_TRUE(convert(mask));
    image = paintedScreen(screen);
    EXPECT_GT(litIn(image, 100, 298, 900, 302), 0);
    EXPECT_EQ(litIn(image, 100, 690, 900, 710), 0);

    // The next notice brings the new mask.
    uint32_t count = mask->conversions();
    screen.screenMajSlot(90);
    ASSERT_TRUE(waitConversions(mask, count + 1));
    image = paintedScreen(screen);
    EXPECT_EQ(litIn(image, 100, 290, 900, 310), 0);
    EXPECT_GT(litIn(image, 100, 698, 900, 702), 0);

    // XY format: the screen's plots have no sources and draw nothing.
    data.traceFormat = TraceScreen::FormatXy;
    screen.screenMajSlot(param::traceFormat);
    ASSERT_TRUE(waitConversions(mask, count + 2));
    count = mask->conversions();
    screen.screenMajSlot(90);
    ASSERT_TRUE(waitConversions(mask, count + 1));
    EXPECT_EQ(litCount(paintedScreen(screen)), 0);
}

// The picture people look at: grid, trace screen with four traces, persistence screen.
TEST_F(TraceScreenPersistTest, CompositePictureIsSavedAsAnArtefact)
{
    for (int ch = 0; ch < 4; ++ch)
        fillSine(acq(ch), 200 + 200 * ch, 90, 1 + ch, ch);
    fillSine(acq(4), 200, 60, 1);
    constexpr int w = 725, h = 330;
    auto layer = [&](QQuickPaintedItem& item) {
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        item.paint(&p);
        return image;
    };
    GridScreen grid(nullptr, 0, 0, w, h, QStringLiteral("benchview"));
    TraceScreen screen(nullptr, 0x010F, 0, 0, w, h);
    screen.setCompressed(false);
    ASSERT_TRUE(convertAll(screen));
    TraceScreenPersist persist(nullptr, 0x0001, 0, 0, w, h);
    persist.setCompressed(false);
    for (int frame = 0; frame < 12; ++frame) {
        fillSine(acq(0), 500, 300 - 20 * frame, 2, 0.15 * frame);
        ASSERT_TRUE(convert(persist.trace(5)));
        layer(persist);
    }
    QImage out(w, 2 * h + 10, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::darkGray);
    {
        QPainter p(&out);
        const QImage gridImage = layer(grid);
        p.drawImage(0, 0, gridImage);
        p.drawImage(0, 0, layer(screen));
        p.drawImage(0, h + 10, gridImage);
        p.drawImage(0, h + 10, layer(persist));
    }
    const QImage top = out.copy(0, 0, w, h);
    const QImage traces = layer(screen);
    EXPECT_GT(litCount(traces), 2000);
    // The frame falls between pixels: one of the first two columns shows it.
    EXPECT_GT(std::max(QColor(top.pixel(0, h / 3)).lightness(), QColor(top.pixel(1, h / 3)).lightness()), 100)
        << "grid frame under the traces";
    QDir().mkpath(QStringLiteral(BENCHVIEW_ARTEFACT_DIR));
    const QString path = QStringLiteral(BENCHVIEW_ARTEFACT_DIR "/tracescreens.png");
    ASSERT_TRUE(out.save(path));
    std::printf("composite picture: %s\n", qPrintable(path));
}
