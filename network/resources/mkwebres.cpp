// Build-time tool of the web server's resources.
//
//   mkwebres jar OUT SIZE EPOCH TITLE DESCRIPTION
//     Writes a Java archive placeholder of exactly SIZE bytes: a stored (uncompressed) ZIP
//     holding a manifest, a short note that the client is not part of this build, and a
//     padding entry of zeros. Every entry carries the DOS time of EPOCH (UTC), so the bytes
//     depend on the arguments only.
//
//   mkwebres embed BASE FILE...
//     Writes BASE.h and BASE.cpp: one array kWeb_<name> and one constant kWeb_<name>_size per
//     file, <name> being the file name with every character outside [A-Za-z0-9] made "_".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

uint32_t crc32(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(std::string& out, uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

struct Entry {
    std::string name;
    std::string data;
    uint32_t crc = 0;
    uint32_t offset = 0;
};

int makeJar(const char* out, long size, long epoch, const std::string& title, const std::string& description)
{
    time_t t = static_cast<time_t>(epoch);
    tm utc{};
    if (!gmtime_r(&t, &utc) || utc.tm_year < 80) {
        std::fprintf(stderr, "mkwebres: bad time %ld\n", epoch);
        return 1;
    }
    const uint32_t dosTime = static_cast<uint32_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
    const uint32_t dosDate = static_cast<uint32_t>(((utc.tm_year - 80) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);

    std::vector<Entry> entries;
    entries.push_back({"META-INF/MANIFEST.MF",
                       "Manifest-Version: 1.0\r\n"
                       "Implementation-Title: " + title + " (placeholder)\r\n"
                       "Created-By: benchview build\r\n\r\n"});
    entries.push_back({"README.txt",
                       title + ".jar is a placeholder.\n\n"
                       "The " + description + " is not part of this build of benchview.\n"
                       "This archive only stands at its name, with the size that the instrument's\n"
                       "web server announces for it. It contains no program.\n"});
    entries.push_back({"padding.bin", std::string()});

    auto localSize = [](const Entry& e) { return 30 + e.name.size() + e.data.size(); };
    auto centralSize = [](const Entry& e) { return 46 + e.name.size(); };
    size_t fixed = 22;
    for (const Entry& e : entries)
        fixed += localSize(e) + centralSize(e);
    if (size < 0 || static_cast<size_t>(size) < fixed || static_cast<unsigned long>(size) > 0x7FFFFFFFul) {
        std::fprintf(stderr, "mkwebres: %s cannot be %ld bytes (at least %zu)\n", out, size, fixed);
        return 1;
    }
    entries.back().data.assign(static_cast<size_t>(size) - fixed, '\0');

    std::string zip;
    for (Entry& e : entries) {
        e.crc = crc32(e.data);
        e.offset = static_cast<uint32_t>(zip.size());
        put32(zip, 0x04034b50);
        put16(zip, 10);  // version needed: stored entries
        put16(zip, 0);   // flags
        put16(zip, 0);   // method: stored
        put16(zip, dosTime);
        put16(zip, dosDate);
        put32(zip, e.crc);
        put32(zip, static_cast<uint32_t>(e.data.size()));
        put32(zip, static_cast<uint32_t>(e.data.size()));
        put16(zip, static_cast<uint32_t>(e.name.size()));
        put16(zip, 0);  // extra
        zip += e.name;
        zip += e.data;
    }
    const uint32_t central = static_cast<uint32_t>(zip.size());
    for (const Entry& e : entries) {
        put32(zip, 0x02014b50);
        put16(zip, 20);  // made by: FAT, 2.0
        put16(zip, 10);
        put16(zip, 0);
        put16(zip, 0);
        put16(zip, dosTime);
        put16(zip, dosDate);
        put32(zip, e.crc);
        put32(zip, static_cast<uint32_t>(e.data.size()));
        put32(zip, static_cast<uint32_t>(e.data.size()));
        put16(zip, static_cast<uint32_t>(e.name.size()));
        put16(zip, 0);  // extra
        put16(zip, 0);  // comment
        put16(zip, 0);  // disk
        put16(zip, 0);  // internal attributes
        put32(zip, 0);  // external attributes
        put32(zip, e.offset);
        zip += e.name;
    }
    const uint32_t centralLength = static_cast<uint32_t>(zip.size()) - central;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<uint32_t>(entries.size()));
    put16(zip, static_cast<uint32_t>(entries.size()));
    put32(zip, centralLength);
    put32(zip, central);
    put16(zip, 0);
    if (zip.size() != static_cast<size_t>(size)) {
        std::fprintf(stderr, "mkwebres: internal size error\n");
        return 1;
    }
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    f.write(zip.data(), static_cast<std::streamsize>(zip.size()));
    f.close();
    return f ? 0 : 1;
}

std::string symbolOf(const std::string& path)
{
    std::string base = path.substr(path.find_last_of('/') + 1);
    std::string s = "kWeb_";
    for (char c : base)
        s += ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) ? c : '_';
    return s;
}

// A string literal of the bytes, 64 bytes per source line; the array's size includes the
// literal's own NUL, which is not part of the resource.
void writeLiteral(std::ostream& out, const std::string& bytes)
{
    if (bytes.empty()) {
        out << "    \"\"";
        return;
    }
    for (size_t i = 0; i < bytes.size(); i += 64) {
        out << (i ? "\n    \"" : "    \"");
        for (size_t k = i; k < bytes.size() && k < i + 64; ++k) {
            unsigned char c = static_cast<unsigned char>(bytes[k]);
            if (c == '"' || c == '\\' || c == '?') {
                out << '\\' << c;
            } else if (c >= 0x20 && c < 0x7F) {
                out << c;
            } else {
                char esc[5];
                std::snprintf(esc, sizeof esc, "\\%03o", c);
                out << esc;
            }
        }
        out << '"';
    }
}

bool writeIfChanged(const std::string& path, const std::string& content)
{
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::ostringstream old;
        old << in.rdbuf();
        if (old.str() == content)
            return true;
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
    f.close();
    return static_cast<bool>(f);
}

int embed(const std::string& base, int count, char** files)
{
    std::ostringstream h, c;
    std::string header = base.substr(base.find_last_of('/') + 1) + ".h";
    h << "// Generated by mkwebres from network/resources: do not edit.\n#pragma once\n\n#include <cstdint>\n\n";
    c << "// Generated by mkwebres from network/resources: do not edit.\n#include \"network/" << header << "\"\n\n";
    for (int i = 0; i < count; ++i) {
        std::ifstream in(files[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "mkwebres: cannot read %s\n", files[i]);
            return 1;
        }
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const std::string data = bytes.str();
        const std::string sym = symbolOf(files[i]);
        h << "extern const char " << sym << "[];\nconstexpr int32_t " << sym << "_size = " << data.size() << ";\n";
        c << "const char " << sym << "[" << data.size() + 1 << "] =\n";
        writeLiteral(c, data);
        c << ";\n\n";
    }
    if (!writeIfChanged(base + ".h", h.str()) || !writeIfChanged(base + ".cpp", c.str())) {
        std::fprintf(stderr, "mkwebres: cannot write %s\n", base.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 7 && std::strcmp(argv[1], "jar") == 0)
        return makeJar(argv[2], std::atol(argv[3]), std::atol(argv[4]), argv[5], argv[6]);
    if (argc >= 3 && std::strcmp(argv[1], "embed") == 0)
        return embed(argv[2], argc - 3, argv + 3);
    std::fprintf(stderr, "usage: mkwebres jar OUT SIZE EPOCH TITLE DESCRIPTION | embed BASE FILE...\n");
    return 2;
}
