// PASSFAIL handlers: the scope's mask test. Every header level carries suffix 1; the settings
// can be changed only while the test is on.
#include "scpi/fct.h"

#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "core/gest_db.h"
#include "core/utilities.h"
#include "hardware/CmdesBase.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "scpi/mmem.h"
#include "scpi/params.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kHomeScreen = 0x8000;
constexpr double kMaskMax = 200.0;

// The mask-file paths handed to the controller by address: valid while the interpreter waits.
char s_loadPath[kScpiPathSize];
char s_savePath[kScpiPathSize];

int32_t readParam(int number)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(number));
}

bool hasValue(const indic* ind)
{
    return ind->paramCount >= 1;
}

int start(indic* ind, int16_t* requestCount)
{
    return handlerStart(ind, requestCount, static_cast<short>(ind->count - 1));
}

// The suffixes, then the test must be on.
int startGated(indic* ind, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    return data.passFailOn != 0 ? 0 : kErrSettingsConflict;
}

int booleanCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int code)
{
    if (int r = startGated(ind, requestCount))
        return r;
    if (ind->query)
        return replyText(readParam(code) != 0 ? "1" : "0"), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, code, paramBool(area, 0) != 0 ? 1 : 0);
    return 0;
}

// XMASK / YMASK: a tolerance of 0 to 2 divisions in hundredths.
int maskCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int code)
{
    if (int r = startGated(ind, requestCount))
        return r;
    if (ind->query)
        return replyFormat("%.2f\n\r", readParam(code) / 100.0), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    const double x = paramSpecial(area, 0) == kSpecialNone ? paramFloat(area, 0) * 100.0 : 0.0;
    if (!(x >= 0.0 && x <= kMaskMax))
        return kErrDataOutOfRange;
    addSetting(requests, requestCount, code, static_cast<int32_t>(std::trunc(x)));
    return 0;
}

// The count up to " / " (the total follows it).
int countQuery(indic* ind, int16_t* requestCount, int16_t type)
{
    if (int r = start(ind, requestCount))
        return r;
    const std::string text = TAcquisition::passFailCounter.get(type);
    return replyText(text.substr(0, text.find(" / ")).c_str()), 0;
}

// The mask file of LOAD and SAVE: the medium's root, the current directory, then the name. A
// leading "/" only separates, so the file stays on the medium.
int maskPath(const indic* ind, const char* area, TScpiPathUse use, char* out)
{
    const char* name = paramText(area, 0);
    while (*name == '/')
        ++name;
    const int32_t medium = ind->paramCount > 1 ? paramIndex(area, 1) : defaultFileSystem;
    return scpiResolvePath(name, medium, false, use, out);
}

bool oneOrTwo(const indic* ind)
{
    return ind->paramCount == 1 || ind->paramCount == 2;
}

} // namespace

int PassfailBeep(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return booleanCommand(ind, area, requests, requestCount, param::passFailBeep);
}

// PASSFAIL:CONTrol: stop the acquisition on a fail.
int PassfailCont(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return booleanCommand(ind, area, requests, requestCount, param::passFailRunStop);
}

int PassfailCountAll(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    return countQuery(ind, requestCount, 0);
}

int PassfailCountPass(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    return countQuery(ind, requestCount, 1);
}

int PassfailCountFail(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    return countQuery(ind, requestCount, 2);
}

// PASSFAIL:DISPlay ALL | PASS | FAIL.
int PassfailDisp(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = startGated(ind, requestCount))
        return r;
    if (ind->query) {
        const int16_t shown = data.passFailDisplay;
        return replyText(shown == 1 ? "PASS" : shown == 2 ? "FAIL" : "ALL"), 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::passFailDisplay, paramIndex(area, 0));
    return 0;
}

// PASSFAIL:LOAD "name.msk"[, medium]: the controller's trace recall puts it into the mask.
int PassfailLoad(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (!oneOrTwo(ind))
        return kErrMissingParameter;
    const char* name = paramText(area, 0);
    char extension[4] = {};
    const size_t length = std::strlen(name);
    if (isFileNameOK(name, nullptr, extension) != 0 || length < 4 || name[length - 4] != '.' ||
        stricmp(extension, "msk") != 0)
        return kErrFileName;
    if (data.passFailOn == 0)
        return kErrSettingsConflict;
    char path[kScpiPathSize];
    if (int r = maskPath(ind, area, kPathRead, path))
        return r;
    struct stat st;
    if (::stat(boardPath(path).c_str(), &st) != 0)
        return kErrFileNotFound;
    std::memcpy(s_loadPath, path, kScpiPathSize);
    addRequest(requests, requestCount, REQ_FILE, fileTraceRecall, 0, reinterpret_cast<intptr_t>(s_loadPath), 0.0f);
    return 0;
}

// PASSFAIL:SAVE "name"[, medium]: the controller saves the mask trace there.
int PassfailSave(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    *requestCount = 0;
    if (data.instrumentMode == kHomeScreen)
        return kErrSettingsConflict;
    if (int r = start(ind, requestCount))
        return r;
    if (!oneOrTwo(ind))
        return kErrMissingParameter;
    if (isFileNameOK(paramText(area, 0), nullptr, nullptr) != 0)
        return kErrFileName;
    if (data.passFailOn == 0)
        return kErrSettingsConflict;
    char path[kScpiPathSize];
    if (int r = maskPath(ind, area, kPathWrite, path))
        return r;
    std::memcpy(s_savePath, path, kScpiPathSize);
    addRequest(requests, requestCount, REQ_FILE, fileMaskSave, 0, reinterpret_cast<intptr_t>(s_savePath), 0.0f);
    return 0;
}

// PASSFAIL:SOURCE INTn: table F spells each channel twice.
int PassfailSource(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = startGated(ind, requestCount))
        return r;
    if (ind->query) {
        static const char* const kTexts[4] = {"INT1", "INT2", "INT3", "INT4"};
        const int16_t source = data.passFailSource;
        return replyText(source >= 0 && source <= 3 ? kTexts[source] : ""), 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const int channel = paramIndex(area, 0) / 2;
    if (channel > 3)
        return kErrInvalidCharacterData;
    if ((channel == 1 || channel == 2) && EtatLogique(ETAT_TWO_CHANNEL_MODEL))
        return kErrSettingsConflict;
    addSetting(requests, requestCount, param::passFailSource, channel);
    return 0;
}

// PASSFAIL:STATE bool: the stop-on-fail option is cleared with every switch.
int PassfailState(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query)
        return replyText(data.passFailOn != 0 ? "1" : "0"), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::passFailRunStop, 0);
    addSetting(requests, requestCount, param::passFailOn, paramBool(area, 0) != 0 ? 1 : 0);
    return 0;
}

int PassfailXmask(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return maskCommand(ind, area, requests, requestCount, param::passFailXMask);
}

int PassfailYmask(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return maskCommand(ind, area, requests, requestCount, param::passFailYMask);
}
