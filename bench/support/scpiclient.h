// A SCPI client of the loopback benchmarks: whole reads, replies ended by "\n\r", and a running
// benchview brought into scope mode with channel 1 shown at 1 ms/div.
#pragma once

#include "bench/support/benchsupport.h"
#include "bench/support/sendall.h"
#include "board/board.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "scpi/io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace benchsupport {

inline bool readExactly(int fd, std::string* out, size_t len, int timeoutMs)
{
    out->resize(len);
    size_t got = 0;
    while (got < len) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        const ssize_t n = ::read(fd, &(*out)[got], len - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// One reply ended by "\n\r".
inline bool readReply(int fd, std::string* out, int timeoutMs)
{
    out->clear();
    char c = 0;
    std::string one;
    while (out->size() < 256) {
        if (!readExactly(fd, &one, 1, timeoutMs))
            return false;
        c = one[0];
        *out += c;
        if (out->size() >= 2 && out->compare(out->size() - 2, 2, "\n\r") == 0)
            return true;
    }
    return false;
}

inline bool ask(int fd, const std::string& lines, std::string* reply)
{
    return sendAll(fd, lines.data(), lines.size()) && readReply(fd, reply, 30000);
}

inline std::string readHostFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts benchview on a board of its own and brings it into scope mode with channel 1 shown at
// 1 ms/div (a setup written by the core's own writer, uploaded and loaded). *fd: the connection.
inline bool startScopeProgram(TProgram* program, int* fd)
{
    std::string setup;
    {
        TBenchBoard board;
        if (!board.ok())
            return false;
        data = init_par;
        data.instrumentMode = 16;
        data.traceOnCh1 = 1;
        data.timeBaseIndex = 18;
        data.userTimeBase = 18;
        if (SetupSave("/media/user/scope", false, "") != 0)
            return false;
        setup = readHostFile(boardPath("/media/user/scope.cfg"));
    }
    if (!startProgram(program, {"BENCHVIEW_SCPI_LOOPBACK_ONLY=1"}))
        return false;
    *fd = connectLoopback(kScpiPort + program->portOffset, 60000);
    if (*fd < 0)
        return false;
    // On its medium (uploads are refused on the home screen), then loaded.
    {
        std::ofstream out(program->root + "/media/user/scope.cfg", std::ios::binary);
        out << setup;
    }
    std::string reply;
    if (!ask(*fd, "MMEM:LOAD:STAT \"scope.cfg\"\n*OPC?\n", &reply))
        return false;
    // Scope mode once INT5 passes the mode's guard.
    for (int i = 0; i < 600; ++i) {
        if (!ask(*fd, "MEAS:FREQ? INT5\nSYST:ERR?\n", &reply))
            return false;
        if (reply == "-----\n\r")
            return ask(*fd, "", &reply);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace benchsupport
