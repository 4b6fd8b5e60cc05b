// File names from outside: the bytes are one name as a remote command, a datagram or a screen
// keyboard hands it over, NULs and control characters included. It goes through the name
// checks of the system (the shared character check, the mass-memory name rule and path
// resolver, the board's confinement to a folder), which must agree with one another: a name
// with any control character or an inner NUL is refused, and an accepted one resolves inside
// the media.
#include "fuzz/support.h"

#include "board/board.h"
#include "core/filename.h"
#include "scpi/mmem.h"

#include <string>

namespace {

bool hasControl(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string name(reinterpret_cast<const char*>(bytes), size);
    const bool clean = fileNameIsClean(name.data(), name.size());
    if (clean == hasControl(name))
        fuzzFailure("the character check disagrees with the bytes");
    // What a C string would make of it: cut at the first NUL.
    const std::string seen = name.c_str();
    if (clean != (seen.size() == name.size() && fileNameIsClean(seen.c_str())))
        fuzzFailure("a NUL inside passes the check of the text before it");

    if (isFileNameOK(seen.c_str(), nullptr, nullptr) == 0 && hasControl(seen))
        fuzzFailure("the mass-memory name rule takes a control character");
    for (int medium = 0; medium < kScpiMediaCount; ++medium) {
        char path[kScpiPathSize];
        for (TScpiPathUse use : {kPathWrite, kPathRead}) {
            if (scpiResolvePath(seen.c_str(), medium, true, use, path) != 0)
                continue;
            const std::string resolved = path;
            if (hasControl(resolved))
                fuzzFailure("a resolved path holds a control character: " + resolved);
            if (!startsWith(resolved, tabDirectory[medium]) && !startsWith(resolved, "/tmp"))
                fuzzFailure("a resolved path leaves the media: " + resolved);
        }
    }
    std::string confined;
    if (clean && confineBoardPath("/media/user", ("/media/user/" + seen).c_str(), &confined)
        && !startsWith(confined, boardPath("/media/user")))
        fuzzFailure("a confined path leaves its folder: " + confined);
    return 0;
}
