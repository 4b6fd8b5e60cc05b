// The home screen and the controller in one process: a mode tool's click goes through the
// controller's box, the controller switches the mode and the root creates that mode's view; the
// view's home tool comes back. Screenshots of the screens are kept in the build tree for review.
#include "tests/support/controllerend.h"
#include "tests/ui/support/homescreen.h"
#include "tests/ui/support/ownprocess.h"

#include "core/command.h"
#include "core/process.h"

#include <QDir>
#include <QImage>

#include <chrono>
#include <thread>

namespace {
// Generous: the controller's start-up and mode changes under the sanitizers on a loaded machine.
constexpr int kTimeoutMs = 60000;

void keepScreenshot(HomeView& view, const char* name)
{
    saveArtefact(view, name);
}
} // namespace

class RoundTripTest : public HomeScreenTest {
protected:
    void TearDown() override
    {
        // The controller goes on running: it must find no window from now on. A call it has
        // begun ends long before the window goes.
        po_g_homeBridge.store(nullptr);
        po_g_homeView = nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (controllerStarted_) {
            EXPECT_TRUE(endControllerThread(COMM_id)) << "the controller did not end";
        }
        HomeScreenTest::TearDown();
    }

    bool controllerStarted_ = false;
};

PROGRAM_TEST_F(RoundTripTest, EachModeToolOpensItsViewAndItsHomeToolComesBack)
{
    HomeView& view = load();
    // As main does.
    po_g_homeView = &view;
    po_g_homeBridge.store(&view, std::memory_order_release);
    emit view.complete();
    ASSERT_EQ(startThread(&COMM_id, command, nullptr, 65, false, "COMM"), 0);
    controllerStarted_ = true;

    // The controller shows the window once it has found it, and starts in no mode.
    ASSERT_TRUE(processEventsUntil([&] { return view.isExposed(); }, kTimeoutMs));
    processEventsFor(300);
    EXPECT_EQ(data.instrumentMode, 0x8000);
    EXPECT_TRUE(modeViews(view).empty());
    keepScreenshot(view, "home.png");

    struct Case {
        const char* label;
        int mode;
        const char* view;
    } cases[] = {
        {"Oscilloscope", 0x10, "scopeView"},
        {"Multimeter", 0x80, "meterView"},
        {"Logger", 0x82, "loggerView"},
        {"Harmonic", 0x40, "harmonicView"},
        {"Bus", 0x11, "busAnalysisView"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QQuickItem* tool = item((std::string("modeTool_") + c.label).c_str());
        ASSERT_NE(tool, nullptr);
        clickItem(*tool);
        ASSERT_TRUE(processEventsUntil(
            [&] { return data.instrumentMode == c.mode && modeViews(view) == std::vector<std::string>{c.view}; },
            kTimeoutMs))
            << "mode " << data.instrumentMode << ", " << modeViews(view).size() << " views";
        EXPECT_EQ(view.scopeMode(), c.mode);
        if (c.mode == 0x10)
            keepScreenshot(view, "scope.png");

        QQuickItem* home = item("homeTool");
        ASSERT_NE(home, nullptr);
        clickItem(*home);
        ASSERT_TRUE(processEventsUntil(
            [&] { return data.instrumentMode == 0x8000 && view.scopeMode() == 0x8000 && modeViews(view).empty(); },
            kTimeoutMs));
    }
    keepScreenshot(view, "home-after.png");
}
