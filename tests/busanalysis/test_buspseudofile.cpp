// The built-in bus files: table order and the two look-ups, the descriptors as the XML reader
// reads them, message files, icons, the CAN 500 kbps figures, and the generator's stable output.
#include "busanalysis/buspseudofile.h"

#include "busanalysis/busxmlvalue.h"
#include "core/xmlutilities.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <strings.h>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> rowNames()
{
    std::vector<std::string> names;
    for (const TBusPseudoFile* f = getBusDataPage(); f->name; ++f)
        names.emplace_back(f->name);
    return names;
}

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string value(XmlDescriptor& root, const char* a, const char* b = nullptr, const char* c = nullptr)
{
    XmlFifo path;
    if (c)
        path.initFifo(4, "FILEBUS", a, b, c);
    else if (b)
        path.initFifo(3, "FILEBUS", a, b);
    else
        path.initFifo(2, "FILEBUS", a);
    return root.getAttributeValue("a", &path);
}

XmlDescriptor* child(XmlDescriptor* parent, const std::string& tag, int nth = 0)
{
    for (XmlDescriptor* c : parent->children) {
        if (!c)
            break;
        if (strcasecmp(c->tag, tag.c_str()) == 0 && nth-- == 0)
            return c;
    }
    return nullptr;
}

} // namespace

TEST(BusPseudoFileTest, TableOrderAndTerminator)
{
    const std::vector<std::string> names = rowNames();
    ASSERT_EQ(names.size(), 54u);
    EXPECT_EQ(names[0], "/ProfibusPA.bus");
    EXPECT_EQ(names[7], "/Ethernet_100baseT.bus");
    EXPECT_EQ(names[8], "/messages/en.xml");
    EXPECT_EQ(names[12], "/messages/es.xml");
    EXPECT_EQ(names[13], "/FlexRay_10Mbps.bus");
    EXPECT_EQ(names[14], "/mil-std-1553_direct.bus");
    EXPECT_EQ(names[15], "/bitmap/can.png");
    EXPECT_EQ(names[29], "/bitmap/profibusPA.png");
    EXPECT_EQ(names[53], "/CanHS_400kbps.bus");
    EXPECT_EQ(getBusDataPage()[54].data, nullptr);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 54u);
}

TEST(BusPseudoFileTest, ExactLookUp)
{
    struct Case {
        const char* name;
        bool found;
    } cases[] = {
        {"/KNX.bus", true}, {"KNX.bus", false}, {"/knx.bus", false}, {"/KNX.bus ", false},
        {"", false},        {"/bitmap/can.png", true}, {"/messages/de.xml", true},
    };
    for (const Case& c : cases) {
        const unsigned char marker = 0;
        const unsigned char* data = &marker;
        int size = -7;
        EXPECT_EQ(getBusPseudoFileContent(c.name, &data, &size), c.found ? 1 : 0) << c.name;
        if (c.found) {
            EXPECT_NE(data, &marker);
            EXPECT_GT(size, 0);
        } else {
            EXPECT_EQ(data, &marker) << "outputs untouched";
            EXPECT_EQ(size, -7);
        }
    }
    const unsigned char* data = nullptr;
    int size = 0;
    EXPECT_EQ(getBusPseudoFileContent(nullptr, &data, &size), 0);
}

TEST(BusPseudoFileTest, SuffixLookUpTakesTheFirstRow)
{
    struct Case {
        const char* name;
        const char* row;  // null: none
    } cases[] = {
        {"KNX.bus", "/KNX.bus"},
        {"/RS485_10Mbps.bus", "/RS485_10Mbps.bus"},
        {"_10Mbps.bus", "/RS485_inf4V_10Mbps.bus"},  // the earlier row wins
        {"10Mbps.bus", "/RS485_inf4V_10Mbps.bus"},
        {"can.png", "/bitmap/can.png"},
        {"en.xml", "/messages/en.xml"},
        {".bus", "/ProfibusPA.bus"},
        {"knx.bus", nullptr},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const TBusPseudoFile* f = findBusPseudoFileBySuffix(c.name);
        if (c.row) {
            ASSERT_NE(f, nullptr) << c.name;
            EXPECT_STREQ(f->name, c.row);
        } else {
            EXPECT_EQ(f, nullptr) << (c.name ? c.name : "null");
        }
    }
}

TEST(BusPseudoFileTest, EveryDescriptorReadsAsAValidTree)
{
    static const std::set<int> known = {0x10,   0x20,   0x1000, 0x1010, 0x1020, 0x1030, 0x1040, 0x1050, 0x1080,
                                        0x1090, 0x10A0, 0x4002, 0x4004, 0x4008, 0x4010, 0x4020, 0x4021, 0x4022,
                                        0x4040, 0x4080, 0x4081, 0x4082, 0x4084, 0x4100, 0x4101, 0x4102, 0x4103,
                                        0x4808, 0x4810, 0x4820, 0x4840, 0x4850, 0x4880, 0x4881, 0x4882};
    int descriptors = 0;
    for (const std::string& name : rowNames()) {
        if (!endsWith(name, ".bus"))
            continue;
        ++descriptors;
        SCOPED_TRACE(name);
        XmlDescriptor root(name.c_str(), false);
        ASSERT_TRUE(root.valid);
        const std::string title = value(root, "BUS", "TITLE");
        EXPECT_NE(title.find('@'), std::string::npos);
        EXPECT_EQ(value(root, "General", "VSoftTavlinIV"), "1.12");
        int64_t steps = 0;
        ASSERT_TRUE(readBusInteger(value(root, "BUS", "NbMesureMax"), 16, true, &steps));
        int groups = 0;
        int measures = 0;
        while (XmlDescriptor* step = child(&root, "MESURE" + std::to_string(groups))) {
            ++groups;
            for (int m = 0; XmlDescriptor* e = child(step, "MESURE", m); ++m) {
                ++measures;
                int64_t id = 0;
                XmlDescriptor* idElement = child(e, "IdMesure");
                ASSERT_NE(idElement, nullptr);
                ASSERT_TRUE(readBusInteger(idElement->getAttributeValue("a"), 16, true, &id));
                EXPECT_TRUE(known.count(static_cast<int>(id))) << std::hex << id;
            }
        }
        EXPECT_EQ(groups, steps);
        EXPECT_LE(groups, 27);
        EXPECT_LE(measures, 16);

        // The icon it names decodes as an image of the image item's size.
        const std::string bitmap = "/" + value(root, "General", "BITMAP");
        const unsigned char* data = nullptr;
        int size = 0;
        ASSERT_EQ(getBusPseudoFileContent(bitmap.c_str(), &data, &size), 1) << bitmap;
        QImage image;
        ASSERT_TRUE(image.loadFromData(data, size, "PNG")) << bitmap;
        EXPECT_EQ(image.size(), QSize(256, 150));
    }
    EXPECT_EQ(descriptors, 34);
}

TEST(BusPseudoFileTest, MessageFilesHoldEveryKey)
{
    for (const char* language : {"en", "fr", "it", "de", "es"}) {
        const std::string name = std::string("/messages/") + language + ".xml";
        SCOPED_TRACE(name);
        XmlDescriptor root(name.c_str(), false);
        ASSERT_TRUE(root.valid);
        EXPECT_STREQ(root.tag, "resources");
        for (int i = 0; i <= 16; ++i) {
            XmlFifo path;
            const std::string key = i == 0 ? std::string("msgTitle") : "msg" + std::to_string(i);
            path.initFifo(2, "resources", key.c_str());
            const std::string text = root.getText(&path);
            EXPECT_FALSE(text.empty()) << key;
            EXPECT_LE(text.size(), 49u) << key;
        }
    }
    XmlDescriptor en("/messages/en.xml", false);
    XmlFifo path;
    path.initFifo(2, "resources", "msg15");
    EXPECT_EQ(en.getText(&path), "- Excessive noise between 7.8kHz and 39.1kHz");
    path.initFifo(2, "resources", "msgTitle");
    EXPECT_EQ(en.getText(&path), "Check the following items:");
}

TEST(BusPseudoFileTest, CanHs500ReadsBackAsGiven)
{
    XmlDescriptor root("/CanHS_500kbps.bus", false);
    ASSERT_TRUE(root.valid);
    EXPECT_EQ(value(root, "BUS", "TITLE"), "CAN HS 500 kbps@ISO 11898-2");
    EXPECT_EQ(value(root, "BUS", "NbMesureMax"), "10");
    EXPECT_EQ(value(root, "General", "BITMAP"), "bitmap/can.png");
    struct Global {
        const char* tag;
        const char* a;
    } globals[] = {{"TimeBase", "13"},       {"RunAfterDel", "-10000"}, {"SensiCh1", "5"},     {"SensiCh4", "6"},
                   {"ModeTrig", "0"},        {"ValideCh1", "1"},        {"ValideCh4", "1"},    {"CouplageCh1", "1"},
                   {"CouplageCh4", "1"},     {"DecadeCh1", "-33"},      {"TrigSource", "0"},   {"LevelTrigCh1", "100"},
                   {"TrigCoupCh1", "1"},     {"TrigNoiseCh1", "0"},     {"TrigSelect", "0"},   {"TrigPulseType", "0"},
                   {"TrigPulseWidthD", "374"}};
    for (const Global& g : globals)
        EXPECT_EQ(value(root, "SETUP", g.tag), g.a) << g.tag;

    // step, tag path within MESURE<step>, value
    struct Field {
        int step;
        const char* section;
        const char* tag;
        const char* a;
    } fields[] = {
        {0, "MESURE", "NameMesure", "Vdiff Dom"}, {0, "MESURE", "IdMesure", "$1040"},
        {0, "MESURE", "LimiteMin", "1.2"},        {0, "MESURE", "LimiteMax", "3"},
        {0, "MESURE", "Warning", "10"},           {0, "MESURE", "NbMesuresMax", "10"},
        {0, "MESURE", "InfluenceMes", "1"},       {0, "SETUPMESURE", "IdVoie", "0"},
        {0, "SETUPMESURE", "TrigMin", "$80000"},  {0, "SETUPMESURE", "TrigMax", "$82000"},
        {0, "SETUPMESURE", "TimeBitTheo", "100000"}, {0, "SETUPMESURE", "NbAcq", "1"},
        {0, "SETUPMESURE", "TypeCodage", "0"},    {0, "SETUP", "ValideCh4", "0"},
        {0, "SETUP", "RunAfterDel", "-95000"},    {0, "SETUP", "TrigSelect", "1"},
        {0, "SETUP", "TimeBase", "7"},            {0, "SETUP", "ModeTrig", "2"},
        {1, "MESURE", "IdMesure", "$1030"},       {1, "MESURE", "LimiteMin", "-0.12"},
        {1, "MESURE", "LimiteMax", "0.05"},       {1, "SETUP", "TrigSlopeCh1", "1"},
        {2, "MESURE", "NameMesure", "VCanH Dom"}, {2, "MESURE", "LimiteMin", "-0.8"},
        {2, "MESURE", "LimiteMax", "7"},          {2, "SETUPMESURE", "IdVoie", "3"},
        {2, "SETUP", "ValideCh4", "1"},           {2, "SETUP", "TrigSlopeCh1", "0"},
        {3, "MESURE", "LimiteMin", "-2.12"},      {3, "MESURE", "IdMesure", "$1030"},
        {4, "MESURE", "IdMesure", "$10"},         {4, "MESURE", "LimiteMin", "---"},
        {4, "MESURE", "LimiteMax", "3.12e-07"},   {4, "SETUP", "TimeBase", "6"},
        {4, "SETUP", "RunAfterDel", "-50000"},    {5, "MESURE", "IdMesure", "$20"},
        {6, "MESURE", "IdMesure", "$4020"},       {6, "MESURE", "Warning", "---"},
        {6, "MESURE", "NbMesuresMax", "1"},       {6, "SETUPMESURE", "TimeBitTheo", "4000"},
        {6, "SETUPMESURE", "NbAcq", "10"},        {6, "SETUP", "TimeBase", "11"},
        {6, "SETUP", "TrigSlopeCh1", "2"},        {7, "MESURE", "IdMesure", "$4080"},
        {7, "MESURE", "NameMesure", "Jitter"},    {7, "SETUPMESURE", "TrigMin", "$7F800"},
        {7, "SETUPMESURE", "TrigMax", "$80800"},  {7, "SETUPMESURE", "NbAcq", "150"},
        {7, "SETUP", "TimeBase", "12"},           {8, "MESURE", "IdMesure", "$1090"},
        {8, "SETUP", "TimeBase", "7"},            {9, "MESURE", "IdMesure", "$10A0"},
        {9, "SETUP", "TrigSlopeCh1", "0"},
    };
    for (const Field& f : fields) {
        const std::string step = "MESURE" + std::to_string(f.step);
        EXPECT_EQ(value(root, step.c_str(), f.section, f.tag), f.a) << step << "/" << f.section << "/" << f.tag;
    }
    struct Diag {
        int step;
        std::vector<std::string> keys;
    } diags[] = {{0, {"msg1", "msg3", "msg2", "msg4"}}, {2, {"msg6", "msg7", "msg2", "msg4", "msg3"}},
                 {7, {"msg4"}},                         {9, {}}};
    for (const Diag& d : diags) {
        XmlDescriptor* step = child(&root, "MESURE" + std::to_string(d.step));
        ASSERT_NE(step, nullptr);
        std::vector<std::string> keys;
        for (int i = 0; XmlDescriptor* diag = child(step, "DIAG", i); ++i)
            keys.push_back(diag->getAttributeValue("msg"));
        EXPECT_EQ(keys, d.keys) << d.step;
    }
}

TEST(BusPseudoFileTest, GeneratorWritesIdenticalBytes)
{
    std::string outputs[2];
    for (int run = 0; run < 2; ++run) {
        const std::string target = ::testing::TempDir() + "busfiles" + std::to_string(run) + ".cpp";
        const std::string command = std::string("'") + BUSGEN_PROGRAM + "' '" + target + "' '" + BUS_ICON_FOLDER + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::ifstream in(target, std::ios::binary);
        outputs[run].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::remove(target.c_str());
    }
    EXPECT_GT(outputs[0].size(), 100000u);
    EXPECT_EQ(outputs[0], outputs[1]);
}
