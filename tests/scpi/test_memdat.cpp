#include "scpi/fct.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(StatusRegisters, ErrorNumbersSetTheirEventBitAndSummaryBits)
{
    struct Case {
        int error;
        unsigned char eventBit;
    } cases[] = {
        {1, kEsrCommandError}, {10, kEsrCommandError}, {21, kEsrCommandError},
        {22, kEsrExecutionError}, {25, kEsrExecutionError}, {32, kEsrExecutionError},
        {33, kEsrDeviceError}, {34, kEsrDeviceError}, {36, kEsrDeviceError},
        {37, kEsrQueryError}, {0, 0}, {38, 0}, {-5, 0},
    };
    for (const Case& c : cases) {
        meminit();
        error(c.error);
        EXPECT_EQ(memerr(2, 0), c.error) << c.error;
        EXPECT_EQ(memesr(6, 0, 0), 255);
        // Reading the register clears it and the summary bit.
        unsigned char stbBefore = memsbr(2, 0, 0);
        EXPECT_EQ(memesr(2, 0, 0), c.eventBit) << c.error;
        if (c.eventBit) {
            EXPECT_EQ(stbBefore, kStbEventSummary | kStbRequestService) << c.error;  // 5 sets 6
        } else {
            EXPECT_EQ(stbBefore, 0) << c.error;
        }
        EXPECT_EQ(memsbr(2, 0, 0), 0) << c.error;
        EXPECT_EQ(memesr(2, 0, 0), 0);
    }
}

TEST(StatusRegisters, MasksDecideSummaryAndServiceBits)
{
    meminit();
    struct Step {
        char reg;  // 'e' memesr, 's' memsbr
        char op;
        unsigned char bits, set;
        unsigned char result, stb;  // the call's result, then the status byte
    } steps[] = {
        {'e', 1, kEsrPowerOn, 1, 128, 96},       // power on: status byte 96
        {'e', 5, 0, 0x7F, 0x7F, 0},              // power-on bit masked out: summary clears
        {'e', 1, kEsrOperationComplete, 1, 129, 96},
        {'e', 6, 0, 0, 0x7F, 96},
        {'s', 5, 0, 0x10, 0x10, 32},             // service request masked: bit 6 clears
        {'s', 1, kStbMessageAvailable, 1, 112, 112},
        {'s', 5, 0, 0x40, 0x40, 48},             // bit 6 itself never counts
        {'s', 6, 0, 0, 0x40, 48},
        {'s', 5, 0, 0x20, 0x20, 112},
        {'s', 1, 0xEF, 0, 96, 96},               // clear by AND
        {'e', 1, 0xFE, 0, 128, 0},               // clear bit 0 of the register: nothing enabled left
        {'e', 2, 0, 0, 128, 0},                  // read and clear
        {'e', 0, 0, 0, 0, 0},                    // reset: mask 255 again
        {'e', 6, 0, 0, 255, 0},
        {'s', 0, 0, 0, 0, 0},
        {'s', 6, 0, 0, 255, 0},
    };
    int i = 0;
    for (const Step& s : steps) {
        unsigned char r = s.reg == 'e' ? memesr(s.op, s.bits, s.set) : memsbr(s.op, s.bits, s.set);
        EXPECT_EQ(r, s.result) << "step " << i;
        EXPECT_EQ(memsbr(2, 0, 0), s.stb) << "step " << i;
        ++i;
    }
}

TEST(StatusRegisters, QueueKeepsTwentyAndReportsOverflowInTheNewestSlot)
{
    meminit();
    for (int i = 1; i <= 25; ++i)
        error(i);
    for (int i = 1; i <= 19; ++i)
        EXPECT_EQ(memerr(2, 0), i);
    EXPECT_EQ(memerr(2, 0), kErrQueueOverflow);
    EXPECT_EQ(memerr(2, 0), 0);
    EXPECT_EQ(memerr(2, 0), 0);
    // Any other op empties the queue.
    memerr(1, 3);
    memerr(7, 0);
    EXPECT_EQ(memerr(2, 0), 0);
}

TEST(StatusRegisters, MeminitAndDataTransferSettings)
{
    memform(1, 2);
    memdint(1, 1);
    memabsc1(1, 10);
    memabsc2(1, 20);
    mempas(1, 3);
    memerr(1, 5);
    memesr(5, 0, 3);
    memsbr(5, 0, 3);
    meminit();
    EXPECT_EQ(memerr(2, 0), 0);
    EXPECT_EQ(memesr(6, 0, 0), 255);
    EXPECT_EQ(memsbr(6, 0, 0), 255);
    EXPECT_EQ(memform(2, 0), 0);
    EXPECT_EQ(memdint(2, 0), 0);
    EXPECT_EQ(memabsc1(2, 0), 0u);
    EXPECT_EQ(memabsc2(2, 0), 99999u);
    EXPECT_EQ(mempas(2, 0), 1u);
    EXPECT_EQ(memabsc1(1, 7), 7u);
    EXPECT_EQ(memabsc1(0, 7), 0u);
    EXPECT_EQ(memabsc2(1, 7), 7u);
    EXPECT_EQ(memabsc2(0, 7), 99999u);
    EXPECT_EQ(mempas(1, 7), 7u);
    EXPECT_EQ(mempas(0, 7), 1u);
    EXPECT_EQ(memform(1, 3), 3);
    EXPECT_EQ(memform(0, 9), 3);
}

TEST(StatusRegisters, ErrorTexts)
{
    EXPECT_STREQ(MessageErreur[0], "0,No error \n\r");
    EXPECT_STREQ(MessageErreur[10], "-113,Undefined header\n\r");
    EXPECT_STREQ(MessageErreur[37], "-400,Query error\n\r");
    for (int i = 1; i < kScpiErrorCount; ++i) {
        std::string t = MessageErreur[i];
        EXPECT_EQ(t[0], '-') << i;
        EXPECT_EQ(t.substr(t.size() - 2), "\n\r") << i;
    }
    EXPECT_STREQ(scpiErrorText(38), "-200,Execution error\n\r");
    EXPECT_STREQ(scpiErrorText(-1), "-200,Execution error\n\r");
}

// SYSTem:ERRor? through an in-process session bound like a program message.
class SystErrHandler : public SimBoardTest {};

TEST_F(SystErrHandler, RepliesOldestErrorAndRefusesSuffixes)
{
    meminit();
    TScpiMemorySession client;
    client.send("SYST:ERR?\n");
    unsigned char c;
    ASSERT_EQ(GetCharacter(&c), kGetCharOk);  // binds the session

    struct Case {
        int queued;                // -1: nothing queued
        int16_t suffixes[3];
        int result;
        const char* reply;
    } cases[] = {
        {-1, {1, 1, 1}, 0, "0,No error \n\r"},
        {10, {1, 1, 1}, 0, "-113,Undefined header\n\r"},
        {25, {1, 1, 1}, 0, "-222,Data out of range\n\r"},
        {99, {1, 1, 1}, 0, "-200,Execution error\n\r"},  // outside the table
        {5, {2, 1, 1}, kErrSuffixOutOfRange, ""},
        {5, {1, 2, 1}, kErrSuffixOutOfRange, ""},
        {5, {1, 1, 32767}, kErrSuffixOutOfRange, ""},
    };
    for (const Case& k : cases) {
        memerr(0, 0);
        if (k.queued >= 0)
            memerr(1, k.queued);
        indic ind{};
        scpi_init(&ind, 0);
        ind.count = 2;
        ind.query = 1;
        for (int i = 0; i < 3; ++i)
            ind.suffix[i] = k.suffixes[i];
        char area[16] = {};
        pipe_dial requests[kScpiMaxRequests];
        int16_t count = 7;
        EXPECT_EQ(SystErr(&ind, area, requests, &count), k.result) << k.queued;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(client.takeReplies(), k.reply) << k.queued;
        if (k.result) {
            EXPECT_EQ(memerr(2, 0), k.queued) << "a refused query takes nothing";
        }
    }
    EXPECT_EQ(memsbr(2, 0, 0) & kStbMessageAvailable, 0);
    scpiEndOfMessage();
}

TEST(StatusRegisters, PutMessageWithoutSessionFails)
{
    meminit();
    EXPECT_EQ(PutMessage("x\n\r", 3), -1);
    EXPECT_EQ(memsbr(2, 0, 0), 0);
}

} // namespace
