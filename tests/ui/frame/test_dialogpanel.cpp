// The dialog panel strip: one settings panel at a time, the strip at its height.
#include "ui/frame/dialogpanel.h"

#include <gtest/gtest.h>

class DialogPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel_.setHeight(17);
        for (auto* p : {&a_, &b_}) {
            p->setParentItem(&panel_);
            p->setOpacity(0);
            p->setEnabled(false);
        }
        a_.setHeight(120);
        b_.setHeight(200);
    }

    static bool shown(const QQuickItem& p) { return p.opacity() == 1 && p.isEnabled(); }
    static bool hidden(const QQuickItem& p) { return p.opacity() == 0 && !p.isEnabled(); }

    DialogPanel panel_;
    QQuickItem a_;
    QQuickItem b_;
};

TEST_F(DialogPanelTest, DisplayShowsAPanelASecondDisplayClosesIt)
{
    panel_.display(&a_);
    EXPECT_TRUE(panel_.dialogDisplayed());
    EXPECT_EQ(panel_.displayedPanel(), &a_);
    EXPECT_TRUE(shown(a_));
    EXPECT_EQ(panel_.height(), 120);

    panel_.display(&a_);
    EXPECT_FALSE(panel_.dialogDisplayed());
    EXPECT_TRUE(hidden(a_));
    EXPECT_EQ(panel_.height(), 0);

    // A third call opens it again.
    panel_.display(&a_);
    EXPECT_TRUE(shown(a_));
    EXPECT_EQ(panel_.height(), 120);
}

TEST_F(DialogPanelTest, AnotherPanelReplacesTheShownOne)
{
    panel_.display(&a_);
    panel_.display(&b_);
    EXPECT_EQ(panel_.displayedPanel(), &b_);
    EXPECT_TRUE(hidden(a_));
    EXPECT_TRUE(shown(b_));
    EXPECT_EQ(panel_.height(), 200);

    panel_.displayOff();
    EXPECT_FALSE(panel_.dialogDisplayed());
    EXPECT_TRUE(hidden(b_));
    EXPECT_EQ(panel_.height(), 0);
}

TEST_F(DialogPanelTest, DisplayOffWithNothingShownTouchesNothing)
{
    panel_.displayOff();
    EXPECT_FALSE(panel_.dialogDisplayed());
    EXPECT_EQ(panel_.height(), 17);
    EXPECT_TRUE(hidden(a_));
}

TEST_F(DialogPanelTest, NullPanelClosesTheShownOneAndIsNeverShown)
{
    panel_.display(nullptr);
    EXPECT_FALSE(panel_.dialogDisplayed());
    EXPECT_EQ(panel_.height(), 17);

    panel_.display(&a_);
    panel_.display(nullptr);
    EXPECT_FALSE(panel_.dialogDisplayed());
    EXPECT_TRUE(hidden(a_));
    EXPECT_EQ(panel_.height(), 0);
    panel_.displayOff();
    EXPECT_EQ(panel_.height(), 0);
}

TEST_F(DialogPanelTest, AShownPanelThatIsDeletedIsForgotten)
{
    auto* c = new QQuickItem(&panel_);
    c->setHeight(60);
    panel_.display(c);
    EXPECT_EQ(panel_.height(), 60);
    delete c;
    EXPECT_FALSE(panel_.dialogDisplayed());
    EXPECT_EQ(panel_.height(), 0);
    panel_.displayOff();
    panel_.display(&b_);
    EXPECT_TRUE(shown(b_));
    EXPECT_EQ(panel_.height(), 200);
}
