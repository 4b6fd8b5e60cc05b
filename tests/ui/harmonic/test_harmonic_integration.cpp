// The harmonic analyser tried as a new user would: the whole program in this process
// (controller, acquisition, root window) on the simulated board of the test's own root, channel
// 1 fed a 50 Hz signal with 20 % of order 3 and 10 % of order 5. The user opens the analyser
// through the mode tool, reads the bars and the table, and saves the harmonics from the file
// panel.
#include "tests/ui/support/program_fixture.h"
#include "ui/frame/filesave.h"
#include "ui/harmonic/harmonicmeas.h"
#include "ui/harmonic/harmonicscreen.h"
#include "ui/harmonic/harmonictrace.h"

#include <QQuickItem>

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

void post(int parameter, intptr_t value)
{
    pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, senderValue(MENU_id)};
    ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
}

class HarmonicIntegrationTest : public ProgramTest {};

} // namespace

PROGRAM_TEST_F(HarmonicIntegrationTest, NewUserReadsTheHarmonicsOfChannelOneAndSavesThem)
{
    simboard::TSignal signal;
    signal.shape = "harmonics";
    signal.frequency = 50.0;
    signal.vpp = 2.0;
    signal.harmonics = {1, 0, 0.2, 0, 0.1};
    simboard::setSignal(0, signal);
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;
    post(param::traceOnCh1, 1);
    ASSERT_TRUE(processEventsUntil([] { return data.traceOnCh1 != 0; }, kTimeoutMs));

    QQuickItem* modeTool = item("modeTool_Harmonic");
    ASSERT_NE(modeTool, nullptr);
    clickItem(*modeTool);
    ASSERT_TRUE(processEventsUntil(
        [&] { return data.instrumentMode == 0x40 && modeViews(view) == std::vector<std::string>{"harmonicView"}; },
        kTimeoutMs));
    // The export exists from the view's creation on.
    struct stat st;
    EXPECT_EQ(::stat(boardPath("/media/private/harmonic.txt").c_str(), &st), 0);

    auto* screen = qobject_cast<HarmonicScreen*>(item("harmonicScreen"));
    auto* table = qobject_cast<HarmonicMeas*>(item("harmonicMeas"));
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(screen->trace(0), nullptr);
    const auto near = [](int height, int expected) { return std::abs(height - expected) <= expected * 3 / 100; };
    ASSERT_TRUE(processEventsUntil(
        [&] {
            const HarmonicTrace* t = screen->trace(0);
            return near(t->height(1), 1000) && near(t->height(3), 200) && near(t->height(5), 100);
        },
        kTimeoutMs))
        << screen->trace(0)->height(1) << " " << screen->trace(0)->height(3) << " " << screen->trace(0)->height(5);
    EXPECT_LE(std::abs(screen->trace(0)->height(2)), 10);

    QStringList row;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            row = table->measurementList().value(0).toStringList();
            return row.size() == 6 && row[4] == QLatin1String("F=50.0 Hz");
        },
        kTimeoutMs))
        << row.join(QLatin1Char('|')).toStdString();
    ASSERT_TRUE(row[1].startsWith(QLatin1String("THD="))) << row[1].toStdString();
    EXPECT_NEAR(row[1].mid(4, row[1].size() - 6).toDouble(), 22.4, 0.1) << row[1].toStdString();
    EXPECT_EQ(row[2].toStdString(), "ratio=100.0 %");
    saveArtefact(view, "harmonic-integration.png");

    // The save panel names the copy of the export.
    clickItem(*findItem(item("toolPanel"), QStringLiteral("saveTool")));
    processEventsFor(100);
    auto* panel = qobject_cast<FileSave*>(item("fileSave"));
    ASSERT_NE(panel, nullptr);
    panel->setProperty("filename", QStringLiteral("mains"));
    clickItem(*findItem(findItem(panel, QStringLiteral("kindBox")), QStringLiteral("radioButton1")));
    clickItem(*findItem(panel, QStringLiteral("saveTool")));
    const std::string copy = boardPath("/media/user/harmonic/mains.txt");
    ASSERT_TRUE(processEventsUntil([&] { return ::stat(copy.c_str(), &st) == 0; }, kTimeoutMs));
    processEventsFor(300);
    const std::string text = readWholeFile(copy);
    size_t at = 0;
    for (const char* block : {"\r\n\r\nCH1\r\n", "\r\nCH2\r\n", "\r\nCH3\r\n", "\r\nCH4\r\n", "\r\nPower\r\n"}) {
        at = text.find(block, at);
        EXPECT_NE(at, std::string::npos) << block;
    }

    // With the power display only the power bars; a view for review.
    post(param::harmPower, 1);
    ASSERT_TRUE(processEventsUntil([] { return data.harmPower == 1; }, kTimeoutMs));
    processEventsFor(1000);
    saveArtefact(view, "harmonic-integration-power.png");
}
