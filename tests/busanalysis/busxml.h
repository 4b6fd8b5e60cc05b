// Descriptor fragments for the bus tests, read from text.
#pragma once

#include "core/xmlutilities.h"

#include <memory>
#include <sstream>
#include <string>

// Lines joined with CR LF.
inline std::unique_ptr<XmlDescriptor> xmlElement(const std::string& lines)
{
    std::string text;
    std::istringstream split(lines);
    for (std::string line; std::getline(split, line);)
        text += line + "\r\n";
    std::istringstream in(text);
    return std::make_unique<XmlDescriptor>(in);
}
