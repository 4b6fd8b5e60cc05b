// Status-line texts of settings and cursor readings.
#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "core/setupparam.h"
#include "tests/support/simboardtest.h"

#include <QStringList>

#include <memory>

namespace {
class SetupParam : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        data = init_par;
        saved_ = setupLinks();
        static const unsigned short ids[4] = {1, 2, 4, 8};
        for (int i = 0; i < 4; ++i)
            traces_[i] = std::make_unique<TAcquisition>(ids[i]);
        setupLinks().acqCh1 = traces_[0].get();
        setupLinks().acqCh2 = traces_[1].get();
        setupLinks().acqCh3 = traces_[2].get();
        setupLinks().acqCh4 = traces_[3].get();
        setupLinks().cursorTablePtr = cursors_;
    }
    void TearDown() override
    {
        setupLinks() = saved_;
        SimBoardTest::TearDown();
    }
    QStringList texts(int32_t code)
    {
        QStringList list{"untouched"};
        handled_ = getSetupParam(&data, code, &list);
        return list;
    }

    std::unique_ptr<TAcquisition> traces_[4];
    int32_t cursors_[7] = {100, 300, 400000, 390000, 150, 10, 30};
    TSetupLinks saved_{};
    bool handled_ = false;
};
} // namespace

TEST_F(SetupParam, ValueParameters)
{
    data.displayBrightness = 7;
    EXPECT_EQ(texts(param::displayBrightness), QStringList({"lumiere: ", "75.0 %"}));
    data.displayBrightness = 1;
    EXPECT_EQ(texts(param::displayBrightness)[1], "0.00 %");
    data.displayBrightness = 0;
    EXPECT_EQ(texts(param::displayBrightness)[1], "-12.0 %");
    data.trigHoldoff = 12500;
    EXPECT_EQ(texts(param::trigHoldoff), QStringList({"holdoff:", ScopePrintf(2, 12500 * 8e-9f) + "s"}));
    EXPECT_EQ(texts(param::trigHoldoff)[1], "100 " + QString(QChar(0x03BC)) + "s");
    data.horizPosition = 50000;
    data.zoomWidth = 40;
    EXPECT_EQ(texts(param::horizPosition), QStringList({"position horiz:", "5.00 div"}));

    data.traceFormat = 1;
    data.fftOffsetCh1 = 100;
    EXPECT_EQ(texts(param::fftOffsetCh1), QStringList({"cadrage FFT( 1 ): ", "800 mdiv"}));
    data.fftOffsetCh2 = 100;
    TAcquisition* ch2 = setupLinks().acqCh2;
    const float k = 262.0f * GetVerticalScale(ch2, SCALE_FFT_DB, data.sensitivityCh2);
    QString unit = GetVerticalUnit(ch2, SCALE_FFT_DB, true);
    EXPECT_EQ(texts(param::fftOffsetCh1 + 1),
              QStringList({"cadrage FFT( 2 ):",
                           ScopePrintf(2, GetVerticalOffset(ch2, SCALE_FFT_DB) + 100 * k) + unit}));

    data.offsetCh3 = -20;
    TAcquisition* ch3 = setupLinks().acqCh3;
    const float k3 = 262.0f * GetVerticalScale(ch3, SCALE_SCOPE, data.sensitivityCh3);
    EXPECT_EQ(texts(param::offsetCh1 + 2),
              QStringList({"cadrage( 3 ):", ScopePrintf(2, GetVerticalOffset(ch3, SCALE_SCOPE) + -20 * k3) +
                                                 GetVerticalUnit(ch3, SCALE_SCOPE, true)}));
    EXPECT_EQ(texts(param::trigLevelCh1 + 3)[0], "niveau decl( 4 ):");
    EXPECT_TRUE(handled_);
}

TEST_F(SetupParam, CursorReadingsAndOtherCodes)
{
    data.measRefChannel = 1;
    data.traceFormat = 0;
    QStringList list = texts(param::cursor1Time);
    ASSERT_EQ(list.size(), 8);
    EXPECT_EQ(list[0], "T1:");
    EXPECT_EQ(list[6], " 1/dT:");
    EXPECT_TRUE(list[7].endsWith("Hz"));
    data.traceFormat = 1;
    EXPECT_EQ(texts(param::cursor1Time).size(), 6);
    data.traceFormat = 2;
    EXPECT_EQ(texts(param::cursor1Time)[0], "V1x:");
    EXPECT_EQ(texts(param::cursor1Level).size(), 6);
    data.traceFormat = 0;
    list = texts(param::cursor1Level);
    ASSERT_EQ(list.size(), 8);
    EXPECT_EQ(list[6], " Ph:");
    EXPECT_EQ(list[7], ScopePrintf(2, 90) + QChar(176));
    data.traceFormat = 3;
    EXPECT_TRUE(texts(param::cursor1Level).isEmpty());
    EXPECT_TRUE(handled_);
    EXPECT_EQ(texts(param::cursor2Time)[0], "T1:");
    EXPECT_EQ(texts(param::cursor2Level)[4], " dV:");

    EXPECT_TRUE(texts(param::autosetRequest).isEmpty());
    EXPECT_TRUE(handled_);
    data.cursorState = 2;
    EXPECT_TRUE(texts(param::cursorState).isEmpty());
    EXPECT_TRUE(handled_);
    data.cursorState = 3;
    EXPECT_EQ(texts(param::cursorState), QStringList({"untouched"}));
    EXPECT_FALSE(handled_);
    EXPECT_EQ(texts(14), QStringList({"untouched"}));
    EXPECT_FALSE(handled_);
}
