// Shared set-up of the fuzz targets: the program's own state, made once per process.
#pragma once

#include "core/filehdr.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// Every target defines both: the set-up, once, then one input per call.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A fresh simulated-board root under the build tree, or under BENCHVIEW_FUZZ_WORK_DIR when set
// (removed at exit), seeded like a first start with the identity calibration; the live setup
// holds the defaults. Once per process.
void fuzzSimulatedBoard();

// fuzzSimulatedBoard(), then the simulated board installed as the device-I/O seam, its FPGA
// configured from power-on. Once per process.
void fuzzInstallSimulatedBoard();

// Replaces the board file with the bytes; aborts when it cannot be written.
void fuzzWriteBoardFile(const char* boardAbsolutePath, const uint8_t* data, size_t size);

// A target-specific failure: reported like a crash, so the fuzzer keeps the input.
[[noreturn]] void fuzzFailure(const std::string& what);

// An open file descriptor, positioned at the start, of an unnamed file holding the bytes.
int fuzzMemoryFile(const uint8_t* data, size_t size);

// The start-up load of the program on the fuzz board (sample buffers, calibration, power-on
// setup, every run-time object), once; includes fuzzSimulatedBoard().
void fuzzStartup();

// A controller stand-in, started once: takes every request posted to the controller, applies
// a deviceError setting like the real one and releases the SCPI interpreter after each.
void fuzzStartController();

// A stored record behind the file header: the input without its first byte is the file. With
// bit 0 of the first byte, a file of the exact size gets the record's checksum stamped, so
// the fuzzer gets past the check to the fields.
template <typename Record, typename Stamp>
std::string fuzzRecordFile(const uint8_t* bytes, size_t size, Stamp stamp)
{
    std::string file(reinterpret_cast<const char*>(bytes + 1), size - 1);
    if ((bytes[0] & 1) && file.size() == kFileHeaderSize + sizeof(Record)) {
        Record record;
        std::memcpy(&record, file.data() + kFileHeaderSize, sizeof record);
        stamp(record);
        std::memcpy(&file[kFileHeaderSize], &record, sizeof record);
    }
    return file;
}
