// DEVice and SYSTem handlers: instrument mode, key lock, error queue, the whole setup as one
// block, network address and Wi-Fi station, real-time clock.
#include "scpi/fct.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "board/netif.h"
#include "board/systools.h"
#include "core/gest_db.h"
#include "core/root.h"
#include "core/setup.h"
#include "core/sysserv.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/mmem.h"
#include "scpi/params.h"

#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/rtc.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kSetupTransferFile = "/tmp/scpi_7up.cfg";
constexpr const char* kSetupTransferLink = "scpi_7up.cfg";  // in kBatchDir
constexpr int kHwclockWaitMs = 5000;

// Levels: SYSTem 0, COMMunicate 1, SOCKet 2, ADDRess or WIFI 3.
constexpr short kSocketLevel = 2;
constexpr short kSocketLeafLevel = 3;
const char* const kSocketInterfaces[] = {"eth0", "wifi0"};

// Every header level carries suffix 1.
int start(indic* ind, int16_t* requestCount)
{
    return handlerStart(ind, requestCount, static_cast<short>(ind->count - 1));
}

// Levels other than SOCKet carry suffix 1.
int startSocket(indic* ind, int16_t* requestCount)
{
    *requestCount = 0;
    for (short level = 0; level < ind->count; ++level)
        if (level != kSocketLevel && ind->suffix[level] != 1)
            return kErrSuffixOutOfRange;
    return 0;
}

// The clock record with the date or the time replaced, the other half from the current local
// time, handed to /dev/rtc unchecked; then the system time is taken from it.
void setClock(bool date, int32_t a, int32_t b, int32_t c)
{
    const time_t now = ::time(nullptr);
    struct tm local{};
    localtime_r(&now, &local);
    struct rtc_time record{};
    if (date) {
        record.tm_sec = local.tm_sec;
        record.tm_min = local.tm_min;
        record.tm_hour = local.tm_hour;
        record.tm_mday = c;
        record.tm_mon = b - 1;
        record.tm_year = a - 1900;
    } else {
        record.tm_sec = c;
        record.tm_min = b;
        record.tm_hour = a;
        record.tm_mday = local.tm_mday;
        record.tm_mon = local.tm_mon;
        record.tm_year = local.tm_year;
    }
    const int fd = deviceIO().open("/dev/rtc", O_RDWR);
    if (fd < 0)
        return;
    deviceIO().ioctl(fd, RTC_SET_TIME, &record);  // a refusal leaves the clock as it was
    deviceIO().close(fd);
    // Bounded: a hung tool must not hold the interpreter; it is reaped when it ends.
    runSystemTool("hwclock", {"-s"}, kHwclockWaitMs);
    // The idle check counts from the activity mark: a clock moved by months must neither keep
    // the instrument on nor switch it off at once. The mark is refreshed, never created.
    ::utimensat(AT_FDCWD, boardPath(kActivityMarkFile).c_str(), nullptr, 0);
}

int clockCommand(indic* ind, char* area, int16_t* requestCount, bool date)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query) {
        const time_t now = ::time(nullptr);
        struct tm local{};
        localtime_r(&now, &local);
        if (date)
            replyFormat("%04d,%02d,%02d\n\r", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        else
            replyFormat("%02d,%02d,%02d\n\r", local.tm_hour, local.tm_min, local.tm_sec);
        return 0;
    }
    if (ind->paramCount < 3)
        return kErrMissingParameter;
    setClock(date, paramInt(area, 0), paramInt(area, 1), paramInt(area, 2));
    return 0;
}

} // namespace

// DEVice:MODe word / DEVice:MODe?
int DevMod(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    // HOME, SCOPe, LOGger, ANALYSer, MULTimeter, BUS, EYE.
    static const uint16_t kModeWords[] = {0x8000, 16, 130, 64, 128, 17, 18};
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query) {
        const char* word;
        switch (data.instrumentMode) {
        case 17: word = "BUS"; break;
        case 18: word = "EYE"; break;
        case 64: word = "ANALYS"; break;
        case 128: word = "MULT"; break;
        case 130:
        case 256: word = "LOG"; break;
        case 0x8000: word = "HOME"; break;
        default: word = "SCOP"; break;
        }
        replyText(word);
        return 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::instrumentMode, kModeWords[paramIndex(area, 0) % 7]);
    return 0;
}

// SYSTem:KLOCK boolean / SYSTem:KLOCK?
int SystKlock(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query) {
        replyText(data.keyLock != 0 ? "1" : "0");
        return 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::keyLock, paramBool(area, 0) != 0 ? 1 : 0);
    return 0;
}

// SYSTem:ERRor[:NEXT]? — the oldest queued error, or "0,No error".
int SystErr(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    *requestCount = 0;
    if (tstind(ind, 0, 2) != 0)
        return kErrSuffixOutOfRange;
    // A number outside the table (a handler's or deviceError's) prints as -200.
    const char* text = scpiErrorText(memerr(2, 0));
    PutMessage(text, static_cast<int32_t>(std::strlen(text)));
    return 0;
}

// SYSTem:COMMunicate:SOCKet{1|2}:ADDRess "address" / ...:ADDRess?
int SystCommSockAddr(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = startSocket(ind, requestCount))
        return r;
    const int16_t socket = ind->suffix[kSocketLevel];
    if (socket != 1 && socket != 2)
        return kErrSuffixOutOfRange;
    const char* name = kSocketInterfaces[socket - 1];
    if (ind->query) {
        for (const TNetInterface& netif : networkInterfaces()) {
            if (netif.name == name && !netif.ipv4.empty()) {
                replyText(netif.ipv4.front().address.c_str());
                return 0;
            }
        }
        replyText("   .   .   .   ");
        return 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    return setIpParams(name, paramText(area, 0)) ? 0 : kErrIllegalValue;
}

// SYSTem:COMMunicate:SOCKet:WIFI "ssid","security","key"
int SystCommSockWifi(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = startSocket(ind, requestCount))
        return r;
    if (ind->suffix[kSocketLeafLevel] != 1)
        return kErrSuffixOutOfRange;
    if (ind->paramCount < 3)
        return kErrMissingParameter;
    return setWifiParams(paramText(area, 0), paramText(area, 1), paramText(area, 2)) ? 0 : kErrIllegalValue;
}

// SYSTem:DATE year,month,day / SYSTem:DATE?
int SystDate(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    return clockCommand(ind, area, requestCount, true);
}

// SYSTem:TIME hour,minute,second / SYSTem:TIME?
int SystTime(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    return clockCommand(ind, area, requestCount, false);
}

// SYSTem:SET? sends the live setup as one setup file in a block; SYSTem:SET <block> recalls one
// through the controller's batch recall. Both also on the home screen.
int SystSet(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    const bool block = !ind->query && ind->paramCount >= 1;
    const long length = block ? paramInt(area, 0) : 0;
    if (int r = start(ind, requestCount)) {
        // A refused block's bytes are read first, so none of them runs as commands.
        const int drained = block ? blockDrain(length) : 0;
        return drained != 0 ? drained : r;
    }
    if (ind->query) {
        if (SetupSave(kSetupTransferFile, false, "") != 0)
            return kErrExecution;
        const int result = file_send(kSetupTransferFile, true);
        ::unlink(boardPath(kSetupTransferFile).c_str());
        return result;
    }
    if (!block)
        return kErrMissingParameter;
    if (length != static_cast<long>(kSetupFileSize)) {
        const int drained = blockDrain(length);
        return drained != 0 ? drained : kErrDataOutOfRange;
    }
    if (int r = file_receive(kSetupTransferFile, length, true))
        return r;
    const std::string link = boardPath(kBatchDir) + "/" + kSetupTransferLink;
    ::mkdir(boardPath(kBatchDir).c_str(), 0777);
    ::unlink(link.c_str());  // an old link of a recall that never ran
    // The link holds the mapped path, which the batch recall follows as it is. A failure
    // leaves the recall nothing to read.
    (void)::symlink(boardPath(kSetupTransferFile).c_str(), link.c_str());
    addRequest(requests, requestCount, REQ_FILE, fileBatchRecall, 0, 0, 0.0f);
    return 0;
}
