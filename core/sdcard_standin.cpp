// Stand-in until the SD-card watcher exists: blocks for ever without using the processor.
#include "core/sdcard.h"

#include <unistd.h>

void* sdcard_detect(void*)
{
    for (;;)
        pause();
    return nullptr;
}
