// The system's own small XML tree: one fixed-size node per element, read line by line from a
// seekable stream, searched with tag paths and written back in a fixed layout. It carries the
// bus descriptors, the user limit files, the bus report's message file and the bus results.
// Each caller owns its trees; nothing here is shared between threads.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

// Token kinds of the tokenizer, in the order of their values.
enum XmlOperand : int {
    XmlDeclaration = 0,    // "<!" or "<?"
    XmlStartTag = 1,       // "<"
    XmlEmptyEnd = 2,       // "/>"
    XmlEndTag = 3,         // "</"
    XmlStartTagEnd = 4,    // ">"
    XmlCommentStart = 5,   // "<!--"
    XmlCommentEnd = 6,     // "-->"
    XmlText = 7,
    XmlAttribute = 8,
    XmlBlankLine = 9,
    XmlError = 10,         // or end of input
};

// A tag path: a ring of 10 pointers to the caller's names (not copied), at most 9 names. A
// look-up that matches consumes it: initialise it again before each look-up.
struct XmlFifo {
    static constexpr int kSlots = 10;

    // Empties the path and appends count names given as further const char* arguments; names
    // beyond the ninth are dropped.
    void initFifo(short count, ...);
    bool isEmpty() const { return readIndex == writeIndex; }
    int count() const { return (writeIndex - readIndex + kSlots) % kSlots; }
    const char* head() const { return isEmpty() ? nullptr : names[readIndex]; }
    void advance()
    {
        if (!isEmpty())
            readIndex = static_cast<uint16_t>((readIndex + 1) % kSlots);
    }

    const char* names[kSlots] = {};
    uint16_t readIndex = 0;
    uint16_t writeIndex = 0;
};

class XmlReader;

class XmlDescriptor {
public:
    static constexpr int kTagSize = 50;
    static constexpr int kAttributes = 4;
    static constexpr int kAttributeNameSize = 10;
    static constexpr int kAttributeValueSize = 50;
    static constexpr int kTextSize = 50;
    static constexpr int kChildren = 30;
    static constexpr int kComments = 10;
    static constexpr int kCommentSize = 10;
    // Bounds of one read: beyond any of them the read fails like a 31st child.
    static constexpr int kMaxDepth = 32;  // the root is level 1
    static constexpr int kMaxElements = 8192;
    static constexpr long kMaxInput = 1L << 20;

    XmlDescriptor();
    explicit XmlDescriptor(std::istream& in);
    XmlDescriptor(const char* name, bool inFileSystem);
    ~XmlDescriptor();
    XmlDescriptor(const XmlDescriptor&) = delete;
    XmlDescriptor& operator=(const XmlDescriptor&) = delete;

    // Every field zero or empty; the children are destroyed.
    void clear();

    // One element with its subtree from the stream's position (which must be seekable); the
    // valid flag.
    bool fileRead(std::istream& in);
    // inFileSystem: name is a file's path (null: the valid flag unchanged). Otherwise name is
    // a built-in descriptor ("/ProfibusPA.bus"), read from memory; an unknown one leaves the
    // valid flag unchanged. A file that cannot be opened gives an empty, invalid node.
    bool fileRead(const char* name, bool inFileSystem);
    // The element and its subtree; true when the stream is still good.
    bool fileWrite(std::ostream& out);
    // Into /media/user/bus-limits/name, replacing an older file only once the new one is
    // complete. False for an empty name, one holding '/' or beginning with '.', or a failed write.
    bool fileWrite(const char* name);

    // The node the path designates, or null (path restored). With after: the next node after
    // it among the repeated siblings that match the path's last name.
    XmlDescriptor* getTag(XmlFifo* path, XmlDescriptor* after = nullptr);
    // The first non-empty value of the attribute (name without regard to case) among the
    // designated nodes; without a path, this node's. Empty when none (path restored).
    std::string getAttributeValue(std::string name, XmlFifo* path = nullptr);
    // Writes an existing attribute of the first designated node (without a path, of this node):
    // at most 49 characters, '"' and control characters stored as blanks.
    void setAttributeValue(std::string name, std::string value, XmlFifo* path = nullptr);
    // The first non-empty text among the designated nodes, or an empty string.
    std::string getText(XmlFifo* path = nullptr);

    // A stored text for display: "&gt;", "&lt;" and then "&amp;" decoded, '@' a line break,
    // Latin-1 bytes in, UTF-8 out.
    static std::string xmlToText(std::string text);

    uint8_t valid;
    char tag[kTagSize];
    char attributeNames[kAttributes][kAttributeNameSize];
    char attributeValues[kAttributes][kAttributeValueSize];
    char text[kTextSize];
    XmlDescriptor* children[kChildren];
    char comments[kComments][kCommentSize];

private:
    bool readElement(XmlReader& reader, int depth);
    bool headMatches(const XmlFifo* path) const;
    const char* ownAttribute(const std::string& name) const;
    std::string findFirst(const std::string& attribute, XmlFifo* path, bool wantText);
};
