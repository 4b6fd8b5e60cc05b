// The trace object: new-trace state, sample values, the file and recorder records, the
// recorder envelope, the software shift and the pass/fail mask.
#include "acquisition/TAcquisition.h"

#include "acquisition/TFonction.h"
#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "hardware/handshake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        setupLinks() = TSetupLinks{};
        data.instrumentMode = 16;
    }

    // A temporary file, closed by the test's end.
    int tempFile()
    {
        FILE* f = std::tmpfile();
        files.push_back(f);
        return fileno(f);
    }
    static std::vector<uint8_t> contents(int fd)
    {
        std::vector<uint8_t> out(static_cast<size_t>(::lseek(fd, 0, SEEK_END)));
        ::pread(fd, out.data(), out.size(), 0);
        ::lseek(fd, 0, SEEK_SET);
        return out;
    }
    void TearDown() override
    {
        for (FILE* f : files)
            std::fclose(f);
    }
    std::vector<FILE*> files;
};

template <typename T>
T at(const std::vector<uint8_t>& bytes, size_t offset)
{
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

TEST_F(TraceTest, NewTraceStateAndIdentifiers)
{
    data.userTimeBase = 12;
    data.offsetCh2 = 125;
    data.sensitivityCh2 = 9;
    TAcquisition live(2);
    EXPECT_TRUE(std::all_of(live.samples, live.samples + 100000, [](uint32_t w) { return w == 0x80000000u; }));
    EXPECT_EQ(live.loggerRaw[0], 0x80000000u);
    EXPECT_EQ(live.measureStatus, MEASURE_INVALID);
    EXPECT_EQ(live.acqFlags, 33);
    EXPECT_EQ(live.timeBase, 12);
    EXPECT_EQ(live.position, 125);
    EXPECT_EQ(live.sensitivity, 9);
    EXPECT_EQ(TAcquisition::decadrage2_hard, 125);

    struct Row {
        uint16_t id;
        int16_t index;
        bool permanent;
    };
    for (const Row& r : {Row{1, 0, false}, Row{512, 1, true}, Row{2048, 3, true}, Row{16, -1, false},
                         Row{4096, -1, false}, Row{8192, 8, false}}) {
        TAcquisition t(r.id);
        EXPECT_EQ(t.channelIndex, r.index) << r.id;
        EXPECT_EQ(t.IsPermanentMemory(), r.permanent) << r.id;
    }
    TAcquisition power(8192);
    EXPECT_STREQ(power.unit, "W");
    EXPECT_EQ(power.meterScale, SCALE_POWER);
}

TEST_F(TraceTest, AcquisitionParametersFromARecordAndUnderAMathFunction)
{
    data.offsetCh3 = 200;
    data.sensitivityCh3 = 4;
    data.fftOffsetCh3 = -30;
    TAcquisition t(4);
    acq_ctrl c{};
    c.acqFlags = 0x1111;
    c.timeBase = 21;
    t.SetAcquisitionParametres(&c);
    EXPECT_EQ(t.acqFlags, 0x1111);
    EXPECT_EQ(t.timeBase, 21);
    EXPECT_EQ(t.sensitivity, 4);
    EXPECT_EQ(t.fftPosition, -30.0);

    // With a defined function only the sensitivity changes among the channel's fields.
    static char text[] = "ch1*ch2";
    setupLinks().mathFunctionCh3 = new TFonction(2, text);
    data.offsetCh3 = 400;
    t.SetAcquisitionParametres(nullptr);
    EXPECT_EQ(t.acqFlags, 33);
    EXPECT_EQ(t.sensitivity, 8);
    EXPECT_EQ(t.position, 200);
    EXPECT_EQ(TAcquisition::decadrage3_hard, 200);

    // Traces other than the live channels only get the default flags.
    TAcquisition memory(1024);
    memory.timeBase = 5;
    memory.SetAcquisitionParametres(&c);
    EXPECT_EQ(memory.acqFlags, 33);
    EXPECT_EQ(memory.timeBase, 5);
}

TEST_F(TraceTest, MeterViewOfChannelOneByMeterFunction)
{
    data.ohmRange = 5;
    data.capaRange = 3;
    data.meterRangeCh1 = 2;
    data.meterCouplingCh1 = 0xD;
    struct Row {
        int16_t function;
        TScale scale;
        uint16_t range;
        uint16_t coupling;
    };
    for (const Row& r : {Row{1, SCALE_OHMMETER, 5, 1}, Row{2, SCALE_OHMMETER, 0, 1},
                         Row{3, SCALE_CAPACITANCE, 3, 1}, Row{4, SCALE_DIODE, 1, 1}, Row{9, SCALE_METER, 2, 0xC},
                         Row{16, SCALE_METER, 2, 4}, Row{0, SCALE_METER, 2, 0xD}}) {
        SCOPED_TRACE(r.function);
        data.meterFunction = r.function;
        TAcquisition t(1);
        EXPECT_EQ(t.meterScale, r.scale);
        EXPECT_EQ(t.meterRange, r.range);
        EXPECT_EQ(t.meterCoupling, r.coupling);
        EXPECT_GT(t.fullRange, 0.0);
    }
}

TEST_F(TraceTest, SampleTextAtOneVoltPerDivision)
{
    data.sensitivityCh1 = 8;  // 1 V/div
    data.probeCoeffCh1 = 1.0f;
    data.auxCoeffCh1 = 0.0f;
    data.offsetCh1 = 0;
    TAcquisition t(1);
    t.samples[0] = 524256 + 32760;        // one division above the zero line
    t.samples[1] = 0x00300000 | (524256 - 16380);  // flag bits do not count
    t.samples[2] = 0x40000000;
    EXPECT_EQ(t.getSampleAt(0), "1.000\n\r");
    EXPECT_EQ(t.getSampleAt(1), "-0.500\n\r");
    EXPECT_EQ(t.getSampleAt(2), "?");
    EXPECT_EQ(t.getSampleAt(3), "?");  // empty
    EXPECT_EQ(t.getSampleAt(100000), "?");
}

TEST_F(TraceTest, FileRecordLayoutOfLiveMathAndMaskTraces)
{
    data.probeCoeffCh1 = 10.0f;
    std::memcpy(data.unitCh1, "V\0\0", 4);
    static char text[] = "ch1+ch3";
    setupLinks().mathFunctionCh2 = new TFonction(1, text);
    ASSERT_TRUE(setupLinks().mathFunctionCh2->IsDefined());

    struct Row {
        uint16_t id;
        float coeff;
        const char* unit;
        uint8_t flag;
    };
    for (const Row& r : {Row{1, 10.0f, "V", 0}, Row{2, 1.0f, "div", 1}, Row{4096, 1.0f, "div", 0},
                         Row{512, 1.0f, "div", 0}}) {
        SCOPED_TRACE(r.id);
        TAcquisition t(r.id);
        t.acqFlags = 0x1234;
        t.timeBase = 17;
        t.offset = 2.5f;
        t.softPosition = -12.25;
        t.sensitivity = 7;
        t.coupling = 2;
        t.bwLimit = 3;
        t.samples[0] = 524256;
        t.samples[99999] = 0xAABBCCDD;
        const int fd = tempFile();
        ASSERT_EQ(t.write(fd), 0);
        const auto b = contents(fd);
        ASSERT_EQ(b.size(), 400064u);
        EXPECT_EQ(at<uint16_t>(b, 0), 0x1234);
        EXPECT_EQ(at<uint16_t>(b, 2), 17);
        EXPECT_EQ(at<float>(b, 4), r.coeff);
        EXPECT_EQ(at<float>(b, 8), 2.5f);
        EXPECT_EQ(at<double>(b, 12), -12.25);
        EXPECT_EQ(at<uint16_t>(b, 20), 7);
        EXPECT_EQ(at<uint16_t>(b, 22), 2);
        EXPECT_EQ(at<int32_t>(b, 24), 3);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + 28)), r.unit);
        EXPECT_EQ(b[32], r.flag);
        EXPECT_EQ(std::string(b.begin() + 33, b.begin() + 64), std::string(31, '-'));
        EXPECT_EQ(at<uint32_t>(b, 64), 524256u);
        EXPECT_EQ(at<uint32_t>(b, 64 + 4 * 99999), 0xAABBCCDDu);
    }
}

TEST_F(TraceTest, ReadingAMemoryOfChannelTwoFillsItsBuffer)
{
    TAcquisition::Voie2Normalisee = new uint32_t[100000]();  // lives for the test process
    TAcquisition source(1);
    source.acqFlags = 0x4021;
    source.softPosition = 250.7;
    source.sensitivity = 5;
    for (uint32_t i = 0; i < 100000; ++i)
        source.samples[i] = 400000 + i;
    const int fd = tempFile();
    ASSERT_EQ(source.write(fd), 0);
    ::lseek(fd, 0, SEEK_SET);

    TAcquisition memory(512);
    memory.filterKind = 2;
    ASSERT_EQ(memory.read(fd), 0);
    EXPECT_EQ(memory.acqFlags, 0x0021);
    EXPECT_EQ(memory.position, 250);
    EXPECT_EQ(memory.sensitivity, 5);
    EXPECT_EQ(memory.filterKind, 0);
    EXPECT_EQ(TAcquisition::decadrage2_hard, 250);
    EXPECT_EQ(std::memcmp(memory.samples, source.samples, 400000), 0);
    EXPECT_EQ(std::memcmp(TAcquisition::Voie2Normalisee, source.samples, 400000), 0);
}

TEST_F(TraceTest, MalformedTraceRecordsAreRefused)
{
    auto bytesOf = [](auto v) { return std::string(reinterpret_cast<const char*>(&v), sizeof v); };
    struct Row {
        size_t offset;
        std::string value;
    };
    // sensitivity 40, time base 35, coupling 3, bandwidth limit 4; a coefficient, offset or
    // position that is not finite, a position beyond the 16-bit range
    const Row rows[] = {
        {20, bytesOf(uint16_t(40))}, {2, bytesOf(uint16_t(35))}, {22, bytesOf(uint16_t(3))},
        {24, bytesOf(int32_t(4))},   {4, bytesOf(NAN)},          {8, bytesOf(-INFINITY)},
        {12, bytesOf(double(NAN))},  {12, bytesOf(40000.0)},     {12, bytesOf(-1e300)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.offset);
        TAcquisition source(1);
        source.samples[0] = 1234;
        const int fd = tempFile();
        ASSERT_EQ(source.write(fd), 0);
        ASSERT_EQ(::pwrite(fd, r.value.data(), r.value.size(), static_cast<off_t>(r.offset)),
                  static_cast<ssize_t>(r.value.size()));
        ::lseek(fd, 0, SEEK_SET);
        TAcquisition target(2);
        target.sensitivity = 6;
        EXPECT_EQ(target.read(fd), 20);
        EXPECT_EQ(target.sensitivity, 6);
        EXPECT_EQ(target.samples[0], 0x80000000u);
    }
    // Also in a record cut short after the soft position.
    {
        uint8_t cut[24] = {};
        const double soft = 1e9;
        std::memcpy(cut + 12, &soft, sizeof soft);
        const int fd = tempFile();
        ASSERT_EQ(::write(fd, cut, sizeof cut), static_cast<ssize_t>(sizeof cut));
        ::lseek(fd, 0, SEEK_SET);
        TAcquisition target(2);
        EXPECT_EQ(target.read(fd), 20);
        EXPECT_EQ(target.softPosition, 0.0);
    }
    // A unit without its NUL is cut to three characters.
    TAcquisition source(1);
    std::memcpy(source.unit, "ABCD", 4);
    const int fd = tempFile();
    ASSERT_EQ(source.write(fd), 0);
    ::lseek(fd, 0, SEEK_SET);
    TAcquisition target(4096);
    ASSERT_EQ(target.read(fd), 0);
    EXPECT_STREQ(target.unit, "ABC");
}

TEST_F(TraceTest, RecorderRecordRoundTripAndShortRead)
{
    TAcquisition t(1);
    t.meterScale = SCALE_OHMMETER;
    t.meterRange = 6;
    t.meterCoupling = 1;
    std::memcpy(t.unit, "A\0\0", 4);
    t.probeCoeff = 100.0f;
    t.offset = -3.5f;
    const int fd = tempFile();
    ASSERT_EQ(t.writeLoggerInfos(fd), 0);
    const auto b = contents(fd);
    ASSERT_EQ(b.size(), 64u);
    EXPECT_EQ(at<uint32_t>(b, 0), uint32_t(SCALE_OHMMETER));
    EXPECT_EQ(at<uint16_t>(b, 4), 6);
    EXPECT_EQ(at<uint16_t>(b, 6), 1);
    EXPECT_EQ(at<float>(b, 12), 100.0f);
    EXPECT_EQ(at<float>(b, 16), -3.5f);
    EXPECT_TRUE(std::all_of(b.begin() + 20, b.end(), [](uint8_t c) { return c == 0; }));

    TAcquisition back(2);
    EXPECT_EQ(back.readLoggerInfos(fd), 0);
    EXPECT_EQ(back.meterScale, SCALE_OHMMETER);
    EXPECT_EQ(back.meterRange, 6);
    EXPECT_STREQ(back.unit, "A");
    EXPECT_EQ(back.probeCoeff, 100.0f);
    EXPECT_EQ(back.offset, -3.5f);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 64);

    // Short record, and an ohm range outside its table.
    const int shortFd = tempFile();
    ASSERT_EQ(::write(shortFd, b.data(), 12), 12);
    ::lseek(shortFd, 0, SEEK_SET);
    EXPECT_EQ(back.readLoggerInfos(shortFd), -1);
    std::vector<uint8_t> bad = b;
    bad[4] = 7;
    const int badFd = tempFile();
    ASSERT_EQ(::write(badFd, bad.data(), bad.size()), 64);
    ::lseek(badFd, 0, SEEK_SET);
    back.meterRange = 2;
    EXPECT_EQ(back.readLoggerInfos(badFd), -1);
    EXPECT_EQ(back.meterRange, 2);
    // A coefficient or offset that is not finite.
    for (size_t offset : {12u, 16u}) {
        std::vector<uint8_t> nan = b;
        const float v = NAN;
        std::memcpy(nan.data() + offset, &v, sizeof v);
        const int nanFd = tempFile();
        ASSERT_EQ(::write(nanFd, nan.data(), nan.size()), 64);
        ::lseek(nanFd, 0, SEEK_SET);
        EXPECT_EQ(back.readLoggerInfos(nanFd), -1);
        EXPECT_EQ(back.probeCoeff, 100.0f);
        EXPECT_EQ(back.offset, -3.5f);
    }
}

TEST_F(TraceTest, RecorderEnvelopeStepsEveryEightyValuesAlsoAfterSaturation)
{
    TAcquisition t(1);
    t.fullRange = 262080.0;  // one code per unit: value k gives code 524256 - k
    auto feed = [&](uint32_t from, uint32_t to) {
        for (uint32_t k = from; k < to; ++k)
            t.putLoggerMeasurement(MEASURE_VALID, float(k));
    };
    feed(0, 81);
    EXPECT_EQ(t.loggerRaw[0], 0x80000000u);  // the first value lands in word 1
    EXPECT_EQ(t.loggerRaw[1], 524256u);
    EXPECT_EQ(t.envelopeIndex, 2);
    EXPECT_EQ(t.loggerEnvelope[0], 524256u - 79);
    EXPECT_EQ(t.loggerEnvelope[1], 524256u);
    EXPECT_EQ(t.loggerEnvelope[2], 524256u - 80);
    EXPECT_EQ(t.loggerEnvelope[3], 524256u - 80);

    feed(81, 100040);
    EXPECT_EQ(t.loggerCount, 100000u);
    EXPECT_EQ(t.envelopeIndex, 2498);
    // One scroll at value 100,000: pair 0 now covers values 80..159.
    EXPECT_EQ(t.loggerEnvelope[0], 524256u - 159);
    EXPECT_EQ(t.loggerEnvelope[1], 524256u - 80);
    EXPECT_EQ(t.loggerEnvelope[2498], 524256u - 100039);
    EXPECT_EQ(t.loggerEnvelope[2499], 524256u - 100000);
    EXPECT_EQ(t.loggerRaw[2499], 524256u - 100039);

    feed(100040, 100081);
    EXPECT_EQ(t.loggerEnvelope[0], 524256u - 239);
    EXPECT_EQ(t.loggerEnvelope[2498], 524256u - 100080);
    EXPECT_EQ(t.loggerCount, 100000u);

    // Pending reads at the top of the scale.
    t.putLoggerMeasurement(MEASURE_PENDING, 0.0f);
    EXPECT_EQ(t.loggerRaw[2499], 0x60000u);
}

TEST_F(TraceTest, RecorderAndViewerConversionsOnAnUnusableRange)
{
    TAcquisition t(1);
    for (double range : {0.0, -1.0, double(INFINITY), double(NAN)}) {
        t.fullRange = range;
        t.putLoggerMeasurement(MEASURE_VALID, 1.0f);
        EXPECT_EQ(t.loggerRaw[t.rawCount], 0x80000000u) << range;
        uint32_t values[100000];
        const float one = 1.0f;
        std::memcpy(&values[0], &one, 4);
        TAcquisition::computeViewerSignal(values, &t);
        EXPECT_EQ(values[0], 0x80000000u) << range;
        uint32_t code = 524256;
        EXPECT_TRUE(std::isnan(TAcquisition::measValueAt(&code, &t, 0))) << range;
    }
    // A usable range: out-of-range values clamp, NaN is empty, codes read back as values.
    t.fullRange = 8.0;
    uint32_t values[100000] = {};
    const float in[4] = {2.0f, 1e9f, -1e9f, NAN};
    std::memcpy(values, in, sizeof in);
    TAcquisition::computeViewerSignal(values, &t);
    EXPECT_EQ(values[0], 655296u - 196560u);
    EXPECT_EQ(values[1], 0u);
    EXPECT_EQ(values[2], 0xFFFFFu);
    EXPECT_EQ(values[3], 0x80000000u);
    EXPECT_FLOAT_EQ(TAcquisition::measValueAt(values, &t, 0), 2.0f);
    EXPECT_TRUE(std::isnan(TAcquisition::measValueAt(values, &t, 100000)));
}

TEST_F(TraceTest, SoftwareShiftClampsCodesAndKeepsFlags)
{
    data.offsetCh1 = 0;
    TAcquisition t(1);
    t.samples[0] = 100;
    t.samples[1] = 0x00500000 | 200;
    t.samples[2] = 524256;
    t.samples[3] = 0x80000000;
    t.CadrageSoftT(-1000, 0, 3);  // lowers by 262079
    EXPECT_EQ(t.samples[0], 0u);
    EXPECT_EQ(t.samples[1], 0x00500000u);
    EXPECT_EQ(t.samples[2], 524256u - 262079u);
    EXPECT_EQ(t.samples[3], 0x80000000u);
    EXPECT_EQ(t.softPosition, -1000.0);

    t.samples[4] = 0xFFFF0;
    t.CadrageSoftT(1000, 4, 200000);  // raises by 262079, count beyond the end
    EXPECT_EQ(t.samples[4], 0xFFFFFu);
}

TEST_F(TraceTest, CopyTakesSamplesAndScalingButNotIdentityNorMeterView)
{
    b_g_acqSuspended = 1;  // the real-time thread stands between two cycles
    TAcquisition from(1), to(512);
    from.samples[5] = 524256;
    from.loggerRaw[3] = 7;
    from.loggerEnvelope[4] = 8;
    from.probeCoeff = 10.0f;
    from.position = 300;
    from.softPosition = 299.5;
    from.sensitivity = 3;
    from.filterKind = 1;
    std::memcpy(from.unit, "A\0\0", 4);
    from.meterScale = SCALE_OHMMETER;
    from.measureValue = 4.0f;
    to.samples[6] = 1;

    to = from;
    EXPECT_EQ(to.identifier, 512);
    EXPECT_EQ(to.channelIndex, 1);
    EXPECT_EQ(to.samples[5], 524256u);
    EXPECT_EQ(to.samples[6], 0x80000000u);
    EXPECT_EQ(to.loggerRaw[3], 7u);
    EXPECT_EQ(to.loggerEnvelope[4], 8u);
    EXPECT_EQ(to.probeCoeff, 10.0f);
    EXPECT_EQ(to.position, 300);
    EXPECT_EQ(to.softPosition, 299.5);
    EXPECT_EQ(to.sensitivity, 3);
    EXPECT_EQ(to.filterKind, 1);
    EXPECT_STREQ(to.unit, "A");
    EXPECT_EQ(to.meterScale, SCALE_METER);
    EXPECT_EQ(to.measureValue, 0.0f);
    EXPECT_FALSE(AcqHeldByCaller());
    EXPECT_EQ(o_g_synchroAcqDetail, SYNCHRO_RESUME);
}

// The mask loop as written, quadratic, for comparison.
std::vector<uint32_t> literalMask(std::vector<uint32_t> src, float xTol, float yTol)
{
    for (auto& w : src)
        w &= 0x800FFFFFu;
    std::vector<uint32_t> mask = src;
    const int w = (int(xTol * 10000.0) / 8) * 8;
    const int n = 100000;
    for (int j = 0; j < n; j += 2) {
        if (src[j] >= 0x40000000u)
            continue;
        for (int m = j - w; m <= j + w; m += 8)
            if (m >= 0 && m < n)
                mask[m] = std::max(mask[m], src[j]);
        for (int m = j - w + 1; m <= j + w + 1; m += 8)
            if (m >= 0 && m < n)
                mask[m] = std::min(mask[m], src[j + 1]);
    }
    const uint32_t d = uint32_t(yTol * 262080.0 / 8);
    for (int i = 0; i < n; i += 2) {
        if (mask[i] < 0x40000000u && mask[i] + d >= mask[i])
            mask[i] += d;
        if (mask[i + 1] < 0x40000000u && mask[i + 1] >= d)
            mask[i + 1] -= d;
    }
    return mask;
}

TEST_F(TraceTest, PassFailMaskLimitsAndComparison)
{
    TAcquisition source(1), mask(4096), signal(2);
    source.acqFlags = 0x77;
    source.timeBase = 20;
    std::fill(source.samples, source.samples + 100000, 524256u);
    mask.genPassFailMask(&source, 0.0f, 0.5f);
    EXPECT_EQ(mask.samples[0], 540636u);
    EXPECT_EQ(mask.samples[1], 507876u);
    EXPECT_EQ(mask.samples[99998], 540636u);
    EXPECT_EQ(mask.acqFlags, 0x77);
    EXPECT_EQ(mask.timeBase, 20);
    EXPECT_EQ(mask.sensitivity, 8);

    struct Row {
        uint32_t index;
        uint32_t word;
        bool pass;
    };
    for (const Row& r : {Row{10, 524256 + 16380, true}, Row{10, 524256 + 16381, false},
                         Row{11, 524256 - 16380, true}, Row{11, 524256 - 16381, false},
                         Row{11, 0x80000000u, true}}) {
        std::fill(signal.samples, signal.samples + 100000, 524256u);
        signal.samples[r.index] = r.word;
        EXPECT_EQ(mask.passFailCompare(&signal), r.pass) << r.index << " " << r.word;
    }
}

TEST_F(TraceTest, LinearMaskEqualsTheLiteralLoop)
{
    std::mt19937 random(7);
    TAcquisition source(1), mask(4096);
    std::vector<uint32_t> words(100000);
    for (uint32_t i = 0; i < 100000; ++i) {
        const uint32_t r = random();
        words[i] = (r % 23 == 0) ? 0x80000000u : (0x00300000u | (393216u + r % 262080u));
    }
    for (float xTol : {0.0008f, 0.0123f, 0.5f}) {
        SCOPED_TRACE(xTol);
        std::copy(words.begin(), words.end(), source.samples);
        mask.genPassFailMask(&source, xTol, 0.25f);
        const auto expected = literalMask(words, xTol, 0.25f);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), mask.samples));
    }
}

} // namespace
