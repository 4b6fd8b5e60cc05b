#include "bench/support/benchsupport.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/chip_acq.h"
#include "hardware/fpga.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>

namespace benchsupport {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

} // namespace

TBenchBoard::TBenchBoard(const TBoardOptions& options)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/benchview-bench-XXXXXX";
    if (!mkdtemp(&root[0])) {
        std::fprintf(stderr, "cannot make the simulated-board root\n");
        return;
    }
    root_ = root;
    if (!setBoardRoot(root_)) {
        std::fprintf(stderr, "cannot make the simulated-board root\n");
        return;
    }
    simboard::registerScenarioSeed();
    seedBoardRoot();
    if (options.fpgaConfigured)
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
    std::string why;
    if (!simboard::install(&why)) {
        std::fprintf(stderr, "cannot install the simulated board: %s\n", why.c_str());
        return;
    }
    installed_ = true;
    if (options.mapWindow) {
        uio_ = deviceIO().open("/dev/uio0", O_RDWR);
        pv_g_fpgaIoMem.store(deviceIO().mapRegisterWindow(uio_, kFpgaWindowBytes, 0));
    }
    if (options.loadInitialSetup)
        std::memcpy(&data, &init_par, sizeof data);
    ok_ = true;
}

TBenchBoard::~TBenchBoard()
{
    if (uio_ >= 0) {
        deviceIO().unmapRegisterWindow(pv_g_fpgaIoMem.exchange(nullptr));
        deviceIO().close(uio_);
    }
    if (installed_)
        simboard::uninstall();
    if (!root_.empty())
        nftw(root_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

double median(std::vector<double>& samples)
{
    if (samples.empty())
        return 0.0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

double realTime(const benchmark::BenchmarkReporter::Run& run, benchmark::TimeUnit unit)
{
    return run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(unit) /
           benchmark::GetTimeUnitMultiplier(run.time_unit);
}

bool TTargetChecker::record(const char* what, double value, double target, const char* unit, int precision,
                            bool failed)
{
    const bool ok = !failed && value <= target;
    std::printf("%s: %s %.*f %s %s %.0f %s target\n", ok ? "OK" : "MISS", what, precision, value, unit,
                ok ? "<=" : ">", target, unit);
    missed_ = missed_ || !ok;
    return ok;
}

bool TTargetChecker::check(bool ok, const char* format, double value)
{
    std::printf("%s: ", ok ? "OK" : "MISS");
    std::printf(format, value);
    std::printf("\n");
    missed_ = missed_ || !ok;
    return ok;
}

TTargetReporter::TTargetReporter(TTargetChecker& checker, TCheck check) : checker_(checker), check_(std::move(check))
{
}

void TTargetReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
        if (run.run_type == Run::RT_Iteration)
            check_(run, checker_);
}

int runChecked(TTargetReporter::TCheck check)
{
    TTargetChecker checker;
    TTargetReporter reporter(checker, std::move(check));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return checker.exitStatus();
}

} // namespace benchsupport
