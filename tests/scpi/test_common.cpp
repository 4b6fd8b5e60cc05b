// Common commands and run control, executed in process one unit at a time against a prepared
// live setup; requests are checked as the handler leaves them, replies as the client gets them.
#include "board/board.h"
#include "core/calibfile.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"
#include "scpi/handler.h"
#include "scpi/scpi.h"
#include "tests/scpi/releaser.h"
#include "tests/support/requestboxes.h"
#include "tests/scpi/scpi_unit_reader.h"
#include "tests/support/linkedtraces.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

struct Outcome {
    int error = 0;         // the error the unit queued
    bool executed = false;
    std::string requests;  // "kind:code=value" each, blank separated
    int16_t postAction = 0;
    std::string reply;
};

class CommonCommands : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        data = init_par;
        meminit();
    }
    // A recall links traces and functions of its own and posts the mode it recalled.
    void TearDown() override
    {
        drainRequestBoxes();
        SimBoardTest::TearDown();
    }

    Outcome run(const std::string& line)
    {
        TScpiMemorySession session;
        session.send(line + "\n");
        TUnitReader reader;
        TUnitResult r = reader.readUnit();
        Outcome o;
        o.error = r.error ? r.error : r.handlerResult;
        o.executed = r.executed;
        o.postAction = r.ind.postAction;
        for (int i = 0; i < reader.requestCount; ++i) {
            const pipe_dial& q = reader.requests[i];
            // The unused fields of every record the handlers build are 0.
            EXPECT_EQ(q.auxValue, 0) << line;
            EXPECT_EQ(q.floatValue, 0.0f) << line;
            EXPECT_EQ(q.senderId, 0) << line;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%s%u:%d=%ld", o.requests.empty() ? "" : " ", q.kind, q.code,
                          static_cast<long>(q.intValue));
            o.requests += buf;
        }
        o.reply = session.takeReplies();
        return o;
    }

    std::string reply(const std::string& line)
    {
        Outcome o = run(line);
        EXPECT_EQ(o.error, 0) << line;
        EXPECT_EQ(o.requests, "") << line;
        return o.reply;
    }

private:
    TRestoredLinks restoredLinks_;
};

TEST_F(CommonCommands, SettingsPostTheirRequestsOrFailWithNothingPosted)
{
    struct Case {
        const char* line;
        std::function<void()> prepare;
        int error;
        const char* requests;
        int16_t postAction;
    };
    auto state = [](int16_t trigMode, int16_t runStop) {
        return [=] {
            data.trigMode = trigMode;
            data.acqRunStop = runStop;
        };
    };
    auto mode = [](uint16_t instrumentMode, int16_t traceFormat) {
        return [=] {
            data.instrumentMode = instrumentMode;
            data.traceFormat = traceFormat;
        };
    };
    const Case cases[] = {
        // *TRG: refused only while a single shot is armed and running.
        {"*TRG", state(2, 1), 0, "1:3=0", 0},
        {"*TRG", state(2, 0), kErrInitIgnored, "", 0},
        {"*TRG", state(0, 0), 0, "1:3=0", 0},
        // ABORt: nothing while stopped; re-arms except in single mode.
        {"ABOR", state(0, 1), 0, "", 0},
        {"ABOR", state(0, 0), 0, "1:3=1 1:3=0", 0},
        {"ABORT", state(1, 0), 0, "1:3=1 1:3=0", 0},
        {"ABOR", state(2, 0), 0, "1:3=1", 0},
        // AUTOSet:EXECute: scope modes only; the FFT display has its own autoset.
        {"AUTOS:EXE", mode(0x80, 0), kErrSettingsConflict, "", 0},
        {"AUTOS:EXE", mode(0x8000, 0), kErrSettingsConflict, "", 0},
        {"AUTOS:EXE", mode(16, 1), 0, "1:27=9", 0},
        {"AUTOSET:EXECUTE", mode(19, 0), 0, "1:27=0", 0},
        // INITiate: trigger type, mode, run state, in this order; TV, RECorder, CAPTure do nothing.
        {"INIT:CONT:NAME EDGE,OFF", nullptr, 0, "1:180=0 1:7=1 1:3=1", 0},
        {"INIT:CONT:NAME PUL,ON", nullptr, 0, "1:180=1 1:7=1 1:3=0", 0},
        {"INIT:CONT:NAME EVEN,1", nullptr, 0, "1:180=3 1:7=1 1:3=0", 0},
        {"INIT:CONT:NAME CAPT,ON", nullptr, 0, "", 0},
        {"INIT:NAME TV", nullptr, 0, "", 0},
        {"INIT:NAME REC", nullptr, 0, "", 0},
        {"INIT:IMM:NAME DEL", nullptr, 0, "1:180=2 1:7=2 1:3=0", 0},
        {"INIT:NAME EDGE", nullptr, 0, "1:180=0 1:7=2 1:3=0", 0},
        // Post-actions are left to the interpreter.
        {"*WAI", nullptr, 0, "0:0=0", 10},
        {"*OPC", nullptr, 0, "", 11},
        {"*OPC?", nullptr, 0, "", 12},
        {"*RST", nullptr, 0, "2:14=0", 0},
        // A suffix other than 1 on a checked level: -114 before anything else.
        {"*TRG2", state(2, 1), kErrSuffixOutOfRange, "", 0},
        {"*WAI2", nullptr, kErrSuffixOutOfRange, "", 0},
        {"*OPC3", nullptr, kErrSuffixOutOfRange, "", 0},
        {"ABOR2", state(0, 0), kErrSuffixOutOfRange, "", 0},
        {"AUTOS2:EXE", mode(16, 0), kErrSuffixOutOfRange, "", 0},
        {"AUTOS:EXE2", mode(16, 0), kErrSuffixOutOfRange, "", 0},
        {"INIT2:NAME EDGE", nullptr, kErrSuffixOutOfRange, "", 0},
        {"INIT:IMM2:NAME EDGE", nullptr, kErrSuffixOutOfRange, "", 0},
        {"INIT:CONT:NAME3 EDGE,ON", nullptr, kErrSuffixOutOfRange, "", 0},
        {"INIT1:CONT1:NAME1 EDGE,ON", nullptr, 0, "1:180=0 1:7=1 1:3=0", 0},
    };
    for (const Case& c : cases) {
        data = init_par;
        if (c.prepare)
            c.prepare();
        const database before = data;
        Outcome o = run(c.line);
        EXPECT_TRUE(o.executed) << c.line;
        EXPECT_EQ(o.error, c.error) << c.line;
        EXPECT_EQ(o.requests, c.requests) << c.line;
        EXPECT_EQ(o.postAction, c.postAction) << c.line;
        EXPECT_EQ(o.reply, "") << c.line;
        // Handlers change the setup only through requests.
        EXPECT_EQ(std::memcmp(&before, &data, sizeof data), 0) << c.line;
    }
}

TEST_F(CommonCommands, EnableMasksAndRegisters)
{
    EXPECT_EQ(reply("*ESE?"), "255\n\r");
    EXPECT_EQ(reply("*ESE 300"), "");
    EXPECT_EQ(reply("*ESE?"), "44\n\r");  // the low 8 bits
    EXPECT_EQ(reply("*ESE -1"), "");
    EXPECT_EQ(reply("*ESE?"), "255\n\r");
    EXPECT_EQ(reply("*ESE MAX"), "");
    EXPECT_EQ(reply("*ESE?"), "0\n\r");  // a keyword stands for 0
    EXPECT_EQ(reply("*SRE 48"), "");
    EXPECT_EQ(reply("*SRE?"), "48\n\r");
    EXPECT_EQ(reply("*SRE 256"), "");
    EXPECT_EQ(reply("*SRE?"), "0\n\r");

    // Event register: reading clears it; the status byte is only read.
    EXPECT_EQ(reply("*ESE 32"), "");
    EXPECT_EQ(reply("*SRE 32"), "");
    error(kErrUndefinedHeader);
    EXPECT_EQ(reply("*STB?"), "96\n\r");  // event summary and request service
    EXPECT_EQ(reply("*STB?"), "96\n\r");
    EXPECT_EQ(reply("*ESR?"), "32\n\r");
    EXPECT_EQ(reply("*ESR?"), "0\n\r");
    EXPECT_EQ(reply("*STB?"), "0\n\r");

    EXPECT_EQ(run("*ESE2 5").error, kErrSuffixOutOfRange);
    EXPECT_EQ(run("*SRE3?").error, kErrSuffixOutOfRange);
    EXPECT_EQ(run("*ESR2?").error, kErrSuffixOutOfRange);
    EXPECT_EQ(memesr(6, 0, 0), 32);
    EXPECT_EQ(memsbr(6, 0, 0), 32);
}

TEST_F(CommonCommands, SelfTestAnswersFromTheLowByte)
{
    const struct {
        uint16_t result;
        const char* reply;
    } cases[] = {{0xFFFF, "0\n\r"}, {0x00FF, "0\n\r"}, {0xFFFE, "1\n\r"}, {0x7F, "1\n\r"}, {0, "1\n\r"}};
    for (const auto& c : cases) {
        data.selfTestResult = c.result;
        EXPECT_EQ(reply("*TST?"), c.reply) << c.result;
    }
    EXPECT_EQ(run("*TST2?").error, kErrSuffixOutOfRange);
}

TEST_F(CommonCommands, IdentificationIsTheStoredCalibrationsWithSerial)
{
    char expected[kIdentificationSize];
    GetIdentification(expected, true);
    const std::string idn = reply("*IDN?");
    EXPECT_EQ(idn, std::string(expected) + "\n\r");
    EXPECT_NE(idn.find(", V1.12/"), std::string::npos) << idn;
    EXPECT_EQ(run("*IDN2?").error, kErrSuffixOutOfRange);

    // Fields that fill their width without a NUL end at their width; read again on every call.
    calibration record;
    CalibrationRecall(&record, false);
    std::memset(record.modelName, 'M', sizeof record.modelName);
    std::memset(record.calibrationName, 'C', sizeof record.calibrationName);
    std::memset(record.serialNumber, 'S', sizeof record.serialNumber);
    ASSERT_EQ(CalibrationSave(&record, false), 0);
    EXPECT_EQ(reply("*IDN?"), std::string(10, 'M') + ", V1.12/" + std::string(10, 'C') + ", " +
                                  std::string(20, 'S') + "\n\r");
}

TEST_F(CommonCommands, ClearStatusKeepsTheMasksAndClearsDeviceErrorThroughTheController)
{
    memesr(5, 0, 20);
    memsbr(5, 0, 36);
    error(kErrUndefinedHeader);
    error(kErrExecution);
    memesr(1, kEsrOperationComplete, 1);
    data.deviceError = 22;

    // With the wrong suffix nothing is cleared and nothing is posted.
    EXPECT_EQ(run("*CLS2").error, kErrSuffixOutOfRange);
    EXPECT_EQ(memerr(2, 0), kErrUndefinedHeader);
    EXPECT_EQ(memerr(2, 0), kErrExecution);
    EXPECT_EQ(memerr(2, 0), kErrSuffixOutOfRange);
    EXPECT_EQ(memesr(3, 0, 0) & (kEsrCommandError | kEsrExecutionError | kEsrOperationComplete),
              kEsrCommandError | kEsrExecutionError | kEsrOperationComplete);
    error(kErrUndefinedHeader);
    memesr(1, kEsrExecutionError, 1);

    Releaser controller;
    Outcome o = run("*CLS");
    std::vector<pipe_dial> posted = controller.stop();
    EXPECT_EQ(o.error, 0);
    EXPECT_EQ(o.requests, "");  // handed over by the handler itself, not counted
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(posted[0].code, param::deviceError);
    EXPECT_EQ(posted[0].auxValue, 0);
    EXPECT_EQ(posted[0].intValue, 0);
    EXPECT_EQ(posted[0].floatValue, 0.0f);

    EXPECT_EQ(memerr(2, 0), 0);
    EXPECT_EQ(reply("*STB?"), "0\n\r");
    EXPECT_EQ(reply("*ESR?"), "0\n\r");
    EXPECT_EQ(reply("*ESE?"), "20\n\r");
    EXPECT_EQ(reply("*SRE?"), "36\n\r");
}

TEST_F(CommonCommands, ResetRecallsTheDefaultSetupThroughTheBatchMarker)
{
    const std::string marker = hostPath("/media/private/batch/defaultSetup");
    memesr(5, 0, 4);
    memform(1, 2);
    error(kErrUndefinedHeader);

    // Without the batch directory, and with a stale marker that is truncated.
    removeTree(hostPath("/media/private/batch"));
    Outcome o = run("*RST");
    EXPECT_EQ(o.error, 0);
    EXPECT_EQ(o.requests, "2:14=0");
    struct stat st;
    ASSERT_EQ(::stat(marker.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(memesr(6, 0, 0), 255);
    EXPECT_EQ(memform(2, 0), 0);
    EXPECT_EQ(memerr(2, 0), 0);
    ASSERT_TRUE(writeBoardFile("/media/private/batch/defaultSetup", "leftover"));
    EXPECT_EQ(run("*RST").requests, "2:14=0");
    ASSERT_EQ(::stat(marker.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);

    // What the controller does with the record: the explicit default setup is a success, so
    // the SCPI sender's deviceError stays 0 and a later *WAI reports nothing.
    data.trigMode = 2;
    data.acqRunStop = 1;
    EXPECT_EQ(batchRecall(15), 0);
    EXPECT_NE(::stat(marker.c_str(), &st), 0);
    EXPECT_EQ(data.trigMode, init_par.trigMode);
    EXPECT_EQ(data.acqRunStop, init_par.acqRunStop);
}

TEST(HandlerHelpers, NumericParametersAgainstTheirRange)
{
    const struct {
        int32_t special;
        double number;
        int32_t current;
        int result;
        int32_t value;
    } cases[] = {
        {kSpecialNone, 5, 0, 0, 5},
        {kSpecialNone, 2, 0, 0, 2},
        {kSpecialNone, 9, 0, 0, 9},
        {kSpecialNone, 1, 0, kErrDataOutOfRange, -7},
        {kSpecialNone, 10, 0, kErrDataOutOfRange, -7},
        {kSpecialNone, 1e30, 0, kErrDataOutOfRange, -7},  // never wraps into the range
        {kSpecialNone, -1e30, 0, kErrDataOutOfRange, -7},
        {kSpecialNone, std::nan(""), 0, kErrDataOutOfRange, -7},
        {kSpecialMin, 0, 5, 0, 2},
        {kSpecialMax, 0, 5, 0, 9},
        {kSpecialUp, 0, 5, 0, 8},
        {kSpecialUp, 0, 6, 0, 9},
        {kSpecialUp, 0, 7, kErrDataOutOfRange, -7},
        {kSpecialDown, 0, 5, 0, 2},
        {kSpecialDown, 0, 4, kErrDataOutOfRange, -7},
        {kSpecialDefault, 0, 5, kErrQuery, -7},
        {kSpecialInfinity, 0, 5, kErrQuery, -7},
    };
    for (const auto& c : cases) {
        int32_t out = -7;
        EXPECT_EQ(numericParam(c.special, c.number, c.current, 2, 9, 3, &out), c.result) << c.special << " " << c.number;
        EXPECT_EQ(out, c.value) << c.special << " " << c.number;
    }
    // The step never overflows at the ends of the 32-bit range.
    int32_t out = 0;
    EXPECT_EQ(numericParam(kSpecialUp, 0, INT32_MAX, INT32_MIN, INT32_MAX, 1, &out), kErrDataOutOfRange);
    EXPECT_EQ(numericParam(kSpecialDown, 0, INT32_MIN, INT32_MIN, INT32_MAX, 1, &out), kErrDataOutOfRange);
}

TEST_F(CommonCommands, LongRepliesKeepTheirTerminator)
{
    TScpiMemorySession session;
    session.send("x\n");
    unsigned char c;
    GetCharacter(&c);  // binds the session
    replyFormat("%s", std::string(300, 'a').append("\n\r").c_str());
    replyText(std::string(300, 'b').c_str());
    scpiEndOfMessage();
    const std::string got = session.takeReplies();
    ASSERT_EQ(got.size(), 258u);
    EXPECT_EQ(got.substr(0, 127), std::string(127, 'a'));
    EXPECT_EQ(got.substr(127, 2), "\n\r");
    EXPECT_EQ(got.substr(129, 127), std::string(127, 'b'));
    EXPECT_EQ(got.substr(256), "\n\r");
}

} // namespace
