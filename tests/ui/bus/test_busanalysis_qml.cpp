// The bus-analysis view document under the program's root: its layout, the panels the
// controller's codes open and the diagnosis switch closes, the choice of a bus file, the limit
// editor on the shared numeric keyboard with its save, and the results panel with its copy.
#include "board/board.h"
#include "busanalysis/bus.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/busanalysis/reportfixture.h"
#include "tests/ui/support/homescreen.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/bus/busanalysisstatusline.h"
#include "ui/bus/buslimits.h"
#include "ui/frame/dialogpanel.h"

#include <QColor>
#include <QDir>

#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace {

const char* kReport = "/var/tmp/busAnalysisResults.html";

std::string pointedText(intptr_t p) { return reinterpret_cast<const char*>(p); }

// The requests of the panels and tools, without the main screen's acquisition notices.
std::vector<pipe_dial> userRequests()
{
    std::vector<pipe_dial> out;
    for (const pipe_dial& r : takeRequests())
        if (r.kind != REQ_ACQ_DONE)
            out.push_back(r);
    return out;
}

class BusViewQmlTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        for (const char* dir : {"/media", "/media/user", "/var", "/var/tmp"})
            ::mkdir(hostPath(dir).c_str(), 0777);
        setBusFileName("RS232_9600bps.bus");
    }
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

    static void setBusFileName(const char* name)
    {
        std::memset(data.busFileName, 0, sizeof data.busFileName);
        std::strncpy(data.busFileName, name, sizeof data.busFileName);
    }

    // The root window with the bus view open; null when it does not appear.
    QQuickItem* open()
    {
        HomeView& root = load();
        po_g_homeView = &root;
        if (!showAndExpose())
            return nullptr;
        data.instrumentMode = 0x11;
        view_->screenRaz();
        if (!processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"busAnalysisView"}; }))
            return nullptr;
        processEventsFor(50);
        takeRequests();
        return item("busAnalysisView");
    }
    QRectF rect(const char* name)
    {
        QQuickItem* i = item(name);
        return i ? QRectF(i->mapToScene(QPointF(0, 0)), QSizeF(i->width(), i->height())) : QRectF();
    }
    QString shownPanel()
    {
        auto* dialog = qobject_cast<DialogPanel*>(item("dialogPanel"));
        QQuickItem* shown = dialog ? dialog->displayedPanel() : nullptr;
        return shown ? shown->objectName() : QString();
    }
    void notice(int ihmCode)
    {
        view_->screenIhm(ihmCode, 0, 0);
        processEventsFor(30);
    }
    void clickTool(const char* name)
    {
        clickKey(item("toolPanel"), name);
        processEventsFor(30);
    }
    // A click at a point of an item.
    void clickIn(const char* name, QPointF at)
    {
        QQuickItem* i = item(name);
        ASSERT_NE(i, nullptr);
        clickAt(*view_, i->mapToScene(at));
        processEventsFor(30);
    }
};

} // namespace

TEST_F(BusViewQmlTest, LayoutAndThePanelsOfTheControllersCodes)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(rect("busAnalysisView"), QRectF(0, 0, 800, 480));
    EXPECT_EQ(rect("toolPanel"), QRectF(0, 0, 70, 440));
    EXPECT_EQ(rect("tuningPanel"), QRectF(70, 0, 730, 75));
    EXPECT_EQ(rect("mainScreen"), QRectF(70, 75, 730, 365));
    EXPECT_EQ(rect("statusLine"), QRectF(40, 440, 760, 40));
    for (const char* tool : {"homeTool", "busSelectTool", "busLimitsTool", "busDiagTool", "busResultsTool", "helpTool"})
        EXPECT_EQ(rect(tool).size(), QSizeF(48, 48)) << tool;
    auto* line = qobject_cast<BusAnalysisStatusLine*>(item("statusLine"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->busFileText(), QStringLiteral("RS232_9600bps.bus"));
    EXPECT_EQ(line->triggerText(), QStringLiteral("..."));

    const struct {
        int code;
        const char* shown;
    } codes[] = {{4, "selectionPanel"}, {7, "selectionPanel"}, {5, "resultsPanel"}, {5, "resultsPanel"}};
    for (const auto& c : codes) {
        notice(c.code);
        EXPECT_EQ(shownPanel(), QString::fromLatin1(c.shown)) << c.code;
    }
    // The diagnosis switch closes the panel, whether it changed or not.
    for (int i = 0; i < 2; ++i) {
        view_->screenMaj(param::busDiag);
        processEventsFor(30);
        EXPECT_TRUE(shownPanel().isEmpty());
        clickTool("busLimitsTool");
        EXPECT_EQ(shownPanel(), QStringLiteral("limitsPanel"));
    }
    view_->screenMaj(param::busDiag);
    processEventsFor(30);
    // Nothing posted but the diagnosis tool's own request.
    EXPECT_TRUE(userRequests().empty());
    clickTool("busDiagTool");
    const auto posted = userRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, param::busDiag);

    // The mode goes: the view leaves and the home screen takes the touches again.
    data.instrumentMode = HomeView::kNoView;
    view_->screenRaz();
    EXPECT_TRUE(processEventsUntil([this] { return modeViews(*view_).empty(); }));
    ASSERT_NE(item("modeTool_Oscilloscope"), nullptr);
}

TEST_F(BusViewQmlTest, ChoosingAFileAndEditingALimitFromTheTouchScreen)
{
    ASSERT_NE(open(), nullptr);
    clickTool("busSelectTool");
    ASSERT_EQ(shownPanel(), QStringLiteral("selectionPanel"));
    QQuickItem* panel = item("selectionPanel");
    EXPECT_TRUE(need(panel, "busTitle")->property("text").toString().startsWith(QLatin1String("RS232")))
        << need(panel, "busTitle")->property("text").toString().toStdString();
    QQuickItem* row = nullptr;
    for (int i = 0; i < 40 && !row; ++i) {
        QQuickItem* r = findItem(panel, QStringLiteral("fileRow%1").arg(i));
        if (r && r->property("fileName").toString() == QLatin1String("CanHS_500kbps.bus"))
            row = r;
    }
    ASSERT_NE(row, nullptr);
    saveArtefact(*view_, "bus_view_selection.png");
    clickItem(*row);
    processEventsFor(30);
    auto posted = userRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, param::busFileName);
    EXPECT_EQ(pointedText(posted[0].intValue), "CanHS_500kbps.bus");
    EXPECT_EQ(need(panel, "busTitle")->property("text").toString(), QStringLiteral("CAN HS 500 kbps\nISO 11898-2"));

    // The controller takes it and announces it.
    setBusFileName("CanHS_500kbps.bus");
    view_->screenMaj(param::busFileName);
    processEventsFor(30);
    EXPECT_EQ(qobject_cast<BusAnalysisStatusLine*>(item("statusLine"))->busFileText(),
              QStringLiteral("CanHS_500kbps.bus"));

    clickTool("busLimitsTool");
    ASSERT_EQ(shownPanel(), QStringLiteral("limitsPanel"));
    auto* limits = qobject_cast<BusLimits*>(item("limitsPanel"));
    ASSERT_NE(limits, nullptr);
    ASSERT_EQ(limits->limits().size(), 10);
    QQuickItem* keyboard = item("numericKeyboard");
    ASSERT_NE(keyboard, nullptr);
    // Time Rise's minimum is absent: the keyboard opens empty.
    clickIn("limitsPanel", QPointF(150, 50));
    EXPECT_TRUE(keyboard->isVisible());
    EXPECT_EQ(keyboard->property("text").toString(), QString());
    saveArtefact(*view_, "bus_view_limits.png");
    ASSERT_TRUE(QMetaObject::invokeMethod(view_, "sigCloseNumKey", Q_ARG(double, qQNaN())));
    // Vdiff Dom's maximum.
    clickIn("limitsPanel", QPointF(210, 10));
    EXPECT_TRUE(keyboard->isVisible());
    ASSERT_TRUE(QMetaObject::invokeMethod(view_, "sigCloseNumKey", Q_ARG(double, 2.5)));
    processEventsFor(30);
    EXPECT_EQ(limits->getValue(1), 2.5);
    const QString name = limits->filename();

    clickTool("busLimitsTool");
    EXPECT_TRUE(shownPanel().isEmpty());
    posted = userRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].intValue, BusLimits::kMessageSaved);
    EXPECT_EQ(pointedText(posted[0].auxValue), (name + QStringLiteral(".bus")).toStdString());
    EXPECT_EQ(posted[1].code, param::busFileName);
    EXPECT_EQ(pointedText(posted[1].intValue), (name + QStringLiteral(".bus*")).toStdString());
    const std::string saved = readHostFile(hostPath(("/media/user/bus-limits/" + name.toStdString() + ".bus").c_str()));
    EXPECT_NE(saved.find("<LimiteMax a=\"2.5\"/>"), std::string::npos);
}

TEST_F(BusViewQmlTest, ResultsOpenAtTheEndOfADiagnosisAndSaveTheirCopyOnce)
{
    TBus bus;
    fillBus(bus, "CAN HS 500 kbps", {{"Vdiff Dom", 1.2f, 3.0f, 10, 2.0}, {"Vdiff Rec", -0.12f, 0.05f, 10, 0.0}});
    auto descriptor = diagDescriptor({{"msg1"}, {}});
    ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);
    const std::string report = readHostFile(hostPath(kReport));

    ASSERT_NE(open(), nullptr);
    notice(5);
    ASSERT_EQ(shownPanel(), QStringLiteral("resultsPanel"));
    QQuickItem* panel = item("resultsPanel");
    EXPECT_EQ(need(panel, "busTitle")->property("text").toString(), QStringLiteral("CAN HS 500 kbps"));
    EXPECT_EQ(need(panel, "qualityText")->property("text").toString(), QStringLiteral("Bus quality: 100%"));
    EXPECT_TRUE(need(panel, "qualityPicture")->property("source").toString().endsWith(QLatin1String("ICONES_TAVLIN-102.png")));
    EXPECT_NE(findItem(panel, QStringLiteral("resultRow1")), nullptr);
    EXPECT_EQ(findItem(panel, QStringLiteral("resultRow2")), nullptr);
    // Every cell's text reads on its background (the value cell in its verdict colour): a
    // contrast of at least 4.5 to 1.
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    int cells = 0;
    for (QQuickItem* cell : need(panel, "resultRow0")->childItems()) {
        const QVariant background = cell->property("color");
        if (!background.isValid() || cell->childItems().isEmpty())
            continue;
        const QColor text = cell->childItems().front()->property("color").value<QColor>();
        const double a = luminance(background.value<QColor>()) + 0.05, b = luminance(text) + 0.05;
        EXPECT_GE(std::max(a, b) / std::min(a, b), 4.5)
            << background.value<QColor>().name().toStdString() << " / " << text.name().toStdString();
        ++cells;
    }
    EXPECT_EQ(cells, 5);
    saveArtefact(*view_, "bus_view_results.png");

    const QString name = panel->property("filename").toString();
    clickKey(panel, "saveTool");
    clickKey(panel, "saveTool");
    const auto posted = userRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].intValue, 14);
    EXPECT_EQ(posted[1].intValue, 19);
    EXPECT_EQ(readHostFile(hostPath(("/media/user/bus/" + name.toStdString() + ".htm").c_str())), report);
}
