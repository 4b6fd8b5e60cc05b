// Stand-in until the setup files exist: saves nothing (19), recalls images in memory only, and
// powers off through the battery-daemon pipe.
#include "core/setup.h"
#include "core/setup_standin.h"

#include "board/board.h"
#include "core/gest_db.h"
#include "core/process.h"

#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {
struct TShared {
    std::mutex mutex;
    TSetupStandin state;
    const database* startupImage = nullptr;
};

TShared& shared()
{
    static auto* s = new TShared();
    return *s;
}
} // namespace

TSetupStandin setupStandin()
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    return shared().state;
}

void resetSetupStandin()
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().state = TSetupStandin();
    shared().startupImage = nullptr;
}

void setStartupSetupImage(const database* image)
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().startupImage = image;
}

int SetupSave(const char* name, bool inPrivate, const char*)
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().state.saveNames.push_back(name ? name : "(null)");
    shared().state.saveInPrivate.push_back(inPrivate);
    return 19;
}

int SetupRecallPostTraitement(database* image, bool, uint16_t hwChannels, int skip)
{
    {
        std::lock_guard<std::mutex> lock(shared().mutex);
        ++shared().state.recallPostCalls;
        shared().state.lastRecallHwChannels = hwChannels;
    }
    if (skip != 0)
        return skip;
    // The links live outside the record: a whole-record copy leaves them alone.
    if (image && image != &data)
        std::memcpy(&data, image, sizeof(database));
    return skip;
}

int batchRecall(uint16_t hwChannels)
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().state.batchRecallCalls.push_back(hwChannels);
    return 0;
}

int Startup(calibration*, uint16_t hwChannels)
{
    const database* image;
    {
        std::lock_guard<std::mutex> lock(shared().mutex);
        ++shared().state.startupCalls;
        shared().state.startupHwChannels = hwChannels;
        image = shared().startupImage;
    }
    if (image)
        std::memcpy(&data, image, sizeof(database));
    data.hwChannelMask = hwChannels;
    data.validChannelMask = hwChannels == 9 ? 1033 : 1039;
    return 0;
}

void Shutdown(TPowerOff)
{
    // The open waits for the battery daemon on the board; a pipe that cannot be opened still exits.
    int fd = ::open(boardPath("/var/tmp/offpipe").c_str(), O_WRONLY);
    if (fd >= 0) {
        ssize_t written = ::write(fd, "POWEROFF", 8);
        (void)written;
        ::close(fd);
    }
    endProcess(0);
}
