#include "core/fileio.h"

#include <cerrno>
#include <unistd.h>

bool writeAll(int fd, const void* buffer, size_t count)
{
    const auto* p = static_cast<const unsigned char*>(buffer);
    while (count > 0) {
        const ssize_t n = ::write(fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t readAll(int fd, void* buffer, size_t count)
{
    auto* p = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}
