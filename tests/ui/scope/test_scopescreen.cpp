// Scope screen layouts: which grids, trace screens and overlays each setup builds, where, in
// which stacking order, and the redraw request every rebuild posts.
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/ui_fixture.h"
#include "tests/support/simboardtest.h"
#include "ui/traces/gridscreen.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicscreen.h"
#include "ui/traces/scopescreen.h"
#include "ui/scope/scopescreencomp.h"
#include "ui/traces/tracescreen.h"

#include <QQmlComponent>
#include <QQmlEngine>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using uitest::takeRequests;

int acqDoneCount(const std::vector<pipe_dial>& requests)
{
    int n = 0;
    for (const pipe_dial& r : requests)
        if (r.kind == REQ_ACQ_DONE && r.code == 0 && r.intValue == 0 && r.auxValue == 0)
            ++n;
    return n;
}

// One child of the stack as the tests compare it.
struct Child {
    std::string kind;
    unsigned mask;  // 0 for grids
    int x, y, w, h;
    bool operator==(const Child& o) const
    {
        return kind == o.kind && mask == o.mask && x == o.x && y == o.y && w == o.w && h == o.h;
    }
};

std::ostream& operator<<(std::ostream& os, const Child& c)
{
    return os << "{" << c.kind << " 0x" << std::hex << c.mask << std::dec << " " << c.x << ","
              << c.y << " " << c.w << "x" << c.h << "}";
}

// The screen's child items in stacking (creation) order.
std::vector<Child> stack(const ScopeScreen& screen)
{
    std::vector<Child> out;
    for (QQuickItem* item : screen.childItems()) {
        unsigned mask = 0;
        if (auto* t = qobject_cast<TraceScreen*>(item))
            mask = t->channelMask();
        else if (auto* o = qobject_cast<IndicScreen*>(item))
            mask = o->channelMask();
        out.push_back({item->metaObject()->className(), mask, int(item->x()), int(item->y()),
                       int(item->width()), int(item->height())});
    }
    return out;
}

class ScopeScreenTest : public uitest::HomeViewTest {
protected:
    void adjustSetup() override
    {
        data.traceMode = 0;
        data.traceFormat = 0;
        data.splitLayout = 0;
        data.passFailOn = 0;
        data.passFailSource = 0;
    }
};

TEST_F(ScopeScreenTest, ZeroSizeBuildsNothingButAsksForARedraw)
{
    ScopeScreen screen;
    EXPECT_TRUE(screen.childItems().isEmpty());
    EXPECT_EQ(acqDoneCount(takeRequests()), 1);

    screen.setSize(QSizeF(400, 0));
    EXPECT_TRUE(screen.childItems().isEmpty());
    EXPECT_GE(acqDoneCount(takeRequests()), 1);

    ScopeScreenComp comp;
    comp.setHeight(40);
    EXPECT_TRUE(comp.childItems().isEmpty());
}

// Four panes 400 x 300: q = 75, rows 0, 75, 150, 225, width 395.
TEST_F(ScopeScreenTest, LayoutsBySetup)
{
    struct Case {
        const char* name;
        int traceMode, format;
        bool split;
        int passFailOn, passFailSource;
        std::vector<Child> expected;
    };
    const int w = 395;
    auto rowsOf = [&](const char* kind, const unsigned (&masks)[4]) {
        std::vector<Child> v;
        const int rows[4] = {0, 75, 150, 225};
        for (int i = 0; i < 4; ++i)
            v.push_back({kind, masks[i], 0, rows[i], w, 75});
        return v;
    };
    const unsigned ch[4] = {0x0101, 0x0202, 0x0404, 0x0808};
    // Overlays keep the channel bits only.
    const unsigned ovl[4] = {0x1, 0x2, 0x4, 0x8};
    const unsigned none[4] = {0, 0, 0, 0};
    auto cat = [](std::initializer_list<std::vector<Child>> parts) {
        std::vector<Child> v;
        for (const auto& p : parts)
            v.insert(v.end(), p.begin(), p.end());
        return v;
    };
    const Child fullGrid{"GridScreen", 0, 0, 0, w, 300};
    const Child fullTrace{"TraceScreen", 0x0F0F, 0, 0, w, 300};
    const Child fullPassFail{"TraceScreenPassFail", 0x1000, 0, 0, w, 300};
    const std::vector<Case> cases = {
        {"one pane", 0, 0, false, 0, 0,
         {fullGrid, fullTrace, {"IndicScreenT", 0xF, 0, 0, w, 300}}},
        {"four panes", 0, 0, true, 0, 0,
         cat({rowsOf("GridScreen", none), rowsOf("TraceScreen", ch), rowsOf("IndicScreenT", ovl)})},
        {"four FFT panes", 0, 1, true, 0, 0,
         cat({rowsOf("GridScreen", none), rowsOf("TraceScreen", ch), rowsOf("IndicScreenF", ovl)})},
        {"one FFT pane", 0, 1, false, 0, 0,
         {fullGrid, fullTrace, {"IndicScreenF", 0xF, 0, 0, w, 300}}},
        {"XY ignores the split", 0, 2, true, 0, 0,
         {{"GridScreenXy", 0, 0, 0, w, 300}, fullTrace, {"IndicScreenXy", 0xF, 0, 0, w, 300}}},
        {"accumulation, four panes", 5, 0, true, 0, 0,
         cat({rowsOf("GridScreen", none), rowsOf("TraceScreenPersist", ch), rowsOf("TraceScreen", ch),
              rowsOf("IndicScreenT", ovl)})},
        {"accumulation, one pane", 5, 0, false, 1, 2,
         {fullGrid, {"TraceScreenPersist", 0x0F0F, 0, 0, w, 300}, fullTrace,
          {"IndicScreenT", 0xF, 0, 0, w, 300}}},
        {"pass/fail, one pane", 0, 0, false, 1, 3,
         {fullGrid, fullPassFail, fullTrace, {"IndicScreenT", 0xF, 0, 0, w, 300}}},
        {"pass/fail in the source's row", 0, 0, true, 1, 2,
         cat({rowsOf("GridScreen", none), {{"TraceScreenPassFail", 0x1000, 0, 150, w, 75}},
              rowsOf("TraceScreen", ch), rowsOf("IndicScreenT", ovl)})},
        {"pass/fail source 4", 0, 0, false, 1, 4,
         {fullGrid, fullTrace, {"IndicScreenT", 0xF, 0, 0, w, 300}}},
        {"pass/fail source -1 read unsigned", 0, 0, true, 1, -1,
         cat({rowsOf("GridScreen", none), rowsOf("TraceScreen", ch), rowsOf("IndicScreenT", ovl)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        data.traceMode = static_cast<int16_t>(c.traceMode);
        data.traceFormat = static_cast<int16_t>(c.format);
        data.splitLayout = c.split ? 1 : 0;
        data.passFailOn = static_cast<int16_t>(c.passFailOn);
        data.passFailSource = static_cast<int16_t>(c.passFailSource);
        ScopeScreen screen;
        screen.setSize(QSizeF(400, 300));
        takeRequests();
        screen.screenMajSlot(param::traceFormat);
        EXPECT_EQ(acqDoneCount(takeRequests()), 1);
        EXPECT_EQ(stack(screen), c.expected);
        EXPECT_EQ(screen.split(), c.split);
        EXPECT_EQ(screen.format(), c.format);
        EXPECT_EQ(screen.label(), ScopeScreen::labelOfFormat(c.format));
        for (int i = 0; i < ScopeScreen::kTraceScreens; ++i) {
            if (TraceScreen* t = screen.traceScreen(i)) {
                EXPECT_FALSE(t->compressed());
                EXPECT_EQ(t->displayFormat(), c.format);
            }
        }
        for (int i = 0; i < ScopeScreen::kGrids; ++i) {
            if (GridScreen* g = screen.grid(i)) {
                EXPECT_TRUE(g->title().isEmpty());
            }
        }
    }
}

TEST_F(ScopeScreenTest, CodesRebuildFromTheSetupOrFromTheStoredLayout)
{
    ScopeScreen screen;
    screen.setSize(QSizeF(400, 300));
    takeRequests();

    // Stored layout: a split seen by a layout code survives a later traceMode rebuild and a
    // resize, although the live setup no longer asks for it.
    data.splitLayout = 1;
    screen.screenMajSlot(param::splitLayout);
    data.splitLayout = 0;
    screen.screenMajSlot(param::traceMode);
    EXPECT_EQ(stack(screen).size(), 12u);
    screen.setSize(QSizeF(600, 400));
    EXPECT_EQ(stack(screen).size(), 12u);
    EXPECT_EQ(stack(screen)[1].y, 100);
    takeRequests();

    // 29: two rebuilds from the live setup, one redraw request.
    screen.screenMajSlot(param::spareWord29);
    EXPECT_EQ(acqDoneCount(takeRequests()), 1);
    EXPECT_EQ(stack(screen).size(), 3u);

    // Codes outside the table do nothing, 0 only repaints.
    QQuickItem* before = screen.childItems().front();
    for (int code : {0, 1, 14, 36, 143})
        screen.screenMajSlot(code);
    EXPECT_TRUE(takeRequests().empty());
    EXPECT_EQ(screen.childItems().front(), before);

    // The root window's notice reaches the screen.
    data.traceFormat = 2;
    home_->screenMaj(param::traceFormat);
    QCoreApplication::processEvents();
    EXPECT_EQ(stack(screen).front().kind, "GridScreenXy");
}

TEST_F(ScopeScreenTest, CompressedOverviewIsOnePaneWithItsLabel)
{
    data.splitLayout = 1;
    data.passFailOn = 1;
    data.passFailSource = 1;
    ScopeScreenComp comp;
    comp.setSize(QSizeF(700, 40));
    comp.setLayout(true, 1, QStringLiteral("FFT"));
    const std::vector<Child> expected = {{"GridScreen", 0, 0, 0, 695, 40},
                                         {"TraceScreenPassFail", 0x1000, 0, 0, 695, 40},
                                         {"TraceScreen", 0x0F0F, 0, 0, 695, 40},
                                         {"IndicScreenTComp", 0xF, 0, 0, 695, 40}};
    EXPECT_EQ(stack(comp), expected);
    EXPECT_EQ(comp.grid(0)->title(), QStringLiteral("FFT"));
    // The overview keeps the traces' compressed drawing.
    EXPECT_TRUE(comp.traceScreen(1)->compressed());
}

TEST_F(ScopeScreenTest, QmlCreatesBothScreensAndTheyClearTheirChildren)
{
    QQmlEngine engine;
    for (const char* type : {"ScopeScreen_", "ScopeScreenComp_"}) {
        QQmlComponent component(&engine);
        component.setData(QByteArray("import com.brovak.scope 1.0\n") + type +
                              " { width: 300; height: 200 }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        ASSERT_NE(object, nullptr) << type << component.errorString().toStdString();
        auto* screen = qobject_cast<ScopeScreen*>(object.get());
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(screen->childItems().size(), 3) << type;
        screen->setSize(QSizeF(0, 0));
        EXPECT_TRUE(screen->childItems().isEmpty()) << type;
        for (int i = 0; i < ScopeScreen::kOverlays; ++i)
            EXPECT_EQ(screen->overlay(i), nullptr);
    }
}

} // namespace
