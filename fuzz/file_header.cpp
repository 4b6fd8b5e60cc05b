// The 128-byte header that starts every saved file, read from a file holding the bytes.
#include "fuzz/support.h"

#include "board/board.h"
#include "core/filehdr.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    fuzzWriteBoardFile("/media/user/fuzz.hdr", bytes, size);
    TFileHeader header;
    ReadFileHeader(boardPath("/media/user/fuzz.hdr"), header);
    return 0;
}
