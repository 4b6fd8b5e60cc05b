// Trace, mask, function, harmonic and recorder files: names and places, file bytes, failed
// writes, the recalls and what they change in the setup.
#include "tests/core/setup_fixture.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "board/simcontrol.h"
#include "core/filename.h"
#include "core/fileio.h"

#include <cmath>
#include <csignal>
#include <dirent.h>
#include <sys/resource.h>

namespace {

class FilesTest : public SetupTest {
protected:
    void SetUp() override
    {
        SetupTest::SetUp();
        data.instrumentMode = 16;
        TSetupLinks& l = setupLinks();
        TAcquisition** traces[4] = {&l.acqCh1, &l.acqCh2, &l.acqCh3, &l.acqCh4};
        TFonction** functions[4] = {&l.mathFunctionCh1, &l.mathFunctionCh2, &l.mathFunctionCh3, &l.mathFunctionCh4};
        static char none[] = "";
        static uint32_t* buffers = new uint32_t[5 * TAcquisition::kNormalisedSamples];
        uint32_t** normalised[5] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                                    &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee,
                                    &TAcquisition::VoieAuxNormalisee};
        for (int n = 0; n < 5; ++n)
            *normalised[n] = buffers + n * TAcquisition::kNormalisedSamples;
        for (int n = 0; n < 4; ++n) {
            *traces[n] = trace[n] = new TAcquisition(static_cast<unsigned short>(1u << n));
            *functions[n] = function[n] = new TFonction(static_cast<unsigned short>(n), none);
            trace[n]->samples[0] = 0x100u * (n + 1);
        }
        l.powerAcq = trace[4] = new TAcquisition(8192);
        l.maskAcq = mask = new TAcquisition(4096);
        mask->samples[0] = 0x4096;
    }

    void define(int n, const char* text)
    {
        std::string t = text;
        ASSERT_TRUE(function[n]->SetFonctionString(&t[0], false)) << text;
    }

    std::string file(const char* boardPath) const { return readHostFile(hostPath(boardPath)); }

    // A header of the trace type (the function and recording readers look at no type).
    static std::string header() { return ".trc" + std::string(124, '.'); }
    static std::string le16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
    template <typename T>
    static std::string bytes(T v)
    {
        return std::string(reinterpret_cast<const char*>(&v), sizeof v);
    }
    template <typename T>
    static T at(const std::string& b, size_t offset)
    {
        T v;
        std::memcpy(&v, b.data() + offset, sizeof v);
        return v;
    }

    // A trace record: time base, coefficient, position, unit; samples all `sample`.
    static std::string record(uint16_t timeBase, float coeff, double position, const char* unit,
                              uint32_t sample = 0x1234)
    {
        std::string r = bytes<uint16_t>(33) + bytes(timeBase) + bytes(coeff) + bytes(0.0f) + bytes(position) +
            bytes<uint16_t>(8) + bytes<uint16_t>(1) + bytes<int32_t>(0);
        std::string u(unit);
        u.resize(4, '\0');
        r += u + std::string(1, '\0') + std::string(31, '-');
        for (uint32_t i = 0; i < TAcquisition::kSampleCount; ++i)
            r += bytes(sample);
        return r;
    }

    // A recorder information record: meter scale, range 1, coupling 2, unit, coefficient.
    static std::string info(const char* unit, float coeff, uint32_t scale = SCALE_METER)
    {
        std::string u(unit);
        u.resize(4, '\0');
        return bytes(scale) + bytes<uint16_t>(1) + bytes<uint16_t>(2) + u + bytes(coeff) + bytes(0.0f) +
            std::string(44, '\0');
    }
    static std::string head(uint16_t mask, int16_t function = 0)
    {
        return le16(mask) + bytes(function) + std::string(60, '\0');
    }
    static std::string words(const std::vector<float>& values)
    {
        std::string out;
        for (float v : values)
            out += bytes(v);
        return out;
    }

    TAcquisition* trace[5];
    TAcquisition* mask;
    TFonction* function[4];
};

TEST_F(FilesTest, SaveNamesPlacesAndRefusals)
{
    define(0, "ch1*2");
    ASSERT_EQ(mkdir(hostPath("/media/user/elsewhere").c_str(), 0777), 0);
    ASSERT_TRUE(writeBoardFile("/media/user/elsewhere/old.trc", "old"));
    using Save = int (*)(database*, const char*, const char*);
    struct Row {
        Save save;
        const char* name;
        uint16_t channels;
        bool sdCard;
        int result;
        const char* created;  // "" for none
    };
    const std::string n32(32, 'n');
    const std::string n33(33, 'n');
    const std::string p32 = "/media/user/traces/" + n32 + ".trc";
    const Row rows[] = {
        {TraceSaveAll, nullptr, 1, false, 19, ""},
        {TraceSaveAll, "", 1, false, 23, ""},
        {TraceSaveAll, n32.c_str(), 1, false, 0, p32.c_str()},
        {TraceSaveAll, n33.c_str(), 1, false, 23, ""},
        {TraceSaveAll, "/media/user/elsewhere/" "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", 1, false, 23, ""},
        {TraceSaveAll, "x.TRC", 1, false, 0, "/media/user/traces/x.TRC.trc"},
        {TraceSaveAll, "y.trc", 1, false, 0, "/media/user/traces/y.trc"},
        {TraceSaveAll, "/media/user/elsewhere/z", 1, false, 0, "/media/user/elsewhere/z.trc"},
        {TraceSaveAll, "/media/user/elsewhere/old", 1, false, 17, ""},
        {TraceSaveAll, "none", 0, false, 24, ""},
        {TraceSaveAll, "card", 1, true, 0, "/media/user/sdcard_p1/traces/card.trc"},
        {PassFailMaskSave, "m", 0, false, 0, "/media/user/masks/m.msk"},
        {PassFailMaskSave, nullptr, 0, false, 19, ""},
        {FunctionSaveAll, "f", 0, false, 0, "/media/user/functions/f.fct"},
        {FunctionSaveAll, "f.fct", 0, false, 17, ""},
        {FunctionSaveAll, "", 0, false, 23, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? row.name : "(null)");
        if (row.sdCard) {
            ASSERT_TRUE(simInsertSdCard());
        }
        data.channelFlags = row.channels;
        EXPECT_EQ(row.save(&data, row.name, nullptr), row.result);
        if (*row.created) {
            EXPECT_TRUE(exists(row.created));
        }
        if (row.sdCard) {
            ASSERT_TRUE(simRemoveSdCard());
        }
    }
    EXPECT_EQ(file("/media/user/elsewhere/old.trc"), "old");
    EXPECT_FALSE(exists("/media/user/traces/none.trc"));

    // No function defined: nothing to save.
    function[0]->RAZ();
    EXPECT_EQ(FunctionSaveAll(&data, "g", ""), 24);
    EXPECT_FALSE(exists("/media/user/functions/g.fct"));
}

TEST_F(FilesTest, FileBytesOfTracesMaskAndFunctions)
{
    data.channelFlags = 0x13;  // channels 1 and 2 shown; other bits are no channels
    ASSERT_EQ(TraceSaveAll(&data, "t", "comment"), 0);
    const std::string trc = file("/media/user/traces/t.trc");
    ASSERT_EQ(trc.size(), 800258u);
    EXPECT_EQ(trc.substr(0, 4), ".trc");
    EXPECT_EQ(trc.substr(62, 7), "comment");
    EXPECT_EQ(trc.substr(128, 2), le16(3));
    EXPECT_EQ(at<uint32_t>(trc, 130 + 64), 0x100u);
    EXPECT_EQ(at<uint32_t>(trc, 130 + 400064 + 64), 0x200u);
    // A second save under the name keeps the first file.
    data.channelFlags = 1;
    EXPECT_EQ(TraceSaveAll(&data, "t", ""), 17);
    EXPECT_EQ(file("/media/user/traces/t.trc"), trc);

    ASSERT_EQ(PassFailMaskSave(&data, "m", nullptr), 0);
    const std::string msk = file("/media/user/masks/m.msk");
    ASSERT_EQ(msk.size(), 128u + 2 + 400064);
    EXPECT_EQ(msk.substr(0, 4), ".msk");
    EXPECT_EQ(msk.substr(128, 2), le16(0x1000));
    EXPECT_EQ(at<uint32_t>(msk, 130 + 64), 0x4096u);

    define(0, "ch1*2");
    define(2, "ch2+ch1");
    ASSERT_EQ(FunctionSaveAll(&data, "f", nullptr), 0);
    EXPECT_EQ(file("/media/user/functions/f.fct").substr(0, 4), ".fct");
    EXPECT_EQ(file("/media/user/functions/f.fct").substr(128), "5\r\nch1*2\r\nch2+ch1\r\n");
}

TEST_F(FilesTest, FailedWritesLeaveNoFile)
{
    define(0, "ch1*2");
    data.channelFlags = 1;
    struct Row {
        const char* what;
        rlim_t limit;
        int (*save)(database*, const char*, const char*);
        const char* name;
        const char* path;
    };
    // Limits: within the header, within the trace record, within the function line.
    const Row rows[] = {
        {"header", 100, TraceSaveAll, "a", "/media/user/traces/a.trc"},
        {"record", 5000, TraceSaveAll, "b", "/media/user/traces/b.trc"},
        {"function line", 133, FunctionSaveAll, "c", "/media/user/functions/c.fct"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const int status = inChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{row.limit, row.limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(row.save(&data, row.name, ""));
        });
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 19);
        EXPECT_FALSE(exists(row.path));
    }
    // A directory that cannot be written.
    ASSERT_EQ(mkdir(hostPath("/media/user/locked").c_str(), 0555), 0);
    if (::access(hostPath("/media/user/locked").c_str(), W_OK) != 0) {
        EXPECT_EQ(TraceSaveAll(&data, "/media/user/locked/t", ""), 19);
        EXPECT_FALSE(exists("/media/user/locked/t.trc"));
    }
}

// A save killed inside its write (the file-size limit kills the child at that byte, as a power
// cut or a kill -9 would) leaves nothing under the name: no truncated file that lists as saved,
// cannot be loaded and blocks the name; the next save under it succeeds, and what the killed
// save left is a temporary file of ours that the start removes.
TEST_F(FilesTest, SaveKilledInsideItsWriteLeavesNoFileUnderItsName)
{
    define(0, "ch1*2");
    data.channelFlags = 1;
    ASSERT_TRUE(writeBoardFile("/media/private/harmonic.txt", header() + std::string(5000, 'h')));
    using Save = int (*)(database*, const char*, const char*);
    struct Row {
        const char* what;
        rlim_t limit;  // bytes written when the writer dies
        Save save;
        const char* name;
        const char* folder;
        const char* file;
    };
    const Row rows[] = {
        {"trace, after header and mask", 130, TraceSaveAll, "half", "/media/user/traces", "half.trc"},
        {"trace, inside the samples", 200000, TraceSaveAll, "deep", "/media/user/traces", "deep.trc"},
        {"mask, inside its record", 5000, PassFailMaskSave, "m", "/media/user/masks", "m.msk"},
        {"function, inside its line", 133, FunctionSaveAll, "f", "/media/user/functions", "f.fct"},
        {"harmonic copy", 1000, HarmonicSaveAll, "h", "/media/user/harmonic", "h.txt"},
    };
    auto names = [this](const char* folder) {
        std::vector<std::string> out;
        if (DIR* dir = ::opendir(hostPath(folder).c_str())) {
            while (const dirent* e = ::readdir(dir))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    out.emplace_back(e->d_name);
            ::closedir(dir);
        }
        return out;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string target = std::string(row.folder) + "/" + row.file;
        removeTree(hostPath(row.folder));
        const int status = inChild([&] {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{row.limit, row.limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(row.save(&data, row.name, ""));
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was to die inside the write";
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        EXPECT_FALSE(exists(target.c_str()));
        const std::vector<std::string> left = names(row.folder);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_TRUE(isTemporaryFileName(left[0].c_str())) << left[0];

        removeStaleTemporaries(hostPath(row.folder));
        EXPECT_TRUE(names(row.folder).empty());
        EXPECT_EQ(row.save(&data, row.name, ""), 0);
        EXPECT_EQ(names(row.folder), std::vector<std::string>{row.file});
    }
}

// Names from outside with a NUL cut out or a control character inside are refused as bad names,
// and nothing is created.
TEST_F(FilesTest, NamesWithControlCharactersAreRefused)
{
    define(0, "ch1*2");
    data.channelFlags = 1;
    ASSERT_TRUE(writeBoardFile("/media/private/harmonic.txt", header() + "h"));
    for (const char* name : {"tab\tname", "line\nend", "bell\a", "esc\x1b[2J", "del\x7f", "\x01"}) {
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_EQ(TraceSaveAll(&data, name, ""), 23);
        EXPECT_EQ(PassFailMaskSave(&data, name, ""), 23);
        EXPECT_EQ(FunctionSaveAll(&data, name, ""), 23);
        EXPECT_EQ(HarmonicSaveAll(&data, name, ""), 19);
        EXPECT_EQ(SetupSave(name, false, ""), 23);
    }
    for (const char* folder : {"traces", "masks", "functions", "harmonic", "setups"}) {
        const std::string dir = hostPath((std::string("/media/user/") + folder).c_str());
        int count = 0;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (const dirent* e = ::readdir(d))
                count += e->d_name[0] != '.';
            ::closedir(d);
        }
        EXPECT_EQ(count, 0) << folder;
    }
    EXPECT_TRUE(fileNameIsClean("plain name-1.cfg"));
    EXPECT_TRUE(fileNameIsClean("\xc3\xa9t\xc3\xa9"));  // UTF-8 letters are no control characters
    EXPECT_FALSE(fileNameIsClean("zqh\0nul2.cfg", 12));
}

// Only a trace or mask file is recalled as one: zeros, or a file of another kind, is refused
// and changes nothing.
TEST_F(FilesTest, TraceRecallRefusesFilesOfOtherKinds)
{
    data.timeBaseIndex = 7;
    data.userTimeBase = 30;
    const std::string body = le16(0x1000) + record(9, 1.0f, 0.0, "V", 0x77);
    struct Row {
        const char* what;
        std::string bytes;
        int result;
    };
    const Row rows[] = {
        {"zeros", std::string(3u << 20, '\0'), 20},
        {"setup header", ".cfg" + std::string(124, '.') + body, 20},
        {"shorter than a header", ".msk", 20},
        {"mask header", ".msk" + std::string(124, '.') + body, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        mask->samples[5] = 0;
        ASSERT_TRUE(writeBoardFile("/media/user/z.msk", row.bytes));
        EXPECT_EQ(TraceRecallAll(&data, "/media/user/z.msk"), row.result);
        EXPECT_EQ(mask->samples[5], row.result == 0 ? 0x77u : 0u);
        EXPECT_EQ(data.userTimeBase, row.result == 0 ? 9 : 30);
    }
}

TEST_F(FilesTest, TraceRoundTripSetsTheSetupFromTheRecords)
{
    trace[1]->timeBase = 20;
    trace[1]->position = 100;
    trace[1]->softPosition = 100.7;
    trace[1]->probeCoeff = 10.0f;
    std::memcpy(trace[1]->unit, "A\0\0", 4);
    data.channelFlags = 2;
    ASSERT_EQ(TraceSaveAll(&data, "r", ""), 0);

    data.traceOnCh2 = 1;
    data.timeBaseIndex = 3;
    data.fftOffsetCh2 = 5;
    trace[1]->timeBase = 1;
    EXPECT_EQ(TraceRecallAll(&data, "/media/user/traces/r.trc"), 0);
    EXPECT_EQ(trace[1]->identifier, 512);
    EXPECT_EQ(data.memoryTraceCh2, 1);
    EXPECT_EQ(data.traceOnCh2, 0);
    EXPECT_EQ(data.timeBaseIndex, 20);
    EXPECT_EQ(data.userTimeBase, 20);
    EXPECT_EQ(data.offsetCh2, 100);
    EXPECT_EQ(data.probeCoeffCh2, 10.0f);
    EXPECT_EQ(data.fftOffsetCh2, init_par.fftOffsetCh2);
    EXPECT_STREQ(data.unitCh2, "A");
    EXPECT_EQ(TAcquisition::Voie2Normalisee[0], 0x200u);
}

TEST_F(FilesTest, TraceRecallsOfMasksAndDamagedFiles)
{
    struct Row {
        const char* what;
        std::string body;  // after the header
        int result;
        bool changed;
        int userTimeBase;  // applied after the mask was read, failure or not
    };
    const std::string good = record(12, 2.0f, 50.0, "V");
    const Row rows[] = {
        {"mask 0", le16(0), 0, false, 7},
        {"other bits only", le16(0x0F00), 0, false, 7},
        {"cut by a byte", le16(1) + good.substr(0, good.size() - 1), 20, false, 7},
        {"short mask", std::string(1, '\x01'), 20, false, 30},
        {"sensitivity 40", le16(1) + good.substr(0, 20) + bytes<uint16_t>(40) + good.substr(22), 20, false, 7},
        {"coefficient not finite", le16(1) + record(12, NAN, 50.0, "V"), 20, false, 7},
        {"position not finite", le16(1) + record(12, 2.0f, INFINITY, "V"), 20, false, 7},
        {"huge position", le16(1) + record(12, 2.0f, 1e12, "V"), 20, false, 7},
        {"large coefficient", le16(1) + record(12, 1e9f, -5000.0, "V"), 0, true, 12},
        {"one channel", le16(1) + good, 0, true, 12},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        data.timeBaseIndex = 7;
        data.userTimeBase = 30;
        data.memoryTraceCh1 = 0;
        data.probeCoeffCh1 = 1.0f;
        trace[0]->SetIdentifier(1);
        ASSERT_TRUE(writeBoardFile("/media/user/t.trc", header() + row.body));
        EXPECT_EQ(TraceRecallAll(&data, "/media/user/t.trc"), row.result);
        EXPECT_EQ(data.memoryTraceCh1, row.changed ? 1 : 0);
        EXPECT_EQ(trace[0]->identifier, row.changed ? 256 : 1);
        EXPECT_EQ(data.userTimeBase, row.userTimeBase);
    }
    // The last two rows: clamped to the limits, the position's integer part.
    EXPECT_EQ(data.offsetCh1, 50);
    ASSERT_TRUE(writeBoardFile("/media/user/t.trc", header() + le16(1) + record(12, 1e9f, -5000.0, "V")));
    ASSERT_EQ(TraceRecallAll(&data, "/media/user/t.trc"), 0);
    EXPECT_EQ(data.probeCoeffCh1, max_par.probeCoeffCh1);
    EXPECT_EQ(data.offsetCh1, -max_par.offsetCh1);

    // Only the mask trace: its time base, its identifier, no channel.
    data.memoryTraceCh1 = 0;
    ASSERT_TRUE(writeBoardFile("/media/user/m.msk", header() + le16(0x1000) + record(9, 1.0f, 0.0, "V", 0x77)));
    EXPECT_EQ(TraceRecallAll(&data, "/media/user/m.msk"), 0);
    EXPECT_EQ(mask->samples[5], 0x77u);
    EXPECT_EQ(data.timeBaseIndex, 9);
    EXPECT_EQ(data.memoryTraceCh1, 0);

    EXPECT_EQ(TraceRecallAll(&data, nullptr), 20);
    EXPECT_EQ(TraceRecallAll(&data, "/media/user/missing.trc"), 17);
}

TEST_F(FilesTest, FunctionRecalls)
{
    struct Row {
        const char* what;
        std::string body;
        int result;
        std::vector<std::string> texts;  // mathExprCh1..4 afterwards
        std::vector<int> shown;
    };
    const Row rows[] = {
        {"5 with CR LF", "5\r\nch1*2\r\nch2+ch1\r\n", 0, {"ch1*2", "", "ch2+ch1", ""}, {1, 0, 1, 0}},
        {"LF only", "2\nch1*3\n", 0, {"", "ch1*3", "", ""}, {0, 1, 0, 0}},
        {"-1: every channel", "-1\r\nch1\r\nch2\r\nch3\r\nch4\r\n", 0, {"ch1", "ch2", "ch3", "ch4"}, {1, 1, 1, 1}},
        {"no LF", "5", 20, {"", "", "", ""}, {0, 0, 0, 0}},
        {"abc", "abc\r\n", 20, {"", "", "", ""}, {0, 0, 0, 0}},
        {"12 digits", "123456789012\r\n", 20, {"", "", "", ""}, {0, 0, 0, 0}},
        {"does not compile", "3\r\nch1+\r\nch2\r\n", 20, {"ch1+", "", "", ""}, {0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::memcpy(&data, &init_par, sizeof data);
        ASSERT_TRUE(writeBoardFile("/media/user/f.fct", header() + row.body));
        EXPECT_EQ(FunctionRecallAll(&data, "/media/user/f.fct"), row.result);
        const char* texts[4] = {data.mathExprCh1, data.mathExprCh2, data.mathExprCh3, data.mathExprCh4};
        const uint8_t shown[4] = {data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4};
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(texts[n], row.texts[n]) << n;
            EXPECT_EQ(shown[n], row.shown[n]) << n;
        }
    }
    EXPECT_EQ(function[1]->IsDefined(), true);
    EXPECT_EQ(FunctionRecallAll(&data, nullptr), 20);
    EXPECT_EQ(FunctionRecallAll(&data, "/media/user/none.fct"), 17);
}

TEST_F(FilesTest, RecordingRecalls)
{
    // Channel 1 and the auxiliary trace, alternately; bits 8-11 are no streams.
    std::vector<float> samples;
    for (int i = 0; i < 10; ++i)
        samples.push_back(float(i) / 10.0f);
    const std::string rec = header() + head(0x2F01, 4) + info("A", 2.0f) + info("W", 1.0f, SCALE_POWER) + words(samples);
    ASSERT_TRUE(writeBoardFile("/media/user/r.rec", rec));
    data.memoryTraceCh3 = 1;
    ASSERT_EQ(LoggerRecallAll(&data, "/media/user/r.rec"), 0);
    EXPECT_EQ(data.meterFunction, 4);
    EXPECT_EQ(data.memoryTraceCh1, 1);
    EXPECT_EQ(data.memoryTraceCh3, 0);
    EXPECT_EQ(data.meterRangeCh1, 1);
    EXPECT_EQ(data.meterCouplingCh1, 2);
    EXPECT_EQ(data.probeCoeffCh1, 2.0f);
    EXPECT_STREQ(data.unitCh1, "A");
    EXPECT_EQ(trace[0]->identifier, 256);
    EXPECT_STREQ(data.loggerFileName, "r.rec");
    // The buffers as the viewer converts them.
    std::vector<uint32_t> ch1(TAcquisition::kNormalisedSamples, 0x7FC00000u);
    std::vector<uint32_t> aux(TAcquisition::kNormalisedSamples, 0x7FC00000u);
    for (int i = 0; i < 5; ++i) {
        std::memcpy(&ch1[i], &samples[2 * i], 4);
        std::memcpy(&aux[i], &samples[2 * i + 1], 4);
    }
    TAcquisition::computeViewerSignal(ch1.data(), trace[0]);
    TAcquisition::computeViewerSignal(aux.data(), trace[4]);
    ASSERT_NE(ch1[0], ch1[1]);
    EXPECT_EQ(std::vector<uint32_t>(TAcquisition::Voie1Normalisee, TAcquisition::Voie1Normalisee + ch1.size()), ch1);
    EXPECT_EQ(std::vector<uint32_t>(TAcquisition::VoieAuxNormalisee, TAcquisition::VoieAuxNormalisee + aux.size()), aux);
    EXPECT_EQ(TAcquisition::Voie2Normalisee[0], 0x7FC00000u);

    // Ends right after its head: every buffer empty, success.
    ASSERT_TRUE(writeBoardFile("/media/user/e.rec", header() + head(0)));
    ASSERT_EQ(LoggerRecallAll(&data, "/media/user/e.rec"), 0);
    uint32_t* buffers[5] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee, TAcquisition::Voie3Normalisee,
                            TAcquisition::Voie4Normalisee, TAcquisition::VoieAuxNormalisee};
    for (uint32_t* b : buffers)
        EXPECT_TRUE(std::all_of(b, b + TAcquisition::kNormalisedSamples, [](uint32_t w) { return w == 0x7FC00000u; }));

    struct Row {
        const char* what;
        std::string body;
        int result;
        uint8_t memory1, memory2;
    };
    const Row rows[] = {
        {"short head", head(1).substr(0, 30), 20, 0, 0},
        {"meter function 200", head(1, 200), 20, 0, 0},
        {"short second record", head(3) + info("V", 1.0f) + info("V", 1.0f).substr(0, 10), 0, 1, 0},
        {"bad first record", head(3) + info("V", 1.0f, 99) + info("V", 1.0f), 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        data.memoryTraceCh1 = data.memoryTraceCh2 = data.traceOnCh1 = 1;
        ASSERT_TRUE(writeBoardFile("/media/user/x.rec", header() + row.body));
        EXPECT_EQ(LoggerRecallAll(&data, "/media/user/x.rec"), row.result);
        EXPECT_EQ(data.memoryTraceCh1, row.memory1);
        EXPECT_EQ(data.memoryTraceCh2, row.memory2);
        EXPECT_EQ(data.traceOnCh1, 0);
    }
    EXPECT_EQ(LoggerRecallAll(&data, nullptr), 20);
    EXPECT_EQ(LoggerRecallAll(&data, "/media/user/none.rec"), 17);
}

TEST_F(FilesTest, RecordingSamplesAcrossBlocksAndBeyondTheBuffers)
{
    struct Row {
        const char* what;
        uint16_t mask;
        std::vector<int> streams;  // buffer indices in stream order
        uint32_t rounds;
        std::string tail;          // after the last whole round
    };
    // Three streams: the first 48,000-byte block ends inside a round. One stream with 100,001
    // rounds: the buffer stops at its size and the recall succeeds.
    const Row rows[] = {
        {"three streams", 0x2003, {0, 1, 4}, 4001, std::string("xy")},
        {"cut last round", 0x0005, {0, 2}, 7, std::string(4, '\0')},
        {"longer than the buffers", 0x0001, {0}, TAcquisition::kNormalisedSamples + 1, ""},
    };
    uint32_t* buffers[5] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee, TAcquisition::Voie3Normalisee,
                            TAcquisition::Voie4Normalisee, TAcquisition::VoieAuxNormalisee};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const size_t k = row.streams.size();
        std::string body = head(row.mask);
        for (size_t s = 0; s < k; ++s)
            body += info(row.streams[s] == 4 ? "W" : "V", 1.0f, row.streams[s] == 4 ? SCALE_POWER : SCALE_METER);
        std::vector<std::vector<uint32_t>> expected(k, std::vector<uint32_t>(TAcquisition::kNormalisedSamples, 0x7FC00000u));
        body.reserve(body.size() + row.rounds * k * 4 + 8);
        for (uint32_t r = 0; r < row.rounds; ++r) {
            for (size_t s = 0; s < k; ++s) {
                const float v = float((r * 7 + s * 3) % 11) / 50.0f - 0.1f;
                body += bytes(v);
                if (r < TAcquisition::kNormalisedSamples)
                    std::memcpy(&expected[s][r], &v, 4);
            }
        }
        // A cut round is dealt as far as it goes.
        if (row.tail.size() == 4)
            expected[0][row.rounds] = 0;
        body += row.tail;
        ASSERT_TRUE(writeBoardFile("/media/user/b.rec", header() + body));
        ASSERT_EQ(LoggerRecallAll(&data, "/media/user/b.rec"), 0);
        for (size_t s = 0; s < k; ++s) {
            const int b = row.streams[s];
            TAcquisition::computeViewerSignal(expected[s].data(), trace[b]);
            ASSERT_NE(expected[s][0], expected[s][1]);  // the range tells values apart
            EXPECT_TRUE(std::equal(expected[s].begin(), expected[s].end(), buffers[b])) << s;
        }
    }
}

TEST_F(FilesTest, RecordingNameIsTheLastComponentWithinItsField)
{
    const std::string name(45, 'n');
    ASSERT_TRUE(writeBoardFile(("/media/user/" + name + ".rec").c_str(), header() + head(0)));
    ASSERT_EQ(LoggerRecallAll(&data, ("/media/user/" + name + ".rec").c_str()), 0);
    EXPECT_EQ(std::string(data.loggerFileName), std::string(39, 'n'));

    // The viewer passes the field itself.
    ASSERT_TRUE(writeBoardFile("/media/user/v.rec", header() + head(0)));
    ASSERT_EQ(chdir(hostPath("/media/user").c_str()), 0);
    std::strcpy(data.loggerFileName, "v.rec");
    EXPECT_EQ(LoggerRecallAll(&data, data.loggerFileName), 0);
    EXPECT_STREQ(data.loggerFileName, "v.rec");
}

TEST_F(FilesTest, HarmonicCopies)
{
    EXPECT_EQ(HarmonicSaveAll(&data, "h", "x"), 22);

    std::string exportText = header();
    exportText.replace(62, 64, std::string(64, 'c'));
    exportText += "harmonics\r\n";
    ASSERT_TRUE(writeBoardFile("/media/private/harmonic.txt", exportText));
    ASSERT_EQ(HarmonicSaveAll(&data, "h", "x"), 0);
    std::string expected = exportText;
    expected[62] = 'x';
    EXPECT_EQ(file("/media/user/harmonic/h.txt"), expected);
    EXPECT_EQ(HarmonicSaveAll(&data, "h.txt", "y"), 17);
    EXPECT_EQ(file("/media/user/harmonic/h.txt"), expected);

    const std::string longName(300, 'l');
    EXPECT_EQ(HarmonicSaveAll(&data, ("/media/user/" + longName).c_str(), nullptr), 19);
    ASSERT_EQ(mkdir(hostPath("/media/user/harmonic/d").c_str(), 0777), 0);
    const std::string deep = "d/" + std::string(200, 'l');
    EXPECT_EQ(HarmonicSaveAll(&data, deep.c_str(), ""), 0);
    EXPECT_EQ(file(("/media/user/harmonic/" + deep + ".txt").c_str()), exportText);

    // An export too short to hold a header is no export to copy.
    ASSERT_TRUE(writeBoardFile("/media/private/harmonic.txt", std::string(100, 'e')));
    EXPECT_EQ(HarmonicSaveAll(&data, "s", "x"), 19);
    EXPECT_FALSE(exists("/media/user/harmonic/s.txt"));
}

} // namespace
