// Stand-in until the measure thread exists: drains its box for ever.
#include "acquisition/measure.h"

#include "core/requests.h"

void* measure(void*)
{
    for (;;) {
        pipe_dial request;
        o_g_measMessageBox.receive(&request, true, 0);
    }
    return nullptr;
}
