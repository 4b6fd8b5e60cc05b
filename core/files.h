// Trace, mask, function, harmonic and recorder files. db is always the live setup.
#pragma once

#include <cstdint>

struct database;

int TraceSaveAll(database* db, const char* name, const char* comment);
int PassFailMaskSave(database* db, const char* name, const char* comment);
int FunctionSaveAll(database* db, const char* name, const char* comment);
// name is never null.
int HarmonicSaveAll(database* db, const char* name, const char* comment);
int TraceRecallAll(database* db, const char* path);
int FunctionRecallAll(database* db, const char* path);
int LoggerRecallAll(database* db, const char* path);

// What the recall of a recording replaces in the live setup: the channels shown and their meter
// settings. The controller keeps them at the first recall and gives them back when the viewer is
// left, so that the recorder and the meter find their channels again.
struct TLiveChannels {
    int16_t meterFunction;
    uint8_t traceOn[4];
    int16_t meterRange[4];
    int16_t meterCoupling[4];
    float probeCoeff[4];
    char unit[4][4];
};
TLiveChannels LiveChannelsOf(const database& db);

// The samples of the recalled recording: from its first valid sample to the one after its last,
// over every stream (first == end: nothing valid).
struct TRecordedExtent {
    uint32_t first;
    uint32_t end;
};
TRecordedExtent RecordedExtent();
// The samples the viewer's compressed strip spans: the recalled recording from its first (even)
// sample, so that a short recording fills the strip; the whole record (0, 100000) while none is
// open. Set by the controller at a recall and when the viewer is left, read by the screens.
struct TViewerSpan {
    uint32_t start;
    uint32_t samples;  // at least 1
};
TViewerSpan ViewerSpan();
// extent.end <= extent.first gives the whole record.
void SetViewerSpan(TRecordedExtent extent);
void RestoreLiveChannels(const TLiveChannels& kept, database* db);
