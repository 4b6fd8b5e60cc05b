// Channel and time-base boxes of the tuning bar: the three kinds of channel source and their
// texts, which notices rebuild which box, the web summaries field by field, the sample rate
// by trigger mode and repetitive sampling, the painted frame and ring, and the QML tuning bar.
#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/frame/homeview.h"
#include "ui/scope/toolchannel.h"
#include "ui/scope/tooltimebase.h"
#include "ui/frame/zinccolor.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kArrowUpDown = QString(QChar(0x2195));
const QString kMicro = QString(QChar(0x03BC));

// A box painted into an image of its own size.
QImage painted(QQuickPaintedItem& item)
{
    QImage image(static_cast<int>(item.width()), static_cast<int>(item.height()), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    item.paint(&painter);
    return image;
}

bool near(QColor a, QColor b, int tolerance = 12)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class ToolBoxTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 0x10;
        data.hwChannelMask = 0xF;
        data.traceFormat = 0;
        home_ = std::make_unique<HomeView>();
        po_g_homeView = home_.get();
        saved_ = setupLinks();
        char empty[TFonction::kTextSize] = {};
        for (int i = 0; i < 4; ++i) {
            traces_[i] = std::make_unique<TAcquisition>(static_cast<unsigned short>(1u << i));
            functions_[i] = std::make_unique<TFonction>(static_cast<unsigned short>(i), empty);
            setSetupLink(param::acqCh1 + i, traces_[i].get());
            setSetupLink(param::mathFunctionCh1 + i, functions_[i].get());
        }
    }
    void TearDown() override
    {
        for (auto& b : boxes_)
            b.reset();
        timebase_.reset();
        setupLinks() = saved_;
        po_g_homeView = nullptr;
        home_.reset();
        SimBoardTest::TearDown();
    }

    // The four channel boxes, built on the current setup.
    void makeBoxes()
    {
        for (int i = 0; i < 4; ++i) {
            boxes_[i] = std::make_unique<ToolChannel>();
            boxes_[i]->setSize(QSizeF(145, 70));
            boxes_[i]->setIdentifier(i);
            boxes_[i]->screenMajSlot(0);
        }
    }
    void defineFunction(int channel, const char* text)
    {
        char buffer[TFonction::kTextSize] = {};
        std::strncpy(buffer, text, sizeof buffer - 1);
        ASSERT_TRUE(functions_[channel]->SetFonctionString(buffer, false)) << text;
    }

    std::unique_ptr<HomeView> home_;
    TSetupLinks saved_{};
    std::array<std::unique_ptr<TAcquisition>, 4> traces_;
    std::array<std::unique_ptr<TFonction>, 4> functions_;
    std::array<std::unique_ptr<ToolChannel>, 4> boxes_;
    std::unique_ptr<ToolTimebase> timebase_;
};

TEST_F(ToolBoxTest, KindsOfSourceAndTheirTexts)
{
    // Channel 1 live, 1 V/div with a x10 probe, DC, 1.5 MHz limit.
    data.channelFlags = 0x1;
    data.sensitivityCh1 = 8;
    data.probeCoeffCh1 = 10.0f;
    traces_[0]->probeCoeff = 10.0f;
    data.couplingCh1 = 1;
    data.bwLimitCh1 = 2;
    data.traceColorCh1 = 4;
    // Channel 2 a math function.
    defineFunction(1, "ch1+ch1");
    data.couplingCh2 = 1;
    data.bwLimitCh2 = 1;
    // Channel 3 a recalled memory: its own stored range, coupling, bandwidth and probe.
    data.channelFlags |= 0x400;
    traces_[2]->sensitivity = 5;  // 100 mV/div
    traces_[2]->coupling = 0;
    traces_[2]->bwLimit = 3;
    traces_[2]->probeCoeff = 1.0f;
    data.sensitivityCh3 = 10;
    data.couplingCh3 = 2;
    // Channel 4 switched off: texts kept, white frame.
    data.sensitivityCh4 = 0;  // 2.5 mV/div
    data.couplingCh4 = 2;
    data.bwLimitCh4 = 0;
    makeBoxes();

    struct Expected {
        const char* name;
        QString coupling, bandwidth, range, division;
        QColor frame;
    } expected[] = {
        {"CH1", "DC", "BW lim=1,5MHz", kArrowUpDown + "80.0 V", "10.0 V/div", getZincColor(4)},
        {"F2", "", "", "", "", QColor(Qt::white)},
        {"M3", "AC", "BW lim=5kHz", kArrowUpDown + "800 mV", "100 mV/div",
         getZincColor(static_cast<unsigned short>(data.traceColorCh3))},
        {"CH4", "GND", "BW lim=No", kArrowUpDown + "20.0 mV", "2.50 mV/div", QColor(Qt::white)},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const ToolChannel& b = *boxes_[i];
        EXPECT_EQ(b.nameText(), QString::fromLatin1(expected[i].name));
        EXPECT_EQ(b.couplingText(), expected[i].coupling);
        EXPECT_EQ(b.bandwidthText(), expected[i].bandwidth);
        EXPECT_EQ(b.rangeText(), expected[i].range);
        if (i != 1) {
            EXPECT_EQ(b.divisionText(), expected[i].division);
        }
        EXPECT_EQ(b.frameColour(), expected[i].frame);
    }
    // The function's division is in divisions of its own result.
    EXPECT_TRUE(boxes_[1]->divisionText().endsWith("/div")) << boxes_[1]->divisionText().toStdString();

    // A channel the hardware lacks shows as a function even without one.
    data.hwChannelMask = 0x9;
    boxes_[2]->screenMajSlot(0);
    EXPECT_EQ(boxes_[2]->nameText(), "M3");  // the memory still wins
    data.channelFlags &= ~0x400u;
    data.couplingCh3 = 1;
    boxes_[2]->screenMajSlot(0);
    EXPECT_EQ(boxes_[2]->nameText(), "F3");
    EXPECT_EQ(boxes_[2]->couplingText(), "");
}

TEST_F(ToolBoxTest, NoticesRebuildEveryBoxOrOnlyTheirOwn)
{
    for (short* c : {&data.couplingCh1, &data.couplingCh2, &data.couplingCh3, &data.couplingCh4})
        *c = 1;
    data.measRefChannel = 1;
    makeBoxes();
    auto couplings = [this] {
        std::string out;
        for (auto& b : boxes_)
            out += b->couplingText().toStdString() + " ";
        return out;
    };
    auto references = [this] {
        std::string out;
        for (auto& b : boxes_)
            out += b->isReference() ? "R" : "-";
        return out;
    };
    ASSERT_EQ(couplings(), "DC DC DC DC ");
    ASSERT_EQ(references(), "R---");

    for (short* c : {&data.couplingCh1, &data.couplingCh2, &data.couplingCh3, &data.couplingCh4})
        *c = 0;
    struct Step {
        int code;
        int32_t measRef;
        const char* couplings;
        const char* references;
    } steps[] = {
        {200, 1, "DC DC DC DC ", "R---"},  // not a box parameter
        {17, 1, "DC AC DC DC ", "R---"},   // couplingCh2: its own box only
        {23, 4, "DC AC DC DC ", "--R-"},   // measRefChannel: the ring only, no rebuild
        {56, 4, "AC AC AC AC ", "--R-"},   // sensitivityCh2: every box
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.code);
        data.measRefChannel = static_cast<int16_t>(s.measRef);
        emit home_->screenMajSignal(s.code);
        EXPECT_EQ(couplings(), s.couplings);
        EXPECT_EQ(references(), s.references);
    }
    // Every per-channel code of channel 3 rebuilds box 3 and no other.
    for (int code : {18, 19, 44, 68, 140, 168}) {
        SCOPED_TRACE(code);
        for (short* c : {&data.couplingCh1, &data.couplingCh2, &data.couplingCh3, &data.couplingCh4})
            *c = static_cast<short>(code % 2 ? 1 : 2);
        emit home_->screenMajSignal(code);
        const std::string now = code % 2 ? "DC" : "GND";
        EXPECT_EQ(boxes_[2]->couplingText().toStdString(), now);
        EXPECT_NE(boxes_[0]->couplingText().toStdString(), now);
    }
    // The shared codes rebuild every box and set the ring.
    data.couplingCh1 = data.couplingCh4 = 1;
    data.measRefChannel = 8;
    emit home_->screenMajSignal(73);
    EXPECT_EQ(boxes_[0]->couplingText(), "DC");
    EXPECT_EQ(references(), "---R");
}

TEST_F(ToolBoxTest, WebSummaryFieldByField)
{
    data.traceOnCh1 = 1;
    data.channelFlags = 0x1;
    data.sensitivityCh1 = 8;
    data.probeCoeffCh1 = 10.0f;
    traces_[0]->probeCoeff = 10.0f;
    data.couplingCh1 = 1;
    data.bwLimitCh1 = 2;
    data.traceColorCh1 = 4;
    defineFunction(1, "ch1+ch1");
    data.traceOnCh2 = 0;
    data.traceColorCh2 = 7;
    // Channel 3: micro-volts, shown from memory only.
    data.memoryTraceCh3 = 1;
    data.traceOnCh3 = 0;
    data.sensitivityCh3 = 0;
    data.probeCoeffCh3 = 0.001f;
    traces_[2]->probeCoeff = 0.001f;
    data.couplingCh3 = 0;
    data.bwLimitCh3 = 7;  // no such limit
    data.traceColorCh3 = 12;

    EXPECT_EQ(ToolChannel::getPelanodeInfos(0), "CH1,1,4,80.00 V,10.00 V/div,DC,BW lim=1.5MHz,");
    const std::string f = ToolChannel::getPelanodeInfos(1);
    EXPECT_EQ(f.substr(0, 9), "F2,0,7,+,") << f;
    EXPECT_EQ(f.substr(f.size() - 9), "/div,+,+,") << f;
    EXPECT_EQ(ToolChannel::getPelanodeInfos(2), "CH3,1,12,20.00 uV,2.500 uV/div,AC,+,");
    EXPECT_EQ(ToolChannel::getPelanodeInfos(4), "");
    EXPECT_EQ(ToolChannel::getPelanodeInfos(0xFFFF), "");
    // The screen keeps the micro sign.
    makeBoxes();
    EXPECT_EQ(boxes_[2]->rangeText(), kArrowUpDown + "20.0 " + kMicro + "V");
}

TEST_F(ToolBoxTest, PaintedFrameBackgroundAndReferenceRing)
{
    data.channelFlags = 0x1;
    data.traceColorCh1 = 4;
    data.measRefChannel = 1;
    makeBoxes();
    const QColor colour = getZincColor(4);
    const QImage on = painted(*boxes_[0]);
    EXPECT_TRUE(near(on.pixelColor(72, 1), colour)) << on.pixelColor(72, 1).name().toStdString();
    // Light grey at the top right, black at the bottom left.
    EXPECT_GT(on.pixelColor(130, 8).lightness(), 120);
    EXPECT_LT(on.pixelColor(12, 62).lightness(), 60);
    // The ring round the reference mark.
    EXPECT_TRUE(near(on.pixelColor(124, 58), colour)) << on.pixelColor(124, 58).name().toStdString();
    const QImage off = painted(*boxes_[1]);
    EXPECT_TRUE(near(off.pixelColor(72, 1), Qt::white));
    EXPECT_FALSE(near(off.pixelColor(124, 58), Qt::white));
}

TEST_F(ToolBoxTest, TimebaseTextsAndRateSource)
{
    data.timeBaseIndex = 15;  // 1e-8 s a point, the hardware samples every 4e-7 s
    struct Case {
        int16_t trigMode;
        uint8_t repSig;
        const char* rate;
    } cases[] = {
        {2, 1, "2.50 Mech/s"},  // single shot: the hardware's rate
        {0, 0, "2.50 Mech/s"},  // no repetitive sampling: the same
        {0, 1, "100 Mech/s"},   // repetitive: the rate of the points
        {1, 1, "100 Mech/s"},
    };
    timebase_ = std::make_unique<ToolTimebase>();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        data.trigMode = c.trigMode;
        data.repSig = c.repSig;
        emit home_->screenMajSignal(5);  // any code rebuilds
        EXPECT_EQ(timebase_->rateText().toStdString(), c.rate);
        EXPECT_EQ(timebase_->durationText(), QString(QChar(0x2190)) + "1.00 ms" + QChar(0x2192));
        EXPECT_EQ(timebase_->divisionText(), "100 " + kMicro + "s/div");
        EXPECT_EQ(ToolTimebase::getPelanodeInfos(), std::string("1.00 ms,") + c.rate + ",100 us/div,");
    }
}

TEST_F(ToolBoxTest, TimebaseKeepsAWhiteFrameOnItsGradient)
{
    timebase_ = std::make_unique<ToolTimebase>();
    timebase_->setSize(QSizeF(145, 70));
    timebase_->setColor(QColor(Qt::black));
    const QImage image = painted(*timebase_);
    EXPECT_TRUE(near(image.pixelColor(72, 1), Qt::white));
    EXPECT_GT(image.pixelColor(130, 8).lightness(), 120);
    EXPECT_LT(image.pixelColor(12, 62).lightness(), 60);
}

// The tuning bar as QML builds it: one box per fitted channel and the two click signals.
class TuningBarTest : public ToolBoxTest {
protected:
    QObject* load(uint16_t hwChannels)
    {
        data.hwChannelMask = hwChannels;
        engine_ = std::make_unique<QQmlEngine>();
        QQmlComponent component(engine_.get());
        component.setData(R"(
import QtQuick 2.11
import QtQuick.Window 2.1
Window {
    width: 800; height: 100; visible: true
    property string log: ""
    ScopeTuningPanel {
        objectName: "bar"
        onChannelClickedSignal: log += "channel " + physicalChannels + " " + identifier + "\n"
        onTimebaseClickedSignal: log += "timebase\n"
    }
}
)",
                          QUrl(QStringLiteral("qrc:/tuningbar_test.qml")));
        root_.reset(component.create());
        if (!root_)
            ADD_FAILURE() << component.errorString().toStdString();
        return root_.get();
    }
    void TearDown() override
    {
        root_.reset();
        engine_.reset();
        ToolBoxTest::TearDown();
    }
    QQuickItem* content() { return qobject_cast<QQuickWindow*>(root_.get())->contentItem(); }

    TQmlWarningWatch warnings_;
    std::unique_ptr<QQmlEngine> engine_;
    std::unique_ptr<QObject> root_;
};

TEST_F(TuningBarTest, BoxesOfTheFittedChannelsAndClicks)
{
    struct Case {
        uint16_t mask;
        std::vector<int> shown;
    } cases[] = {{0xF, {0, 1, 2, 3}}, {0x9, {0, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        ASSERT_TRUE(load(c.mask));
        auto* window = qobject_cast<QQuickWindow*>(root_.get());
        ASSERT_TRUE(processEventsUntil([window] { return window->isExposed(); }));
        std::vector<int> shown;
        for (int i = 0; i < 4; ++i) {
            QQuickItem* box = need(content(), ("toolChannel" + std::to_string(i + 1)).c_str());
            ASSERT_TRUE(box);
            if (box->isVisible())
                shown.push_back(i);
        }
        EXPECT_EQ(shown, c.shown);
        // The last box shown, then the time-base box right of it.
        QQuickItem* last = need(content(), ("toolChannel" + std::to_string(c.shown.back() + 1)).c_str());
        QQuickItem* timebase = need(content(), "toolTimebase");
        ASSERT_TRUE(last && timebase);
        EXPECT_GT(timebase->mapToScene(QPointF(0, 0)).x(), last->mapToScene(QPointF(0, 0)).x() + 144);
        // Below the 20-pixel name strip the box answers; on it nothing.
        clickAt(*window, last->mapToScene(QPointF(70, 10)));
        clickAt(*window, last->mapToScene(QPointF(70, 45)));
        clickItem(*timebase);
        EXPECT_EQ(takeLog(root_.get()),
                  QStringList({QString("channel %1 %2").arg(c.mask).arg(c.shown.back()), "timebase"}));
        // Pressed look: 5 pixels right and down while held.
        const QPointF rest = last->mapToScene(QPointF(0, 0));
        const QPointF at = last->mapToScene(QPointF(70, 45));
        QMouseEvent press(QEvent::MouseButtonPress, at, at, window->mapToGlobal(at.toPoint()), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QGuiApplication::sendEvent(window, &press);
        EXPECT_EQ(last->mapToScene(QPointF(0, 0)), rest + QPointF(5, 5));
        QMouseEvent release(QEvent::MouseButtonRelease, at, at, window->mapToGlobal(at.toPoint()), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QGuiApplication::sendEvent(window, &release);
        EXPECT_EQ(last->mapToScene(QPointF(0, 0)), rest);
        takeLog(root_.get());
        root_.reset();
        engine_.reset();
    }
}
