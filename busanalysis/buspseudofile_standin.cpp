// Stand-in until the table of built-in bus descriptors exists: two small descriptors of our own.
#include "busanalysis/buspseudofile.h"

#include <cstring>

namespace {

const char kProfibus[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
    "<bus name=\"ProfibusPA\" version=\"1\">\r\n"
    "<!-- sample descriptor -->\r\n"
    "<signal level=\"0.75\" unit=\"V\"/>\r\n"
    "<limits>\r\n"
    "<limit id=\"amplitude\" min=\"0.15\" max=\"1.0\"/>\r\n"
    "<limit id=\"noise\" min=\"0\" max=\"0.02\"/>\r\n"
    "</limits>\r\n"
    "</bus>\r\n";

const char kCan[] =
    "<bus name=\"CAN\" version=\"1\">\r\n"
    "<signal level=\"2.0\" unit=\"V\"/>\r\n"
    "<limits>\r\n"
    "<limit id=\"amplitude\" min=\"1.5\" max=\"3.0\"/>\r\n"
    "</limits>\r\n"
    "</bus>\r\n";

struct TPseudoFile {
    const char* name;
    const char* content;
    int size;
};

const TPseudoFile kFiles[] = {
    {"/ProfibusPA.bus", kProfibus, sizeof kProfibus - 1},
    {"/CAN.bus", kCan, sizeof kCan - 1},
    {nullptr, nullptr, 0},
};

} // namespace

int getBusPseudoFileContent(const char* name, const unsigned char** data, int* size)
{
    if (!name)
        return 0;
    for (const TPseudoFile* f = kFiles; f->name; ++f) {
        if (std::strcmp(f->name, name) == 0) {
            *data = reinterpret_cast<const unsigned char*>(f->content);
            *size = f->size;
            return 1;
        }
    }
    return 0;
}
