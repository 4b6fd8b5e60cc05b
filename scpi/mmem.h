// The user files of the SCPI mass-memory commands, shared with the pass/fail mask and system
// setting commands: media, current directory, the file-name rule, the path resolver and the
// whole-file block transfers. Interpreter thread only.
#pragma once

#include "scpi/blockdata.h"  // blockDrain: a refused block's bytes are read and dropped

#include <cstddef>
#include <cstdint>

// Internal error numbers of the file commands.
enum : int {
    kErrCorruptMedia = 30,   // -253
    kErrFileNotFound = 31,   // -256
    kErrFileName = 32,       // -257
    kErrOutOfMemory = 34,    // -321
};

constexpr int kScpiMediaCount = 2;
constexpr size_t kScpiPathSize = 128;  // a usable path has at most 127 characters
// The largest block MMEMory:DATA takes.
constexpr long kScpiUploadMax = 64L << 20;

// "LOCAL", "SDCARD"; their board roots "/media/user", "/media/user/sdcard_p1".
extern const char* const tabSupport[kScpiMediaCount];
extern const char* const tabDirectory[kScpiMediaCount];
// The medium used when a command names none (0 at start).
extern int32_t defaultFileSystem;
// Relative to the medium's root; begins and ends with "/" ("/" at start).
extern char o_g_currentDirectory[kScpiPathSize];

// The file-name rule on the base name (the text after the last "/"): 1 to 32 characters, no ":",
// a "." only as the fourth character from the end. 0 or 32. stem and extension, when given,
// receive the base name without its last four characters and the three-character extension.
int isFileNameOK(const char* name, char* stem, char* extension);

// What the resolved path is for.
enum TScpiPathUse {
    kPathWrite,  // stores and uploads
    kPathRead,   // reads, deletes and loads: a final symbolic link counts as not found
};

// Turns a file name of a command into a full board path in out (kScpiPathSize bytes): "/tmp/..."
// names a temporary file (allowed only when allowTemporary), any other absolute name is 22; a
// relative name lies in the medium's root plus the current directory. 0, or 22, 31 or 32: a ".."
// component, a path of more than 127 characters, or a place that leads outside the medium (or
// /tmp) through symbolic links, is 32. An empty name gives the current directory itself.
int scpiResolvePath(const char* name, int medium, bool allowTemporary, TScpiPathUse use, char* out);

// Sends the regular file at the board path as one definite-length block, then "\n\r": 0, 31 (no
// regular file there), 22 (it shrank while sent: padded to the announced length) or 36 (the
// client cannot be written to). Without always, 24 on the home screen.
int file_send(const char* path);
int file_send(const char* path, bool always);
// Receives length bytes of the input into the board path, replacing the file only when all of
// them arrived and were written. Refusals drain the bytes first. 0, 24 (home screen, unless
// always), 25 (larger than the free space or 64 MiB), 34 (cannot be created; also a length of 0,
// which leaves an empty file), 22 (input ended or a write failed) or 36 (the client stalled).
int file_receive(const char* path, long length, bool always);
