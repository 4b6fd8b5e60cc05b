// The ZC commands of the factory in process: the requests they post (through the handler's array,
// or handed over one by one to a releasing controller that serves a known calibration record),
// the record they hand back and the replies they write.
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "network/serverHTTP.h"
#include "scpi/blockdata.h"
#include "scpi/handler.h"
#include "tests/scpi/handler_cases.h"
#include "tests/scpi/releaser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The requests handed over, "code=value" each (kind 1 and zero aux/float checked).
std::string handedOver(const std::vector<pipe_dial>& records)
{
    std::string out;
    for (const pipe_dial& r : records) {
        EXPECT_EQ(r.kind, REQ_SET_PARAM);
        EXPECT_EQ(r.auxValue, 0);
        EXPECT_EQ(r.floatValue, 0.0f);
        const bool address = r.code == param::calibrationRead || r.code == param::calibrationWrite;
        out += (out.empty() ? "" : " ") + std::to_string(r.code) +
               (address ? std::string() : "=" + std::to_string(static_cast<long long>(r.intValue)));
    }
    return out;
}

const char* const kFetch = "3=1 128";
const std::string kEdit = std::string(kFetch) + " " + kFetch + " 129";

class FactoryCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        std::memcpy(&live_, &CalibUsine, sizeof live_);
        std::memcpy(live_.modelName, "QV-TEST", 8);
        std::memcpy(live_.serialNumber, "SN0001", 7);
        std::memcpy(live_.identificationCode, "42", 3);
        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < 16; ++i)
                setCalibrationMeterGain(live_, ch, i, 1.0f);
        setCalibrationMeterOffset(live_, 0, 1, 10.0f);
        calibrationStampChecksum(live_);
        savedBandwidth_ = us_g_swBandwidth.load();
    }
    void TearDown() override
    {
        us_g_swBandwidth.store(savedBandwidth_);
        memform(1, 0);
        ScpiHandlerTest::TearDown();
    }
    void reset() override
    {
        ScpiHandlerTest::reset();
        data.instrumentMode = 16;
        data.channelFlags = 1;  // channel 1 shown, as the scope starts
    }

    struct Exchange {
        Outcome outcome;
        std::string handed;
        std::vector<calibration> written;
    };
    // One unit with the controller stand-in running.
    Exchange exchange(const std::string& line)
    {
        Releaser controller(&live_);
        Exchange e;
        e.outcome = run(line, false);
        e.handed = handedOver(controller.stop());
        e.written = controller.written();
        return e;
    }

    // A unit whose block bytes follow its header, then a second unit on the same session.
    struct BlockExchange {
        int error = 0;
        std::string handed;
        std::vector<calibration> written;
        int nextError = 0;
        std::string nextReply;
    };
    BlockExchange blockUnit(const std::string& head, const std::string& bytes, const std::string& next)
    {
        Releaser controller(&live_);
        TScpiMemorySession session;
        session.send(head + bytes + "\n" + next + "\n");
        BlockExchange b;
        {
            TUnitReader reader;
            TUnitResult r = reader.readUnit();
            b.error = r.error ? r.error : r.handlerResult;
            if (r.blockPending) {
                skip(&reader.l);
                scpiEndOfMessage();
            }
        }
        session.takeReplies();
        TUnitReader reader;
        TUnitResult r = reader.readUnit();
        b.nextError = r.error ? r.error : r.handlerResult;
        b.nextReply = session.takeReplies();
        b.handed = handedOver(controller.stop());
        b.written = controller.written();
        return b;
    }

    static std::string bytesOf(const calibration& c)
    {
        return std::string(reinterpret_cast<const char*>(&c), sizeof c);
    }
    // Offsets where two records differ.
    static std::vector<size_t> differences(const calibration& a, const calibration& b)
    {
        std::vector<size_t> out;
        for (size_t i = 0; i < sizeof a; ++i)
            if (calibrationBytes(a)[i] != calibrationBytes(b)[i])
                out.push_back(i);
        return out;
    }

    calibration live_{};
    uint16_t savedBandwidth_ = 0;
};

TEST_F(FactoryCommands, SuffixRulesOfEveryHeaderPostNothing)
{
    const char* const channelled[] = {"CAT", "CDC", "CORTEMP", "DMM", "LVL", "PIP", "VN", "VOS", "VP"};
    const char* const params[] = {" 1,1", "", " 1", " 8,1,1,7,7", "", " 1", "", "", ""};
    std::vector<std::string> lines;
    for (size_t i = 0; i < sizeof channelled / sizeof *channelled; ++i) {
        const std::string h = channelled[i];
        for (const char* form : {"ZC:CAL:%s0", "ZC:CAL:%s5", "ZC2:CAL:%s1", "ZC:CAL2:%s4"}) {
            char line[64];
            std::snprintf(line, sizeof line, form, h.c_str());
            lines.push_back(line + std::string(params[i]));
        }
    }
    for (const char* h : {"ACQS", "BW 60", "BW?", "FLASH", "IDENT \"a\",\"b\"", "IGAM", "INIT", "LIST?", "SNUM \"x\"",
                          "SNUM?", "TST?"}) {
        std::string head = h;
        const size_t end = head.find_first_of(" ?");
        const std::string leaf = head.substr(0, end);
        const std::string rest = end == std::string::npos ? "" : head.substr(end);
        lines.push_back("ZC:CAL:" + leaf + "2" + rest);
        lines.push_back("ZC3:CAL:" + leaf + rest);
        lines.push_back("ZC:CAL2:" + leaf + rest);
    }
    lines.push_back("ZC2:HTTP? \"/index.html\"");
    lines.push_back("ZC:HTTP2? \"/index.html\"");
    for (const std::string& line : lines) {
        reset();
        const Exchange e = exchange(line);
        EXPECT_EQ(e.outcome.error, kErrSuffixOutOfRange) << line;
        EXPECT_EQ(e.outcome.requests, "") << line;
        EXPECT_EQ(e.handed, "") << line;
        EXPECT_EQ(e.outcome.reply, "") << line;
    }
}

TEST_F(FactoryCommands, CalibrationStepsRunOnlyInScopeModeWithAChannelShown)
{
    struct Case {
        const char* line;
        int32_t step;
        intptr_t channel;
    };
    const Case cases[] = {{"ZC:CAL:INIT", 0, 0}, {"ZC:CAL:VOS1", 3, 0}, {"ZC:CAL:LVL2", 4, 1}, {"ZC:CAL:VP3", 5, 2},
                          {"ZC:CAL:VN4", 6, 3},  {"ZC:CAL:CDC2", 7, 1}, {"ZC:CAL:IGAM", 13, 0}};
    for (const Case& c : cases) {
        reset();
        TScpiMemorySession session;
        session.send(std::string(c.line) + "\n");
        TUnitReader reader;
        const TUnitResult r = reader.readUnit();
        EXPECT_EQ(r.handlerResult, 0) << c.line;
        ASSERT_EQ(reader.requestCount, 2) << c.line;
        EXPECT_EQ(reader.requests[0].code, param::acqRunStop);
        EXPECT_EQ(reader.requests[0].intValue, 1);
        EXPECT_EQ(reader.requests[1].kind, REQ_SET_PARAM);
        EXPECT_EQ(reader.requests[1].code, param::calRange) << c.line;
        EXPECT_EQ(reader.requests[1].intValue, c.step) << c.line;
        EXPECT_EQ(reader.requests[1].auxValue, c.channel) << c.line;

        for (uint16_t mode : {18, 19, 128, 0x8000}) {
            reset();
            data.instrumentMode = mode;
            const Outcome o = run(c.line, false);
            EXPECT_EQ(o.error, kErrSettingsConflict) << c.line << " in mode " << mode;
            EXPECT_EQ(o.requests, "") << c.line;
        }
        // Every channel off: the acquisition stays parked and the step could never run; it is
        // refused at once instead of holding the interpreter.
        reset();
        data.channelFlags = 0;
        const Outcome o = run(c.line, false);
        EXPECT_EQ(o.error, kErrSettingsConflict) << c.line << " with no channel shown";
        EXPECT_EQ(o.requests, "") << c.line;
    }
    checkSets({
        {nullptr, "ZC:CAL:ACQS", 0, "2:11=0 1:38=16"},
        {nullptr, "ZC:CAL:FLASH", 0, "1:131=0"},
    });
}

TEST_F(FactoryCommands, EditCommandsChangeTheirBytesInOneFetchChangeSendSequence)
{
    struct Case {
        const char* line;
        std::vector<std::pair<size_t, std::string>> bytes;  // offset, new bytes
    };
    const auto int32Bytes = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const Case cases[] = {
        {"ZC:CAL:CAT2 300,5", {{1386 + 16 + 5, std::string(1, char(300 & 0xFF))}}},
        {"ZC:CAL:CAT4 7,15", {{1386 + 48 + 15, std::string(1, char(7))}}},
        {"ZC:CAL:PIP3 513", {{356, std::string(1, char(1))}}},
        {"ZC:CAL:CORTEMP4 -123456", {{2102, int32Bytes(-123456)}}},
        {"ZC:CAL:IDENT \"ABCDEFGHIJKL\",\"xy\"",
         {{4, std::string("ABCDEFGHI\0", 10)}, {14, std::string("xy\0\0\0\0\0\0\0\0", 10)}}},
        {"ZC:CAL:SNUM \"SN-42\"", {{24, std::string("SN-42\0", 6)}}},
        {"ZC:CAL:SNUM \"ABCDEFGHIJKLMNOPQRS\"", {{24, std::string("ABCDEFGHIJKLMNOPQRS\0", 20)}}},
    };
    for (const Case& c : cases) {
        reset();
        const Exchange e = exchange(c.line);
        EXPECT_EQ(e.outcome.error, 0) << c.line;
        EXPECT_EQ(e.outcome.requests, "") << c.line;
        EXPECT_EQ(e.handed, kEdit) << c.line;
        ASSERT_EQ(e.written.size(), 1u) << c.line;
        calibration expected = live_;
        for (const auto& b : c.bytes)
            std::memcpy(calibrationBytes(expected) + b.first, b.second.data(), b.second.size());
        EXPECT_EQ(differences(e.written[0], expected), std::vector<size_t>()) << c.line;
    }
}

TEST_F(FactoryCommands, RefusedEditsPostNothing)
{
    struct Case {
        const char* line;
        int error;
        const char* handed;  // what reaches the controller
    };
    const std::string fetchOnly = std::string(kFetch) + " " + kFetch;
    const Case cases[] = {
        {"ZC:CAL:CAT1 1,16", kErrDataOutOfRange, ""},
        {"ZC:CAL:CAT1 1,-1", kErrDataOutOfRange, ""},
        {"ZC:CAL:SNUM \"ABCDEFGHIJKLMNOPQRST\"", kErrStringTooLong, ""},
        {"ZC:CAL:DMM1 8,1,2,7,7", kErrExecution, ""},        // |2 - 1| above 0.8
        {"ZC:CAL:DMM1 8,1,1,7,7.9", kErrExecution, ""},      // |7.9 - 7| above 0.8
        {"ZC:CAL:DMM1 8,1,1.05,1,1.05", kErrExecution, ""},  // P4 = P2: no gain
        {"ZC:CAL:DMM1 0,0,0,0,0", kErrExecution, ""},        // no nominal
        {"ZC:CAL:DMM1 -8,1,1,7,7", kErrExecution, ""},
        {"ZC:CAL:DMM1 8,1,0.3,7,7.7", kErrExecution, fetchOnly.c_str()},  // gain 1.23
        {"ZC:CAL:DMM1 8,1,1.7,7,6.3", kErrExecution, fetchOnly.c_str()},  // gain 0.77
        {"ZC:CAL:PIP1 MAX", kErrQuery, ""},
        {"ZC:CAL:CORTEMP1 DEF", kErrQuery, ""},
        {"ZC:CAL:CAT1 MIN,1", kErrQuery, ""},
        {"ZC:CAL:DMM1 MAX,1,1,7,7", kErrQuery, ""},
        {"ZC:CAL:BW INF", kErrQuery, ""},
    };
    for (const Case& c : cases) {
        reset();
        const Exchange e = exchange(c.line);
        EXPECT_EQ(e.outcome.error, c.error) << c.line;
        EXPECT_EQ(e.handed, c.handed) << c.line;
        EXPECT_TRUE(e.written.empty()) << c.line;
    }
}

TEST_F(FactoryCommands, MeterTrimFromTwoPairsOfReadings)
{
    struct Case {
        const char* line;
        int channel, range, gainIndex;
        float p[5];
    };
    const Case cases[] = {
        {"ZC:CAL:DMM1 8,1,1.05,7,7.2", 0, 1, 9, {8, 1, 1.05f, 7, 7.2f}},      // 8 is below 8.01
        {"ZC:CAL:DMM2 0.5,0.1,0.11,0.5,0.52", 1, 0, 6, {0.5f, 0.1f, 0.11f, 0.5f, 0.52f}},
        {"ZC:CAL:DMM3 50,10,10.2,40,40.5", 2, 2, 12, {50, 10, 10.2f, 40, 40.5f}},
        {"ZC:CAL:DMM4 400,100,101,300,303", 3, 3, 15, {400, 100, 101, 300, 303}},
    };
    for (const Case& c : cases) {
        reset();
        const Exchange e = exchange(c.line);
        EXPECT_EQ(e.outcome.error, 0) << c.line;
        ASSERT_EQ(e.written.size(), 1u) << c.line;
        const calibration& w = e.written[0];
        // An independent reading of the arithmetic, in double precision throughout.
        const double gain = (double(c.p[4]) - c.p[2]) / (double(c.p[3]) - c.p[1]) *
                            calibrationMeterGain(live_, c.channel, c.gainIndex);
        const double offset = calibrationMeterOffset(live_, c.channel, c.range) +
                              ((double(c.p[4]) + c.p[2]) - (double(c.p[3]) + c.p[1])) * 262080.0 / (4.0 * c.p[0]);
        EXPECT_NEAR(calibrationMeterGain(w, c.channel, c.gainIndex), gain, 1e-5) << c.line;
        EXPECT_NEAR(calibrationMeterOffset(w, c.channel, c.range), offset, std::fabs(offset) * 1e-4 + 0.5) << c.line;
        // Nothing else moved.
        calibration rest = w;
        setCalibrationMeterGain(rest, c.channel, c.gainIndex, calibrationMeterGain(live_, c.channel, c.gainIndex));
        setCalibrationMeterOffset(rest, c.channel, c.range, calibrationMeterOffset(live_, c.channel, c.range));
        EXPECT_EQ(differences(rest, live_), std::vector<size_t>()) << c.line;
    }
}

TEST_F(FactoryCommands, BandwidthVariantBandsAndQuery)
{
    const struct {
        const char* set;
        const char* reply;
    } cases[] = {{"ZC:CAL:BW 100", "100"}, {"ZC:CAL:BW 61", "100"}, {"ZC:CAL:BW 1000", "300"},
                 {"ZC:CAL:BW 60", "60"},   {"ZC:CAL:BW 0", "60"},   {"ZC:CAL:BW 101", "300"}};
    for (const auto& c : cases) {
        const Exchange e = exchange(c.set);
        EXPECT_EQ(e.outcome.error, 0) << c.set;
        EXPECT_EQ(e.outcome.requests, "") << c.set;
        EXPECT_EQ(e.handed, "") << c.set;
        EXPECT_EQ(run("ZC:CAL:BW?").reply, std::string(c.reply) + "\n\r") << c.set;
    }
}

TEST_F(FactoryCommands, SelfTestResultInTheFourFormats)
{
    struct Case {
        uint16_t result;
        unsigned char format;
        std::string reply;
    };
    const Case cases[] = {
        {0xFFFF, 0, "0\n\r"},
        {0xFF5A, 0, "165\n\r"},
        {0xFF5A, 1, "#HA5\n\r"},
        {0xFF5A, 2, "#B10100101\n\r"},
        {0xFFFF, 2, "#B0\n\r"},
        {0xFF5A, 3, std::string("\xA5\x00\n\r", 4)},
        {0x00FE, 0, "1\n\r"},  // the low 8 bits only
    };
    for (const Case& c : cases) {
        data.selfTestResult = c.result;
        memform(1, c.format);
        const Outcome o = run("ZC:CAL:TST?");
        EXPECT_EQ(o.error, 0);
        EXPECT_EQ(o.reply, c.reply) << std::hex << c.result << " format " << int(c.format);
    }
}

TEST_F(FactoryCommands, SerialNumberQueryWithTheIdentificationCode)
{
    struct Case {
        std::string serial;  // 20 bytes as stored
        std::string code;    // 8 bytes as stored
        unsigned char format;
        std::string reply;
    };
    const std::string full20(20, 'S');
    const Case cases[] = {
        {std::string("SN1\0", 4), std::string("7\0", 2), 3, std::string("SN1-0007\0\n\r", 11)},
        {std::string("SN1\0", 4), std::string("7\0", 2), 0, "83,78,49,45,48,48,48,55,0,\n\r"},
        {full20, "ABCDEFGH", 3, full20 + "-ABCDEFGH" + std::string("\0\n\r", 3)},
        {std::string("A\0", 2), std::string("\0", 1), 3, std::string("A-0000\0\n\r", 9)},
    };
    for (const Case& c : cases) {
        std::memset(live_.serialNumber, 0, sizeof live_.serialNumber);
        std::memset(live_.identificationCode, 0, sizeof live_.identificationCode);
        std::memcpy(live_.serialNumber, c.serial.data(), std::min(c.serial.size(), sizeof live_.serialNumber));
        std::memcpy(live_.identificationCode, c.code.data(), std::min(c.code.size(), sizeof live_.identificationCode));
        memform(1, c.format);
        const Exchange e = exchange("ZC:CAL:SNUM?");
        EXPECT_EQ(e.outcome.error, 0);
        EXPECT_EQ(e.handed, std::string(kFetch) + " " + kFetch);
        EXPECT_EQ(e.outcome.reply, c.reply) << c.serial;
    }
}

TEST_F(FactoryCommands, RecordBlockRoundTripAndRefusals)
{
    memform(1, 3);
    const Exchange query = exchange("ZC:CAL:LIST?");
    EXPECT_EQ(query.outcome.error, 0);
    EXPECT_EQ(query.handed, std::string(kFetch) + " " + kFetch);
    EXPECT_EQ(query.outcome.reply, "#42422" + bytesOf(live_) + "\n\r");

    // The same block back, in INTeger and, taken raw all the same, in ASCii.
    for (unsigned char format : {3, 0}) {
        memform(1, format);
        const BlockExchange b = blockUnit("ZC:CAL:LIST #42422", bytesOf(live_), "ZC:CAL:BW?");
        EXPECT_EQ(b.error, 0) << int(format);
        EXPECT_EQ(b.handed, std::string(kFetch) + " 129") << int(format);
        ASSERT_EQ(b.written.size(), 1u);
        EXPECT_EQ(differences(b.written[0], live_), std::vector<size_t>());
        EXPECT_EQ(b.nextError, 0);
    }
    memform(1, 3);

    // Another instrument's record: its serial number, meter offsets and trims are taken, the
    // identity and the reserved bytes stay this instrument's.
    calibration other = live_;
    std::memcpy(other.modelName, "OTHER", 6);
    std::memcpy(other.serialNumber, "SN9999", 7);
    std::memcpy(other.identificationCode, "99", 3);
    setCalibrationMeterOffset(other, 2, 3, -77.0f);
    other.reserved116[0] = 0xEE;
    other.trimP22[3][15] = 0x42;
    setCalibrationDate(other, 123456789);
    calibrationStampChecksum(other);
    BlockExchange b = blockUnit("ZC:CAL:LIST #42422", bytesOf(other), "ZC:CAL:BW?");
    EXPECT_EQ(b.error, 0);
    ASSERT_EQ(b.written.size(), 1u);
    calibration expected = live_;
    std::memcpy(expected.serialNumber, other.serialNumber, sizeof expected.serialNumber);
    setCalibrationMeterOffset(expected, 2, 3, -77.0f);
    expected.trimP22[3][15] = 0x42;
    setCalibrationDate(expected, 123456789);
    EXPECT_EQ(differences(b.written[0], expected), std::vector<size_t>());

    // One byte changed under the old checksum: refused after the fetch, nothing handed back.
    std::string damaged = bytesOf(live_);
    damaged[1000] ^= 0x10;
    b = blockUnit("ZC:CAL:LIST #42422", damaged, "ZC:CAL:BW?");
    EXPECT_EQ(b.error, kErrExecution);
    EXPECT_EQ(b.handed, kFetch);
    EXPECT_TRUE(b.written.empty());

    // Another announced length: its bytes are drained and the next command still runs.
    for (const std::string& bytes : {std::string("abc;ZC:CAL:BW 100"), bytesOf(live_) + "X"}) {
        us_g_swBandwidth.store(1);
        char head[32];
        std::snprintf(head, sizeof head, "ZC:CAL:LIST #4%04zu", bytes.size());
        b = blockUnit(head, bytes, "ZC:CAL:BW?");
        EXPECT_EQ(b.error, kErrDataOutOfRange) << head;
        EXPECT_EQ(b.handed, "") << head;
        EXPECT_EQ(b.nextError, 0) << head;
        EXPECT_EQ(b.nextReply, "300\n\r") << head;
    }
}

TEST_F(FactoryCommands, BuiltInWebFilesAsRawBlocks)
{
    const THttpPage index = getHttpPseudoFileHeader("/index.html");
    ASSERT_NE(index.data, nullptr);
    const std::string body(index.data, static_cast<size_t>(index.length));
    char head[32];
    std::snprintf(head, sizeof head, "#%zu%d", std::to_string(index.length).size(), index.length);
    for (unsigned char format : {0, 3}) {
        memform(1, format);
        for (const char* path : {"\"/index.html\"", "\"/index.html.bak\""}) {
            const Outcome o = run(std::string("ZC:HTTP? ") + path);
            EXPECT_EQ(o.error, 0) << path;
            EXPECT_EQ(o.reply, head + body + "\n\r") << path;
        }
    }
    const Outcome unknown = run("ZC:HTTP? \"/no/such/file\"");
    EXPECT_EQ(unknown.error, kErrExecution);
    EXPECT_EQ(unknown.reply, "");
}

} // namespace
