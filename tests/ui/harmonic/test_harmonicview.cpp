// The harmonic bar graph, its tool panel and its view: bar heights from the traces' levels (the
// levels of a failed or clipped pass as the harmonic cycle leaves them among them), the painted
// bars and marker, the full-screen switch, and the view document under the program's root with
// its tools, boxes and save panel.
#include "acquisition/harmonic.h"
#include "tests/ui/harmonic/harmonic_fixture.h"
#include "tests/ui/support/homescreen.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/frame/dialogpanel.h"
#include "ui/frame/filesave.h"
#include "ui/harmonic/harmonicscreen.h"
#include "ui/harmonic/harmonictoolpanel.h"
#include "ui/harmonic/harmonictrace.h"
#include "ui/harmonic/harmonicview.h"
#include "ui/frame/zinccolor.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPointer>

#include <cmath>

namespace {

using Levels = double[64];

class HarmonicScreenTest : public HarmonicFixture {
protected:
    // The bar graph as the view creates it, 1024 x 1000 so that a unit is a pixel.
    std::unique_ptr<HarmonicScreen> screen()
    {
        auto s = std::make_unique<HarmonicScreen>();
        s->setSize(QSizeF(1024, 1000));
        s->init();
        return s;
    }
    static QImage painted(HarmonicScreen& s)
    {
        QImage image(1024, 1000, QImage::Format_ARGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        s.paint(&painter);
        return image;
    }
    // The pixel at (x, y) of the window (y upward).
    static QRgb at(const QImage& image, int x, int y) { return image.pixel(x, 999 - y); }
};

} // namespace

TEST_F(HarmonicScreenTest, HeightsFromTheLevels)
{
    const struct {
        const char* what;
        std::vector<std::pair<int, double>> levels;  // order, level; the others 0
        std::vector<std::pair<int, int>> heights;     // order, height
    } rows[] = {
        {"fundamental the largest", {{1, 2.0}, {3, 0.4}, {5, 0.2}}, {{0, 0}, {1, 1000}, {3, 200}, {5, 100}, {2, 0}}},
        {"truncated toward 0", {{1, 3.0}, {2, 1.0}, {4, -1.0}}, {{2, 333}, {4, -333}}},
        {"order 0 counts by its size", {{0, -4.0}, {1, 1.0}}, {{0, -1000}, {1, 250}}},
        {"a power level far below", {{1, 1.0}, {2, -5.0}}, {{1, 1000}, {2, -1000}}},
        {"nothing: no bars", {}, {{0, 0}, {1, 0}, {63, 0}}},
        {"a level that is no number", {{1, 1.0}, {2, NAN}}, {{1, 1000}, {2, 0}}},
        {"a reference that is no number", {{1, INFINITY}, {2, 1.0}}, {{1, 0}, {2, 0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Levels levels = {};
        for (const auto& l : row.levels)
            levels[l.first] = l.second;
        int16_t heights[64];
        HarmonicTrace::heightsOf(levels, heights);
        for (const auto& h : row.heights)
            EXPECT_EQ(heights[h.first], h.second) << "order " << h.first;
    }
}

TEST_F(HarmonicScreenTest, TheStatusOfTheRecordAndTheLevelsOfAFailedPass)
{
    auto s = screen();
    for (int i = 0; i < 4; ++i) {
        record(i) = measured();
        trace(i)->harmonicTable[0] = 50.0;
        trace(i)->harmonicTable[1] = 1000.0;
        trace(i)->harmonicTable[3] = 200.0;
    }
    // Channel 2 clipped, channel 3 a failed transfer, as the cycle leaves them: slot 0 kept.
    HarmonicFailed(HARMONIC_OVERRANGE, trace(1)->harmonicTable, &record(1), nullptr);
    HarmonicFailed(HARMONIC_NOT_MEASURED, trace(2)->harmonicTable, &record(2), nullptr);
    // Channel 4 not computed although levels are left.
    record(3).status = HARMONIC_NOT_MEASURED;
    s->screenRefreshSlot();
    EXPECT_EQ(s->trace(0)->height(1), 1000);
    EXPECT_EQ(s->trace(0)->height(3), 200);
    EXPECT_EQ(s->trace(0)->height(0), 50);
    // A clipped pass is drawn: every order at full height, order 0 against the clip value.
    EXPECT_EQ(s->trace(1)->height(0), int(50.0 * 1000 / kHarmonicClipped));
    EXPECT_EQ(s->trace(1)->height(2), 1000);
    EXPECT_EQ(s->trace(1)->height(63), 1000);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(s->trace(2)->height(i), 0);
        ASSERT_EQ(s->trace(3)->height(i), 0);
    }

    // A collapsed item computes nothing.
    trace(0)->harmonicTable[3] = 500.0;
    s->setHeight(0);
    s->screenRefreshSlot();
    EXPECT_EQ(s->trace(0)->height(3), 200);
    // Without links every trace reads "not computed".
    s->setHeight(1000);
    setupLinks().harmonicResultsPtr = nullptr;
    s->screenRefreshSlot();
    EXPECT_EQ(s->trace(0)->height(1), 0);
}

TEST_F(HarmonicScreenTest, MarkerChannelBarsAndPowerBars)
{
    data.traceColorCh1 = 9;
    data.traceColorCh2 = 10;
    data.harmOrder = 5;
    // Refreshes before the traces exist draw nothing and fail nothing.
    HarmonicScreen early;
    early.setSize(QSizeF(1024, 1000));
    emit home_->screenRefreshSignal();
    painted(early);

    auto s = screen();
    emit home_->screenMajSignal(param::harmOrder);
    EXPECT_EQ(s->markerOrder(), 5);
    record(0) = measured();
    record(1) = measured();
    record(4) = measured();
    trace(0)->harmonicTable[1] = 1.0;
    trace(0)->harmonicTable[3] = 0.5;
    trace(1)->harmonicTable[1] = 1.0;
    trace(1)->harmonicTable[3] = 0.25;
    trace(4)->harmonicTable[1] = 1.0;
    trace(4)->harmonicTable[2] = -0.5;
    emit home_->screenRefreshSignal();

    QImage image = painted(*s);
    // The marker: under order 5 at the bottom edge, over it at the top edge, pointing inward.
    EXPECT_EQ(at(image, 16 * 5 + 8, 5), QColor(Qt::white).rgb());
    EXPECT_EQ(at(image, 16 * 5 + 8, 994), QColor(Qt::white).rgb());
    EXPECT_EQ(at(image, 16 * 5 + 8, 500), QColor(Qt::black).rgb());
    EXPECT_EQ(at(image, 16 * 5 + 1, 45), QColor(Qt::black).rgb());
    // Channel k's bar of order i at x = 16i + 4k, 4 wide.
    EXPECT_EQ(at(image, 16 * 3 + 2, 400), getZincColor(9).rgb());
    EXPECT_EQ(at(image, 16 * 3 + 6, 200), getZincColor(10).rgb());
    EXPECT_EQ(at(image, 16 * 3 + 6, 300), QColor(Qt::black).rgb());
    EXPECT_EQ(at(image, 16 * 3 + 2, 600), QColor(Qt::black).rgb());
    EXPECT_EQ(at(image, 16 * 3 + 10, 100), QColor(Qt::black).rgb());
    // Power bars are drawn after the channels, over them: filled for a positive level.
    EXPECT_EQ(at(image, 16 * 1 + 14, 900), getZincColor(6).rgb());

    // With the power display only the power bars; a negative level is an outline.
    data.harmPower = 1;
    image = painted(*s);
    EXPECT_EQ(at(image, 16 * 1 + 2, 900), getZincColor(6).rgb());
    EXPECT_EQ(at(image, 16 * 3 + 2, 400), QColor(Qt::black).rgb());
    EXPECT_EQ(at(image, 16 * 2 + 8, 250), QColor(Qt::black).rgb());
    EXPECT_EQ(at(image, 16 * 2 + 8, 499), getZincColor(6).rgb());
    EXPECT_EQ(at(image, 16 * 2 + 1, 250), getZincColor(6).rgb());
}

TEST_F(HarmonicScreenTest, ToolImageAndFullScreen)
{
    HarmonicToolPanel panel;
    EXPECT_EQ(panel.filterImg().toStdString(), "images/harmFreqAuto.png");
    const struct {
        int freq;
        const char* image;
    } rows[] = {{1, "images/harmFreq50.png"}, {2, "images/harmFreq60.png"}, {3, "images/harmFreq400.png"},
                {7, "images/harmFreqAuto.png"}, {0, "images/harmFreqAuto.png"}};
    for (const auto& row : rows) {
        data.harmonicFreq = int16_t(row.freq);
        emit home_->screenMajSignal(param::harmonicFreq);
        EXPECT_EQ(panel.filterImg().toStdString(), row.image) << row.freq;
    }
    data.harmonicFreq = 1;
    emit home_->screenMajSignal(param::harmPower);
    EXPECT_EQ(panel.filterImg().toStdString(), "images/harmFreqAuto.png");

    QPointer<HarmonicView> view = new HarmonicView();
    int changes = 0;
    QObject::connect(view.data(), &HarmonicView::displayFullScreenChanged, [&changes] { ++changes; });
    data.keyToggleFlag = 1;
    emit home_->screenMajSignal(0);
    EXPECT_FALSE(view->displayFullScreen());
    emit home_->screenMajSignal(param::keyToggleFlag);
    EXPECT_TRUE(view->displayFullScreen());
    data.keyToggleFlag = 0;
    emit home_->screenMajSignal(param::spareWord29);
    EXPECT_FALSE(view->displayFullScreen());
    EXPECT_EQ(changes, 2);
    emit home_->screenRazSignal();
    processEventsOnce(10);
    EXPECT_TRUE(view.isNull());
}

// ---- the view document ----------------------------------------------------------------------

namespace {

class HarmonicViewQmlTest : public HomeScreenTest {
protected:
    void TearDown() override
    {
        if (view_) {
            data.instrumentMode = HomeView::kNoView;
            view_->screenRaz();
            EXPECT_TRUE(processEventsUntil([this] { return modeViews(*view_).empty(); }));
        }
        po_g_homeView = nullptr;
        HomeScreenTest::TearDown();
        takeRequests();
    }
    // The root window with the harmonic view open; null when it does not appear.
    QQuickItem* open()
    {
        HomeView& root = load();
        po_g_homeView = &root;
        if (!showAndExpose())
            return nullptr;
        data.instrumentMode = 0x40;
        view_->screenRaz();
        if (!processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"harmonicView"}; }))
            return nullptr;
        processEventsFor(50);
        return item("harmonicView");
    }
    QRectF rect(const char* name)
    {
        QQuickItem* i = item(name);
        if (!i) {
            ADD_FAILURE() << "no item " << name;
            return QRectF();
        }
        return QRectF(i->mapToScene(QPointF(0, 0)), QSizeF(i->width(), i->height()));
    }
    QQuickItem* shownPanel()
    {
        auto* dialog = qobject_cast<DialogPanel*>(item("dialogPanel"));
        return dialog ? dialog->displayedPanel() : nullptr;
    }
    // Clicks an option of a tool with options (the row fades in first).
    void chooseOption(const char* tool, int option)
    {
        QQuickItem* t = need(item("toolPanel"), tool);
        ASSERT_NE(t, nullptr);
        clickKey(t, "optionsButton");
        processEventsFor(600);
        clickKey(t, ("option" + std::to_string(option)).c_str());
        processEventsFor(20);
    }
};

} // namespace

TEST_F(HarmonicViewQmlTest, LayoutFullScreenAndThePowerDisplay)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(rect("toolPanel"), QRectF(0, 0, 70, 445));
    EXPECT_EQ(rect("tuningPanel"), QRectF(70, 0, 730, 75));
    EXPECT_EQ(rect("harmonicGrid"), QRectF(70, 75, 730, 205));
    EXPECT_EQ(rect("harmonicScreen"), QRectF(70, 75, 730, 205));
    EXPECT_EQ(rect("harmonicMeas"), QRectF(70, 280, 730, 165));
    EXPECT_EQ(rect("statusLine"), QRectF(40, 445, 760, 35));
    EXPECT_EQ(item("fileSave")->opacity(), 0);
    EXPECT_EQ(item("verticalPanel")->opacity(), 0);
    EXPECT_NE(item("toolPower"), nullptr);
    saveArtefact(*view_, "harmonic-view.png");

    data.harmPower = 1;
    view_->screenMaj(param::harmPower);
    view_->screenRefresh();
    processEventsFor(50);
    EXPECT_NE(findItem(item("harmonicMeas"), QStringLiteral("row4")), nullptr);
    saveArtefact(*view_, "harmonic-view-power.png");

    // Full screen: the tool column and the tuning bar collapse; the grid takes the room.
    data.keyToggleFlag = 1;
    view_->screenMaj(param::keyToggleFlag);
    processEventsFor(50);
    EXPECT_EQ(item("toolPanel")->width(), 0);
    EXPECT_EQ(item("tuningPanel")->height(), 0);
    EXPECT_EQ(rect("harmonicGrid"), QRectF(0, 0, 800, 280));
    data.keyToggleFlag = 0;
    view_->screenMaj(param::keyToggleFlag);
    processEventsFor(50);
    EXPECT_EQ(rect("toolPanel"), QRectF(0, 0, 70, 445));
}

TEST_F(HarmonicViewQmlTest, ToolsBoxesAndTheSavePanel)
{
    ASSERT_NE(open(), nullptr);
    takeRequests();
    const struct {
        const char* tool;
        int option;  // -1: the tool itself
        int code;
        intptr_t value;
    } rows[] = {
        {"homeTool", -1, param::instrumentMode, 0x8000}, {"helpTool", -1, param::keyHelpOn, 1},
        {"frequencyTool", 0, param::harmonicFreq, 0},    {"frequencyTool", 3, param::harmonicFreq, 3},
        {"powerTool", 0, param::harmPower, 1},           {"powerTool", 1, param::harmPower, 2},
        {"powerTool", 2, param::harmPower, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.tool) + " " + std::to_string(row.option));
        if (row.option < 0) {
            clickKey(item("toolPanel"), row.tool);
            processEventsFor(20);
        } else {
            chooseOption(row.tool, row.option);
        }
        const auto sent = takeRequests();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].code, row.code);
        EXPECT_EQ(sent[0].intValue, row.value);
    }
    // The frequency tool shows the fixed frequency.
    data.harmonicFreq = 1;
    view_->screenMaj(param::harmonicFreq);
    processEventsFor(20);
    EXPECT_EQ(need(item("frequencyTool"), "optionsButton")->property("source").toString().toStdString(),
              "images/harmFreq50.png");

    // The "Power" box opens the power tool's options.
    clickKey(item("tuningPanel"), "toolPower");
    processEventsFor(20);
    EXPECT_TRUE(need(item("toolPanel"), "powerTool")->property("shown").toBool());

    // "+" of the table asks for the next order.
    data.harmOrder = 1;
    view_->screenMaj(param::harmOrder);
    processEventsFor(20);
    clickKey(item("harmonicMeas"), "orderPlus");
    auto sent = takeRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, param::harmOrder);
    EXPECT_EQ(sent[0].intValue, 2);

    // The file tool opens the save panel of the harmonic view; its save posts the harmonic save.
    clickKey(item("toolPanel"), "saveTool");
    processEventsFor(20);
    ASSERT_EQ(shownPanel(), item("fileSave"));
    auto* panel = qobject_cast<FileSave*>(item("fileSave"));
    ASSERT_NE(panel, nullptr);
    panel->setProperty("filename", QStringLiteral("mains"));
    panel->setProperty("comment", QStringLiteral("bench 2"));
    clickKey(need(panel, "kindBox"), "radioButton1");
    clickKey(panel, "saveTool");
    sent = takeRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, fileHarmonicSave);
    EXPECT_STREQ(FileSave::nameBuffer(), "mains");
    EXPECT_STREQ(FileSave::commentBuffer(), "bench 2");

    // A channel box as in the scope view: the vertical panel of an installed channel, else none.
    data.traceOnCh2 = 0;
    QMetaObject::invokeMethod(item("harmonicView"), "channelClicked", Q_ARG(QVariant, 15), Q_ARG(QVariant, 1));
    processEventsFor(20);
    EXPECT_EQ(shownPanel(), item("verticalPanel"));
    QMetaObject::invokeMethod(item("harmonicView"), "channelClicked", Q_ARG(QVariant, 8), Q_ARG(QVariant, 0));
    processEventsFor(20);
    EXPECT_EQ(shownPanel(), nullptr);
}
