// Web-service identity, status, mode and file requests. Every path a client names stays inside
// the user partition (or the SD card when it asked for the card): no ".." component, and what
// exists of the path, symbolic links resolved, lies inside the root it was asked under.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

#include "board/board.h"
#include "core/filename.h"
#include "core/fileio.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/setup.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"
#include "network/requestkey.h"
#include "network/user_int.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kUserRoot = "/media/user";
constexpr const char* kSdRoot = "/media/user/sdcard_p1";
constexpr int kPathBuffer = 200;     // "/list", "/open", "/delete": at most 199 characters
constexpr int kNameBuffer = 100;     // "/getfile" names, "/savefile" texts
constexpr int kCwdBuffer = 300;

void sendReply(TWsReq* req, const TWsReply& reply)
{
    wsResponseSend(req, reply.data(), reply.size());
}

// Root plus the key's text to the end of the datagram; false when the whole path does not fit
// (a cut path would name another file).
bool appendToRoot(TWsReq* req, const char* key, const char* root, char* out, int capacity)
{
    const int rootLength = static_cast<int>(std::strlen(root));
    bool cut = false;
    std::memcpy(out, root, static_cast<size_t>(rootLength) + 1);
    wsKeyText(req, key, out + rootLength, capacity - rootLength, true, &cut);
    return !cut && fileNameIsClean(out);
}

// The path of "/list" and "/open" and the root it lies in: p0 under the user partition, p1 under
// the card when one is present (else the user partition), neither the user partition itself.
bool listPath(TWsReq* req, char* path, const char** root)
{
    if (wsParser(req, "p0") != nullptr) {
        *root = kUserRoot;
        return appendToRoot(req, "p0", kUserRoot, path, kPathBuffer);
    }
    if (wsParser(req, "p1") != nullptr) {
        *root = isSdcardPresent() ? kSdRoot : kUserRoot;
        return appendToRoot(req, "p1", *root, path, kPathBuffer);
    }
    *root = kUserRoot;
    std::strcpy(path, kUserRoot);
    return true;
}

bool exists(const std::string& host)
{
    struct stat st;
    return ::lstat(host.c_str(), &st) == 0;
}

// Texts of "/savefile" that persist between requests; empty at start.
char tc_l_comment[kNameBuffer];
char tc_l_filename[kNameBuffer];

struct TSaveTexts {
    char comment[kNameBuffer];
    char name[kNameBuffer];
};

} // namespace

void wsRpmIdent(TWsReq* req)
{
    char identification[kIdentificationSize] = {};
    GetIdentification(&param_calibr, identification, nullptr, false, false);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.raw("3,", 2).raw(identification, static_cast<int32_t>(std::strlen(identification))).raw(",3.05,", 6);
    sendReply(req, reply);
}

void wsRpmStatus(TWsReq* req)
{
    std::string trigger, misc1, misc2, battery, warning, passfail;
    getPelanodeStatus(trigger, misc1, misc2, battery, warning, passfail);
    int subMode = 0;
    if (data.instrumentMode & 0x10) {
        if (data.traceFormat == 1)
            subMode = 20;
        else if (data.traceFormat == 2)
            subMode = 19;
        else
            subMode = data.zoomWidth == 40.0f ? 1 : 18;
    }
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(9);
    // The cached texts as stored: an empty pass/fail counter stays an empty field.
    for (const std::string* text : {&trigger, &passfail, &misc1, &misc2, &warning, &battery})
        reply.raw(text->data(), static_cast<int32_t>(text->size())).raw(",", 1);
    reply.integer(data.instrumentMode).integer(subMode).integer(l_g_requestKey.load());
    sendReply(req, reply);
}

void wsRpmInstrument(TWsReq* req)
{
    // Only the instrument's own modes: another number would leave a mode no screen shows and
    // no SCPI word names.
    static const int32_t kModes[] = {16, 17, 18, 19, 64, 128, 129, 130, 256, 0x8000};
    int32_t mode = 0;
    if (wsKeyInteger(req, "mode", &mode) && mode != data.instrumentMode) {
        if (std::find(std::begin(kModes), std::end(kModes), mode) == std::end(kModes)) {
            wsReplyFailed(req);
            return;
        }
        wsPostSetParam(param::instrumentMode, mode, 0.0f);
    }
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(1).integer(data.instrumentMode);
    sendReply(req, reply);
}

void wsRpmCwd(TWsReq* req)
{
    char path[kCwdBuffer];
    bool cut = false;
    if (wsKeyText(req, "p0", path, sizeof path, false, &cut) >= 0) {
        // Only an existing directory of the user partition: the viewer's relative names follow it.
        std::string resolved;
        struct stat st;
        if (!cut && fileNameIsClean(path) && confineBoardPath(kUserRoot, path, &resolved) && ::stat(resolved.c_str(), &st) == 0
            && S_ISDIR(st.st_mode) && ::chdir(resolved.c_str()) != 0)
            std::perror("web service: working directory");
        wsReplyDone(req);
        return;
    }
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
        wsReplyDone(req);
        return;
    }
    const std::string shown = boardPathFromHost(cwd);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.raw("1,", 2).raw(shown.data(), static_cast<int32_t>(shown.size()));
    sendReply(req, reply);
}

void wsRpmList(TWsReq* req)
{
    char path[kPathBuffer];
    const char* root = nullptr;
    std::string resolved;
    DIR* dir = nullptr;
    if (listPath(req, path, &root) && confineBoardPath(root, path, &resolved))
        dir = ::opendir(resolved.c_str());
    if (dir == nullptr) {
        wsReplyDone(req);
        return;
    }
    // The count comes first but is known last: the entries go after room kept for it.
    constexpr int32_t kHeadRoom = 16;
    TWsReply entries(tc_g_wsBuffer + kHeadRoom, kWsReplyBufferSize - kHeadRoom);
    entries.raw(path, static_cast<int32_t>(std::strlen(path))).raw(",", 1);
    int32_t count = 1;
    while (const dirent* entry = ::readdir(dir)) {
        // Half-written saves are no files of the user's.
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0
            || isTemporaryFileName(entry->d_name))
            continue;
        const int32_t length = static_cast<int32_t>(std::strlen(entry->d_name));
        if (length + 1 > kWsReplyBufferSize - kHeadRoom - entries.size())
            break;  // the reply buffer is full: N counts what is sent
        entries.raw(entry->d_name, length).raw(",", 1);
        ++count;
    }
    ::closedir(dir);
    char head[kHeadRoom];
    const int headLength = std::snprintf(head, sizeof head, "%d,", count);
    char* start = tc_g_wsBuffer + kHeadRoom - headLength;
    std::memcpy(start, head, static_cast<size_t>(headLength));
    wsResponseSend(req, start, headLength + entries.size());
}

void wsRpmOpen(TWsReq* req)
{
    char path[kPathBuffer];
    const char* root = nullptr;
    std::string resolved;
    // Only a file is opened: a folder (the user partition itself for an empty name) would be
    // taken as a recording's folder and move the program's working directory.
    struct stat st;
    if (listPath(req, path, &root) && confineBoardPath(root, path, &resolved) && ::stat(resolved.c_str(), &st) == 0
        && S_ISREG(st.st_mode)) {
        const std::string batch = boardPath(kBatchDir);
        ::mkdir(batch.c_str(), 0777);
        const char* last = std::strrchr(path, '/');
        const std::string link = batch + "/" + (last ? last + 1 : path);
        // The link names the host file: the batch recall reads it through the link.
        if (last && last[1] != '\0' && ::symlink(resolved.c_str(), link.c_str()) == 0)
            wsPostRequest(REQ_FILE, fileBatchRecall, 0, 0, 0.0f, wsSender());
    }
    wsReplyDone(req);
}

void wsRpmDelete(TWsReq* req)
{
    char path[kPathBuffer];
    std::string resolved;
    if (wsParser(req, "p0") != nullptr && appendToRoot(req, "p0", kUserRoot, path, sizeof path)
        && confineBoardPath(kUserRoot, path, &resolved)) {
        // Never the roots: an absent mount point would hide a card inserted later.
        std::string userRoot, sdRoot;
        confineBoardPath("/", kUserRoot, &userRoot);
        confineBoardPath("/", kSdRoot, &sdRoot);
        if (resolved != userRoot && resolved != sdRoot && exists(resolved))
            ::remove(resolved.c_str());
    }
    wsReplyDone(req);
}

void wsRpmGetfile(TWsReq* req)
{
    char name[kNameBuffer];
    bool cut = false;
    if (wsKeyText(req, "p0", name, sizeof name, false, &cut) < 0 || cut || !fileNameIsClean(name)) {
        wsReplyFailed(req);
        return;
    }
    const std::string path = std::string(kUserRoot) + name;
    int64_t size = 0;
    // Regular files only, opened without blocking: a FIFO or a device never holds the service.
    const int fd = openBoardFileIn(kUserRoot, path.c_str(), &size);
    if (fd < 0) {
        wsReplyFailed(req);
        return;
    }
    char head[24];
    const int headLength = std::snprintf(head, sizeof head, "%lld,", static_cast<long long>(size));
    const int64_t room = kWsReplyBufferSize - headLength;
    int64_t got = 0;
    if (size <= room) {
        std::memcpy(tc_g_wsBuffer, head, static_cast<size_t>(headLength));
        while (got < size) {
            const ssize_t n = ::read(fd, tc_g_wsBuffer + headLength + got, static_cast<size_t>(room - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
    }
    ::close(fd);
    if (size > room || got != size) {
        wsReplyFailed(req);
        return;
    }
    wsResponseSend(req, tc_g_wsBuffer, headLength + static_cast<int32_t>(size));
}

void wsRpmSavefile(TWsReq* req)
{
    bool cut = false;
    wsKeyText(req, "p1", tc_l_comment, sizeof tc_l_comment, false, &cut);
    // A name is no path, and one cut by a NUL or holding control characters is no name: the
    // save then fails as unnamed.
    if (wsKeyText(req, "p2", tc_l_filename, sizeof tc_l_filename, false, &cut) >= 0
        && (cut || std::strchr(tc_l_filename, '/') != nullptr || !fileNameIsClean(tc_l_filename)))
        tc_l_filename[0] = '\0';
    int32_t kind = 0;
    if (wsKeySelector(req, "p0", &kind)) {
        int32_t action = fileSetupSave;
        switch (kind) {
        case 2: action = fileTraceSave; break;
        case 4: action = fileFunctionSave; break;
        case 8: action = fileHarmonicSave; break;
        case 16: action = fileMaskSave; break;
        default: break;
        }
        // Each post gets its own copies: a later request must not rename a save still queued.
        static TWsPostRing<TSaveTexts> ring;
        TSaveTexts* slot = ring.next();
        std::memcpy(slot->comment, tc_l_comment, sizeof slot->comment);
        std::memcpy(slot->name, tc_l_filename, sizeof slot->name);
        if (wsPostRequest(REQ_FILE, action, reinterpret_cast<intptr_t>(slot->comment),
                          reinterpret_cast<intptr_t>(slot->name), 0.0f, wsSender()))
            ring.commit();
        wsReplyDone(req);
        return;
    }
    if (wsParser(req, "p1") != nullptr || wsParser(req, "p2") != nullptr) {
        wsReplyDone(req);
        return;
    }
    int kinds = 0;
    switch (data.instrumentMode) {
    case 16: kinds = data.passFailOn != 0 ? 23 : 7; break;
    case 64: kinds = 9; break;
    case 128:
    case 130: kinds = 1; break;
    default: break;
    }
    char name[48] = "tavlin_";
    const time_t now = ::time(nullptr);
    struct tm local{};
    localtime_r(&now, &local);
    std::strftime(name + 7, sizeof name - 7, "%Y-%m-%d_%H-%M-%S", &local);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(3).integer(kinds).raw("---,", 4).raw(name, static_cast<int32_t>(std::strlen(name))).raw(",", 1);
    sendReply(req, reply);
}
