// The charging screen's decisions per tick, and the window over the level file.
#include "board/board.h"
#include "board/deviceio.h"
#include "chargeview/mainwindow.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <QImage>

#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string name(const char* picture)
{
    std::string p = picture;
    return p.substr(p.rfind('/') + 1, p.size() - p.rfind('/') - 5);  // "battery40"
}

// What each tick shows for a sequence of levels: "picture number plug".
std::vector<std::string> run(const std::vector<int>& levels)
{
    int16_t img = 0, counter = 10;
    bool plug = false;
    std::vector<std::string> out;
    for (int level : levels) {
        const TChargeStep s = chargeStep(static_cast<int16_t>(level), img, counter);
        img = s.batteryImg;
        counter = s.counterBeforeBlink;
        plug = plug || s.plug;  // once shown it stays
        out.push_back(name(s.picture) + " " + (s.number >= 0 ? std::to_string(s.number) : "-") + (plug ? " plug" : ""));
    }
    return out;
}

} // namespace

TEST(ChargeStep, LevelsOnBattery)
{
    const struct {
        int level;
        const char* shown;
    } cases[] = {
        {55, "battery60 55"}, {80, "battery100 80"}, {79, "battery80 79"}, {19, "battery20 19"},
        {1, "battery20 -"},   {0, "batteryWait -"}, {100, "battery100 100"}, {20, "battery40 20"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.shown, run({c.level})[0]) << c.level;
}

TEST(ChargeStep, ChargingSequences)
{
    // From the start at -30: the true level for 9 ticks, then the gauge climbs by 20 a tick.
    std::vector<int> levels(14, -30);
    std::vector<std::string> expected(9, "battery40 30 plug");
    for (const char* p : {"battery60", "battery80", "battery100", "battery40", "battery60"})
        expected.push_back(std::string(p) + " 30 plug");
    EXPECT_EQ(expected, run(levels));

    // -90: battery100 throughout.
    for (const std::string& shown : run(std::vector<int>(15, -90)))
        EXPECT_EQ("battery100 90 plug", shown);

    // -50 after a start on battery: animates at once from the last animation value (0).
    EXPECT_EQ((std::vector<std::string>{"battery60 50", "battery40 50 plug", "battery60 50 plug", "battery80 50 plug",
                                        "battery100 50 plug", "battery100 50 plug", "battery60 50 plug",
                                        "battery80 50 plug", "battery100 50 plug", "battery60 50 plug"}),
              run({50, -50, -50, -50, -50, -50, -50, -50, -50, -50}));

    // -1 shows no number; level 0 keeps the plug as it was and resets the counter.
    EXPECT_EQ((std::vector<std::string>{"battery20 - plug", "batteryWait - plug"}), run({-1, 0}));
}

TEST(BatteryLevelText, LeadingNumberOfTenBytes)
{
    const struct {
        std::string bytes;
        int level;
    } cases[] = {
        {"87 ", 87},         {"-30", -30},          {"  +42x", 42},    {"", 0},
        {"abc", 0},          {"-", 0},              {"12345678901", 722},
        {"40000", -25536},   {"0000000000009", 0},  {"\n7", 7},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.level, parseBatteryLevel(c.bytes.data(), c.bytes.size())) << c.bytes;
}

class ChargeWindowTest : public SimBoardTest {};

TEST_F(ChargeWindowTest, TickReadsTheLevelFile)
{
    const std::string file = hostPath(kBatLevelFile);
    ::mkdir(hostPath("/var/tmp").c_str(), 0755);
    std::ofstream(file) << "-30";
    MainWindow window;
    EXPECT_TRUE(window.plugShown());
    EXPECT_EQ(9, window.counterBeforeBlink());
    EXPECT_EQ(QSize(400, 75), window.gauge().size());
    // The number is painted on the gauge: it differs from the bare picture.
    const QImage bare = QPixmap(":/Images/battery40.png").scaled(400, 75).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_NE(bare, window.gauge().toImage().convertToFormat(QImage::Format_ARGB32));
    // Kept for review, never compared.
    ::mkdir(CHARGEVIEW_ARTEFACT_DIR, 0755);
    window.resize(800, 480);
    window.grab().save(QString(CHARGEVIEW_ARTEFACT_DIR) + "/chargeview-charging.png");

    ::unlink(file.c_str());
    window.timerTick();
    EXPECT_EQ(0, window.counterBeforeBlink());
    std::ofstream(file) << "55 ";
    window.timerTick();
    EXPECT_EQ(0, window.counterBeforeBlink());
    EXPECT_EQ(30, window.batteryImg()) << "the animation state stays";
}
