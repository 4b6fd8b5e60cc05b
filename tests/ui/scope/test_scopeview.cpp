// Scope view: the notices it turns into properties, and the channel-box click rule of the
// vertical panel.
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/ui_fixture.h"
#include "tests/support/simboardtest.h"
#include "ui/frame/homeview.h"
#include "ui/scope/scopevertical.h"
#include "ui/scope/scopeview.h"

#include <QCoreApplication>
#include <QPointer>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

using uitest::takeRequests;

class ScopeViewTest : public uitest::HomeViewTest {
protected:
    void adjustSetup() override
    {
        data.traceFormat = 0;
        data.zoomWidth = 40.0f;
        data.keyToggleFlag = 0;
    }
};

struct Notices {
    int compressed = 0, fullScreen = 0, command = 0;
    explicit Notices(ScopeView& view)
    {
        QObject::connect(&view, &ScopeView::displayCompressedViewChanged, [this] { ++compressed; });
        QObject::connect(&view, &ScopeView::displayFullScreenChanged, [this] { ++fullScreen; });
        QObject::connect(&view, &ScopeView::directCmdeToIhmChanged, [this] { ++command; });
    }
};

TEST_F(ScopeViewTest, CompressedViewFollowsFormatAndZoom)
{
    ScopeView view;
    Notices n(view);
    struct Case {
        int code;
        int16_t format;
        float zoomWidth;
        bool compressed;
    } cases[] = {
        {param::traceFormat, 1, 40.0f, true}, {param::zoomWidth, 0, 20.0f, true},
        {param::zoomState, 0, 40.0f, false},  {param::autosetRequest, 2, 40.0f, true},
        {param::timeBaseIndex, 0, 40.0f, false},
    };
    int notices = 0;
    for (const Case& c : cases) {
        data.traceFormat = c.format;
        data.zoomWidth = c.zoomWidth;
        view.screenMajSlot(c.code);
        EXPECT_EQ(view.displayCompressedView(), c.compressed) << c.code;
        EXPECT_EQ(n.compressed, ++notices) << c.code;
    }
    // Other codes leave it, even when the setup changed.
    data.traceFormat = 1;
    for (int code : {0, 2, 14, 37, 72, 100})
        view.screenMajSlot(code);
    EXPECT_FALSE(view.displayCompressedView());
    EXPECT_EQ(n.compressed, notices);
    EXPECT_EQ(n.command, 0);
}

TEST_F(ScopeViewTest, Code29EmitsBothAndFullScreenReadsTheToggleByte)
{
    ScopeView view;
    Notices n(view);
    data.keyToggleFlag = 1;
    data.traceFormat = 2;
    view.screenMajSlot(param::spareWord29);
    EXPECT_EQ(n.compressed, 1);
    EXPECT_EQ(n.fullScreen, 1);
    EXPECT_TRUE(view.displayFullScreen());
    EXPECT_TRUE(view.displayCompressedView());

    data.keyToggleFlag = 0;
    view.screenMajSlot(param::keyToggleFlag);
    EXPECT_FALSE(view.displayFullScreen());
    EXPECT_EQ(n.fullScreen, 2);
    EXPECT_EQ(n.compressed, 1);
}

TEST_F(ScopeViewTest, RootWindowNoticesReachTheViewAndRazDeletesIt)
{
    QPointer<ScopeView> view = new ScopeView;
    Notices n(*view);
    // The same command twice is announced twice.
    home_->screenIhm(0, 0, 0);
    home_->screenIhm(0, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(n.command, 2);
    EXPECT_EQ(view->directCmdeToIhm(), 0);
    home_->screenIhm(5, 1, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->directCmdeToIhm(), 5);

    data.keyToggleFlag = 1;
    home_->screenMaj(param::keyToggleFlag);
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->displayFullScreen());

    emit home_->screenRazSignal();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(view.isNull());
}

// What a channel-box click posts: {code, value} pairs of REQ_SET_PARAM from the user interface.
std::vector<std::pair<int, intptr_t>> setRequests()
{
    std::vector<std::pair<int, intptr_t>> out;
    for (const pipe_dial& r : takeRequests()) {
        EXPECT_EQ(r.kind, REQ_SET_PARAM);
        EXPECT_EQ(r.auxValue, 0);
        EXPECT_EQ(r.senderId, senderValue(MENU_id));
        out.emplace_back(r.code, r.intValue);
    }
    return out;
}

TEST_F(ScopeViewTest, ChannelClickSwitchesOnSelectsOrSwitchesOff)
{
    using R = std::vector<std::pair<int, intptr_t>>;
    data.traceOnCh1 = 1;
    data.traceOnCh2 = 0;
    data.traceOnCh3 = 1;
    data.traceOnCh4 = 0;
    ScopeVertical vertical;
    int changed = 0;
    QObject::connect(&vertical, &ScopeVertical::dataChanged, [&] { ++changed; });

    // Right after start an active channel only becomes the reference.
    EXPECT_EQ(vertical.setClickedChannel(0), 1);
    EXPECT_EQ(setRequests(), (R{{param::measRefChannel, 1}}));
    EXPECT_EQ(vertical.title(), QStringLiteral("CH1"));
    // An inactive channel is switched on and made the reference.
    EXPECT_EQ(vertical.setClickedChannel(1), 1);
    EXPECT_EQ(setRequests(), (R{{param::traceOnCh2, 1}, {param::measRefChannel, 2}}));
    EXPECT_EQ(vertical.title(), QStringLiteral("CH2"));
    // Another active channel: reference only.
    EXPECT_EQ(vertical.setClickedChannel(2), 1);
    EXPECT_EQ(setRequests(), (R{{param::measRefChannel, 4}}));
    // The selected active channel again: switched off, no panel.
    EXPECT_EQ(vertical.setClickedChannel(2), 0);
    EXPECT_EQ(setRequests(), (R{{param::traceOnCh3, 0}}));
    EXPECT_EQ(vertical.selectedChannel(), 2);
    EXPECT_EQ(changed, 3);
    // Channel 4, and an index outside 0..3 counting as channel 1's row.
    EXPECT_EQ(vertical.setClickedChannel(3), 1);
    EXPECT_EQ(setRequests(), (R{{param::traceOnCh4, 1}, {param::measRefChannel, 8}}));
    EXPECT_EQ(vertical.setClickedChannel(7), 1);
    EXPECT_EQ(setRequests(), (R{{param::measRefChannel, 1}}));
    EXPECT_EQ(vertical.title(), QStringLiteral("CH1"));
}

} // namespace
