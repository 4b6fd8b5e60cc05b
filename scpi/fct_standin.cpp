// Handlers of commands that are not built yet. Each answers like a header without a handler:
// 10 (-113 "Undefined header"), and posts nothing.
#include "scpi/fct.h"

#include "scpi/memdat.h"

namespace {
int notBuilt(int16_t* requestCount)
{
    *requestCount = 0;
    return kErrUndefinedHeader;
}
} // namespace

#define NOT_BUILT(name) \
    int name(indic*, char*, pipe_dial*, int16_t* requestCount) { return notBuilt(requestCount); }

NOT_BUILT(ZcCalAcqs)
NOT_BUILT(ZcCalBw)
NOT_BUILT(ZcCalCat)
NOT_BUILT(ZcCalCdc)
NOT_BUILT(ZcCalCorTemp)
NOT_BUILT(ZcCalDmm)
NOT_BUILT(ZcCalFlash)
NOT_BUILT(ZcCalIGamme)
NOT_BUILT(ZcCalIdent)
NOT_BUILT(ZcCalInit)
NOT_BUILT(ZcCalList)
NOT_BUILT(ZcCalLvl)
NOT_BUILT(ZcCalMat)
NOT_BUILT(ZcCalPip)
NOT_BUILT(ZcCalSnum)
NOT_BUILT(ZcCalTst)
NOT_BUILT(ZcCalVn)
NOT_BUILT(ZcCalVos)
NOT_BUILT(ZcCalVp)
NOT_BUILT(ZcHttp)
