// Measurement table of the four channels: the posts on showing and hiding (none at creation nor
// during a fade), no computation while hidden, the four lists of "title: text", the column
// colours, the painted columns and the clamped scrolling.
#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/scope/automeastype.h"
#include "ui/frame/homeview.h"
#include "ui/frame/zinccolor.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

std::vector<std::pair<int32_t, intptr_t>> posted()
{
    std::vector<std::pair<int32_t, intptr_t>> out;
    for (const pipe_dial& r : takeRequests()) {
        EXPECT_EQ(r.kind, REQ_SET_PARAM);
        EXPECT_EQ(r.senderId, senderValue(MENU_id));
        out.emplace_back(r.code, r.intValue);
    }
    return out;
}

using Posts = std::vector<std::pair<int32_t, intptr_t>>;

} // namespace

class AutomeasTypeTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 0x10;
        home_ = std::make_unique<HomeView>();
        po_g_homeView = home_.get();
        saved_ = setupLinks();
        for (int i = 0; i < 4; ++i) {
            traces_[i] = std::make_unique<TAcquisition>(static_cast<unsigned short>(1u << i));
            setSetupLink(param::acqCh1 + i, traces_[i].get());
        }
        setupLinks().measResultsPtr = records_;
        window_ = std::make_unique<QQuickWindow>();
        window_->resize(760, 130);
        table_ = new AutomeasType(window_->contentItem());
        table_->setSize(QSizeF(740, 105));
        takeRequests();
    }
    void TearDown() override
    {
        window_.reset();
        setupLinks() = saved_;
        po_g_homeView = nullptr;
        home_.reset();
        SimBoardTest::TearDown();
    }

    // Waits until all four lists hold their 20 texts.
    bool waitForLists()
    {
        return processEventsUntil([this] {
            for (int i = 0; i < 4; ++i)
                if (table_->list(i).size() != kAutoMeasCount)
                    return false;
            return true;
        });
    }

    std::unique_ptr<HomeView> home_;
    TSetupLinks saved_{};
    std::array<std::unique_ptr<TAcquisition>, 4> traces_;
    mesures records_[9] = {};
    std::unique_ptr<QQuickWindow> window_;
    AutomeasType* table_ = nullptr;  // owned by the window's content
};

TEST_F(AutomeasTypeTest, PostsOnlyWhenShownOrHidden)
{
    // Created hidden, as the dialog panel holds it: nothing is posted.
    table_->setOpacity(0);
    EXPECT_EQ(posted(), Posts());
    // Shown: every channel measured, then the automatic cursors.
    table_->setOpacity(0.3);
    EXPECT_EQ(posted(), (Posts{{23, 8191}, {93, 3}}));
    // The rest of the fade posts nothing.
    table_->setOpacity(0.7);
    table_->setOpacity(1);
    EXPECT_EQ(posted(), Posts());
    table_->setOpacity(0);
    EXPECT_EQ(posted(), (Posts{{23, 1}, {93, 0}}));
    table_->setOpacity(0);
    EXPECT_EQ(posted(), Posts());
}

TEST_F(AutomeasTypeTest, MeasuresTheFourChannelsOnlyWhileShown)
{
    table_->setOpacity(0);
    emit home_->screenRefreshSignal();
    table_->screenAutomaticMeasurementSlot();
    processEventsFor(200);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(table_->list(i).isEmpty()) << i;

    // Channel 2 has a peak-to-peak; the others hold nothing.
    records_[1].flags = 0x3;
    records_[1].maxCode = 524256 + 32760;
    records_[1].minCode = 524256 - 32760;
    data.sensitivityCh2 = 8;
    int changed[4] = {};
    QObject::connect(table_, &AutomeasType::measurementListCh1Changed, [&] { ++changed[0]; });
    QObject::connect(table_, &AutomeasType::measurementListCh2Changed, [&] { ++changed[1]; });
    QObject::connect(table_, &AutomeasType::measurementListCh3Changed, [&] { ++changed[2]; });
    QObject::connect(table_, &AutomeasType::measurementListCh4Changed, [&] { ++changed[3]; });
    table_->setOpacity(1);
    emit home_->screenRefreshSignal();
    ASSERT_TRUE(waitForLists());
    ASSERT_TRUE(processEventsUntil([&] { return changed[0] && changed[1] && changed[2] && changed[3]; }));
    EXPECT_EQ(table_->measurementListCh1().first(), "vmin: ----- ");
    EXPECT_EQ(table_->measurementListCh1().last(), "ov_neg: ----- ");
    EXPECT_EQ(table_->measurementListCh4()[15], "freq: ----- ");
    const QString vpp = table_->measurementListCh2()[2];
    EXPECT_TRUE(vpp.startsWith("vpp: ")) << vpp.toStdString();
    EXPECT_NE(vpp, "vpp: ----- ");

    // Hidden again: a refresh starts nothing, the lists stay as they were.
    table_->setOpacity(0);
    records_[1].flags = 0;
    emit home_->screenRefreshSignal();
    processEventsFor(200);
    EXPECT_EQ(table_->measurementListCh2()[2], vpp);
}

TEST_F(AutomeasTypeTest, ColumnColoursFollowTheChannelFlags)
{
    data.traceColorCh1 = 4;
    data.traceColorCh2 = 9;
    data.traceColorCh3 = 10;
    data.traceColorCh4 = 11;
    data.channelFlags = 0x1 | 0x200;  // channel 1 live, channel 2 from memory
    const QColor grey(Qt::lightGray);
    table_->screenMajSlot(0);  // repaints only
    table_->screenMajSlot(5);  // not a colour parameter
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(table_->columnColour(i), grey) << i;
    for (int code : {14, 16, 18, 20, 23, 29, 93}) {
        SCOPED_TRACE(code);
        data.channelFlags = static_cast<uint16_t>(code == 93 ? 0x8 : 0x201);
        table_->screenMajSlot(code);
        const bool on[4] = {code != 93, code != 93, false, code == 93};
        const QColor zinc[4] = {getZincColor(4), getZincColor(9), getZincColor(10), getZincColor(11)};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(table_->columnColour(i), on[i] ? zinc[i] : grey) << i;
    }

    // Painted: each quarter filled with its colour lightened to 150 %.
    data.channelFlags = 0x5;
    table_->screenMajSlot(14);
    QImage image(740, 105, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        table_->paint(&painter);
    }
    const QColor expected[4] = {getZincColor(4).lighter(150), grey.lighter(150), getZincColor(10).lighter(150),
                                grey.lighter(150)};
    for (int i = 0; i < 4; ++i)
    {
        const QColor got = image.pixelColor(i * 185 + 180, 100);
        EXPECT_TRUE(std::abs(got.red() - expected[i].red()) <= 1 && std::abs(got.green() - expected[i].green()) <= 1
                    && std::abs(got.blue() - expected[i].blue()) <= 1)
            << i << " " << got.name().toStdString() << " " << expected[i].name().toStdString();
    }
}

TEST_F(AutomeasTypeTest, DraggingScrollsByWholeLinesWithinTheList)
{
    window_->show();
    ASSERT_TRUE(processEventsUntil([this] { return window_->isExposed(); }));
    auto drag = [this](qreal fromY, qreal toY) {
        const QPointF from(300, fromY);
        const QPointF to(300, toY);
        QMouseEvent press(QEvent::MouseButtonPress, from, from, window_->mapToGlobal(from.toPoint()), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QGuiApplication::sendEvent(window_.get(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, to, to, window_->mapToGlobal(to.toPoint()), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QGuiApplication::sendEvent(window_.get(), &release);
        return table_->firstLine();
    };
    struct Step {
        qreal from, to;
        int line;
    } steps[] = {
        {80, 58, 1},    // up one line
        {80, 59, 1},    // 21 pixels: not a line
        {80, 14, 4},    // up three lines
        {20, 64.4, 2},  // down two lines (release rounded to 64)
        {10, 1010, 0},  // far down: the first line
        {100, -900, 19},  // far up: only the last measurement left
        {100, 78, 19},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.to);
        EXPECT_EQ(drag(s.from, s.to), s.line);
    }
}

TEST_F(AutomeasTypeTest, QmlBoxForwardsItsOpacityAndPostsNothingWhenCreatedHidden)
{
    TQmlWarningWatch warnings;
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(R"(
import QtQuick 2.11
Item {
    width: 760; height: 200
    AutoMeasType { objectName: "box"; opacity: 0 }
}
)",
                      QUrl(QStringLiteral("qrc:/automeastype_test.qml")));
    std::unique_ptr<QObject> root(component.create());
    ASSERT_TRUE(root) << component.errorString().toStdString();
    auto* item = qobject_cast<QQuickItem*>(root.get());
    QQuickItem* box = need(item, "box");
    auto* table = qobject_cast<AutomeasType*>(need(item, "automeasType"));
    ASSERT_TRUE(box && table);
    EXPECT_EQ(box->height(), 125);
    EXPECT_EQ(need(item, "autoMeasTypeTitle")->property("text").toString(), "Mesures ( entre T1 et T2)");
    EXPECT_EQ(need(item, "autoMeasTypeHandle")->width(), 50);
    EXPECT_EQ(posted(), Posts());
    box->setOpacity(1);
    EXPECT_EQ(table->opacity(), 1);
    EXPECT_EQ(posted(), (Posts{{23, 8191}, {93, 3}}));
    box->setOpacity(0);
    EXPECT_EQ(posted(), (Posts{{23, 1}, {93, 0}}));
}
