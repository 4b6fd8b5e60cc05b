// The firmware update program over the loopback firmware server: downloads of a 50 MB and a
// 200 MB file by fetchup itself (a child process; its peak resident memory from the kernel; the
// rate covers the transfer and the program's MD5 check), and the MD5 check of the 200 MB file
// against a plain read of it.
#include "bench/support/benchsupport.h"
#include "board/board.h"
#include "board/firmware/firmwareserver.h"
#include "board/sim/simboard.h"
#include "fetchup/updater.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string g_root;
constexpr double kSpeed = 10;                  // the scenario's speed factor
constexpr double kStartWaitS = 10.0 / kSpeed;  // fetchup's start wait at that speed
double g_peakMb[2] = {0, 0};

// A file of `megabytes` MB served as name, with its digest; false when it cannot be written.
std::string makeFile(const std::string& path, int megabytes)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20);
    for (int m = 0; m < megabytes; ++m) {
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((i * 2654435761u + static_cast<unsigned>(m)) >> 11);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        md5.addData(block.data(), static_cast<int>(block.size()));
    }
    return md5.result().toHex().toStdString();
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// One second-stage run of fetchup fetching name; its peak resident memory in MB (-1 on failure).
double runFetchup(const std::string& name, const std::string& digest)
{
    const std::string staging = g_root + "/media/private/update/download";
    QDir(QString::fromStdString(staging)).removeRecursively();
    QDir().mkpath(QString::fromStdString(staging));
    ::unlink((g_root + "/media/private/update/downloadOk").c_str());
    ::unlink((g_root + "/media/private/update/date").c_str());
    ::unlink((g_root + "/media/private/update/index").c_str());
    writeText(staging + "/index", digest + "  " + name + "\n");
    const std::string env = "BENCHVIEW_SIMROOT=" + g_root;
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(const_cast<char*>(env.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(FETCHUP_EXE), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, FETCHUP_EXE, nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) {
        std::fprintf(stderr, "fetchup ended with %d\n", status);
        return -1;
    }
    if (::access((g_root + "/media/private/update/downloadOk").c_str(), F_OK) != 0) {
        std::fprintf(stderr, "no release verified (peak %.1f MB)\n", usage.ru_maxrss / 1024.0);
        return -1;
    }
    return usage.ru_maxrss / 1024.0;
}

std::string g_digest[2];
const int kSizes[2] = {50, 200};

void BM_Download(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const std::string name = "f" + std::to_string(kSizes[which]) + ".bin";
    double peak = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double mb = runFetchup(name, g_digest[which]);
        if (mb < 0) {
            state.SkipWithError("the download failed");
            break;
        }
        peak = std::max(peak, mb);
        // The program's own start wait is not transfer time.
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
                               kStartWaitS);
    }
    g_peakMb[which] = peak;
    state.counters["peak_MB"] = peak;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSizes[which]) << 20);
}
BENCHMARK(BM_Download)->Arg(0)->Arg(1)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PlainRead(benchmark::State& state)
{
    const std::string path = g_root + "/served/f200.bin";
    std::vector<char> block(8192);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        int64_t total = 0;
        for (ssize_t n; (n = ::read(fd, block.data(), block.size())) > 0;)
            total += n;
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t(200) << 20));
}
BENCHMARK(BM_PlainRead)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_CheckIntegrity(benchmark::State& state)
{
    const std::string dir = g_root + "/check";
    QDir().mkpath(QString::fromStdString(dir));
    ::unlink((dir + "/f200.bin").c_str());
    ::symlink((g_root + "/served/f200.bin").c_str(), (dir + "/f200.bin").c_str());
    writeText(dir + "/index", g_digest[1] + "  f200.bin\n");
    Updater updater;
    for (auto _ : state)
        if (!updater.checkIntegrity(QDir(QString::fromStdString(dir))))
            state.SkipWithError("the check failed");
    state.SetBytesProcessed(state.iterations() * (int64_t(200) << 20));
}
BENCHMARK(BM_CheckIntegrity)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

double mbPerSecond(const benchsupport::TRun& run)
{
    return benchsupport::counter(run, "bytes_per_second") / (1 << 20);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);
    char templ[] = "/tmp/bench-fetchup-XXXXXX";
    if (!::mkdtemp(templ))
        return 1;
    g_root = templ;
    setBoardRoot(g_root);
    const std::string served = g_root + "/served";
    ::mkdir(served.c_str(), 0755);
    ::mkdir((g_root + "/sim").c_str(), 0755);
    for (int i = 0; i < 2; ++i)
        g_digest[i] = makeFile(served + "/f" + std::to_string(kSizes[i]) + ".bin", kSizes[i]);
    std::string why;
    simboard::TFirmwareServer server;
    if (!simboard::makeServerCertificate(g_root + "/sim/cert.pem", g_root + "/sim/key.pem", &why) ||
        !server.start(served, g_root + "/sim/cert.pem", g_root + "/sim/key.pem", &why)) {
        std::fprintf(stderr, "bench_fetchup: %s\n", why.c_str());
        return 1;
    }
    simboard::TScenario s = simboard::defaultScenario();
    s.speedFactor = kSpeed;
    s.firmware = {server.url(), "/sim/cert.pem"};
    writeText(g_root + "/sim/scenario.json", simboard::scenarioToJson(s));

    static double plainMbs = 0;
    const int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        if (name.rfind("BM_Download/0", 0) == 0) {
            std::printf("download 50 MB: %.1f MB/s\n", mbPerSecond(run));
            c.record("peak resident memory, 50 MB", benchsupport::counter(run, "peak_MB"), 64, "MB", 1, run.error_occurred);
        } else if (name.rfind("BM_Download/1", 0) == 0) {
            std::printf("download 200 MB: %.1f MB/s\n", mbPerSecond(run));
            const double big = benchsupport::counter(run, "peak_MB");
            c.record("peak resident memory, 200 MB", big, 64, "MB", 1, run.error_occurred);
            c.record("peak memory growth from 50 to 200 MB", 100.0 * (big - g_peakMb[0]) / std::max(g_peakMb[0], 1.0), 10,
                     "%", 1, run.error_occurred);
        } else if (name.rfind("BM_PlainRead", 0) == 0) {
            plainMbs = mbPerSecond(run);
        } else if (name.rfind("BM_CheckIntegrity", 0) == 0) {
            c.record("plain read over the MD5 check", plainMbs / std::max(mbPerSecond(run), 1e-9), 2, "x", 2,
                     run.error_occurred || plainMbs <= 0);
        }
    });
    server.stop();
    if (!std::getenv("BENCH_KEEP_ROOT"))
        QDir(QString::fromStdString(g_root)).removeRecursively();
    return status;
}
