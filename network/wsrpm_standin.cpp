// Stand-ins until the handlers exist: the factory requests answer "-1,", the reply for a request
// that cannot be carried out.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

void wsRpmCalibr(TWsReq* req) { wsReplyFailed(req); }
void wsRpmCflash(TWsReq* req) { wsReplyFailed(req); }
void wsRpmScaling(TWsReq* req) { wsReplyFailed(req); }
void wsRpmPipeline(TWsReq* req) { wsReplyFailed(req); }
void wsRpmFpga(TWsReq* req) { wsReplyFailed(req); }
