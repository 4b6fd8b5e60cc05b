// The About screen: the version query of the programs in /opt (no shell, bounded wait), the
// FPGA and hardware texts, its order, and how it opens and closes in the root window.
#include "board/board.h"
#include "board/sim/simboard.h"
#include "board/systools.h"
#include "tests/ui/support/homescreen.h"
#include "ui/frame/about.h"

#include <QDir>
#include <QPointer>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList list(std::initializer_list<const char*> entries)
{
    QStringList out;
    for (const char* e : entries)
        out << QString::fromUtf8(e);
    return out;
}

} // namespace

class AboutTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        // The FPGA answers from the start, as after its load.
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
        ASSERT_TRUE(simboard::install());
        opt_ = hostPath("/opt");
        removeTree(opt_);
    }
    void TearDown() override
    {
        HomeScreenTest::TearDown();
        if (simboard::installed())
            simboard::uninstall();
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Scenario);
    }

    void script(const std::string& name, const std::string& body)
    {
        ::mkdir(opt_.c_str(), 0755);
        const std::string path = opt_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }

    std::string opt_;
};

TEST_F(AboutTest, EmptyOrMissingOptListsOnlyTheFpgaAndTheInterface)
{
    for (bool makeOpt : {false, true}) {
        if (makeOpt)
            ::mkdir(opt_.c_str(), 0755);
        About about;
        EXPECT_EQ(about.getSoftVersion(), list({"FPGA : 3.12 , HW : 0/1/0/0", "Pelanode : 3.05"})) << makeOpt;
        EXPECT_EQ(about.getSoftCount(), 2);
    }
}

TEST_F(AboutTest, EachRegularProgramGivesItsFirstLine)
{
    script("crlf", "printf '2.0\\r\\nsecond line\\n'");
    script("Beta", "echo 1.5");
    script("alpha", "echo \"$1\"");  // shows that the argument is -V
    script("nothing", "exit 0");
    script("noend", "printf 'x'");   // a last line without its end still counts
    script("long", "printf '%0100d\\n' 0");
    // Names that a shell would run as commands: the program of that name runs, nothing else.
    script("a;touch ran", "echo safe");
    script("$(touch x)", "echo dollar");
    ::mkdir((opt_ + "/folder").c_str(), 0755);
    ASSERT_EQ(::symlink((opt_ + "/Beta").c_str(), (opt_ + "/link").c_str()), 0);
    std::ofstream(opt_ + "/plain") << "not executable\n";

    About about;
    const std::string zeros(98, '0');
    QStringList expected = list({"alpha : -V", "Beta : 1.5", "crlf : 2.0", "FPGA : 3.12 , HW : 0/1/0/0",
                                 "noend : x", "Pelanode : 3.05"});
    expected << QString::fromStdString("long : " + zeros);
    expected << QStringLiteral("a;touch ran : safe") << QStringLiteral("$(touch x) : dollar");
    expected.sort(Qt::CaseInsensitive);
    EXPECT_EQ(about.getSoftVersion(), expected);
    for (const char* made : {"ran", "x"}) {
        EXPECT_EQ(::access(made, F_OK), -1) << made;
        EXPECT_EQ(::access((SimBoardTest::root_ + "/" + made).c_str(), F_OK), -1) << made;
    }
    // Case plays no part in the order.
    const QStringList got = about.getSoftVersion();
    EXPECT_LT(got.indexOf("alpha : -V"), got.indexOf("Beta : 1.5"));
    EXPECT_LT(got.indexOf("Beta : 1.5"), got.indexOf("crlf : 2.0"));
}

TEST_F(AboutTest, ProgramThatNeverAnswersIsStoppedAndLeftOut)
{
    const std::string pidFile = hostPath("/var/tmp/hang.pid");
    script("hang", "echo $$ > '" + pidFile + "'\nexec sleep 30");
    script("quiet", "exec sleep 30");
    script("ok", "echo 1.0");
    QElapsedTimer timer;
    timer.start();
    About about;
    EXPECT_LT(timer.elapsed(), 2500);
    EXPECT_EQ(about.getSoftVersion(), list({"FPGA : 3.12 , HW : 0/1/0/0", "ok : 1.0", "Pelanode : 3.05"}));
    const pid_t pid = std::stoi(readWholeFile(pidFile));
    // Stopped and reaped: the process id is free.
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(AboutTest, FpgaAndHardwareFollowTheBoard)
{
    struct Case {
        uint32_t version;
        int boardCode;
        int bandwidthLines;
        int model;
        const char* fpga;
        const char* hardware;
    } const cases[] = {
        {0x0312, 0, 0, 4, "3.12", "0/1/0/0"},
        {0x020A, 3, 2, 2, "2.A", "3/2/0/1"},
        {0x0400, 1, 3, 4, "4.0", "1/3/0/0"},
        {0x01FF, 2, 1, 2, "1.FF", "2/1/0/1"},
    };
    About about;
    for (const Case& c : cases) {
        simboard::updateScenario([&c](simboard::TScenario& s) {
            s.fpgaVersion = c.version;
            s.boardCode = c.boardCode;
            s.bandwidthLines = c.bandwidthLines;
            s.model = c.model;
        });
        EXPECT_EQ(about.fpga().toStdString(), c.fpga) << std::hex << c.version;
        EXPECT_EQ(about.property("hardware").toString().toStdString(), c.hardware) << c.boardCode << c.bandwidthLines;
    }
}

TEST_F(AboutTest, AboutToolOpensTheBoxThatATouchOrAnInstrumentCloses)
{
    load();
    ASSERT_TRUE(showAndExpose());
    for (bool brand : {false, true}) {
        view_->setBrandVisible(brand);
        for (int close = 0; close < 2; ++close) {
            clickItem(*item("aboutTool"));
            QPointer<QQuickItem> about = item("about");
            ASSERT_FALSE(about.isNull());
            EXPECT_EQ(about->z(), 3);
            EXPECT_EQ(about->property("urlVisible").toBool(), view_->isBrandVisible());
            EXPECT_EQ(item("supportAddress")->isVisible(), view_->isBrandVisible());
            EXPECT_EQ(about->findChild<QQuickItem*>("versionList")->property("count").toInt(), 2);
            if (!brand && close == 0) {
                saveArtefact(*view_, "about.png");
            }
            if (close == 0)
                clickAt(*view_, QPointF(20, 460));
            else
                emit view_->createInstrumentSignal();
            EXPECT_TRUE(processEventsUntil([&about] { return about.isNull(); })) << close;
        }
    }
}

TEST_F(AboutTest, SimulatedOptRunsTheProgramsOfThisBuild)
{
    const std::string exe = BENCHVIEW_EXE;
    const std::string bin = exe.substr(0, exe.rfind('/'));
    // A root seeded before the scripts existed, with one stale script.
    ::mkdir(opt_.c_str(), 0755);
    std::ofstream(opt_ + "/benchview") << "#!/bin/sh\necho old\n";
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(writeSimulatedPrograms(bin));
        for (const char* name : kBoardPrograms) {
            struct stat st {};
            ASSERT_EQ(::lstat((opt_ + "/" + name).c_str(), &st), 0) << name;
            EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & 0111) == 0111) << name;
        }
    }
    std::vector<TProgramLine> programs{{"/opt/benchview", {"-V"}, false, {}}};
    readFirstLines(programs, 98, 5000);
    EXPECT_TRUE(programs[0].answered);
    EXPECT_EQ(programs[0].line, "1.12\n");
    // The screen gives each program two seconds; a loaded host may start the sanitised program
    // slower than that once.
    bool listed = false;
    for (int attempt = 0; attempt < 3 && !listed; ++attempt)
        listed = About().getSoftVersion().contains("benchview : 1.12");
    EXPECT_TRUE(listed);
}
