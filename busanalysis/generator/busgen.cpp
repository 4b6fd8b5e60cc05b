// Build-time generator of the built-in bus files: the descriptors (the CAN HS 500 kbps one as
// given, the others derived from busdata.h), the five message files and the bus icons, written
// as one C++ source holding the pseudo file table. It refuses (exit 1) to write a file that the
// XML reader would reject or that breaks the descriptor limits, so a bad table fails the build.
// Usage: busgen <output.cpp> <icon folder>
#include "busdata.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <locale>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using busdata::kNone;

[[noreturn]] void fail(const std::string& file, const std::string& why)
{
    std::cerr << "busgen: " << file << ": " << why << "\n";
    std::exit(1);
}

// ---- Element tree and its text -------------------------------------------------------------

struct TNode {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<TNode> children;

    TNode& child(const std::string& name) { return children.emplace_back(TNode{name, {}, {}, {}}); }
    TNode& value(const std::string& name, const std::string& a)
    {
        TNode& n = child(name);
        n.attributes.emplace_back("a", a);
        return n;
    }
};

void write(const TNode& node, std::string& out)
{
    std::string start = "<" + node.tag;
    for (const auto& [name, value] : node.attributes)
        start += " " + name + "=\"" + value + "\"";
    if (node.children.empty()) {
        out += node.text.empty() ? start + "/>\r\n" : start + ">" + node.text + "</" + node.tag + ">\r\n";
        return;
    }
    out += start + ">\r\n";
    for (const TNode& c : node.children)
        write(c, out);
    out += "</" + node.tag + ">\r\n";
}

// The reader's limits, checked on the tree and on the written lines.
void checkNode(const std::string& file, const TNode& node)
{
    if (node.tag.empty() || node.tag.size() > 49)
        fail(file, "tag size: " + node.tag);
    if (node.attributes.size() > 4)
        fail(file, "more than 4 attributes in " + node.tag);
    for (const auto& [name, value] : node.attributes) {
        if (name.empty() || name.size() > 9 || name.find('-') != std::string::npos)
            fail(file, "attribute name " + name);
        if (value.size() > 49 || value.find_first_of("\"<>&\r\n") != std::string::npos)
            fail(file, "attribute value " + value);
    }
    if (node.text.size() > 49 || node.text.find_first_of("<>&\r\n") != std::string::npos)
        fail(file, "text " + node.text);
    if (node.children.size() > 30)
        fail(file, "more than 30 children in " + node.tag);
    for (const TNode& c : node.children)
        checkNode(file, c);
}

void checkLines(const std::string& file, const std::string& text)
{
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            fail(file, "a line does not end with CR LF");
        if (end - at > 99)
            fail(file, "line over 99 characters: " + text.substr(at, end - at));
        if (text.substr(at, end - at).find_first_of("\r\n") != std::string::npos)
            fail(file, "lone CR or LF");
        at = end + 2;
    }
}

std::string document(const std::string& file, const TNode& root)
{
    checkNode(file, root);
    std::string out = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n";
    write(root, out);
    checkLines(file, out);
    return out;
}

// ---- Value texts ---------------------------------------------------------------------------

std::string hex(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "$%X", v);
    return b;
}

std::string num(double v)
{
    if (v == kNone)
        return "---";
    std::ostringstream s;
    s.imbue(std::locale::classic());
    if (v == std::floor(v) && std::abs(v) < 1e12)
        s << std::fixed << std::setprecision(0);
    else
        s << std::setprecision(6);
    s << v;
    return s.str();
}

std::string integer(long long v) { return std::to_string(v); }

// ---- Descriptor model ----------------------------------------------------------------------

struct TMeasure {
    std::string name;
    std::string unit;
    int id;
    double min = kNone;
    double max = kNone;
    double warning = kNone;
    int nbMesuresMax = 10;
    double tempoCoupAc = 0;
};

using TPairs = std::vector<std::pair<std::string, std::string>>;

struct TStep {
    std::vector<TMeasure> measures;
    TPairs setupMesure;
    TPairs setup;
    std::vector<int> diag;
};

struct TDescriptor {
    std::string file;
    std::string icon;
    std::string title;
    std::string comment;
    double speed;
    TPairs setup;
    std::vector<TStep> steps;
};

const std::set<int>& knownIds()
{
    static const std::set<int> ids = {0x10,   0x20,   0x1000, 0x1010, 0x1020, 0x1030, 0x1040, 0x1050, 0x1080,
                                      0x1090, 0x10A0, 0x4002, 0x4004, 0x4008, 0x4010, 0x4020, 0x4021, 0x4022,
                                      0x4040, 0x4080, 0x4081, 0x4082, 0x4084, 0x4100, 0x4101, 0x4102, 0x4103,
                                      0x4808, 0x4810, 0x4820, 0x4840, 0x4850, 0x4880, 0x4881, 0x4882};
    return ids;
}

std::string toText(const TDescriptor& d)
{
    const std::string file = "/" + d.file + ".bus";
    if (d.steps.size() > 27)
        fail(file, "more than 27 steps");
    size_t measures = 0;
    TNode root{"FileBUs", {}, {}, {}};
    TNode& general = root.child("General");
    general.value("BITMAP", "bitmap/" + d.icon + ".png");
    general.value("VSoftTavlinIV", "1.12");
    general.value("VSoftQuillo", "1.0");
    general.value("User", "");
    TNode& bus = root.child("BUS");
    bus.value("TITLE", d.title);
    bus.value("COMMENT", d.comment);
    bus.value("NbMesureMax", integer(static_cast<long long>(d.steps.size())));
    bus.value("Speed", num(d.speed));
    bus.value("LockedSpeed", "1");
    TNode& setup = root.child("SETUP");
    for (const auto& [k, v] : d.setup)
        setup.value(k, v);
    for (size_t n = 0; n < d.steps.size(); ++n) {
        const TStep& s = d.steps[n];
        TNode& step = root.child("MESURE" + std::to_string(n));
        if (s.measures.empty())
            fail(file, "a step without measurement");
        for (const TMeasure& m : s.measures) {
            if (!knownIds().count(m.id))
                fail(file, "unknown IdMesure " + hex(static_cast<uint32_t>(m.id)));
            ++measures;
            TNode& e = step.child("MESURE");
            TNode& name = e.value("NameMesure", m.name);
            name.attributes.emplace_back("unit", m.unit);
            e.value("IdMesure", hex(static_cast<uint32_t>(m.id)));
            e.value("LimiteMax", num(m.max));
            e.value("LimiteMin", num(m.min));
            e.value("Warning", num(m.warning));
            e.value("NbMesuresMax", integer(m.nbMesuresMax));
            e.value("InfluenceMes", "1");
            e.value("TempoCoupAC", num(m.tempoCoupAc));
            for (int i = 1; i <= 4; ++i)
                e.value("Variable" + std::to_string(i), "0");
        }
        TNode& sm = step.child("SETUPMESURE");
        for (const auto& [k, v] : s.setupMesure)
            sm.value(k, v);
        TNode& st = step.child("SETUP");
        for (const auto& [k, v] : s.setup)
            st.value(k, v);
        for (int key : s.diag) {
            if (key < 1 || key > 16)
                fail(file, "DIAG key");
            step.child("DIAG").attributes.emplace_back("msg", "msg" + std::to_string(key));
        }
    }
    if (measures > 16)
        fail(file, "more than 16 measurements");
    return document(file, root);
}

// ---- The CAN HS 500 kbps descriptor, as given ----------------------------------------------

TMeasure measure(const char* name, const char* unit, int id, double min, double max, double warning,
                 int nbMesuresMax)
{
    return TMeasure{name, unit, id, min, max, warning, nbMesuresMax, 0};
}

TDescriptor can500()
{
    TDescriptor d{"CanHS_500kbps", "can", "CAN HS 500 kbps@ISO 11898-2",
                  "High-speed CAN, differential two-wire bus", 500e3, {}, {}};
    d.setup = {{"TimeBase", "13"},   {"RunAfterDel", "-10000"}, {"SensiCh1", "5"},      {"SensiCh4", "6"},
               {"ModeTrig", "0"},    {"ValideCh1", "1"},        {"ValideCh4", "1"},     {"CouplageCh1", "1"},
               {"CouplageCh4", "1"}, {"DecadeCh1", "-33"},      {"TrigSource", "0"},    {"LevelTrigCh1", "100"},
               {"TrigCoupCh1", "1"}, {"TrigNoiseCh1", "0"},     {"TrigSelect", "0"},    {"TrigPulseType", "0"},
               {"TrigPulseWidthD", "374"}};
    d.steps = {
        {{measure("Vdiff Dom", "V", 0x1040, 1.2, 3.0, 10, 10)},
         {{"IdVoie", "0"}, {"TrigMin", hex(0x80000)}, {"TrigMax", hex(0x82000)}, {"TimeBitTheo", "100000"},
          {"NbAcq", "1"}, {"TypeCodage", "0"}},
         {{"ValideCh4", "0"}, {"RunAfterDel", "-95000"}, {"TrigSelect", "1"}, {"TimeBase", "7"}, {"ModeTrig", "2"}},
         {1, 3, 2, 4}},
        {{measure("Vdiff Rec", "V", 0x1030, -0.12, 0.05, 10, 10)}, {}, {{"TrigSlopeCh1", "1"}}, {1, 3, 2, 4}},
        {{measure("VCanH Dom", "V", 0x1040, -0.8, 7.0, 10, 10)},
         {{"IdVoie", "3"}},
         {{"ValideCh4", "1"}, {"TrigSlopeCh1", "0"}},
         {6, 7, 2, 4, 3}},
        {{measure("VCanH Rec", "V", 0x1030, -2.12, 7.0, 10, 10)}, {}, {{"TrigSlopeCh1", "1"}}, {6, 7, 2, 4, 3}},
        {{measure("Time Rise", "s", 0x10, kNone, 3.12e-07, 10, 10)},
         {{"IdVoie", "0"}},
         {{"RunAfterDel", "-50000"}, {"ValideCh4", "0"}, {"TimeBase", "6"}},
         {5, 8}},
        {{measure("Time Fall", "s", 0x20, kNone, 3.12e-07, 10, 10)}, {}, {{"TrigSlopeCh1", "0"}}, {5, 8}},
        {{measure("Time Data", "s", 0x4020, kNone, kNone, kNone, 1)},
         {{"TimeBitTheo", "4000"}, {"NbAcq", "10"}},
         {{"RunAfterDel", "-10000"}, {"TimeBase", "11"}, {"TrigSlopeCh1", "2"}},
         {5, 8, 4}},
        {{measure("Jitter", "%", 0x4080, kNone, kNone, kNone, 1)},
         {{"TimeBitTheo", "2000"}, {"TrigMin", hex(0x7F800)}, {"TrigMax", hex(0x80800)}, {"NbAcq", "150"}},
         {{"RunAfterDel", "-50000"}, {"TimeBase", "12"}},
         {4}},
        {{measure("Over+", "%", 0x1090, kNone, kNone, kNone, 10)},
         {{"TimeBitTheo", "100000"}, {"NbAcq", "1"}},
         {{"RunAfterDel", "-50000"}, {"TimeBase", "7"}, {"TrigSlopeCh1", "1"}},
         {10, 1, 4}},
        {{measure("Over-", "%", 0x10A0, kNone, kNone, kNone, 10)},
         {{"TimeBitTheo", "100000"}, {"NbAcq", "1"}},
         {{"TrigSlopeCh1", "0"}},
         {}},
    };
    return d;
}

// ---- Derived descriptors -------------------------------------------------------------------

// Seconds per sample of the time bases from 6 up (the record is 100,000 samples).
const double kScaleT[] = {1e-11, 2e-11, 5e-11, 1e-10, 2e-10, 4e-10, 1e-9, 2e-9, 5e-9, 1e-8,
                          2e-8,  5e-8,  1e-7,  2e-7,  5e-7,  1e-6,  2e-6, 4e-6, 1e-5, 2e-5,
                          5e-5,  1e-4,  2e-4,  5e-4,  1e-3,  2e-3,  5e-3, 1e-2, 2e-2};
constexpr int kFirstTimeBase = 6;
constexpr double kRecord = 100000;

// The shortest record that holds the duration.
int timeBaseFor(double seconds)
{
    for (size_t i = 0; i < sizeof kScaleT / sizeof kScaleT[0]; ++i)
        if (kRecord * kScaleT[i] >= seconds * (1 - 1e-9))
            return kFirstTimeBase + static_cast<int>(i);
    return kFirstTimeBase + static_cast<int>(sizeof kScaleT / sizeof kScaleT[0]) - 1;
}

long long samplesAt(double seconds, int timeBase)
{
    return std::llround(seconds / kScaleT[timeBase - kFirstTimeBase]);
}

// Volts per division of the sensitivities with a probe of factor 10.
const double kVoltsPerDiv[] = {0.025, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000};
constexpr double kUnitsPerDiv = 125;  // thousandths of the screen height
constexpr double kCodesPerDiv = 32760;
constexpr double kZeroCode = 524256;

struct TChannelSetup {
    int sensitivity;
    int position;  // thousandths of the screen
    double voltsPerDiv() const { return kVoltsPerDiv[sensitivity]; }
    int displayOf(double v) const { return static_cast<int>(std::lround(v / voltsPerDiv() * kUnitsPerDiv + position)); }
    uint32_t codeOf(double v) const
    {
        return static_cast<uint32_t>(std::lround(kZeroCode + v / voltsPerDiv() * kCodesPerDiv + position * 262.08));
    }
};

// The finest sensitivity that keeps every level within 3.5 divisions of the centre.
TChannelSetup fit(const std::string& file, const std::vector<double>& levels, bool small)
{
    double lo = levels.front();
    double hi = levels.front();
    for (double v : levels) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    for (int s = 0; s < 16; ++s) {
        const double d = kVoltsPerDiv[s];
        const double mid = (lo + hi) / 2;
        const int position = static_cast<int>(std::lround(-mid / d * kUnitsPerDiv));
        if ((hi - lo) / d <= 7 && std::abs(position) <= 1000)
            return TChannelSetup{small ? std::max(s - 1, 0) : s, position};
    }
    fail(file, "no sensitivity holds the levels");
}

// The voltages a channel shows: the limits of its level measurements.
std::vector<double> expectedLevels(const busdata::TFamily& f, int channel, bool ac)
{
    std::vector<double> v;
    for (const busdata::TLevel& l : f.levels) {
        if (l.channel != channel || l.acSignal != ac)
            continue;
        const bool peakToPeak = l.id == 0x1020;
        for (double x : {l.min, l.max}) {
            if (x == kNone)
                continue;
            if (peakToPeak) {
                v.push_back(x / 2);
                v.push_back(-x / 2);
            } else {
                v.push_back(x);
            }
        }
    }
    return v;
}

std::string sens(int channel) { return channel == 3 ? "SensiCh4" : "SensiCh1"; }

TDescriptor derive(const busdata::TFamily& f, const busdata::TVariant& v)
{
    const std::string file = "/" + std::string(v.file) + ".bus";
    TDescriptor d{v.file, f.icon, std::string(f.bus) + " " + v.rate + "@" + f.standard, f.comment, v.bitRate, {}, {}};
    const double bit = 1.0 / v.bitRate;
    const bool pairs = f.typeCodage == 2 || f.typeCodage == 3;
    const double unit = pairs ? bit / 2 : bit;  // the pulse the binary signal sees

    const TChannelSetup ch1 = fit(file, expectedLevels(f, 0, false), v.small);
    const bool hasCh4 = f.wire4 != nullptr;
    const TChannelSetup ch4 = hasCh4 ? fit(file, expectedLevels(f, 3, false), v.small) : ch1;
    bool acSignal = false;
    for (const busdata::TLevel& l : f.levels)
        acSignal = acSignal || l.acSignal;
    const std::vector<double> acLevels = expectedLevels(f, 0, true);
    const TChannelSetup ac = acSignal ? fit(file, acLevels, v.small) : TChannelSetup{0, 0};
    // A supply-borne signal is timed AC-coupled; the levels of the others set the thresholds.
    const TChannelSetup& timing = acSignal ? ac : ch1;
    std::vector<double> all = expectedLevels(f, 0, false);
    double lo = all.front();
    double hi = all.front();
    for (double x : all) {
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    const double mid = acSignal ? 0.0 : (lo + hi) / 2;
    double acPeak = 0;
    for (double x : acLevels)
        acPeak = std::max(acPeak, std::abs(x));
    const double band = acSignal ? acPeak / 5 : (hi - lo) / 10;

    const int levelBase = timeBaseFor(bit);
    const long long pulseWidth = std::llround(1.5 * bit / 8e-9);

    d.setup = {{"TimeBase", integer(timeBaseFor(16 * bit))},
               {"RunAfterDel", "-10000"},
               {"SensiCh1", integer(ch1.sensitivity)},
               {"ModeTrig", "0"},
               {"ValideCh1", "1"},
               {"ValideCh4", hasCh4 ? "1" : "0"},
               {"CouplageCh1", "1"},
               {"DecadeCh1", integer(ch1.position)},
               {"TrigSource", "0"},
               {"LevelTrigCh1", integer(ch1.displayOf(mid))},
               {"TrigCoupCh1", "1"},
               {"TrigNoiseCh1", "0"},
               {"TrigSelect", "0"},
               {"TrigPulseType", "0"},
               {"TrigPulseWidthD", integer(pulseWidth)}};
    if (hasCh4) {
        d.setup.insert(d.setup.begin() + 3, {"SensiCh4", integer(ch4.sensitivity)});
        d.setup.insert(d.setup.begin() + 9, {"CouplageCh4", "1"});
        d.setup.insert(d.setup.begin() + 10, {"DecadeCh4", integer(ch4.position)});
    }

    bool first = true;
    auto commonMesure = [&](TStep& s, int channel, long long bitSamples, int nbAcq) {
        s.setupMesure.emplace_back("IdVoie", integer(channel));
        if (first) {
            s.setupMesure.emplace_back("TrigMinPour", "40");
            s.setupMesure.emplace_back("TrigMaxPour", "60");
            s.setupMesure.emplace_back("TrigMin", hex(timing.codeOf(mid - band)));
            s.setupMesure.emplace_back("TrigMax", hex(timing.codeOf(mid + band)));
            s.setupMesure.emplace_back("TypeCodage", integer(f.typeCodage));
            s.setupMesure.emplace_back("TrigAuto", "1");
            first = false;
        }
        s.setupMesure.emplace_back("TimeBitTheo", integer(bitSamples));
        s.setupMesure.emplace_back("NbAcq", integer(nbAcq));
    };
    auto timingSetup = [&](TStep& s) {
        if (acSignal) {
            s.setup.emplace_back("CouplageCh1", "0");
            s.setup.emplace_back("SensiCh1", integer(ac.sensitivity));
            s.setup.emplace_back("DecadeCh1", integer(ac.position));
            s.setup.emplace_back("LevelTrigCh1", integer(ac.position));
        }
    };

    // Levels: one bit per record, a pulse-width trigger at 95 %.
    for (const busdata::TLevel& l : f.levels) {
        TStep s;
        const std::string unitText = "V";
        TMeasure m{l.name, unitText, l.id, l.min, l.max, 10, 10, 0};
        const TChannelSetup& cs = l.acSignal ? ac : (l.channel == 3 ? ch4 : ch1);
        if (l.acSignal) {
            m.tempoCoupAc = 500;
            s.setup = {{"CouplageCh1", "0"}, {"SensiCh1", integer(ac.sensitivity)}, {"DecadeCh1", integer(ac.position)}};
        } else if (acSignal) {
            s.setup = {{"CouplageCh1", "1"}, {sens(l.channel), integer(cs.sensitivity)}};
        }
        s.setup.emplace_back("ValideCh4", l.channel == 3 ? "1" : "0");
        s.setup.emplace_back("RunAfterDel", "-95000");
        s.setup.emplace_back("TrigSelect", "1");
        s.setup.emplace_back("TimeBase", integer(levelBase));
        s.setup.emplace_back("ModeTrig", "2");
        s.setup.emplace_back("TrigSlopeCh1", l.top ? "0" : "1");
        m.nbMesuresMax = 10;
        s.measures.push_back(m);
        commonMesure(s, l.channel, samplesAt(bit, levelBase), 1);
        s.diag = f.levelDiag;
        d.steps.push_back(s);
    }

    if (v.fftNoise) {
        // The noise band of the supply-borne signal, read on the FFT display.
        TStep s;
        s.measures.push_back(TMeasure{"Noise", "V", 0x4810, kNone, 0.1, 10, 10, 500});
        s.setupMesure = {{"IdVoie", "0"}, {"NbAcq", "1"}, {"LimiteLowFreq", "7800"}, {"LimiteHighFreq", "39100"}};
        s.setup = {{"CouplageCh1", "0"},   {"SensiCh1", integer(ac.sensitivity)}, {"DecadeCh1", "0"},
                   {"RunAfterDel", "-50000"}, {"TrigSelect", "0"},            {"ModeTrig", "0"},
                   {"TimeBase", "18"},        {"Representation", "1"},        {"FftVerticalScale", "0"}};
        s.diag = {15};
        d.steps.push_back(s);
        return d;
    }

    // Edges: a record of at least three times the limit, trigger at 50 %.
    if (v.edgeMax != kNone) {
        const int edgeBase = timeBaseFor(3 * v.edgeMax);
        for (int rise = 1; rise >= 0; --rise) {
            TStep s;
            s.measures.push_back(TMeasure{rise ? "Time Rise" : "Time Fall", "s", rise ? 0x10 : 0x20,
                                          v.edgeMin, v.edgeMax, 10, 10, 0});
            commonMesure(s, 0, samplesAt(bit, edgeBase), 1);
            timingSetup(s);
            s.setup.emplace_back("ValideCh4", "0");
            s.setup.emplace_back("RunAfterDel", "-50000");
            s.setup.emplace_back("TimeBase", integer(edgeBase));
            s.setup.emplace_back("TrigSlopeCh1", rise ? "1" : "0");
            s.diag = f.edgeDiag.empty() ? std::vector<int>{5} : f.edgeDiag;
            d.steps.push_back(s);
        }
    }

    // Bit time over at least 16 bits, jitter over at least 40.
    const int bitBase = timeBaseFor(16 * bit);
    TStep t;
    t.measures.push_back(TMeasure{"Time Data", "s", 0x4020, kNone, kNone, kNone, 1, 0});
    commonMesure(t, 0, samplesAt(unit, bitBase), 10);
    timingSetup(t);
    t.setup.emplace_back("ValideCh4", "0");
    t.setup.emplace_back("RunAfterDel", "-10000");
    t.setup.emplace_back("TimeBase", integer(bitBase));
    t.setup.emplace_back("TrigSlopeCh1", "2");
    t.diag = f.timingDiag;
    d.steps.push_back(t);

    const int jitterBase = timeBaseFor(40 * bit);
    TStep j;
    j.measures.push_back(TMeasure{"Jitter", "%", 0x4080, kNone, kNone, kNone, 1, 0});
    commonMesure(j, 0, samplesAt(unit, jitterBase), 150);
    j.setup = {{"RunAfterDel", "-50000"}, {"TimeBase", integer(jitterBase)}};
    j.diag = {4};
    d.steps.push_back(j);

    // Overshoot: as the levels, trigger at 50 %.
    if (f.overshoot) {
        for (int plus = 1; plus >= 0; --plus) {
            TStep s;
            s.measures.push_back(TMeasure{plus ? "Over+" : "Over-", "%", plus ? 0x1090 : 0x10A0, kNone,
                                          f.overshootMax, f.overshootMax == kNone ? kNone : 10, 10, 0});
            commonMesure(s, 0, samplesAt(bit, levelBase), 1);
            s.setup = {{"RunAfterDel", "-50000"}, {"TimeBase", integer(levelBase)}, {"TrigSlopeCh1", plus ? "1" : "0"}};
            s.diag = f.overshootDiag;
            d.steps.push_back(s);
        }
    }
    return d;
}

// ---- Message files -------------------------------------------------------------------------

// UTF-8 source text to Latin-1.
std::string latin1(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            fail("messages", "a character outside Latin-1");
        }
    }
    return out;
}

const std::map<std::string, std::vector<std::string>>& messages()
{
    static const std::map<std::string, std::vector<std::string>> texts = {
        {"en",
         {"Check the following items:", "- Termination problem", "- Cable length not compliant with standard",
          "- Faulty junction connection", "- Significant noise", "- Unsuitable or damaged cable",
          "- Chassis-ground disturbance problem", "- Common mode problem",
          "- Termination impedance positioned incorrectly", "- Bus termination problem",
          "- Unsuitable cable impedance", "- Too many devices on the bus", "- Faulty power supply",
          "- Faulty transmitter", "- Faulty chassis-ground", "- Excessive noise between 7.8kHz and 39.1kHz",
          "- Excessive noise between 3.91MHz and 25MHz"}},
        {"fr",
         {"Vérifier les points suivants :", "- Problème de terminaison", "- Longueur de câble non conforme à la norme",
          "- Raccordement de jonction défectueux", "- Bruit important", "- Câble inadapté ou endommagé",
          "- Perturbation de la masse châssis", "- Problème de mode commun",
          "- Impédance de terminaison mal placée", "- Problème de terminaison du bus",
          "- Impédance du câble inadaptée", "- Trop de participants sur le bus", "- Alimentation défectueuse",
          "- Émetteur défectueux", "- Masse châssis défectueuse", "- Bruit excessif entre 7.8kHz et 39.1kHz",
          "- Bruit excessif entre 3.91MHz et 25MHz"}},
        {"it",
         {"Controllare i seguenti punti:", "- Problema di terminazione", "- Lunghezza del cavo non conforme alla norma",
          "- Collegamento di giunzione difettoso", "- Rumore significativo", "- Cavo non adatto o danneggiato",
          "- Disturbo sulla massa del telaio", "- Problema di modo comune",
          "- Impedenza di terminazione mal posizionata", "- Problema di terminazione del bus",
          "- Impedenza del cavo non adatta", "- Troppi dispositivi sul bus", "- Alimentazione difettosa",
          "- Trasmettitore difettoso", "- Massa del telaio difettosa", "- Rumore eccessivo tra 7.8kHz e 39.1kHz",
          "- Rumore eccessivo tra 3.91MHz e 25MHz"}},
        {"de",
         {"Folgende Punkte prüfen:", "- Abschlussproblem", "- Kabellänge nicht normgerecht",
          "- Fehlerhafte Verbindungsstelle", "- Starkes Rauschen", "- Ungeeignetes oder beschädigtes Kabel",
          "- Störung der Gehäusemasse", "- Gleichtaktproblem", "- Abschlusswiderstand falsch platziert",
          "- Problem mit dem Busabschluss", "- Ungeeignete Kabelimpedanz", "- Zu viele Teilnehmer am Bus",
          "- Fehlerhafte Stromversorgung", "- Fehlerhafter Sender", "- Fehlerhafte Gehäusemasse",
          "- Starkes Rauschen zwischen 7.8kHz und 39.1kHz", "- Starkes Rauschen zwischen 3.91MHz und 25MHz"}},
        {"es",
         {"Compruebe los siguientes puntos:", "- Problema de terminación", "- Longitud de cable no conforme a la norma",
          "- Conexión de empalme defectuosa", "- Ruido importante", "- Cable inadecuado o dañado",
          "- Perturbación de la masa del chasis", "- Problema de modo común",
          "- Impedancia de terminación mal situada", "- Problema de terminación del bus",
          "- Impedancia del cable inadecuada", "- Demasiados equipos en el bus", "- Alimentación defectuosa",
          "- Transmisor defectuoso", "- Masa del chasis defectuosa", "- Ruido excesivo entre 7.8kHz y 39.1kHz",
          "- Ruido excesivo entre 3.91MHz y 25MHz"}},
    };
    return texts;
}

std::string messageFile(const std::string& language)
{
    const std::vector<std::string>& t = messages().at(language);
    if (t.size() != 17)
        fail(language, "17 texts expected");
    TNode root{"resources", {}, {}, {}};
    for (size_t i = 0; i < t.size(); ++i)
        root.child(i == 0 ? std::string("msgTitle") : "msg" + std::to_string(i)).text = latin1(t[i]);
    return document("/messages/" + language + ".xml", root);
}

// ---- Output --------------------------------------------------------------------------------

std::string readIcon(const std::string& folder, const std::string& name)
{
    std::ifstream in(folder + "/" + name + ".png", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
        fail(name + ".png", "not a PNG image");
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: busgen <output.cpp> <icon folder>\n";
        return 2;
    }
    std::map<std::string, std::string> descriptors;
    descriptors["CanHS_500kbps"] = toText(can500());
    for (const busdata::TFamily& f : busdata::families())
        for (const busdata::TVariant& v : f.variants)
            if (!descriptors.emplace(v.file, toText(derive(f, v))).second)
                fail(v.file, "listed twice");

    static const char* const kDescriptors[] = {
        "ProfibusPA",         "ProfibusDP_inf4V_12Mbps", "RS232_115200bps",        "RS485_inf4V_10Mbps",
        "RS232_9600bps",      "Arinc429_rec_100kbps",    "RS485_19200bps",         "Ethernet_100baseT",
        "FlexRay_10Mbps",     "mil-std-1553_direct",     "ProfibusDP_12Mbps",      "mil-std-1553_transfo_inf4V",
        "mil-std-1553_transfo", "CanHS_500kbps",         "RS485_10Mbps",           "LIN_19200bps",
        "AS-I",               "RS485_9600bps",           "CanHS_1Mbps",            "USB_FullSpeed",
        "Arinc429_send_12-5kbps", "Arinc429_send_100kbps", "RS485_inf4V_19200bps", "CanLS_125Kbps",
        "Ethernet_10baseT",   "ProfibusPA_Noise",        "RS485_inf4V_9600bps",    "Arinc429_rec_12-5kbps",
        "KNX",                "USB_LowSpeed",            "DALI",                   "Ethernet_10base2",
        "mil-std-1553_direct_inf4V", "CanHS_400kbps"};
    static const char* const kIcons[] = {"can",   "mil-std-1553", "lin",       "as-i",         "flexray",
                                         "ether100baseT", "rs232", "knx",     "ether10base2", "arinc",
                                         "ethernet", "usb",      "dali",      "rs485",        "profibusPA"};
    if (descriptors.size() != sizeof kDescriptors / sizeof kDescriptors[0])
        fail("table", "the family table and the file list differ");

    std::vector<std::pair<std::string, std::string>> rows;  // name, bytes
    auto descriptor = [&](int i) {
        auto it = descriptors.find(kDescriptors[i]);
        if (it == descriptors.end())
            fail(kDescriptors[i], "no family row");
        rows.emplace_back("/" + it->first + ".bus", it->second);
    };
    for (int i = 0; i < 8; ++i)
        descriptor(i);
    for (const char* language : {"en", "fr", "it", "de", "es"})
        rows.emplace_back(std::string("/messages/") + language + ".xml", messageFile(language));
    descriptor(8);
    descriptor(9);
    for (const char* icon : kIcons)
        rows.emplace_back(std::string("/bitmap/") + icon + ".png", readIcon(argv[2], icon));
    for (int i = 10; i < 34; ++i)
        descriptor(i);

    std::ostringstream out;
    out << "// Generated at build time by busanalysis/generator/busgen: the built-in bus files.\n"
           "#include \"busanalysis/buspseudofile.h\"\n\nnamespace {\n\n";
    for (size_t r = 0; r < rows.size(); ++r) {
        out << "const unsigned char kFile" << r << "[] = {";
        const std::string& bytes = rows[r].second;
        for (size_t i = 0; i < bytes.size(); ++i)
            out << (i % 24 == 0 ? "\n" : "") << static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << ",";
        out << "\n};\n";
    }
    out << "\n} // namespace\n\nconst TBusPseudoFile busDataPage[] = {\n";
    for (size_t r = 0; r < rows.size(); ++r)
        out << "    {\"" << rows[r].first << "\", kFile" << r << ", " << rows[r].second.size() << "},\n";
    out << "    {nullptr, nullptr, 0},\n};\n";

    const std::string target = argv[1];
    {
        std::ofstream file(target + ".tmp", std::ios::binary);
        file << out.str();
        if (!file)
            fail(target, "cannot write");
    }
    if (std::rename((target + ".tmp").c_str(), target.c_str()) != 0)
        fail(target, "cannot rename");
    return 0;
}
