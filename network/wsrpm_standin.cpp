// Stand-ins until the handlers exist: every request name answers "-1,", the reply for a
// request that cannot be carried out.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

void wsRpmIdent(TWsReq* req) { wsReplyFailed(req); }
void wsRpmStatus(TWsReq* req) { wsReplyFailed(req); }
void wsRpmInstrument(TWsReq* req) { wsReplyFailed(req); }
void wsRpmCwd(TWsReq* req) { wsReplyFailed(req); }
void wsRpmList(TWsReq* req) { wsReplyFailed(req); }
void wsRpmOpen(TWsReq* req) { wsReplyFailed(req); }
void wsRpmDelete(TWsReq* req) { wsReplyFailed(req); }
void wsRpmSavefile(TWsReq* req) { wsReplyFailed(req); }
void wsRpmGetfile(TWsReq* req) { wsReplyFailed(req); }
void wsRpmTracesScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmTracesCompScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmIndicsScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmIndicsFft(TWsReq* req) { wsReplyFailed(req); }
void wsRpmIndicsXy(TWsReq* req) { wsReplyFailed(req); }
void wsRpmIndicsCompScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmMeasuresScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmCommandScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmVerticalScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmMathScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmTriggerScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmHorizontalScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmPassfail(TWsReq* req) { wsReplyFailed(req); }
void wsRpmZoomScope(TWsReq* req) { wsReplyFailed(req); }
void wsRpmZoomFft(TWsReq* req) { wsReplyFailed(req); }
void wsRpmZoomXy(TWsReq* req) { wsReplyFailed(req); }
void wsRpmToolsScope(TWsReq* req) { wsReplyFailed(req); }
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
void wsRpmCalibr(TWsReq* req) { wsReplyFailed(req); }
void wsRpmCflash(TWsReq* req) { wsReplyFailed(req); }
void wsRpmScaling(TWsReq* req) { wsReplyFailed(req); }
void wsRpmPipeline(TWsReq* req) { wsReplyFailed(req); }
void wsRpmFpga(TWsReq* req) { wsReplyFailed(req); }
