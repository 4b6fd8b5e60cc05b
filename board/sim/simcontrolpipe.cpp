// The control pipe of a running program on the simulated board: one command per line, run one
// after the other by a thread of the board that never calls product code. The grammar is in
// board/sim/CONTROL.txt.
#include "board/sim/simboard.h"

#include "board/board.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace simboard {

namespace {

constexpr size_t kMaxLine = 200;
constexpr uint32_t kPowerBit = 0x80000000u;

bool parseNumber(const std::string& text, uint64_t max, uint64_t* out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (errno != 0 || end == nullptr || *end != '\0' || end == text.c_str() + (hex ? 2 : 0) || v > max)
        return false;
    *out = v;
    return true;
}

bool fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

bool parseKeys(const std::string& text, uint32_t* mask, std::string* error)
{
    *mask = 0;
    if (text.empty() || text.front() == '+' || text.back() == '+' || text.find("++") != std::string::npos)
        return fail(error, "an empty key in \"" + text + "\"");
    std::stringstream items(text);
    std::string item;
    bool any = false;
    while (std::getline(items, item, '+')) {
        uint64_t v = 0;
        if (item.size() == 3 && item.compare(0, 2, "ch") == 0 && item[2] >= '1' && item[2] <= '4')
            v = 0x100000u << (item[2] - '1');
        else if (item == "power")
            v = kPowerBit;
        else if (!parseNumber(item, 0xFFFFFFFFu, &v) || v == 0)
            return fail(error, "not a key: \"" + item + "\"");
        *mask |= static_cast<uint32_t>(v);
        any = true;
    }
    return any || fail(error, "no key");
}

void add(std::vector<TControlStep>* steps, TControlStep::Kind kind, uint32_t value)
{
    TControlStep s;
    s.kind = kind;
    s.value = value;
    steps->push_back(s);
}

void down(std::vector<TControlStep>* steps, uint32_t mask)
{
    add(steps, TControlStep::Down, mask);
}

void up(std::vector<TControlStep>* steps, uint32_t mask)
{
    add(steps, TControlStep::Up, mask);
}

void wait(std::vector<TControlStep>* steps, uint32_t ms)
{
    add(steps, TControlStep::Wait, ms);
}

// A board path under the root: absolute, without "..".
bool safeBoardPath(const std::string& p)
{
    return !p.empty() && p[0] == '/' && p.find("/../") == std::string::npos &&
           (p.size() < 3 || p.compare(p.size() - 3, 3, "/..") != 0);
}

void noteIgnored(const std::string& line, const std::string& why)
{
    std::ofstream log(boardPath(kControlLogPath), std::ios::app);
    log << "ignored: " << line << ": " << why << "\n";
}

void readerThread(int fd)
{
    std::string line;
    bool tooLong = false;
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                if (line.size() < kMaxLine + 1)
                    line.push_back(buffer[i]);
                else
                    tooLong = true;
                continue;
            }
            if (tooLong)
                noteIgnored(line.substr(0, 40) + "...", "longer than 200 characters");
            else
                runControlLine(line);
            line.clear();
            tooLong = false;
        }
    }
}

} // namespace

std::string describe(const TControlStep& step)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", step.value);
    switch (step.kind) {
    case TControlStep::Down: return std::string("down ") + hex;
    case TControlStep::Up: return std::string("up ") + hex;
    case TControlStep::Wait: return "wait " + std::to_string(step.value);
    case TControlStep::PlugId: return "plug " + std::to_string(step.channel + 1) + " " + hex;
    case TControlStep::PlugImage: return "plug " + std::to_string(step.channel + 1) + " " + step.text;
    case TControlStep::Unplug: return "unplug " + std::to_string(step.channel + 1);
    case TControlStep::Button: return "button " + std::to_string(step.channel + 1) + " " + std::to_string(step.value);
    case TControlStep::Lux: return "lux " + step.text;
    case TControlStep::Line114: return "line114 " + std::to_string(step.value);
    case TControlStep::Capacitor: {
        char text[64];
        std::snprintf(text, sizeof text, step.ohms > 0 ? "capacitor %g leak %g" : "capacitor %g", step.lux, step.ohms);
        return text;
    }
    case TControlStep::Fault:
        return "fault " + std::to_string(step.channel + 1) + " " + step.text + " " +
               (step.value == kFaultOff ? std::string("off") : std::to_string(step.value));
    }
    return "";
}

bool parseControlLine(const std::string& line, std::vector<TControlStep>* steps, std::string* error)
{
    steps->clear();
    if (line.size() > kMaxLine)
        return fail(error, "longer than 200 characters");
    std::istringstream in(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
    if (w.empty())
        return fail(error, "empty line");
    const std::string& verb = w[0];
    if (verb == "key") {
        uint32_t mask = 0;
        if (w.size() < 2 || w.size() > 4 || !parseKeys(w[1], &mask, error))
            return w.size() >= 2 && w.size() <= 4 ? false : fail(error, "key <keys> [short|double|long|hold <ms>|down|up]");
        const std::string how = w.size() > 2 ? w[2] : "short";
        uint64_t ms = 0;
        if (how == "hold" ? (w.size() != 4 || !parseNumber(w[3], 600000, &ms) || ms == 0) : w.size() > 3)
            return fail(error, how == "hold" ? "hold needs a time of 1 to 600000 ms" : "too many words");
        if (how == "short" || how == "long" || how == "hold") {
            down(steps, mask);
            wait(steps, how == "short" ? 150 : how == "long" ? 1000 : static_cast<uint32_t>(ms));
            up(steps, mask);
        } else if (how == "double") {
            down(steps, mask);
            wait(steps, 100);
            up(steps, mask);
            wait(steps, 80);
            down(steps, mask);
            wait(steps, 100);
            up(steps, mask);
        } else if (how == "down") {
            down(steps, mask);
        } else if (how == "up") {
            up(steps, mask);
        } else {
            return fail(error, "unknown press \"" + how + "\"");
        }
        return true;
    }
    if (verb == "probe") {
        uint64_t ch = 0;
        if (w.size() < 3 || !parseNumber(w[1], 4, &ch) || ch == 0)
            return fail(error, "probe <1-4> plug <id | image> | unplug | button <1-3>");
        TControlStep s;
        s.channel = static_cast<int>(ch) - 1;
        uint64_t v = 0;
        if (w[2] == "unplug" && w.size() == 3) {
            s.kind = TControlStep::Unplug;
        } else if (w[2] == "button" && w.size() == 4 && parseNumber(w[3], 3, &v) && v >= 1) {
            s.kind = TControlStep::Button;
            s.value = static_cast<uint32_t>(v);
        } else if (w[2] == "plug" && w.size() == 4 && parseNumber(w[3], 0xFFFF, &v)) {
            s.kind = TControlStep::PlugId;
            s.value = static_cast<uint32_t>(v);
        } else if (w[2] == "plug" && w.size() == 4 && safeBoardPath(w[3])) {
            s.kind = TControlStep::PlugImage;
            s.text = w[3];
        } else {
            return fail(error, "probe <1-4> plug <id | image> | unplug | button <1-3>");
        }
        steps->push_back(s);
        return true;
    }
    if (verb == "lux") {
        char* end = nullptr;
        const double lux = w.size() == 2 ? std::strtod(w[1].c_str(), &end) : -1.0;
        if (w.size() != 2 || end == w[1].c_str() || *end != '\0' || !(lux >= 0.0 && lux <= 1e6))
            return fail(error, "lux <0 to 1000000>");
        TControlStep s;
        s.kind = TControlStep::Lux;
        s.lux = lux;
        s.text = w[1];
        steps->push_back(s);
        return true;
    }
    if (verb == "capacitor") {
        const auto number = [](const std::string& t, double lo, double hi, double* out) {
            char* end = nullptr;
            *out = std::strtod(t.c_str(), &end);
            return end != t.c_str() && *end == '\0' && *out >= lo && *out <= hi;
        };
        TControlStep s;
        s.kind = TControlStep::Capacitor;
        const bool leak = w.size() == 4 && w[2] == "leak";
        if ((w.size() != 2 && !leak) || !number(w[1], 0.0, 1.0, &s.lux) || (leak && !number(w[3], 0.0, 1e12, &s.ohms)))
            return fail(error, "capacitor <farads 0 to 1> [leak <ohms 0 to 1e12>]");
        s.text = w[1];
        steps->push_back(s);
        return true;
    }
    if (verb == "line114") {
        if (w.size() != 2 || (w[1] != "0" && w[1] != "1"))
            return fail(error, "line114 <0 | 1>");
        add(steps, TControlStep::Line114, w[1] == "1" ? 1u : 0u);
        return true;
    }
    if (verb == "fault") {
        const char* usage = "fault <1-4> pipeline <on | off> | dac <on | off> | reference <on | off> | vernier <0-4095 | off>";
        uint64_t ch = 0;
        uint64_t v = 0;
        if (w.size() != 4 || !parseNumber(w[1], 4, &ch) || ch == 0)
            return fail(error, usage);
        TControlStep s;
        s.kind = TControlStep::Fault;
        s.channel = static_cast<int>(ch) - 1;
        s.text = w[2];
        if ((w[2] == "pipeline" || w[2] == "dac" || w[2] == "reference") && (w[3] == "on" || w[3] == "off"))
            s.value = w[3] == "on" ? 1u : kFaultOff;
        else if (w[2] == "vernier" && w[3] == "off")
            s.value = kFaultOff;
        else if (w[2] == "vernier" && parseNumber(w[3], 4095, &v))
            s.value = static_cast<uint32_t>(v);
        else
            return fail(error, usage);
        steps->push_back(s);
        return true;
    }
    return fail(error, "unknown command \"" + verb + "\"");
}

bool runControlStep(const TControlStep& s, std::string* error)
{
    switch (s.kind) {
    case TControlStep::Down:
        if (s.value & ~kPowerBit)
            pressKeys(s.value & ~kPowerBit);
        if (s.value & kPowerBit)
            setPowerKey(true);
        return true;
    case TControlStep::Up:
        if (s.value & ~kPowerBit)
            releaseKeys(s.value & ~kPowerBit);
        if (s.value & kPowerBit)
            setPowerKey(false);
        return true;
    case TControlStep::Wait:
        std::this_thread::sleep_for(std::chrono::milliseconds(s.value));
        return true;
    case TControlStep::PlugId: {
        TProbeDescription d;
        d.id = static_cast<uint16_t>(s.value);
        plugProbe(s.channel, d);
        return true;
    }
    case TControlStep::PlugImage: {
        // Only a regular file under the root, opened without blocking: the path may name the
        // control pipe itself, a device, or a link leading out of the root.
        std::string why;
        const int fd = openBoardFileIn("/", s.text.c_str(), nullptr, &why);
        if (fd < 0)
            return fail(error, s.text + ": " + why);
        std::vector<uint8_t> image;
        uint8_t buffer[4096];
        ssize_t n = 0;
        while (image.size() <= kProbeMemorySize && ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
            image.insert(image.end(), buffer, buffer + std::max<ssize_t>(n, 0));
        ::close(fd);
        if (n < 0)
            return fail(error, s.text + ": cannot be read");
        if (image.empty() || image.size() > kProbeMemorySize)
            return fail(error, s.text + ": not a probe image");
        setProbeMemory(s.channel, image);
        return true;
    }
    case TControlStep::Unplug:
        removeProbe(s.channel);
        return true;
    case TControlStep::Button:
        pressProbeButton(s.channel, static_cast<int>(s.value));
        return true;
    case TControlStep::Lux:
        setLux(s.lux);
        return true;
    case TControlStep::Line114:
        setGpioInput(114, static_cast<int>(s.value));
        return true;
    case TControlStep::Capacitor:
        setCapacitor(s.lux, s.ohms);
        return true;
    case TControlStep::Fault: {
        const bool off = s.value == kFaultOff;
        if (s.text == "pipeline")
            setPipelineDead(s.channel, !off);
        else if (s.text == "dac")
            setOffsetDacStuck(s.channel, !off);
        else if (s.text == "reference")
            setReferenceDead(s.channel, !off);
        else
            setVernierCode(s.channel, off ? -1 : static_cast<int>(s.value));
        return true;
    }
    }
    return true;
}

bool runControlLine(const std::string& line, std::string* error)
{
    std::vector<TControlStep> steps;
    std::string why;
    bool ok = parseControlLine(line, &steps, &why);
    for (const TControlStep& s : steps)
        if (ok && !runControlStep(s, &why))
            ok = false;
    if (!ok) {
        noteIgnored(line, why);
        if (error)
            *error = why;
    }
    return ok;
}

bool startControlPipe(std::string* error)
{
    const std::string path = boardPath(kControlPipePath);
    ::mkdir(boardPath("/sim").c_str(), 0777);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return fail(error, path + ": " + std::strerror(errno));
    if (::mkfifo(path.c_str(), 0666) != 0)
        return fail(error, path + ": " + std::strerror(errno));
    // Read-write: the pipe never ends between two writers.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return fail(error, path + ": " + std::strerror(errno));
    std::thread(readerThread, fd).detach();
    return true;
}

} // namespace simboard
