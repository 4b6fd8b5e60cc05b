// PASSFAIL handlers, executed in process: the pass/fail gate, the source on both models, the
// tolerances, the two requests of STATE, the counts and the checks of the mask-file commands.
#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "scpi/mmem.h"
#include "tests/scpi/handler_cases.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

class PassFailCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        TAcquisition::passFailCounter.raz();
        reset();
    }

    void TearDown() override
    {
        TAcquisition::passFailCounter.raz();
        ScpiHandlerTest::TearDown();
    }

    // Scope mode, the test on.
    void reset() override
    {
        data = init_par;
        data.instrumentMode = 16;
        data.passFailOn = 1;
    }

    static void setCounts(int32_t pass, int32_t fail)
    {
        TAcquisition::passFailCounter.passCount = pass;
        TAcquisition::passFailCounter.failCount = fail;
    }
};

TEST_F(PassFailCommands, SettingsNeedTheTestOn)
{
    for (const char* line : {"PASSFAIL:BEEP?", "PASSFAIL:BEEP ON", "PASSFAIL:CONT?", "PASSFAIL:CONT ON",
                             "PASSFAIL:DISP?", "PASSFAIL:DISP PASS", "PASSFAIL:SOURCE?", "PASSFAIL:SOURCE INT1",
                             "PASSFAIL:XMASK?", "PASSFAIL:XMASK 1", "PASSFAIL:YMASK?", "PASSFAIL:YMASK 1",
                             "PASSFAIL:SAVE \"m.msk\""}) {
        reset();
        data.passFailOn = 0;
        const Outcome o = run(line);
        EXPECT_EQ(o.error, kErrSettingsConflict) << line;
        EXPECT_EQ(o.requests, "") << line;
        EXPECT_EQ(o.reply, "") << line;
    }
    // Not gated: the switch itself and the counts.
    checkQueries({
        {[] { data.passFailOn = 0; }, "PASSFAIL:STATE?", "0", 0},
        {[] { data.passFailOn = 0; }, "PASSFAIL:COUNT:ALL?", "0", 0},
        {[] { data.passFailOn = 0; }, "PASSFAIL:COUN:PASS?", "0", 0},
    });
    checkSets({{[] { data.passFailOn = 0; }, "PASSFAIL:STATE ON", 0, "1:218=0 1:219=1"}});
}

TEST_F(PassFailCommands, SettingsAndReplies)
{
    checkSets({
        {nullptr, "PASSFAIL:STATE OFF", 0, "1:218=0 1:219=0"},
        {nullptr, "PASSFAIL:BEEP ON", 0, "1:216=1"},
        {nullptr, "PASSFAIL:CONT ON", 0, "1:218=1"},
        {nullptr, "PASSFAIL:DISP FAIL", 0, "1:215=2"},
        {nullptr, "PASSFAIL:SOURCE INTERNAL4", 0, "1:212=3"},
        {nullptr, "PASSFAIL:SOURCE INT2", 0, "1:212=1"},
        {nullptr, "PASSFAIL:XMASK 1.5", 0, "1:213=150"},
        {nullptr, "PASSFAIL:XMASK 2", 0, "1:213=200"},
        {nullptr, "PASSFAIL:YMASK 0.014", 0, "1:214=1"},
        {nullptr, "PASSFAIL:YMASK MAX", 0, "1:214=0"},  // a keyword counts as 0
        {nullptr, "PASSFAIL:XMASK 2.5", kErrDataOutOfRange, ""},
        {nullptr, "PASSFAIL:XMASK -0.01", kErrDataOutOfRange, ""},
        {nullptr, "PASSFAIL2:BEEP ON", kErrSuffixOutOfRange, ""},
        {nullptr, "PASSFAIL:BEEP2 ON", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {[] { data.passFailXMask = 150; }, "PASSFAIL:XMASK?", "1.50", 0},
        {[] { data.passFailYMask = 7; }, "PASSFAIL:YMASK?", "0.07", 0},
        {[] { data.passFailDisplay = 1; }, "PASSFAIL:DISP?", "PASS", 0},
        {[] { data.passFailSource = 2; }, "PASSFAIL:SOURCE?", "INT3", 0},
        {[] { data.passFailBeep = 1; }, "PASSFAIL:BEEP?", "1", 0},
        {nullptr, "PASSFAIL:COUNT2:ALL?", nullptr, kErrSuffixOutOfRange},
    });
}

TEST_F(PassFailCommands, CountsUpToTheTotal)
{
    struct Case {
        int32_t pass, fail;
        const char* all;
        const char* passes;
        const char* fails;
    };
    for (const Case& c : {Case{0, 0, "0", "0", "0"}, Case{1234, 56, "1290", "1234", "56"},
                          Case{99999, 3, ">99999", ">99999", "3"}, Case{60000, 50000, ">99999", "60000", "50000"}}) {
        setCounts(c.pass, c.fail);
        EXPECT_EQ(run("PASSFAIL:COUNT:ALL?").reply, std::string(c.all) + "\n\r") << c.pass;
        EXPECT_EQ(run("PASSFAIL:COUNt:PASS?").reply, std::string(c.passes) + "\n\r") << c.pass;
        EXPECT_EQ(run("PASSFAIL:COUN:FAIL?").reply, std::string(c.fails) + "\n\r") << c.pass;
    }
}

TEST_F(PassFailCommands, MaskFileChecksInTheirOrder)
{
    const std::string media = hostPath("/media/user");
    std::ofstream(media + "/here.msk") << "x";
    const std::string longName(130, 'a');
    struct Case {
        const char* line;
        int error;
    };
    for (const Case& c : {
             Case{"PASSFAIL:LOAD \"a.trc\"", kErrFileName},
             Case{"PASSFAIL:LOAD \"amsk\"", kErrFileName},
             Case{"PASSFAIL:LOAD \"gone.msk\"", kErrFileNotFound},
             Case{"PASSFAIL:LOAD \"../etc/x.msk\"", kErrFileName},
             Case{"PASSFAIL2:LOAD \"here.msk\"", kErrSuffixOutOfRange},
             Case{"PASSFAIL:SAVE \"../x.msk\"", kErrFileName},
             Case{"PASSFAIL:SAVE \"a:b\"", kErrFileName},
         }) {
        reset();
        const Outcome o = run(c.line, false);
        EXPECT_EQ(o.error, c.error) << c.line;
        EXPECT_EQ(o.requests, "") << c.line;
    }
    // The name is checked before the switch; the switch before the file.
    data.passFailOn = 0;
    EXPECT_EQ(run("PASSFAIL:LOAD \"a.trc\"", false).error, kErrFileName);
    EXPECT_EQ(run("PASSFAIL:LOAD \"gone.msk\"", false).error, kErrSettingsConflict);
    // SAVE on the home screen: refused before anything else.
    data.instrumentMode = 0x8000;
    EXPECT_EQ(run("PASSFAIL2:SAVE \"a:b\"", false).error, kErrSettingsConflict);
    reset();
    // A path of more than 127 characters is refused, not cut.
    std::string dir = "/";
    while (dir.size() < 110)
        dir += "d123456789/";
    std::snprintf(o_g_currentDirectory, sizeof o_g_currentDirectory, "%s", dir.c_str());
    EXPECT_EQ(run("PASSFAIL:SAVE \"abcdefghijklmnopqrstuvwxyz.msk\"", false).error, kErrFileName);
    std::snprintf(o_g_currentDirectory, sizeof o_g_currentDirectory, "/");

    // The accepted forms post the full path; a leading "/" stays under the medium.
    for (const char* line : {"PASSFAIL:LOAD \"here.msk\"", "PASSFAIL:LOAD \"/here.MSK\",LOCAL"}) {
        if (std::string(line).find("MSK") != std::string::npos)
            std::ofstream(media + "/here.MSK") << "x";
        TScpiMemorySession session;
        session.send(std::string(line) + "\n");
        TUnitReader reader;
        const TUnitResult r = reader.readUnit();
        ASSERT_EQ(r.error ? r.error : r.handlerResult, 0) << line;
        ASSERT_EQ(reader.requestCount, 1);
        EXPECT_EQ(reader.requests[0].kind, REQ_FILE);
        EXPECT_EQ(reader.requests[0].code, fileTraceRecall);
        const std::string path = reinterpret_cast<const char*>(reader.requests[0].intValue);
        EXPECT_EQ(path.rfind("/media/user/here.", 0), 0u) << path;
    }
    ::mkdir(hostPath("/media/user/sdcard_p1").c_str(), 0777);
    TScpiMemorySession session;
    session.send("PASSFAIL:SAVE \"new.msk\",SDCARD\n");
    TUnitReader reader;
    const TUnitResult r = reader.readUnit();
    ASSERT_EQ(r.error ? r.error : r.handlerResult, 0);
    ASSERT_EQ(reader.requestCount, 1);
    EXPECT_EQ(reader.requests[0].code, fileMaskSave);
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.requests[0].intValue), "/media/user/sdcard_p1/new.msk");
}

} // namespace
