// SD-card watcher: which kernel events concern the card's first partition, and the request
// that an insertion posts into the controller's inbox.
#include "tests/support/simboardtest.h"

#include "board/kevents.h"
#include "board/simcontrol.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/sdcard.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string event(const std::string& firstLine, const std::string& rest = "")
{
    std::string text = firstLine;
    text += '\0';
    text += rest;
    return text;
}

TEST(SdCardEvents, OnlyTheFirstLineOfAPartitionOneEventMatches)
{
    const std::string card = std::string("add@") + kSimSdCardDevicePath;
    const std::string longLine = "change@/devices/" + std::string(5000, 'x') + "/mmcblk0p1";
    struct Row {
        const char* what;
        std::string text;
        size_t length;  // 0: the whole text
        bool matches;
    };
    const std::vector<Row> rows = {
        {"whole card", event(card, "DEVNAME=mmcblk0"), 0, false},
        {"partition 1", event(card + "/mmcblk0p1", "DEVNAME=mmcblk0p1"), 0, true},
        {"partition 1 removed", event("remove@/block/mmcblk0/mmcblk0p1"), 0, true},
        {"partition 2", event(card + "/mmcblk0p2", "DEVNAME=mmcblk0p2"), 0, false},
        {"named only after the first line", event("add@/devices/usb1", "DEVNAME=mmcblk0p1"), 0, false},
        {"match cut by the length", "add@/block/mmcblk0p1", 19, false},
        {"long first line, name within reach", event("add@/mmcblk0p1/" + std::string(5000, 'y')), 0, true},
        {"long first line, name beyond the buffer", longLine.substr(0, 4095) + '\0', 4096, false},
        {"empty", "", 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(isSdPartitionEvent(row.text.data(), row.length ? row.length : row.text.size()), row.matches);
    }
    EXPECT_FALSE(isSdPartitionEvent(nullptr, 10));
}

class SdCardWatcherTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        ASSERT_EQ(startThread(&tSDCARD_id, sdcard_detect, nullptr, 20, true, "sdcard"), 0);
        for (int i = 0; i < 500 && simulatedKernelEventListeners() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(simulatedKernelEventListeners(), 1);
    }

    // The records that arrive within a short while, as text.
    static std::vector<std::string> posted()
    {
        std::vector<std::string> out;
        pipe_dial r{};
        while (o_g_consMessageBox.receive(&r, true, 1) == 0)
            out.push_back(text(r));
        return out;
    }
    static std::string text(const pipe_dial& r)
    {
        return std::to_string(r.kind) + "," + std::to_string(r.code) + "," + std::to_string(r.auxValue) + ","
            + std::to_string(r.intValue) + "," + std::to_string(r.floatValue) + "," + std::to_string(r.senderId);
    }
    static std::string cardChanged() { return text(pipe_dial{REQ_SCREEN, 6, 0, 0, 0.0f, senderValue(tSDCARD_id)}); }
};

TEST_F(SdCardWatcherTest, InsertionAndRemovalPostOneRequestEach)
{
    ASSERT_TRUE(simInsertSdCard());
    EXPECT_EQ(posted(), std::vector<std::string>{cardChanged()});
    ASSERT_TRUE(simRemoveSdCard());
    EXPECT_EQ(posted(), std::vector<std::string>{cardChanged()});
}

TEST_F(SdCardWatcherTest, EveryMatchingEventCountsAndAShortEventNeverSeesAnEarlierOne)
{
    const std::string partition = std::string("change@") + kSimSdCardDevicePath + "/mmcblk0p1";
    EXPECT_EQ(simSendKernelEvent(partition), 1);  // no NUL at all
    EXPECT_EQ(simSendKernelEvent("add@/dev"), 1);  // shorter, no NUL: the earlier bytes stay behind it
    EXPECT_EQ(simSendKernelEvent(event(partition)), 1);
    EXPECT_EQ(posted(), (std::vector<std::string>{cardChanged(), cardChanged()}));
}

} // namespace
