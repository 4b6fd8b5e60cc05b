#include "core/sdcard.h"

#include "board/kevents.h"
#include "core/requests.h"

#include "board/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>
#include <cstring>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr size_t kEventBufferSize = 4096;
constexpr uint32_t kEventGroups = 0x11;
constexpr int32_t kSdCardChanged = 6;  // screen code: the card came or went

// The running watchers' sockets, for sdcardDetectEnd.
struct TWatchers {
    std::mutex lock;
    std::condition_variable gone;
    std::vector<int> sockets;
    bool ending = false;
};
TWatchers& watchers()
{
    static auto* w = new TWatchers();  // never destroyed: a watcher may outlive main
    return *w;
}
} // namespace

bool sdcardDetectEnd(int timeoutMs)
{
    TWatchers& w = watchers();
    std::unique_lock<std::mutex> guard(w.lock);
    w.ending = true;
    for (int fd : w.sockets)
        ::shutdown(fd, SHUT_RDWR);
    const bool ended = w.gone.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&w] { return w.sockets.empty(); });
    w.ending = false;
    return ended;
}

bool isSdPartitionEvent(const char* message, size_t length)
{
    if (!message)
        return false;
    // Only the first line: the action, '@' and the device path.
    const void* nul = std::memchr(message, 0, length);
    const size_t line = nul ? static_cast<size_t>(static_cast<const char*>(nul) - message) : length;
    static const char kPartition[] = "mmcblk0p1";
    const size_t n = sizeof kPartition - 1;
    for (size_t i = 0; i + n <= line; ++i) {
        if (std::memcmp(message + i, kPartition, n) == 0)
            return true;
    }
    return false;
}

void* sdcard_detect(void*)
{
    // Our own identity: tSDCARD_id may not be stored yet when the first event comes.
    const intptr_t self = senderValue(pthread_self());
    const int fd = openKernelEventSocket(kEventGroups);
    if (fd < 0)
        return nullptr;
    TWatchers& w = watchers();
    {
        std::lock_guard<std::mutex> guard(w.lock);
        w.sockets.push_back(fd);
    }
    registerPowerOffUndo("SD-card watcher", [] { return sdcardDetectEnd(); });
    const auto ending = [&w] {
        std::lock_guard<std::mutex> guard(w.lock);
        return w.ending;
    };
    char buffer[kEventBufferSize];
    for (;;) {
        iovec io{buffer, sizeof buffer};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        if (n <= 0 && ending())
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        // A short event is terminated where it ends, never by an earlier one's bytes.
        buffer[sizeof buffer - 1] = '\0';
        if (static_cast<size_t>(n) < sizeof buffer)
            buffer[n] = '\0';
        if (isSdPartitionEvent(buffer, static_cast<size_t>(n))) {
            pipe_dial request{REQ_SCREEN, kSdCardChanged, 0, 0, 0.0f, self};
            o_g_consMessageBox.send(&request);
        }
    }
    {
        std::lock_guard<std::mutex> guard(w.lock);
        w.sockets.erase(std::find(w.sockets.begin(), w.sockets.end(), fd));
        closeKernelEventSocket(fd);
    }
    w.gone.notify_all();
    return nullptr;
}
