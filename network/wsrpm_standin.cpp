// Stand-ins until the handlers exist: the meter, recorder, viewer, harmonic and factory requests
// answer "-1,", the reply for a request that cannot be carried out.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

void wsRpmTracesHarmonic(TWsReq* req) { wsReplyFailed(req); }
void wsRpmMeasuresHarmonic(TWsReq* req) { wsReplyFailed(req); }
void wsRpmToolsHarmonic(TWsReq* req) { wsReplyFailed(req); }
void wsRpmMeasuresMeter(TWsReq* req) { wsReplyFailed(req); }
void wsRpmMeasuresPower(TWsReq* req) { wsReplyFailed(req); }
void wsRpmVerticalMeter(TWsReq* req) { wsReplyFailed(req); }
void wsRpmToolsMeter(TWsReq* req) { wsReplyFailed(req); }
void wsRpmIndicsCompViewer(TWsReq* req) { wsReplyFailed(req); }
void wsRpmIndicsLogger(TWsReq* req) { wsReplyFailed(req); }
void wsRpmIndicsViewer(TWsReq* req) { wsReplyFailed(req); }
void wsRpmViewerFilter(TWsReq* req) { wsReplyFailed(req); }
void wsRpmViewerEvents(TWsReq* req) { wsReplyFailed(req); }
