// What the scope requests of the web service share: the channels' links and fields by index,
// the source-to-channel rule and the text form of values sent to the remote client.
#pragma once

#include "core/gest_db.h"

#include <QString>

#include <cstdint>
#include <string>

class TAcquisition;

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
