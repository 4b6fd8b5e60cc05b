// MMEMory handlers: media, current directory, listing, deleting, whole-file block transfers,
// and the stores and loads of setups, traces and math functions.
//
// Every name goes through one path resolver: nothing outside the two media and /tmp is read,
// written, deleted or linked, whatever the name, the current directory or symbolic links say.
#include "scpi/fct.h"
#include "scpi/mmem.h"

#include "board/board.h"
#include "core/filename.h"
#include "core/fileio.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "core/utilities.h"
#include "scpi/blockdata.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

const char* const tabSupport[kScpiMediaCount] = {"LOCAL", "SDCARD"};
const char* const tabDirectory[kScpiMediaCount] = {"/media/user", "/media/user/sdcard_p1"};
int32_t defaultFileSystem = 0;
char o_g_currentDirectory[kScpiPathSize] = "/";

namespace {

constexpr uint16_t kHomeScreen = 0x8000;
constexpr size_t kNameMax = 32;
constexpr size_t kPiece = 1500;
constexpr char kTemporaryPrefix[] = "/tmp/";
constexpr char kTemporaryRoot[] = "/tmp";

// The paths handed to the controller: valid while the interpreter waits for the release.
char tc_l_completeFilename[kScpiPathSize];       // STORe:TRACe
char tc_l_completeFilenameMacro[kScpiPathSize];  // STORe:MACRo

bool homeScreen()
{
    return data.instrumentMode == kHomeScreen;
}

// Every header level carries suffix 1.
int start(indic* ind, int16_t* requestCount)
{
    return handlerStart(ind, requestCount, static_cast<short>(ind->count - 1));
}

// Stores and deletes: refused on the home screen first, then the suffixes.
int startChange(indic* ind, int16_t* requestCount)
{
    *requestCount = 0;
    if (homeScreen())
        return kErrSettingsConflict;
    return start(ind, requestCount);
}

const char* baseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool hasDotDotComponent(const char* p)
{
    for (const char* c = p; (c = std::strstr(c, "..")) != nullptr; c += 2) {
        const bool startsComponent = c == p || c[-1] == '/';
        const bool endsComponent = c[2] == '\0' || c[2] == '/';
        if (startsComponent && endsComponent)
            return true;
    }
    return false;
}

// Collapses repeated "/" and "/./" in place (and a trailing "/.").
void collapse(char* p)
{
    char* out = p;
    for (const char* in = p; *in;) {
        if (*in == '/' && out > p && out[-1] == '/') {
            ++in;
        } else if (*in == '.' && out > p && out[-1] == '/' && (in[1] == '/' || in[1] == '\0')) {
            ++in;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}

// The canonical host path of a board path, or false.
bool canonical(const char* boardAbsolute, char* out)
{
    return ::realpath(boardPath(boardAbsolute).c_str(), out) != nullptr;
}

bool inside(const char* path, const char* root)
{
    const size_t n = std::strlen(root);
    return std::strncmp(path, root, n) == 0 && (path[n] == '\0' || path[n] == '/' || (n == 1 && root[0] == '/'));
}

// The nearest existing directory above the board path (or at it, for a directory named itself),
// resolved through symbolic links, lies inside root (canonical host path).
bool parentStaysInside(const char* boardTarget, const char* root, bool includingSelf)
{
    char walk[PATH_MAX];
    std::snprintf(walk, sizeof walk, "%s", boardTarget);
    for (bool self = includingSelf;; self = false) {
        if (!self) {
            char* slash = std::strrchr(walk, '/');
            if (!slash || slash == walk)
                return false;  // up to "/" and nothing existed: not inside any medium
            *slash = '\0';
        }
        char resolved[PATH_MAX];
        if (canonical(walk, resolved))
            return inside(resolved, root);
    }
}

// A symbolic link as the target itself must lead inside root too; a dangling one could lead
// anywhere.
bool linkTargetStaysInside(const char* boardTarget, const char* root)
{
    struct stat st;
    if (::lstat(boardPath(boardTarget).c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return true;
    char resolved[PATH_MAX];
    return canonical(boardTarget, resolved) && inside(resolved, root);
}

bool lstatIsLink(const char* boardFile)
{
    struct stat st;
    return ::lstat(boardPath(boardFile).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int32_t mediumParam(const char* area, const indic* ind, int index)
{
    return ind->paramCount > index ? paramIndex(area, index) : defaultFileSystem;
}

int writeText(const char* text)
{
    return PutMessage(text, static_cast<int32_t>(std::strlen(text))) < 0 ? kErrCommunication : 0;
}

// A refusal of a block already announced: its bytes go first, so none of them runs as commands.
int refuseBlock(long length, int error)
{
    const int r = blockDrain(length);
    return r != 0 ? r : error;
}

// Free bytes of the file system holding the host directory; LONG_MAX when it cannot be told.
long freeBytes(const std::string& hostDir)
{
    struct statvfs fs;
    if (::statvfs(hostDir.c_str(), &fs) != 0)
        return LONG_MAX;
    const unsigned long long bytes = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
    return bytes > static_cast<unsigned long long>(LONG_MAX) ? LONG_MAX : static_cast<long>(bytes);
}

const char* catalogType(const char* name)
{
    struct Kind {
        const char* ending;
        const char* type;
    };
    static const Kind kKinds[] = {{".txt", ",ASC,"},  {".fct", ",ASC,"},  {".bus", ",ASC,"},
                                  {".htm", ",ASC,"},  {".cfg", ",STAT,"}, {".trc", ",TRAC,"},
                                  {".rec", ",TRAC,"}, {".mac", ",MACR,"}};
    for (const Kind& k : kKinds)
        if (stristr(name, k.ending))
            return k.type;
    return ",BIN,";
}

// Regular files with accepted names, at most limit of them; each listed through piece when given.
template <typename Piece>
int listDirectory(const std::string& hostDir, int limit, Piece piece)
{
    DIR* dir = ::opendir(hostDir.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (count < limit) {
        const struct dirent* e = ::readdir(dir);
        if (!e)
            break;
        if (isFileNameOK(e->d_name, nullptr, nullptr) != 0)
            continue;
        struct stat st;
        const bool known = ::fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (known && !S_ISREG(st.st_mode))
            continue;
        if (!known && e->d_type != DT_REG)
            continue;
        if (!piece(e->d_name, known ? static_cast<long>(st.st_size) : -1L)) {
            ::closedir(dir);
            return -2;
        }
        ++count;
    }
    ::closedir(dir);
    return count;
}

// LOAD:STATe / TRACe / MACRo: the file is linked into the batch directory and recalled.
int loadCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, const char* extension,
                int nameIndex)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->paramCount != nameIndex + 1 && ind->paramCount != nameIndex + 2)
        return kErrMissingParameter;
    const char* name = paramText(area, nameIndex);
    char found[4] = {};
    const char* base = baseName(name);
    const size_t length = std::strlen(base);
    // A name without its extension dot would be linked but never recalled.
    if (isFileNameOK(name, nullptr, found) != 0 || length < 4 || base[length - 4] != '.' ||
        stricmp(found, extension) != 0)
        return kErrFileName;
    char path[kScpiPathSize];
    if (int r = scpiResolvePath(name, mediumParam(area, ind, nameIndex + 1), true, kPathRead, path))
        return r;
    struct stat st;
    if (::stat(boardPath(path).c_str(), &st) != 0)
        return kErrFileNotFound;
    const std::string batchDir = boardPath(kBatchDir);
    ::mkdir(batchDir.c_str(), 0777);
    // A link of that name left from before is replaced: the recall loads what this command named.
    const std::string link = batchDir + "/" + baseName(path);
    ::unlink(link.c_str());
    if (::symlink(boardPath(path).c_str(), link.c_str()) != 0) {
        // As before: the recall request goes out all the same.
    }
    addRequest(requests, requestCount, REQ_FILE, fileBatchRecall, 0, 0, 0.0f);
    return 0;
}

// The file a command names in parameter nameIndex, on the medium of the parameter after it:
// the parameter count, the name rule, then the path.
int namedFile(const indic* ind, const char* area, int nameIndex, TScpiPathUse use, char* path)
{
    if (ind->paramCount != nameIndex + 1 && ind->paramCount != nameIndex + 2)
        return kErrMissingParameter;
    const char* name = paramText(area, nameIndex);
    if (isFileNameOK(name, nullptr, nullptr) != 0)
        return kErrFileName;
    return scpiResolvePath(name, mediumParam(area, ind, nameIndex + 1), true, use, path);
}

// STORe:TRACe / MACRo: the path goes to the controller in the command's own buffer.
int storeRequest(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int nameIndex,
                 char* buffer, int32_t action)
{
    char path[kScpiPathSize];
    if (int r = namedFile(ind, area, nameIndex, kPathWrite, path))
        return r;
    std::memcpy(buffer, path, kScpiPathSize);
    addRequest(requests, requestCount, REQ_FILE, action, 0, reinterpret_cast<intptr_t>(buffer), 0.0f);
    return 0;
}

} // namespace

int isFileNameOK(const char* name, char* stem, char* extension)
{
    if (!name || !fileNameIsClean(name))
        return kErrFileName;
    const char* base = baseName(name);
    const size_t length = std::strlen(base);
    if (length < 1 || length > kNameMax || std::strchr(base, ':'))
        return kErrFileName;
    for (size_t i = 0; i < length; ++i)
        if (base[i] == '.' && !(length >= 4 && i == length - 4))
            return kErrFileName;
    if (stem) {
        const size_t n = length >= 4 ? length - 4 : 0;
        std::memcpy(stem, base, n);
        stem[n] = '\0';
    }
    if (extension) {
        const size_t n = length >= 3 ? 3 : length;
        std::memcpy(extension, base + length - n, n);
        extension[n] = '\0';
    }
    return 0;
}

int scpiResolvePath(const char* name, int medium, bool allowTemporary, TScpiPathUse use, char* out)
{
    if (!name)
        name = "";
    if (hasDotDotComponent(name) || !fileNameIsClean(name))
        return kErrFileName;
    const bool temporary = std::strncmp(name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) == 0;
    if (name[0] == '/' && !(temporary && allowTemporary))
        return kErrExecution;
    if (medium < 0 || medium >= kScpiMediaCount)
        medium = 0;
    const char* root = temporary ? kTemporaryRoot : tabDirectory[medium];

    char joined[3 * kScpiPathSize];
    if (temporary)
        std::snprintf(joined, sizeof joined, "%s", name);
    else
        std::snprintf(joined, sizeof joined, "%s/%s/%s", root, o_g_currentDirectory, name);
    collapse(joined);
    size_t length = std::strlen(joined);
    if (length > 1 && joined[length - 1] == '/')
        joined[--length] = '\0';  // the directory itself
    if (length >= kScpiPathSize || hasDotDotComponent(joined))
        return kErrFileName;

    char rootResolved[PATH_MAX];
    if (!canonical(root, rootResolved))
        return kErrFileNotFound;  // the medium is not there
    if (!parentStaysInside(joined, rootResolved, name[0] == '\0'))
        return kErrFileName;
    if (use == kPathRead && lstatIsLink(joined))
        return kErrFileNotFound;
    if (use == kPathWrite && !linkTargetStaysInside(joined, rootResolved))
        return kErrFileName;
    std::memcpy(out, joined, length + 1);
    return 0;
}

int file_send(const char* path)
{
    const int fd = ::open(boardPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return kErrFileNotFound;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kErrFileNotFound;  // a FIFO or a device would hold the interpreter
    }
    if (st.st_size > INT32_MAX) {
        ::close(fd);
        return kErrExecution;
    }
    // Exactly the announced length follows, whatever happens to the file meanwhile.
    long remaining = static_cast<long>(st.st_size);
    int result = entete_INT(3, static_cast<int>(remaining)) < 0 ? kErrCommunication : 0;
    unsigned char piece[kPiece];
    bool short_ = false;
    while (result == 0 && remaining > 0) {
        const size_t want = remaining < static_cast<long>(kPiece) ? static_cast<size_t>(remaining) : kPiece;
        ssize_t n = 0;
        if (!short_) {
            n = ::read(fd, piece, want);
            if (n < 0 && errno == EINTR)
                continue;
            short_ = n <= 0;
        }
        if (short_) {
            std::memset(piece, 0, want);  // shrunk or unreadable: padded
            n = static_cast<ssize_t>(want);
        }
        if (putParameterValue(3, piece, n, nullptr) <= 0)
            result = kErrCommunication;
        remaining -= n;
    }
    ::close(fd);
    if (result == 0 && PutMessage("\n\r", 2) < 0)
        result = kErrCommunication;
    return result == 0 && short_ ? kErrExecution : result;
}

int file_send(const char* path, bool always)
{
    if (!always && homeScreen())
        return kErrSettingsConflict;
    return file_send(path);
}

int file_receive(const char* path, long length, bool always)
{
    if (!always && homeScreen())
        return refuseBlock(length, kErrSettingsConflict);
    const std::string host = boardPath(path);
    const size_t slash = host.rfind('/');
    const std::string hostDir = slash == std::string::npos ? std::string(".") : host.substr(0, slash);
    ::mkdir(hostDir.c_str(), 0777);  // one level; a failure shows below
    if (length > kScpiUploadMax || length > freeBytes(hostDir))
        return refuseBlock(length, kErrDataOutOfRange);

    // Into a file beside the target, renamed over it only once every byte is on the medium.
    TAtomicFile file(host, false, 0644);
    if (file.fd() < 0)
        return refuseBlock(length, kErrOutOfMemory);
    int result = 0;
    long remaining = length;
    char piece[kPiece];
    while (remaining > 0) {
        const long want = remaining < static_cast<long>(kPiece) ? remaining : static_cast<long>(kPiece);
        if ((result = getParameterValue(3, piece, want, nullptr, 0)) != 0)
            break;  // nothing more can be read
        remaining -= want;
        if (!writeAll(file.fd(), piece, static_cast<size_t>(want))) {
            result = refuseBlock(remaining, kErrExecution);
            break;
        }
    }
    if (result == 0 && !file.commit())
        result = kErrExecution;
    if (result != 0)
        return result;
    return length == 0 ? kErrOutOfMemory : 0;  // an empty block leaves an empty file
}

// ---- handlers

// MMEMory:CATalog? [medium]: "<count>,0" then ",name,TYPE,size" per file, streamed.
int MmemCat(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    char dir[kScpiPathSize];
    if (scpiResolvePath("", mediumParam(area, ind, 0), false, kPathWrite, dir) != 0) {
        writeText("0,0\n\r");
        return kErrExecution;
    }
    const std::string hostDir = boardPath(dir);
    const int count = listDirectory(hostDir, INT_MAX, [](const char*, long) { return true; });
    if (count < 0) {
        writeText("0,0\n\r");
        return kErrExecution;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%d,0", count);
    if (int r = writeText(text))
        return r;
    if (count > 0) {
        const int listed = listDirectory(hostDir, count, [&](const char* name, long size) {
            if (size >= 0)
                std::snprintf(text, sizeof text, ",%s%s%ld", name, catalogType(name), size);
            else
                std::snprintf(text, sizeof text, ",%s%s", name, catalogType(name));
            return writeText(text) == 0;
        });
        if (listed == -2)
            return kErrCommunication;
    }
    return writeText("\n\r");
}

// MMEMory:CDIRectory "dir": the current directory, always between two "/"; the file system is
// not looked at.
int MmemCdir(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query)
        return replyText(o_g_currentDirectory) < 0 ? kErrCommunication : 0;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    const char* text = paramText(area, 0);
    if (hasDotDotComponent(text))
        return kErrFileName;
    const size_t length = std::strlen(text);
    if (length + 3 > kScpiPathSize)
        return kErrFileName;
    char next[kScpiPathSize];
    size_t n = 0;
    if (text[0] != '/')
        next[n++] = '/';
    std::memcpy(next + n, text, length);
    n += length;
    if (next[n - 1] != '/')
        next[n++] = '/';
    next[n] = '\0';
    collapse(next);
    std::memcpy(o_g_currentDirectory, next, std::strlen(next) + 1);
    return 0;
}

// MMEMory:DATA "name",<block> stores a file; MMEMory:DATA? "name" sends one.
int MmemData(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    const bool block = !ind->query && ind->paramCount == 2;
    const long length = block ? paramInt(area, 1) : 0;
    if (int r = start(ind, requestCount))
        return block ? refuseBlock(length, r) : r;
    if (ind->paramCount != (ind->query ? 1 : 2))
        return kErrMissingParameter;
    const char* name = paramText(area, 0);
    char path[kScpiPathSize];
    int r = isFileNameOK(name, nullptr, nullptr);
    if (r == 0)
        r = scpiResolvePath(name, defaultFileSystem, true, ind->query ? kPathRead : kPathWrite, path);
    if (ind->query)
        return r != 0 ? r : file_send(path, false);
    return r != 0 ? refuseBlock(length, r) : file_receive(path, length, false);
}

// MMEMory:DELete "name"[, medium].
int MmemDel(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = startChange(ind, requestCount))
        return r;
    char path[kScpiPathSize];
    if (int r = namedFile(ind, area, 0, kPathRead, path))
        return r;
    return ::unlink(boardPath(path).c_str()) != 0 ? kErrFileNotFound : 0;
}

int MmemLoadMacr(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return loadCommand(ind, area, requests, requestCount, "fct", 1);
}

int MmemLoadStat(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return loadCommand(ind, area, requests, requestCount, "cfg", 0);
}

int MmemLoadTrac(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return loadCommand(ind, area, requests, requestCount, "trc", 0);
}

// MMEMory:MSIS [medium]: the default medium, once its root can be opened.
int MmemMsis(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query)
        return replyText(tabSupport[defaultFileSystem == 1 ? 1 : 0]) < 0 ? kErrCommunication : 0;
    const int32_t medium = ind->paramCount >= 1 ? paramIndex(area, 0) : 0;
    DIR* dir = ::opendir(boardPath(tabDirectory[medium == 1 ? 1 : 0]).c_str());
    if (!dir)
        return kErrCorruptMedia;
    ::closedir(dir);
    defaultFileSystem = medium == 1 ? 1 : 0;
    return 0;
}

int MmemStorMacr(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = startChange(ind, requestCount))
        return r;
    return storeRequest(ind, area, requests, requestCount, 1, tc_l_completeFilenameMacro, fileFunctionSave);
}

// MMEMory:STORe:STATe "name"[, medium]: saved here, from a private copy of the live setup.
int MmemStorStat(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = startChange(ind, requestCount))
        return r;
    char path[kScpiPathSize];
    if (int r = namedFile(ind, area, 0, kPathWrite, path))
        return r;
    return SetupSave(path, false, "") != 0 ? kErrExecution : 0;
}

int MmemStorTrac(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = startChange(ind, requestCount))
        return r;
    if ((data.channelFlags & 0xFF) == 0)
        return kErrSettingsConflict;  // no live trace or reference shown
    return storeRequest(ind, area, requests, requestCount, 0, tc_l_completeFilename, fileTraceSave);
}
