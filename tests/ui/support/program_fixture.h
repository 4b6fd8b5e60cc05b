// The whole program in the test's process (controller, acquisition, root window) on the
// simulated board of the test's own root, as a new user meets it.
#pragma once

#include "board/board.h"
#include "board/sim/simboard.h"
#include "core/calibfile.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/root.h"
#include "tests/support/controllerend.h"
#include "tests/ui/support/homescreen.h"
#include "tests/ui/support/ownprocess.h"

#include <QDir>
#include <QGuiApplication>

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

class ProgramTest : public HomeScreenTest {
protected:
    // Generous: acquisitions under the sanitizers on a loaded machine.
    static constexpr int kTimeoutMs = 60000;

    void SetUp() override
    {
        // The root as the program seeds it on a first start, its calibration included.
        simboard::registerScenarioSeed();
        registerCalibrationSeed();
        HomeScreenTest::SetUp();
        if (HasFatalFailure())
            return;
        // As main does, before any thread starts.
        mkdir(boardPath("/media/private/batch").c_str(), 0777);
        std::string why;
        ASSERT_TRUE(simboard::install(&why)) << why;
    }
    void TearDown() override
    {
        // The controller and the acquisition go on running: they must find no window from now
        // on. A call they have begun ends long before the window goes.
        po_g_homeBridge.store(nullptr);
        po_g_homeView = nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // The view goes before the window, as at a mode change: its overlays must not outlive
        // the root window's own destruction.
        if (view_) {
            data.instrumentMode = HomeView::kNoView;
            view_->screenRaz();
            EXPECT_TRUE(processEventsUntil([this] { return modeViews(*view_).empty(); }));
        }
        unload();
        // What the program's start set going ends while the board is still there: the
        // controller first (nothing then asks the rest for more), then what it started.
        const bool controllerEnded = endControllerThread(COMM_id);
        EXPECT_TRUE(controllerEnded) << "the controller did not end";
        std::string stuck;
        if (!runPowerOffUndos(&stuck))
            ADD_FAILURE() << "did not end: " << stuck;
        simboard::shutdown();
        simboard::uninstall();
        HomeScreenTest::TearDown();
    }

    // The program's start: controller thread, root window published, start-up notice.
    void startProgram()
    {
        // The catalogue and font of the default configuration, before the window loads.
        installTranslator();
        QGuiApplication::setFont(QFont(applicationFontFamily(readRootConfig().language), kApplicationFontPointSize));
        HomeView& view = load();
        po_g_homeView = &view;
        po_g_homeBridge.store(&view, std::memory_order_release);
        emit view.complete();
        ASSERT_EQ(startThread(&COMM_id, command, nullptr, 65, false, "COMM"), 0);
        ASSERT_TRUE(processEventsUntil([&] { return view.isExposed(); }, kTimeoutMs));
        processEventsFor(300);
    }
};
