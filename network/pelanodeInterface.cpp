// The web-service thread: socket, receive loop and dispatch by request name.
#include "network/pelanodeInterface.h"

#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "core/process.h"
#include "network/requestkey.h"
#include "network/user_int.h"
#include "network/wsrpm.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <unistd.h>

const TWsCallback wsCallback[kWsCallbackRows] = {
    {"/ident", 6, wsRpmIdent},
    {"/status", 7, wsRpmStatus},
    {"/instrument", 11, wsRpmInstrument},
    {"/cwd", 4, wsRpmCwd},
    {"/list", 5, wsRpmList},
    {"/open", 5, wsRpmOpen},
    {"/delete", 7, wsRpmDelete},
    {"/savefile", 9, wsRpmSavefile},
    {"/getfile", 8, wsRpmGetfile},
    {"/tracesScope", 12, wsRpmTracesScope},
    {"/tracesCompScope", 16, wsRpmTracesCompScope},
    {"/indicsScope", 12, wsRpmIndicsScope},
    {"/indicsFft", 10, wsRpmIndicsFft},
    {"/indicsXy", 9, wsRpmIndicsXy},
    {"/indicsCompScope", 16, wsRpmIndicsCompScope},
    {"/measuresScope", 14, wsRpmMeasuresScope},
    {"/commandScope", 13, wsRpmCommandScope},
    {"/verticalScope", 14, wsRpmVerticalScope},
    {"/mathScope", 10, wsRpmMathScope},
    {"/triggerScope", 13, wsRpmTriggerScope},
    {"/horizontalScope", 16, wsRpmHorizontalScope},
    {"/passfail", 9, wsRpmPassfail},
    {"/zoomScope", 10, wsRpmZoomScope},
    {"/zoomFft", 8, wsRpmZoomFft},
    {"/zoomXy", 7, wsRpmZoomXy},
    {"/toolsScope", 11, wsRpmToolsScope},
    {"/tracesHarmonic", 15, wsRpmTracesHarmonic},
    {"/measuresHarmonic", 17, wsRpmMeasuresHarmonic},
    {"/toolsHarmonic", 14, wsRpmToolsHarmonic},
    {"/measuresMeter", 14, wsRpmMeasuresMeter},
    {"/measuresPower", 14, wsRpmMeasuresPower},
    {"/verticalMeter", 14, wsRpmVerticalMeter},
    {"/toolsMeter", 11, wsRpmToolsMeter},
    {"/indicsCompViewer", 17, wsRpmIndicsCompViewer},
    {"/indicsLogger", 13, wsRpmIndicsLogger},
    {"/indicsViewer", 13, wsRpmIndicsViewer},
    {"/viewerFilter", 13, wsRpmViewerFilter},
    {"/viewerEvents", 13, wsRpmViewerEvents},
    {"/calibr", 7, wsRpmCalibr},
    {"/cflash", 7, wsRpmCflash},
    {"/scaling", 8, wsRpmScaling},
    {"/pipeline", 9, wsRpmPipeline},
    {"/fpga", 5, wsRpmFpga},
};

char tc_g_wsBuffer[kWsReplyBufferSize];

namespace {

// Pause before setting the socket up again after a failure: never spin at the thread's priority.
constexpr int kSocketRetryMs = 3000;
// How often a service that may be stopped looks at its flag.
constexpr int kStopLookMs = 200;

int32_t drawKeyOrigin()
{
    uint32_t r = 0;
    try {
        std::random_device device;
        r = device();
    } catch (...) {
        r = static_cast<uint32_t>(::time(nullptr)) ^ static_cast<uint32_t>(::getpid());
    }
    return static_cast<int32_t>((r & 0x7FFFu) << 16);
}

// The "o" key: the client's request key. A value that is no 32-bit number leaves the key alone.
void takeRequestKey(TWsReq* req)
{
    const char* value = wsParser(req, "o");
    if (value == nullptr)
        return;
    char* stop = nullptr;
    errno = 0;
    const long long key = std::strtoll(value, &stop, 10);
    if (stop == value || errno == ERANGE || key < INT32_MIN || key > INT32_MAX)
        return;
    l_g_requestKey.store(static_cast<int32_t>(key), std::memory_order_relaxed);
}

} // namespace

void wsServiceInit()
{
    initPelanodeStatus();
    l_g_requestKey.store(0, std::memory_order_relaxed);
    l_g_requestKeyOrigin.store(drawKeyOrigin(), std::memory_order_relaxed);
}

int wsOpenSocket(TWsReq* req)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const bool loopbackOnly = boardSetting("BENCHVIEW_WS_LOOPBACK_ONLY", 0, 0, 1) != 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kWsPort)));
    addr.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    req->socket = fd;
    req->local = addr;
    req->localLength = sizeof addr;
    return fd;
}

void wsServeDatagram(TWsReq* req, const TWsCallback* table, int rows)
{
    if (req->received < 1)
        return;
    // A cut request could carry half a key value: refuse it whole.
    if (req->received > kWsDatagramMax) {
        wsReplyFailed(req);
        return;
    }
    for (int i = 0; i < rows; ++i) {
        const TWsCallback& row = table[i];
        if (req->received >= row.nameLength && std::memcmp(req->buffer, row.name, row.nameLength) == 0) {
            takeRequestKey(req);
            pthread_mutex_lock(&o_g_imageMutex);
            row.handler(req);
            pthread_mutex_unlock(&o_g_imageMutex);
            return;
        }
    }
    wsReplyFailed(req);
}

void wsServiceRun(const std::atomic<bool>& stop)
{
    // One record for every datagram; static so the thread's stack stays small.
    static TWsReq req;
    while (!stop.load()) {
        std::memset(&req, 0, sizeof req);
        if (wsOpenSocket(&req) < 0) {
            pauseMs(kSocketRetryMs);
            continue;
        }
        while (!stop.load()) {
            pollfd p{req.socket, POLLIN, 0};
            const int ready = ::poll(&p, 1, kStopLookMs);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
            std::memset(req.buffer, 0, sizeof req.buffer);
            req.peerLength = sizeof req.peer;
            // MSG_TRUNC gives the datagram's full length, so an over-long one is seen as such.
            const ssize_t n = ::recvfrom(req.socket, req.buffer, kWsDatagramMax, MSG_TRUNC | MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&req.peer), &req.peerLength);
            if (n < 0) {
                if (errno == EBADF || errno == ENOTSOCK || errno == EINVAL || errno == EFAULT)
                    break;  // the socket is unusable: set it up again
                if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
                    pauseMs(10);  // a passing error (memory, an earlier send's report): no spin
                continue;
            }
            req.received = n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
            wsServeDatagram(&req, wsCallback, kWsCallbackRows);
        }
        ::close(req.socket);
        if (!stop.load())
            pauseMs(kSocketRetryMs);
    }
}

namespace {
std::atomic<bool> g_wsStop{false};
}

void* pelanodeInterface(void*)
{
    g_wsStop = false;
    wsServiceInit();
    wsServiceRun(g_wsStop);
    return nullptr;
}

void pelanodeInterfaceStop()
{
    g_wsStop = true;
}
