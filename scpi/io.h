// SCPI transports and input queues. Every connection (the USB serial gadget, up to four TCP
// clients) is a session with its own input queue; the interpreter reads one program message at
// a time from one session, and every reply written meanwhile goes back to that session.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <pthread.h>
#include <string>
#include <sys/types.h>
#include <time.h>

// Byte FIFO with its own mutex. One byte always stays free: a FIFO of n bytes holds n - 1.
class TRingBuffer {
public:
    explicit TRingBuffer(int size);
    ~TRingBuffer();
    TRingBuffer(const TRingBuffer&) = delete;
    TRingBuffer& operator=(const TRingBuffer&) = delete;

    // Stores as many of len bytes as fit; returns the number stored.
    short Put(const char* src, short len);
    // Takes up to len bytes; returns the number taken, 0 when empty.
    short Get(char* dst, short len);
    int NBytes();
    // Bytes that Put can still store.
    int free();

private:
    char* start_;
    char* end_;
    char* read_;
    char* write_;
    uint16_t size_;
    pthread_mutex_t mutex_;
};

constexpr int kScpiQueueSize = 8192;
constexpr int kScpiMaxLanSessions = 4;
constexpr int kScpiPort = 23;
// A connection in a burst waits in the kernel instead of being refused.
constexpr int kScpiListenBacklog = 16;
// Replies a session holds on their way out: more than the largest block reply fits.
constexpr size_t kScpiReplyQueueSize = 4u << 20;
// A full reply queue that has not moved for this long drops its session.
constexpr int kScpiReplyStallMs = 1000;

// The replies of one session on their way out, in order. The interpreter appends and returns
// while they fit; the session's own writer takes them at the client's pace. "Moving" means the
// writer took bytes (or bytes arrived in an empty queue).
class TScpiReplyQueue {
public:
    explicit TScpiReplyQueue(size_t capacity = kScpiReplyQueueSize);
    ~TScpiReplyQueue();
    TScpiReplyQueue(const TScpiReplyQueue&) = delete;
    TScpiReplyQueue& operator=(const TScpiReplyQueue&) = delete;

    enum Result { kAppended, kStalled, kDropped };
    // A transport write that never waits (bytes taken, or -1). When set, a reply that finds the
    // queue empty is first offered to it, so a reading client gets it without a thread hop; only
    // what it does not take is queued.
    using DirectWrite = ssize_t (*)(void* context, const char* data, size_t length);
    void setDirectWrite(DirectWrite write, void* context);
    // Appends all length bytes, waiting for room while the writer takes bytes. kStalled when the
    // queue stayed full without moving for stallMs (what was appended stays), kDropped when it
    // was dropped or closed.
    Result append(const char* data, size_t length, int stallMs);
    // Waits until bytes are queued, or the queue is dropped, or closed and empty; copies up to
    // max of the oldest into dst without taking them. 0 means: nothing will come any more.
    // *generation tells consume whether the queue was cleared in between.
    size_t peek(char* dst, size_t max, uint64_t* generation);
    // The writer handed count peeked bytes to its transport (ignored after a clear or drop).
    void consume(size_t count, uint64_t generation);
    // Milliseconds since the queue last moved; 0 while it is empty.
    int64_t stillMs();
    // Discards what is queued; the queue goes on taking replies.
    void clear();
    // Discards what is queued and refuses everything from now on.
    void drop();
    // No more replies: peek ends once the queue is empty.
    void close();
    bool dropped();
    size_t size();
    size_t capacity() const { return capacity_; }

private:
    void discard(bool forGood);
    void releaseLocked();

    const size_t capacity_;
    DirectWrite direct_ = nullptr;
    void* directContext_ = nullptr;
    char* buffer_ = nullptr;  // grown on demand up to capacity_
    size_t allocated_ = 0;
    size_t head_ = 0;
    size_t count_ = 0;
    int64_t movedAt_ = 0;
    uint64_t generation_ = 0;
    bool dropped_ = false;
    bool closed_ = false;
    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
};

// Origin of the session bound to the message being read (e_g_requestOrg).
enum : int {
    kOriginUsb = 0,
    kOriginTcp = 1,
    kOriginMacro = 2,
    kOriginMemory = 3,  // an in-process session (TScpiMemorySession)
};

// The open gadget descriptor, or 0.
extern std::atomic<int> i_g_usbFd;
// The socket of the TCP session bound to the message being read, or 0.
extern std::atomic<int> i_g_lanSocketFd;
// Running TCP sessions.
extern std::atomic<int16_t> s_g_nLanSessions;
// Origin of the bound session (kOrigin...); the last one after the message ended.
extern std::atomic<int> e_g_requestOrg;
// Input has arrived (sessions signal, the interpreter waits); also guards the session table.
extern pthread_mutex_t o_g_charInFifoMutex;
extern pthread_cond_t o_g_charInFifoCond;
// The macro input: read before every session, never replied to. Nothing in the instrument
// writes to it; write through scpiPutMacroInput so that the reader is woken.
extern TRingBuffer& fifoMacros_id;

// Results of GetCharacter / GetCharacterTimed.
enum : int {
    kGetCharOk = 0,
    kGetCharEnded = 1,     // the bound session ended and its input is used up; *dst is '\n'
    kGetCharTimedOut = 2,  // nothing from the bound session in time; *dst is '\n'
};

// One byte of the bound program message. With no message bound, binds the next input that
// holds a whole line (or is full, or ended): the macro input first, then the sessions in turn.
// Waits while there is nothing. Interpreter thread only.
// Now plus the given milliseconds on the monotonic clock, for the timed waits of the SCPI threads.
timespec scpiDeadlineIn(int milliseconds);

int GetCharacter(unsigned char* dst);
// The same with an inactivity limit: kGetCharTimedOut after timeoutMs without a byte. The
// session's message then counts as broken: once it ends, the rest of its line is discarded.
int GetCharacterTimed(unsigned char* dst, int timeoutMs);
// Ends the current program message and lets its session go; the next GetCharacter may serve
// another input. The interpreter calls it whenever it returns to its idle state.
void scpiEndOfMessage();
// Queues the whole reply for the bound session (status bit 4 set meanwhile) and returns while
// it fits; a full queue waits only while the client reads. 0 when queued (the macro input takes
// every reply without sending it), -1 when it cannot be delivered: no session, session ended or
// dropped, or its queue stalled (a TCP client is then dropped with its pending replies; the USB
// link loses its pending replies). The caller supplies the terminator "\n\r".
int PutMessage(const char* buf, int32_t len);

// Start the manager threads and return at once.
void startScpiOverTcp();
void startScpiOverUsb();

// Writes into the macro input (waits for room; never from the interpreter thread when full).
void scpiPutMacroInput(const char* data, size_t length);

// Simulation settings, read on the simulated board from BENCHVIEW_SCPI_RETRY_MS (the managers'
// retry pause, default 5000 ms), BENCHVIEW_SCPI_SEND_TIMEOUT_MS (a reply queue that has not
// moved for that long drops its client, default 10000 ms) and BENCHVIEW_SCPI_LOOPBACK_ONLY (1: listen
// on 127.0.0.1 only instead of every address). Tests may also set them in process.
int scpiRetryDelayMs();
void setScpiRetryDelayMs(int milliseconds);
int scpiSendTimeoutMs();
void setScpiSendTimeoutMs(int milliseconds);
// BENCHVIEW_SCPI_IDLE_TAKEOVER_MS (default 30000 ms): with every TCP slot taken, a session idle
// that long (no input, no reply pending) gives its place to a new client.
int scpiIdleTakeoverMs();
void setScpiIdleTakeoverMs(int milliseconds);
void setScpiListenLoopbackOnly(bool loopbackOnly);

// Hand-offs of a query on its way through, for the benchmarks' per-hop timing: a probe set here
// is called with the hop's number at each of them (interpreter and session threads). None is set
// in the program; a probe must be quick and must not block.
enum : int {
    kScpiHopInputRead = 0,  // a session's read returned input
    kScpiHopInputStored,    // the input is in the session's queue and the interpreter signalled
    kScpiHopMessageBound,   // the interpreter took the session's message
    kScpiHopReplyStart,     // a reply reached PutMessage
    kScpiHopReplyWritten,   // the reply was written or queued
    kScpiHops
};
using TScpiHopProbe = void (*)(int hop);
void setScpiHopProbe(TScpiHopProbe probe);

// The gadget device's board path.
constexpr const char* kUsbGadgetDevice = "/dev/ttyGS0";

// An in-process client: input is sent by the owner, replies are collected. Used by tests and
// benchmarks in place of a socket. Not to be destroyed from the interpreter thread.
class TScpiMemorySession {
public:
    TScpiMemorySession();
    ~TScpiMemorySession();
    TScpiMemorySession(const TScpiMemorySession&) = delete;
    TScpiMemorySession& operator=(const TScpiMemorySession&) = delete;

    // Input, split into transport-sized chunks; waits for room like a transport does.
    void send(const char* data, size_t length);
    void send(const std::string& text) { send(text.data(), text.size()); }
    // The client goes away: its input ends.
    void end();
    // The client sends nothing more until its next send, and stays: a read with a time limit
    // that finds its input empty ends at once, as if the limit had passed (no real waiting).
    void fallSilent();
    // Waits until the interpreter has read everything sent and ended the message it was in;
    // false when that takes longer than timeoutMs.
    bool waitUntilRead(int timeoutMs);

    // Replies received so far; take clears them.
    std::string replies();
    std::string takeReplies();
    size_t replyBytes();
    // Waits until at least bytes reply bytes arrived; false on time-out.
    bool waitForReplies(size_t bytes, int timeoutMs);
    // Replies are counted but not kept (benchmarks).
    void discardReplies(bool discard);

    struct Impl;

private:
    Impl* impl_;
};
