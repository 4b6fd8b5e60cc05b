// The four setters through which web-service handlers turn a query value into a setting request
// for the controller. They check no range (the handlers do), only that a number was sent.
#include "network/pelanodeInterface.h"

#include "core/command_tables.h"
#include "core/gest_db.h"
#include "core/requests.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Last byte of the datagram, for values that run to its end.
const char* datagramEnd(const TWsReq* req)
{
    int32_t end = req->received;
    if (end > kWsDatagramMax)
        end = kWsDatagramMax;
    return req->buffer + (end > 0 ? end : 0);
}

// A base-10 integer in the 32-bit range; false when none was read.
bool readInteger(const char* value, int32_t* out)
{
    char* stop = nullptr;
    errno = 0;
    const long long v = std::strtoll(value, &stop, 10);
    if (stop == value || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return false;
    *out = static_cast<int32_t>(v);
    return true;
}

// A finite real; false when none was read. strtod stops at "&" and at the NUL after the datagram.
bool readReal(const char* value, double* out)
{
    char* stop = nullptr;
    const double v = std::strtod(value, &stop);
    if (stop == value || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

constexpr int kRefused = -1;

bool dropped(uint16_t parameter, int32_t value)
{
    return droppedInMode(parameter, value, data.instrumentMode);
}

int post(uint16_t parameter, int32_t value)
{
    wsPostSetParam(parameter, value, 0.0f);
    return 2;
}

} // namespace

intptr_t wsSender()
{
    return senderValue(tWEBSd_id);
}

bool wsPostRequest(uint16_t kind, int32_t code, intptr_t auxValue, intptr_t intValue, float floatValue,
                   intptr_t senderId)
{
    if (o_g_consMessageBox.count() > kWsInboxGuard)
        return false;
    pipe_dial request{kind, code, auxValue, intValue, floatValue, senderId};
    return o_g_consMessageBox.send(&request) == 0;
}

bool wsPostSetParam(uint16_t parameter, intptr_t intValue, float floatValue)
{
    return wsPostRequest(REQ_SET_PARAM, parameter, 0, intValue, floatValue, wsSender());
}

bool wsKeyInteger(TWsReq* req, const char* key, int32_t* out)
{
    const char* text = wsParser(req, key);
    return text != nullptr && readInteger(text, out);
}

bool wsKeyReal(TWsReq* req, const char* key, double* out)
{
    const char* text = wsParser(req, key);
    return text != nullptr && readReal(text, out);
}

bool wsKeyScaled(TWsReq* req, const char* key, double scale, int32_t offset, int32_t* out)
{
    double real = 0.0;
    if (!wsKeyReal(req, key, &real) || scale == 0.0 || !std::isfinite(scale))
        return false;
    const double scaled = std::trunc(real / scale);
    if (!std::isfinite(scaled) || scaled < INT32_MIN || scaled > INT32_MAX)
        return false;
    const int64_t value = static_cast<int64_t>(scaled) - offset;
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    *out = static_cast<int32_t>(value);
    return true;
}

bool wsSettingRefused(TWsReq* req, const char* key, uint16_t parameter)
{
    int32_t value = 0;
    return wsKeySelector(req, key, &value) && dropped(parameter, value);
}

bool wsKeySelector(TWsReq* req, const char* key, int32_t* out)
{
    const char* text = wsParser(req, key);
    if (text == nullptr)
        return false;
    if (!readInteger(text, out))
        *out = 0;
    return true;
}

int wsKeyText(TWsReq* req, const char* key, char* out, int capacity, bool toEnd, bool* cut)
{
    if (cut)
        *cut = false;
    const char* text = wsParser(req, key);
    if (text == nullptr || capacity <= 0)
        return -1;
    const char* end = datagramEnd(req);
    int n = 0;
    while (text + n < end && text[n] != '\0' && (toEnd || text[n] != '&')) {
        if (n >= capacity - 1) {
            if (cut)
                *cut = true;
            break;
        }
        out[n] = text[n];
        ++n;
    }
    out[n] = '\0';
    // A NUL with more of the datagram after it would cut the text short: a name checked and
    // used as the part before it. Only trailing NULs (a terminator sent along) end a text.
    if (cut && text + n < end && text[n] == '\0') {
        for (const char* p = text + n; p < end; ++p) {
            if (*p != '\0') {
                *cut = true;
                break;
            }
        }
    }
    return n;
}

int SetWsParamDirect(TWsReq* req, const char* key, uint16_t parameter, int32_t current)
{
    const char* text = wsParser(req, key);
    int32_t value = 0;
    if (text == nullptr || !readInteger(text, &value))
        return 0;
    if (value == current)
        return 1;
    if (dropped(parameter, value))
        return kRefused;
    return post(parameter, value);
}

int SetWsFloatDirect(TWsReq* req, const char* key, uint16_t parameter, double current)
{
    const char* text = wsParser(req, key);
    double real = 0.0;
    if (text == nullptr || !readReal(text, &real))
        return 0;
    const float value = static_cast<float>(real);
    if (!std::isfinite(value))
        return 0;
    if (static_cast<double>(value) == current)
        return 1;
    wsPostSetParam(parameter, 0, value);
    return 2;
}

int SetWsStringDirect(TWsReq* req, const char* key, uint16_t parameter, const char* current)
{
    const char* text = wsParser(req, key);
    if (text == nullptr)
        return 0;
    // One slot per post: the controller reads the text long after the next datagram arrived.
    static TWsPostRing<TWsText> ring;
    char value[kWsStringMax + 1] = {};
    if (*text != '+') {
        const char* end = datagramEnd(req);
        int n = 0;
        while (n < kWsStringMax && text + n < end && text[n] != '&' && text[n] != '\0')
            ++n;
        std::memcpy(value, text, static_cast<size_t>(n));
    }
    if (std::strcmp(value, current ? current : "") == 0)
        return 1;
    TWsText* slot = ring.next();
    std::memcpy(slot->text, value, sizeof slot->text);
    if (wsPostSetParam(parameter, reinterpret_cast<intptr_t>(slot->text), 0.0f))
        ring.commit();
    return 2;
}

int SetWsParamIndirect(TWsReq* req, const char* key, uint16_t parameter, int32_t current, double scale,
                       int32_t offset)
{
    int32_t value = 0;
    if (!wsKeyScaled(req, key, scale, offset, &value))
        return 0;
    if (value == current)
        return 1;
    if (dropped(parameter, value))
        return kRefused;
    return post(parameter, value);
}
