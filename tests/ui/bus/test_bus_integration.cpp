// The bus analyser tried as a new user would: the whole program in this process (controller,
// acquisition, bus thread, root window) on the simulated board with the CAN sample's signals.
// The user opens the bus view through the mode tool, chooses the CAN file in the selection
// panel and changes a limit, which selects the saved user file.
#include "tests/ui/support/program_fixture.h"
#include "tests/support/simboardtest.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/bus/busanalysisstatusline.h"
#include "ui/bus/buslimits.h"
#include "ui/frame/dialogpanel.h"

#include <QQuickItem>

#include <gtest/gtest.h>

namespace {

class BusIntegrationTest : public ProgramTest {
protected:
    QString statusFile()
    {
        auto* line = qobject_cast<BusAnalysisStatusLine*>(item("statusLine"));
        return line ? line->busFileText() : QString();
    }
    QString shownPanel()
    {
        auto* dialog = qobject_cast<DialogPanel*>(item("dialogPanel"));
        QQuickItem* shown = dialog ? dialog->displayedPanel() : nullptr;
        return shown ? shown->objectName() : QString();
    }
};

} // namespace

PROGRAM_TEST_F(BusIntegrationTest, NewUserChoosesTheCanFileAndSavesChangedLimits)
{
    useCanBusSignals();
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;

    QQuickItem* modeTool = item("modeTool_Bus");
    ASSERT_NE(modeTool, nullptr);
    clickItem(*modeTool);
    ASSERT_TRUE(processEventsUntil(
        [&] { return data.instrumentMode == 17 && modeViews(view) == std::vector<std::string>{"busAnalysisView"}; },
        kTimeoutMs));
    ASSERT_TRUE(processEventsUntil([&] { return statusFile() == QLatin1String("RS232_9600bps.bus"); }, kTimeoutMs))
        << statusFile().toStdString();

    clickKey(item("toolPanel"), "busSelectTool");
    ASSERT_TRUE(processEventsUntil([&] { return shownPanel() == QLatin1String("selectionPanel"); }, kTimeoutMs));
    QQuickItem* panel = item("selectionPanel");
    QQuickItem* row = nullptr;
    for (int i = 0; i < 40 && !row; ++i) {
        QQuickItem* r = findItem(panel, QStringLiteral("fileRow%1").arg(i));
        if (r && r->property("fileName").toString() == QLatin1String("CanHS_500kbps.bus"))
            row = r;
    }
    ASSERT_NE(row, nullptr);
    // The grab lays the rows out (the column places them when the scene is polished).
    saveArtefact(view, "bus-integration-list.png");
    clickItem(*row);
    ASSERT_TRUE(processEventsUntil([&] { return statusFile() == QLatin1String("CanHS_500kbps.bus"); }, kTimeoutMs))
        << statusFile().toStdString() << " / " << data.busFileName << " / " << panel->property("title").toString().toStdString();
    saveArtefact(view, "bus-integration-selection.png");

    // Vdiff Dom's maximum to 2.5 on the numeric keyboard, then the panel closed.
    clickKey(item("toolPanel"), "busLimitsTool");
    ASSERT_TRUE(processEventsUntil([&] { return shownPanel() == QLatin1String("limitsPanel"); }, kTimeoutMs));
    auto* limits = qobject_cast<BusLimits*>(item("limitsPanel"));
    ASSERT_NE(limits, nullptr);
    ASSERT_EQ(limits->limits().size(), 10);
    clickAt(view, limits->mapToScene(QPointF(210, 10)));
    processEventsFor(50);
    QQuickItem* keyboard = item("numericKeyboard");
    ASSERT_TRUE(keyboard && keyboard->isVisible());
    clickKeys(keyboard, {"key_2", "key_.", "key_5", "key_enter"});
    processEventsFor(50);
    EXPECT_FALSE(keyboard->isVisible());
    EXPECT_EQ(limits->getValue(1), 2.5);
    const QString saved = limits->filename() + QStringLiteral(".bus*");
    clickKey(item("toolPanel"), "busLimitsTool");
    ASSERT_TRUE(processEventsUntil([&] { return statusFile() == saved; }, kTimeoutMs)) << statusFile().toStdString();
    EXPECT_EQ(std::string(data.busFileName), saved.toStdString());
    EXPECT_TRUE(shownPanel().isEmpty());
    saveArtefact(view, "bus-integration-saved.png");
}
