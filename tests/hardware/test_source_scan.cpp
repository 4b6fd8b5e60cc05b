// Every device access goes through the device-I/O seam, so that the desktop build runs on the
// simulated board: no hardware source calls the raw OS open/ioctl/mmap/poll/select, and no other
// product source calls them in a file that names one of the board's device paths.
#include <gtest/gtest.h>

// GCC 12 reports a false "maybe uninitialized" inside std::regex when optimising with sanitizers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <dirent.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
// The source tree, as the build knows it.
std::string sourceRoot()
{
    return BV_SOURCE_ROOT;
}

std::vector<std::string> sourcesUnder(const std::string& dir)
{
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            for (const std::string& s : sourcesUnder(path))
                out.push_back(s);
        } else if (name.size() > 2
                   && (name.compare(name.size() - 4, 4, ".cpp") == 0 || name.compare(name.size() - 2, 2, ".h") == 0)) {
            out.push_back(path);
        }
    }
    closedir(d);
    return out;
}

// The text with comments removed and the contents of string and character literals blanked
// (their quotes stay), line breaks kept so that line numbers hold.
std::string codeOnly(const std::string& text, std::string* literals)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            i += 2;
            while (i + 1 < text.size() && !(text[i] == '*' && text[i + 1] == '/')) {
                if (text[i] == '\n')
                    out += '\n';
                ++i;
            }
            i += 2;
        } else if (c == '"' || c == '\'') {
            out += c;
            ++i;
            while (i < text.size() && text[i] != c && text[i] != '\n') {
                if (text[i] == '\\' && i + 1 < text.size()) {
                    if (literals)
                        *literals += text[i];
                    ++i;
                }
                if (literals)
                    *literals += text[i];
                ++i;
            }
            if (literals)
                *literals += '\n';
            out += c;
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

const std::regex& rawCall()
{
    static const std::regex r(
        R"((^|[^\w.>:])(::\s*)?(open|open64|openat|ioctl|mmap|mmap64|poll|ppoll|select|pselect|fopen)\s*\()");
    return r;
}
const std::regex& streamOrStdCall()
{
    static const std::regex r(R"(std\s*::\s*(fopen|ifstream|ofstream|fstream)\b|\b(ifstream|ofstream|fstream)\b)");
    return r;
}
// Device paths of the board; a product file naming one reaches it only through the seam.
bool namesDevicePath(const std::string& literals)
{
    static const char* const paths[] = {"/dev/spidev", "/dev/uio", "/dev/i2c", "/dev/input/event",
                                        "/sys/class/gpio", "/sys/class/leds", "/sys/class/backlight"};
    for (const char* p : paths)
        if (literals.find(p) != std::string::npos)
            return true;
    return false;
}

// "line: text" of every raw call in the source (all of them with strict, else none unless the
// file names a board device path).
std::vector<std::string> rawCalls(const std::string& source, bool strict)
{
    std::string literals;
    const std::string code = codeOnly(source, &literals);
    if (!strict && !namesDevicePath(literals))
        return {};
    std::vector<std::string> out;
    std::istringstream lines(code);
    std::string line;
    for (int n = 1; std::getline(lines, line); ++n)
        if (std::regex_search(line, rawCall()) || std::regex_search(line, streamOrStdCall()))
            out.push_back(std::to_string(n) + ": " + line);
    return out;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
} // namespace

TEST(SourceScan, DetectorSeesRawCallsAndOnlyThem)
{
    struct Row {
        const char* code;
        bool strict;
        size_t hits;
    };
    const Row rows[] = {
        {"int fd = ::open(\"/dev/spidev1.0\", O_RDWR);", true, 1},
        {"int fd = open(path, O_RDWR);\nioctl(fd, SPI_IOC_MESSAGE(2), t);", true, 2},
        {"void* p = mmap(nullptr, n, PROT_READ, MAP_SHARED, fd, 0);", true, 1},
        {"int n = ::poll(fds, 1, -1); select(1, &r, nullptr, nullptr, &t);", true, 1},
        {"FILE* f = std::fopen(\"/sys/class/gpio/gpio4/value\", \"w\");", true, 1},
        {"std::ifstream in(\"/sys/class/leds/led426/brightness\");", true, 1},
        {"int fd = deviceIO().open(kSpiDevice, O_RDONLY); io.ioctl(fd, r, &m); dev->poll(f, 1, 0);", true, 0},
        {"// ::open(\"/dev/uio0\") is what the driver would do\nint selectChannel(int);", true, 0},
        {"const char* t = \"open(\";", true, 0},
        {"int fd = ::open(\"/var/tmp/auto_off\", O_WRONLY);", false, 0},
        {"const char k[] = \"/dev/input/event1\";\nint fd = ::open(k, O_RDONLY);", false, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(rawCalls(row.code, row.strict).size(), row.hits);
    }
}

TEST(SourceScan, DeviceAccessesGoThroughTheSeam)
{
    const std::string root = sourceRoot();
    struct stat st;
    ASSERT_EQ(stat((root + "/hardware/fpga.cpp").c_str(), &st), 0) << "source tree not found at " << root;

    std::vector<std::string> found;
    size_t scanned = 0;
    // The hardware layer never calls the raw OS on anything; the other product folders only where
    // they name a board device.
    for (const char* folder : {"hardware", "core", "acquisition", "busanalysis", "scpi", "network", "ui"}) {
        const bool strict = std::string(folder) == "hardware";
        for (const std::string& file : sourcesUnder(root + "/" + folder)) {
            ++scanned;
            for (const std::string& hit : rawCalls(readFile(file), strict))
                found.push_back(file.substr(root.size() + 1) + ":" + hit);
        }
    }
    EXPECT_GT(scanned, 10u);
    std::string report;
    for (const std::string& f : found)
        report += f + "\n";
    EXPECT_TRUE(found.empty()) << "raw device access outside the seam:\n" << report;
}
