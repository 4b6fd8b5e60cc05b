#include "scpi/io.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "core/process.h"
#include "scpi/memdat.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// ---------------------------------------------------------------------------------------------
// TRingBuffer

TRingBuffer::TRingBuffer(int size)
{
    if (size < 2)
        size = 2;
    if (size > UINT16_MAX)
        size = UINT16_MAX;
    start_ = new char[size];
    end_ = start_ + size;
    read_ = start_;
    write_ = start_;
    size_ = static_cast<uint16_t>(size);
    pthread_mutex_init(&mutex_, nullptr);
}

TRingBuffer::~TRingBuffer()
{
    pthread_mutex_destroy(&mutex_);
    delete[] start_;
}

short TRingBuffer::Put(const char* src, short len)
{
    if (len <= 0)
        return 0;
    pthread_mutex_lock(&mutex_);
    long held = write_ - read_;
    if (held < 0)
        held += size_;
    long n = std::min<long>(len, size_ - 1 - held);
    long first = std::min<long>(n, end_ - write_);
    std::memcpy(write_, src, static_cast<size_t>(first));
    write_ += first;
    if (write_ == end_)
        write_ = start_;
    long second = n - first;
    if (second > 0) {
        std::memcpy(write_, src + first, static_cast<size_t>(second));
        write_ += second;
    }
    pthread_mutex_unlock(&mutex_);
    return static_cast<short>(n);
}

short TRingBuffer::Get(char* dst, short len)
{
    if (len <= 0)
        return 0;
    pthread_mutex_lock(&mutex_);
    long held = write_ - read_;
    if (held < 0)
        held += size_;
    long n = std::min<long>(len, held);
    long first = std::min<long>(n, end_ - read_);
    std::memcpy(dst, read_, static_cast<size_t>(first));
    read_ += first;
    if (read_ == end_)
        read_ = start_;
    long second = n - first;
    if (second > 0) {
        std::memcpy(dst + first, read_, static_cast<size_t>(second));
        read_ += second;
    }
    pthread_mutex_unlock(&mutex_);
    return static_cast<short>(n);
}

int TRingBuffer::NBytes()
{
    pthread_mutex_lock(&mutex_);
    long held = write_ - read_;
    if (held < 0)
        held += size_;
    pthread_mutex_unlock(&mutex_);
    return static_cast<int>(held);
}

int TRingBuffer::free()
{
    return size_ - 1 - NBytes();
}

// ---------------------------------------------------------------------------------------------
// Globals

std::atomic<int> i_g_usbFd{0};
std::atomic<int> i_g_lanSocketFd{0};
std::atomic<int16_t> s_g_nLanSessions{0};
std::atomic<int> e_g_requestOrg{kOriginUsb};
pthread_mutex_t o_g_charInFifoMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_charInFifoCond = PTHREAD_COND_INITIALIZER;

timespec scpiDeadlineIn(int milliseconds)
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += milliseconds / 1000;
    t.tv_nsec += (milliseconds % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
    return t;
}

namespace {

constexpr int kUsbChunk = 1000;
constexpr int kLanChunk = 200;
constexpr int kRoomWaitMs = 20;
constexpr int kRunSize = 256;
constexpr int kDefaultRetryMs = 5000;
constexpr int kDefaultSendTimeoutMs = 10000;
constexpr int kDefaultIdleTakeoverMs = 30000;

// Bumped with every chunk of input stored: the interpreter, having just answered, watches it a
// little while before it sleeps, since a client's next query usually follows its reply within
// microseconds and a sleep and wake-up would cost more than the whole query.
std::atomic<uint32_t> g_inputChunks{0};
constexpr int kInputWatchUs = 50;

std::atomic<TScpiHopProbe> g_hopProbe{nullptr};

inline void hop(int which)
{
    if (TScpiHopProbe probe = g_hopProbe.load(std::memory_order_relaxed))
        probe(which);
}

// Sessions wait here for room in their queue and for the interpreter to let them go. Both
// with o_g_charInFifoMutex.
pthread_cond_t g_roomCond;
pthread_cond_t g_releasedCond;

void initMonotonicCond(pthread_cond_t* cond)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

// Deadlines on the monotonic clock: setting the date must not cut or stretch a wait.
const bool g_condsReady = [] {
    pthread_cond_destroy(&o_g_charInFifoCond);
    initMonotonicCond(&o_g_charInFifoCond);
    initMonotonicCond(&g_roomCond);
    initMonotonicCond(&g_releasedCond);
    return true;
}();


// Accepted range of the environment settings (simulated board only).
constexpr int kSettingMin = 1;
constexpr int kSettingMax = 3600000;

std::atomic<int>& retryDelayStorage()
{
    static std::atomic<int>* v =
        new std::atomic<int>(boardSetting("BENCHVIEW_SCPI_RETRY_MS", kDefaultRetryMs, kSettingMin, kSettingMax));
    return *v;
}

std::atomic<int>& idleTakeoverStorage()
{
    static std::atomic<int>* v = new std::atomic<int>(
        boardSetting("BENCHVIEW_SCPI_IDLE_TAKEOVER_MS", kDefaultIdleTakeoverMs, kSettingMin, kSettingMax));
    return *v;
}

int64_t clockMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::atomic<int>& sendTimeoutStorage()
{
    static std::atomic<int>* v =
        new std::atomic<int>(boardSetting("BENCHVIEW_SCPI_SEND_TIMEOUT_MS", kDefaultSendTimeoutMs, kSettingMin, kSettingMax));
    return *v;
}

std::atomic<bool>& loopbackOnlyStorage()
{
    static std::atomic<bool>* v =
        new std::atomic<bool>(boardSetting("BENCHVIEW_SCPI_LOOPBACK_ONLY", 0, kSettingMin, kSettingMax) != 0);
    return *v;
}

bool isLineEnd(unsigned char c)
{
    return c == '\n' || c == '\r';
}

int countLineEnds(const char* p, size_t n)
{
    int count = 0;
    for (size_t i = 0; i < n; ++i)
        count += isLineEnd(static_cast<unsigned char>(p[i]));
    return count;
}

// One input: the macro input, the USB session, a TCP session or an in-process session.
struct TScpiSession {
    explicit TScpiSession(int o) : origin(o) {}
    virtual ~TScpiSession() = default;

    // Takes a whole reply; 0 or -1. Called by the interpreter while the session is bound.
    virtual int deliver(const char* buf, size_t len) = 0;

    TRingBuffer queue{kScpiQueueSize};
    const int origin;
    uint64_t serial = 0;
    int fd = -1;
    char threadName[16] = {};

    // Guarded by o_g_charInFifoMutex.
    bool bound = false;
    bool threadDone = false;      // nothing will put input any more and the descriptor is closed
    bool stalled = false;         // its writer waits for room
    bool timedOut = false;        // the bound message timed out
    bool silent = false;          // sends nothing more for now: a timed read ends at once
    bool ownedByTable = true;     // deleted by the table once drained
    std::atomic<bool> ended{false};   // input ended (peer closed, read error, dropped)
    std::atomic<bool> broken{false};  // a reply failed: the session is dropped
    bool slotHeld = false;            // counted in s_g_nLanSessions; under the mutex
    std::atomic<int> lineEnds{0};     // line ends held in queue and run
    std::atomic<int64_t> lastInputMs{clockMs()};  // when input last came (clockMs)

    // The interpreter's read-ahead from the queue; interpreter thread only.
    unsigned char run[kRunSize];
    int runPos = 0;
    int runLen = 0;

    int available() { return (runLen - runPos) + queue.NBytes(); }

    // Stores input in chunks of at most maxChunk bytes, waiting for room; wakes the reader.
    void putInput(const char* p, size_t n, int maxChunk)
    {
        while (n > 0) {
            int chunk = static_cast<int>(std::min<size_t>(n, static_cast<size_t>(maxChunk)));
            pthread_mutex_lock(&o_g_charInFifoMutex);
            while (!broken && queue.free() < chunk) {
                // A full queue makes the session eligible even without a line end.
                stalled = true;
                pthread_cond_signal(&o_g_charInFifoCond);
                timespec t = scpiDeadlineIn(kRoomWaitMs);
                pthread_cond_timedwait(&g_roomCond, &o_g_charInFifoMutex, &t);
            }
            stalled = false;
            lastInputMs = clockMs();
            const bool stored = !broken;
            if (stored) {
                queue.Put(p, static_cast<short>(chunk));
                lineEnds += countLineEnds(p, static_cast<size_t>(chunk));
                g_inputChunks.fetch_add(1, std::memory_order_release);
            }
            pthread_mutex_unlock(&o_g_charInFifoMutex);
            // After the unlock, so that the woken interpreter does not wait for this thread's
            // mutex: it tests for input under the mutex before it waits, nothing is missed.
            if (stored) {
                pthread_cond_signal(&o_g_charInFifoCond);
                hop(kScpiHopInputStored);
            }
            p += chunk;
            n -= static_cast<size_t>(chunk);
        }
    }

    // Empties the input; with o_g_charInFifoMutex held, interpreter side.
    void flush()
    {
        char scratch[512];
        while (queue.Get(scratch, sizeof scratch) > 0) {
        }
        runPos = runLen = 0;
        lineEnds = 0;
        pthread_cond_broadcast(&g_roomCond);
    }
};

struct TMacroInput : TScpiSession {
    TMacroInput() : TScpiSession(kOriginMacro) { ownedByTable = false; }
    int deliver(const char*, size_t) override { return 0; }  // no reply, by design
};

struct TSessionTable {
    TMacroInput* macro = new TMacroInput();
    std::vector<TScpiSession*> sessions;  // in serial order
    TScpiSession* bound = nullptr;         // interpreter thread writes, under the mutex
    uint64_t lastServed = 0;
    uint64_t nextSerial = 1;
};

// Never destroyed: session threads use it up to the end of the process.
TSessionTable& table()
{
    static TSessionTable* t = new TSessionTable();
    return *t;
}

void addSession(TScpiSession* s)
{
    pthread_mutex_lock(&o_g_charInFifoMutex);
    s->serial = table().nextSerial++;
    table().sessions.push_back(s);
    pthread_mutex_unlock(&o_g_charInFifoMutex);
}

// With the mutex held: drops a session that nobody will use again.
void reapLocked(TScpiSession* s)
{
    if (s->bound || !s->threadDone || !s->ownedByTable)
        return;
    if (s->broken)
        s->flush();
    if (s->available() > 0)
        return;
    auto& v = table().sessions;
    v.erase(std::remove(v.begin(), v.end(), s), v.end());
    delete s;
}

// ---- input selection (interpreter thread, mutex held)

bool eligibleLocked(TScpiSession* s, bool isMacro)
{
    if (s->broken)
        return false;
    if (s->available() <= 0)
        return false;
    // A session is taken only with a whole line, a full queue or an ended input, so a client
    // that falls silent inside a short line holds nobody up.
    return isMacro || s->lineEnds > 0 || s->stalled || s->ended || s->queue.free() == 0;
}

TScpiSession* selectLocked()
{
    TSessionTable& t = table();
    if (eligibleLocked(t.macro, true))
        return t.macro;
    // Reap first: erasing shifts the table.
    for (size_t i = 0; i < t.sessions.size();) {
        TScpiSession* s = t.sessions[i];
        size_t before = t.sessions.size();
        reapLocked(s);
        if (t.sessions.size() == before)
            ++i;
    }
    TScpiSession* wrapped = nullptr;
    for (TScpiSession* s : t.sessions) {
        if (s->serial > t.lastServed) {
            if (eligibleLocked(s, false))
                return s;
        } else if (!wrapped && eligibleLocked(s, false)) {
            wrapped = s;
        }
    }
    return wrapped;
}

void bindLocked(TScpiSession* s)
{
    TSessionTable& t = table();
    s->bound = true;
    t.bound = s;
    e_g_requestOrg = s->origin;
    i_g_lanSocketFd = s->origin == kOriginTcp ? s->fd : 0;
    if (s->origin != kOriginMacro)
        t.lastServed = s->serial;
}

int getCharacter(unsigned char* dst, int timeoutMs)
{
    TSessionTable& t = table();
    // Fast path: the read-ahead of the bound session.
    if (TScpiSession* s = t.bound) {
        if (s->runPos < s->runLen) {
            unsigned char c = s->run[s->runPos++];
            if (isLineEnd(c))
                --s->lineEnds;
            *dst = c;
            return kGetCharOk;
        }
    }
    timespec deadline{};
    if (timeoutMs >= 0)
        deadline = scpiDeadlineIn(timeoutMs);

    bool expired = false;
    bool watched = false;
    pthread_mutex_lock(&o_g_charInFifoMutex);
    for (;;) {
        if (!t.bound) {
            if (TScpiSession* s = selectLocked()) {
                bindLocked(s);
                hop(kScpiHopMessageBound);
            }
        }
        TScpiSession* s = t.bound;
        if (s) {
            if (s->runPos >= s->runLen && !s->broken && !s->timedOut) {
                short n = s->queue.Get(reinterpret_cast<char*>(s->run), kRunSize);
                if (n > 0) {
                    s->runPos = 0;
                    s->runLen = n;
                    if (s->stalled)
                        pthread_cond_broadcast(&g_roomCond);
                }
            }
            if (s->runPos < s->runLen && !s->broken && !s->timedOut) {
                unsigned char c = s->run[s->runPos++];
                if (isLineEnd(c))
                    --s->lineEnds;
                pthread_mutex_unlock(&o_g_charInFifoMutex);
                *dst = c;
                return kGetCharOk;
            }
            // The message ends where the session's input ended.
            if (s->ended || s->broken) {
                pthread_mutex_unlock(&o_g_charInFifoMutex);
                *dst = '\n';
                return kGetCharEnded;
            }
            if (s->timedOut) {
                pthread_mutex_unlock(&o_g_charInFifoMutex);
                *dst = '\n';
                return kGetCharTimedOut;
            }
            // A client known to send nothing more: the time limit would pass, so it passes now.
            if (s->silent && timeoutMs >= 0)
                expired = true;
        }
        if (expired) {
            if (t.bound)
                t.bound->timedOut = true;
            pthread_mutex_unlock(&o_g_charInFifoMutex);
            *dst = '\n';
            return kGetCharTimedOut;
        }
        if (!watched && timeoutMs < 0) {
            // Watch for the next chunk before sleeping; everything is tested again under the
            // mutex afterwards.
            watched = true;
            const uint32_t chunks = g_inputChunks.load(std::memory_order_acquire);
            pthread_mutex_unlock(&o_g_charInFifoMutex);
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kInputWatchUs);
            // Yielding, not spinning: on a busy processor the session that brings the input
            // may need this very core.
            while (g_inputChunks.load(std::memory_order_acquire) == chunks && std::chrono::steady_clock::now() < until)
                sched_yield();
            pthread_mutex_lock(&o_g_charInFifoMutex);
            continue;
        }
        // Tested and waited under the one mutex: input arriving in between is not missed.
        if (timeoutMs < 0)
            pthread_cond_wait(&o_g_charInFifoCond, &o_g_charInFifoMutex);
        else if (pthread_cond_timedwait(&o_g_charInFifoCond, &o_g_charInFifoMutex, &deadline) == ETIMEDOUT)
            expired = true;  // one more look: a byte may have come with the time-out
    }
}

// ---- transports

void makeRaw(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
}

constexpr size_t kWriterPiece = 64 * 1024;
constexpr size_t kUsbWriteAfterPoll = 256;
// The writer looks at its queue at least this often while the client does not take bytes.
constexpr int kWriterSliceMs = 100;

// A session over a descriptor: its reading thread fills the input queue, its writing thread
// empties the reply queue at the client's pace, so the interpreter never waits on a socket.
struct TTransportSession : TScpiSession {
    TTransportSession(int o, int descriptor) : TScpiSession(o) { fd = descriptor; }

    int deliver(const char* buf, size_t len) override
    {
        switch (out.append(buf, len, kScpiReplyStallMs)) {
        case TScpiReplyQueue::kAppended:
            return 0;
        case TScpiReplyQueue::kStalled:
            outputStuck();
            return -1;
        default:
            return -1;
        }
    }

    // The reply queue stalled or a write failed.
    virtual void outputStuck() = 0;
    // Waits up to ms for room in the transport: 1 ready, 0 not yet, -1 failed.
    virtual int waitWritable(int ms) = 0;
    virtual ssize_t writeSome(const char* p, size_t n) = 0;
    // The queue was dropped: the reading thread must end.
    virtual void wakeReader() {}

    TScpiReplyQueue out;
    std::atomic<bool> inputEnded{false};
    pthread_t writer{};
    bool writerStarted = false;
    char writerName[16] = {};
};

void* scpiSessionWriter(void* arg)
{
    auto* s = static_cast<TTransportSession*>(arg);
    std::vector<char> piece(kWriterPiece);
    for (;;) {
        uint64_t generation = 0;
        size_t n = s->out.peek(piece.data(), piece.size(), &generation);
        if (n == 0)
            break;
        size_t done = 0;
        while (done < n && !s->out.dropped()) {
            // Once the client's input ended, what is still queued gets only a short chance.
            const int limit =
                s->inputEnded ? std::min(scpiSendTimeoutMs(), kScpiReplyStallMs) : scpiSendTimeoutMs();
            const int64_t still = s->out.stillMs();
            if (still >= limit) {
                s->outputStuck();
                break;
            }
            int r = s->waitWritable(static_cast<int>(std::min<int64_t>(limit - still, kWriterSliceMs)));
            if (r == 0)
                continue;
            ssize_t k = r > 0 ? s->writeSome(piece.data() + done, n - done) : -1;
            if (k > 0) {
                done += static_cast<size_t>(k);
                s->out.consume(static_cast<size_t>(k), generation);
            } else if (k < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) && r > 0) {
                continue;
            } else {
                s->outputStuck();
                break;
            }
        }
    }
    if (s->out.dropped())
        s->wakeReader();
    return nullptr;
}

bool startWriter(TTransportSession* s)
{
    s->writerStarted = startThread(&s->writer, scpiSessionWriter, s, 75, false, s->writerName) == 0;
    return s->writerStarted;
}

// With the mutex held: the session's connection slot is free again (once).
void giveBackSlotLocked(TScpiSession* s)
{
    if (s->slotHeld) {
        s->slotHeld = false;
        --s_g_nLanSessions;
    }
}

// The end of a session's reading side. Its slot is free at once; the writer ends (it may still
// send what was queued, briefly), then the descriptor is closed. The interpreter never touches
// the descriptor, so it may still be bound to the session meanwhile.
void finishSession(TTransportSession* s, void (*closeDescriptor)(TTransportSession*))
{
    pthread_mutex_lock(&o_g_charInFifoMutex);
    s->ended = true;
    giveBackSlotLocked(s);
    pthread_cond_signal(&o_g_charInFifoCond);
    pthread_mutex_unlock(&o_g_charInFifoMutex);

    s->inputEnded = true;
    s->out.close();
    if (s->writerStarted)
        pthread_join(s->writer, nullptr);
    closeDescriptor(s);

    pthread_mutex_lock(&o_g_charInFifoMutex);
    s->threadDone = true;
    reapLocked(s);
    pthread_mutex_unlock(&o_g_charInFifoMutex);
}

struct TUsbSession : TTransportSession {
    TUsbSession(int descriptor, int number) : TTransportSession(kOriginUsb, descriptor)
    {
        std::snprintf(threadName, sizeof threadName, "tScpiUsb%d", number);
        std::snprintf(writerName, sizeof writerName, "tScpiUsbW%d", number);
    }
    // The host stays; only its pending replies are lost.
    void outputStuck() override { out.clear(); }
    int waitWritable(int ms) override
    {
        pollfd p{fd, POLLOUT, 0};
        int r = deviceIO().poll(&p, 1, ms);
        if (r < 0)
            return errno == EINTR ? 0 : -1;
        if (r > 0 && (p.revents & (POLLERR | POLLNVAL)))
            return -1;
        return r > 0 ? 1 : 0;
    }
    // Small pieces: a write that finds less room than asked waits for the host, past the
    // writer's stall checks.
    ssize_t writeSome(const char* p, size_t n) override
    {
        return deviceIO().write(fd, p, std::min<size_t>(n, kUsbWriteAfterPoll));
    }
};

struct TLanSession : TTransportSession {
    TLanSession(int socket, int number) : TTransportSession(kOriginTcp, socket)
    {
        std::snprintf(threadName, sizeof threadName, "tSCPI%d", number);
        std::snprintf(writerName, sizeof writerName, "tSCPIw%d", number);
        out.setDirectWrite(
            [](void* session, const char* p, size_t n) { return static_cast<TLanSession*>(session)->writeSome(p, n); },
            this);
    }
    // The client is dropped with its pending replies; its reading thread ends the session.
    void outputStuck() override
    {
        broken = true;
        out.drop();
    }
    int waitWritable(int ms) override
    {
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, ms);
        if (r < 0)
            return errno == EINTR ? 0 : -1;
        return r > 0 ? 1 : 0;
    }
    ssize_t writeSome(const char* p, size_t n) override
    {
        // MSG_NOSIGNAL: a peer that reset the connection must not kill the process.
        return ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    void wakeReader() override { ::shutdown(fd, SHUT_RDWR); }
};

void* scpiUsbSession(void* arg)
{
    auto* s = static_cast<TUsbSession*>(arg);
    pthread_setname_np(pthread_self(), s->threadName);
    char buf[kUsbChunk];
    for (;;) {
        ssize_t n = deviceIO().read(s->fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        // End of file, or EIO once the host side closed: the cable was unplugged.
        if (n <= 0)
            break;
        hop(kScpiHopInputRead);
        s->putInput(buf, static_cast<size_t>(n), kUsbChunk);
    }
    finishSession(s, [](TTransportSession* session) {
        deviceIO().close(session->fd);
        i_g_usbFd = 0;
    });
    return nullptr;
}

void closeLanSocket(TTransportSession* s)
{
    if (s->broken) {
        // A dropped client learns it by a reset; nothing of its queue lingers in the kernel.
        linger hard{1, 0};
        ::setsockopt(s->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::close(s->fd);
}

void* scpiLanSession(void* arg)
{
    auto* s = static_cast<TLanSession*>(arg);
    pthread_setname_np(pthread_self(), s->threadName);
    char buf[kLanChunk];
    for (;;) {
        ssize_t n = ::recv(s->fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || s->broken)
            break;
        hop(kScpiHopInputRead);
        s->putInput(buf, static_cast<size_t>(n), kLanChunk);
    }
    finishSession(s, closeLanSocket);
    return nullptr;
}

void* scpiRequestManagerUsb(void*)
{
    int number = 0;
    for (;;) {
        int fd = deviceIO().open(kUsbGadgetDevice, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            // Echo and line-end translation would corrupt commands, replies and blocks.
            makeRaw(fd);
            i_g_usbFd = fd;
            number = (number + 1) % 100;
            auto* s = new TUsbSession(fd, number);
            addSession(s);
            pthread_t session;
            if (startWriter(s) && startThread(&session, scpiUsbSession, s, 75, false) == 0) {
                pthread_join(session, nullptr);  // one USB session at a time
            } else {
                finishSession(s, [](TTransportSession* x) {
                    deviceIO().close(x->fd);
                    i_g_usbFd = 0;
                });
            }
        }
        pauseMs(scpiRetryDelayMs());
    }
    return nullptr;
}

int openListener()
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    int one = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kScpiPort)));
    addr.sin_addr.s_addr = htonl(loopbackOnlyStorage() ? INADDR_LOOPBACK : INADDR_ANY);
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, kScpiListenBacklog) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

void configureLanSocket(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    // Dead peers free their slot within about two minutes.
    int idle = 60, interval = 10, count = 5;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

// With every slot taken: slots of clients that already closed or reset are given back now,
// before their reading threads get round to it.
void reclaimClosedSlots()
{
    pthread_mutex_lock(&o_g_charInFifoMutex);
    for (TScpiSession* s : table().sessions) {
        if (!s->slotHeld)
            continue;  // its descriptor may be closing
        pollfd p{s->fd, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            giveBackSlotLocked(s);
    }
    pthread_mutex_unlock(&o_g_charInFifoMutex);
}

// With every slot taken by a live client: the session idle longest, for at least the take-over
// bound (no input, nothing of it being served or waiting to be read or sent), gives its place
// to the newcomer, so that idle connections cannot lock every other client out. Its reading
// thread then ends it as if the client had closed. True when a slot was freed.
bool takeOverIdleSlot()
{
    const int64_t now = clockMs();
    TScpiSession* idlest = nullptr;
    pthread_mutex_lock(&o_g_charInFifoMutex);
    for (TScpiSession* s : table().sessions) {
        // Only a held slot's descriptor is sure to be open (see reclaimClosedSlots).
        if (!s->slotHeld || s->origin != kOriginTcp || s->bound || s->available() > 0)
            continue;
        if (now - s->lastInputMs.load() < idleTakeoverStorage().load())
            continue;
        if (static_cast<TLanSession*>(s)->out.size() > 0)
            continue;
        if (!idlest || s->lastInputMs.load() < idlest->lastInputMs.load())
            idlest = s;
    }
    if (idlest) {
        idlest->broken = true;
        giveBackSlotLocked(idlest);
        ::shutdown(idlest->fd, SHUT_RDWR);
    }
    pthread_mutex_unlock(&o_g_charInFifoMutex);
    return idlest != nullptr;
}

void* scpiRequestManagerTcp(void*)
{
    s_g_nLanSessions = 0;
    int number = 0;
    for (;;) {
        int listener = openListener();
        if (listener < 0) {
            // Port taken or no network yet: retry the whole set-up later, never spin.
            pauseMs(scpiRetryDelayMs());
            continue;
        }
        for (;;) {
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                break;
            }
            if (s_g_nLanSessions.load() >= kScpiMaxLanSessions)
                reclaimClosedSlots();
            if (s_g_nLanSessions.load() >= kScpiMaxLanSessions)
                takeOverIdleSlot();
            if (s_g_nLanSessions.load() >= kScpiMaxLanSessions) {
                ::close(fd);  // a fifth client: accepted and closed, nothing sent
                continue;
            }
            configureLanSocket(fd);
            ++s_g_nLanSessions;
            number = (number + 1) % 100;
            auto* s = new TLanSession(fd, number);
            s->slotHeld = true;
            addSession(s);
            pthread_t session;
            if (!startWriter(s) || startThread(&session, scpiLanSession, s, 75, true) != 0)
                finishSession(s, closeLanSocket);
        }
        ::close(listener);
        pauseMs(scpiRetryDelayMs());
    }
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TScpiReplyQueue

namespace {

int64_t monotonicMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

timespec monotonicAt(int64_t ms)
{
    return timespec{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000L)};
}

// An emptied queue gives back memory above this.
constexpr size_t kReplyQueueKept = 64 * 1024;

} // namespace

TScpiReplyQueue::TScpiReplyQueue(size_t capacity) : capacity_(std::max<size_t>(capacity, 1))
{
    pthread_mutex_init(&mutex_, nullptr);
    initMonotonicCond(&cond_);
}

TScpiReplyQueue::~TScpiReplyQueue()
{
    pthread_cond_destroy(&cond_);
    pthread_mutex_destroy(&mutex_);
    delete[] buffer_;
}

void TScpiReplyQueue::setDirectWrite(DirectWrite write, void* context)
{
    pthread_mutex_lock(&mutex_);
    direct_ = write;
    directContext_ = context;
    pthread_mutex_unlock(&mutex_);
}

TScpiReplyQueue::Result TScpiReplyQueue::append(const char* data, size_t length, int stallMs)
{
    pthread_mutex_lock(&mutex_);
    // Nothing queued means nothing peeked either: the writer is not sending, order is kept. The
    // writer's transport stays open while the queue is neither closed nor dropped.
    if (direct_ && count_ == 0 && length > 0 && !dropped_ && !closed_) {
        const ssize_t n = direct_(directContext_, data, length);
        if (n > 0) {
            data += n;
            length -= static_cast<size_t>(n);
        }
    }
    while (length > 0) {
        if (dropped_ || closed_) {
            pthread_mutex_unlock(&mutex_);
            return kDropped;
        }
        if (count_ == capacity_) {
            const int64_t until = movedAt_ + stallMs;
            if (monotonicMs() >= until) {
                pthread_mutex_unlock(&mutex_);
                return kStalled;
            }
            timespec t = monotonicAt(until);
            pthread_cond_timedwait(&cond_, &mutex_, &t);
            continue;
        }
        const size_t n = std::min(length, capacity_ - count_);
        if (count_ + n > allocated_) {
            // Grow, keeping the bytes in order from the start of the new block.
            size_t size = std::min(capacity_, std::max({allocated_ * 2, count_ + n, size_t{4096}}));
            char* grown = new char[size];
            for (size_t i = 0, p = head_; i < count_; ++i, p = p + 1 == allocated_ ? 0 : p + 1)
                grown[i] = buffer_[p];
            releaseLocked();
            buffer_ = grown;
            allocated_ = size;
            head_ = 0;
        }
        const bool wasEmpty = count_ == 0;
        if (wasEmpty)
            movedAt_ = monotonicMs();
        size_t tail = (head_ + count_) % allocated_;
        const size_t first = std::min(n, allocated_ - tail);
        std::memcpy(buffer_ + tail, data, first);
        std::memcpy(buffer_, data + first, n - first);
        count_ += n;
        data += n;
        length -= n;
        // The writer waits only on an empty queue: a wake-up for more bytes would find it busy.
        if (wasEmpty)
            pthread_cond_broadcast(&cond_);
    }
    pthread_mutex_unlock(&mutex_);
    return kAppended;
}

size_t TScpiReplyQueue::peek(char* dst, size_t max, uint64_t* generation)
{
    pthread_mutex_lock(&mutex_);
    while (count_ == 0 && !dropped_ && !closed_)
        pthread_cond_wait(&cond_, &mutex_);
    size_t n = dropped_ ? 0 : std::min(max, count_);
    const size_t first = std::min(n, allocated_ - head_);
    if (n > 0) {
        std::memcpy(dst, buffer_ + head_, first);
        std::memcpy(dst + first, buffer_, n - first);
    }
    *generation = generation_;
    pthread_mutex_unlock(&mutex_);
    return n;
}

void TScpiReplyQueue::consume(size_t count, uint64_t generation)
{
    pthread_mutex_lock(&mutex_);
    if (generation == generation_ && !dropped_) {
        // Only an appender waits for room, and only on a full queue.
        const bool wasFull = count_ == capacity_;
        count = std::min(count, count_);
        head_ = (head_ + count) % allocated_;
        count_ -= count;
        movedAt_ = monotonicMs();
        if (count_ == 0) {
            head_ = 0;
            if (allocated_ > kReplyQueueKept)
                releaseLocked();
        }
        if (wasFull)
            pthread_cond_broadcast(&cond_);
    }
    pthread_mutex_unlock(&mutex_);
}

void TScpiReplyQueue::releaseLocked()
{
    delete[] buffer_;
    buffer_ = nullptr;
    allocated_ = 0;
}

void TScpiReplyQueue::discard(bool forGood)
{
    pthread_mutex_lock(&mutex_);
    count_ = 0;
    head_ = 0;
    ++generation_;
    movedAt_ = monotonicMs();
    if (forGood) {
        dropped_ = true;
        releaseLocked();
    }
    pthread_cond_broadcast(&cond_);
    pthread_mutex_unlock(&mutex_);
}

int64_t TScpiReplyQueue::stillMs()
{
    pthread_mutex_lock(&mutex_);
    int64_t still = count_ == 0 ? 0 : monotonicMs() - movedAt_;
    pthread_mutex_unlock(&mutex_);
    return still;
}

void TScpiReplyQueue::clear()
{
    discard(false);
}

void TScpiReplyQueue::drop()
{
    discard(true);
}

void TScpiReplyQueue::close()
{
    pthread_mutex_lock(&mutex_);
    closed_ = true;
    pthread_cond_broadcast(&cond_);
    pthread_mutex_unlock(&mutex_);
}

bool TScpiReplyQueue::dropped()
{
    pthread_mutex_lock(&mutex_);
    bool d = dropped_;
    pthread_mutex_unlock(&mutex_);
    return d;
}

size_t TScpiReplyQueue::size()
{
    pthread_mutex_lock(&mutex_);
    size_t n = count_;
    pthread_mutex_unlock(&mutex_);
    return n;
}

TRingBuffer& fifoMacros_id = table().macro->queue;

int GetCharacter(unsigned char* dst)
{
    return getCharacter(dst, -1);
}

int GetCharacterTimed(unsigned char* dst, int timeoutMs)
{
    return getCharacter(dst, timeoutMs < 0 ? 0 : timeoutMs);
}

void scpiEndOfMessage()
{
    TSessionTable& t = table();
    pthread_mutex_lock(&o_g_charInFifoMutex);
    if (TScpiSession* s = t.bound) {
        // The pause ended the block: what was read of it is gone, what comes next is a new line.
        s->timedOut = false;
        s->bound = false;
        t.bound = nullptr;
        i_g_lanSocketFd = 0;
        // Only those waiting for a session to end or to be read whole are woken: a message
        // with more input behind it wakes nobody.
        if (s->ended || s->available() == 0)
            pthread_cond_broadcast(&g_releasedCond);
        reapLocked(s);
    }
    pthread_mutex_unlock(&o_g_charInFifoMutex);
}

int PutMessage(const char* buf, int32_t len)
{
    hop(kScpiHopReplyStart);
    memsbr(1, kStbMessageAvailable, 1);
    int result = -1;
    // Bound sessions are not deleted or closed: no lock needed to write to them.
    TScpiSession* s = table().bound;
    if (s && len >= 0 && !s->ended && !s->broken) {
        result = s->deliver(buf, static_cast<size_t>(len));
        if (s->broken)
            s->runPos = s->runLen;  // a dropped session's input ends here
    }
    memsbr(1, static_cast<unsigned char>(~kStbMessageAvailable), 0);
    hop(kScpiHopReplyWritten);
    return result;
}

void setScpiHopProbe(TScpiHopProbe probe)
{
    g_hopProbe.store(probe, std::memory_order_relaxed);
}

// The managers scpiRequestManagerTcp and scpiRequestManagerUsb; the kernel takes
// thread names of at most 15 characters. One manager per transport and process.
void startScpiOverTcp()
{
    static std::atomic<bool> started{false};
    if (started.exchange(true))
        return;
    pthread_t id;
    startThread(&id, scpiRequestManagerTcp, nullptr, 75, true, "scpiMgrTcp");
}

void startScpiOverUsb()
{
    static std::atomic<bool> started{false};
    if (started.exchange(true))
        return;
    pthread_t id;
    startThread(&id, scpiRequestManagerUsb, nullptr, 75, true, "scpiMgrUsb");
}

void scpiPutMacroInput(const char* data, size_t length)
{
    table().macro->putInput(data, length, kUsbChunk);
}

int scpiRetryDelayMs()
{
    return retryDelayStorage().load();
}

void setScpiRetryDelayMs(int milliseconds)
{
    retryDelayStorage() = milliseconds > 0 ? milliseconds : 1;
}

int scpiSendTimeoutMs()
{
    return sendTimeoutStorage().load();
}

void setScpiSendTimeoutMs(int milliseconds)
{
    sendTimeoutStorage() = milliseconds > 0 ? milliseconds : 1;
}

int scpiIdleTakeoverMs()
{
    return idleTakeoverStorage().load();
}

void setScpiIdleTakeoverMs(int milliseconds)
{
    idleTakeoverStorage() = milliseconds > 0 ? milliseconds : 1;
}

void setScpiListenLoopbackOnly(bool loopbackOnly)
{
    loopbackOnlyStorage() = loopbackOnly;
}

// ---------------------------------------------------------------------------------------------
// In-process session

struct TScpiMemorySession::Impl : TScpiSession {
    Impl() : TScpiSession(kOriginMemory)
    {
        ownedByTable = false;
        pthread_mutex_init(&replyMutex, nullptr);
        initMonotonicCond(&replyCond);
    }
    ~Impl() override
    {
        pthread_cond_destroy(&replyCond);
        pthread_mutex_destroy(&replyMutex);
    }
    int deliver(const char* buf, size_t len) override
    {
        pthread_mutex_lock(&replyMutex);
        if (!discard)
            replies.append(buf, len);
        received += len;
        pthread_cond_broadcast(&replyCond);
        pthread_mutex_unlock(&replyMutex);
        return 0;
    }

    pthread_mutex_t replyMutex;
    pthread_cond_t replyCond;
    std::string replies;
    size_t received = 0;
    bool discard = false;
};

TScpiMemorySession::TScpiMemorySession() : impl_(new Impl())
{
    addSession(impl_);
}

TScpiMemorySession::~TScpiMemorySession()
{
    pthread_mutex_lock(&o_g_charInFifoMutex);
    impl_->ended = true;
    pthread_cond_signal(&o_g_charInFifoCond);
    while (impl_->bound)
        pthread_cond_wait(&g_releasedCond, &o_g_charInFifoMutex);
    auto& v = table().sessions;
    v.erase(std::remove(v.begin(), v.end(), static_cast<TScpiSession*>(impl_)), v.end());
    pthread_mutex_unlock(&o_g_charInFifoMutex);
    delete impl_;
}

void TScpiMemorySession::send(const char* data, size_t length)
{
    pthread_mutex_lock(&o_g_charInFifoMutex);
    impl_->silent = false;
    pthread_mutex_unlock(&o_g_charInFifoMutex);
    impl_->putInput(data, length, kUsbChunk);
}

void TScpiMemorySession::end()
{
    pthread_mutex_lock(&o_g_charInFifoMutex);
    impl_->ended = true;
    pthread_cond_signal(&o_g_charInFifoCond);
    pthread_mutex_unlock(&o_g_charInFifoMutex);
}

void TScpiMemorySession::fallSilent()
{
    pthread_mutex_lock(&o_g_charInFifoMutex);
    impl_->silent = true;
    pthread_cond_broadcast(&o_g_charInFifoCond);
    pthread_mutex_unlock(&o_g_charInFifoMutex);
}

bool TScpiMemorySession::waitUntilRead(int timeoutMs)
{
    const timespec deadline = scpiDeadlineIn(timeoutMs);
    pthread_mutex_lock(&o_g_charInFifoMutex);
    bool done = true;
    // The read-ahead is the interpreter's while the session is bound: looked at only after.
    while (impl_->bound || impl_->available() > 0) {
        if (pthread_cond_timedwait(&g_releasedCond, &o_g_charInFifoMutex, &deadline) == ETIMEDOUT) {
            done = !impl_->bound && impl_->available() == 0;
            break;
        }
    }
    pthread_mutex_unlock(&o_g_charInFifoMutex);
    return done;
}

std::string TScpiMemorySession::replies()
{
    pthread_mutex_lock(&impl_->replyMutex);
    std::string copy = impl_->replies;
    pthread_mutex_unlock(&impl_->replyMutex);
    return copy;
}

std::string TScpiMemorySession::takeReplies()
{
    pthread_mutex_lock(&impl_->replyMutex);
    std::string copy;
    copy.swap(impl_->replies);
    pthread_mutex_unlock(&impl_->replyMutex);
    return copy;
}

size_t TScpiMemorySession::replyBytes()
{
    pthread_mutex_lock(&impl_->replyMutex);
    size_t n = impl_->received;
    pthread_mutex_unlock(&impl_->replyMutex);
    return n;
}

bool TScpiMemorySession::waitForReplies(size_t bytes, int timeoutMs)
{
    timespec deadline = scpiDeadlineIn(timeoutMs);
    pthread_mutex_lock(&impl_->replyMutex);
    bool ok = true;
    while (impl_->received < bytes) {
        if (pthread_cond_timedwait(&impl_->replyCond, &impl_->replyMutex, &deadline) == ETIMEDOUT) {
            ok = impl_->received >= bytes;
            break;
        }
    }
    pthread_mutex_unlock(&impl_->replyMutex);
    return ok;
}

void TScpiMemorySession::discardReplies(bool discard)
{
    pthread_mutex_lock(&impl_->replyMutex);
    impl_->discard = discard;
    pthread_mutex_unlock(&impl_->replyMutex);
}
