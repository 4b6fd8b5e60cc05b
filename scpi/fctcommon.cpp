// IEEE 488.2 common commands and run control (ABORt, AUTOSet:EXECute, INITiate).
#include "scpi/fct.h"

#include "board/board.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "core/sysserv.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "scpi/params.h"
#include "scpi/scpi.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Trigger types of table B that a remote INITiate may select; TV, RECorder and CAPTure (4..6)
// are accepted without effect.
constexpr uint16_t kLastSettableTrigType = 3;

// The low 8 bits of an enable-mask parameter; a numeric keyword stands for 0.
unsigned char maskParam(const char* area)
{
    if (paramSpecial(area, 0) != kSpecialNone)
        return 0;
    return static_cast<unsigned char>(paramInt(area, 0) & 0xFF);
}

} // namespace

// *CLS: clears the event register, the status byte and the error queue. The enable masks stay
// (op 0 would reset them to 255). Then it clears deviceError itself and waits for the release.
int Cls(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    memesr(1, 0, 0);
    memsbr(1, 0, 0);
    memerr(0, 0);
    pipe_dial clear;
    fillRequest(&clear, REQ_SET_PARAM, param::deviceError, 0, 0, 0.0f);
    return scpi_SemV(&clear) ? 0 : kErrDeviceSpecific;
}

// *ESE n / *ESE?
int Ese(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    if (ind->query) {
        replyInt(memesr(6, 0, 0));
        return 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    memesr(5, 0, maskParam(area));
    return 0;
}

// *ESR?: reading clears the register.
int Esr(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    replyInt(memesr(2, 0, 0));
    return 0;
}

// *IDN?: model, version, calibration text and serial, each field read within its width.
int Idn(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    char text[kIdentificationSize];
    GetIdentification(text, true);
    replyText(text);
    return 0;
}

// *OPC / *OPC?: the interpreter acts once the unit's requests are released.
int Opc(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    ind->postAction = ind->query ? 12 : 11;
    return 0;
}

// *RST: status reset, then the controller's batch recall of the default setup, asked for by the
// marker file. The recall happens when the controller takes the record, not here.
int Rst(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    meminit();
    const std::string dir = boardPath(kBatchDir) + "/";
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        ::mkdir(dir.c_str(), 0777);
    // Failures are not reported: the recall then simply finds no marker.
    const int fd = ::creat((dir + "defaultSetup").c_str(), 0777);
    if (fd >= 0)
        ::close(fd);
    addRequest(requests, requestCount, REQ_FILE, fileBatchRecall, 0, 0, 0.0f);
    return 0;
}

// *SRE n / *SRE?
int Sre(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    if (ind->query) {
        replyInt(memsbr(6, 0, 0));
        return 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    memsbr(5, 0, maskParam(area));
    return 0;
}

// *STB?: read, not cleared.
int Stb(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    replyInt(memsbr(2, 0, 0));
    return 0;
}

// *TRG: starts an acquisition, unless a single shot is already armed and running.
int Trg(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    if (data.trigMode == 2 && data.acqRunStop == 0)
        return kErrInitIgnored;
    addSetting(requests, requestCount, param::acqRunStop, 0);
    return 0;
}

// *TST?: "0" when every self test passed.
int Tst(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    replyText((data.selfTestResult & 0xFF) == 0xFF ? "0" : "1");
    return 0;
}

// *WAI: an empty record queued behind everything posted before; its release means they are done.
int Wai(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    addRequest(requests, requestCount, 0, 0, 0, 0, 0.0f);
    ind->postAction = 10;
    return 0;
}

// ABORt: abandons the acquisition in progress; re-arms except in single mode.
int Abor(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 0))
        return e;
    if (data.acqRunStop == 1)
        return 0;
    addSetting(requests, requestCount, param::acqRunStop, 1);
    if (data.trigMode != 2)
        addSetting(requests, requestCount, param::acqRunStop, 0);
    return settingsTakenInMode(requests, requestCount);
}

// AUTOSet:EXECute: scope modes only; the FFT display has its own autoset.
int AutosExe(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 1))
        return e;
    if (!(data.instrumentMode & 0x10))
        return kErrSettingsConflict;
    addSetting(requests, requestCount, param::autosetRequest, data.traceFormat == 1 ? 9 : 0);
    return 0;
}

// INITiate:CONTinuous:NAME type,state: triggered mode, running (ON) or stopped (OFF).
int InitContName(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 2))
        return e;
    if (ind->paramCount < 2)
        return kErrMissingParameter;
    const uint16_t type = paramIndex(area, 0);
    if (type > kLastSettableTrigType)
        return 0;
    addSetting(requests, requestCount, param::trigType, type);
    addSetting(requests, requestCount, param::trigMode, 1);
    addSetting(requests, requestCount, param::acqRunStop, paramBool(area, 1) ? 0 : 1);
    return settingsTakenInMode(requests, requestCount);
}

// INITiate[:IMMediate]:NAME type: one single shot.
int InitName(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int e = handlerStart(ind, requestCount, 2))
        return e;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    const uint16_t type = paramIndex(area, 0);
    if (type > kLastSettableTrigType)
        return 0;
    addSetting(requests, requestCount, param::trigType, type);
    addSetting(requests, requestCount, param::trigMode, 2);
    addSetting(requests, requestCount, param::acqRunStop, 0);
    return 0;
}
