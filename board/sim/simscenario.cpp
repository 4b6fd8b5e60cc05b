// The scenario file of the simulated board: defaults, JSON reading and writing, seeding.
#include "board/sim/simboard.h"

#include "board/board.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace simboard {

namespace {

// Objects keep the file's order (gpio lines, the written file follows SCENARIO.txt's table).
using Json = nlohmann::ordered_json;

const char* const kShapes[] = {"dc", "sine", "square", "triangle", "harmonics", "noise", "bus"};
const char* const kWires[] = {"diff", "high", "low"};
// Checked before the library parses: nothing a scenario needs nests deeper.
constexpr int kMaxDepth = 64;
constexpr size_t kMaxHarmonics = 1000;

TSignal signal(const char* shape, double vpp, double frequency)
{
    TSignal s;
    s.shape = shape;
    s.vpp = vpp;
    s.frequency = frequency;
    return s;
}

// "line L, column C: " of the byte at 1-based position.
std::string place(const std::string& text, size_t position)
{
    int line = 1, column = 1;
    for (size_t i = 0; i + 1 < position && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
}

// 1-based position of the first bracket nesting deeper than kMaxDepth, outside strings; 0 if none.
// Until its first error the parser sees the same strings, so it never nests deeper than this.
size_t tooDeepAt(const std::string& text)
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth)
                return i + 1;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return 0;
}

// The library's message without its prefix and without the token read so far (it can be long and
// hold any byte).
std::string parseErrorText(const std::string& lastToken, const Json::exception& ex)
{
    if (ex.id == 406)
        return "number out of range";
    std::string what = ex.what();
    size_t p = what.find("] ");
    if (p != std::string::npos)
        what.erase(0, p + 2);
    if (what.rfind("parse error", 0) == 0 && (p = what.find(": ")) != std::string::npos)
        what.erase(0, p + 2);
    std::string token = "; last read: '" + lastToken + "'";
    if ((p = what.find(token)) != std::string::npos)
        what.erase(p, token.size());
    static const std::string endOfInput = "expected end of input";
    if (what.size() >= endOfInput.size() && what.compare(what.size() - endOfInput.size(), endOfInput.size(), endOfInput) == 0)
        return "unexpected text after the value";
    return what;
}

// Builds the document from the library's parse events and keeps the place of an error.
class TDocumentBuilder : public nlohmann::json_sax<Json> {
public:
    explicit TDocumentBuilder(Json* root) : root_(root) {}
    size_t errorPosition = 0;
    std::string errorText;

    bool null() override { return add(nullptr); }
    bool boolean(bool v) override { return add(v); }
    bool number_integer(number_integer_t v) override { return add(v); }
    bool number_unsigned(number_unsigned_t v) override { return add(v); }
    bool number_float(number_float_t v, const string_t&) override { return add(v); }
    bool string(string_t& v) override { return add(std::move(v)); }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t& k) override
    {
        slot_ = &(*open_.back())[k];  // a repeated key: the last one wins
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string& lastToken, const Json::exception& ex) override
    {
        errorPosition = position;
        if (ex.id == 406 && position >= lastToken.size())
            errorPosition = position + 1 - lastToken.size();  // the number's first digit
        errorText = parseErrorText(lastToken, ex);
        return false;
    }

private:
    Json* put(Json v)
    {
        if (open_.empty()) {
            *root_ = std::move(v);
            return root_;
        }
        if (open_.back()->is_array()) {
            open_.back()->push_back(std::move(v));
            return &open_.back()->back();
        }
        *slot_ = std::move(v);
        return slot_;
    }
    bool add(Json v)
    {
        put(std::move(v));
        return true;
    }
    bool open(Json v)
    {
        open_.push_back(put(std::move(v)));
        return true;
    }
    bool close()
    {
        open_.pop_back();
        return true;
    }

    Json* root_;
    Json* slot_ = nullptr;
    std::vector<Json*> open_;  // the arrays and objects being filled, innermost last
};

// Parses one JSON text; on error "line L, column C: what".
bool parseJsonText(const std::string& text, Json* out, std::string* error)
{
    std::string why;
    size_t position = 0;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        position = 1;
        why = "a byte order mark is not allowed";
    } else if ((position = tooDeepAt(text)) != 0) {
        why = "nesting deeper than " + std::to_string(kMaxDepth) + " levels";
    } else {
        TDocumentBuilder builder(out);
        if (Json::sax_parse(text, &builder))
            return true;
        position = builder.errorPosition;
        why = builder.errorText;
    }
    if (error)
        *error = place(text, position) + why;
    return false;
}

// A number as a double; integers beyond 2^53 (not exact in a double) and non-finite values fail.
bool exactNumber(const Json& v, double* out)
{
    constexpr uint64_t kExact = uint64_t(1) << 53;
    if (v.is_number_unsigned()) {
        uint64_t n = v.get<uint64_t>();
        if (n > kExact)
            return false;
        *out = static_cast<double>(n);
        return true;
    }
    if (v.is_number_integer()) {
        int64_t n = v.get<int64_t>();
        if (n > int64_t(kExact) || n < -int64_t(kExact))
            return false;
        *out = static_cast<double>(n);
        return true;
    }
    if (v.is_number_float()) {
        *out = v.get<double>();
        return std::isfinite(*out);
    }
    return false;
}

// Reads the members of one object; the first error wins and names the member's place.
class TReader {
public:
    explicit TReader(std::string* error) : error_(error) {}
    bool ok() const { return ok_; }

    bool fail(const std::string& where, const std::string& what)
    {
        if (ok_ && error_)
            *error_ = where + ": " + what;
        ok_ = false;
        return false;
    }

    const Json* member(const Json& obj, const char* key) const
    {
        auto it = obj.find(key);
        return it != obj.end() && !it->is_null() ? &*it : nullptr;
    }

    // A number of lo..hi at place.
    bool inRange(const Json& v, const std::string& place, double lo, double hi, double* out)
    {
        if (!v.is_number())
            return fail(place, "a number is expected");
        if (!exactNumber(v, out) || *out < lo || *out > hi)
            return fail(place, "out of range");
        return true;
    }

    void number(const Json& obj, const char* key, const std::string& where, double lo, double hi, double* out)
    {
        const Json* v = member(obj, key);
        double n;
        if (v && ok_ && inRange(*v, where + key, lo, hi, &n))
            *out = n;
    }

    template <typename T>
    void integer(const Json& obj, const char* key, const std::string& where, double lo, double hi, T* out)
    {
        const Json* v = member(obj, key);
        if (!v || !ok_)
            return;
        std::string place = where + key;
        double n;
        if (!v->is_number() || (exactNumber(*v, &n) && n != std::floor(n))) {
            fail(place, "a whole number is expected");
            return;
        }
        if (inRange(*v, place, lo, hi, &n))
            *out = static_cast<T>(n);
    }

    void boolean(const Json& obj, const char* key, const std::string& where, bool* out)
    {
        const Json* v = member(obj, key);
        if (!v || !ok_)
            return;
        if (!v->is_boolean()) {
            fail(where + key, "true or false is expected");
            return;
        }
        *out = v->get<bool>();
    }

    // One of the given words.
    void text(const Json& obj, const char* key, const std::string& where, std::vector<std::string> allowed,
              std::string* out)
    {
        const Json* v = member(obj, key);
        if (!v || !ok_)
            return;
        if (!v->is_string() || std::find(allowed.begin(), allowed.end(), v->get<std::string>()) == allowed.end()) {
            std::string words;
            for (const auto& w : allowed)
                words += (words.empty() ? "\"" : ", \"") + w + "\"";
            fail(where + key, "one of " + words + " is expected");
            return;
        }
        *out = v->get<std::string>();
    }

    // Exactly `count` bytes in hexadecimal (blanks allowed between them).
    void hexBytes(const Json& obj, const char* key, const std::string& where, size_t count,
                  std::vector<uint8_t>* out)
    {
        const Json* v = member(obj, key);
        if (!v || !ok_)
            return;
        std::string digits;
        bool good = v->is_string();
        if (good)
            for (char c : v->get<std::string>()) {
                if (std::isxdigit(static_cast<unsigned char>(c)))
                    digits += c;
                else if (c != ' ')
                    good = false;
            }
        if (!good || digits.size() != count * 2) {
            fail(where + key, std::to_string(count) + " bytes in hexadecimal are expected");
            return;
        }
        out->clear();
        for (size_t i = 0; i < count; ++i)
            out->push_back(static_cast<uint8_t>(std::stoi(digits.substr(i * 2, 2), nullptr, 16)));
    }

    bool object(const Json* v, const std::string& place)
    {
        if (v && !v->is_object())
            return fail(place, "an object is expected");
        return v != nullptr;
    }

private:
    std::string* error_;
    bool ok_ = true;
};

// A version as a number or as a text in C notation ("0x0312", "786").
bool readVersion(const Json& v, uint32_t* out)
{
    double n;
    if (v.is_number()) {
        if (!exactNumber(v, &n) || n < 0 || n > 4294967295.0 || n != std::floor(n))
            return false;
        *out = static_cast<uint32_t>(n);
        return true;
    }
    if (!v.is_string())
        return false;
    const std::string& text = v.get_ref<const std::string&>();
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    unsigned long long u = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || u > 0xFFFFFFFFull)
        return false;
    *out = static_cast<uint32_t>(u);
    return true;
}

// Channel 1's "load": {"kind": "resistor", "ohms": ...} | {"kind": "diode", "volts": ...}
// | {"kind": "capacitor", "farads": ..., "leakOhms": ...} | {"kind": "open"}.
void readLoad(TReader& r, const Json& obj, const std::string& where, TLoad* load)
{
    const Json* kind = r.member(obj, "kind");
    const std::string text = kind && kind->is_string() ? kind->get<std::string>() : std::string();
    if (text != "open" && text != "resistor" && text != "diode" && text != "capacitor") {
        r.fail(where + "kind", "\"open\", \"resistor\", \"diode\" or \"capacitor\" is expected");
        return;
    }
    TLoad l;
    l.kind = text;
    r.number(obj, "ohms", where, 0, 1e12, &l.ohms);
    r.number(obj, "volts", where, 0, 10, &l.volts);
    r.number(obj, "farads", where, 0, 1, &l.farads);
    r.number(obj, "leakOhms", where, 0, 1e12, &l.leakOhms);
    if (r.ok())
        *load = l;
}

// A channel's analogue errors: {"gain": ..., "offset": ..., "refP": ..., "refN": ..., "current": ...}.
void readErrors(TReader& r, const Json& obj, const std::string& where, TAnalogErrors* e)
{
    TAnalogErrors v = *e;
    r.number(obj, "gain", where, -0.5, 0.5, &v.gain);
    r.number(obj, "offset", where, -2, 2, &v.offset);
    r.number(obj, "refP", where, -0.5, 0.5, &v.refP);
    r.number(obj, "refN", where, -0.5, 0.5, &v.refN);
    r.number(obj, "current", where, -0.9, 2, &v.current);
    if (r.ok())
        *e = v;
}

Json errorsToJson(const TAnalogErrors& e)
{
    Json j = Json::object();
    j["gain"] = e.gain;
    j["offset"] = e.offset;
    j["refP"] = e.refP;
    j["refN"] = e.refN;
    j["current"] = e.current;
    return j;
}

void readSignal(TReader& r, const Json& obj, const std::string& where, TSignal* s)
{
    if (const Json* shape = r.member(obj, "shape")) {
        bool known = false;
        if (shape->is_string())
            for (const char* k : kShapes)
                known = known || shape->get_ref<const std::string&>() == k;
        if (!known) {
            r.fail(where + "shape", "one of dc, sine, square, triangle, harmonics, noise, bus is expected");
            return;
        }
        s->shape = shape->get<std::string>();
    }
    r.number(obj, "vpp", where, 0, 1e4, &s->vpp);
    r.number(obj, "offset", where, -1e4, 1e4, &s->offset);
    r.number(obj, "frequency", where, 0, 1e10, &s->frequency);
    r.number(obj, "phase", where, -1e6, 1e6, &s->phase);
    r.number(obj, "duty", where, 0, 100, &s->duty);
    if (const Json* wire = r.member(obj, "wire"); wire && r.ok()) {
        int found = -1;
        for (int i = 0; i < 3; ++i)
            if (wire->is_string() && wire->get_ref<const std::string&>() == kWires[i])
                found = i;
        if (found < 0) {
            r.fail(where + "wire", "one of diff, high, low is expected");
            return;
        }
        s->wire = static_cast<TBusWire>(found);
    }
    r.number(obj, "attenuation", where, 1e-6, 1e6, &s->attenuation);
    // Numbers per harmonic order (amplitudes, phases): at most kMaxHarmonics, each within +-1e6.
    const auto orders = [&](const char* key, std::vector<double>* out) {
        const Json* h = r.member(obj, key);
        if (!h || !r.ok())
            return;
        if (!h->is_array() || h->size() > kMaxHarmonics) {
            r.fail(where + key, "an array of at most " + std::to_string(kMaxHarmonics) + " numbers is expected");
            return;
        }
        std::vector<double> list;
        for (size_t i = 0; i < h->size(); ++i) {
            double a;
            if (!r.inRange((*h)[i], where + key + "[" + std::to_string(i) + "]", -1e6, 1e6, &a))
                return;
            list.push_back(a);
        }
        *out = std::move(list);
    };
    orders("harmonics", &s->harmonics);
    orders("harmonicPhases", &s->harmonicPhases);
}

// Channel numbers 1..4 in a list: each one's flag is set.
void readChannelList(TReader& r, const Json& obj, const char* key, std::array<bool, 4>* flags)
{
    const Json* list = r.member(obj, key);
    if (!list || !r.ok())
        return;
    const std::string where = std::string("faults.") + key;
    if (!list->is_array() || list->size() > 4) {
        r.fail(where, "an array of channel numbers 1..4 is expected");
        return;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        double n;
        if (!r.inRange((*list)[i], where + "[" + std::to_string(i) + "]", 1, 4, &n))
            return;
        if (n != std::floor(n)) {
            r.fail(where + "[" + std::to_string(i) + "]", "a channel number 1..4 is expected");
            return;
        }
        (*flags)[static_cast<size_t>(n) - 1] = true;
    }
}

// The start-up faults (key "faults").
void readFaults(TReader& r, const Json& obj, TStartupFaults* f)
{
    readChannelList(r, obj, "deadPipeline", &f->deadPipeline);
    readChannelList(r, obj, "stuckOffsetDac", &f->stuckOffsetDac);
    const Json* codes = r.member(obj, "vernierCode");
    if (!codes || !r.ok())
        return;
    if (!codes->is_array() || codes->size() != 4) {
        r.fail("faults.vernierCode", "an array of 4 codes (-1: none, 0..4095) is expected");
        return;
    }
    for (size_t i = 0; i < 4; ++i) {
        double n;
        const std::string where = "faults.vernierCode[" + std::to_string(i) + "]";
        if (!r.inRange((*codes)[i], where, -1, 4095, &n))
            return;
        if (n != std::floor(n)) {
            r.fail(where, "an integer is expected");
            return;
        }
        f->vernierCode[i] = static_cast<int>(n);
    }
}

// The scenario's bus (key "bus").
void readBus(TReader& r, const Json& obj, TBusConfig* b)
{
    const std::string where = "bus.";
    r.number(obj, "bitRate", where, 1, 1e9, &b->bitRate);
    if (const Json* coding = r.member(obj, "coding"); coding && r.ok()) {
        if (!coding->is_string() || (*coding != "nrz" && *coding != "manchester"))
            r.fail(where + "coding", "\"nrz\" or \"manchester\" is expected");
        else
            b->coding = coding->get<std::string>();
    }
    if (const Json* frame = r.member(obj, "frame"); r.ok() && r.object(frame, where + "frame")) {
        if (const Json* can = r.member(*frame, "can"); r.ok() && r.object(can, where + "frame.can")) {
            TBusConfig c = *b;
            c.canFrame = true;
            r.integer(*can, "id", where + "frame.can.", 0, 0x7FF, &c.canId);
            if (const Json* data = r.member(*can, "data"); data && r.ok()) {
                std::vector<uint8_t> bytes;
                bool good = data->is_string();
                if (good) {
                    const std::string& text = data->get_ref<const std::string&>();
                    std::string digits;
                    for (char ch : text) {
                        if (ch == ' ')
                            continue;
                        good = good && std::isxdigit(static_cast<unsigned char>(ch));
                        digits += ch;
                    }
                    good = good && digits.size() % 2 == 0 && digits.size() <= 16;
                    for (size_t i = 0; good && i < digits.size(); i += 2)
                        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
                }
                if (!good)
                    r.fail(where + "frame.can.data", "at most 8 bytes in hexadecimal (\"55 AA 0F 81\") are expected");
                else
                    c.canData = bytes;
            }
            if (r.ok())
                *b = c;
        } else if (const Json* bits = r.member(*frame, "bits"); bits && r.ok()) {
            if (!bits->is_string() || bits->get_ref<const std::string&>().empty() || bits->size() > 4096 ||
                bits->get_ref<const std::string&>().find_first_not_of("01") != std::string::npos) {
                r.fail(where + "frame.bits", "1 to 4096 characters 0 and 1 are expected");
            } else {
                b->canFrame = false;
                b->bits = bits->get<std::string>();
            }
        }
    }
    r.integer(obj, "idleBits", where, 0, 100000, &b->idleBits);
    if (const Json* levels = r.member(obj, "levels"); r.ok() && r.object(levels, where + "levels")) {
        for (const char* wire : {"high", "low"}) {
            const Json* pair = r.member(*levels, wire);
            if (!pair || !r.ok())
                continue;
            const std::string place = where + "levels." + wire;
            if (!pair->is_array() || pair->size() != 2) {
                r.fail(place, "two voltages (bit value 0, bit value 1) are expected");
                break;
            }
            double* out = std::string(wire) == "high" ? b->high : b->low;
            for (size_t i = 0; i < 2 && r.ok(); ++i) {
                double v;
                if (r.inRange((*pair)[i], place + "[" + std::to_string(i) + "]", -1e4, 1e4, &v))
                    out[i] = v;
            }
        }
    }
    r.number(obj, "edge0", where, 1e-12, 1, &b->edge0);
    r.number(obj, "edge1", where, 1e-12, 1, &b->edge1);
    r.number(obj, "overshoot", where, 0, 10, &b->overshoot);
    r.number(obj, "ringFrequency", where, 0, 1e12, &b->ringFrequency);
    r.number(obj, "ringDecay", where, 1e-12, 1, &b->ringDecay);
    r.number(obj, "jitter", where, 0, 1, &b->jitter);
    r.number(obj, "noise", where, 0, 1e4, &b->noise);
    r.integer(obj, "seed", where, 0, 4294967295.0, &b->seed);
}

std::string hexBytes(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char buf[4];
    for (uint8_t v : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", v);
        out += (out.empty() ? "" : " ") + std::string(buf);
    }
    return out;
}

std::string versionText(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", v);
    return buf;
}

// A channel's probe described by its contents (SCENARIO.txt, key "probe").
void readProbe(TReader& r, const Json& obj, const std::string& where, TProbeDescription* p)
{
    const Json* id = r.member(obj, "id");
    uint32_t value = 0;
    if (!id || !readVersion(*id, &value) || value > 0xFFFF) {
        r.fail(where + "id", "a 16-bit number is expected (a number or a text such as \"0x8001\")");
        return;
    }
    p->id = static_cast<uint16_t>(value);
    r.integer(obj, "colour", where, 0, 255, &p->colour);
    r.integer(obj, "second", where, 0, 255, &p->second);
    r.integer(obj, "button", where, 0, 3, &p->button);
    if (const Json* e = r.member(obj, "expander"); e && r.ok()) {
        if (!readVersion(*e, &value) || (value != 0x21 && value != 0x41))
            r.fail(where + "expander", "0x21 or 0x41 is expected");
        else
            p->expander = static_cast<int>(value);
    }
    if (const Json* f = r.member(obj, "fields"); r.ok() && r.object(f, where + "fields")) {
        for (const auto& m : f->items()) {
            if (!isProbeField(m.key()) || !m.value().is_string()) {
                r.fail(where + "fields." + m.key(), "a text for a known descriptor field is expected");
                return;
            }
            p->fields[m.key()] = m.value().get<std::string>();
        }
    }
    if (const Json* c = r.member(obj, "correction"); c && r.ok()) {
        if (!c->is_string()) {
            r.fail(where + "correction", "a text is expected");
            return;
        }
        p->hasCorrection = true;
        p->correction = c->get<std::string>();
    }
    r.boolean(obj, "correctionMarker", where, &p->correctionMarker);
    if (const Json* d = r.member(obj, "damage"); d && r.ok()) {
        const std::string text = d->is_string() ? d->get<std::string>() : std::string();
        if (text != "header" && text != "descriptor" && text != "userArea")
            r.fail(where + "damage", "one of header, descriptor, userArea is expected");
        else
            p->damage = text;
    }
}

Json probeToJson(const TProbeDescription& p)
{
    Json o = Json::object();
    o["id"] = versionText(p.id);
    if (p.colour >= 0)
        o["colour"] = p.colour;
    o["second"] = p.second;
    o["button"] = p.button;
    o["expander"] = versionText(static_cast<uint32_t>(p.expander));
    Json fields = Json::object();
    for (const auto& f : p.fields)
        fields[f.first] = f.second;
    o["fields"] = std::move(fields);
    if (p.hasCorrection)
        o["correction"] = p.correction;
    o["correctionMarker"] = p.correctionMarker;
    if (!p.damage.empty())
        o["damage"] = p.damage;
    return o;
}

} // namespace

TScenario defaultScenario()
{
    TScenario s;
    s.signals[0] = signal("sine", 2.0, 1000.0);
    s.signals[1] = signal("square", 1.0, 1000.0);
    s.signals[2] = signal("triangle", 0.5, 10000.0);
    s.signals[3] = signal("dc", 0.0, 0.0);
    return s;
}

bool parseScenario(const std::string& json, TScenario* out, std::string* error)
{
    Json root;
    if (!parseJsonText(json, &root, error))
        return false;
    TReader r(error);
    if (!root.is_object()) {
        r.fail("scenario", "an object is expected");
        return false;
    }
    TScenario s = defaultScenario();
    if (const Json* m = r.member(root, "model")) {
        double n;
        if (!m->is_number() || !exactNumber(*m, &n) || (n != 2 && n != 4))
            r.fail("model", "2 or 4 is expected");
        else
            s.model = static_cast<int>(n);
    }
    r.integer(root, "bandwidthLines", "", 0, 3, &s.bandwidthLines);
    r.integer(root, "boardCode", "", 0, 3, &s.boardCode);
    r.boolean(root, "fpgaPreconfigured", "", &s.fpgaPreconfigured);
    if (const Json* v = r.member(root, "fpgaVersion"))
        if (r.ok() && !readVersion(*v, &s.fpgaVersion))
            r.fail("fpgaVersion", "a 32-bit number is expected (a number or a text such as \"0x0312\")");
    if (const Json* ch = r.member(root, "channels"); ch && r.ok()) {
        if (!ch->is_array() || ch->size() > 4) {
            r.fail("channels", "an array of at most 4 channels is expected");
        } else {
            for (size_t i = 0; i < ch->size() && r.ok(); ++i) {
                std::string where = "channels[" + std::to_string(i) + "]";
                const Json& c = (*ch)[i];
                if (c.is_null())
                    continue;
                if (!r.object(&c, where))
                    break;
                const Json* sig = r.member(c, "signal");
                if (r.object(sig, where + ".signal"))
                    readSignal(r, *sig, where + ".signal.", &s.signals[i]);
                if (const Json* load = r.member(c, "load"); i == 0 && load && r.ok() && r.object(load, where + ".load"))
                    readLoad(r, *load, where + ".load.", &s.load);
                if (const Json* errors = r.member(c, "errors"); errors && r.ok() && r.object(errors, where + ".errors"))
                    readErrors(r, *errors, where + ".errors.", &s.errors[i]);
                if (auto img = c.find("probeMemory"); img != c.end() && r.ok()) {
                    const std::string* path = img->is_string() ? &img->get_ref<const std::string&>() : nullptr;
                    if (img->is_null())
                        s.probeImages[i].clear();
                    else if (!path || (!path->empty() && (*path)[0] != '/') || path->find('\0') != std::string::npos)
                        r.fail(where + ".probeMemory", "null or an absolute board path is expected");
                    else
                        s.probeImages[i] = *path;
                }
                if (const Json* probe = r.member(c, "probe"); r.ok() && r.object(probe, where + ".probe")) {
                    if (!s.probeImages[i].empty()) {
                        r.fail(where + ".probe", "a channel takes probeMemory or probe, not both");
                        break;
                    }
                    TProbeDescription d;
                    readProbe(r, *probe, where + ".probe.", &d);
                    s.probes[i] = d;
                }
            }
        }
    }
    if (const Json* b = r.member(root, "bus"); r.ok() && r.object(b, "bus"))
        readBus(r, *b, &s.bus);
    r.number(root, "lux", "", 0, 1e6, &s.lux);
    r.number(root, "speedFactor", "", 1e-6, 1e6, &s.speedFactor);
    r.integer(root, "seed", "", 0, 4294967295.0, &s.seed);
    r.boolean(root, "inputs connected", "", &s.inputsConnected);
    if (const Json* f = r.member(root, "faults"); r.ok() && r.object(f, "faults"))
        readFaults(r, *f, &s.faults);
    if (const Json* bat = r.member(root, "battery"); r.ok() && r.object(bat, "battery")) {
        r.integer(*bat, "percent", "battery.", 0, 100, &s.battery.percent);
        r.boolean(*bat, "charging", "battery.", &s.battery.charging);
        r.boolean(*bat, "wallPower", "battery.", &s.battery.wallPower);
        TBattery& b = s.battery;
        r.text(*bat, "gauge", "battery.", {"bq34z100", "bq2018", "none"}, &b.gauge);
        r.integer(*bat, "voltage_mV", "battery.", 0, 65535, &b.voltage_mV);
        r.integer(*bat, "current_mA", "battery.", -32768, 32767, &b.current_mA);
        r.number(*bat, "temperature_K", "battery.", 0, 6553.5, &b.temperature_K);
        r.integer(*bat, "adc_mV", "battery.", -1, 65535, &b.adc_mV);
        r.integer(*bat, "temperatureCode", "battery.", 0, 7, &b.temperatureCode);
        r.integer(*bat, "chargeTime", "battery.", 0, 65535, &b.chargeTime);
        r.integer(*bat, "dischargeTime", "battery.", 0, 65535, &b.dischargeTime);
        r.integer(*bat, "selfDischarge", "battery.", 0, 65535, &b.selfDischarge);
        r.integer(*bat, "chargeCount", "battery.", 0, 65535, &b.chargeCount);
        r.integer(*bat, "dischargeCount", "battery.", 0, 65535, &b.dischargeCount);
        r.hexBytes(*bat, "ram", "battery.", 26, &b.ram);
        for (auto group : {std::make_pair("chargingRates", &b.chargingRates),
                           std::make_pair("dischargingRates", &b.dischargingRates)}) {
            const std::string where = std::string("battery.") + group.first;
            const Json* rates = r.member(*bat, group.first);
            if (!r.ok() || !r.object(rates, where))
                continue;
            TBattery::TRates& t = *group.second;
            const std::string place = where + ".";
            r.number(*rates, "percent", place, -100, 100, &t.percent);
            r.number(*rates, "chargeTime", place, -65535, 65535, &t.chargeTime);
            r.number(*rates, "dischargeTime", place, -65535, 65535, &t.dischargeTime);
            r.number(*rates, "selfDischarge", place, -65535, 65535, &t.selfDischarge);
            r.number(*rates, "chargeCount", place, -65535, 65535, &t.chargeCount);
            r.number(*rates, "dischargeCount", place, -65535, 65535, &t.dischargeCount);
        }
    }
    if (const Json* fw = r.member(root, "firmware"); r.ok() && r.object(fw, "firmware")) {
        for (auto key : {std::make_pair("server", &s.firmware.server), std::make_pair("caFile", &s.firmware.caFile)}) {
            const Json* v = r.member(*fw, key.first);
            if (!v || !r.ok())
                continue;
            const std::string place = std::string("firmware.") + key.first;
            const std::string* text = v->is_string() ? &v->get_ref<const std::string&>() : nullptr;
            if (!text || text->find('\0') != std::string::npos)
                r.fail(place, "a text is expected");
            else if (key.first == std::string("caFile") && !text->empty() &&
                     (text->rfind("/sim/", 0) != 0 || text->find("/..") != std::string::npos))
                r.fail(place, "a board path under /sim/ is expected");
            else
                *key.second = *text;
        }
    }
    if (const Json* g = r.member(root, "gpio"); r.ok() && r.object(g, "gpio")) {
        for (const auto& m : g->items()) {
            const std::string& key = m.key();
            std::string place = "gpio." + key;
            char* end = nullptr;
            long line = std::strtol(key.c_str(), &end, 10);
            if (key.empty() || *end != '\0' || line < 0 || line > 1023) {
                r.fail(place, "a GPIO line number (0..1023) is expected as the key");
                break;
            }
            int level;
            double n;
            if (m.value().is_boolean())
                level = m.value().get<bool>() ? 1 : 0;
            else if (m.value().is_number() && exactNumber(m.value(), &n) && (n == 0 || n == 1))
                level = static_cast<int>(n);
            else {
                r.fail(place, "0 or 1 is expected");
                break;
            }
            bool replaced = false;
            for (auto& e : s.gpioInputs)
                if (e.first == line) {
                    e.second = level;
                    replaced = true;
                }
            if (!replaced)
                s.gpioInputs.emplace_back(static_cast<int>(line), level);
        }
    }
    if (!r.ok())
        return false;
    *out = std::move(s);
    return true;
}

std::string scenarioToJson(const TScenario& s)
{
    Json root = Json::object();
    root["model"] = s.model;
    root["bandwidthLines"] = s.bandwidthLines;
    root["boardCode"] = s.boardCode;
    root["fpgaPreconfigured"] = s.fpgaPreconfigured;
    root["fpgaVersion"] = versionText(s.fpgaVersion);
    Json channels = Json::array();
    for (int i = 0; i < 4; ++i) {
        const TSignal& g = s.signals[i];
        Json sig = Json::object();
        sig["shape"] = g.shape;
        sig["vpp"] = g.vpp;
        sig["offset"] = g.offset;
        sig["frequency"] = g.frequency;
        sig["phase"] = g.phase;
        sig["duty"] = g.duty;
        sig["harmonics"] = g.harmonics;
        sig["harmonicPhases"] = g.harmonicPhases;
        if (g.shape == "bus") {
            sig["wire"] = kWires[g.wire];
            sig["attenuation"] = g.attenuation;
        }
        Json c = Json::object();
        c["signal"] = std::move(sig);
        c["probeMemory"] = s.probeImages[i].empty() ? Json() : Json(s.probeImages[i]);
        if (s.probes[i])
            c["probe"] = probeToJson(*s.probes[i]);
        if (!(s.errors[i] == TAnalogErrors()))
            c["errors"] = errorsToJson(s.errors[i]);
        if (i == 0) {
            Json load = Json::object();
            load["kind"] = s.load.kind;
            if (s.load.kind == "resistor")
                load["ohms"] = s.load.ohms;
            if (s.load.kind == "diode")
                load["volts"] = s.load.volts;
            if (s.load.kind == "capacitor") {
                load["farads"] = s.load.farads;
                load["leakOhms"] = s.load.leakOhms;
            }
            c["load"] = std::move(load);
        }
        channels.push_back(std::move(c));
    }
    root["channels"] = std::move(channels);
    const TBusConfig& b = s.bus;
    Json bus = Json::object();
    bus["bitRate"] = b.bitRate;
    bus["coding"] = b.coding;
    if (b.canFrame)
        bus["frame"] = {{"can", {{"id", b.canId}, {"data", hexBytes(b.canData)}}}};
    else
        bus["frame"] = {{"bits", b.bits}};
    bus["idleBits"] = b.idleBits;
    bus["levels"] = {{"high", {b.high[0], b.high[1]}}, {"low", {b.low[0], b.low[1]}}};
    bus["edge0"] = b.edge0;
    bus["edge1"] = b.edge1;
    bus["overshoot"] = b.overshoot;
    bus["ringFrequency"] = b.ringFrequency;
    bus["ringDecay"] = b.ringDecay;
    bus["jitter"] = b.jitter;
    bus["noise"] = b.noise;
    bus["seed"] = b.seed;
    root["bus"] = std::move(bus);
    root["lux"] = s.lux;
    root["speedFactor"] = s.speedFactor;
    root["seed"] = s.seed;
    root["inputs connected"] = s.inputsConnected;
    const TBattery& bat = s.battery;
    root["battery"] = {{"percent", bat.percent}, {"charging", bat.charging}, {"wallPower", bat.wallPower},
                       {"gauge", bat.gauge}, {"voltage_mV", bat.voltage_mV}, {"current_mA", bat.current_mA},
                       {"temperature_K", bat.temperature_K}, {"adc_mV", bat.adc_mV},
                       {"temperatureCode", bat.temperatureCode}, {"chargeTime", bat.chargeTime},
                       {"dischargeTime", bat.dischargeTime}, {"selfDischarge", bat.selfDischarge},
                       {"chargeCount", bat.chargeCount}, {"dischargeCount", bat.dischargeCount}};
    for (auto group : {std::make_pair("chargingRates", &bat.chargingRates),
                       std::make_pair("dischargingRates", &bat.dischargingRates)}) {
        const TBattery::TRates& t = *group.second;
        if (t.any())
            root["battery"][group.first] = {{"percent", t.percent},          {"chargeTime", t.chargeTime},
                                            {"dischargeTime", t.dischargeTime}, {"selfDischarge", t.selfDischarge},
                                            {"chargeCount", t.chargeCount},  {"dischargeCount", t.dischargeCount}};
    }
    if (!bat.ram.empty()) {
        std::string hex;
        char two[3];
        for (uint8_t byte : bat.ram) {
            std::snprintf(two, sizeof two, "%02X", byte);
            hex += two;
        }
        root["battery"]["ram"] = hex;
    }
    if (!s.firmware.server.empty() || !s.firmware.caFile.empty())
        root["firmware"] = {{"server", s.firmware.server}, {"caFile", s.firmware.caFile}};
    const TStartupFaults& f = s.faults;
    Json dead = Json::array(), stuck = Json::array();
    for (int c = 0; c < 4; ++c) {
        if (f.deadPipeline[c])
            dead.push_back(c + 1);
        if (f.stuckOffsetDac[c])
            stuck.push_back(c + 1);
    }
    root["faults"] = {{"deadPipeline", dead}, {"stuckOffsetDac", stuck},
                      {"vernierCode", {f.vernierCode[0], f.vernierCode[1], f.vernierCode[2], f.vernierCode[3]}}};
    Json gpio = Json::object();
    for (const auto& g : s.gpioInputs)
        gpio[std::to_string(g.first)] = g.second;
    root["gpio"] = std::move(gpio);
    // Texts set through the API may not be UTF-8: replace such bytes rather than fail.
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool seedScenarioFile()
{
    if (boardRoot().empty())
        return false;
    struct stat st;
    if (::stat(boardPath(kScenarioPath).c_str(), &st) == 0)
        return true;
    ::mkdir(boardPath("/sim").c_str(), 0777);
    return writeBoardFile(kScenarioPath, scenarioToJson(defaultScenario()));
}

void registerScenarioSeed()
{
    registerBoardSeedStep("sim-scenario", [] { seedScenarioFile(); });
}

} // namespace simboard
