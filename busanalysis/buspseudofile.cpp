#include "busanalysis/buspseudofile.h"

#include <cstring>

const TBusPseudoFile* getBusDataPage()
{
    return busDataPage;
}

int getBusPseudoFileContent(const char* name, const unsigned char** data, int* size)
{
    if (!name)
        return 0;
    for (const TBusPseudoFile* f = busDataPage; f->name; ++f) {
        if (std::strcmp(f->name, name) == 0) {
            *data = f->data;
            *size = f->size;
            return 1;
        }
    }
    return 0;
}

const TBusPseudoFile* findBusPseudoFileBySuffix(const char* name)
{
    if (!name || !*name)
        return nullptr;
    const size_t n = std::strlen(name);
    for (const TBusPseudoFile* f = busDataPage; f->name; ++f) {
        const size_t length = std::strlen(f->name);
        if (length >= n && std::memcmp(f->name + length - n, name, n) == 0)
            return f;
    }
    return nullptr;
}
