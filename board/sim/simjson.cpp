#include "board/sim/simjson.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace simboard {

TJson TJson::makeNumber(double v)
{
    TJson j;
    j.type = Number;
    j.number = v;
    return j;
}

TJson TJson::makeString(std::string s)
{
    TJson j;
    j.type = String;
    j.string = std::move(s);
    return j;
}

TJson TJson::makeBool(bool b)
{
    TJson j;
    j.type = Bool;
    j.boolean = b;
    return j;
}

TJson TJson::makeArray()
{
    TJson j;
    j.type = Array;
    return j;
}

TJson TJson::makeObject()
{
    TJson j;
    j.type = Object;
    return j;
}

const TJson* TJson::find(const std::string& key) const
{
    if (type != Object)
        return nullptr;
    const TJson* found = nullptr;
    for (const auto& m : object)
        if (m.first == key)
            found = &m.second;
    return found;
}

void TJson::set(const std::string& key, TJson value)
{
    type = Object;
    for (auto& m : object)
        if (m.first == key) {
            m.second = std::move(value);
            return;
        }
    object.emplace_back(key, std::move(value));
}

namespace {

// Nesting is bounded so that a hostile file cannot exhaust the stack.
constexpr int kMaxDepth = 64;

class TParser {
public:
    explicit TParser(const std::string& text) : s_(text) {}

    bool parse(TJson* out, std::string* error)
    {
        skipSpace();
        bool ok = value(out, 0);
        if (ok) {
            skipSpace();
            if (pos_ != s_.size())
                ok = fail("unexpected text after the value");
        }
        if (!ok && error)
            *error = where() + error_;
        return ok;
    }

private:
    std::string where() const
    {
        int line = 1, column = 1;
        for (size_t i = 0; i < errorPos_ && i < s_.size(); ++i) {
            if (s_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
    }

    bool fail(const char* what)
    {
        if (error_.empty()) {
            error_ = what;
            errorPos_ = pos_;
        }
        return false;
    }

    void skipSpace()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool literal(const char* word)
    {
        size_t n = std::strlen(word);
        if (s_.compare(pos_, n, word) != 0)
            return fail("unknown word");
        pos_ += n;
        return true;
    }

    bool value(TJson* out, int depth)
    {
        if (depth > kMaxDepth)
            return fail("nesting too deep");
        if (pos_ >= s_.size())
            return fail("value expected");
        char c = s_[pos_];
        if (c == '{')
            return objectValue(out, depth);
        if (c == '[')
            return arrayValue(out, depth);
        if (c == '"') {
            out->type = TJson::String;
            return stringValue(&out->string);
        }
        if (c == 't') {
            *out = TJson::makeBool(true);
            return literal("true");
        }
        if (c == 'f') {
            *out = TJson::makeBool(false);
            return literal("false");
        }
        if (c == 'n') {
            *out = TJson();
            return literal("null");
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return numberValue(out);
        return fail("value expected");
    }

    bool objectValue(TJson* out, int depth)
    {
        *out = TJson::makeObject();
        ++pos_;
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            if (pos_ >= s_.size() || s_[pos_] != '"')
                return fail("member name expected");
            std::string key;
            if (!stringValue(&key))
                return false;
            skipSpace();
            if (pos_ >= s_.size() || s_[pos_] != ':')
                return fail("':' expected");
            ++pos_;
            skipSpace();
            TJson v;
            if (!value(&v, depth + 1))
                return false;
            out->object.emplace_back(std::move(key), std::move(v));
            skipSpace();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return fail("',' or '}' expected");
        }
    }

    bool arrayValue(TJson* out, int depth)
    {
        *out = TJson::makeArray();
        ++pos_;
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            TJson v;
            if (!value(&v, depth + 1))
                return false;
            out->array.push_back(std::move(v));
            skipSpace();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return fail("',' or ']' expected");
        }
    }

    static void appendUtf8(std::string* out, uint32_t cp)
    {
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    bool hex4(uint32_t* out)
    {
        if (pos_ + 4 > s_.size())
            return fail("bad \\u escape");
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return fail("bad \\u escape");
        }
        *out = v;
        return true;
    }

    bool stringValue(std::string* out)
    {
        ++pos_;  // opening quote
        out->clear();
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("control character in a string");
            if (c != '\\') {
                out->push_back(c);
                ++pos_;
                continue;
            }
            if (++pos_ >= s_.size())
                break;
            char e = s_[pos_++];
            switch (e) {
            case '"': out->push_back('"'); break;
            case '\\': out->push_back('\\'); break;
            case '/': out->push_back('/'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'n': out->push_back('\n'); break;
            case 'r': out->push_back('\r'); break;
            case 't': out->push_back('\t'); break;
            case 'u': {
                uint32_t cp;
                if (!hex4(&cp))
                    return false;
                if (cp >= 0xD800 && cp < 0xDC00) {
                    uint32_t low;
                    if (s_.compare(pos_, 2, "\\u") != 0)
                        return fail("unpaired surrogate");
                    pos_ += 2;
                    if (!hex4(&low) || low < 0xDC00 || low >= 0xE000)
                        return fail("unpaired surrogate");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp < 0xE000) {
                    return fail("unpaired surrogate");
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                --pos_;
                return fail("bad escape");
            }
        }
        return fail("unterminated string");
    }

    bool numberValue(TJson* out)
    {
        size_t start = pos_;
        if (s_[pos_] == '-')
            ++pos_;
        auto digits = [&] {
            size_t d = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
                ++pos_;
            return pos_ - d;
        };
        size_t intStart = pos_;
        if (digits() == 0)
            return fail("bad number");
        if (s_[intStart] == '0' && pos_ - intStart > 1) {
            pos_ = intStart;
            return fail("bad number");
        }
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (digits() == 0)
                return fail("bad number");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-'))
                ++pos_;
            if (digits() == 0)
                return fail("bad number");
        }
        double v = 0;
        auto r = std::from_chars(s_.data() + start, s_.data() + pos_, v);
        if (r.ec != std::errc() || !std::isfinite(v)) {
            pos_ = start;
            return fail("number out of range");
        }
        *out = TJson::makeNumber(v);
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string error_;
    size_t errorPos_ = 0;
};

void writeString(std::string* out, const std::string& s)
{
    out->push_back('"');
    for (unsigned char c : s) {
        switch (c) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        case '\t': *out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                *out += buf;
            } else {
                out->push_back(static_cast<char>(c));
            }
        }
    }
    out->push_back('"');
}

void writeNumber(std::string* out, double v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);  // shortest text that reads back the same
    out->append(buf, r.ptr);
}

void writeValue(std::string* out, const TJson& v, int indent)
{
    std::string pad(static_cast<size_t>(indent) * 2, ' ');
    std::string inner(static_cast<size_t>(indent + 1) * 2, ' ');
    switch (v.type) {
    case TJson::Null: *out += "null"; break;
    case TJson::Bool: *out += v.boolean ? "true" : "false"; break;
    case TJson::Number: writeNumber(out, v.number); break;
    case TJson::String: writeString(out, v.string); break;
    case TJson::Array: {
        bool flat = true;
        for (const auto& e : v.array)
            flat = flat && (e.type != TJson::Array && e.type != TJson::Object);
        if (v.array.empty()) {
            *out += "[]";
        } else if (flat) {
            *out += "[";
            for (size_t i = 0; i < v.array.size(); ++i) {
                if (i)
                    *out += ", ";
                writeValue(out, v.array[i], indent + 1);
            }
            *out += "]";
        } else {
            *out += "[\n";
            for (size_t i = 0; i < v.array.size(); ++i) {
                *out += inner;
                writeValue(out, v.array[i], indent + 1);
                *out += i + 1 < v.array.size() ? ",\n" : "\n";
            }
            *out += pad + "]";
        }
        break;
    }
    case TJson::Object:
        if (v.object.empty()) {
            *out += "{}";
            break;
        }
        *out += "{\n";
        for (size_t i = 0; i < v.object.size(); ++i) {
            *out += inner;
            writeString(out, v.object[i].first);
            *out += ": ";
            writeValue(out, v.object[i].second, indent + 1);
            *out += i + 1 < v.object.size() ? ",\n" : "\n";
        }
        *out += pad + "}";
        break;
    }
}

} // namespace

bool parseJson(const std::string& text, TJson* out, std::string* error)
{
    TJson v;
    TParser p(text);
    if (!p.parse(&v, error))
        return false;
    *out = std::move(v);
    return true;
}

std::string writeJson(const TJson& value)
{
    std::string out;
    writeValue(&out, value, 0);
    out += "\n";
    return out;
}

} // namespace simboard
