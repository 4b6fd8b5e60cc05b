// Smart probes read from the simulated board's probe chips: the probe object, the reading that
// applies it to the setup, the key status, the user fields, the texts and concurrent use.
#include "hardware/kalvex.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "hardware/fpga.h"
#include "tests/support/probes.h"
#include "tests/support/simfpgaboardtest.h"

#include <QString>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using simboard::TLogEntry;
using simboard::TLogKind;
using simboard::TProbeDescription;

std::string unitBytes(const char (&unit)[4])
{
    return std::string(unit, 4);
}

// The I2C transfers of the log.
std::vector<TLogEntry> i2cLog()
{
    return simboard::log({TLogKind::I2c});
}

// Writes to a device other than the memory, as "address:byte byte".
std::vector<std::string> deviceWrites()
{
    std::vector<std::string> out;
    for (const TLogEntry& e : i2cLog()) {
        if (e.c != 0 || e.b == 0x50)
            continue;
        std::string s = std::to_string(e.b) + ":";
        for (int i = 0; i < e.byteCount; ++i)
            s += (i ? " " : "") + std::to_string(e.bytes[i]);
        out.push_back(s);
    }
    return out;
}

class KalvexTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        savedTrace_ = setupLinks().acqCh1;
        setupLinks().acqCh1 = trace();
        unplugAllProbes();
    }
    void TearDown() override
    {
        unplugAllProbes();
        setupLinks().acqCh1 = savedTrace_;
        SimFpgaBoardTest::TearDown();
    }
    // Never destroyed: the links are read by every thread.
    static TAcquisition* trace()
    {
        static auto* t = new TAcquisition(1);
        return t;
    }
    TAcquisition* savedTrace_ = nullptr;
};

TProbeDescription fullProbe()
{
    TProbeDescription d = probeWithId(0x1234);
    d.colour = 7;
    d.second = 3;
    d.fields = {{"bandwidthLimit", "BL2"}, {"coupling", "AC"},       {"unit", "A"},
                {"coefficient", "20"},     {"sensitivity", "0.5"},   {"position", "-1.5"},
                {"meterType", "1"},        {"meterCoupling", "AC+DC"}, {"meterRange", "2"},
                {"comment", "AB123 a probe"}, {"input1", "600V CAT II"}};
    return d;
}

// --- The probe object and its application, one table of memories ------------------------------

TEST_F(KalvexTest, ReadingAppliesWhatTheMemoryHolds)
{
    struct Row {
        const char* what;
        TProbeDescription probe;
        std::function<void(std::vector<uint8_t>&)> damage;  // applied to the built image
        bool plugged;
        int result;
        bool linked;
        std::function<void()> check;
    };
    const database& d = data;
    auto blankDescriptor = [](std::vector<uint8_t>& m) { std::fill(m.begin() + 288, m.begin() + 532, 0xFF); };
    const short position = static_cast<short>(std::trunc(-1.5 / (GetVerticalScale(trace(), SCALE_SCOPE, 7) * 262.0)));
    TProbeDescription headerBad = fullProbe();
    headerBad.damage = "header";
    TProbeDescription descriptorBad = fullProbe();
    descriptorBad.damage = "descriptor";
    TProbeDescription full = fullProbe();
    full.hasCorrection = true;
    full.correction = "1.02 x 0.5";
    TProbeDescription userBad = full;
    userBad.damage = "userArea";
    TProbeDescription wide = probeWithId(0x1234);
    wide.fields = {{"unit", "ABCDEF"}, {"coefficient", "123456789"}, {"coupling", "DCDCDCDCDC"}, {"meterType", "111"}};
    TProbeDescription malformed = probeWithId(0x1234);
    malformed.fields = {{"sensitivity", "1"}, {"meterType", "20"}, {"meterRange", "9"}, {"bandwidthLimit", "BL4"},
                        {"meterCoupling", "ACDC"}, {"coefficient", "x1"}};
    TProbeDescription blankUnit = probeWithId(0x1234);
    blankUnit.fields = {{"unit", " mV"}, {"coefficient", "200000"}};

    const std::vector<Row> rows = {
        {"a full descriptor", full, nullptr, true, 0, true,
         [&] {
             EXPECT_EQ(d.traceColorCh1, 7);
             EXPECT_EQ(d.bwLimitCh1, 2);
             EXPECT_EQ(d.couplingCh1, 0);
             EXPECT_EQ(unitBytes(d.unitCh1), std::string("A\0\0\0", 4));
             EXPECT_EQ(d.probeCoeffCh1, 20.0f);
             EXPECT_EQ(d.sensitivityCh1, 7);
             EXPECT_EQ(d.offsetCh1, position);
             EXPECT_EQ(d.meterFunction, 1);
             EXPECT_EQ(d.meterCouplingCh1, 2);
             EXPECT_EQ(d.meterRangeCh1, 2);
             EXPECT_EQ(d.traceOnCh1, 1);
             EXPECT_EQ(d.memoryTraceCh1, 0);
             EXPECT_EQ(d.refShownCh1, 0);
         }},
        {"a built-in id with a blank descriptor area", probeWithId(0x0005), blankDescriptor, true, 0, true,
         [&] {
             EXPECT_EQ(d.probeCoeffCh1, 1.0f);
             EXPECT_EQ(unitBytes(d.unitCh1), std::string("V\0\0\0", 4));
             EXPECT_EQ(d.traceOnCh1, 1);
         }},
        {"a bad header checksum: settings, not the colour", headerBad, nullptr, true, 4, true,
         [&] {
             EXPECT_EQ(d.traceColorCh1, init_par.traceColorCh1);
             EXPECT_EQ(d.probeCoeffCh1, 20.0f);
             EXPECT_EQ(d.traceOnCh1, 1);
         }},
        {"a bad descriptor checksum: dropped, defaults back", descriptorBad, nullptr, true, 3, false,
         [&] {
             EXPECT_EQ(d.traceColorCh1, init_par.traceColorCh1);
             EXPECT_EQ(d.probeCoeffCh1, init_par.probeCoeffCh1);
             EXPECT_EQ(unitBytes(d.unitCh1), unitBytes(init_par.unitCh1));
             EXPECT_EQ(d.traceOnCh1, 0);
             EXPECT_EQ(d.refShownCh1, 0);
         }},
        {"a bad user-area checksum: no correction", userBad, nullptr, true, 0, true,
         [&] {
             double gain = 0, offset = 0;
             EXPECT_EQ(smartProbeLink(0)->getCorrection(&gain, &offset), -1);
             EXPECT_EQ(gain, 1.0);
             EXPECT_EQ(offset, 0.0);
             EXPECT_EQ(d.probeCoeffCh1, 20.0f);
         }},
        {"no probe", TProbeDescription(), nullptr, false, 2, false,
         [&] { EXPECT_EQ(d.traceOnCh1, 0); }},
        {"fields filled to their width without terminator", wide, nullptr, true, 0, true,
         [&] {
             EXPECT_EQ(unitBytes(d.unitCh1), std::string("ABC\0", 4));
             EXPECT_EQ(d.probeCoeffCh1, 100000.0f);  // "12345678", bounded by the maximum
             EXPECT_EQ(d.couplingCh1, init_par.couplingCh1);
             EXPECT_EQ(d.meterFunction, 11);
         }},
        {"malformed and out-of-range numbers", malformed, nullptr, true, 0, true,
         [&] {
             EXPECT_EQ(d.sensitivityCh1, init_par.sensitivityCh1);
             EXPECT_EQ(d.offsetCh1, init_par.offsetCh1);
             EXPECT_EQ(d.meterFunction, init_par.meterFunction);
             EXPECT_EQ(d.meterRangeCh1, init_par.meterRangeCh1);
             EXPECT_EQ(d.bwLimitCh1, init_par.bwLimitCh1);
             EXPECT_EQ(d.meterCouplingCh1, init_par.meterCouplingCh1);
             EXPECT_EQ(d.probeCoeffCh1, init_par.probeCoeffCh1);
         }},
        {"a leading blank leaves the unit; the coefficient is bounded", blankUnit, nullptr, true, 0, true,
         [&] {
             EXPECT_EQ(unitBytes(d.unitCh1), unitBytes(init_par.unitCh1));
             EXPECT_EQ(d.probeCoeffCh1, 100000.0f);
         }},
        {"the temperature adapter 0x0009: the degree sign in UTF-8", probeWithId(0x0009), nullptr, true, 0, true,
         [&] {
             EXPECT_EQ(unitBytes(d.unitCh1), std::string("\xC2\xB0" "C\0", 4));
             EXPECT_EQ(QString::fromUtf8(d.unitCh1), QString::fromUtf8("\xC2\xB0" "C"));
             EXPECT_EQ(d.probeCoeffCh1, 500.0f);
             EXPECT_EQ(d.couplingCh1, 1);
             EXPECT_EQ(d.bwLimitCh1, 3);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        unplugAllProbes();
        std::memcpy(&data, &init_par, sizeof data);
        data.refShownCh1 = 1;
        data.memoryTraceCh1 = 1;
        if (row.plugged) {
            std::vector<uint8_t> image = simboard::buildProbeImage(row.probe);
            if (row.damage)
                row.damage(image);
            simboard::setProbeMemory(0, image);
        }
        EXPECT_EQ(LectureKalvex(0, &data), row.result);
        EXPECT_EQ(smartProbeLink(0) != nullptr, row.linked);
        row.check();
    }
}

TEST_F(KalvexTest, CoefficientBoundedByChannelOnesMaximumOnEveryChannel)
{
    TProbeDescription p = probeWithId(0x1234);
    p.fields = {{"coefficient", "200000"}};
    float database::*const coefficients[4] = {&database::probeCoeffCh1, &database::probeCoeffCh2,
                                               &database::probeCoeffCh3, &database::probeCoeffCh4};
    for (int ch = 0; ch < 4; ++ch) {
        simboard::plugProbe(ch, p);
        EXPECT_EQ(LectureKalvex(static_cast<int16_t>(ch), &data), 0);
        EXPECT_EQ(data.*coefficients[ch], 100000.0f) << ch;
    }
}

TEST_F(KalvexTest, MeterTypeOnChannelOneOnly)
{
    TProbeDescription p = fullProbe();
    simboard::plugProbe(1, p);
    ASSERT_EQ(LectureKalvex(1, &data), 0);
    EXPECT_EQ(data.meterFunction, init_par.meterFunction);
    EXPECT_EQ(data.meterCouplingCh2, 2);
    EXPECT_EQ(data.meterRangeCh2, 2);
    EXPECT_EQ(data.probeCoeffCh2, 20.0f);
}

TEST_F(KalvexTest, ChipsSetUpAfterTheReading)
{
    struct Row {
        uint16_t id;
        std::vector<std::string> writes;
    };
    for (const Row& row : {Row{0x8001, {"33:199"}}, Row{7, {"72:172 12", "72:81"}}, Row{5, {}}}) {
        SCOPED_TRACE(row.id);
        simboard::clearLog();
        TKalvex probe((simboard::plugProbe(2, probeWithId(row.id)), 2));
        EXPECT_EQ(probe.state, 0);
        EXPECT_EQ(deviceWrites(), row.writes);
        for (const TLogEntry& e : i2cLog())
            EXPECT_EQ(e.a, 2);
        EXPECT_EQ(simboard::probeExpanderConfiguration(2), (row.id & 0x8000) ? 0xC7 : 0xFF);
    }
}

TEST_F(KalvexTest, ReadingAnExistingProbeTouchesOnlyTheKeyRegisters)
{
    simboard::plugProbe(0, probeWithId(0x8001));
    TFpga::setSpiRegister(4, 0xFFFF);
    simboard::clearLog();
    ASSERT_EQ(LectureKalvex(0, &data), 0);

    // Register 4 loses bits 1-4 before the first transfer and gets them back after the last;
    // register 12 is read once, at the end.
    const std::vector<TLogEntry> entries = simboard::log({TLogKind::SpiWrite, TLogKind::SpiRead, TLogKind::I2c});
    int firstI2c = -1, lastI2c = -1, clear = -1, restore = -1, eventReads = 0, eventRead = -1;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        const TLogEntry& e = entries[i];
        if (e.kind == TLogKind::I2c) {
            if (firstI2c < 0)
                firstI2c = i;
            lastI2c = i;
        } else if (e.kind == TLogKind::SpiWrite && e.b == 4) {
            (e.c == 0xFFE1 ? clear : restore) = i;
            EXPECT_TRUE(e.c == 0xFFE1 || e.c == 0xFFFF) << e.c;
        } else if (e.kind == TLogKind::SpiRead && e.b == 12) {
            ++eventReads;
            eventRead = i;
        }
    }
    ASSERT_GE(firstI2c, 0);
    EXPECT_LT(clear, firstI2c);
    EXPECT_GT(restore, lastI2c);
    EXPECT_EQ(eventReads, 1);
    EXPECT_GT(eventRead, lastI2c);
    EXPECT_EQ(simboard::spiRegister(4), 0xFFFFu);

    // The object is kept: a second reading sends nothing to the probe.
    const std::shared_ptr<TKalvex> first = smartProbeLink(0);
    simboard::clearLog();
    simboard::removeProbe(0);
    EXPECT_EQ(LectureKalvex(0, &data), 0);
    EXPECT_TRUE(i2cLog().empty());
    EXPECT_EQ(smartProbeLink(0), first);
}

// --- Key status -------------------------------------------------------------------------------

TEST_F(KalvexTest, KeyCodesFromTheExpander)
{
    struct Row {
        const char* what;
        int expander;
        int button;
        bool secondSilent;
        int code;
    };
    for (const Row& row : {Row{"first button", 0x21, 1, false, 5}, Row{"second button", 0x21, 2, false, 6},
                           Row{"third line", 0x21, 3, false, 7}, Row{"no button", 0x21, 0, false, 8},
                           Row{"the second expander", 0x41, 2, false, 6},
                           Row{"neither expander answers", 0x41, 2, true, 8}}) {
        SCOPED_TRACE(row.what);
        simboard::reset();
        TProbeDescription p = probeWithId(0x8001);
        p.expander = row.expander;
        const std::shared_ptr<TKalvex> probe = linkProbe(3, p);
        if (row.secondSilent)
            simboard::setI2cNoAnswer(3, 0x41);
        EXPECT_EQ(probe->getStatus(), 0);  // nothing pending
        simboard::pressProbeButton(3, row.button);
        EXPECT_EQ(probe->updateStatus(), 1);
        EXPECT_EQ(probe->statusPending, 1);
        EXPECT_EQ(probe->getStatus(), row.code);
        EXPECT_EQ(probe->statusPending, 0);
        EXPECT_EQ(probe->getStatus(), 0);
    }
}

TEST_F(KalvexTest, StateComesBeforeAPendingKeyAndARemovalIsNoticed)
{
    TProbeDescription p = probeWithId(0x8001);
    p.damage = "header";
    const std::shared_ptr<TKalvex> damaged = linkProbe(0, p);
    simboard::pressProbeButton(0, 1);
    damaged->updateStatus();
    EXPECT_EQ(damaged->getStatus(), 4);

    const std::shared_ptr<TKalvex> probe = linkProbe(1, 0x8001);
    simboard::removeProbe(1);
    EXPECT_EQ(probe->updateStatus(), 0);
    EXPECT_EQ(probe->state, 2);
    EXPECT_EQ(probe->getStatus(), 2);
    EXPECT_EQ(LectureKalvex(1, &data), 2);
    EXPECT_EQ(smartProbeLink(1), nullptr);
}

// --- Identity, user fields and texts ----------------------------------------------------------

TEST_F(KalvexTest, IdentityAndUserFieldsByState)
{
    struct Row {
        const char* damage;
        int state;
        bool identified;
        bool userFields;
    };
    for (const Row& row : {Row{"", 0, true, true}, Row{"header", 4, true, false}, Row{"descriptor", 3, false, false}}) {
        SCOPED_TRACE(row.state);
        TProbeDescription p = fullProbe();
        p.damage = row.damage;
        simboard::plugProbe(0, p);
        TKalvex probe(0);
        EXPECT_EQ(probe.state, row.state);
        char designation[6] = {'?', '?', '?', '?', '?', '?'};
        unsigned short id = 0;
        EXPECT_EQ(probe.getId(designation, &id), row.identified ? 0 : -1);
        if (row.identified) {
            EXPECT_EQ(std::string(designation, 6), std::string("AB123\0", 6));
            EXPECT_EQ(id, 0x1234);
        }
        unsigned short colour = 99, second = 99;
        EXPECT_EQ(probe.getUserFields(&colour, &second), row.userFields ? 0 : -1);
        EXPECT_EQ(colour, row.userFields ? 7 : 99);
        EXPECT_EQ(second, row.userFields ? 3 : 99);
    }
}

TEST_F(KalvexTest, MessagesDecodedBoundedAndConverted)
{
    TProbeDescription p = probeWithId(0x1234);
    p.fields = {{"input1", "max 60\xB0" "C"},  // a Latin-1 degree byte: not UTF-8
                {"input2", "10 k{"},
                {"floating1", "0123456789ABCDEFGHIJ"},  // fills its 16 bytes
                {"floating2", "second floating"},
                {"betweenChannels", "between"},
                {"comment", "XY001 some accessory"}};
    simboard::plugProbe(0, p);
    TKalvex probe(0);
    ASSERT_EQ(probe.state, 0);
    QString text = "old";
    probe.getMessageInput1(text);
    EXPECT_EQ(text, QString::fromUtf8("max 60\xC2\xB0" "C"));
    probe.getMessageInput2(text);
    EXPECT_EQ(text, QString::fromUtf8("10 k\xE2\x84\xA6"));
    probe.getMessageFloating1(text);
    EXPECT_EQ(text, QString("0123456789ABCDEF"));
    probe.getMessageFloating2(text);
    EXPECT_EQ(text, QString("second floating"));
    probe.getMessageBetweenChannels(text);
    EXPECT_EQ(text, QString("between"));
    probe.getMessageComments(text);
    EXPECT_EQ(text, QString("XY001 some accessory"));

    // No texts from a probe that could not be read.
    for (const char* damage : {"descriptor", "none"}) {
        SCOPED_TRACE(damage);
        p.damage = damage;
        if (std::string(damage) == "none")
            simboard::removeProbe(0);
        else
            simboard::plugProbe(0, p);
        TKalvex gone(0);
        EXPECT_EQ(gone.state, std::string(damage) == "none" ? 2 : 3);
        text = "old";
        gone.getMessageComments(text);
        EXPECT_TRUE(text.isEmpty());
        gone.getMessageInput1(text);
        EXPECT_TRUE(text.isEmpty());
    }
}

TEST_F(KalvexTest, CorrectionOnlyBehindItsMarkerAndUsable)
{
    struct Row {
        const char* text;
        bool marker;
        int result;
        double gain, offset;
    };
    const std::string endless(5000, '7');  // fills the user area without a terminator
    for (const Row& row : {Row{"1.02 x 0.5", true, 0, 1.02, 0.5}, Row{"1.02 x 0.5", false, -1, 1.0, 0.0},
                           Row{"0 x 0.5", true, -1, 1.0, 0.0}, Row{"2", true, -1, 1.0, 0.0},
                           Row{"nan x 1", true, -1, 1.0, 0.0}, Row{endless.c_str(), true, -1, 1.0, 0.0}}) {
        SCOPED_TRACE(std::string(row.text).substr(0, 20));
        TProbeDescription p = probeWithId(0x0005);
        p.hasCorrection = true;
        p.correctionMarker = row.marker;
        p.correction = row.text;
        simboard::plugProbe(0, p);
        TKalvex probe(0);
        double gain = -1, offset = -1;
        EXPECT_EQ(probe.getCorrection(&gain, &offset), row.result);
        EXPECT_EQ(gain, row.gain);
        EXPECT_EQ(offset, row.offset);
    }
}

TEST_F(KalvexTest, PositionNeedsATraceAndAUsableScale)
{
    TProbeDescription p = probeWithId(0x1234);
    p.fields = {{"sensitivity", "0.5"}, {"position", "-1e300"}};
    simboard::plugProbe(0, p);
    TKalvex probe(0);
    unsigned short sensitivity = 3;
    short position = 11;
    EXPECT_EQ(probe.getScopeVertical(nullptr, &sensitivity, &position), -1);
    EXPECT_EQ(sensitivity, 7);
    EXPECT_EQ(position, 11);
    EXPECT_EQ(probe.getScopeVertical(trace(), &sensitivity, &position), -1);  // beyond 16 bits
    EXPECT_EQ(position, 11);
}

// --- Concurrent use ---------------------------------------------------------------------------

// The controller plugs, unplugs, reads and writes colours on channel 1 while the acquisition side
// and the views read the links and the key thread asks both probes for their status: nothing is
// used after it was freed, and no sequence runs on the other channel's bus (a colour write never
// lands in the other probe, a read never comes from the other bus).
TEST_F(KalvexTest, RemovalWhileOthersUseTheProbe)
{
    const TProbeDescription first = correctedProbe(0x8001, 1.5, 0.25);
    simboard::plugProbe(1, probeWithId(0x8004));
    const std::vector<uint8_t> secondMemory = simboard::probeMemory(1);
    const std::shared_ptr<TKalvex> second = std::make_shared<TKalvex>(1);
    ASSERT_EQ(second->state, 0);
    std::atomic<bool> stop{false};

    std::thread controller([&] {
        for (int i = 0; i < 30; ++i) {
            if (i % 3 < 2)
                simboard::plugProbe(0, first);
            else
                simboard::removeProbe(0);
            LectureKalvex(0, &data);
            if (const std::shared_ptr<TKalvex> probe = smartProbeLink(0)) {
                EXPECT_EQ(probe->id, 0x8001);
                probe->setUserFields(static_cast<unsigned short>(i & 7), 1);
            }
        }
        stop = true;
    });
    std::thread reader([&] {
        while (!stop) {
            if (const std::shared_ptr<TKalvex> probe = smartProbeLink(0)) {
                double gain = 0, offset = 0;
                probe->getCorrection(&gain, &offset);
                QString text;
                probe->getMessageComments(text);
                unsigned short id = 0;
                probe->getId(nullptr, &id);
            }
        }
    });
    std::thread keys([&] {
        while (!stop) {
            if (const std::shared_ptr<TKalvex> probe = smartProbeLink(0)) {
                probe->updateStatus();
                probe->getStatus();
            }
            second->updateStatus();
            second->getStatus();
        }
    });
    controller.join();
    reader.join();
    keys.join();

    EXPECT_EQ(second->state, 0);
    EXPECT_EQ(simboard::probeMemory(1), secondMemory);
}

} // namespace
