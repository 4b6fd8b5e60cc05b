// Fuzz target of the bus results panel's reader: any input is read as a report tree and turned
// into the panel's texts, and every text of the input goes through the entity decoder.
// Properties: no crash, no hang, no sanitizer report, six texts at most per row, never a row
// without texts.
#include "core/xmlutilities.h"
#include "ui/bus/busresults.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    BusResults::decodeReportText(text);
    std::istringstream in(text);
    XmlDescriptor tree(in);
    if (!tree.valid)
        return 0;
    const BusResults::Report report = BusResults::readReport(tree);
    if (report.header.size() != 4)
        std::abort();
    for (const QStringList& row : report.rows)
        if (row.isEmpty() || row.size() > 6)
            std::abort();
    return 0;
}
