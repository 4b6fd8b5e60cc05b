// A prepared power-on setup for a program started on the test's root: the defaults with the
// fields a test names changed, written as <root>/media/private/setup.cfg by the core's own
// setup writer. The program always starts on the home screen; a link to the file in the batch
// directory makes the batch recall at the end of start-up apply it, its mode included. Call
// before BenchviewProcess::start; the test process's live setup is kept.
#pragma once

#include "board/board.h"
#include "core/gest_db.h"
#include "core/setup.h"

#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// 0 when written, else SetupSave's error number.
inline int writePowerOnSetup(const std::function<void(database&)>& edit)
{
    database kept;
    std::memcpy(&kept, &data, sizeof kept);
    data = init_par;
    edit(data);
    const int result = SetupSave("setup", true, "");
    std::memcpy(&data, &kept, sizeof kept);
    if (result != 0)
        return result;
    const std::string batch = boardPath(kBatchDir);
    ::mkdir(batch.c_str(), 0777);
    const std::string link = batch + "/setup.cfg";
    ::unlink(link.c_str());
    return ::symlink(boardPath(kPowerOnSetupFile).c_str(), link.c_str()) == 0 ? 0 : 19;
}

// The scope with channel 1 shown at 1 ms/div (ten periods of 1 kHz in the record).
inline void scopeOnChannel1(database& d)
{
    d.instrumentMode = 16;
    d.traceOnCh1 = 1;
    d.timeBaseIndex = 18;
    d.userTimeBase = 18;
}
