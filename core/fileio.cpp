#include "core/fileio.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

bool writeAll(int fd, const void* buffer, size_t count)
{
    const auto* p = static_cast<const unsigned char*>(buffer);
    while (count > 0) {
        const ssize_t n = ::write(fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t readAll(int fd, void* buffer, size_t count)
{
    auto* p = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// ---- TAtomicFile

namespace {

std::string temporaryNameFor(const std::string& target)
{
    static std::atomic<unsigned> counter{0};
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // Cut, so that a name near the file system's limit still has room for the suffix.
    const std::string base = (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 100);
    return dir + "." + base + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

bool allDigits(const char* p, const char* end)
{
    if (p == end)
        return false;
    for (; p < end; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

} // namespace

bool renameNoReplace(const char* from, const char* to)
{
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1u /* RENAME_NOREPLACE */) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    struct stat st;
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from, to) == 0;
}

TAtomicFile::TAtomicFile(std::string hostPath, bool keepExisting, mode_t mode)
    : path_(std::move(hostPath)), temporary_(temporaryNameFor(path_)), keepExisting_(keepExisting)
{
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ >= 0)
        ::fchmod(fd_, mode);  // whatever the umask: the media are shared with the PC
}

TAtomicFile::~TAtomicFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temporary_.c_str());
    }
}

bool TAtomicFile::publish()
{
    if (fd_ < 0)
        return false;
    const bool synced = ::fsync(fd_) == 0 || errno == EINVAL;
    const bool named = synced
        && (keepExisting_ ? renameNoReplace(temporary_.c_str(), path_.c_str())
                          : ::rename(temporary_.c_str(), path_.c_str()) == 0);
    if (!named && !(keepExisting_ && errno == EEXIST)) {
        const int e = errno;
        ::close(fd_);
        fd_ = -1;
        ::unlink(temporary_.c_str());
        errno = e;
    }
    return named;
}

bool TAtomicFile::commit()
{
    if (!publish())
        return false;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

bool TAtomicFile::commitKeepingOpen(int* fd)
{
    if (!publish())
        return false;
    *fd = fd_;
    fd_ = -1;
    return true;
}

bool isTemporaryFileName(const char* name)
{
    // .<name>.tmp<pid>-<n> and .tmp<pid>-<n> (hidden), <name>.cfg.tmp<pid>-<n> of earlier setup
    // saves, and the fixed calibration.cal.tmp. A user's own file never has these shapes.
    if (std::strcmp(name, "calibration.cal.tmp") == 0)
        return true;
    const char* tmp = nullptr;
    for (const char* p = std::strstr(name, ".tmp"); p; p = std::strstr(p + 1, ".tmp"))
        tmp = p;
    if (!tmp)
        return false;
    const char* pid = tmp + 4;
    const char* dash = std::strchr(pid, '-');
    if (!dash || !allDigits(pid, dash) || !allDigits(dash + 1, dash + 1 + std::strlen(dash + 1)))
        return false;
    const bool oldSetup = tmp - name >= 5 && std::strncmp(tmp - 4, ".cfg", 4) == 0;
    return name[0] == '.' || oldSetup;
}

void removeStaleTemporaries(const std::string& hostDir)
{
    DIR* dir = ::opendir(hostDir.c_str());
    if (!dir)
        return;
    while (const struct dirent* e = ::readdir(dir)) {
        if (!isTemporaryFileName(e->d_name))
            continue;
        struct stat st;
        if (::fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
}
