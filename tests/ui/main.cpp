// Test main of the user-interface tests: a QGuiApplication (under the test display) with the
// module's types and resources registered as the program does.
#include "board/sim/simboard.h"  // before Qt: the scenario has a member named "signals"

#include "core/homebridge.h"
#include "core/requests.h"
#include "core/root.h"
#include "ui/frame/homeview.h"
#include "ui/qmltypes.h"

#include <QGuiApplication>
#include <QTranslator>
#include <clocale>
#include <gtest/gtest.h>

namespace {
// The binary runs whole in one process. What no later test may meet fails the test that left it
// (it cannot be undone here); the simulated board is put back as at start after every test, as
// each fixture that installs it would.
class TLeftoverCheck : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        if (COMM_id != 0)
            ADD_FAILURE() << "the controller runs in the test binary's process: use PROGRAM_TEST_F";
        if (po_g_homeView || po_g_homeBridge.load())
            ADD_FAILURE() << "a root window is still published";
        if (po_g_appTranslator) {
            ADD_FAILURE() << "the program's catalogue is still installed: use TCatalogueGuard";
            QCoreApplication::removeTranslator(po_g_appTranslator);
            delete po_g_appTranslator;
            po_g_appTranslator = nullptr;
        }
        if (simboard::installed())
            simboard::uninstall();
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Scenario);
    }
};
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Listing the tests needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    Q_INIT_RESOURCE(ui);
    registerQmlTypes();
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::UnitTest::GetInstance()->listeners().Append(new TLeftoverCheck);
    return RUN_ALL_TESTS();
}
