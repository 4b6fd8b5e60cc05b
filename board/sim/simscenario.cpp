// The scenario file of the simulated board: defaults, JSON reading and writing, seeding.
#include "board/sim/simboard.h"
#include "board/sim/simjson.h"

#include "board/board.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace simboard {

namespace {

const char* const kShapes[] = {"dc", "sine", "square", "triangle", "harmonics", "noise"};

TSignal signal(const char* shape, double vpp, double frequency)
{
    TSignal s;
    s.shape = shape;
    s.vpp = vpp;
    s.frequency = frequency;
    return s;
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

    const TJson* member(const TJson& obj, const char* key) const
    {
        const TJson* v = obj.find(key);
        return v && v->type != TJson::Null ? v : nullptr;
    }

    void number(const TJson& obj, const char* key, const std::string& where, double lo, double hi, double* out)
    {
        const TJson* v = member(obj, key);
        if (!v || !ok_)
            return;
        std::string place = where + key;
        if (v->type != TJson::Number) {
            fail(place, "a number is expected");
            return;
        }
        if (v->number < lo || v->number > hi) {
            fail(place, "out of range");
            return;
        }
        *out = v->number;
    }

    template <typename T>
    void integer(const TJson& obj, const char* key, const std::string& where, double lo, double hi, T* out)
    {
        const TJson* v = member(obj, key);
        if (!v || !ok_)
            return;
        std::string place = where + key;
        if (v->type != TJson::Number || v->number != std::floor(v->number)) {
            fail(place, "a whole number is expected");
            return;
        }
        if (v->number < lo || v->number > hi) {
            fail(place, "out of range");
            return;
        }
        *out = static_cast<T>(v->number);
    }

    void boolean(const TJson& obj, const char* key, const std::string& where, bool* out)
    {
        const TJson* v = member(obj, key);
        if (!v || !ok_)
            return;
        if (v->type != TJson::Bool) {
            fail(where + key, "true or false is expected");
            return;
        }
        *out = v->boolean;
    }

    bool object(const TJson* v, const std::string& place)
    {
        if (v && v->type != TJson::Object)
            return fail(place, "an object is expected");
        return v != nullptr;
    }

private:
    std::string* error_;
    bool ok_ = true;
};

// A version as a number or as a text in C notation ("0x0312", "786").
bool readVersion(const TJson& v, uint32_t* out)
{
    if (v.type == TJson::Number) {
        if (v.number < 0 || v.number > 4294967295.0 || v.number != std::floor(v.number))
            return false;
        *out = static_cast<uint32_t>(v.number);
        return true;
    }
    if (v.type != TJson::String || v.string.empty() || v.string[0] == '-' || v.string[0] == '+')
        return false;
    char* end = nullptr;
    unsigned long long n = std::strtoull(v.string.c_str(), &end, 0);
    if (*end != '\0' || n > 0xFFFFFFFFull)
        return false;
    *out = static_cast<uint32_t>(n);
    return true;
}

// Channel 1's "load": {"kind": "resistor", "ohms": ...} | {"kind": "diode", "volts": ...} | {"kind": "open"}.
void readLoad(TReader& r, const TJson& obj, const std::string& where, TLoad* load)
{
    const TJson* kind = obj.find("kind");
    if (kind == nullptr || kind->type != TJson::String
        || (kind->string != "open" && kind->string != "resistor" && kind->string != "diode")) {
        r.fail(where + "kind", "\"open\", \"resistor\" or \"diode\" is expected");
        return;
    }
    TLoad l;
    l.kind = kind->string;
    r.number(obj, "ohms", where, 0, 1e12, &l.ohms);
    r.number(obj, "volts", where, 0, 10, &l.volts);
    if (r.ok())
        *load = l;
}

void readSignal(TReader& r, const TJson& obj, const std::string& where, TSignal* s)
{
    if (const TJson* shape = r.member(obj, "shape")) {
        bool known = false;
        if (shape->type == TJson::String)
            for (const char* k : kShapes)
                known = known || shape->string == k;
        if (!known) {
            r.fail(where + "shape", "one of dc, sine, square, triangle, harmonics, noise is expected");
            return;
        }
        s->shape = shape->string;
    }
    r.number(obj, "vpp", where, 0, 1e4, &s->vpp);
    r.number(obj, "offset", where, -1e4, 1e4, &s->offset);
    r.number(obj, "frequency", where, 0, 1e10, &s->frequency);
    r.number(obj, "phase", where, -1e6, 1e6, &s->phase);
    r.number(obj, "duty", where, 0, 100, &s->duty);
    if (const TJson* h = r.member(obj, "harmonics")) {
        if (h->type != TJson::Array) {
            r.fail(where + "harmonics", "an array of numbers is expected");
            return;
        }
        std::vector<double> list;
        for (size_t i = 0; i < h->array.size(); ++i) {
            if (h->array[i].type != TJson::Number) {
                r.fail(where + "harmonics[" + std::to_string(i) + "]", "a number is expected");
                return;
            }
            list.push_back(h->array[i].number);
        }
        s->harmonics = std::move(list);
    }
}

std::string versionText(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", v);
    return buf;
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
    TJson root;
    std::string syntax;
    if (!parseJson(json, &root, &syntax)) {
        if (error)
            *error = syntax;
        return false;
    }
    TReader r(error);
    if (root.type != TJson::Object) {
        r.fail("scenario", "an object is expected");
        return false;
    }
    TScenario s = defaultScenario();
    if (const TJson* m = r.member(root, "model")) {
        if (m->type != TJson::Number || (m->number != 2 && m->number != 4))
            r.fail("model", "2 or 4 is expected");
        else
            s.model = static_cast<int>(m->number);
    }
    r.integer(root, "bandwidthLines", "", 0, 3, &s.bandwidthLines);
    r.integer(root, "boardCode", "", 0, 3, &s.boardCode);
    r.boolean(root, "fpgaPreconfigured", "", &s.fpgaPreconfigured);
    if (const TJson* v = r.member(root, "fpgaVersion"))
        if (r.ok() && !readVersion(*v, &s.fpgaVersion))
            r.fail("fpgaVersion", "a 32-bit number is expected (a number or a text such as \"0x0312\")");
    if (const TJson* ch = r.member(root, "channels"); ch && r.ok()) {
        if (ch->type != TJson::Array || ch->array.size() > 4) {
            r.fail("channels", "an array of at most 4 channels is expected");
        } else {
            for (size_t i = 0; i < ch->array.size() && r.ok(); ++i) {
                std::string where = "channels[" + std::to_string(i) + "]";
                const TJson& c = ch->array[i];
                if (c.type == TJson::Null)
                    continue;
                if (!r.object(&c, where))
                    break;
                const TJson* sig = r.member(c, "signal");
                if (r.object(sig, where + ".signal"))
                    readSignal(r, *sig, where + ".signal.", &s.signals[i]);
                if (const TJson* load = c.find("load"); i == 0 && load && r.ok() && r.object(load, where + ".load"))
                    readLoad(r, *load, where + ".load.", &s.load);
                if (const TJson* img = c.find("probeMemory"); img && r.ok()) {
                    if (img->type == TJson::Null)
                        s.probeImages[i].clear();
                    else if (img->type != TJson::String || (!img->string.empty() && img->string[0] != '/'))
                        r.fail(where + ".probeMemory", "null or an absolute board path is expected");
                    else
                        s.probeImages[i] = img->string;
                }
            }
        }
    }
    r.number(root, "lux", "", 0, 1e6, &s.lux);
    r.number(root, "speedFactor", "", 1e-6, 1e6, &s.speedFactor);
    if (r.ok() && r.member(root, "speedFactor") && s.speedFactor <= 0)
        r.fail("speedFactor", "out of range");
    r.integer(root, "seed", "", 0, 4294967295.0, &s.seed);
    r.boolean(root, "inputs connected", "", &s.inputsConnected);
    if (const TJson* bat = r.member(root, "battery"); r.ok() && r.object(bat, "battery")) {
        r.integer(*bat, "percent", "battery.", 0, 100, &s.battery.percent);
        r.boolean(*bat, "charging", "battery.", &s.battery.charging);
        r.boolean(*bat, "wallPower", "battery.", &s.battery.wallPower);
    }
    if (const TJson* g = r.member(root, "gpio"); r.ok() && r.object(g, "gpio")) {
        for (const auto& m : g->object) {
            std::string place = "gpio." + m.first;
            char* end = nullptr;
            long line = std::strtol(m.first.c_str(), &end, 10);
            if (m.first.empty() || *end != '\0' || line < 0 || line > 1023) {
                r.fail(place, "a GPIO line number (0..1023) is expected as the key");
                break;
            }
            int level;
            if (m.second.type == TJson::Bool)
                level = m.second.boolean ? 1 : 0;
            else if (m.second.type == TJson::Number && (m.second.number == 0 || m.second.number == 1))
                level = static_cast<int>(m.second.number);
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
    TJson root = TJson::makeObject();
    root.set("model", TJson::makeNumber(s.model));
    root.set("bandwidthLines", TJson::makeNumber(s.bandwidthLines));
    root.set("boardCode", TJson::makeNumber(s.boardCode));
    root.set("fpgaPreconfigured", TJson::makeBool(s.fpgaPreconfigured));
    root.set("fpgaVersion", TJson::makeString(versionText(s.fpgaVersion)));
    TJson channels = TJson::makeArray();
    for (int i = 0; i < 4; ++i) {
        const TSignal& g = s.signals[i];
        TJson sig = TJson::makeObject();
        sig.set("shape", TJson::makeString(g.shape));
        sig.set("vpp", TJson::makeNumber(g.vpp));
        sig.set("offset", TJson::makeNumber(g.offset));
        sig.set("frequency", TJson::makeNumber(g.frequency));
        sig.set("phase", TJson::makeNumber(g.phase));
        sig.set("duty", TJson::makeNumber(g.duty));
        TJson h = TJson::makeArray();
        for (double a : g.harmonics)
            h.array.push_back(TJson::makeNumber(a));
        sig.set("harmonics", std::move(h));
        TJson c = TJson::makeObject();
        c.set("signal", std::move(sig));
        c.set("probeMemory", s.probeImages[i].empty() ? TJson() : TJson::makeString(s.probeImages[i]));
        if (i == 0) {
            TJson load = TJson::makeObject();
            load.set("kind", TJson::makeString(s.load.kind));
            if (s.load.kind == "resistor")
                load.set("ohms", TJson::makeNumber(s.load.ohms));
            if (s.load.kind == "diode")
                load.set("volts", TJson::makeNumber(s.load.volts));
            c.set("load", std::move(load));
        }
        channels.array.push_back(std::move(c));
    }
    root.set("channels", std::move(channels));
    root.set("lux", TJson::makeNumber(s.lux));
    root.set("speedFactor", TJson::makeNumber(s.speedFactor));
    root.set("seed", TJson::makeNumber(s.seed));
    root.set("inputs connected", TJson::makeBool(s.inputsConnected));
    TJson bat = TJson::makeObject();
    bat.set("percent", TJson::makeNumber(s.battery.percent));
    bat.set("charging", TJson::makeBool(s.battery.charging));
    bat.set("wallPower", TJson::makeBool(s.battery.wallPower));
    root.set("battery", std::move(bat));
    TJson gpio = TJson::makeObject();
    for (const auto& g : s.gpioInputs)
        gpio.set(std::to_string(g.first), TJson::makeNumber(g.second));
    root.set("gpio", std::move(gpio));
    return writeJson(root);
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
