// Writing to the daemon's off pipe the way its clients do.
#pragma once

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

// The daemon holds the pipe from its first pass on, which may come a little after its first
// level file: waits up to five seconds for a reader, true once the bytes are written.
inline bool writeOffPipe(const std::string& hostPath, const std::string& bytes)
{
    int fd = -1;
    for (int i = 0; i < 500 && fd < 0; ++i) {
        fd = ::open(hostPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno != ENXIO)
            return false;
        if (fd < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok;
}
