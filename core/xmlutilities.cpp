#include "core/xmlutilities.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "busanalysis/buspseudofile.h"
#include "core/fileio.h"
#include "core/utilities.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxLine = 99;
constexpr char kLimitsDir[] = "/media/user/bus-limits";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void copyCut(char* field, size_t size, std::string_view word)
{
    std::memset(field, 0, size);
    std::memcpy(field, word.data(), std::min(word.size(), size - 1));
}

} // namespace

// The line-based tokenizer over one read: every step looks at the rest of the current line and
// leaves the read position where the next step starts. It keeps the position itself and the
// line last taken from the stream, so that the steps within one line cost no stream calls;
// sync() hands the position back to the stream. Keeps the bounds of the read.
class XmlReader {
public:
    explicit XmlReader(std::istream& in) : sb_(in.rdbuf())
    {
        if (!in.good() || !sb_) {
            failed_ = true;
            return;
        }
        start_ = pos_ = sb_->pubseekoff(0, std::ios::cur, std::ios::in);
        failed_ = start_ < 0;
    }

    bool failed() const { return failed_; }
    void fail() { failed_ = true; }
    std::streamoff position() const { return pos_; }
    bool seek(std::streamoff p)
    {
        if (p - start_ > XmlDescriptor::kMaxInput)
            failed_ = true;
        if (!failed_)
            pos_ = p;
        return !failed_;
    }
    bool skip(int count) { return seek(pos_ + count); }
    void sync()
    {
        if (!failed_ && sb_->pubseekpos(pos_, std::ios::in) != std::streampos(pos_))
            failed_ = true;
    }
    bool countElement()
    {
        if (++elements_ > XmlDescriptor::kMaxElements)
            failed_ = true;
        return !failed_;
    }

    // The rest of the current line (CRs at its end excluded) into line_, the line's end into
    // afterLine_; false at the end of input or for a line over 99 characters.
    bool readRest()
    {
        line_ = std::string_view();
        lineStart_ = pos_;
        if (failed_ || pos_ - start_ > XmlDescriptor::kMaxInput)
            return false;
        if (!cacheValid_ || pos_ < cacheStart_ || pos_ > cacheStart_ + std::streamoff(cacheLine_.size())) {
            cacheValid_ = false;
            if (sb_->pubseekpos(pos_, std::ios::in) != std::streampos(pos_)) {
                failed_ = true;
                return false;
            }
            char buffer[kMaxLine + 3];  // the line, two CRs and the LF
            const std::streamsize got = sb_->sgetn(buffer, sizeof buffer);
            const void* lf = got > 0 ? std::memchr(buffer, '\n', static_cast<size_t>(got)) : nullptr;
            if (!lf)
                return false;  // end of input, or a line too long
            cacheLine_.assign(buffer, static_cast<size_t>(static_cast<const char*>(lf) - buffer));
            cacheStart_ = pos_;
            cacheAfter_ = pos_ + std::streamoff(cacheLine_.size()) + 1;
            while (!cacheLine_.empty() && cacheLine_.back() == '\r')
                cacheLine_.pop_back();
            cacheOk_ = cacheLine_.size() <= kMaxLine;
            cacheValid_ = true;
        }
        if (!cacheOk_)
            return false;
        line_ = std::string_view(cacheLine_).substr(static_cast<size_t>(pos_ - cacheStart_));
        afterLine_ = cacheAfter_;
        return true;
    }

    XmlOperand getXmlOperand(XmlOperand previous)
    {
        if (!readRest())
            return XmlError;
        size_t i = 0;
        while (i < line_.size() && (isBlank(line_[i]) || line_[i] == '\r'))
            ++i;
        if (i == line_.size())
            return seek(afterLine_) ? XmlBlankLine : XmlError;
        if (!seek(lineStart_ + std::streamoff(i)))
            return XmlError;
        std::string_view token = line_.substr(i);
        std::string withoutCr;
        if (token.find('\r') != std::string_view::npos) {
            for (char c : token)
                if (c != '\r')
                    withoutCr.push_back(c);
            token = withoutCr;
        }
        auto begins = [&token](std::string_view p) { return token.substr(0, p.size()) == p; };
        if (begins("</"))
            return XmlEndTag;
        if (begins("<!--"))
            return XmlCommentStart;
        if (begins("<!") || begins("<?"))
            return XmlDeclaration;
        if (begins("-->"))
            return XmlCommentEnd;
        if (begins("<"))
            return XmlStartTag;
        if (begins("/>"))
            return XmlEmptyEnd;
        if (begins(">"))
            return XmlStartTagEnd;
        const size_t separator = token.find_first_of("</>-=");
        if (separator != std::string_view::npos && token[separator] == '=')
            return previous == XmlStartTag || previous == XmlAttribute ? XmlAttribute : XmlError;
        // Text, or a line holding no separator at all.
        return previous == XmlStartTag || previous == XmlEndTag || previous == XmlAttribute ? XmlError : XmlText;
    }

    // A word of the current line into buffer (size - 1 characters at most; none without a
    // buffer): a quoted word runs to the closing quote and the position is behind it, else it
    // runs to the first stop character, on which the position stays, or to the line end. The
    // stop character found ('"' for a quoted word), 0 for none.
    int readWord(char* buffer, size_t size, const char* stops)
    {
        if (!readRest()) {
            fail();
            return 0;
        }
        size_t i = 0;
        while (i < line_.size() && isBlank(line_[i]))
            ++i;
        size_t from = i;
        size_t to;
        size_t after;
        int found;
        if (i < line_.size() && line_[i] == '"') {
            from = i + 1;
            const size_t quote = line_.find('"', from);
            if (quote == std::string_view::npos) {
                to = after = line_.size();
                found = 0;
            } else {
                to = quote;
                after = quote + 1;
                found = '"';
            }
        } else {
            const size_t stop = line_.find_first_of(stops, from);
            if (stop == std::string_view::npos) {
                to = after = line_.size();
                found = 0;
            } else {
                to = after = stop;
                found = static_cast<unsigned char>(line_[stop]);
            }
        }
        if (buffer && size > 0)
            copyCut(buffer, size, line_.substr(from, to - from));
        seek(lineStart_ + std::streamoff(after));
        return found;
    }

    // name="value": no blank on either side of '=', double quotes only.
    bool readAttribute(char* name, char* value)
    {
        if (readWord(name, XmlDescriptor::kAttributeNameSize, " =>") != '=')
            return false;
        // The position is on the '=' of the line just read.
        const size_t quote = static_cast<size_t>(pos_ - lineStart_) + 1;
        if (quote >= line_.size() || line_[quote] != '"' || !skip(1))
            return false;
        return readWord(value, XmlDescriptor::kAttributeValueSize, " />") == '"';
    }

    // Over the next c (within the read's bounds).
    bool skipPast(char c)
    {
        if (readRest()) {
            const size_t at = line_.find(c);
            if (at != std::string_view::npos)
                return seek(lineStart_ + std::streamoff(at) + 1);
        }
        if (failed_ || sb_->pubseekpos(pos_, std::ios::in) != std::streampos(pos_)) {
            failed_ = true;
            return false;
        }
        for (std::streamoff p = pos_; p - start_ <= XmlDescriptor::kMaxInput; ++p) {
            const int got = sb_->sbumpc();
            if (got == std::char_traits<char>::eof())
                break;
            if (got == c)
                return seek(p + 1);
        }
        failed_ = true;
        return false;
    }

private:
    std::streambuf* sb_;
    std::streamoff start_ = 0;
    std::streamoff pos_ = 0;
    std::streamoff lineStart_ = 0;
    std::streamoff afterLine_ = 0;
    std::string_view line_;
    std::string cacheLine_;
    std::streamoff cacheStart_ = 0;
    std::streamoff cacheAfter_ = 0;
    bool cacheValid_ = false;
    bool cacheOk_ = false;
    int elements_ = 0;
    bool failed_ = false;
};

void XmlFifo::initFifo(short count, ...)
{
    readIndex = writeIndex = 0;
    va_list names_;
    va_start(names_, count);
    for (short i = 0; i < count; ++i) {
        const char* name = va_arg(names_, const char*);
        if (this->count() < kSlots - 1) {
            names[writeIndex] = name;
            writeIndex = static_cast<uint16_t>((writeIndex + 1) % kSlots);
        }
    }
    va_end(names_);
}

XmlDescriptor::XmlDescriptor()
{
    std::memset(children, 0, sizeof children);
    clear();
}

XmlDescriptor::XmlDescriptor(std::istream& in) : XmlDescriptor()
{
    fileRead(in);
}

XmlDescriptor::XmlDescriptor(const char* name, bool inFileSystem) : XmlDescriptor()
{
    fileRead(name, inFileSystem);
}

XmlDescriptor::~XmlDescriptor()
{
    for (XmlDescriptor*& child : children)
        delete child;
}

void XmlDescriptor::clear()
{
    for (XmlDescriptor*& child : children) {
        delete child;
        child = nullptr;
    }
    valid = 0;
    std::memset(tag, 0, sizeof tag);
    std::memset(attributeNames, 0, sizeof attributeNames);
    std::memset(attributeValues, 0, sizeof attributeValues);
    std::memset(text, 0, sizeof text);
    std::memset(comments, 0, sizeof comments);
}

bool XmlDescriptor::fileRead(std::istream& in)
{
    clear();
    XmlReader reader(in);
    // A tree that failed is no tree: nothing of it is kept.
    if (reader.failed() || !reader.countElement() || !readElement(reader, 1)) {
        clear();
        return false;
    }
    // The stream stands behind the element, where a caller may read on.
    reader.sync();
    return true;
}

bool XmlDescriptor::readElement(XmlReader& reader, int depth)
{
    clear();
    XmlOperand previous = XmlError;
    int attributes = 0;
    int childCount = 0;
    int commentCount = 0;
    bool error = false;
    while (!valid && !error && !reader.failed()) {
        const std::streamoff before = reader.position();
        const XmlOperand op = reader.getXmlOperand(previous);
        switch (op) {
        case XmlDeclaration:
            error = !reader.skipPast('>');
            break;
        case XmlStartTag:
            if (!tag[0]) {
                error = !reader.skip(1);
                if (!error)
                    reader.readWord(tag, sizeof tag, " />");
            } else if (childCount >= kChildren || depth >= kMaxDepth || !reader.countElement()) {
                error = true;
            } else {
                auto* child = new XmlDescriptor();
                children[childCount++] = child;
                error = !child->readElement(reader, depth + 1);
            }
            break;
        case XmlEmptyEnd:
            if (reader.skip(2))
                valid = 1;
            break;
        case XmlEndTag:
            if (reader.skipPast('>'))
                valid = 1;
            break;
        case XmlStartTagEnd:
            error = !reader.skip(1);
            break;
        case XmlCommentStart:
            error = !reader.skip(4);
            if (!error) {
                char* slot = commentCount < kComments ? comments[commentCount] : nullptr;
                reader.readWord(slot, kCommentSize, "-");
                ++commentCount;
            }
            break;
        case XmlCommentEnd:
            error = !reader.skip(3);
            break;
        case XmlText:
            reader.readWord(text[0] ? nullptr : text, sizeof text, "<");
            break;
        case XmlAttribute: {
            char name[kAttributeNameSize];
            char value[kAttributeValueSize];
            error = !reader.readAttribute(name, value);
            if (!error && attributes < kAttributes) {
                std::memcpy(attributeNames[attributes], name, sizeof name);
                std::memcpy(attributeValues[attributes], value, sizeof value);
                ++attributes;
            }
            break;
        }
        case XmlBlankLine:
            break;
        case XmlError:
            error = true;
            break;
        }
        if (op != XmlBlankLine)
            previous = op;
        // Every step moves on or ends the read.
        if (!valid && !error && !reader.failed() && reader.position() <= before)
            error = true;
    }
    if (error || reader.failed()) {
        reader.fail();
        valid = 0;
    }
    return valid != 0;
}

bool XmlDescriptor::fileRead(const char* name, bool inFileSystem)
{
    if (!name)
        return valid != 0;
    if (inFileSystem) {
        std::ifstream file(boardPath(name), std::ios::binary);
        if (!file) {
            clear();
            return false;
        }
        return fileRead(file);
    }
    const unsigned char* content = nullptr;
    int size = 0;
    if (!getBusPseudoFileContent(name, &content, &size) || size < 0)
        return valid != 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(content), static_cast<size_t>(size)));
    return fileRead(in);
}

bool XmlDescriptor::fileWrite(std::ostream& out)
{
    std::string start = "<" + std::string(tag);
    std::string attributes;
    for (int i = 0; i < kAttributes; ++i)
        if (attributeNames[i][0])
            attributes += std::string(" ") + attributeNames[i] + "=\"" + attributeValues[i] + "\"";
    bool hasContent = children[0] != nullptr;
    for (const char* comment : comments)
        hasContent = hasContent || comment[0] != 0;
    const char* close = hasContent ? ">" : "/>";
    if (start.size() + attributes.size() + std::strlen(close) <= kMaxLine) {
        out << start << attributes << close << "\r\n";
    } else {
        // A line the reader could not take: one attribute per line.
        out << start << "\r\n";
        for (int i = 0; i < kAttributes; ++i)
            if (attributeNames[i][0])
                out << attributeNames[i] << "=\"" << attributeValues[i] << "\"\r\n";
        out << close << "\r\n";
    }
    if (hasContent) {
        for (XmlDescriptor* child : children) {
            if (!child)
                break;
            child->fileWrite(out);
        }
        for (const char* comment : comments)
            if (comment[0])
                out << "<!--" << comment << "-->\r\n";
        out << "</" << tag << ">\r\n";
    }
    return out.good();
}

bool XmlDescriptor::fileWrite(const char* name)
{
    if (!name || !*name || std::strchr(name, '/') || name[0] == '.')
        return false;
    const std::string dir = boardPath(kLimitsDir);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        ::mkdir(dir.c_str(), 0777);

    std::ostringstream text;
    if (!fileWrite(text))
        return false;
    text << "\r\n";
    const std::string bytes = text.str();

    // The old file stays until the new one is complete.
    TAtomicFile file(dir + "/" + name);
    const bool ok = file.fd() >= 0 && writeAll(file.fd(), bytes.data(), bytes.size()) && file.commit();
    deviceIO().syncAll();
    return ok;
}

bool XmlDescriptor::headMatches(const XmlFifo* path) const
{
    const char* head = path->head();
    return head && (std::strcmp(head, "*") == 0 || stricmp(head, tag) == 0);
}

XmlDescriptor* XmlDescriptor::getTag(XmlFifo* path, XmlDescriptor* after)
{
    if (!path || !headMatches(path))
        return nullptr;
    const XmlFifo saved = *path;
    path->advance();
    if (path->isEmpty())
        return this;
    int first = 0;
    if (after && path->count() == 1) {
        first = 1;
        for (int i = 0; i < kChildren && children[i]; ++i) {
            if (children[i] == after) {
                first = i + 1;
                break;
            }
        }
    }
    for (int i = first; i < kChildren && children[i]; ++i) {
        const XmlFifo before = *path;
        if (XmlDescriptor* found = children[i]->getTag(path, after))
            return found;
        *path = before;
    }
    *path = saved;
    return nullptr;
}

const char* XmlDescriptor::ownAttribute(const std::string& name) const
{
    for (int i = 0; i < kAttributes; ++i)
        if (attributeNames[i][0] && stricmp(attributeNames[i], name.c_str()) == 0)
            return attributeValues[i];
    return nullptr;
}

std::string XmlDescriptor::findFirst(const std::string& attribute, XmlFifo* path, bool wantText)
{
    if (!headMatches(path))
        return std::string();
    const XmlFifo saved = *path;
    path->advance();
    if (path->isEmpty()) {
        const char* own = wantText ? text : ownAttribute(attribute);
        if (own && *own)
            return own;
    } else {
        for (int i = 0; i < kChildren && children[i]; ++i) {
            std::string found = children[i]->findFirst(attribute, path, wantText);
            if (!found.empty())
                return found;
        }
    }
    *path = saved;
    return std::string();
}

std::string XmlDescriptor::getAttributeValue(std::string name, XmlFifo* path)
{
    if (!path) {
        const char* own = ownAttribute(name);
        return own ? own : "";
    }
    return findFirst(name, path, false);
}

std::string XmlDescriptor::getText(XmlFifo* path)
{
    if (!path)
        return text;
    return findFirst(std::string(), path, true);
}

void XmlDescriptor::setAttributeValue(std::string name, std::string value, XmlFifo* path)
{
    XmlDescriptor* node = path ? getTag(path) : this;
    if (!node)
        return;
    for (int i = 0; i < kAttributes; ++i) {
        if (node->attributeNames[i][0] && stricmp(node->attributeNames[i], name.c_str()) == 0) {
            // A quote or a line end would make the written file unreadable.
            for (char& c : value)
                if (c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    c = ' ';
            copyCut(node->attributeValues[i], kAttributeValueSize, value);
            return;
        }
    }
}

std::string XmlDescriptor::xmlToText(std::string text)
{
    auto replaceAll = [&text](const std::string& from, const std::string& to) {
        std::string out;
        out.reserve(text.size());
        size_t at = 0;
        for (size_t found; (found = text.find(from, at)) != std::string::npos; at = found + from.size())
            out.append(text, at, found - at).append(to);
        out.append(text, at, std::string::npos);
        text.swap(out);
    };
    replaceAll("&gt;", ">");
    replaceAll("&lt;", "<");
    replaceAll("&amp;", "&");
    replaceAll("@", "\n");
    std::string utf8;
    utf8.reserve(text.size() * 2);
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            utf8.push_back(c);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (b >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return utf8;
}
