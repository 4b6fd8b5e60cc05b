#include "fuzz/support.h"

#include "board/board.h"
#include "board/sim/simboard.h"
#include "core/calibfile.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/setup.h"
#include "hardware/calibration.h"
#include "scpi/scpi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string& workRoot()
{
    static auto* root = new std::string();
    return *root;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

void removeWorkRoot()
{
    if (!workRoot().empty())
        nftw(workRoot().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

void fuzzSimulatedBoard()
{
    if (!workRoot().empty())
        return;
    // BENCHVIEW_FUZZ_WORK_DIR may move the roots to a file system in memory (the fuzz script
    // does): a disk stalled by other work would otherwise show up as a hang of the input.
    const char* chosen = std::getenv("BENCHVIEW_FUZZ_WORK_DIR");
    const std::string work = chosen && *chosen ? chosen : BV_FUZZ_WORK_DIR;
    ::mkdir(work.c_str(), 0755);
    std::string templ = work + "/root-XXXXXX";
    if (!mkdtemp(&templ[0]) || !setBoardRoot(templ))
        fuzzFailure("cannot make the simulated-board root " + templ);
    workRoot() = boardRoot();
    std::atexit(removeWorkRoot);
    registerCalibrationSeed();
    seedBoardRoot();
    std::memcpy(&data, &init_par, sizeof data);
}

void fuzzInstallSimulatedBoard()
{
    if (simboard::installed())
        return;
    fuzzSimulatedBoard();
    simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
    std::string error;
    if (!simboard::install(&error))
        fuzzFailure("cannot install the simulated board: " + error);
}

void fuzzWriteBoardFile(const char* boardAbsolutePath, const uint8_t* bytes, size_t size)
{
    const std::string path = boardPath(boardAbsolutePath);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fuzzFailure("cannot write " + path);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n <= 0)
            fuzzFailure("cannot write " + path);
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

void fuzzFailure(const std::string& what)
{
    std::fprintf(stderr, "fuzz target failure: %s\n", what.c_str());
    std::abort();
}

int fuzzMemoryFile(const uint8_t* bytes, size_t size)
{
    const int fd = memfd_create("fuzz", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes, size) != static_cast<ssize_t>(size))
        fuzzFailure("cannot make an in-memory file");
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

void fuzzStartup()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    fuzzSimulatedBoard();
    static calibration calib;
    Startup(&calib, 15);
}

namespace {

void* releasingController(void*)
{
    for (;;) {
        pipe_dial r{};
        if (o_g_consMessageBox.receive(&r, true, 0) != 0)
            continue;
        if (r.kind == REQ_SET_PARAM && r.code == param::deviceError)
            data.deviceError = static_cast<int16_t>(r.intValue);
        scpi_SemP();
    }
    return nullptr;
}

} // namespace

void fuzzStartController()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    pthread_t id;
    if (startThread(&id, releasingController, nullptr, 50, true, "ctl") != 0)
        fuzzFailure("cannot start the controller stand-in");
}
