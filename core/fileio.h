// Whole transfers over a file descriptor, retried across interruptions and partial transfers.
#pragma once

#include <cstddef>
#include <sys/types.h>

// True once every byte is written; false at the first failed or empty write.
bool writeAll(int fd, const void* buffer, size_t count);
// Up to count bytes, fewer only at the end of the file; -1 on a read error.
ssize_t readAll(int fd, void* buffer, size_t count);
