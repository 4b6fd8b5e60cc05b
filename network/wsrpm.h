// The 43 web-service request handlers, one per row of wsCallback. Each sends its own reply.
#pragma once

#include <cstdint>

struct TWsReq;

// The reply of "/tracesScope" (compressed: "/tracesCompScope") built in tc_g_wsBuffer: its length,
// or -1 without the "channels" key.
int32_t wsTracesReply(TWsReq* req, bool compressed);

void wsRpmIdent(TWsReq* req);
void wsRpmStatus(TWsReq* req);
void wsRpmInstrument(TWsReq* req);
void wsRpmCwd(TWsReq* req);
void wsRpmList(TWsReq* req);
void wsRpmOpen(TWsReq* req);
void wsRpmDelete(TWsReq* req);
void wsRpmSavefile(TWsReq* req);
void wsRpmGetfile(TWsReq* req);
void wsRpmTracesScope(TWsReq* req);
void wsRpmTracesCompScope(TWsReq* req);
void wsRpmIndicsScope(TWsReq* req);
void wsRpmIndicsFft(TWsReq* req);
void wsRpmIndicsXy(TWsReq* req);
void wsRpmIndicsCompScope(TWsReq* req);
void wsRpmMeasuresScope(TWsReq* req);
void wsRpmCommandScope(TWsReq* req);
void wsRpmVerticalScope(TWsReq* req);
void wsRpmMathScope(TWsReq* req);
void wsRpmTriggerScope(TWsReq* req);
void wsRpmHorizontalScope(TWsReq* req);
void wsRpmPassfail(TWsReq* req);
void wsRpmZoomScope(TWsReq* req);
void wsRpmZoomFft(TWsReq* req);
void wsRpmZoomXy(TWsReq* req);
void wsRpmToolsScope(TWsReq* req);
void wsRpmTracesHarmonic(TWsReq* req);
void wsRpmMeasuresHarmonic(TWsReq* req);
void wsRpmToolsHarmonic(TWsReq* req);
void wsRpmMeasuresMeter(TWsReq* req);
void wsRpmMeasuresPower(TWsReq* req);
void wsRpmVerticalMeter(TWsReq* req);
void wsRpmToolsMeter(TWsReq* req);
void wsRpmIndicsCompViewer(TWsReq* req);
void wsRpmIndicsLogger(TWsReq* req);
void wsRpmIndicsViewer(TWsReq* req);
void wsRpmViewerFilter(TWsReq* req);
void wsRpmViewerEvents(TWsReq* req);
void wsRpmCalibr(TWsReq* req);
void wsRpmCflash(TWsReq* req);
void wsRpmScaling(TWsReq* req);
void wsRpmPipeline(TWsReq* req);
void wsRpmFpga(TWsReq* req);
