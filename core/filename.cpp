#include "core/filename.h"

#include <cstring>

bool fileNameIsClean(const char* name, size_t length)
{
    if (!name)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

bool fileNameIsClean(const char* name)
{
    return name && fileNameIsClean(name, std::strlen(name));
}
