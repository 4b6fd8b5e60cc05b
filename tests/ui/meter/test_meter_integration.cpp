// The multimeter tried as a new user would: the whole program in this process (controller,
// acquisition, root window) on the simulated board of the test's own root. The user opens the
// meter through the mode tool, sees its status line, reads channel 1's sine and channel 4's DC in
// the meter boxes (fed as the meter panel feeds them), and changes a coupling with the meter
// coupling key.
#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "tests/ui/support/program_fixture.h"
#include "ui/frame/meterchannel.h"
#include "ui/traces/loggerpanel.h"
#include "ui/meter/meterpanel.h"
#include "ui/frame/powerchannel.h"
#include "ui/meter/meterstatusline.h"
#include "ui/frame/metermeasurement.h"

#include <QElapsedTimer>

#include <dirent.h>
#include <QQuickItem>

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

void post(int parameter, intptr_t value)
{
    pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, senderValue(MENU_id)};
    ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
}

class MeterIntegrationTest : public ProgramTest {
protected:
    // The panel of the meter view (looked up each time: the controller may have the view made
    // anew).
    MeterPanel* panel() { return qobject_cast<MeterPanel*>(item("meterPanel")); }
    MeterMeasurement* reading(int i)
    {
        MeterPanel* p = panel();
        return p ? p->measurement(i) : nullptr;
    }
    MeterChannel* box(int i)
    {
        MeterPanel* p = panel();
        return p ? p->box(i) : nullptr;
    }
    // Runs the events (the panel feeds its boxes every 200 ms) until the condition holds.
    bool feedUntil(const std::function<bool()>& done) { return processEventsUntil(done, kTimeoutMs); }
    QQuickItem* tool(const char* view, const char* name)
    {
        QQuickItem* v = item(view);
        return v ? findItem(v, QString::fromLatin1(name)) : nullptr;
    }
    // Clicks a tool of the view, or one of its options.
    void use(const char* view, const char* name, const char* option = nullptr)
    {
        QQuickItem* t = tool(view, name);
        ASSERT_NE(t, nullptr) << name;
        if (!option) {
            clickItem(*t);
            return;
        }
        clickItem(*findItem(t, QStringLiteral("optionsButton")));
        processEventsFor(600);
        QQuickItem* o = findItem(t, QString::fromLatin1(option));
        ASSERT_NE(o, nullptr) << option;
        clickItem(*o);
        // The row fades out over half a second, longer on a loaded host: until it is gone it
        // covers the readings below it.
        QQuickItem* row = findItem(t, QStringLiteral("optionsRow"));
        EXPECT_TRUE(processEventsUntil([row] { return !row || row->opacity() == 0.0; }, kTimeoutMs)) << option;
    }
    bool showing(const char* name)
    {
        return processEventsUntil([&] { return modeViews(*view_) == std::vector<std::string>{name}; }, kTimeoutMs);
    }
    bool activityMark() { return ::access(hostPath("/var/tmp/auto_off").c_str(), F_OK) == 0; }
};

} // namespace

PROGRAM_TEST_F(MeterIntegrationTest, NewUserReadsTheMeterAndChangesACoupling)
{
    simboard::TSignal dc;
    dc.offset = 1.5;
    simboard::setSignal(3, dc);
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;

    // Voltage on channels 1 and 4, then the mode tool.
    post(param::meterFunction, 0);
    post(param::traceOnCh1, 1);
    post(param::traceOnCh4, 1);
    ASSERT_TRUE(processEventsUntil([] { return data.meterFunction == 0 && data.traceOnCh4 != 0; }, kTimeoutMs));
    QQuickItem* modeTool = item("modeTool_Multimeter");
    ASSERT_NE(modeTool, nullptr);
    clickItem(*modeTool);
    ASSERT_TRUE(processEventsUntil(
        [&] { return data.instrumentMode == 0x80 && modeViews(view) == std::vector<std::string>{"meterView"}; },
        kTimeoutMs));

    // The meter's own status line at the bottom of the view: running. (Looked up each time: the
    // controller may have the view made anew.)
    const auto line = [&] { return qobject_cast<MeterStatusLine*>(item("meterStatusLine")); };
    ASSERT_NE(line(), nullptr);
    EXPECT_EQ(line()->height(), 35);
    EXPECT_EQ(line()->mapToScene(QPointF(0, 0)).y() + line()->height(), view.height());
    ASSERT_TRUE(processEventsUntil([&] { return line() && line()->trigger() == QStringLiteral("running"); },
                                   kTimeoutMs));

    // The panel's boxes: one per installed channel.
    ASSERT_NE(panel(), nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(box(i), nullptr) << i;
    EXPECT_FALSE(activityMark());
    ASSERT_NE(reading(0), nullptr);
    ASSERT_NE(reading(3), nullptr);

    // The 2 Vpp 1 kHz sine: about 0.707 V, near 1 kHz with the frequency tool.
    use("meterView", "frequencyTool");
    float v = 0.0f;
    EXPECT_TRUE(feedUntil([&] {
        MeterMeasurement* ch1 = reading(0);
        return ch1 && ch1->numericValue(&v) == 0 && std::fabs(v - 0.7071f) < 0.02f && ch1->frequencyStatus() == 0 &&
               ch1->frequencyText().startsWith(QStringLiteral("Freq: "));
    }));
    float hz = 0.0f;
    mesures r{};
    pthread_mutex_lock(&o_g_autoMeasMutex);
    r = setupLinks().measResultsPtr[0];
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    ASSERT_NE(reading(0), nullptr);
    EXPECT_EQ(reading(0)->getMeasurementValue(MeterMeasurement::MEAS_METER_FREQUENCY, &r, &hz), 0);
    EXPECT_NEAR(hz, 1000.0f, 10.0f);

    // Channel 4 at DC 1.5 V, coupled DC by a posted request: about 1.5 V.
    post(param::meterCouplingCh4, 1);
    EXPECT_TRUE(feedUntil([&] {
        MeterMeasurement* ch4 = reading(3);
        return ch4 && ch4->identifier() == MeterMeasurement::MEAS_METER_DC && ch4->numericValue(&v) == 0 &&
               std::fabs(v - 1.5f) < 0.03f;
    }));
    EXPECT_TRUE(feedUntil([&] { return box(3) && box(3)->couplingText() == QStringLiteral("DC"); }));
    EXPECT_EQ(box(3)->title(), QStringLiteral("CH4"));
    EXPECT_TRUE(feedUntil([&] { return box(0) && box(0)->line2().startsWith(QStringLiteral("Freq: ")); }))
        << (box(0) ? box(0)->line2().toStdString() : "no box");
    // Passed on to the traces, where the remote queries read it.
    EXPECT_TRUE(feedUntil([] { return std::fabs(setupLinks().acqCh4->measureValue - 1.5f) < 0.03f; }));
    processEventsFor(300);
    saveArtefact(view, "meter-voltage.png");

    // The meter coupling key: the active channel's coupling moves on, its box follows. A
    // coupling has no status-line texts: the line keeps "running" and shows no setting.
    const int16_t couplings[4] = {data.meterCouplingCh1, data.meterCouplingCh2, data.meterCouplingCh3,
                                  data.meterCouplingCh4};
    simboard::pressKeys(0x20000);
    processEventsFor(150);
    simboard::releaseKeys(0x20000);
    int changed = -1;
    ASSERT_TRUE(feedUntil([&] {
        const int16_t now[4] = {data.meterCouplingCh1, data.meterCouplingCh2, data.meterCouplingCh3,
                                data.meterCouplingCh4};
        for (int ch = 0; ch < 4; ++ch)
            if (now[ch] != couplings[ch])
                changed = ch;
        return changed >= 0;
    }));
    if (changed == 0 || changed == 3) {
        const int16_t code = changed == 0 ? data.meterCouplingCh1 : data.meterCouplingCh4;
        EXPECT_TRUE(feedUntil([&] {
            MeterChannel* b = box(changed);
            return b && b->couplingText() == MeterMeasurement::couplingText(code);
        }));
    }
    ASSERT_NE(line(), nullptr);
    EXPECT_EQ(line()->trigger(), QStringLiteral("running"));
    EXPECT_TRUE(line()->misc1().isEmpty());

    // A setting with status-line texts shows them for 2 s.
    post(param::displayBrightness, data.displayBrightness == 9 ? 5 : 9);
    ASSERT_TRUE(processEventsUntil([&] { return line() && !line()->misc1().isEmpty(); }, kTimeoutMs));
    processEventsFor(200);
    saveArtefact(view, "meter-status-line.png");
    ASSERT_TRUE(processEventsUntil([&] { return line() && line()->misc1().isEmpty(); }, kTimeoutMs));
}

// The function and power tools rebuild the boxes; the recorder tool records until the meter tool
// ends it, leaving one record file dated at its first record; the activity mark is away in both
// views and back on the home screen.
PROGRAM_TEST_F(MeterIntegrationTest, NewUserSwitchesFunctionsAndRecords)
{
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;
    // Channel 1 alone shown.
    post(param::traceOnCh1, 1);
    for (int p : {param::traceOnCh2, param::traceOnCh3, param::traceOnCh4})
        post(p, 0);
    ASSERT_TRUE(processEventsUntil([] { return (data.channelFlags & 0xF) == 1; }, kTimeoutMs));
    clickItem(*item("modeTool_Multimeter"));
    ASSERT_TRUE(showing("meterView"));

    use("meterView", "functionTool", "option1");
    EXPECT_TRUE(feedUntil([&] { return reading(0) && reading(0)->iconName() == QStringLiteral("ch1_ohm.png"); }));
    use("meterView", "functionTool", "option3");
    EXPECT_TRUE(feedUntil([&] { return data.meterFunction == 3 && box(0) && !box(1) && !box(3); }));
    EXPECT_EQ(box(0)->position(), QPointF(170, 145));
    use("meterView", "powerTool", "option0");
    EXPECT_TRUE(feedUntil([&] { return data.meterFunction == 8 && panel() && panel()->powerBox(); }));
    processEventsFor(600);
    saveArtefact(view, "meter-power.png");
    use("meterView", "functionTool", "option0");
    ASSERT_TRUE(feedUntil([&] { return data.meterFunction == 0 && panel() && !panel()->powerBox(); }));

    use("meterView", "recorderTool");
    ASSERT_TRUE(showing("loggerView"));
    EXPECT_FALSE(activityMark());
    processEventsFor(3000);
    use("loggerView", "meterTool");
    ASSERT_TRUE(showing("meterView"));
    EXPECT_FALSE(activityMark());

    const std::string dir = LoggerPanel::loggerFolder();
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        ::closedir(d);
    }
    ASSERT_EQ(names.size(), 1u);
    const std::string bytes = readWholeFile(dir + "/" + names[0]);
    ASSERT_GE(bytes.size(), 192u);
    // Channel 1 alone: one info block, then 4 bytes a record, five a second.
    EXPECT_EQ(bytes.substr(128, 4), std::string("\x01\x00\x00\x00", 4));
    ASSERT_GT(bytes.size(), 256u);
    EXPECT_EQ((bytes.size() - 256u) % 4u, 0u);
    EXPECT_GE((bytes.size() - 256u) / 4u, 10u);
    // Named and dated at its first record.
    EXPECT_EQ(names[0].substr(0, 7), "tavlin_");
    EXPECT_EQ(names[0].substr(7, 19), bytes.substr(42, 19));

    use("meterView", "homeTool");
    ASSERT_TRUE(processEventsUntil([&] { return modeViews(view).empty(); }, kTimeoutMs));
    EXPECT_TRUE(activityMark());
}
