// Remote-control status of IEEE 488.2: error queue, standard event status register, status byte
// and the data-transfer settings shared by the FORMat and TRACe handlers.
// Owned by the interpreter thread: no lock. No other thread may call these functions.
#pragma once

#include <cstdint>

// Internal error numbers (0..37) index this table; each text ends with "\n\r".
constexpr int kScpiErrorCount = 38;
extern const char* const MessageErreur[kScpiErrorCount];

// Internal error numbers used by the syntax layers.
enum : int {
    kErrNone = 0,
    kErrInvalidCharacter = 2,      // -101
    kErrInvalidSeparator = 4,      // -103
    kErrDataType = 5,              // -104
    kErrParameterNotAllowed = 6,   // -108
    kErrMissingParameter = 7,      // -109
    kErrHeaderSeparator = 8,       // -111
    kErrMnemonicTooLong = 9,       // -112
    kErrUndefinedHeader = 10,      // -113
    kErrSuffixOutOfRange = 11,     // -114
    kErrInvalidNumber = 12,        // -121
    kErrNumericNotAllowed = 13,    // -128
    kErrInvalidSuffix = 14,        // -131
    kErrSuffixNotAllowed = 15,     // -138
    kErrInvalidCharacterData = 16, // -141
    kErrInvalidString = 18,        // -151
    kErrStringTooLong = 19,        // -154
    kErrExecution = 22,            // -200
    kErrIllegalValue = 26,         // -224
    kErrDeviceSpecific = 33,       // -300
    kErrQueueOverflow = 35,        // -350
    kErrCommunication = 36,        // -360
    kErrQuery = 37,                // -400
};

// Status byte and event register bits.
enum : unsigned char {
    kStbMessageAvailable = 16,
    kStbEventSummary = 32,
    kStbRequestService = 64,
    kEsrOperationComplete = 1,
    kEsrQueryError = 4,
    kEsrDeviceError = 8,
    kEsrExecutionError = 16,
    kEsrCommandError = 32,
    kEsrPowerOn = 128,
};

// op 1: queue value; op 2: take the oldest (0 when empty); any other op: empty the queue.
int memerr(char op, int value);
// Queue n and set its event bit: 1..21 command, 22..32 execution, 33..36 device, 37 query.
void error(int n);
// op 0 reset (mask 255, register 0); op 1 set (set != 0: OR bits) or clear (set 0: AND bits);
// op 5 set the mask; op 6 read the mask; other: read and clear. Status bit 5 follows.
unsigned char memesr(char op, unsigned char bits, unsigned char set);
// op 0 reset; op 1 set/clear as above; op 5 set the mask; op 6 read the mask; other: read.
// After every op but 0, bit 6 is set when (mask AND byte AND 0xBF) is not 0.
unsigned char memsbr(char op, unsigned char bits, unsigned char set);
// Empties the queue, resets both registers (masks 255) and the data-transfer settings.
void meminit();

// op 1 stores value; any other op reads.
unsigned char memform(char op, unsigned char value);
unsigned char memdint(char op, unsigned char value);
// op 0 stores the default (0, 99999, 1), op 1 stores value, any other op reads.
uint32_t memabsc1(char op, uint32_t value);
uint32_t memabsc2(char op, uint32_t value);
uint32_t mempas(char op, uint32_t value);

// The error text of an internal number; numbers outside the table read as 22 (-200).
const char* scpiErrorText(int n);
