// Developer tool of the simulated board, on the root benchview uses (BENCHVIEW_SIMROOT, else
// "simroot" beside the executable).
//   simboard boot             a power cycle: empties /var/tmp, touches /sim/boot
//   simboard program ...      the board player: boots the board, makes the off pipe, sets the
//                             board lines, runs the battery's fuel gauge and starts each named
//                             program found beside the tool; its console is standard input
//                             (the commands of board/sim/CONTROL.txt, "Player console").
// Status 0; 1 with a message when a step fails (or another player holds the root); 2 with the
// usage for anything else.
#include "board/board.h"
#include "board/firmware/firmwareserver.h"
#include "board/sim/simboard.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kLockPath = "/sim/player.lock";
constexpr const char* kControlPath = "/sim/control";
constexpr const char* kPowerLog = "/sim/power.log";
volatile sig_atomic_t g_quit = 0;

int usage()
{
    std::fprintf(stderr, "usage: simboard boot | simboard program ...\n"
                         "  boot         boot the simulated board: empty <root>/var/tmp, touch <root>/sim/boot\n"
                         "  program ...  play the board: boot it, run the battery gauge, start the programs\n"
                         "               found beside simboard (e.g. cellwarden); console on standard input\n");
    return 2;
}

// The player's lock, held for its life; -1 when another player holds it.
int takeLock()
{
    const std::string path = boardPath(kLockPath);
    ::mkdir(boardPath("/sim").c_str(), 0755);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string readFile(const char* boardAbsolutePath)
{
    std::ifstream in(boardPath(boardAbsolutePath), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeLine(const char* boardAbsolutePath, const char* text)
{
    std::ofstream(boardPath(boardAbsolutePath), std::ios::binary | std::ios::trunc) << text;
}

std::string executableDir()
{
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return ".";
    exe[n] = 0;
    std::string dir(exe);
    return dir.substr(0, dir.rfind('/'));
}

struct Child {
    std::string name;
    pid_t pid;
};

class Player {
public:
    int run(const std::vector<std::string>& programs)
    {
        std::string error;
        if (!simboard::boot(&error)) {
            std::fprintf(stderr, "simboard: boot: %s\n", error.c_str());
            return 1;
        }
        // The off pipe: the daemon reads it, benchview writes it.
        ::unlink(boardPath("/var/tmp/offpipe").c_str());
        ::mkfifo(boardPath("/var/tmp/offpipe").c_str(), 0644);
        loadScenario();
        for (const char* dir : {"/sys", "/sys/class", "/sys/class/gpio", "/sys/class/gpio/gpio114",
                                "/sys/class/gpio/gpio121", "/sys/class/gpio/gpio127"})
            ::mkdir(boardPath(dir).c_str(), 0755);
        writeLine("/sys/class/gpio/gpio114/value", wallPowerAtStart() ? "1\n" : "0\n");
        writeLine("/sys/class/gpio/gpio121/value", "0\n");
        writeLine("/sys/class/gpio/gpio127/value", "0\n");
        // The companion programs' power key, empty, with our writer held for the board's life.
        keyFifo_ = simboard::makeCompanionKeyFifo();
        gauge_.configure(scenario_.battery);
        gauge_.setSpeedFactor(scenario_.speedFactor);
        if (!gauge_.start(&error)) {
            std::fprintf(stderr, "simboard: fuel gauge: %s\n", error.c_str());
            return 1;
        }
        powerLogSize_ = readFile(kPowerLog).size();
        const std::string dir = executableDir();
        for (const std::string& program : programs)
            startChild(dir, program);
        say("simulated board on %s; commands: wall on|off, soc N, volt N, current N, adc N, status, start P, firmware [dir|change], "
            "quit, and benchview's (key, probe, lux, line114, capacitor, fault)",
            boardRoot().c_str());
        loop();
        stopAll();
        return 0;
    }

private:
    simboard::TScenario scenario_ = simboard::defaultScenario();
    simboard::TSimGauge gauge_;
    std::vector<Child> children_;
    int keyFifo_ = -1;
    simboard::TFirmwareServer firmware_;
    std::string firmwareDir_;
    int firmwareChanges_ = 0;
    size_t powerLogSize_ = 0;
    bool inputOpen_ = true;
    std::string pending_;

    static void say(const char* format, ...) __attribute__((format(printf, 1, 2)))
    {
        va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::printf("\n");
        std::fflush(stdout);
    }

    void loadScenario()
    {
        simboard::TScenario s;
        if (simboard::parseScenario(readFile(simboard::kScenarioPath), &s))
            scenario_ = s;
    }

    bool wallPowerAtStart() const
    {
        for (const auto& entry : scenario_.gpioInputs)
            if (entry.first == 114)
                return entry.second != 0;
        return scenario_.battery.wallPower;
    }

    void startChild(const std::string& dir, const std::string& program)
    {
        const std::string path = dir + "/" + program;
        if (::access(path.c_str(), X_OK) != 0) {
            say("%s: not found beside simboard", program.c_str());
            return;
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0)
                ::dup2(null, 0);
            ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid > 0) {
            children_.push_back({program, pid});
            say("%s started (pid %d)", program.c_str(), static_cast<int>(pid));
        }
    }

    void loop()
    {
        while (!g_quit) {
            struct pollfd fd = {0, POLLIN, 0};
            const int n = ::poll(&fd, inputOpen_ ? 1 : 0, 100);
            if (n > 0 && (fd.revents & (POLLIN | POLLHUP))) {
                char buffer[512];
                const ssize_t got = ::read(0, buffer, sizeof buffer);
                if (got <= 0) {
                    inputOpen_ = false;  // end of input is not quit: the board goes on
                } else {
                    pending_.append(buffer, static_cast<size_t>(got));
                    size_t end;
                    while ((end = pending_.find('\n')) != std::string::npos) {
                        const std::string line = pending_.substr(0, end);
                        pending_.erase(0, end + 1);
                        if (!command(line))
                            return;
                    }
                }
            }
            if (reapChildren())
                return;
        }
    }

    // False when the board ends (quit or power cut).
    bool reapChildren()
    {
        bool powerCut = false;
        for (auto it = children_.begin(); it != children_.end();) {
            int status = 0;
            if (::waitpid(it->pid, &status, WNOHANG) != it->pid) {
                ++it;
                continue;
            }
            if (WIFEXITED(status))
                say("%s ended with status %d", it->name.c_str(), WEXITSTATUS(status));
            else
                say("%s ended by signal %d", it->name.c_str(), WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            const std::string log = readFile(kPowerLog);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 99 && log.size() > powerLogSize_) {
                say("power cut: %s", log.substr(powerLogSize_).c_str());
                powerCut = true;
            }
            it = children_.erase(it);
        }
        return powerCut;
    }

    // Writes the line into benchview's control pipe, never blocking.
    void forward(const std::string& line)
    {
        const int fd = ::open(boardPath(kControlPath).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            say("no benchview reads %s: \"%s\" not sent", kControlPath, line.c_str());
            return;
        }
        const std::string text = line + "\n";
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            say("%s: %s", kControlPath, std::strerror(errno));
        ::close(fd);
    }

    bool running(const char* program) const
    {
        for (const Child& c : children_)
            if (c.name == program)
                return true;
        return false;
    }

    // "key power [form]" for the companion programs that read the key: the press and release
    // records with the form's timing. False for any other key line.
    bool pressCompanionPowerKey(const std::string& keys, const std::string& form, const std::string& extra)
    {
        if (keys != "power" || keyFifo_ < 0 || !running("chargeview"))
            return false;
        std::vector<std::pair<int, int>> steps;  // value, then the pause after it (ms)
        char* end = nullptr;
        const long ms = extra.empty() ? 0 : std::strtol(extra.c_str(), &end, 10);
        if (form.empty() || form == "short")
            steps = {{1, 150}, {0, 0}};
        else if (form == "long")
            steps = {{1, 1000}, {0, 0}};
        else if (form == "double")
            steps = {{1, 100}, {0, 80}, {1, 100}, {0, 0}};
        else if (form == "hold" && end && *end == 0 && ms >= 1 && ms <= 600000)
            steps = {{1, static_cast<int>(ms)}, {0, 0}};
        else if (form == "down")
            steps = {{1, 0}};
        else if (form == "up")
            steps = {{0, 0}};
        else
            return false;
        for (const auto& step : steps) {
            simboard::writePowerKeyRecord(keyFifo_, step.first);
            if (step.second > 0)
                ::usleep(static_cast<useconds_t>(step.second) * 1000);
        }
        say("power key sent to chargeview");
        return true;
    }

    // The sample release: three small files and their index.
    static void writeRelease(const std::string& dir, int changes)
    {
        QDir().mkpath(QString::fromStdString(dir));
        std::string index;
        for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
            std::string content = std::string("sample firmware file ") + name + "\n";
            if (name == std::string("a.bin") && changes > 0)
                content += "change " + std::to_string(changes) + "\n";
            QFile file(QString::fromStdString(dir + "/" + name));
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(content.data(), static_cast<qint64>(content.size()));
            index += QCryptographicHash::hash(QByteArray::fromStdString(content), QCryptographicHash::Md5).toHex().toStdString() +
                     "  " + name + "\n";
        }
        QFile file(QString::fromStdString(dir + "/index"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(index.data(), static_cast<qint64>(index.size()));
    }

    // "firmware [dir]" starts the server and names it in the scenario; "firmware change" alters
    // one file of the sample release and its index.
    void firmware(const std::string& arg)
    {
        if (arg == "change") {
            if (firmwareDir_ != boardPath("/sim/firmware")) {
                say("firmware change: only the sample release (\"firmware\" without a folder) changes");
                return;
            }
            writeRelease(firmwareDir_, ++firmwareChanges_);
            say("firmware: a.bin and the index changed");
            return;
        }
        std::string error;
        const std::string cert = boardPath("/sim/fw-cert.pem"), key = boardPath("/sim/fw-key.pem");
        if (!firmware_.port() || arg.size()) {
            if (arg.empty()) {
                firmwareDir_ = boardPath("/sim/firmware");
                writeRelease(firmwareDir_, firmwareChanges_);
            } else {
                firmwareDir_ = arg;
            }
            if (!simboard::makeServerCertificate(cert, key, &error) || !firmware_.start(firmwareDir_, cert, key, &error)) {
                say("firmware: %s", error.c_str());
                return;
            }
        }
        simboard::TScenario s;
        if (!simboard::parseScenario(readFile(simboard::kScenarioPath), &s))
            s = scenario_;
        s.firmware.server = firmware_.url();
        s.firmware.caFile = "/sim/fw-cert.pem";
        writeLine(simboard::kScenarioPath, simboard::scenarioToJson(s).c_str());
        say("firmware server %s serving %s", firmware_.url().c_str(), firmwareDir_.c_str());
    }

    void status()
    {
        say("batlevel: \"%s\"", readFile("/var/tmp/batlevel").c_str());
        for (const char* line : {"114", "121", "127"}) {
            std::string v = readFile(("/sys/class/gpio/gpio" + std::string(line) + "/value").c_str());
            while (!v.empty() && (v.back() == '\n' || v.back() == '\r'))
                v.pop_back();
            say("line %s: %s", line, v.empty() ? "(no file)" : v.c_str());
        }
        const std::string log = readFile(kPowerLog);
        say("power log:%s%s", log.empty() ? " (empty)" : "\n", log.c_str());
    }

    // The n-th word of a line (0 first), or "".
    static std::string remainder(const std::string& line, int n)
    {
        std::istringstream words(line);
        std::string w;
        for (int i = 0; i <= n; ++i)
            if (!(words >> w))
                return std::string();
        return w;
    }

    bool command(const std::string& line)
    {
        std::istringstream words(line);
        std::string first, arg, extra;
        words >> first >> arg >> extra;
        if (first.empty())
            return true;
        char* end = nullptr;
        const long n = arg.empty() ? 0 : std::strtol(arg.c_str(), &end, 10);
        const bool number = !arg.empty() && end && *end == 0 && extra.empty();
        if (first == "quit")
            return false;
        if (first == "status" && arg.empty()) {
            status();
        } else if (first == "wall" && (arg == "on" || arg == "off") && extra.empty()) {
            simboard::setWallPower(arg == "on");
            forward(arg == "on" ? "line114 1" : "line114 0");
        } else if (first == "soc" && number && n >= 0 && n <= 100) {
            gauge_.setStateOfCharge(static_cast<int>(n));
        } else if (first == "volt" && number && n >= 0 && n <= 65535) {
            gauge_.setVoltage(static_cast<int>(n));
        } else if (first == "current" && number && n >= -32768 && n <= 32767) {
            gauge_.setCurrent(static_cast<int>(n));
        } else if (first == "adc" && number && n >= -1 && n <= 65535) {
            gauge_.setAdcMillivolts(static_cast<int>(n));
        } else if (first == "key" && pressCompanionPowerKey(arg, extra, remainder(line, 3))) {
            // benchview does not run beside the charging screen
        } else if (first == "firmware" && extra.empty()) {
            firmware(arg);
        } else if (first == "start" && !arg.empty() && extra.empty()) {
            if (arg.find('/') != std::string::npos || arg == "simboard")
                say("start: \"%s\" is not a program of the board", arg.c_str());
            else
                startChild(executableDir(), arg);
        } else if (first == "key" || first == "probe" || first == "lux" || first == "line114" || first == "capacitor" ||
                   first == "fault") {
            forward(line);
        } else {
            say("unknown command: \"%s\" (wall on|off, soc N, volt N, current N, adc N, status, start P, firmware, quit, key, "
                "probe, lux, line114, capacitor, fault)",
                line.c_str());
        }
        return true;
    }

    void stopAll()
    {
        for (const Child& c : children_)
            ::kill(c.pid, SIGTERM);
        for (const Child& c : children_) {
            int status = 0;
            for (int i = 0; i < 50 && ::waitpid(c.pid, &status, WNOHANG) == 0; ++i)
                ::usleep(20000);
            if (::waitpid(c.pid, &status, WNOHANG) == 0) {
                ::kill(c.pid, SIGKILL);
                ::waitpid(c.pid, &status, 0);
            }
            say("%s stopped", c.name.c_str());
        }
        children_.clear();
        gauge_.stop();
        firmware_.stop();
    }
};

void onSignal(int) { g_quit = 1; }

} // namespace

int main(int argc, char** argv)
{
    const bool bootOnly = argc == 2 && std::strcmp(argv[1], "boot") == 0;
    std::vector<std::string> programs;
    // The player takes programs built beside the tool, nothing else.
    const std::string dir = executableDir();
    for (int i = 1; i < argc && !bootOnly; ++i) {
        if (argv[i][0] == '-' || std::strchr(argv[i], '/') || std::strcmp(argv[i], "boot") == 0 ||
            std::strcmp(argv[i], "simboard") == 0 || ::access((dir + "/" + argv[i]).c_str(), X_OK) != 0)
            return usage();
        programs.push_back(argv[i]);
    }
    if (!bootOnly && programs.empty())
        return usage();
    if (!resolveBoardRoot()) {
        std::fprintf(stderr, "simboard: the simulated-board root cannot be made\n");
        return 1;
    }
    const int lock = takeLock();
    if (bootOnly) {
        if (lock < 0) {
            std::printf("simboard boot: a board player runs on %s; the board is left as it is\n", boardRoot().c_str());
            return 0;
        }
        std::string error;
        if (!simboard::boot(&error)) {
            std::fprintf(stderr, "simboard boot: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (lock < 0) {
        std::fprintf(stderr, "simboard: a board player already runs on %s\n", boardRoot().c_str());
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    // The children play on the same root, whatever their own directory.
    ::setenv("BENCHVIEW_SIMROOT", boardRoot().c_str(), 1);
    QCoreApplication app(argc, argv);  // the firmware server's thread needs one
    return Player().run(programs);
}
