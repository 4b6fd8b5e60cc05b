// SD-card watcher thread (tSDCARD_id): tells the controller when the card comes or goes.
#pragma once

#include <cstddef>

// The argument is not used. Posts one screen request (code 6) per kernel event of the card's
// first partition; returns only when its event socket cannot be made or fails, or at
// sdcardDetectEnd.
void* sdcard_detect(void* arg);
// Ends every running watcher as a power-off does (a test's tear-down; the program never calls
// it): its socket shut, the thread gone. False when one had not left after timeoutMs.
bool sdcardDetectEnd(int timeoutMs = 5000);

// True when the first line of a kernel event (up to its first NUL, within length) names the
// card's first partition "mmcblk0p1".
bool isSdPartitionEvent(const char* message, size_t length);
