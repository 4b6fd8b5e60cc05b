#include "bench/support/benchsupport.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "board/ports.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/chip_acq.h"
#include "hardware/fpga.h"

#include <netinet/tcp.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <poll.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <ftw.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace benchsupport {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

} // namespace

int claimPortOffset()
{
    return ::claimPortOffset({23, 80, 50000, 50010});  // SCPI, HTTP, discovery, web service
}

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
    std::printf("%s: %s %.*f %s %s %g %s target\n", ok ? "OK" : "MISS", what, precision, value, unit,
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

double counter(const TRun& run, const char* name)
{
    const auto c = run.counters.find(name);
    return c == run.counters.end() ? 0.0 : static_cast<double>(c->second);
}

int runChecked(TTargetReporter::TCheck check)
{
    TTargetChecker checker;
    TTargetReporter reporter(checker, std::move(check));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return checker.exitStatus();
}

bool startProgram(TProgram* p, const std::vector<std::string>& extraEnv, const char* builtProgram)
{
    const char* e = std::getenv("BENCHVIEW_EXE");
    const char* exe = e && *e ? e : builtProgram;
    if (!exe) {
        std::fprintf(stderr, "set BENCHVIEW_EXE to the program\n");
        return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/benchview-bench-XXXXXX";
    if (!mkdtemp(&root[0]))
        return false;
    p->root = root;
    p->portOffset = claimPortOffset();
    std::vector<std::string> env{
        "BENCHVIEW_SIMROOT=" + root,
        "BENCHVIEW_PORT_OFFSET=" + std::to_string(p->portOffset),
    };
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("QT_QUICK_BACKEND=software");
    const size_t overrides = env.size();
    for (char** entryPtr = environ; *entryPtr; ++entryPtr) {
        const std::string entry = *entryPtr;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (size_t i = 0; i < overrides; ++i)
            replaced = replaced || env[i].compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& s : env)
        envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::string program = exe;
    char* argv[] = {&program[0], nullptr};
    const std::string log = root + "/benchview.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawn(&p->pid, exe, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", exe, std::strerror(rc));
        p->pid = -1;
        return false;
    }
    return true;
}

void stopProgram(TProgram* p)
{
    if (p->pid > 0) {
        ::kill(p->pid, SIGKILL);
        while (::waitpid(p->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        p->pid = -1;
    }
    if (!p->root.empty() && !std::getenv("BENCHVIEW_KEEP_SIMROOT"))
        nftw(p->root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool startEchoProgram(TEchoProgram* p, const char* kind, const std::string& reply, const char* program)
{
    if (!program) {
        std::fprintf(stderr, "no echo program built\n");
        return false;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    std::string exe = program;
    std::string kindArg = kind;
    std::string replyArg = reply;
    char* argv[] = {&exe[0], &kindArg[0], &replyArg[0], nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawn(&p->pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(rc));
        ::close(out[0]);
        p->pid = -1;
        return false;
    }
    // The port, on the first line.
    std::string line;
    char c = 0;
    pollfd pfd{out[0], POLLIN, 0};
    while (line.size() < 16 && ::poll(&pfd, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    p->port = std::atoi(line.c_str());
    if (p->port <= 0) {
        std::fprintf(stderr, "the echo program named no port\n");
        stopEchoProgram(p);
        return false;
    }
    return true;
}

void stopEchoProgram(TEchoProgram* p)
{
    if (p->pid <= 0)
        return;
    ::kill(p->pid, SIGKILL);
    while (::waitpid(p->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    p->pid = -1;
}

bool alternateRounds(int rounds, const std::function<long(int target)>& round, TRoundFigures* figures)
{
    std::vector<double> rates[2];
    for (int r = 0; r < rounds; ++r) {
        for (int target = 0; target < 2; ++target) {
            const auto start = std::chrono::steady_clock::now();
            const long done = round(target);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (done < 0)
                return false;
            rates[target].push_back(seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0);
        }
    }
    figures->baseline = median(rates[0]);
    figures->subject = median(rates[1]);
    return true;
}

int connectLoopback(int port, int timeoutMs, int receiveBuffer)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        if (fd >= 0)
            ::close(fd);
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        usleep(20000);
    }
}

bool sendAll(int fd, const char* data, size_t len)
{
    while (len > 0) {
        ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace benchsupport
