// Web-service requests of the factory calibration client: the FPGA pipeline registers of the four
// channels, the packed front-end registers of one channel, the calibration record, and single
// FPGA registers. Raw blocks follow "p1=" (or the "?" of the calibration requests) and are told
// by the datagram's exact length; every value on the wire is big-endian.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

#include "core/gest_db.h"
#include "hardware/calibration.h"
#include "hardware/fpga.h"
#include "hardware/feserial.h"
#include "hardware/frequencemeter.h"
#include "hardware/scaling.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// One FPGA pipeline register: read code, write code (kNotWritable: read-only), field width in
// bits (negative: Gray-coded).
struct TPipelineRegister {
    uint8_t readCode;
    uint8_t writeCode;
    int8_t width;
};
constexpr uint8_t kNotWritable = 255;
constexpr TPipelineRegister kPipeline[] = {
    {0x41, 0x41, 7},   {0x42, 0x42, 14},  {0x43, 0x43, 5},   {0x44, 0x44, -20}, {0x45, 0x45, -20},
    {0x46, 0x46, -14}, {0x47, 0x47, 5},   {0x48, 0x48, -12}, {0x49, 0x49, -14}, {0x4A, 0x4A, 6},
    {0x4B, 0x4B, -14}, {0x4C, 0x4C, 5},   {0x4E, 0x4E, 5},   {0x4F, kNotWritable, 24},
    {0x50, kNotWritable, 24}, {0x51, 0x51, -14}, {0x08, 0x09, 17}, {0x11, 0x10, 14}, {0x13, 0x12, 2},
};
constexpr int kPipelineRegisters = sizeof kPipeline / sizeof kPipeline[0];
static_assert(kPipelineRegisters == 19, "the pipeline table");
constexpr int kChannels = 4;
constexpr int kPipelineBlock = kPipelineRegisters * kChannels * 4;  // 304
constexpr int kTwoAccessWidth = 14;  // wider fields go in two halves

constexpr char kPipelineHead[] = "/pipeline?p1=";
constexpr int kPipelineWrite = sizeof kPipelineHead - 1 + kPipelineBlock;  // 317
constexpr int kScalingBlock = kScalingRegisters * 2;                        // 34
constexpr int kScalingWrite = 22 + kScalingBlock;                           // "/scaling?channel=N&p1="
constexpr int kCalibrWrite = 8 + static_cast<int>(kCalibrationSize);       // "/calibr?" and the record
constexpr int kWriteMark = 7;                                               // the "?" of a record write

constexpr unsigned short kSpiPipelineGate = 64;
constexpr uint16_t kAccess = 0x80;
constexpr uint16_t kRead = 0x100;
constexpr uint16_t kClosingCommand = 0x1E97;  // register 0x17, write, all four channels

uint16_t command(uint8_t code, int channel, bool read)
{
    return static_cast<uint16_t>(code + kAccess + (read ? kRead : 0) + (1u << (9 + channel)));
}

bool closingCommand()
{
    return feSerialAccess(0, kClosingCommand);
}

void putBig32(char* out, uint32_t v)
{
    out[0] = static_cast<char>(v >> 24);
    out[1] = static_cast<char>(v >> 16);
    out[2] = static_cast<char>(v >> 8);
    out[3] = static_cast<char>(v);
}

uint32_t big32(const char* in)
{
    const auto* b = reinterpret_cast<const unsigned char*>(in);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

int absWidth(const TPipelineRegister& r)
{
    return r.width < 0 ? -r.width : r.width;
}

// The raw block of a write: the value of p1 must start where a well-formed datagram of that
// length has it, else the keys are not where the length says they are.
const char* writeBlock(TWsReq* req, int length, int at)
{
    if (req->received != length)
        return nullptr;
    const char* value = wsParser(req, "p1");
    return value == req->buffer + at ? value : nullptr;
}

// The front-end programming holds the same lock around the same interface words.
class TScalingIOLock {
public:
    TScalingIOLock() { pthread_mutex_lock(&exclusionScalingIO); }
    ~TScalingIOLock() { pthread_mutex_unlock(&exclusionScalingIO); }
    TScalingIOLock(const TScalingIOLock&) = delete;
    TScalingIOLock& operator=(const TScalingIOLock&) = delete;
};

// Reads every entry of every channel into out (304 bytes). False at the first failed access.
bool pipelineRead(char* out)
{
    for (const TPipelineRegister& r : kPipeline) {
        for (int ch = 0; ch < kChannels; ++ch, out += 4) {
            uint32_t value = 0;
            if (r.readCode != kNotWritable) {
                if (!feSerialAccess(0, command(r.readCode, ch, true), &value))
                    return false;
                value >>= 24 - absWidth(r);
                if (r.width < 0)
                    value = GrayToBin(value);
            }
            putBig32(out, value);
        }
    }
    return true;
}

// Writes every writable entry of every channel from the block. False at the first failed access.
bool pipelineWrite(const char* block)
{
    for (int i = 0; i < kPipelineRegisters; ++i) {
        const TPipelineRegister& r = kPipeline[i];
        if (r.writeCode == kNotWritable)
            continue;
        for (int ch = 0; ch < kChannels; ++ch) {
            uint32_t d = big32(block + (i * kChannels + ch) * 4);
            if (r.width < 0)
                d = BinToGray(d);
            const uint16_t cmd = command(r.writeCode, ch, false);
            bool ok;
            if (absWidth(r) > kTwoAccessWidth)
                ok = feSerialAccess(static_cast<uint16_t>((d >> 13) & 0xFFFE), cmd)
                     && feSerialAccess(static_cast<uint16_t>((d & 0x3FFF) << 1), cmd);
            else
                ok = feSerialAccess(static_cast<uint16_t>((d << 1) & 0xFFFF), cmd);
            if (!ok)
                return false;
        }
    }
    return true;
}

// The record of a write checked and composed with the live identity into a slot of its own, and
// posted; true when the controller's calibrationWrite was queued. A rejected record touches no
// slot.
bool postCalibration(TWsReq* req)
{
    static TWsPostRing<calibration> ring;
    calibration block;
    std::memcpy(&block, req->buffer + kWriteMark + 1, sizeof block);
    calibration composed;
    if (!calibrationInstallWeb(param_calibr, block, &composed))
        return false;
    calibration* slot = ring.next();
    std::memcpy(slot, &composed, sizeof composed);
    if (!wsPostSetParam(param::calibrationWrite, reinterpret_cast<intptr_t>(slot), 0.0f))
        return false;
    ring.commit();
    return true;
}

bool recordWrite(TWsReq* req)
{
    return req->received > kWriteMark && req->buffer[kWriteMark] == '?';
}

// A decimal key up to "&" or the end of the datagram: optional "-", then digits; no digits read
// as 0. False when the value does not fit in 32 bits.
bool decimalKey(TWsReq* req, const char* value, bool allowMinus, int64_t* out)
{
    const char* end = req->buffer + req->received;
    bool minus = false;
    if (allowMinus && value < end && *value == '-') {
        minus = true;
        ++value;
    }
    uint64_t v = 0;
    for (; value < end && *value >= '0' && *value <= '9'; ++value) {
        v = v * 10 + static_cast<uint64_t>(*value - '0');
        if (v > UINT32_MAX)
            return false;
    }
    *out = minus ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
}

} // namespace

// /pipeline: read "1," and the 304-byte block; write (p1 block) "0,".
void wsRpmPipeline(TWsReq* req)
{
    const bool write = wsParser(req, "p1") != nullptr;
    const char* block = write ? writeBlock(req, kPipelineWrite, sizeof kPipelineHead - 1) : nullptr;
    if (block && std::memcmp(req->buffer, kPipelineHead, sizeof kPipelineHead - 1) != 0)
        block = nullptr;
    char* reply = tc_g_wsBuffer;
    bool ok = true;
    {
        TScalingIOLock lock;
        if (!write) {
            std::memcpy(reply, "1,", 2);
            TFpga::setSpiRegister(kSpiPipelineGate, 0);
            ok = pipelineRead(reply + 2);
        } else if (block) {
            TFpga::setSpiRegister(kSpiPipelineGate, 0);
            ok = pipelineWrite(block);
        }
        ok = closingCommand() && ok;
    }
    if (!ok)
        wsReplyFailed(req);
    else if (write)
        wsReplyDone(req);
    else
        wsResponseSend(req, reply, 2 + kPipelineBlock);
}

// /scaling?channel=N: read "1," and the channel's 17 registers; write (p1 block) "0,".
void wsRpmScaling(TWsReq* req)
{
    int32_t key = 1;
    wsKeySelector(req, "channel", &key);
    if (key < 1 || key > kScalingChannels) {
        wsReplyFailed(req);  // would index past the channel tables
        return;
    }
    const uint16_t channel = static_cast<uint16_t>(key - 1);
    if (wsParser(req, "p1") != nullptr) {
        const char* block = writeBlock(req, kScalingWrite, kScalingWrite - kScalingBlock);
        if (!block) {
            wsReplyDone(req);
            return;
        }
        TFpga::setSpiRegister(kSpiPipelineGate, 0);
        {
            TScalingIOLock lock;
            for (int r = 0; r < kScalingRegisters; ++r)
                tus_g_scalingPseudoReg[channel][r] =
                    static_cast<uint16_t>((static_cast<unsigned char>(block[2 * r]) << 8) |
                                          static_cast<unsigned char>(block[2 * r + 1]));
        }
        const bool sent = ScalingWrite(channel, to_g_scalingParams[channel], 0,
                                       SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER | SCALING_FROM_SHADOW) == 0;
        const bool closed = closingCommand();
        if (sent && closed)
            wsReplyDone(req);
        else
            wsReplyFailed(req);
        return;
    }
    TFpga::setSpiRegister(kSpiPipelineGate, 0);
    const bool read =
        ScalingRead(channel, tus_g_scalingPseudoReg[channel], 0, SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER) == 0;
    char* reply = tc_g_wsBuffer;
    std::memcpy(reply, "1,", 2);
    {
        TScalingIOLock lock;
        for (int r = 0; r < kScalingRegisters; ++r) {
            reply[2 + 2 * r] = static_cast<char>(tus_g_scalingPseudoReg[channel][r] >> 8);
            reply[3 + 2 * r] = static_cast<char>(tus_g_scalingPseudoReg[channel][r]);
        }
    }
    const bool closed = closingCommand();
    if (read && closed)
        wsResponseSend(req, reply, 2 + kScalingBlock);
    else
        wsReplyFailed(req);
}

// /calibr: read "1," and the live record; "/calibr?" and a record installs it. A wrong length or
// a bad checksum is answered "0," like a success, as the calibration client expects.
void wsRpmCalibr(TWsReq* req)
{
    if (!recordWrite(req)) {
        char* reply = tc_g_wsBuffer;
        std::memcpy(reply, "1,", 2);
        std::memcpy(reply + 2, &param_calibr, sizeof param_calibr);
        wsResponseSend(req, reply, 2 + static_cast<int32_t>(kCalibrationSize));
        return;
    }
    if (req->received == kCalibrWrite)
        postCalibration(req);
    wsReplyDone(req);
}

// /cflash?: installs the record, then saves the live record to the calibration file; the save is
// posted only when the install was, so a dropped install never saves the old record.
void wsRpmCflash(TWsReq* req)
{
    if (recordWrite(req) && req->received == kCalibrWrite && postCalibration(req))
        wsPostSetParam(param::calibrationSave, 0, 0.0f);
    wsReplyDone(req);
}

// /fpga?spi=N or ?eim=N (else SPI 0), with p1=value a write ("0,"), else a read
// ("3,spi,N,value,").
void wsRpmFpga(TWsReq* req)
{
    bool spi = true;
    const char* number = wsParser(req, "spi");
    if (!number) {
        number = wsParser(req, "eim");
        spi = number == nullptr;
    }
    int64_t id = 0;
    if (number && !decimalKey(req, number, true, &id)) {
        wsReplyFailed(req);
        return;
    }
    // The register numbers the bus can address.
    if (id < 0 || id > (spi ? 127 : 0xFFFF)) {
        wsReplyFailed(req);
        return;
    }
    const auto reg = static_cast<unsigned short>(id);
    if (const char* text = wsParser(req, "p1")) {
        int64_t value = 0;
        if (!decimalKey(req, text, false, &value)) {
            wsReplyFailed(req);
            return;
        }
        const int r = spi ? TFpga::setSpiRegister(reg, static_cast<uint32_t>(value))
                          : TFpga::setEimRegister(reg, static_cast<uint32_t>(value));
        if (r < 0)
            wsReplyFailed(req);
        else
            wsReplyDone(req);
        return;
    }
    const uint32_t value = spi ? TFpga::getSpiRegister(reg) : TFpga::getEimRegister(reg);
    const int n = std::snprintf(tc_g_wsBuffer, kWsReplyBufferSize, "3,%s,%d,%u,", spi ? "spi" : "eim",
                                static_cast<int16_t>(reg), value);
    wsResponseSend(req, tc_g_wsBuffer, n);
}
