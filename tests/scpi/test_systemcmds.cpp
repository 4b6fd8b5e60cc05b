// DEVice, SYSTem, HCOPy and HELP handlers in process, against the simulated board's network
// table, tools log and real-time clock.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/netif.h"
#include "board/sim/simboard.h"
#include "board/simcontrol.h"
#include "core/root.h"
#include "scpi/help.h"
#include "scpi/mmem.h"
#include "tests/scpi/handler_cases.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SystemCommands : public ScpiHandlerTest {};

TEST_F(SystemCommands, DeviceModeSetsAndReportsTheModeWord)
{
    auto mode = [](uint16_t m) { return [m] { data.instrumentMode = m; }; };
    checkSets({
        {nullptr, "DEV:MODE HOME", 0, "1:38=32768"},
        {nullptr, "DEV:MODE SCOP", 0, "1:38=16"},
        {nullptr, "DEVice:MODe LOGger", 0, "1:38=130"},
        {nullptr, "DEV:MODE ANALYS", 0, "1:38=64"},
        {nullptr, "DEV:MODE MULT", 0, "1:38=128"},
        {nullptr, "DEV:MODE BUS", 0, "1:38=17"},
        {nullptr, "DEV:MODE EYE", 0, "1:38=18"},
        {nullptr, "DEV2:MODE MULT", kErrSuffixOutOfRange, ""},
        {nullptr, "DEV:MODE3 MULT", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {mode(17), "DEV:MODE?", "BUS", 0},
        {mode(18), "DEV:MODE?", "EYE", 0},
        {mode(64), "DEV:MODE?", "ANALYS", 0},
        {mode(128), "DEV:MODE?", "MULT", 0},
        {mode(130), "DEV:MODE?", "LOG", 0},
        {mode(256), "DEV:MODE?", "LOG", 0},
        {mode(0x8000), "DEV:MODE?", "HOME", 0},
        {mode(16), "DEV:MODE?", "SCOP", 0},
        {mode(19), "DEV:MODE?", "SCOP", 0},
        {mode(16), "DEV2:MODE?", nullptr, kErrSuffixOutOfRange},
    });
}

TEST_F(SystemCommands, KeyLockTakesAnyNumberAsABoolean)
{
    checkSets({
        {nullptr, "SYST:KLOCK 5", 0, "1:31=1"},
        {nullptr, "SYST:KLOCK ON", 0, "1:31=1"},
        {nullptr, "SYST:KLOCK OFF", 0, "1:31=0"},
        {nullptr, "SYST:KLOCK 0", 0, "1:31=0"},
        {nullptr, "SYST2:KLOCK 1", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {[] { data.keyLock = 1; }, "SYST:KLOCK?", "1", 0},
        {[] { data.keyLock = 0; }, "SYST:KLOCK?", "0", 0},
    });
}

TEST_F(SystemCommands, SocketAddressByInterface)
{
    const std::string blank = "   .   .   .   ";
    auto wifi = [](bool withAddress) {
        return [withAddress] {
            TNetInterface w{"wifi0", true, {}, "02:42:56:00:02:0B"};
            if (withAddress)
                w.ipv4 = {{"198.51.100.7", "255.255.255.0"}, {"198.51.100.8", "255.255.255.0"}};
            ASSERT_TRUE(simSetInterface(w));
        };
    };
    checkQueries({
        {nullptr, "SYST:COMM:SOCK:ADDR?", "192.0.2.10", 0},
        {nullptr, "SYST:COMM:SOCK1:ADDR?", "192.0.2.10", 0},
        {nullptr, "SYST:COMM:SOCK2:ADDR?", blank.c_str(), 0},  // no Wi-Fi interface
        {wifi(false), "SYST:COMM:SOCK2:ADDR?", blank.c_str(), 0},
        {wifi(true), "SYST:COMM:SOCK2:ADDR?", "198.51.100.7", 0},
        {[] { ASSERT_TRUE(simRemoveInterface("eth0")); }, "SYST:COMM:SOCK:ADDR?", blank.c_str(), 0},
        {nullptr, "SYST:COMM:SOCK3:ADDR?", nullptr, kErrSuffixOutOfRange},
        {nullptr, "SYST:COMM:SOCK0:ADDR?", nullptr, kErrSuffixOutOfRange},
        {nullptr, "SYST:COMM2:SOCK:ADDR?", nullptr, kErrSuffixOutOfRange},
        {nullptr, "SYST:COMM:SOCK:ADDR2?", nullptr, kErrSuffixOutOfRange},
        {nullptr, "SYST2:COMM:SOCK:ADDR?", nullptr, kErrSuffixOutOfRange},
    });
}

TEST_F(SystemCommands, SocketSettingsGoToTheInterfaceFiles)
{
    const std::string interfaces = hostPath("/etc/network/interfaces");
    const std::string before = readWholeFile(interfaces);
    simClearToolsLog();
    checkSets({{nullptr, "SYST:COMM:SOCK:ADDR \"abc\"", kErrIllegalValue, ""}});
    EXPECT_EQ(readWholeFile(interfaces), before);
    EXPECT_EQ(simReadToolsLog(), "");

    checkSets({{nullptr, "SYST:COMM:SOCK2:ADDR \"10.1.2.3\"", 0, ""}});
    EXPECT_NE(readWholeFile(interfaces).find("10.1.2.3"), std::string::npos);
    EXPECT_NE(simReadToolsLog().find("ifup wifi0"), std::string::npos);

    const std::string station = hostPath("/media/private/sta_settings.conf");
    for (const char* security : {"WEP", "WPA-PSK", "OPEN"}) {
        simClearToolsLog();
        const std::string line = std::string("SYST:COMM:SOCK:WIFI \"lab\",\"") + security + "\",\"secret1\"";
        checkSets({{nullptr, line.c_str(), 0, ""}});
        EXPECT_NE(readWholeFile(station).find("lab"), std::string::npos) << security;
        EXPECT_NE(simReadToolsLog().find("ifup wifi0"), std::string::npos) << security;
    }
    checkSets({{nullptr, "SYST:COMM:SOCK7:WIFI \"lab7\",\"WEP\",\"k\"", 0, ""}});  // SOCKet's suffix is ignored
    EXPECT_NE(readWholeFile(station).find("lab7"), std::string::npos);
    const std::string kept = readWholeFile(station);
    checkSets({
        // Quotes, backslashes, blanks and control characters never reach the handler.
        {nullptr, "SYST:COMM:SOCK:WIFI \"a b\",\"WEP\",\"k\"", kErrInvalidString, ""},
        {nullptr, "SYST:COMM:SOCK:WIFI2 \"lab\",\"WEP\",\"k\"", kErrSuffixOutOfRange, ""},
        {nullptr, "SYST:COMM2:SOCK:WIFI \"lab\",\"WEP\",\"k\"", kErrSuffixOutOfRange, ""},
    });
    EXPECT_EQ(readWholeFile(station), kept);
}

class ClockCommands : public SystemCommands {
protected:
    void SetUp() override
    {
        SystemCommands::SetUp();
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        ::setenv("TZ", "UTC", 1);
        tzset();
        setDeviceIO(&simboard::simulatedDeviceIO());
    }
    void TearDown() override
    {
        simboard::clearOpenFault("/dev/rtc");
        setDeviceIO(nullptr);
        if (hadTz_)
            ::setenv("TZ", savedTz_.c_str(), 1);
        else
            ::unsetenv("TZ");
        tzset();
        SystemCommands::TearDown();
    }
    // Makes the activity mark with a modification time long past.
    void oldMark()
    {
        const std::string mark = hostPath(kActivityMarkFile);
        FILE* f = std::fopen(mark.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        const timespec times[2] = {{1000, 0}, {1000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, mark.c_str(), times, 0), 0);
    }
    time_t markTime()
    {
        struct stat st;
        return ::stat(hostPath(kActivityMarkFile).c_str(), &st) == 0 ? st.st_mtime : -1;
    }
    std::string rtc() { return readWholeFile(hostPath(simboard::kSimRtcFile)); }

    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(ClockCommands, QueriesReadTheLocalTime)
{
    const time_t now = ::time(nullptr);
    struct tm t{};
    gmtime_r(&now, &t);
    char date[48], clock[16];
    std::snprintf(date, sizeof date, "%04d,%02d,%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    const Outcome d = run("SYST:DATE?");
    EXPECT_EQ(d.reply, std::string(date) + "\n\r");
    const Outcome c = run("SYST:TIME?");
    ASSERT_EQ(c.reply.size(), 10u);
    EXPECT_EQ(c.reply[2], ',');
    EXPECT_EQ(c.reply[5], ',');
    std::snprintf(clock, sizeof clock, "%02d,", t.tm_hour);
    EXPECT_EQ(c.reply.substr(0, 3) == clock || t.tm_min == 59, true) << c.reply;
    EXPECT_EQ(run("SYST2:DATE?").error, kErrSuffixOutOfRange);
}

TEST_F(ClockCommands, SetsGoToTheClockThenTheSystemTime)
{
    const time_t now = ::time(nullptr);
    struct tm t{};
    gmtime_r(&now, &t);

    simClearToolsLog();
    oldMark();
    checkSets({{nullptr, "SYST:DATE 2028,2,29", 0, ""}});
    EXPECT_EQ(rtc().substr(0, 11), "2028-02-29 ");
    EXPECT_EQ(simReadToolsLog(), "hwclock -s\n");
    EXPECT_GE(markTime(), now);

    simClearToolsLog();
    checkSets({{nullptr, "SYST:TIME 7,5,3", 0, ""}});
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02d 07:05:03\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    EXPECT_EQ(rtc(), expected);
    EXPECT_EQ(simReadToolsLog(), "hwclock -s\n");

    // Passed on unchecked: the clock refuses, the command does not.
    for (const char* line : {"SYST:DATE 2027,2,30", "SYST:DATE 1969,1,1", "SYST:TIME 24,0,0", "SYST:TIME 1,60,0"}) {
        oldMark();
        checkSets({{nullptr, line, 0, ""}});
        EXPECT_EQ(rtc(), expected) << line;
        EXPECT_GE(markTime(), now) << line;
    }
    // No mark: none is made.
    ::unlink(hostPath(kActivityMarkFile).c_str());
    checkSets({{nullptr, "SYST:TIME 8,0,0", 0, ""}});
    EXPECT_EQ(markTime(), -1);

    // A missing clock: nothing more is done, and no error.
    simboard::setOpenFault("/dev/rtc");
    simClearToolsLog();
    checkSets({{nullptr, "SYST:TIME 9,0,0", 0, ""}});
    EXPECT_EQ(simReadToolsLog(), "");
    EXPECT_EQ(rtc().substr(11), "08:00:00\n");
    checkSets({{nullptr, "SYST:TIME2 9,0,0", kErrSuffixOutOfRange, ""}});
}

TEST_F(SystemCommands, HardcopyNamesAreCheckedAndPassedByAddress)
{
    checkSets({
        {nullptr, "HCOP:SDUM", 0, "1:30=0"},
        {nullptr, "HCOP:SDUM:IMM", 0, "1:30=0"},
        {nullptr, "HCOP2:SDUM", kErrSuffixOutOfRange, ""},
        {nullptr, "HCOP:SDUM:IMM2", kErrSuffixOutOfRange, ""},
    });
    const std::string fortyChars(40, 'n');
    const struct {
        const char* name;
        const char* kept;  // null: refused with -257
    } rows[] = {
        {"shot", "shot"},
        {"shot.png", "shot.png"},
        {"a-b_1", "a-b_1"},
        {fortyChars.c_str(), "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"},
        {"../x", nullptr},
        {"dir/x", nullptr},
        {".", nullptr},
        {"..", nullptr},
    };
    for (const auto& row : rows) {
        reset();
        const Outcome o = run(std::string("HCOP:SDUM \"") + row.name + "\"");
        if (!row.kept) {
            EXPECT_EQ(o.error, kErrFileName) << row.name;
            EXPECT_EQ(o.requests, "") << row.name;
            continue;
        }
        EXPECT_EQ(o.error, 0) << row.name;
        const std::string expected = "1:30=" + std::to_string(reinterpret_cast<intptr_t>(tc_g_hardcopyName));
        EXPECT_EQ(o.requests, expected) << row.name;
        EXPECT_STREQ(tc_g_hardcopyName, row.kept);
    }
}

TEST_F(SystemCommands, HelpAnswersTheKeywordListOrOneKeywordsCommands)
{
    const std::string list = SCPIDirectoryList;
    ASSERT_EQ(list.size(), 500u);
    EXPECT_EQ(list.substr(list.size() - 32), "DISPlay                MMEMory\n\r");
    EXPECT_EQ(list.find(" \n\r"), std::string::npos);  // no trailing blanks
    for (const char* line : {"HELP?", "HELP", "help?"}) {
        const Outcome o = run(line);
        EXPECT_EQ(o.error, 0) << line;
        EXPECT_EQ(o.reply, list) << line;
        EXPECT_EQ(o.requests, "") << line;
    }
    const struct {
        const char* keyword;
        const char* text;
    } rows[] = {
        {"TRAC", "TRACe:CATalog?\n\rTRACe[:DATA]? <INT1|2|3|4>\n\rTRACe:LIMit <limit1>,<limit2>,<step>\n\rTRACe:LIMit?\n\r"},
        {"*", "*CLS\n\r*ESE\n\r*ESE?\n\r*ESR?\n\r*IDN?\n\r*OPC\n\r*OPC?\n\r*RST\n\r*SRE\n\r*SRE?\n\r*STB?\n\r*TRG\n\r*TST?\n\r*WAI\n\r"},
        {"ABORT", "ABORt\n\r"},
        {"DEV", "DEVice:MODe <HOME|SCOPe|ANALYSer|LOGger|MULTimeter>\n\rDEVice:MODe?\n\r"},
        {"HCOP", "HCOPy:SDUMp[:IMMediate] [<file.png>]\n\r"},
        {"HELP", "HELP[?] <directory-entry>\n\rHELP[?]\n\r"},
        {"FORMAT", "FORMat:DINTerchange <1|0|ON|OFF>\n\rFORMat:DINTerchange?\n\rFORMat[:DATA] <INTeger|ASCii|HEXadecimal|BINary>\n\rFORMat[:DATA]?\n\r"},
        {"INIT", "INITiate:CONTinuous:NAME {EDGE|PULse|DELay|EVENt|TV|RECorder|CAPTure},<ON|OFF|1|0>\n\r"
                 "INITiate[:IMMediate]:NAME {EDGE|PULse|DELay|EVENt|TV|RECorder|CAPTure}\n\r"},
    };
    for (const auto& row : rows) {
        for (const char* form : {"HELP ", "HELP? "}) {
            const Outcome o = run(std::string(form) + row.keyword);
            EXPECT_EQ(o.error, 0) << form << row.keyword;
            EXPECT_EQ(o.reply, row.text) << form << row.keyword;
        }
    }
    // The printed oddities stay as they are.
    const std::string mmem = SCPICommandList[13];
    EXPECT_NE(mmem.find("MMEMory:MSIS [<LOCAL|SDCARD>\n\rMMEMory:MSIS?\n\r"), std::string::npos);
    EXPECT_NE(std::string(SCPICommandList[14]).find("PASSFAIL:SAVE <\"file.msk\">[,<LOCAL|SDCARDsave >]\n\r"),
              std::string::npos);
    // Every text is whole lines; table R's order decides which keyword gets which text.
    const char* const starts[kScpiHelpKeywords] = {"*CLS", "ABORt", "ARM", "AUTOSet", "CALCulate", "DEVice", "DISPlay",
                                                   "FORMat", "HCOPy", "HELP", "INITiate", "INPut", "MEASure", "MMEMory",
                                                   "PASSFAIL", "[SENSe]", "SYSTem", "TRACe", "TRIGger"};
    for (int i = 0; i < kScpiHelpKeywords; ++i) {
        const std::string text = SCPICommandList[i];
        EXPECT_EQ(text.compare(0, std::strlen(starts[i]), starts[i]), 0) << i;
        EXPECT_EQ(text.substr(text.size() - 2), "\n\r") << i;
    }
    EXPECT_NE(run("HELP XYZ").error, 0);
}

} // namespace
