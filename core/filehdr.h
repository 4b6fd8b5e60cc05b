// The 128-byte text header that starts every saved file (setups, traces, masks, functions,
// calibration, text exports, recordings): type, model, version/calibration name, serial
// number, date and comment, ending with CR LF so the first line names the file in a viewer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/checksum.h"  // the byte-sum checksum of saved records

// Every byte a field's text does not fill holds '.'; no field holds a NUL.
struct TFileHeader {
    char fileType[4];      // first 4 characters of the writer's type text (".cfg" ...)
    char modelText[12];    // model name
    char versionText[10];  // "V1.12/" + calibration name
    char serialText[16];   // serial number
    char dateText[20];     // "yyyy-MM-dd_hh-mm-ss" + "." (local time)
    char comment[64];      // first 64 characters of the comment
    char lineEnd[2];       // CR LF
};
static_assert(sizeof(TFileHeader) == 128, "file header size");
static_assert(offsetof(TFileHeader, fileType) == 0, "fileType offset");
static_assert(offsetof(TFileHeader, modelText) == 4, "modelText offset");
static_assert(offsetof(TFileHeader, versionText) == 16, "versionText offset");
static_assert(offsetof(TFileHeader, serialText) == 26, "serialText offset");
static_assert(offsetof(TFileHeader, dateText) == 42, "dateText offset");
static_assert(offsetof(TFileHeader, comment) == 62, "comment offset");
static_assert(offsetof(TFileHeader, lineEnd) == 126, "lineEnd offset");

constexpr uint32_t kFileHeaderSize = sizeof(TFileHeader);

// Type texts of the savers.
constexpr const char* kFileTypeSetup = ".cfg";
constexpr const char* kFileTypeTrace = ".trc";
constexpr const char* kFileTypeMask = ".msk";
constexpr const char* kFileTypeFunction = ".fct";
constexpr const char* kFileTypeCalibration = ".cal";
constexpr const char* kFileTypeText = ".txt";
constexpr const char* kFileTypeRecording = ".rec";

// Builds the header and writes it as the next 128 bytes of fd, in one write. comment may be
// null; time is -1 for now, else seconds since 1970 (shown in local time). The identity comes
// from the stored calibration file (factory identity when it is missing or bad).
// 0 when all 128 bytes were written, -1 otherwise.
int32_t WriteFileHeader(int32_t fd, const char* type, const char* comment, int32_t time);

// Reads the first 128 bytes of path into header; 0, or -1 when the file cannot be opened or is
// shorter (header then partly filled). Checks no content.
int32_t ReadFileHeader(std::string path, TFileHeader& header);

// Opens a stored file of the board (host path) for reading without waiting on a FIFO in its
// place. -1 when it cannot be opened; *refusal then says why, or stays empty when there is no
// such file.
int openStoredFile(const std::string& hostPath, std::string* refusal);
// Why an open stored file cannot be one of expectedSize bytes ("" when its kind and size fit).
std::string storedFileShapeFault(int fd, int64_t expectedSize);
