// Stand-in until the bus-analysis engine exists: drains its box for ever.
#include "busanalysis/busAnalysisCore.h"

#include "core/requests.h"

void* busAnalysisCore(void*)
{
    for (;;) {
        pipe_dial request;
        o_g_busMessageBox.receive(&request, true, 0);
    }
    return nullptr;
}
