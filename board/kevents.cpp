#include "board/kevents.h"

#include "board/board.h"

#include <cerrno>
#include <linux/netlink.h>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// The sending ends of the simulated listeners. Never destroyed: a watcher thread may still
// open a socket while the process ends.
struct TSimulatedListeners {
    std::mutex mutex;
    std::vector<int> senders;
    std::vector<int> readers;  // the reading end of each sender, same index
};

TSimulatedListeners& listeners()
{
    static auto* l = new TSimulatedListeners();
    return *l;
}

} // namespace

int openBoardKernelEventSocket(uint32_t groupMask)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_pid = 0;
    address.nl_groups = groupMask;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int openSimulatedKernelEventSocket()
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    TSimulatedListeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.senders.push_back(pair[1]);
    l.readers.push_back(pair[0]);
    return pair[0];
}

void closeKernelEventSocket(int fd)
{
    if (kSimulatedBoard) {
        TSimulatedListeners& l = listeners();
        std::lock_guard<std::mutex> lock(l.mutex);
        for (size_t i = 0; i < l.readers.size(); ++i)
            if (l.readers[i] == fd) {
                ::close(l.senders[i]);
                l.senders.erase(l.senders.begin() + static_cast<std::ptrdiff_t>(i));
                l.readers.erase(l.readers.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        ::close(fd);  // under the lock: the number is not reused before the entry is gone
        return;
    }
    ::close(fd);
}

int openKernelEventSocket(uint32_t groupMask)
{
    return kSimulatedBoard ? openSimulatedKernelEventSocket() : openBoardKernelEventSocket(groupMask);
}

int deliverSimulatedKernelEvent(const std::string& event)
{
    TSimulatedListeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.mutex);
    int delivered = 0;
    for (auto it = l.senders.begin(); it != l.senders.end();) {
        ssize_t n;
        do {
            n = ::send(*it, event.data(), event.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == ECONNREFUSED || errno == ENOTCONN || errno == EPIPE)) {
            // The reader closed its end.
            ::close(*it);
            l.readers.erase(l.readers.begin() + (it - l.senders.begin()));
            it = l.senders.erase(it);
            continue;
        }
        if (n == static_cast<ssize_t>(event.size()))
            ++delivered;
        ++it;
    }
    return delivered;
}

int simulatedKernelEventListeners()
{
    TSimulatedListeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.mutex);
    return static_cast<int>(l.senders.size());
}
