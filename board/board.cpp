#include "board/board.h"

#include "board/netif.h"
#include "board/ports.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <cstddef>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Set once before threads start, read everywhere after: never destroyed.
std::string& rootStorage()
{
    static std::string* s = new std::string();
    return *s;
}

constexpr const char* kPortOffsetVariable = "BENCHVIEW_PORT_OFFSET";
constexpr long kLastPort = 65535;

// The variable's whole number; false when it is set to anything else.
bool portOffsetFromEnvironment(long* offset)
{
    *offset = 0;
    const char* v = std::getenv(kPortOffsetVariable);
    if (!v || !*v)
        return true;
    char* end = nullptr;
    errno = 0;
    *offset = std::strtol(v, &end, 10);
    return *end == 0 && errno != ERANGE && *offset >= INT_MIN && *offset <= INT_MAX;
}

int& portOffsetStorage()
{
    static int offset = [] {
        long value = 0;
        return portOffsetFromEnvironment(&value) ? static_cast<int>(value) : 0;
    }();
    return offset;
}

// The board layer's own steps come first; later layers add theirs.
std::vector<std::pair<std::string, BoardSeedStep>>& seedSteps()
{
    static auto* steps = new std::vector<std::pair<std::string, BoardSeedStep>>{
        {"network-interfaces", seedSimulatedNetworkInterfaces},
    };
    return *steps;
}

bool makeDirs(const std::string& path)
{
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool touchBoardFile(const char* boardAbsolutePath)
{
    int fd = ::open(boardPath(boardAbsolutePath).c_str(), O_WRONLY | O_CREAT, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

const char* const kSeedMarker = "/sim/seeded";

} // namespace

std::string mapBoardPath(const std::string& root, const char* path)
{
    if (!path)
        return std::string();
    std::string p(path);
    if (root.empty() || p.empty() || p[0] != '/')
        return p;
    if (p == root || (p.size() > root.size() && p.compare(0, root.size(), root) == 0 && p[root.size()] == '/'))
        return p;
    return root + p;
}

std::string unmapBoardPath(const std::string& root, const std::string& hostPath)
{
    if (root.empty())
        return hostPath;
    if (hostPath == root)
        return "/";
    if (hostPath.size() > root.size() && hostPath.compare(0, root.size(), root) == 0 && hostPath[root.size()] == '/')
        return hostPath.substr(root.size());
    return hostPath;
}

std::string boardPath(const char* boardAbsolutePath)
{
    return mapBoardPath(kSimulatedBoard ? rootStorage() : std::string(), boardAbsolutePath);
}

std::string boardPathFromHost(const std::string& hostPath)
{
    return unmapBoardPath(kSimulatedBoard ? rootStorage() : std::string(), hostPath);
}

const std::string& boardRoot()
{
    return rootStorage();
}

bool setBoardRoot(const std::string& dir)
{
    if (!kSimulatedBoard)
        return true;
    std::string abs = dir;
    if (abs.empty())
        return false;
    if (abs[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd))
            return false;
        abs = std::string(cwd) + "/" + abs;
    }
    if (!makeDirs(abs))
        return false;
    char real[PATH_MAX];
    if (!realpath(abs.c_str(), real))
        return false;
    rootStorage() = real;
    return true;
}

void chooseQuickBackend()
{
    if (kSimulatedBoard && std::getenv("QT_QUICK_BACKEND") == nullptr && std::getenv("QMLSCENE_DEVICE") == nullptr)
        setenv("QT_QUICK_BACKEND", "software", 0);
}

bool resolveBoardRoot()
{
    if (!kSimulatedBoard)
        return true;
    const char* env = std::getenv("BENCHVIEW_SIMROOT");
    if (env && *env)
        return setBoardRoot(env);
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return false;
    exe[n] = 0;
    std::string dir(exe);
    dir = dir.substr(0, dir.rfind('/'));
    return setBoardRoot(dir + "/simroot");
}

int boardPort(int port)
{
    return kSimulatedBoard ? port + portOffsetStorage() : port;
}

void setBoardPortOffset(int offset)
{
    portOffsetStorage() = offset;
}

bool servedPortsInRange(const std::vector<int>& ports, std::string* why)
{
    if (!kSimulatedBoard || ports.empty())
        return true;
    long parsed = 0;
    if (!portOffsetFromEnvironment(&parsed)) {
        if (why)
            *why = std::string(kPortOffsetVariable) + "=" + std::getenv(kPortOffsetVariable) + " is not a whole number";
        return false;
    }
    const long offset = portOffsetStorage();
    long lowest = ports.front();
    long highest = ports.front();
    for (int port : ports) {
        lowest = std::min<long>(lowest, port);
        highest = std::max<long>(highest, port);
    }
    std::string moved;
    for (int port : ports) {
        const long shifted = port + offset;
        if (shifted >= 1 && shifted <= kLastPort)
            continue;
        moved += (moved.empty() ? "port " : " and port ") + std::to_string(port) + " to " + std::to_string(shifted);
    }
    if (moved.empty())
        return true;
    if (why)
        *why = std::string(kPortOffsetVariable) + "=" + std::to_string(offset) + " would move " + moved
            + ", outside 1.." + std::to_string(kLastPort) + "; the offsets " + std::to_string(1 - lowest) + ".."
            + std::to_string(kLastPort - highest) + " keep every served port in range";
    return false;
}

namespace {

// The kernel's range of ports for client sockets; the usual one when it cannot be read.
std::pair<long, long> ephemeralPorts()
{
    long low = 32768, high = 60999;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        long a = 0, b = 0;
        if (std::fscanf(f, "%ld %ld", &a, &b) == 2 && a > 0 && b >= a) {
            low = a;
            high = b;
        }
        std::fclose(f);
    }
    return {low, high};
}

// Held by binding an abstract socket named after the offset: unique on the machine, released by
// the kernel when the process ends, and no file is left behind.
bool holdOffset(int offset)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string name = "benchview-test-ports-" + std::to_string(offset);
    std::memcpy(addr.sun_path + 1, name.data(), name.size());  // leading NUL: abstract name
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0)
        return true;  // the socket stays open for the life of the process
    ::close(fd);
    return false;
}

} // namespace

int claimPortOffset(const std::vector<int>& servedPorts)
{
    static int claimed = -1;
    if (claimed >= 0)
        return claimed;
    // A step that is a multiple of no distance between two served ports (50000 and 50010 are 10
    // apart, 23 and 80 are 57): one process's port is never its neighbour's.
    int step = 20;
    const int highest = servedPorts.empty() ? 0 : *std::max_element(servedPorts.begin(), servedPorts.end());
    const long span = kLastPort - highest - 1000;  // between the first offset and the last
    const auto collides = [&servedPorts, span](int s) {
        for (int a : servedPorts)
            for (int b : servedPorts)
                if (a != b && std::abs(a - b) % s == 0 && std::abs(a - b) <= span)
                    return true;
        return false;
    };
    while (collides(step))
        ++step;
    const std::pair<long, long> ephemeral = ephemeralPorts();
    std::vector<int> usable;
    std::vector<int> inRange;
    for (int offset = 1000; offset <= kLastPort; offset += step) {
        bool fits = true;
        bool clear = true;
        for (int port : servedPorts) {
            const long shifted = static_cast<long>(port) + offset;
            fits = fits && shifted >= 1 && shifted <= kLastPort;
            clear = clear && (shifted < ephemeral.first || shifted > ephemeral.second);
        }
        if (fits)
            (clear ? usable : inRange).push_back(offset);
    }
    // Offsets that clash with client ports only when every clear one is held.
    for (const std::vector<int>* list : {&usable, &inRange}) {
        if (list->empty())
            continue;
        const size_t first = static_cast<size_t>(::getpid()) % list->size();
        for (size_t i = 0; i < list->size(); ++i)
            if (holdOffset((*list)[(first + i) % list->size()]))
                return claimed = (*list)[(first + i) % list->size()];
    }
    return claimed = usable.empty() ? (inRange.empty() ? 1000 : inRange.front()) : usable.front();
}

int boardSetting(const char* name, int fallback, int min, int max)
{
    if (!kSimulatedBoard)
        return fallback;
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(v, &end, 10);
    if (*end != 0 || errno == ERANGE || value < min || value > max)
        return fallback;
    return static_cast<int>(value);
}

void registerBoardSeedStep(const std::string& name, BoardSeedStep step)
{
    for (auto& s : seedSteps()) {
        if (s.first == name) {
            s.second = std::move(step);
            return;
        }
    }
    seedSteps().emplace_back(name, std::move(step));
}

void forgetBoardSeedStep(const std::string& name)
{
    auto& steps = seedSteps();
    steps.erase(std::remove_if(steps.begin(), steps.end(), [&name](const auto& s) { return s.first == name; }),
                steps.end());
}

bool confineBoardPath(const char* dir, const char* path, std::string* resolved, std::string* why)
{
    auto refuse = [why](int err, const char* reason) {
        if (why)
            *why = reason;
        errno = err;
        return false;
    };
    if (!path || path[0] != '/')
        return refuse(EINVAL, "an absolute board path is expected");
    // No ".." component, whatever the file system holds.
    for (const char* p = path; (p = std::strstr(p, "..")) != nullptr; p += 2) {
        if (p[-1] == '/' && (p[2] == 0 || p[2] == '/'))
            return refuse(EACCES, "outside the board folder");
    }
    char canonicalDir[PATH_MAX];
    char canonical[PATH_MAX];
    if (!realpath(boardPath(dir).c_str(), canonicalDir))
        return refuse(ENOENT, "not found");
    // The nearest existing part decides: what follows it does not exist, so it cannot lead out.
    std::string existing = boardPath(path);
    std::string rest;
    while (!realpath(existing.c_str(), canonical)) {
        if (errno != ENOENT && errno != ENOTDIR)
            return refuse(errno, "cannot be opened");
        const size_t slash = existing.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            return refuse(ENOENT, "not found");
        rest = existing.substr(slash) + rest;
        existing.erase(slash);
    }
    size_t dirLength = std::strlen(canonicalDir);
    if (dirLength == 1)
        dirLength = 0;  // "/": every absolute path is inside
    if (std::strncmp(canonical, canonicalDir, dirLength) != 0
        || (canonical[dirLength] != '/' && canonical[dirLength] != '\0'))
        return refuse(EACCES, "outside the board folder");
    if (resolved)
        *resolved = std::string(canonical) + rest;
    return true;
}

int openBoardFileIn(const char* dir, const char* path, int64_t* size, std::string* why)
{
    std::string canonical;
    if (!confineBoardPath(dir, path, &canonical, why))
        return -1;
    int fd = ::open(canonical.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        int err = errno;
        if (why)
            *why = err == ENOENT ? "not found" : "cannot be opened";
        errno = err;
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (why)
            *why = "not a regular file";
        errno = EINVAL;
        return -1;
    }
    if (size)
        *size = st.st_size;
    return fd;
}

bool writeBoardFile(const char* boardAbsolutePath, const std::string& content)
{
    std::string host = boardPath(boardAbsolutePath);
    int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    return ok;
}

bool boardRootSeeded()
{
    struct stat st;
    return kSimulatedBoard && !rootStorage().empty() && stat(boardPath(kSeedMarker).c_str(), &st) == 0;
}

bool seedBoardRoot()
{
    if (!kSimulatedBoard || rootStorage().empty() || boardRootSeeded())
        return false;

    static const char* const dirs[] = {
        "/media/private", "/media/user", "/var/tmp", "/tmp", "/etc/network", "/opt", "/sim",
        "/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0",
    };
    for (const char* d : dirs)
        makeDirs(boardPath(d));

    writeBoardFile("/etc/network/interfaces",
                   "auto lo\n"
                   "iface lo inet loopback\n"
                   "\n"
                   "auto eth0\n"
                   "iface eth0 inet dhcp\n"
                   "\n"
                   "iface wifi0 inet dhcp\n");
    // A regular file until the battery daemon runs here: a power-off write completes.
    touchBoardFile("/var/tmp/offpipe");
    touchBoardFile("/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/file");
    touchBoardFile("/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/ro");

    for (auto& s : seedSteps())
        s.second();

    writeBoardFile(kSeedMarker, "seeded\n");
    return true;
}
