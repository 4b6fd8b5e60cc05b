// Recording recall and descriptor reading. Targets: the recall of a five-stream recording of
// 100,000 rounds within 3 times a plain read of the same file plus 20 ms; the read of a
// descriptor of about 2,000 elements within 5 ms.
#include "bench/support/benchsupport.h"

#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "core/files.h"
#include "core/gest_db.h"
#include "core/xmlutilities.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kRecording[] = "/media/user/bench.rec";

template <typename T>
void put(std::string& out, T v)
{
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// Traces, buffers and a recording of five streams under the board root.
bool prepareRecording()
{
    TSetupLinks& l = setupLinks();
    TAcquisition** traces[5] = {&l.acqCh1, &l.acqCh2, &l.acqCh3, &l.acqCh4, &l.powerAcq};
    const unsigned short ids[5] = {1, 2, 4, 8, 8192};
    for (int n = 0; n < 5; ++n)
        *traces[n] = new TAcquisition(ids[n]);
    uint32_t** buffers[5] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                             &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee,
                             &TAcquisition::VoieAuxNormalisee};
    for (uint32_t** b : buffers)
        *b = new uint32_t[TAcquisition::kNormalisedSamples];

    std::string file(128, '.');
    put<uint16_t>(file, 0x200F);
    put<int16_t>(file, 0);
    file.append(60, '\0');
    for (int s = 0; s < 5; ++s) {
        put<uint32_t>(file, s < 4 ? SCALE_METER : SCALE_POWER);
        put<uint16_t>(file, 1);
        put<uint16_t>(file, 2);
        file.append(s < 4 ? "V\0\0\0" : "W\0\0\0", 4);
        put<float>(file, 1.0f);
        put<float>(file, 0.0f);
        file.append(44, '\0');
    }
    file.reserve(file.size() + 5 * 4 * TAcquisition::kNormalisedSamples);
    for (uint32_t r = 0; r < TAcquisition::kNormalisedSamples; ++r)
        for (int s = 0; s < 5; ++s)
            put<float>(file, float((r + s) % 100) / 200.0f);
    return writeBoardFile(kRecording, file);
}

void BM_PlainRead(benchmark::State& state)
{
    const std::string path = boardPath(kRecording);
    std::vector<char> bytes(3u << 20);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        size_t total = 0;
        for (ssize_t n; (n = ::read(fd, bytes.data() + total, bytes.size() - total)) > 0;)
            total += static_cast<size_t>(n);
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);

void BM_LoggerRecall(benchmark::State& state)
{
    for (auto _ : state) {
        if (LoggerRecallAll(&data, kRecording) != 0)
            state.SkipWithError("the recall failed");
    }
}
BENCHMARK(BM_LoggerRecall)->Unit(benchmark::kMillisecond);

// A descriptor of 1 + 3 * (1 + 22 * 30) = 1,984 elements, with attributes and comments.
std::string descriptor()
{
    std::string s = "<?xml version=\"1.0\"?>\r\n<bus name=\"bench\" version=\"1\">\r\n";
    for (int g = 0; g < 3; ++g) {
        s += "<group id=\"" + std::to_string(g) + "\">\r\n";
        for (int i = 0; i < 22; ++i) {
            s += "<step id=\"" + std::to_string(i) + "\" time=\"0.5\">\r\n<!-- step -->\r\n";
            for (int k = 0; k < 29; ++k)
                s += "<limit id=\"m" + std::to_string(k) + "\" min=\"-1.5\" max=\"2.25\" unit=\"V\"/>\r\n";
            s += "</step>\r\n";
        }
        s += "</group>\r\n";
    }
    return s + "</bus>\r\n";
}

void BM_DescriptorRead(benchmark::State& state)
{
    const std::string text = descriptor();
    for (auto _ : state) {
        std::istringstream in(text);
        XmlDescriptor root(in);
        if (!root.valid)
            state.SkipWithError("the descriptor was refused");
    }
}
BENCHMARK(BM_DescriptorRead)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchsupport::TBoardOptions options;
    options.loadInitialSetup = true;
    benchsupport::TBenchBoard board(options);
    if (!board.ok() || !prepareRecording()) {
        std::fprintf(stderr, "bench_files: no board or recording\n");
        return 1;
    }
    static double plainReadMs = -1.0;
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        const double ms = benchsupport::realTime(run, benchmark::kMillisecond);
        if (name.rfind("BM_PlainRead", 0) == 0)
            plainReadMs = ms;
        else if (name.rfind("BM_LoggerRecall", 0) == 0)
            c.record("recording recall", ms, 3.0 * (plainReadMs < 0 ? 0.0 : plainReadMs) + 20.0, "ms", 2,
                     run.error_occurred || plainReadMs < 0);
        else if (name.rfind("BM_DescriptorRead", 0) == 0)
            c.record("descriptor read", ms, 5.0, "ms", 3, run.error_occurred);
    });
}
