// Whole transfers over a file descriptor, retried across interruptions and partial transfers;
// stored files written whole or not at all.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// True once every byte is written; false at the first failed or empty write.
bool writeAll(int fd, const void* buffer, size_t count);
// Up to count bytes, fewer only at the end of the file; -1 on a read error.
ssize_t readAll(int fd, void* buffer, size_t count);

// rename that fails with EEXIST instead of replacing an existing name; where the file system
// cannot tell, the name is looked at first.
bool renameNoReplace(const char* from, const char* to);

// A stored file that appears under its name only once it is complete: the bytes go into a
// hidden temporary file beside the target (same folder, so the rename stays on one file system),
// which is synced and renamed over the name at commit. A crash at any moment leaves either the
// old file or the new one, plus at most a temporary that removeStaleTemporaries takes away.
class TAtomicFile {
public:
    // keepExisting: the commit never replaces a file of the target's name (it fails with EEXIST).
    explicit TAtomicFile(std::string hostPath, bool keepExisting = false, mode_t mode = 0777);
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~TAtomicFile();

    // The temporary file's descriptor; -1 when it could not be made (errno says why).
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Syncs and closes the file and gives it its name. false (errno set) when any step fails:
    // the temporary is removed, except for EEXIST under keepExisting, after which the file can be
    // retargeted and committed again.
    bool commit();
    // The same, but the descriptor stays open for appending and belongs to the caller: a file
    // that grows after its head (a recording).
    bool commitKeepingOpen(int* fd);
    // Gives the target another name before the commit (a recording's next free name).
    void retarget(std::string hostPath) { path_ = std::move(hostPath); }

private:
    bool publish();
    std::string path_;
    std::string temporary_;
    bool keepExisting_;
    int fd_ = -1;
};

// True for the names of our temporary files (of TAtomicFile and of earlier versions).
bool isTemporaryFileName(const char* name);
// Removes our temporary files left in the host folder by a save that a crash cut short.
// Called at start, before anything writes there.
void removeStaleTemporaries(const std::string& hostDir);
