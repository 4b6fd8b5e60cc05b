#include "scpi/blockdata.h"

#include "board/board.h"
#include "scpi/io.h"
#include "scpi/memdat.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sched.h>

namespace {

constexpr int kDefaultBlockTimeoutMs = 10000;
// A chunk takes values while it holds at most this many characters.
constexpr int kChunkFill = 1179;
// The longest value: "#B" + 8 digits + ",".
constexpr int kLongestValue = 11;
// Bytes drained per read of a refused block.
constexpr int kDrainPiece = 1500;

std::atomic<int>& blockTimeoutStorage()
{
    static std::atomic<int>* t =
        new std::atomic<int>(boardSetting("BENCHVIEW_SCPI_BLOCK_TIMEOUT_MS", kDefaultBlockTimeoutMs, 1, 3600000));
    return *t;
}

// One character of the block: kGetCharOk, or the error that ends the transfer.
int nextChar(unsigned char* c)
{
    switch (GetCharacterTimed(c, scpiBlockTimeoutMs())) {
    case kGetCharOk:
        return 0;
    case kGetCharTimedOut:
        return kErrCommunication;
    default:
        return kErrExecution;  // the client's input ended
    }
}

// Text form of one value, with its comma; returns the characters written.
int formatValue(char format, unsigned char v, char* out)
{
    static const char kHex[] = "0123456789abcdef";
    int n = 0;
    switch (format) {
    case 1:
        out[n++] = '#';
        out[n++] = 'H';
        out[n++] = kHex[v >> 4];
        out[n++] = kHex[v & 15];
        break;
    case 2:
        out[n++] = '#';
        out[n++] = 'B';
        for (int bit = 7; bit >= 0; --bit)
            out[n++] = static_cast<char>('0' + ((v >> bit) & 1));
        break;
    default:
        if (v >= 100)
            out[n++] = static_cast<char>('0' + v / 100);
        if (v >= 10)
            out[n++] = static_cast<char>('0' + v / 10 % 10);
        out[n++] = static_cast<char>('0' + v % 10);
        break;
    }
    out[n++] = ',';
    return n;
}

int digitValue(unsigned char c, int base)
{
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// One text value: the prefix of its format, digits, and its end. 0, 28, 36 or 22. *partial is
// set when digits were read before a wrong end: that value is stored all the same.
int readValue(char format, unsigned char* value, bool* partial)
{
    *partial = false;
    unsigned char c = 0;
    if (int r = nextChar(&c))
        return r;
    const int base = format == 1 ? 16 : format == 2 ? 2 : 10;
    if (format == 1 || format == 2) {
        const char letter = format == 1 ? 'h' : 'b';
        if (c == '#') {
            if (int r = nextChar(&c))
                return r;
        }
        if ((c | 0x20) != letter)
            return kErrInvalidFormat;
        if (int r = nextChar(&c))
            return r;
    }
    // Unsigned: a long run of digits wraps instead of overflowing; the low 8 bits are kept.
    uint32_t v = 0;
    int digits = 0;
    for (int d; (d = digitValue(c, base)) >= 0; ++digits) {
        v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
        if (int r = nextChar(&c))
            return r;
    }
    *value = static_cast<unsigned char>(v);
    if (c != ',' && c != '\r' && c != '\n') {
        *partial = digits > 0;
        return kErrInvalidFormat;
    }
    return digits > 0 ? 0 : kErrInvalidFormat;
}

} // namespace

int scpiBlockTimeoutMs()
{
    return blockTimeoutStorage().load();
}

void setScpiBlockTimeoutMs(int milliseconds)
{
    blockTimeoutStorage() = milliseconds < 1 ? 1 : milliseconds;
}

int entete_INT(char format, int length)
{
    if (format != 3)
        return 0;
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%d", length < 0 ? 0 : length);
    char header[20];
    const int h = std::snprintf(header, sizeof header, "#%d%s", n, digits);
    return PutMessage(header, h);
}

long putParameterValue(char format, const unsigned char* data, long length, const char* trailer)
{
    if (length < 0)
        length = 0;
    if (format == 3) {
        if (length > 0 && PutMessage(reinterpret_cast<const char*>(data), static_cast<int32_t>(length)) < 0)
            return -1;
    } else {
        char chunk[kChunkFill + kLongestValue + 1];
        int used = 0;
        for (long i = 0; i < length; ++i) {
            used += formatValue(format, data[i], chunk + used);
            if (used > kChunkFill || i + 1 == length) {
                // No zero byte between chunks: the text reaches the client as one array.
                if (PutMessage(chunk, used) < 0)
                    return -1;
                used = 0;
            }
        }
    }
    if (trailer && *trailer && PutMessage(trailer, static_cast<int32_t>(std::strlen(trailer))) < 0)
        return -1;
    if (format != 3)
        sched_yield();
    return length;
}

int getParameterValue(char format, char* data, long count, short* got, unsigned char first)
{
    long stored = 0;
    int result = 0;
    if (format == 3) {
        for (; stored < count; ++stored) {
            unsigned char c = 0;
            if ((result = nextChar(&c)) != 0)
                break;
            data[stored] = static_cast<char>(c);
        }
    } else if (count > 0) {
        data[stored++] = static_cast<char>(first);
        for (; stored < count; ++stored) {
            unsigned char v = 0;
            bool partial = false;
            result = readValue(format, &v, &partial);
            if (partial)
                data[stored++] = static_cast<char>(v);  // the value read so far
            if (result != 0)
                break;
            data[stored] = static_cast<char>(v);
        }
    }
    if (got)
        *got = static_cast<short>(stored);
    return result;
}

int blockDrain(long count)
{
    char scratch[kDrainPiece];
    while (count > 0) {
        const long piece = count < kDrainPiece ? count : kDrainPiece;
        if (int r = getParameterValue(3, scratch, piece, nullptr, 0))
            return r;
        count -= piece;
    }
    return 0;
}
