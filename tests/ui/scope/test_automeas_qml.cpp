// The measurement box document: title, opacity forwarded to the item (posts only on showing and
// hiding), close cross.
#include "core/gest_db.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/traces/automeaschannel.h"

namespace {
using AutoMeasChannelQml = QmlControlsTest;
}

TEST_F(AutoMeasChannelQml, TitleOpacityAndCloseCross)
{
    data = init_par;
    data.measRefChannel = 2;
    data.channelFlags = 0x2;
    takeRequests();
    ASSERT_TRUE(load(R"(
    Item {
        id: dialogPanel
        function displayOff() { homeView.note("displayOff") }
    }
    AutoMeasChannel { objectName: "box"; width: 700; opacity: 0 }
)"));
    QQuickItem* box = item("box");
    auto* meas = qobject_cast<AutoMeasChannel*>(item("autoMeasChannel"));
    ASSERT_TRUE(box && meas);
    EXPECT_EQ(box->height(), 105);
    EXPECT_TRUE(takeRequests().empty());  // created hidden

    box->setOpacity(1);
    auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 93);
    EXPECT_EQ(posted[0].intValue, 3);
    EXPECT_EQ(meas->opacity(), 1);
    EXPECT_EQ(item("autoMeasChannelTitle")->property("text").toString(), "Mesures sur CH2 ( entre T1 et T2)");

    clickKey(window_->contentItem(), "autoMeasChannelClose");
    EXPECT_EQ(takeLog(root_), QStringList({"displayOff"}));
    box->setOpacity(0);
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].intValue, 0);
}
