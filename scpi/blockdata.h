// Arrays of bytes in the data formats of FORMat: written to the client as text values or as one
// definite-length block, and read from it. Interpreter thread only.
#pragma once

#include <cstdint>

// Internal error numbers of the block transfers.
enum : int {
    kErrInvalidFormat = 28,  // -232
};

// Inactivity limit of an incoming block, in milliseconds: BENCHVIEW_SCPI_BLOCK_TIMEOUT_MS on the
// simulated board (read once), 10 s otherwise. Tests and fuzzing may set it in process.
int scpiBlockTimeoutMs();
void setScpiBlockTimeoutMs(int milliseconds);

// Format 3 (INTeger): writes "#<digits><length>" with one PutMessage and returns its result.
// Any other format: writes nothing, returns 0.
int entete_INT(char format, int length);

// Writes the array in the format (0 ASCii, 1 HEXadecimal, 2 BINary, 3 INTeger raw bytes), then
// the trailer when not null. Text goes out in chunks of about 1180 characters, each value
// followed by ","; the thread then yields once. Returns length, or -1 when a write failed (the
// trailer is then not sent).
long putParameterValue(char format, const unsigned char* data, long length, const char* trailer);

// Reads count values of an incoming array into data. Formats 0..2: first is the first value
// (decoded by the caller), count - 1 more are read, each ended by ",", CR or LF; format 3: count
// raw bytes. *got (when given) receives the number of values stored. Returns 0, 28 at a value in
// the wrong form (the values before it are stored), 36 when the client sent nothing for the
// inactivity limit, 22 when its input ended.
int getParameterValue(char format, char* data, long count, short* got, unsigned char first);

// Reads and discards exactly count bytes of the input (a refused block): 0, 36 or 22 as above.
int blockDrain(long count);
