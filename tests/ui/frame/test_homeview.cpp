// The root window and its bridge: notices from the controller thread, the refresh gate, mode
// views, update markers, network state and the exits that hand over to other programs.
#include "tests/ui/support/homescreen.h"

#include "board/board.h"
#include "board/netif.h"
#include "board/systools.h"
#include "core/setup.h"

#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

// The setups saved by now, as "name(private)" (the power-on setup) or "name(user)".
std::string savesText()
{
    std::string out;
    struct stat st;
    if (::stat(boardPath(kPowerOnSetupFile).c_str(), &st) == 0 && st.st_size == kSetupFileSize)
        out += " setup(private)";
    if (DIR* dir = ::opendir(boardPath(kUserSetupsDir).c_str())) {
        while (const struct dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cfg") == 0)
                out += " " + name.substr(0, name.size() - 4) + "(user)";
        }
        ::closedir(dir);
    }
    return out;
}

ssize_t reportSaves(void*, const char*, size_t size)
{
    std::fprintf(stderr, "saves:%s\n", savesText().c_str());
    return static_cast<ssize_t>(size);
}

// A stream with one byte pending: the flush that ends the process writes it, and its writer
// prints the setups on disk by then on stderr.
void reportSavesAtExit()
{
    cookie_io_functions_t io{nullptr, reportSaves, nullptr, nullptr};
    FILE* stream = fopencookie(nullptr, "w", io);
    std::fputc('x', stream);
}

void touch(const std::string& hostPath)
{
    int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT, 0666);
    ASSERT_GE(fd, 0) << hostPath;
    ::close(fd);
}

bool exists(const std::string& hostPath)
{
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0;
}

} // namespace

class HomeViewTest : public HomeScreenTest {};

TEST_F(HomeViewTest, BridgeCallsFromAnotherThreadArriveOnceInTheGuiThread)
{
    HomeView& view = load();
    // Timers and the screenshot are tested on their own.
    view.findChild<QTimer*>("refreshTimer")->stop();
    view.findChild<QObject*>("configTimer")->setProperty("running", false);
    QObject::disconnect(&view, SIGNAL(screenshotSignal(QString)), &view, SLOT(screenshotSlot(QString)));
    TSignalLog log(view);
    char text[] = "\xc3\xa9t\xc3\xa9.cfg";  // "été.cfg" in UTF-8
    char shot[] = "shot";

    std::thread controller([&] {
        view.screenMaj(42);
        view.screenRefresh();
        view.screenMessage(14, text);
        std::strcpy(text, "changed");  // the caller's buffer changes before delivery
        view.screenMessage(0, nullptr);
        view.screenIhm(1, 2, 3);
        view.screenIhm(3, 5, 179);
        view.screenIhm(2, 0, 180);
        view.screenHardcopy(shot);
        view.screenHardcopy(nullptr);
        view.screenKalvex();
        view.screenManualMeasurement();
        view.screenAutomaticMeasurement();
        view.setBrandVisible(true);
        view.refreshConfig();
        view.screenRaz();  // no view, no mode: only the creation notice
        view.showWindow();
    });
    controller.join();
    EXPECT_TRUE(log.entries().empty()) << "emitted outside the GUI thread";
    EXPECT_TRUE(view.isBrandVisible());

    const std::vector<std::string> expected = {
        "maj 42",          "refresh",   "message 14 '\xc3\xa9t\xc3\xa9.cfg'", "message 0 '' null",
        "ihm 1 2 3",       "ihm 3 5 179", "ihm 2 0 180",                      "screenshot 'shot'",
        "screenshot ''",   "kalvex",    "manual",                             "automatic",
        "brand on",        "config",    "createInstrument",
    };
    ASSERT_TRUE(processEventsUntil([&] { return view.isVisible() && log.entries().size() >= expected.size(); }));
    processEventsFor(50);
    EXPECT_EQ(log.entries(), expected);
    for (QThread* t : log.threads())
        EXPECT_EQ(t, QCoreApplication::instance()->thread());
    EXPECT_TRUE(item("brand")->isVisible());
    EXPECT_TRUE(modeViews(view).empty());
}

TEST_F(HomeViewTest, RefreshGateDropsNoticesAndTheReleaseSendsOne)
{
    HomeView& view = load();
    TSignalLog log(view);

    emit view.refreshAllowedSignal(false);  // a finger goes down on an overlay
    std::thread controller([&] {
        for (int i = 0; i < 3; ++i)
            view.screenRefresh();
    });
    controller.join();
    processEventsFor(50);
    EXPECT_TRUE(log.entries().empty());

    emit view.refreshAllowedSignal(true);  // the release
    processEventsFor(50);
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"refresh"}));

    view.screenRefresh();
    EXPECT_EQ(log.count("refresh"), 2);
}

// The acquisition notifies far faster than the screen draws: a burst of notices makes one
// refresh, the next refresh keeps a display frame's distance, and a notice after the burst is
// never lost.
TEST_F(HomeViewTest, NoticesFromTheControllerCollapseIntoOneRefreshAFrame)
{
    HomeView& view = load();
    TSignalLog log(view);
    std::vector<std::chrono::steady_clock::time_point> at;
    QObject::connect(&view, &HomeView::screenRefreshSignal, [&at] { at.push_back(std::chrono::steady_clock::now()); });

    auto burst = [&view] {
        std::thread controller([&view] {
            for (int i = 0; i < 200; ++i)
                view.screenRefresh();
        });
        controller.join();
    };
    // Taken before the first refresh: a stamp taken in the slot may come late on a busy host.
    const auto before = std::chrono::steady_clock::now();
    burst();
    ASSERT_TRUE(processEventsUntil([&] { return log.count("refresh") == 1; }));
    burst();  // right after a refresh: waits for the next frame
    ASSERT_TRUE(processEventsUntil([&] { return log.count("refresh") == 2; }));
    processEventsFor(100);
    EXPECT_EQ(log.count("refresh"), 2);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_GE(at[1] - before, HomeView::kDisplayFrame);
}

// A controller notifying without pause (a record every few milliseconds) gets one refresh a
// display frame, counted over a second: more would draw pictures the eye cannot see, and a
// stream that stalls would freeze the screen.
TEST_F(HomeViewTest, ASteadyStreamOfNoticesRefreshesOnceAFrame)
{
    HomeView& view = load();
    TSignalLog log(view);
    std::atomic<bool> stop{false};
    std::thread controller([&view, &stop] {
        while (!stop.load()) {
            view.screenRefresh();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    processEventsFor(1000);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    stop.store(true);
    controller.join();
    const int refreshes = log.count("refresh");
    // The first comes at once; a timer may come late, never early.
    EXPECT_LE(refreshes, 1 + static_cast<int>(elapsed / HomeView::kDisplayFrame) + 1);
    EXPECT_GE(refreshes, 10);
}

TEST_F(HomeViewTest, FirstModeChangeCreatesTheViewAtOnce)
{
    HomeView& view = load();
    TSignalLog log(view);
    data.instrumentMode = 0x10;
    std::thread controller([&] { view.screenRaz(); });
    controller.join();

    ASSERT_TRUE(processEventsUntil([&] { return modeViews(view) == std::vector<std::string>{"scopeView"}; }));
    EXPECT_EQ(view.scopeMode(), 0x10);
    EXPECT_EQ(log.count("raz"), 0);
    EXPECT_EQ(log.count("createInstrument"), 1);
    EXPECT_EQ(log.count("maj 0"), 1) << "the new view reads the whole setup";
}

TEST_F(HomeViewTest, ModeChangeReplacesTheView)
{
    HomeView& view = load();
    data.instrumentMode = 0x10;
    view.screenRaz();
    ASSERT_EQ(modeViews(view), std::vector<std::string>{"scopeView"});
    TSignalLog log(view);

    data.instrumentMode = 0x80;
    std::thread controller([&] { view.screenRaz(); });
    controller.join();
    ASSERT_TRUE(processEventsUntil([&] { return modeViews(view) == std::vector<std::string>{"meterView"}; }));
    EXPECT_EQ(view.scopeMode(), 0x80);
    EXPECT_EQ(log.count("raz"), 1);
    EXPECT_EQ(log.count("maj 0"), 1);

    // Home again: the view goes and none comes; the home screen takes touches again.
    data.instrumentMode = HomeView::kNoView;
    view.screenRaz();
    ASSERT_TRUE(processEventsUntil([&] { return modeViews(view).empty(); }));
    EXPECT_EQ(view.scopeMode(), HomeView::kNoView);
    EXPECT_EQ(log.count("maj 0"), 1);
}

TEST_F(HomeViewTest, ModeChangesPostedBackToBackEndWithTheViewOfTheLast)
{
    struct Case {
        int startMode;  // kNoView: no view yet
        std::vector<int> modes;
        const char* last;
    } cases[] = {
        {HomeView::kNoView, {0x10, 0x80}, "meterView"},
        {HomeView::kNoView, {0x10, 0x40, 0x82}, "loggerView"},
        {0x10, {0x40, 0x82}, "loggerView"},
        {0x10, {0x80, HomeView::kNoView}, nullptr},
        {0x80, {HomeView::kNoView, 0x100}, "viewerView"},
    };
    HomeView& view = load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.last ? c.last : "no view");
        data.instrumentMode = static_cast<uint16_t>(c.startMode);
        view.screenRaz();
        ASSERT_TRUE(processEventsUntil([&] { return view.scopeMode() == c.startMode; }));

        TSignalLog log(view);
        std::thread controller([&] {
            for (int mode : c.modes) {
                data.instrumentMode = static_cast<uint16_t>(mode);
                view.screenRaz();
            }
        });
        controller.join();
        const std::vector<std::string> expected = c.last ? std::vector<std::string>{c.last} : std::vector<std::string>{};
        ASSERT_TRUE(processEventsUntil([&] { return view.scopeMode() == c.modes.back() && modeViews(view) == expected; }));
        processEventsFor(100);
        EXPECT_EQ(modeViews(view), expected) << "a stale view stayed or a second one came";
        // Handled together, the notices make the last view once (a recorder made anew would
        // start a new file).
        EXPECT_EQ(log.count("createInstrument"), 1);
    }
}

// The user picks the next mode on a view already leaving (its destruction is due): the view made
// when it goes shows the new mode, and that mode's notice, handled later, leaves it standing,
// whether it was sent before that view was made or only after (the controller writes the mode,
// then sends the notice).
TEST_F(HomeViewTest, ModeChangeSentWhileTheViewLeavesMakesTheNextViewOnce)
{
    HomeView& view = load();
    for (const bool noticeAfterTheView : {false, true}) {
        SCOPED_TRACE(noticeAfterTheView ? "notice after the view was made" : "notice before");
        data.instrumentMode = 0x80;
        view.screenRaz();
        ASSERT_TRUE(processEventsUntil([&] { return modeViews(view) == std::vector<std::string>{"meterView"}; }));

        TSignalLog log(view);
        auto sendNotice = [&view] {
            std::thread controller([&view] { view.screenRaz(); });
            controller.join();
        };
        bool sent = false;
        auto connection = QObject::connect(&view, &HomeView::screenRazSignal, [&] {
            if (std::exchange(sent, true))
                return;
            data.instrumentMode = 0x82;
            if (!noticeAfterTheView)
                sendNotice();
        });
        sendNotice();   // the meter again, as a second tap does
        ASSERT_TRUE(processEventsUntil([&] { return modeViews(view) == std::vector<std::string>{"loggerView"}; }));
        if (noticeAfterTheView)
            sendNotice();
        processEventsFor(200);
        QObject::disconnect(connection);
        EXPECT_EQ(modeViews(view), std::vector<std::string>{"loggerView"});
        EXPECT_EQ(log.count("createInstrument"), 1) << "the recorder's view was made again";
    }
}

TEST_F(HomeViewTest, ChildKilledWithNoModeCreatesNothing)
{
    HomeView& view = load();
    TSignalLog log(view);
    view.childKilled();
    processEventsFor(50);
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"createInstrument"}));
    EXPECT_TRUE(modeViews(view).empty());

    // Still no view: the next mode change goes straight to the creation.
    data.instrumentMode = 0x40;
    view.screenRaz();
    EXPECT_EQ(modeViews(view), std::vector<std::string>{"harmonicView"});
    EXPECT_EQ(log.count("raz"), 0);
}

TEST_F(HomeViewTest, EveryModeFamilyGetsItsView)
{
    struct Case {
        int mode;
        const char* file;
        const char* view;
    } cases[] = {
        {16, "ScopeView.qml", "scopeView"},
        {17, "BusAnalysisView.qml", "busAnalysisView"},
        {18, "ScopeView.qml", "scopeView"},
        {19, "ScopeView.qml", "scopeView"},
        {64, "HarmonicView.qml", "harmonicView"},
        {128, "MeterView.qml", "meterView"},
        {129, "MeterView.qml", "meterView"},
        {130, "LoggerView.qml", "loggerView"},
        {256, "ViewerView.qml", "viewerView"},
        {0x8000, "", nullptr},
        {12345, "", nullptr},
    };
    HomeView& view = load();
    ASSERT_TRUE(showAndExpose());
    TSignalLog log(view);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(view.viewOfMode(c.mode).toStdString(), c.file);
        log.clear();
        data.instrumentMode = static_cast<uint16_t>(c.mode);
        view.screenRaz();
        processEventsFor(20);
        const std::vector<std::string> expected = c.view ? std::vector<std::string>{c.view} : std::vector<std::string>{};
        EXPECT_EQ(modeViews(view), expected);
        EXPECT_EQ(log.count("maj 0"), c.mode == 0x8000 ? 0 : 1);
        // Every view fills the window, as the real views will.
        for (QQuickItem* child : view.contentItem()->childItems()) {
            if (child->objectName().endsWith(QLatin1String("View"))) {
                EXPECT_EQ(child->size(), QSizeF(800, 480));
            }
        }

        data.instrumentMode = HomeView::kNoView;
        view.screenRaz();
        ASSERT_TRUE(processEventsUntil([&] { return modeViews(view).empty(); }));
    }
}

TEST_F(HomeViewTest, UnknownModeDoesNotBlockTheNextModeChange)
{
    HomeView& view = load();
    data.instrumentMode = 12345;
    view.screenRaz();
    EXPECT_EQ(view.scopeMode(), 12345);
    EXPECT_TRUE(modeViews(view).empty());
    data.instrumentMode = 0x10;
    view.screenRaz();
    EXPECT_EQ(modeViews(view), std::vector<std::string>{"scopeView"});
}

TEST_F(HomeViewTest, HomeToolOfAViewPostsTheHomeMode)
{
    HomeView& view = load();
    ASSERT_TRUE(showAndExpose());
    data.instrumentMode = 0x82;
    view.screenRaz();
    QQuickItem* home = item("homeTool");
    ASSERT_NE(home, nullptr);
    takeRequests();
    clickItem(*home);
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(requests[0].code, param::instrumentMode);
    EXPECT_EQ(requests[0].intValue, 0x8000);

    // The placeholder covers the home screen: its touches do not reach the mode tools.
    clickItem(*item("modeTool_Oscilloscope"));
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(HomeViewTest, BusViewSwitchStartsAndStopsTheDiagnosis)
{
    HomeView& view = load();
    ASSERT_TRUE(showAndExpose());
    data.instrumentMode = 17;
    view.screenRaz();
    QQuickItem* diag = item("busDiagTool");
    ASSERT_NE(diag, nullptr);
    for (int16_t state : {1, 0}) {
        data.busDiag = state;
        takeRequests();
        clickItem(*diag);
        const auto requests = takeRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].kind, REQ_SET_PARAM);
        EXPECT_EQ(requests[0].code, param::busDiag);
        EXPECT_EQ(requests[0].intValue, state ? 0 : 1);
    }
}

TEST_F(HomeViewTest, PropertiesAndInitialState)
{
    HomeView& view = load();
    ASSERT_TRUE(showAndExpose());
    EXPECT_EQ(view.width(), 800);
    EXPECT_EQ(view.height(), 480);
    EXPECT_EQ(view.property("scopeMode").toInt(), 0x8000);
    EXPECT_FALSE(view.isBrandVisible());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z][a-z]{2} [0-3][0-9] [0-9]{4}$"))
                    .match(view.property("build").toString())
                    .hasMatch())
        << view.property("build").toString().toStdString();
    auto* timer = view.findChild<QTimer*>("refreshTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 15000);
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(timer->isSingleShot());
    QObject* configTimer = view.findChild<QObject*>("configTimer");
    ASSERT_NE(configTimer, nullptr);
    EXPECT_EQ(configTimer->property("interval").toInt(), 2000);
    EXPECT_TRUE(configTimer->property("running").toBool());
    EXPECT_TRUE(configTimer->property("repeat").toBool());

    // The five mode tools, in order, and no update offer without an update.
    const char* labels[] = {"Oscilloscope", "Multimeter", "Logger", "Harmonic", "Bus"};
    const int values[] = {0x10, 0x80, 0x82, 0x40, 0x11};
    qreal lastX = -1;
    for (int i = 0; i < 5; ++i) {
        QQuickItem* tool = item((std::string("modeTool_") + labels[i]).c_str());
        ASSERT_NE(tool, nullptr) << labels[i];
        EXPECT_EQ(tool->property("value").toInt(), values[i]);
        EXPECT_EQ(tool->property("param").toInt(), 1) << "ScopeMode";
        EXPECT_EQ(tool->size(), QSizeF(42, 42));
        EXPECT_GT(tool->x(), lastX);
        lastX = tool->x();
        EXPECT_TRUE(tool->isVisible());
    }
    EXPECT_FALSE(item("updateOffer")->isVisible());
    EXPECT_FALSE(item("brand")->isVisible());
    EXPECT_FALSE(item("infoTool")->isVisible());
}

TEST_F(HomeViewTest, BrandFollowsTheCalibration)
{
    HomeView& view = load();
    std::thread controller([&] { view.setBrandVisible(true); });
    controller.join();
    ASSERT_TRUE(processEventsUntil([&] { return item("brand")->isVisible(); }));
    EXPECT_TRUE(view.isBrandVisible());
    view.setBrandVisible(false);
    EXPECT_FALSE(item("brand")->isVisible());
    EXPECT_FALSE(view.isBrandVisible());
}

TEST_F(HomeViewTest, MathExpressionsAreChecked)
{
    HomeView& view = load();
    EXPECT_TRUE(view.verifyFunctionValidity(QStringLiteral("ch1*ch2")));
    EXPECT_FALSE(view.verifyFunctionValidity(QString()));
    EXPECT_TRUE(view.verifyFunctionValidity(QStringLiteral("ch1")));  // the one checker is reused
}

// ---- Update markers and the update indicator

class HomeViewUpdateTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        ASSERT_EQ(::mkdir(hostPath("/media/private/update").c_str(), 0777), 0);
    }
    std::string toolsLog() { return readHostFile(hostPath(kSimToolsLog)); }
};

TEST_F(HomeViewUpdateTest, UpdateIsAvailableWhenBothMarkersAreThere)
{
    struct Case {
        bool index;
        bool downloadOk;
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    HomeView& view = load();
    for (const Case& c : cases) {
        ::unlink(hostPath("/media/private/update/index").c_str());
        ::unlink(hostPath("/media/private/update/downloadOk").c_str());
        if (c.index)
            touch(hostPath("/media/private/update/index"));
        if (c.downloadOk)
            touch(hostPath("/media/private/update/downloadOk"));
        EXPECT_EQ(view.isUpdateAvailable(), c.index && c.downloadOk) << c.index << c.downloadOk;
    }
}

TEST_F(HomeViewUpdateTest, OfferIsShownAndAcceptingItPreparesTheInstallAndReboots)
{
    touch(hostPath("/media/private/update/index"));
    touch(hostPath("/media/private/update/downloadOk"));
    HomeView& view = load();
    ASSERT_TRUE(showAndExpose());
    QQuickItem* offer = item("updateOffer");
    ASSERT_TRUE(offer->isVisible());

    clickItem(*offer);
    EXPECT_TRUE(exists(hostPath("/media/private/update/updateOk")));
    EXPECT_FALSE(exists(hostPath("/media/private/update/downloadOk")));
    EXPECT_TRUE(exists(hostPath("/media/private/update/index")));
    EXPECT_EQ(toolsLog(), "reboot\n");
    EXPECT_FALSE(view.isUpdateAvailable());

    clickItem(*offer);  // accepted already
    EXPECT_EQ(toolsLog(), "reboot\n");
}

TEST_F(HomeViewUpdateTest, InstallThatCannotBePreparedKeepsTheOffer)
{
    touch(hostPath("/media/private/update/index"));
    touch(hostPath("/media/private/update/downloadOk"));
    // A folder where the marker goes: the marker cannot be created.
    ASSERT_EQ(::mkdir(hostPath("/media/private/update/updateOk").c_str(), 0777), 0);
    HomeView& view = load();
    TSignalLog log(view);
    view.setUpdateOk();
    EXPECT_TRUE(exists(hostPath("/media/private/update/downloadOk")));
    EXPECT_FALSE(exists(hostPath(kSimToolsLog)));
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"message 19 'updateOk'"}));
    EXPECT_TRUE(view.isUpdateAvailable());
}

TEST_F(HomeViewUpdateTest, InfoToolShowsADownloadUntilItEndsThenTheTimerStops)
{
    HomeView& view = load();
    TSignalLog log(view);
    auto* timer = view.findChild<QTimer*>("refreshTimer");
    touch(hostPath("/tmp/downloadRunning"));

    view.refreshSlot();
    EXPECT_TRUE(item("infoTool")->isVisible());
    EXPECT_TRUE(timer->isActive());

    ::unlink(hostPath("/tmp/downloadRunning").c_str());
    view.refreshSlot();
    EXPECT_FALSE(item("infoTool")->isVisible());
    EXPECT_FALSE(timer->isActive());

    // A later download does not start it again.
    touch(hostPath("/tmp/downloadRunning"));
    processEventsFor(20);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"info on", "info off"}));
}

TEST_F(HomeViewUpdateTest, NoDownloadAtTheFirstTickStopsTheTimer)
{
    HomeView& view = load();
    TSignalLog log(view);
    view.refreshSlot();
    EXPECT_FALSE(view.findChild<QTimer*>("refreshTimer")->isActive());
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"info off"}));
}

// ---- Network state

TEST_F(HomeViewTest, NetworkIconAndAddressFollowTheInterfaces)
{
    struct Case {
        const char* name;
        const char* table;
        const char* icon;
        const char* address;
    } cases[] = {
        {"eth0 only (seeded)", nullptr, "images/ethernet.png", "192.0.2.10"},
        {"wifi0 up with an address", "lo up - 127.0.0.1/8\neth0 down - 192.0.2.10/24\nwifi0 up - 10.0.0.7/8\n",
         "images/wifi.png", "10.0.0.7"},
        {"both up, wifi0 last", "eth0 up - 192.0.2.10/24\nwifi0 up - 10.0.0.7/8\n", "images/wifi.png", "10.0.0.7"},
        {"both up, eth0 last", "wifi0 up - 10.0.0.7/8\neth0 up - 192.0.2.10/24\n", "images/wifi.png", "192.0.2.10"},
        {"wifi0 up without address", "eth0 up - 192.0.2.10/24\nwifi0 up -\n", "images/ethernet.png", "192.0.2.10"},
        {"wifi0 down", "eth0 up - 192.0.2.10/24\nwifi0 down - 10.0.0.7/8\n", "images/ethernet.png", "192.0.2.10"},
        {"two addresses, the last wins", "eth0 up - 192.0.2.10/24 192.0.2.11/24\n", "images/ethernet.png",
         "192.0.2.11"},
        {"nothing up", "lo up - 127.0.0.1/8\neth0 down -\n", "images/ethernet.png", ""},
    };
    HomeView& view = load();
    QObject* configTimer = view.findChild<QObject*>("configTimer");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.table) {
            ASSERT_TRUE(writeBoardFile(kSimNetifTable, c.table));
        }
        EXPECT_EQ(view.property("communicationIcon").toString().toStdString(), c.icon);
        EXPECT_EQ(view.property("ipAddress").toString().toStdString(), c.address);
        // The home screen shows them at the next tick of its timer.
        QMetaObject::invokeMethod(configTimer, "triggered");
        EXPECT_EQ(item("ipAddress")->property("text").toString().toStdString(), c.address);
        EXPECT_EQ(item("networkIcon")->property("source").toUrl().toString().toStdString(),
                  std::string("qrc:/") + c.icon);
    }
}

TEST_F(HomeViewTest, CompleteShowsTheNetworkAtOnce)
{
    HomeView& view = load();
    EXPECT_EQ(item("ipAddress")->property("text").toString(), QString());
    emit view.complete();
    EXPECT_EQ(item("ipAddress")->property("text").toString(), QStringLiteral("192.0.2.10"));
    EXPECT_EQ(item("networkIcon")->property("status").toInt(), 1) << "the icon did not load";
}

// ---- Exits: the setup is saved first, then the status tells the start-up scripts what to run

class HomeViewDeathTest : public HomeScreenTest {};

TEST_F(HomeViewDeathTest, ConfigurationToolSavesAndEndsWithStatusTwo)
{
    HomeView& view = load();
    EXPECT_EXIT(
        {
            reportSavesAtExit();
            view.launchConfig();
        },
        ::testing::ExitedWithCode(2), "saves: setup\\(private\\)\n");
}

TEST_F(HomeViewDeathTest, FileManagerToolSavesAndEndsWithStatusThree)
{
    load();
    ASSERT_TRUE(showAndExpose());
    EXPECT_EXIT(
        {
            reportSavesAtExit();
            clickItem(*item("fileManagerTool"));
        },
        ::testing::ExitedWithCode(3), "saves: setup\\(private\\)\n");
}

TEST_F(HomeViewDeathTest, PanelRequestFromTheControllerSavesAndEndsWithStatusFour)
{
    HomeView& view = load();
    EXPECT_EXIT(
        {
            reportSavesAtExit();
            std::thread controller([&] { view.screenIhm(3, 0, 180); });
            controller.join();
        },
        ::testing::ExitedWithCode(4), "saves: setup\\(private\\)\n");
}

TEST_F(HomeViewDeathTest, ConfigurationToolOfTheHomeScreenEndsWithStatusTwo)
{
    load();
    ASSERT_TRUE(showAndExpose());
    EXPECT_EXIT(clickItem(*item("configurationTool")), ::testing::ExitedWithCode(2), "");
}
