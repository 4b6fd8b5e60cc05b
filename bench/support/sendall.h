// Blocking send of a whole buffer, shared by the loopback benchmarks and their echo program.
#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/socket.h>
#include <sys/types.h>

namespace benchsupport {

// False when the connection failed before every byte went.
inline bool sendAll(int fd, const char* data, size_t len)
{
    while (len > 0) {
        const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
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
