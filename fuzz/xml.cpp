// Fuzz target of the XML reader: any input is read as a tree, looked up, written and read again.
// Properties: no crash, no hang, no bound exceeded, no sanitizer report.
#include "core/xmlutilities.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

int countElements(const XmlDescriptor& node, int depth, int* maxDepth)
{
    if (depth > *maxDepth)
        *maxDepth = depth;
    int n = 1;
    for (const XmlDescriptor* child : node.children) {
        if (!child)
            break;
        n += countElements(*child, depth + 1, maxDepth);
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(bytes), size));
    XmlDescriptor root(in);
    if (!root.valid)
        return 0;

    int depth = 0;
    if (countElements(root, 1, &depth) > XmlDescriptor::kMaxElements || depth > XmlDescriptor::kMaxDepth)
        std::abort();

    XmlFifo path;
    path.initFifo(1, root.tag);
    if (root.getTag(&path) != &root)
        std::abort();
    path.initFifo(2, "*", "*");
    root.getAttributeValue("id", &path);
    path.initFifo(2, "*", "*");
    root.getText(&path);
    // Every child of the root in turn, then past the end.
    XmlDescriptor* after = nullptr;
    for (int i = 0; i <= XmlDescriptor::kChildren; ++i) {
        path.initFifo(2, root.tag, "*");
        after = root.getTag(&path, after);
        if (!after)
            break;
    }
    path.initFifo(3, "*", "*", "*");
    root.setAttributeValue("name", "\"x\"\r\n", &path);

    std::ostringstream out;
    root.fileWrite(out);
    std::istringstream again(out.str());
    XmlDescriptor copy(again);
    return 0;
}
