// SD-card watcher thread (tSDCARD_id): tells the controller when the card comes or goes.
#pragma once

// The argument is not used. Returns only when its event socket fails.
void* sdcard_detect(void* arg);
