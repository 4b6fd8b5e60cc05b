// Stand-in until the discovery responder exists: blocks for ever without using the processor.
#include "network/ScopeAdmin.h"

#include <unistd.h>

void* ScopeAdmin(void*)
{
    for (;;)
        pause();
    return nullptr;
}
