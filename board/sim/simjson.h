// A small JSON reader and writer for the simulated board's scenario file (the board library
// stays free of Qt). Numbers are read and written independently of the C locale.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace simboard {

struct TJson {
    enum Type { Null, Bool, Number, String, Array, Object };
    Type type = Null;
    bool boolean = false;
    double number = 0.0;
    std::string string;
    std::vector<TJson> array;
    std::vector<std::pair<std::string, TJson>> object;  // in file order

    static TJson makeNumber(double v);
    static TJson makeString(std::string s);
    static TJson makeBool(bool b);
    static TJson makeArray();
    static TJson makeObject();

    // Object member; nullptr when absent or not an object. With duplicate keys the last wins.
    const TJson* find(const std::string& key) const;
    void set(const std::string& key, TJson value);
};

// Parses one JSON text (RFC 8259; trailing text other than white space is an error). On error
// returns false with "line L, column C: what" in error.
bool parseJson(const std::string& text, TJson* out, std::string* error);
// Indented text ending with a newline.
std::string writeJson(const TJson& value);

} // namespace simboard
