// Discovery and administration responder thread (tSADMd_id): answers the administration tool's
// datagrams on UDP 50000 with the instrument's identity and network settings, and passes its
// acting commands (screen saver, power off, setup flag 6) to the controller.
#pragma once

#include "core/requests.h"

#include <atomic>
#include <cstddef>
#include <string>

// No argument. Returns once ScopeAdminStop was called.
void* ScopeAdmin(void* arg);

constexpr int kAdminPort = 50000;
constexpr size_t kAdminHeaderSize = 11;
constexpr size_t kAdminReceiveMax = 300;
constexpr int kAdminFieldCount = 20;
constexpr size_t kAdminFieldMax = 32;

// 0x01, "brovak", 0x01 0x02 0x03 0x04; the terminating zero is never sent.
extern const char scopeAdminHeader[kAdminHeaderSize + 1];

// A request that passed the header and field checks. Fields keep their bytes (zeros included).
struct TAdminRequest {
    unsigned char command = 0;
    std::string fields[kAdminFieldCount];
};

// Checks the header and splits the fields: false for a datagram that is ignored (shorter than
// 12 bytes, another header, a field over 32 bytes).
bool scopeAdminParse(const unsigned char* bytes, size_t length, TAdminRequest* request);

// The field read as a decimal integer, as strtol does (blanks and a sign accepted, no digits 0).
long scopeAdminInteger(const std::string& field);

// The answer to a parsed request, given the instrument's MAC text: false when it gets no reply
// (another addressee, an unknown command). reply receives the whole datagram; *posted is true
// when record holds a request for the controller (senderId left 0).
bool scopeAdminAnswer(const TAdminRequest& request, const std::string& mac, std::string* reply, pipe_dial* record,
                      bool* posted);

// The responder's loop; returns only once stop is set. The socket waits for at most 200 ms
// between looks at the flag.
void scopeAdminRun(const std::atomic<bool>& stop);
// Ends ScopeAdmin's loop (the power-off of a test).
void ScopeAdminStop();

// Pause before a socket that could not be set up is tried again: BENCHVIEW_ADMIN_RETRY_MS on the
// simulated board (read once), 5000 ms otherwise. Tests may set it in process.
int scopeAdminRetryMs();
void setScopeAdminRetryMs(int milliseconds);
