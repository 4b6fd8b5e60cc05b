// What the scope requests of the web service share: the channels' links and fields by index,
// the source-to-channel rule and the text form of values sent to the remote client.
#pragma once

#include "core/gest_db.h"
#include "network/pelanodeInterface.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <string>

class TAcquisition;
struct TWsReq;

// Live trace of channel 0..3 (null when the link is missing or the index is outside).
TAcquisition* wsLiveTrace(int channel);
// Colour of channel 0..3.
int16_t wsChannelColour(int channel);
// A source value (trigSource, qualifSource, xySourceX/Y): 1, 2, 3 select channels 2, 3, 4 (index
// 1..3), any other value channel 1 (index 0).
int wsSourceChannel(int32_t source);
// A reference value (measRefChannel): 2, 4, 8 select channels 2, 3, 4, any other channel 1.
int wsReferenceChannel(int32_t reference);
// Channels shown: bits 0-3 of channelFlags OR its bits 8-11 (a memory trace in the channel's place).
uint16_t wsVisibleChannels();
// UTF-8 with the micro sign written "u" and both ohm signs "{", as the remote client reads them.
std::string wsClientText(QString text);

// Truncation toward zero into 32 bits; false for a value that has none.
bool wsTruncate(double value, int32_t* out);

// One conversion between the client's view units and a stored value: a request value v becomes
// int(v / scale) - offset, a stored value x is reported as int((x + offset) x scale). Unusable
// when the setup's zoom gives no finite, non-zero scale: its keys count as absent, its reports 0.
struct TWsConversion {
    double scale = 0.0;
    int64_t offset = 0;
    bool usable = false;

    TWsConversion() = default;
    TWsConversion(double s, double o)
    {
        int32_t whole = 0;
        usable = std::isfinite(s) && s != 0.0 && wsTruncate(o, &whole);
        scale = s;
        offset = whole;
    }
    TWsConversion shifted(int64_t by) const
    {
        TWsConversion c = *this;
        c.offset += by;
        c.usable = usable && c.offset >= INT32_MIN && c.offset <= INT32_MAX;
        return c;
    }
    int set(TWsReq* req, const char* key, int parameter, int32_t current) const
    {
        if (!usable)
            return 0;
        return SetWsParamIndirect(req, key, static_cast<uint16_t>(parameter), current, scale,
                                  static_cast<int32_t>(offset));
    }
    int64_t report(int64_t stored) const
    {
        int32_t value = 0;
        if (!usable || !wsTruncate((static_cast<double>(stored) + static_cast<double>(offset)) * scale, &value))
            return 0;
        return value;
    }
};

// The zoom width of an overview pane, key widthKey in 25ths of the record: posted as hundredths
// (int(value x 4)) when it differs from int(zoomWidth x 100), with the window position that
// positionKey (hundredths) sets in the same request, else the current one. The setter result.
int wsSetZoomWidth(TWsReq* req, const char* widthKey, const char* positionKey);
