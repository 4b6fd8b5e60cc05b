// SYSTem handlers.
#include "scpi/fct.h"

#include "scpi/io.h"
#include "scpi/memdat.h"

#include <cstring>

// SYSTem:ERRor[:NEXT]? — the oldest queued error, or "0,No error".
int SystErr(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    *requestCount = 0;
    if (tstind(ind, 0, 2) != 0)
        return kErrSuffixOutOfRange;
    // A number outside the table (a handler's or deviceError's) prints as -200.
    const char* text = scpiErrorText(memerr(2, 0));
    PutMessage(text, static_cast<int32_t>(std::strlen(text)));
    return 0;
}
