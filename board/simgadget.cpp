#include "board/simgadget.h"

#include "board/board.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

bool isSimulatedGadget(const char* boardPath)
{
    return boardPath && std::strcmp(boardPath, kSimGadgetDevice) == 0;
}

int openSimulatedGadget(int flags)
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | (flags & O_CLOEXEC));
    if (master < 0)
        return -1;
    char slave[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, slave, sizeof slave) != 0) {
        int saved = errno;
        ::close(master);
        errno = saved;
        return -1;
    }
    // Raw through the master: the settings belong to the pair, so the host's side gets no
    // echo and no line-end translation either.
    termios tio;
    if (::tcgetattr(master, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(master, TCSANOW, &tio);
    }
    std::string link = boardPath(kSimGadgetHostLink);
    std::string dir = link.substr(0, link.rfind('/'));
    ::mkdir(dir.c_str(), 0777);
    // Renewed in one step: a host polling the link never sees it missing.
    std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(slave, temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        ::close(master);
        errno = saved;
        return -1;
    }
    return master;
}
