// The viewer's screens: the panes of the main display, the compressed strip, and the reduction of
// a record to the 1250 minimum/maximum pairs a trace converts.
#include "tests/ui/support/logger_fixture.h"

#include "core/files.h"
#include "ui/traces/gridscreen.h"
#include "ui/traces/zoomarea.h"
#include "ui/traces/indicscreen.h"
#include "ui/viewer/viewerscreen.h"
#include "ui/viewer/viewerscreencomp.h"
#include "ui/viewer/viewertrace.h"
#include "ui/viewer/viewertracescreen.h"

#include <chrono>
#include <thread>

namespace {

constexpr uint32_t kNo = 0x80000000u;

class ViewerScreenTest : public LoggerFixture {
protected:
    static std::vector<uint32_t> pairs(const std::vector<uint32_t>& record, uint32_t start, uint32_t g)
    {
        std::vector<uint32_t> out(Trace::kRows, 1);
        ViewerTrace::reducePairs(record.data(), static_cast<uint32_t>(record.size()), start, g, out.data());
        return out;
    }
    static size_t acqDonePosts()
    {
        size_t n = 0;
        for (const pipe_dial& r : uitest::takeRequests()) {
            EXPECT_EQ(r.kind, REQ_ACQ_DONE);
            EXPECT_EQ(r.senderId, senderValue(MENU_id));
            ++n;
        }
        return n;
    }
};

TEST_F(ViewerScreenTest, ReductionPairs)
{
    std::vector<uint32_t> record(TAcquisition::kNormalisedSamples, 500000u);
    std::fill(record.begin(), record.begin() + 80, kNo);
    std::fill(record.begin() + 80, record.begin() + 160, 655296u);
    record[160] = 0x7FC00000u;  // the filler of an absent channel
    record[161] = 400000u;
    record[162] = 700000u;  // beyond the edges: still the extremes of their group
    record[163] = 300000u;
    // A group wholly beyond the bottom edge never lowers the smallest code.
    std::fill(record.begin() + 240, record.begin() + 320, 700000u);
    const std::vector<uint32_t> whole = pairs(record, 0, 80);
    EXPECT_EQ(std::vector<uint32_t>(whole.begin(), whole.begin() + 10),
              (std::vector<uint32_t>{kNo, kNo, kNo, 655296u, 300000u, 700000u, kNo, 700000u, 500000u, 500000u}));
    EXPECT_EQ(whole.back(), 500000u);

    // g = 0: every pair is the start sample.
    const std::vector<uint32_t> single = pairs(record, 161, 0);
    EXPECT_TRUE(std::all_of(single.begin(), single.end(), [](uint32_t c) { return c == 400000u; }));

    // A window past the end: the pairs stop at the record's last sample.
    const std::vector<uint32_t> tail = pairs(record, 99000, 2);
    EXPECT_EQ(tail[999], 500000u);
    EXPECT_TRUE(std::all_of(tail.begin() + 1000, tail.end(), [](uint32_t c) { return c == kNo; }));
    const std::vector<uint32_t> odd = pairs(std::vector<uint32_t>(record.begin(), record.begin() + 5), 0, 2);
    EXPECT_EQ(std::vector<uint32_t>(odd.begin(), odd.begin() + 8),
              (std::vector<uint32_t>{kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo}));
}

TEST_F(ViewerScreenTest, TraceReducesItsChannelIntoItsArrays)
{
    std::vector<uint32_t>& ch2 = buffers_[1];
    std::fill(ch2.begin(), ch2.end(), 500000u);
    ch2[1000] = 400000u;
    ch2[1001] = 600000u;
    ch2[1002] = 450000u;
    data.horizPosition = 1001;
    data.zoomWidth = 1.0f;
    ViewerTrace trace(1);
    ASSERT_EQ(trace.acquisition(), this->trace(1));
    trace.setCompressed(false);
    trace.reduce();
    const uint32_t* raw = this->trace(1)->loggerRaw;
    EXPECT_EQ(std::vector<uint32_t>(raw, raw + 4), (std::vector<uint32_t>{400000u, 600000u, 450000u, 500000u}));

    // A window of ten samples (a short recording fitted to the display): each sample takes 125
    // of the 1250 pairs, none repeats the first.
    data.horizPosition = 1000;
    data.zoomWidth = 0.004f;
    trace.reduce();
    EXPECT_EQ(raw[0], 400000u);
    EXPECT_EQ(raw[2 * 124 + 1], 400000u);
    EXPECT_EQ(raw[2 * 125], 600000u);
    EXPECT_EQ(raw[2 * 250], 450000u);
    EXPECT_EQ(raw[2 * 1249], 500000u);

    trace.setCompressed(true);
    trace.reduce();
    EXPECT_EQ(this->trace(1)->loggerEnvelope[24], 400000u);  // pair 12 holds samples 960-1039
    EXPECT_EQ(this->trace(1)->loggerEnvelope[25], 600000u);

    // Another thread holding the image mutex delays the copy, not the rest.
    ch2[0] = 410000u;
    pthread_mutex_lock(&o_g_imageMutex);
    std::thread reducer([&trace] { trace.reduce(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(this->trace(1)->loggerEnvelope[0], 500000u);
    pthread_mutex_unlock(&o_g_imageMutex);
    reducer.join();
    EXPECT_EQ(this->trace(1)->loggerEnvelope[0], 410000u);
}

TEST_F(ViewerScreenTest, PanesFollowTheLayoutAndTheRecording)
{
    struct Row {
        const char* what;
        int16_t split;
        uint16_t hw;
        int16_t meterFunction;
        uint16_t channelFlags;
        int bands;
        std::vector<unsigned short> traceScreens;  // channel masks, top to bottom
    };
    const Row rows[] = {
        {"one pane whatever the channels", 0, 15, 0, 0x0102, 1, {0x200F}},
        {"four channels with power", 1, 15, 8, 0x0F0F, 5, {1, 2, 4, 8, 0x2000}},
        {"two channels", 1, 9, 0, 0x0909, 2, {1, 8}},
        {"two channels with power, channel 4 absent", 1, 9, 8, 0x0101, 3, {1, 0x2000}},
        {"an absent stored trace keeps grid and overlay", 1, 15, 0, 0x0D0D, 4, {1, 4, 8}},
    };
    ViewerScreen screen;
    screen.setSize(QSizeF(800, 400));
    acqDonePosts();
    for (const Row& row : rows) {
        data.splitLayout = row.split;
        data.hwChannelMask = row.hw;
        data.meterFunction = row.meterFunction;
        data.channelFlags = row.channelFlags;
        screen.screenMajSlot(param::splitLayout);
        EXPECT_EQ(acqDonePosts(), 1u) << row.what;
        std::vector<unsigned short> masks;
        for (int i = 0; i < ScopeScreen::kTraceScreens; ++i) {
            if (TraceScreen* t = screen.traceScreen(i)) {
                masks.push_back(t->channelMask());
                EXPECT_FALSE(t->compressed());
                for (int slot = 0; slot < TraceScreen::kSlots; ++slot)
                    if (Trace* trace = t->trace(slot)) {
                        EXPECT_NE(dynamic_cast<ViewerTrace*>(trace), nullptr);
                        EXPECT_FALSE(trace->compressed());
                    }
            }
        }
        EXPECT_EQ(masks, row.traceScreens) << row.what;
        for (int k = 0; k < ScopeScreen::kGrids; ++k) {
            const bool present = k < row.bands;
            ASSERT_EQ(screen.grid(k) != nullptr, present) << row.what << " band " << k;
            ASSERT_EQ(screen.overlay(k) != nullptr, present) << row.what << " band " << k;
            if (present) {
                EXPECT_EQ(screen.grid(k)->y(), k * 400 / row.bands) << row.what;
                EXPECT_EQ(screen.grid(k)->height(), 400 / row.bands) << row.what;
                EXPECT_EQ(screen.grid(k)->width(), 795) << row.what;
            }
        }
    }
    // Other codes change nothing and post nothing.
    screen.screenMajSlot(param::horizPosition);
    EXPECT_EQ(acqDonePosts(), 0u);

    // No size: nothing built, still one post.
    ViewerScreen empty;
    acqDonePosts();
    empty.setLayout(0x0F00, LoggerLayoutCh1To4);
    EXPECT_EQ(acqDonePosts(), 1u);
    EXPECT_EQ(empty.grid(0), nullptr);
    EXPECT_EQ(empty.traceScreen(0), nullptr);
    EXPECT_EQ(empty.mask(), 0x0F00);
}

TEST_F(ViewerScreenTest, CompressedStrip)
{
    ViewerScreenComp strip;
    strip.setLayout();
    EXPECT_EQ(strip.grid(0), nullptr);
    strip.setSize(QSizeF(730, 40));
    strip.setLayout();
    ASSERT_NE(strip.grid(0), nullptr);
    EXPECT_EQ(strip.grid(0)->width(), 725);
    ASSERT_NE(strip.overlay(0), nullptr);
    ASSERT_NE(strip.traceScreen(0), nullptr);
    EXPECT_EQ(strip.traceScreen(0)->channelMask(), 0x200F);
    EXPECT_EQ(strip.grid(1), nullptr);
    for (int slot : {5, 6, 7, 8, 9}) {
        Trace* t = strip.traceScreen(0)->trace(slot);
        ASSERT_NE(t, nullptr) << slot;
        EXPECT_TRUE(t->compressed()) << slot;  // the whole record
    }
}

// A recording shorter or later than the whole record fills the strip: every one of its samples
// reaches a pair, and the strip's window rectangle and its edges stand for the recording's span.
TEST_F(ViewerScreenTest, StripSpansTheRecording)
{
    struct SpanReset {
        ~SpanReset() { SetViewerSpan(TRecordedExtent{0, 0}); }
    } reset;
    struct Row {
        uint32_t first, end;  // the recorded samples of channel 1
    };
    for (const Row row : {Row{0, 535}, Row{30001, 30101}, Row{0, 100000}, Row{99990, 100000}}) {
        SCOPED_TRACE(std::to_string(row.first) + ".." + std::to_string(row.end));
        for (auto& b : buffers_)
            std::fill(b.begin(), b.end(), kNo);
        // A ramp: sample i holds 400000 + (i - first) * 100, so a pair's codes tell its samples.
        for (uint32_t i = row.first; i < row.end; ++i)
            buffers_[0][i] = 400000u + (i - row.first) * 100u % 200000u;
        SetViewerSpan(RecordedExtent());
        ViewerTrace trace(0);
        trace.reduce();
        const uint32_t* env = this->trace(0)->loggerEnvelope;
        // The strip starts with the recording and ends with it; no pair in between is empty.
        EXPECT_EQ(env[0], row.first % 2 ? kNo : 400000u);
        EXPECT_EQ(env[Trace::kRows - 1], 400000u + (row.end - 1 - row.first) * 100u % 200000u);
        int empty = 0;
        for (uint32_t p = 0; p < Trace::kRows / 2; ++p)
            empty += env[2 * p] == kNo && env[2 * p + 1] == kNo;
        // (An odd first sample: the even one before it, not recorded, takes its share of pairs.)
        EXPECT_LE(empty, row.first % 2 ? 1250 / (row.end - row.first + 1) + 1 : 0);
    }

    // The zoom window over a 535-sample recording: its first 125 samples are the left quarter
    // of the strip.
    for (auto& b : buffers_)
        std::fill(b.begin(), b.end(), kNo);
    std::fill(buffers_[0].begin(), buffers_[0].begin() + 535, 500000u);
    SetViewerSpan(RecordedExtent());
    data.horizPosition = 0;
    data.zoomWidth = 0.05f;  // 125 samples
    data.zoomState = 2;
    ViewerScreenComp strip;
    strip.setSize(QSizeF(730, 40));
    strip.setLayout();
    ASSERT_NE(strip.overlay(0), nullptr);
    ASSERT_NE(strip.overlay(0)->zoomArea(), nullptr);
    const QRect window = strip.overlay(0)->zoomArea()->rect();
    EXPECT_EQ(window.left(), 0);
    EXPECT_NEAR(window.right(), 125 * 1000 / 535, 2);
}

} // namespace
