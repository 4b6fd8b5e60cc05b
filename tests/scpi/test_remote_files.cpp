// A remote user's view of the scope settings, the measurement queries and the mass-memory
// commands: a running benchview on a simulated board of the test's own, over loopback TCP.
#include "board/board.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "tests/scpi/benchview_fixture.h"
#include "tests/support/poweronsetup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto kStartTimeout = 60s;
constexpr int kReplyTimeoutMs = 30000;
const std::string kNoError = "0,No error \n\r";

class RemoteScope : public BenchviewScpiTest {
protected:
    // The 1 kHz square of 2 Vpp on channel 1 and a 2 kHz square on channel 2.
    void writeSignals()
    {
        simboard::TScenario s = simboard::defaultScenario();
        s.signals[0].shape = "square";
        s.signals[0].vpp = 2.0;
        s.signals[0].frequency = 1000.0;
        s.signals[1].shape = "square";
        s.signals[1].vpp = 2.0;
        s.signals[1].frequency = 2000.0;
        ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, simboard::scenarioToJson(s)));
    }

    // Starts on the prepared power-on setup (scope mode unless the edit says otherwise), or on the
    // home screen without one.
    void startWith(const std::function<void(database&)>& edit, const std::vector<std::string>& env = {})
    {
        writeSignals();
        if (edit) {
            ASSERT_EQ(writePowerOnSetup(edit), 0);
        }
        start(env);
        ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", kStartTimeout)) << process_.log();
        fd_ = connectClient();
        ASSERT_GE(fd_, 0) << process_.log();
        if (edit)
            waitForScope();
    }

    // The batch recall at the end of start-up applies the prepared setup and its mode; INT5 passes
    // every guard but the mode's. Then a few records are acquired.
    void waitForScope()
    {
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            std::string out = ask("MEAS:FREQ? INT5\nSYST:ERR?\n");
            if (out.compare(0, 7, "-----\n\r") == 0) {
                if (out.size() == 7)
                    out += ask("");
                ASSERT_EQ(out.substr(7), kNoError);
                std::this_thread::sleep_for(1s);
                return;
            }
            ASSERT_EQ(out, "-221,Settings conflict\n\r") << process_.log();
            std::this_thread::sleep_for(100ms);
        }
        FAIL() << "not in scope mode: " << process_.log();
    }

    // Writes the lines and reads until `replies` terminators arrived.
    std::string ask(const std::string& lines, size_t replies = 1)
    {
        return askScpi(fd_, lines, replies, kReplyTimeoutMs);
    }

    std::string error() { return ask("SYST:ERR?\n"); }

    // Exactly n bytes of the stream, or what came before the time-out.
    std::string readExactly(size_t n, int timeoutMs = kReplyTimeoutMs)
    {
        return ::readExactly(fd_, n, timeoutMs);
    }

    std::string userFile(const std::string& name) { return root_ + "/media/user/" + name; }

    static void writeHostFile(const std::string& path, const std::string& content)
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }

    static bool exists(const std::string& path)
    {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }

    int fd_ = -1;
};

double number(const std::string& reply)
{
    char* end = nullptr;
    const double v = std::strtod(reply.c_str(), &end);
    return end && std::string(end) == "\n\r" ? v : NAN;
}

TEST_F(RemoteScope, SettingsAreTakenAndReadBack)
{
    startWith(scopeOnChannel1);
    struct Case {
        const char* set;
        const char* query;
        const char* reply;
    } cases[] = {
        {"INP1:COUP AC", "INP1:COUP?", "AC"},
        {"INP2:COUP GRO", "INP2:COUP?", "GRO"},
        {"CALC:MATH3 (ch1-ch2)", "CALC:MATH3?", "(ch1-ch2)"},
        {"CALC:TRAN:FREQ:WIND HAMM", "CALC:TRAN:FREQ:WIND?", "HAMM"},
        {"AVER:COUN 10", "AVER:COUN?", "4"},
        {"AVER:TYPE ENV", "AVER:TYPE?", "ENV"},
        {"AVER ON", "AVER?", "1"},
        {"BAND2 1e6", "BAND2?", "1.5e6"},
        {"VOLT2:RANG:OFFS 1", "VOLT2:RANG:OFFS?", "1.00e+00"},
        {"VOLT1:RANG:PTP?", "VOLT1:RANG:PTP?", "8.00e+00"},
        {"VOLT1:RANG:PTP MAX", "VOLT1:RANG:PTP?", "1.60e+03"},
        {"VOLT2:RANG:PTP 4", "VOLT2:RANG:PTP?", "4.00e+00"},
        {"SWE:OFFS:TIME -2e-3", "SWE:OFFS:TIME?", "-2.00e-03"},
        {"CALC:TRAN:FREQ ON", "CALC:TRAN:FREQ?", "1"},
        {"CALC:TRAN:FREQ OFF", "CALC:TRAN:FREQ?", "0"},
    };
    for (const Case& c : cases) {
        const std::string set = std::string(c.set) + "\n";
        if (std::string(c.set) != c.query) {
            EXPECT_EQ(ask(set + "*OPC?\n"), "1\n\r") << c.set;
        }
        EXPECT_EQ(ask(std::string(c.query) + "\n"), std::string(c.reply) + "\n\r") << c.set;
    }
    EXPECT_EQ(error(), kNoError);
}

// The measurement box is never shown: each query measures its own channel from the first one on.
TEST_F(RemoteScope, EachChannelReportsItsOwnFrequencyFromTheFirstQuery)
{
    startWith([](database& d) {
        scopeOnChannel1(d);
        d.traceOnCh2 = 1;
        d.bwLimitCh2 = 0;  // no 5 kHz filter on the faster square
        d.cursorState = 0;
    });
    ASSERT_EQ(ask("MEAS:FREQ? INT1\n"), "1.000e+03\n\r");
    const double f2 = number(ask("MEAS:FREQ? INT2\n"));
    EXPECT_NEAR(f2, 2000.0, 2000.0 * 0.005);
    EXPECT_EQ(ask("MEAS:FREQ? INT1\n"), "1.000e+03\n\r");
    EXPECT_NEAR(number(ask("MEAS:PER? INT2\n")), 5e-4, 5e-4 * 0.005);
    EXPECT_EQ(ask("MEAS:FREQ? INT5\n"), "-----\n\r");
    EXPECT_EQ(ask("MEAS:FREQ? INT3\nSYST:ERR?\n"), "-221,Settings conflict\n\r");
    EXPECT_EQ(error(), kNoError);
}

} // namespace

namespace {

std::string repeat(char c, size_t n)
{
    return std::string(n, c);
}

// The entries of a catalogue reply after "<count>,0", as "name,TYPE,size" texts, sorted.
std::vector<std::string> catalogue(const std::string& reply, std::string* head)
{
    std::vector<std::string> fields;
    std::string body = reply.substr(0, reply.size() - 2);
    size_t start = 0;
    for (;;) {
        const size_t comma = body.find(',', start);
        fields.push_back(body.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    *head = fields.size() >= 2 ? fields[0] + "," + fields[1] : reply;
    std::vector<std::string> entries;
    for (size_t i = 2; i + 2 < fields.size(); i += 3)
        entries.push_back(fields[i] + "," + fields[i + 1] + "," + fields[i + 2]);
    std::sort(entries.begin(), entries.end());
    return entries;
}

TEST_F(RemoteScope, FilesMoveAsBlocksAndNamesStayInsideTheMedia)
{
    startWith(scopeOnChannel1);
    // Exact examples: an empty medium, a block both ways, the current directory.
    EXPECT_EQ(ask("MMEM:CAT?\n"), "0,0\n\r");
    EXPECT_EQ(ask("MMEM:DATA \"a.txt\",#15hello\nMMEM:DATA? \"a.txt\"\n"), "#15hello\n\r");
    EXPECT_EQ(ask("MMEM:CAT?\n"), "1,0,a.txt,ASC,5\n\r");
    EXPECT_EQ(ask("MMEM:CDIR \"/traces\"\nMMEM:CDIR?\n"), "/traces/\n\r");
    EXPECT_EQ(ask("MMEM:CDIR \"\"\nMMEM:CDIR?\n"), "/\n\r");
    EXPECT_EQ(ask("MMEM:CDIR \"traces\"\nMMEM:CDIR?\n"), "/traces/\n\r");
    EXPECT_EQ(ask("MMEM:CDIR \"/\"\nMMEM:CDIR?\n"), "/\n\r");
    EXPECT_EQ(error(), kNoError);

    // Outside the medium: a link to the private folder, and a link to a file there.
    const std::string secret = root_ + "/media/private/setup.cfg";
    const std::string secretContent = readWholeFile(secret);
    ASSERT_EQ(::symlink((root_ + "/media/private").c_str(), userFile("out").c_str()), 0);
    ASSERT_EQ(::symlink(secret.c_str(), userFile("evil.cfg").c_str()), 0);
    const std::string dir60 = "/" + repeat('c', 60);
    const std::string deep127 = repeat('b', 21) + "/" + repeat('a', 28) + ".txt";
    const std::string deep128 = repeat('b', 22) + "/" + repeat('a', 28) + ".txt";
    struct Case {
        std::string lines;
        std::string error;  // the first SYST:ERR? reply afterwards
    } cases[] = {
        {"MMEM:DEL \"" + repeat('n', 29) + ".txt\"", "-257,File name error"},
        {"MMEM:DEL \"" + repeat('n', 28) + ".txt\"", "-256,File name not found"},
        {"MMEM:DEL \"a.b.txt\"", "-257,File name error"},
        {"MMEM:DEL \"a:b.txt\"", "-257,File name error"},
        {"MMEM:DEL \"../private/setup.cfg\"", "-257,File name error"},
        {"MMEM:DEL \"out/setup.cfg\"", "-257,File name error"},
        {"MMEM:DEL \"evil.cfg\"", "-256,File name not found"},
        {"MMEM:DEL \"/media/user/a.txt\"", "-200,Execution error"},
        {"MMEM:DEL \"/tmpx/a.txt\"", "-200,Execution error"},
        {"MMEM:DEL \"/tmp/../media/private/setup.cfg\"", "-257,File name error"},
        {"MMEM:DEL \"/tmp/nothing.txt\"", "-256,File name not found"},
        {"MMEM:DATA? \"out/setup.cfg\"", "-257,File name error"},
        {"MMEM:DATA? \"evil.cfg\"", "-256,File name not found"},
        {"MMEM:DATA? \"missing.txt\"", "-256,File name not found"},
        {"MMEM:DATA \"out/x.cfg\",#13abc", "-257,File name error"},
        {"MMEM:DATA \"../x.cfg\",#13abc", "-257,File name error"},
        {"MMEM:LOAD:STAT \"out/setup.cfg\"", "-257,File name error"},
        {"MMEM:LOAD:STAT \"evil.cfg\"", "-256,File name not found"},
        {"MMEM:STOR:STAT \"out/x\"", "-257,File name error"},
        {"MMEM:STOR:TRAC \"out/x.trc\"", "-257,File name error"},
        {"MMEM:CDIR \"/../../etc\"", "-257,File name error"},
        {"MMEM:CDIR \"a/../b\"", "-257,File name error"},
        {"MMEM:CDIR \"" + dir60 + "\";:MMEM:DEL \"" + deep127 + "\"", "-256,File name not found"},
        {"MMEM:CDIR \"" + dir60 + "\";:MMEM:DEL \"" + deep128 + "\"", "-257,File name error"},
        {"MMEM:CDIR \"/nothere\";:MMEM:CAT?", "-200,Execution error"},
        {"MMEM:MSIS SDCARD", "-253,Corrupt media"},
    };
    for (const Case& c : cases) {
        std::string out = ask(c.lines + "\nSYST:ERR?\n");
        // Only the catalogue of a missing directory answers before its error.
        if (out.compare(0, 5, "0,0\n\r") == 0)
            out = out.substr(5).empty() ? ask("") : out.substr(5);
        EXPECT_EQ(out, c.error + "\n\r") << c.lines;
        EXPECT_EQ(error(), kNoError) << c.lines;
        ask("MMEM:CDIR \"/\"\n*OPC?\n");
    }
    EXPECT_EQ(ask("MMEM:CDIR?\n"), "/\n\r");
    // Nothing outside was written, removed or linked.
    EXPECT_EQ(readWholeFile(secret), secretContent);
    EXPECT_FALSE(exists(root_ + "/media/private/x.cfg"));
    EXPECT_FALSE(exists(root_ + "/media/x.cfg"));
    EXPECT_TRUE(exists(userFile("evil.cfg")));

    // The second medium once it is there.
    EXPECT_EQ(ask("MMEM:MSIS?\n"), "LOCAL\n\r");
    ASSERT_EQ(::mkdir(userFile("sdcard_p1").c_str(), 0777), 0);
    EXPECT_EQ(ask("MMEM:MSIS SDCARD\nMMEM:MSIS?\n"), "SDCARD\n\r");
    EXPECT_EQ(ask("MMEM:CAT?\n"), "0,0\n\r");
    EXPECT_EQ(ask("MMEM:DATA \"s.txt\",#12sd\nMMEM:CAT? LOCAL\n").find(",s.txt"), std::string::npos);
    EXPECT_EQ(readWholeFile(userFile("sdcard_p1/s.txt")), "sd");
    EXPECT_EQ(ask("MMEM:MSIS\nMMEM:MSIS?\n"), "LOCAL\n\r");
    EXPECT_EQ(error(), kNoError);
}

TEST_F(RemoteScope, CatalogueListsRegularFilesByType)
{
    startWith(scopeOnChannel1);
    writeHostFile(userFile("b.trc"), repeat('t', 20));
    writeHostFile(userFile("c.bin"), "123");
    writeHostFile(userFile("d.HTM"), "<p>");
    writeHostFile(userFile("e.rec"), "");
    writeHostFile(userFile("f.fct"), "ch1");
    writeHostFile(userFile("g.mac"), "m");
    writeHostFile(userFile("x.y.z"), "not listed");
    ASSERT_EQ(::mkdir(userFile("sub.dir").c_str(), 0777), 0);
    ASSERT_EQ(::mkfifo(userFile("p.txt").c_str(), 0666), 0);
    ASSERT_EQ(::symlink(userFile("c.bin").c_str(), userFile("l.bin").c_str()), 0);
    EXPECT_EQ(ask("MMEM:STOR:STAT \"a\"\n*OPC?\n"), "1\n\r");
    std::string head;
    const std::vector<std::string> entries = catalogue(ask("MMEM:CAT?\n"), &head);
    EXPECT_EQ(head, "7,0");
    EXPECT_EQ(entries, (std::vector<std::string>{"a.cfg,STAT,1360", "b.trc,TRAC,20", "c.bin,BIN,3", "d.HTM,ASC,3",
                                                 "e.rec,TRAC,0", "f.fct,ASC,3", "g.mac,MACR,1"}));
    EXPECT_EQ(error(), kNoError);
}

} // namespace

namespace {

// A setup file of the defaults with one change, written by the core's writer at a host path.
void writeSetupFile(const std::string& boardFile, const std::function<void(database&)>& edit)
{
    database kept;
    std::memcpy(&kept, &data, sizeof kept);
    data = init_par;
    edit(data);
    ASSERT_EQ(SetupSave(boardFile.c_str(), false, ""), 0) << boardFile;
    std::memcpy(&data, &kept, sizeof kept);
}

TEST_F(RemoteScope, StoresAndLoadsGoThroughTheController)
{
    startWith(scopeOnChannel1);
    // The setup is stored here, traces and functions by the controller.
    EXPECT_EQ(ask("AVER:COUN 16\nMMEM:STOR:STAT \"s16\"\n*OPC?\n"), "1\n\r");
    EXPECT_EQ(readWholeFile(userFile("s16.cfg")).size(), 1360u);
    EXPECT_EQ(ask("CALC:MATH2 (ch1*2)\nMMEM:STOR:MACR INT1,\"m1.fct\"\nMMEM:STOR:TRAC \"t1\"\n*OPC?\n"), "1\n\r");
    EXPECT_TRUE(exists(userFile("m1.fct")));
    EXPECT_TRUE(exists(userFile("t1.trc")));
    EXPECT_EQ(ask("MMEM:STOR:STAT \"/tmp/s2\"\n*OPC?\n"), "1\n\r");
    EXPECT_TRUE(exists(root_ + "/tmp/s2.cfg"));
    EXPECT_EQ(error(), kNoError);

    // Loads link the file into the batch directory and the controller recalls it; the extension
    // is compared without case.
    ASSERT_EQ(::rename(userFile("s16.cfg").c_str(), userFile("x.CFG").c_str()), 0);
    EXPECT_EQ(ask("AVER:COUN 0\nMMEM:LOAD:STAT \"x.CFG\"\nAVER:COUN?\n"), "16\n\r");
    EXPECT_EQ(ask("AVER:COUN 2\nMMEM:LOAD:STAT \"/tmp/s2.cfg\"\nAVER:COUN?\n"), "16\n\r");
    // A link of the same name from before is replaced by the one the command names.
    writeSetupFile("/media/user/y.cfg", [](database& d) { d.averageCount = 2; });
    ASSERT_EQ(::symlink((root_ + "/tmp/s2.cfg").c_str(), (root_ + "/media/private/batch/y.cfg").c_str()), 0);
    EXPECT_EQ(ask("MMEM:LOAD:STAT \"y.cfg\"\nAVER:COUN?\n"), "4\n\r");
    EXPECT_EQ(ask("MMEM:LOAD:TRAC \"t1.trc\"\nMMEM:LOAD:MACR INT2,\"m1.fct\"\nCALC:MATH2?\n"), "(ch1*2)\n\r");
    EXPECT_EQ(error(), kNoError);
    EXPECT_EQ(ask("MMEM:LOAD:STAT \"/media/user/x.cfg\"\nSYST:ERR?\n"), "-200,Execution error\n\r");
    EXPECT_EQ(ask("MMEM:LOAD:STAT \"x.trc\"\nSYST:ERR?\n"), "-257,File name error\n\r");
    EXPECT_EQ(ask("MMEM:LOAD:TRAC \"t1\"\nSYST:ERR?\n"), "-257,File name error\n\r");
    EXPECT_EQ(ask("MMEM:LOAD:STAT \"none.cfg\"\nSYST:ERR?\n"), "-256,File name not found\n\r");
}

TEST_F(RemoteScope, TheHomeScreenRefusesStoresAndARefusedBlockRunsNothing)
{
    startWith(nullptr);
    writeSetupFile("/media/user/scope.cfg", scopeOnChannel1);
    writeHostFile(userFile("a.txt"), "old");
    EXPECT_EQ(ask("AVER:COUN 16\n*OPC?\n"), "1\n\r");
    for (const char* line : {"MMEM:STOR:STAT \"a\"", "MMEM:STOR:TRAC \"t\"", "MMEM:STOR:MACR INT1,\"m\"",
                             "MMEM:DEL \"a.txt\"", "MMEM:DATA? \"a.txt\""}) {
        EXPECT_EQ(ask(std::string(line) + "\nSYST:ERR?\n"), "-221,Settings conflict\n\r") << line;
    }
    // The block's bytes are drained: its "*RST" never runs.
    EXPECT_EQ(ask("MMEM:DATA \"a.txt\",#16\n*RST\n\nSYST:ERR?\n"), "-221,Settings conflict\n\r");
    EXPECT_EQ(ask("AVER:COUN?\nSYST:ERR?\n", 2), "16\n\r" + kNoError);
    EXPECT_EQ(readWholeFile(userFile("a.txt")), "old");
    // Loads are taken on the home screen.
    EXPECT_EQ(ask("MMEM:LOAD:STAT \"scope.cfg\"\n*OPC?\n"), "1\n\r");
    waitForScope();
    EXPECT_EQ(ask("MMEM:DATA? \"a.txt\"\n"), "#13old\n\r");
    // With nothing shown there is no trace to store.
    EXPECT_EQ(ask("CALC:MATH1:DEL\nMMEM:STOR:TRAC \"t2\"\nSYST:ERR?\n"), "-221,Settings conflict\n\r");
    EXPECT_EQ(error(), kNoError);
}

TEST_F(RemoteScope, UploadsAndDownloadsKeepTheirFraming)
{
    startWith(scopeOnChannel1, {"BENCHVIEW_SCPI_BLOCK_TIMEOUT_MS=1500"});
    // Every byte value, CR and LF included, both ways.
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    EXPECT_EQ(ask("MMEM:DATA \"all.bin\",#3256" + bytes + "\nMMEM:DATA? \"all.bin\"\n"), "#3256" + bytes + "\n\r");

    // A block over 64 MiB is drained and refused; nothing is written.
    const long over = (64L << 20) + 1;
    ASSERT_TRUE(writeAll(fd_, "MMEM:DATA \"big.bin\",#8" + std::to_string(over)));
    const std::string mib(1 << 20, '\n');
    for (long sent = 0; sent < over; sent += static_cast<long>(mib.size()))
        ASSERT_TRUE(writeAll(fd_, mib.substr(0, static_cast<size_t>(std::min<long>(over - sent, mib.size())))));
    EXPECT_EQ(ask("\nSYST:ERR?\n"), "-222,Data out of range\n\r");
    EXPECT_FALSE(exists(userFile("big.bin")));
    EXPECT_EQ(error(), kNoError);

    // A client that stalls inside its block: -360, and the old file stays whole. (The line end in
    // the block lets the interpreter take the message.)
    writeHostFile(userFile("keep.txt"), "old content");
    ASSERT_TRUE(writeAll(fd_, "MMEM:DATA \"keep.txt\",#220abc\n"));
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(ask("\nSYST:ERR?\n"), "-360,Communication error\n\r");
    EXPECT_EQ(readWholeFile(userFile("keep.txt")), "old content");
    EXPECT_EQ(ask("MMEM:CAT?\n").find(".keep"), std::string::npos);
    EXPECT_EQ(error(), kNoError);

    // A FIFO is no file to send: refused at once.
    ASSERT_EQ(::mkfifo(userFile("f.txt").c_str(), 0666), 0);
    EXPECT_EQ(ask("MMEM:DATA? \"f.txt\"\nSYST:ERR?\n"), "-256,File name not found\n\r");

    // A file cut short while it is sent: the announced length still arrives, then -200.
    const size_t size = 16u << 20;
    writeHostFile(userFile("cut.bin"), std::string(size, 'x'));
    ASSERT_TRUE(writeAll(fd_, "MMEM:DATA? \"cut.bin\"\n"));
    std::this_thread::sleep_for(300ms);  // the reply queue fills while nothing is read
    ASSERT_EQ(::truncate(userFile("cut.bin").c_str(), 1000), 0);
    const std::string reply = readExactly(2 + 8 + size + 2);
    ASSERT_EQ(reply.size(), 2 + 8 + size + 2);
    EXPECT_EQ(reply.substr(0, 10), "#8" + std::to_string(size));
    EXPECT_EQ(reply.substr(10, 1000), std::string(1000, 'x'));
    EXPECT_EQ(reply.substr(reply.size() - 3), std::string("\0\n\r", 3));
    EXPECT_EQ(error(), "-200,Execution error\n\r");
}

} // namespace

namespace {

// A real VISA client (Debian's PyVISA with its pure-Python backend): a measurement, a trace stored
// and fetched back as a block, every byte value sent and fetched. Fails when the packages are missing.
TEST_F(RemoteScope, AVisaClientMeasuresStoresAndFetchesFiles)
{
    startWith([](database& d) {
        scopeOnChannel1(d);
        d.bwLimitCh1 = 0;  // the square's edges unfiltered
    });
    std::string output;
    EXPECT_EQ(runClientScript(PYVISA_FILES_SCRIPT, &output), 0) << output;
    EXPECT_NE(output.find("OK"), std::string::npos) << output;
}

} // namespace
