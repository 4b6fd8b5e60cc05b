// Reading the values of bus descriptor fields: the attribute "a" read with the classic
// (locale-independent) stream rules, and the walk over an element's children that picks each
// child's field by the first key of a reading order that its lower-cased tag contains.
#pragma once

#include <cstdint>
#include <string>

class XmlDescriptor;

// An integer of the given width: '$' followed by hexadecimal, else decimal. False for a text
// that does not read or a value outside the width.
bool readBusInteger(const std::string& text, int bits, bool isSigned, int64_t* value);
// 0 or 1.
bool readBusBool(const std::string& text, bool* value);
// A float extracted by a classic-locale stream: "---", "nan" and "inf" do not read.
bool readBusFloat(const std::string& text, float* value);

// Calls handle(key index, value) for each child of element in document order whose lower-cased
// tag contains one of keys (the first that does decides) and whose "a" is not empty. Stops with
// -1 when handle returns false; 0 after the walk (a null element too).
template <typename F>
int walkBusChildren(XmlDescriptor* element, const char* const* keys, int keyCount, F handle);

#include "core/xmlutilities.h"

#include <algorithm>
#include <cctype>
#include <cstring>

template <typename F>
int walkBusChildren(XmlDescriptor* element, const char* const* keys, int keyCount, F handle)
{
    if (!element)
        return 0;
    for (XmlDescriptor* child : element->children) {
        if (!child)
            break;
        std::string tag(child->tag, strnlen(child->tag, sizeof child->tag));
        std::transform(tag.begin(), tag.end(), tag.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        int key = 0;
        while (key < keyCount && tag.find(keys[key]) == std::string::npos)
            ++key;
        if (key == keyCount)
            continue;
        const std::string value = child->getAttributeValue("a");
        if (value.empty())
            continue;
        if (!handle(key, value))
            return -1;
    }
    return 0;
}
