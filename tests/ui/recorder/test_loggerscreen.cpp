// The recorder's screens: the panes each setup builds (kind, trace, place), rebuilds on size
// changes with the stored choice, the codes that rebuild, and the compressed strip.
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/traces/gridscreen.h"
#include "ui/traces/indicscreen.h"
#include "ui/traces/loggerscreen.h"
#include "ui/recorder/loggerscreencomp.h"
#include "ui/traces/tracescreen.h"

#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using uitest::takeRequests;

int acqDoneCount()
{
    int n = 0;
    for (const pipe_dial& r : takeRequests())
        n += r.kind == REQ_ACQ_DONE;
    return n;
}

struct Child {
    std::string kind;
    unsigned mask;  // 0 for grids
    int y, h;       // every child spans x 0 to width - 5
    bool operator==(const Child& o) const { return kind == o.kind && mask == o.mask && y == o.y && h == o.h; }
};

std::ostream& operator<<(std::ostream& os, const Child& c)
{
    return os << "{" << c.kind << " 0x" << std::hex << c.mask << std::dec << " y " << c.y << " h " << c.h << "}";
}

// The children in stacking (creation) order; fails the test on a child not spanning the width.
std::vector<Child> stack(const LoggerScreen& screen)
{
    std::vector<Child> out;
    for (QQuickItem* item : screen.childItems()) {
        unsigned mask = 0;
        if (auto* t = qobject_cast<TraceScreen*>(item))
            mask = t->channelMask();
        else if (auto* o = qobject_cast<IndicScreen*>(item))
            mask = o->channelMask();
        EXPECT_EQ(item->x(), 0);
        EXPECT_EQ(item->width(), screen.width() - 5);
        out.push_back({item->metaObject()->className(), mask, int(item->y()), int(item->height())});
    }
    return out;
}

class LoggerScreenTest : public uitest::HomeViewTest {
protected:
    void adjustSetup() override
    {
        data.instrumentMode = 130;
        data.splitLayout = 0;
        data.hwChannelMask = 15;
        data.meterFunction = 0;
        data.channelFlags = 0xF;
    }
};

// Panes of a 700 x 302 screen: pane k at k x 302 / P, each 302 / P high.
TEST_F(LoggerScreenTest, PanesBySetup)
{
    const auto panes = [](std::vector<unsigned> traces, std::vector<unsigned> shown, std::vector<int> ys, int h) {
        std::vector<Child> v;
        for (size_t k = 0; k < traces.size(); ++k)
            v.push_back({"LoggerGridScreen", 0, ys[k], h});
        for (size_t k = 0; k < traces.size(); ++k)
            if (shown[k])
                v.push_back({"TraceScreen", traces[k], ys[k], h});
        // The overlays keep the channel bits; the power pane's has none.
        for (size_t k = 0; k < traces.size(); ++k)
            v.push_back({"LoggerIndicScreen", traces[k] & 0xF, ys[k], h});
        return v;
    };
    const struct {
        const char* name;
        uint8_t split;
        uint16_t hw;
        int16_t function;
        uint16_t flags;
        TLoggerLayout layout;
        unsigned mask;
        std::vector<Child> expected;
    } cases[] = {
        {"one pane", 0, 15, 0, 0x10F, LoggerLayoutOnePane, 0xF,
         {{"LoggerGridScreen", 0, 0, 302}, {"TraceScreen", 0xF, 0, 302}, {"LoggerIndicScreen", 0xF, 0, 302}}},
        {"one pane with power", 0, 9, 8, 0x9, LoggerLayoutOnePane, 0x2009,
         {{"LoggerGridScreen", 0, 0, 302}, {"TraceScreen", 0x2009, 0, 302}, {"LoggerIndicScreen", 0xF, 0, 302}}},
        {"two channels", 1, 9, 0, 0x9, LoggerLayoutCh1Ch4, 0x9, panes({1, 8}, {1, 1}, {0, 151}, 151)},
        {"two channels with power, channel 4 off", 1, 9, 10, 0x1, LoggerLayoutCh1Ch4Power, 0x2001,
         panes({1, 8, 0x2000}, {1, 0, 1}, {0, 100, 201}, 100)},
        {"four channels, two shown", 1, 15, 1, 0x505, LoggerLayoutCh1To4, 0x5,
         panes({1, 2, 4, 8}, {1, 0, 1, 0}, {0, 75, 151, 226}, 75)},
        {"four channels with power", 1, 15, 9, 0xF, LoggerLayoutCh1To4Power, 0x200F,
         panes({1, 2, 4, 8, 0x2000}, {1, 1, 1, 1, 1}, {0, 60, 120, 181, 241}, 60)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        data.splitLayout = c.split;
        data.hwChannelMask = c.hw;
        data.meterFunction = c.function;
        data.channelFlags = c.flags;
        LoggerScreen screen;
        screen.setSize(QSizeF(700, 302));
        emit home_->screenMajSignal(param::splitLayout);
        EXPECT_EQ(screen.layout(), c.layout);
        EXPECT_EQ(screen.mask(), c.mask);
        EXPECT_EQ(stack(screen), c.expected);
        for (int i = 0; i < ScopeScreen::kTraceScreens; ++i) {
            if (TraceScreen* t = screen.traceScreen(i)) {
                EXPECT_FALSE(t->compressed());
            }
        }
    }
}

TEST_F(LoggerScreenTest, ConstructorMaskAndZeroSize)
{
    data.channelFlags = 0x103;
    data.meterFunction = 8;
    LoggerScreen screen;
    EXPECT_EQ(screen.layout(), LoggerLayoutOnePane);
    EXPECT_EQ(screen.mask(), 0x2003);
    EXPECT_TRUE(screen.childItems().isEmpty());
    EXPECT_EQ(acqDoneCount(), 1);
    emit home_->screenMajSignal(param::spareWord29);
    screen.setSize(QSizeF(700, 0));
    EXPECT_TRUE(screen.childItems().isEmpty());
}

TEST_F(LoggerScreenTest, ASizeChangeRebuildsWithTheStoredChoice)
{
    data.splitLayout = 1;
    LoggerScreen screen;
    screen.setSize(QSizeF(700, 300));
    emit home_->screenMajSignal(param::spareWord29);
    ASSERT_EQ(screen.layout(), LoggerLayoutCh1To4);
    takeRequests();

    // The setup changes without a notice: the new size keeps the four panes.
    data.splitLayout = 0;
    data.channelFlags = 0x1;
    screen.setHeight(200);
    EXPECT_EQ(acqDoneCount(), 1);
    EXPECT_EQ(screen.layout(), LoggerLayoutCh1To4);
    const std::vector<Child> s = stack(screen);
    ASSERT_EQ(s.size(), 12u);
    EXPECT_EQ(s[3], (Child{"LoggerGridScreen", 0, 150, 50}));
    EXPECT_EQ(s[7], (Child{"TraceScreen", 8, 150, 50}));

    // The caller's choice, masked to the trace bits.
    screen.setLayout(0xFFFF, LoggerLayoutCh1Ch4);
    EXPECT_EQ(screen.mask(), 0x200F);
    EXPECT_EQ(stack(screen).size(), 6u);
}

TEST_F(LoggerScreenTest, OnlyItsCodesRebuild)
{
    LoggerScreen screen;
    screen.setSize(QSizeF(700, 300));
    const QList<QQuickItem*> before = screen.childItems();
    ASSERT_EQ(before.size(), 3);
    data.splitLayout = 1;
    // The channel flags are the viewer's: not this screen's.
    for (int code : {0, int(param::channelFlags), int(param::acqRunStop), int(param::loggerFileName)}) {
        emit home_->screenMajSignal(code);
        EXPECT_EQ(screen.childItems(), before) << code;
    }
    for (int code : {int(param::traceOnCh1), int(param::traceOnCh2), int(param::traceOnCh3), int(param::traceOnCh4),
                     int(param::spareWord29), int(param::traceFormat), int(param::splitLayout),
                     int(param::meterFunction)}) {
        data.splitLayout = 1;
        emit home_->screenMajSignal(code);
        EXPECT_EQ(screen.layout(), LoggerLayoutCh1To4) << code;
        data.splitLayout = 0;
        emit home_->screenMajSignal(code);
        EXPECT_EQ(screen.layout(), LoggerLayoutOnePane) << code;
    }
}

TEST_F(LoggerScreenTest, TheCompressedStripDrawsChannelsOneToFour)
{
    data.channelFlags = 0x103;
    data.meterFunction = 8;
    LoggerScreenComp strip;
    // Not masked, unlike the main screen's.
    EXPECT_EQ(strip.mask(), 0x2103);
    strip.setSize(QSizeF(700, 0));
    EXPECT_TRUE(strip.childItems().isEmpty());
    strip.setSize(QSizeF(700, 40));
    const std::vector<Child> s = stack(strip);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0], (Child{"LoggerGridScreenComp", 0, 0, 40}));
    EXPECT_EQ(qobject_cast<GridScreen*>(strip.grid(0))->title(), QStringLiteral("LOGGER"));
    EXPECT_EQ(s[1], (Child{"TraceScreen", 15, 0, 40}));
    EXPECT_TRUE(strip.traceScreen(0)->compressed());
    EXPECT_EQ(s[2], (Child{"LoggerIndicScreenComp", 0x3, 0, 40}));
}

TEST_F(LoggerScreenTest, ScreensAreKnownToQml)
{
    QQmlEngine engine;
    for (const char* type : {"LoggerScreen", "LoggerScreenComp"}) {
        QQmlComponent component(&engine);
        component.setData(QByteArray("import QtQuick 2.0\nimport com.brovak.scope 1.0\n") + type +
                              "_ { width: 400; height: 100 }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        ASSERT_TRUE(object) << component.errorString().toStdString();
        EXPECT_STREQ(object->metaObject()->className(), type);
        EXPECT_EQ(object->findChildren<GridScreen*>().size(), 1);
    }
}

} // namespace
