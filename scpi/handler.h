// Small helpers that every command handler uses, so that all of them check suffixes, build
// requests, treat numeric keywords and write replies the same way.
#pragma once

#include "core/requests.h"
#include "scpi/header.h"

#include <cstdint>

// Starts a handler: request count := 0, then the levels 0..lastLevel must all carry suffix 1.
// 0, or kErrSuffixOutOfRange (-114) when one of them does not.
int handlerStart(indic* ind, int16_t* requestCount, short lastLevel);

// Fills one request record; senderId stays 0 (the interpreter sets it when posting).
void fillRequest(pipe_dial* request, uint16_t kind, int32_t code, intptr_t auxValue, intptr_t intValue,
                 float floatValue);
// Appends a request record at requests[*requestCount] and counts it. Callers post at most
// kScpiMaxRequests records.
void addRequest(pipe_dial* requests, int16_t* requestCount, uint16_t kind, int32_t code, intptr_t auxValue,
                intptr_t intValue, float floatValue);
// Appends the usual setting: kind 1 (REQ_SET_PARAM), code, auxValue 0, intValue value, floatValue 0.
void addSetting(pipe_dial* requests, int16_t* requestCount, int32_t code, intptr_t value);

// The last step of a handler that sets: 0 when the current mode takes every setting the unit
// holds, kErrSettingsConflict (-221) when the controller would drop one of them there (the
// recorder keeps running and keeps its meter settings); the request count is then 0 and nothing
// is posted, so a client is never told that a setting was made when it was not.
int settingsTakenInMode(const pipe_dial* requests, int16_t* requestCount);

// Resolves a numeric parameter against the range low..high.
// special kSpecialNone: number must lie in low..high (NaN never does), else kErrDataOutOfRange;
//   *out := number truncated toward zero (callers pass the already converted value).
// MINimum: low. MAXimum: high. UP / DOWN: current +/- step, kErrDataOutOfRange outside the range.
// DEFault, INFinity: kErrQuery. *out is written only on success (result 0).
int numericParam(int32_t special, double number, int32_t current, int32_t low, int32_t high, int32_t step,
                 int32_t* out);
// The same for an integer parameter (letters b, l) in record i of the area.
int numericParam(const char* area, int i, int32_t current, int32_t low, int32_t high, int32_t step,
                 int32_t* out);

// Errors of the handlers that the syntax layers do not name.
enum : int {
    kErrInitIgnored = 23,        // -213
    kErrSettingsConflict = 24,   // -221
    kErrDataOutOfRange = 25,     // -222
};

// Writes text followed by "\n\r" to the bound session with one PutMessage. Result of PutMessage.
int replyText(const char* text);
// Writes the integer in decimal followed by "\n\r".
int replyInt(int32_t value);
// printf-style reply; the format carries its own terminator (e.g. "%.2e\n\r"). At most 127
// characters; a longer text is cut but keeps "\n\r" at its end.
int replyFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
