// Stand-in until the HTTP server exists: blocks for ever without using the processor.
#include "network/ScopeHttpd.h"

#include <unistd.h>

void* ScopeHttpd(void*)
{
    for (;;)
        pause();
    return nullptr;
}
