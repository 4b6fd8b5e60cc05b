#include "core/sysserv.h"

#include "board/board.h"

#include <sys/stat.h>

bool isSdcardPresent()
{
    struct stat st;
    return ::stat(boardPath("/dev/mmcblk0p1").c_str(), &st) == 0
        && ::stat(boardPath("/media/user/sdcard_p1").c_str(), &st) == 0;
}
