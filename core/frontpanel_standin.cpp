// Stand-in until the key thread exists: blocks for ever without using the processor.
#include "core/frontpanel.h"

#include <unistd.h>

void* FrontPanel(void*)
{
    for (;;)
        pause();
    return nullptr;
}
