// SCPI transports and input queues. Every connection (the USB serial gadget, up to four TCP
// clients) is a session with its own input queue; the interpreter reads one program message at
// a time from one session, and every reply written meanwhile goes back to that session.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <pthread.h>
#include <string>

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
int GetCharacter(unsigned char* dst);
// The same with an inactivity limit: kGetCharTimedOut after timeoutMs without a byte. The
// session's message then counts as broken: once it ends, the rest of its line is discarded.
int GetCharacterTimed(unsigned char* dst, int timeoutMs);
// Ends the current program message and lets its session go; the next GetCharacter may serve
// another input. The interpreter calls it whenever it returns to its idle state.
void scpiEndOfMessage();
// Writes the whole reply to the bound session (status bit 4 set meanwhile). 0 when delivered
// (the macro input takes every reply without sending it), -1 when it could not be: no session,
// session ended, write failed or timed out (the session is then dropped). The caller supplies
// the terminator "\n\r".
int PutMessage(const char* buf, int32_t len);

// Start the manager threads and return at once.
void startScpiOverTcp();
void startScpiOverUsb();

// Writes into the macro input (waits for room; never from the interpreter thread when full).
void scpiPutMacroInput(const char* data, size_t length);

// Simulation settings, read on the simulated board from BENCHVIEW_SCPI_RETRY_MS (the managers'
// retry pause, default 5000 ms), BENCHVIEW_SCPI_SEND_TIMEOUT_MS (a reply that cannot be sent
// for that long drops its client, default 10000 ms) and BENCHVIEW_SCPI_LOOPBACK_ONLY (1: listen
// on 127.0.0.1 only instead of every address). Tests may also set them in process.
int scpiRetryDelayMs();
void setScpiRetryDelayMs(int milliseconds);
int scpiSendTimeoutMs();
void setScpiSendTimeoutMs(int milliseconds);
void setScpiListenLoopbackOnly(bool loopbackOnly);

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
