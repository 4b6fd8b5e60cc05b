// Remote-client web service (thread tAPPLd_id): one UDP datagram per request, a path and a
// query ("/status?o=12"), answered with comma-terminated fields in datagrams of at most
// 50000 bytes. Handlers read keys with wsParser, reply with wsResponseSend and post settings
// to the controller with the four setters; each runs with o_g_imageMutex held.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr int kWsPort = 50010;               // before boardPort()
constexpr int kWsBufferSize = 3000;          // receive buffer
constexpr int kWsDatagramMax = 2999;         // longest request; the buffer always ends in NUL
constexpr int kWsReplyChunk = 50000;         // longest reply datagram
constexpr int kWsReplyBufferSize = 200000;   // tc_g_wsBuffer
constexpr int kWsStringMax = 49;             // SetWsStringDirect's longest text
constexpr int kWsCallbackRows = 43;
// The setters post nothing while the controller's inbox holds more records than this, so that a
// remote flood cannot crowd out keys and touches.
constexpr int kWsInboxGuard = 64;

// One request; the service reuses one record for every datagram.
struct TWsReq {
    int socket;
    sockaddr_in local;
    socklen_t localLength;
    sockaddr_in peer;
    socklen_t peerLength;
    char buffer[kWsBufferSize];
    int32_t received;  // bytes of the datagram in buffer
};

using TWsHandler = void (*)(TWsReq* req);

struct TWsCallback {
    const char* name;
    uint16_t nameLength;  // bytes compared with the start of the datagram
    TWsHandler handler;
};

extern const TWsCallback wsCallback[kWsCallbackRows];

// Reply buffer shared by the handlers (one runs at a time, on the service thread).
extern char tc_g_wsBuffer[kWsReplyBufferSize];

// Thread body; the argument is unused. wsServiceInit, then wsServiceRun until
// pelanodeInterfaceStop (the power-off of a test).
void* pelanodeInterface(void* arg);
void pelanodeInterfaceStop();
// The service's loop: a socket (retried after a pause while it cannot be had), each datagram
// served in turn; returns only once stop is set, its socket closed. The flag is looked at every
// 200 ms while serving.
void wsServiceRun(const std::atomic<bool>& stop);

// The start of the thread: status cache initial texts, request key 0, key origin drawn.
void wsServiceInit();
// A UDP socket bound to boardPort(50010) (loopback only with BENCHVIEW_WS_LOOPBACK_ONLY=1 on the
// simulated board), its address in req; -1 on failure, nothing left open.
int wsOpenSocket(TWsReq* req);

// Serves the datagram held in req: nothing for an empty one, "-1," for an over-long one (received
// beyond kWsDatagramMax) or a name in no row, else the "o" key and the first matching row's
// handler under o_g_imageMutex.
void wsServeDatagram(TWsReq* req, const TWsCallback* table, int rows);

// Position of the value of query key `name` in the datagram, or null: no "?", no such key, or
// the value would start at the end. The value runs to "&" or the end and is not decoded.
char* wsParser(TWsReq* req, const char* name);

// Sends the reply to the request's peer in datagrams of at most 50000 bytes; stops at the first
// failed send. Returns the last send's result (0 when nothing was to be sent).
ssize_t wsResponseSend(TWsReq* req, const char* bytes, int32_t length);

// Setters: 0 when the key is absent or holds no usable number, 1 when the value equals the
// current one, 2 when a request was posted (or dropped: full inbox or the flood guard), -1 when
// the instrument's mode does not take that setting (nothing posted; the handler answers "-1,").
int SetWsParamDirect(TWsReq* req, const char* key, uint16_t parameter, int32_t current);
int SetWsFloatDirect(TWsReq* req, const char* key, uint16_t parameter, double current);
int SetWsStringDirect(TWsReq* req, const char* key, uint16_t parameter, const char* current);
// value = trunc(real / scale) - offset.
int SetWsParamIndirect(TWsReq* req, const char* key, uint16_t parameter, int32_t current, double scale,
                       int32_t offset);

// Posts one whole record {kind, code, auxValue, intValue, floatValue, senderId} to the controller
// without waiting. True when it was queued; false when the flood guard held it back (over
// kWsInboxGuard records queued) or the box was full. Every post of the web service goes here.
bool wsPostRequest(uint16_t kind, int32_t code, intptr_t auxValue, intptr_t intValue, float floatValue,
                   intptr_t senderId);
// The web service's own sender (tWEBSd_id).
intptr_t wsSender();
// Posts {REQ_SET_PARAM, parameter, 0, intValue, floatValue, tWEBSd_id} through wsPostRequest.
bool wsPostSetParam(uint16_t parameter, intptr_t intValue, float floatValue);

// Key readings shared by the handlers, with the setters' rules: false when the key is absent or
// holds no usable number (no digits, not finite, outside 32 bits).
bool wsKeyInteger(TWsReq* req, const char* key, int32_t* out);
bool wsKeyReal(TWsReq* req, const char* key, double* out);
// trunc(real / scale) - offset; false as above, and for a scale of 0 or not finite or a result
// outside 32 bits.
bool wsKeyScaled(TWsReq* req, const char* key, double scale, int32_t offset, int32_t* out);
// True when the key is present and the controller would drop its setting of that parameter in
// the current mode (the recorder's stop and meter settings): a handler then answers "-1," and
// posts nothing. A value that is no number reads as 0.
bool wsSettingRefused(TWsReq* req, const char* key, uint16_t parameter);
// Selector keys that choose and post nothing: a value that is no number reads as 0. False when
// the key is absent.
bool wsKeySelector(TWsReq* req, const char* key, int32_t* out);
// The key's text up to "&" (toEnd: up to the end of the datagram), stopping at a NUL byte, into
// out (capacity bytes, terminated). The text's length, or -1 with out untouched when the key is
// absent; a text longer than capacity - 1 is cut, and *cut tells.
int wsKeyText(TWsReq* req, const char* key, char* out, int capacity, bool toEnd, bool* cut = nullptr);

// Storage for data that a post hands over by address: each post gets a slot of its own that is
// not reused before the controller has taken the record (the inbox holds at most 127 records).
// Fill next(), post, and commit() only when the post was queued. Service thread only; the
// controller may write into a slot it was given.
template <typename T, int Slots = 129>
class TWsPostRing {
    static_assert(Slots >= 129, "must outlast a full inbox");

public:
    T* next() { return &slots_[index_]; }
    void commit() { index_ = (index_ + 1) % Slots; }

private:
    T slots_[Slots]{};
    int index_ = 0;
};

struct TWsText {
    char text[kWsStringMax + 1];
};

// Reply assembly by the handlers' convention: every field followed by ","; "+" for an empty
// text; reals in the 6-digit "%g" form with a "." whatever the locale; micro written "u".
// Stops adding (and reports overflow) when the buffer is full.
class TWsReply {
public:
    TWsReply(char* buffer, int32_t capacity) : buffer_(buffer), capacity_(capacity) {}

    TWsReply& integer(int64_t value);
    TWsReply& real(double value);
    // UTF-8 text; null or empty gives "+".
    TWsReply& text(const char* utf8);
    // Bytes as they are, no separator (binary data after the head).
    TWsReply& raw(const void* bytes, int32_t length);

    const char* data() const { return buffer_; }
    int32_t size() const { return size_; }
    bool overflow() const { return overflow_; }

private:
    void put(const char* bytes, int32_t length);

    char* buffer_;
    int32_t capacity_;
    int32_t size_ = 0;
    bool overflow_ = false;
};

// "%g" (decimals >= 0: fixed notation with that many decimals) with "." in out (at least 32
// bytes); returns the length.
int wsFormatReal(double value, char* out, size_t size, int decimals = -1);
// Sends the replies "-1," (unknown or failed) and "0," (done, nothing to report).
ssize_t wsReplyFailed(TWsReq* req);
ssize_t wsReplyDone(TWsReq* req);
