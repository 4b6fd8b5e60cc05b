#include "core/filehdr.h"

#include "board/board.h"
#include "core/sysserv.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Copies at most width characters of text into field (no terminator).
void putText(char* field, size_t width, const char* text, size_t length)
{
    std::memcpy(field, text, std::min(width, length));
}

} // namespace

int32_t WriteFileHeader(int32_t fd, const char* type, const char* comment, int32_t time)
{
    TFileHeader header;
    std::memset(&header, '.', sizeof header);

    const time_t when = time == -1 ? std::time(nullptr) : static_cast<time_t>(time);
    struct tm local;
    if (localtime_r(&when, &local)) {
        char date[32];
        const int n = std::snprintf(date, sizeof date, "%04d-%02d-%02d_%02d-%02d-%02d", local.tm_year + 1900,
                                    local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        if (n > 0)
            putText(header.dateText, sizeof header.dateText - 1, date, static_cast<size_t>(n));
    }

    if (comment)
        putText(header.comment, sizeof header.comment, comment, std::strlen(comment));
    if (type)
        putText(header.fileType, sizeof header.fileType, type, std::strlen(type));

    // Model, "V1.12/" + calibration name, serial: each token cut at its field so that a long
    // one never runs into the next field or the date.
    char identification[kIdentificationSize];
    GetIdentification(identification, true);
    char* const fields[] = {header.modelText, header.versionText, header.serialText};
    const size_t widths[] = {sizeof header.modelText, sizeof header.versionText, sizeof header.serialText};
    size_t token = 0;
    const char* p = identification;
    while (*p && token < 3) {
        const size_t skip = std::strspn(p, ", ");
        p += skip;
        const size_t length = std::strcspn(p, ", ");
        if (length == 0)
            break;
        putText(fields[token], widths[token], p, length);
        ++token;
        p += length;
    }

    header.lineEnd[0] = '\r';
    header.lineEnd[1] = '\n';

    ssize_t written;
    do {
        written = ::write(fd, &header, sizeof header);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof header) ? 0 : -1;
}

int32_t ReadFileHeader(std::string path, TFileHeader& header)
{
    const int fd = ::open(boardPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    auto* p = reinterpret_cast<char*>(&header);
    size_t got = 0;
    while (got < sizeof header) {
        const ssize_t n = ::read(fd, p + got, sizeof header - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    return got == sizeof header ? 0 : -1;
}

int openStoredFile(const std::string& hostPath, std::string* refusal)
{
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno != ENOENT && refusal)
        *refusal = std::string("cannot be opened (") + std::strerror(errno) + ")";
    return fd;
}

std::string storedFileShapeFault(int fd, int64_t expectedSize)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return std::string("cannot be examined (") + std::strerror(errno) + ")";
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if (st.st_size != expectedSize)
        return std::to_string(static_cast<long long>(st.st_size)) + " bytes instead of "
            + std::to_string(static_cast<long long>(expectedSize));
    return std::string();
}
