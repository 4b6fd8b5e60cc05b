// Stand-in until the web service exists: blocks for ever without using the processor.
#include "network/pelanodeInterface.h"

#include <unistd.h>

void* pelanodeInterface(void*)
{
    for (;;)
        pause();
    return nullptr;
}
