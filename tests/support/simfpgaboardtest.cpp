#include "tests/support/simfpgaboardtest.h"

#include "board/process.h"

void SimFpgaBoardTest::SetUp()
{
    simboard::registerScenarioSeed();
    SimBoardTest::SetUp();
    if (HasFatalFailure())
        return;
    simboard::setPowerOnConfiguration(startConfigured_ ? simboard::TPowerOn::Configured
                                                       : simboard::TPowerOn::Unconfigured);
    std::string why;
    ASSERT_TRUE(simboard::install(&why)) << why;
    for (int c = 0; c < static_cast<int>(simboard::TStrictCheck::Count); ++c)
        simboard::setStrictCheck(static_cast<simboard::TStrictCheck>(c), true);
    simboard::setStrict(true);
}

void SimFpgaBoardTest::TearDown()
{
    // What the test started ends before the board goes: the next test starts from a power-on.
    std::string stuck;
    if (!runPowerOffUndos(&stuck))
        ADD_FAILURE() << "did not end: " << stuck;
    std::string text = violationText();
    if (!text.empty())
        ADD_FAILURE() << "strict violations on the simulated board:\n" << text;
    simboard::setStrict(false);
    simboard::shutdown();  // a thread blocked on the board ends before the root goes
    simboard::uninstall();
    simboard::setPowerOnConfiguration(simboard::TPowerOn::Scenario);
    SimBoardTest::TearDown();
}

void SimFpgaBoardTest::restartUnconfigured()
{
    simboard::setPowerOnConfiguration(simboard::TPowerOn::Unconfigured);
    simboard::reset();
}

std::string SimFpgaBoardTest::violationText()
{
    std::string text;
    for (const auto& v : simboard::violations())
        text += std::string(simboard::strictCheckName(v.check)) + ": " + v.context + "\n";
    return text;
}
