// The XML tree: what the reader accepts and stores, its bounds, path look-ups, the writer's
// layout, the limits file and the display conversion.
#include "core/xmlutilities.h"

#include "tests/support/simboardtest.h"

#include "board/board.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A compact view of a tree: tag, attributes, text, comments and children.
std::string shape(const XmlDescriptor& n)
{
    std::string out = n.tag;
    for (int i = 0; i < XmlDescriptor::kAttributes; ++i)
        if (n.attributeNames[i][0])
            out += std::string(" ") + n.attributeNames[i] + "=" + n.attributeValues[i];
    if (n.text[0])
        out += std::string(" '") + n.text + "'";
    for (const auto& c : n.comments)
        if (c[0])
            out += std::string(" !") + c + "!";
    if (n.children[0]) {
        out += " [";
        for (int i = 0; i < XmlDescriptor::kChildren && n.children[i]; ++i)
            out += (i ? ", " : "") + shape(*n.children[i]);
        out += "]";
    }
    return out;
}

std::string written(XmlDescriptor& n)
{
    std::ostringstream out;
    EXPECT_TRUE(n.fileWrite(out));
    return out.str();
}

std::string nested(int depth)
{
    std::string s;
    for (int i = 0; i < depth; ++i)
        s += "<e>\r\n";
    for (int i = 0; i < depth; ++i)
        s += "</e>\r\n";
    return s;
}

std::string siblings(int count)
{
    std::string s = "<r>\r\n";
    for (int i = 0; i < count; ++i)
        s += "<c/>\r\n";
    return s + "</r>\r\n";
}

// A tree of exactly total elements: a root, groups of 30 under 30 under the root.
std::string elements(int total)
{
    std::string s = "<r>\r\n";
    int left = total - 1;
    while (left > 0) {
        s += "<a>\r\n";
        --left;
        for (int j = 0; j < 30 && left > 0; ++j) {
            s += "<b>\r\n";
            --left;
            for (int k = 0; k < 30 && left > 0; ++k, --left)
                s += "<c/>\r\n";
            s += "</b>\r\n";
        }
        s += "</a>\r\n";
    }
    return s + "</r>\r\n";
}

TEST(XmlReadTest, AcceptedAndRefusedInputs)
{
    struct Row {
        const char* what;
        std::string input;
        bool valid;
        std::string tree;  // checked when not empty
    };
    const Row rows[] = {
        {"declaration, attributes, empty children",
         "<?xml version=\"1.0\"?>\r\n<root a=\"1\" b=\"2\">\r\n<c x=\"y\"/>\r\n<d/>\r\n</root>\r\n", true,
         "root a=1 b=2 [c x=y, d]"},
        {"one line with text", "<a k=\"v\">short text</a>\r\n", true, "a k=v 'short text'"},
        {"comment: leading blanks skipped, up to the first -", "<a>\r\n<!-- word -->\r\n</a>\r\n", true, "a !word !"},
        {"comment ends at its first -", "<a>\r\n<!--x-y-->\r\n</a>\r\n", true, "a '-y-->' !x!"},
        {"fifth attribute dropped", "<a p=\"1\" q=\"2\" r=\"3\" s=\"4\" t=\"5\"/>\r\n", true, "a p=1 q=2 r=3 s=4"},
        {"LF only", "<a>\n<b/>\n</a>\n", true, "a [b]"},
        {"attributes on lines of their own", "<a\r\nx=\"1\"\r\ny=\"2\"\r\n/>\r\n", true, "a x=1 y=2"},
        {"text after >", "<a>\r\nhello\r\n</a>\r\n", true, "a 'hello'"},
        {"end tag name not compared", "<a></b>\r\n", true, "a"},
        {"99-character line", "<a x=\"" + std::string(90, 'v') + "\"/>\r\n", true, "a x=" + std::string(49, 'v')},
        {"30 children", siblings(30), true, ""},
        {"depth 32", nested(32), true, ""},
        {"8192 elements", elements(8192), true, ""},
        {"no final line end", "<a>\r\n</a>", false, ""},
        {"blank before =", "<a x =\"1\"/>\r\n", false, ""},
        {"blank after =", "<a x= \"1\"/>\r\n", false, ""},
        {"single quotes", "<a x='1'/>\r\n", false, ""},
        {"unterminated value", "<a x=\"1/>\r\n", false, ""},
        {"100-character line", "<a x=\"" + std::string(91, 'v') + "\"/>\r\n", false, ""},
        {"text after a child", "<a>\r\n<b/>\r\ntext\r\n</a>\r\n", false, ""},
        {"31 children", siblings(31), false, ""},
        {"depth 33", nested(33), false, ""},
        {"8193 elements", elements(8193), false, ""},
        {"more than 1 MiB", "<a>\r\n" + std::string(1100000, '\n') + "</a>\r\n", false, ""},
        {"a line without end", "<a>\r\n" + std::string(3000000, 'x'), false, ""},
        {"NUL bytes", std::string("<a>\r\n\0\0\0\r\n</a>\r\n", 15), false, ""},
        {"binary junk", std::string("\x89PNG\r\n\x1a\n\xff\xfe<<<>>>\x00", 17), false, ""},
        {"empty", "", false, ""},
        {"unclosed", "<a>\r\n<b>\r\n", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::istringstream in(row.input);
        XmlDescriptor root(in);
        EXPECT_EQ(root.valid, row.valid ? 1 : 0);
        if (!row.tree.empty()) {
            EXPECT_EQ(shape(root), row.tree);
        }
    }
}

TEST(XmlReadTest, StoredWordsKeepTheirFieldWidth)
{
    std::istringstream in("<" + std::string(55, 't') + "\r\n" + std::string(12, 'n') + "=\"" + std::string(55, 'v') +
                          "\"\r\n>" + std::string(60, 'x') + "<!--" + std::string(12, 'c') + "-->\r\n</a>\r\n");
    XmlDescriptor root(in);
    ASSERT_TRUE(root.valid);
    EXPECT_EQ(std::string(root.tag), std::string(49, 't'));
    EXPECT_EQ(std::string(root.attributeNames[0]), std::string(9, 'n'));
    EXPECT_EQ(std::string(root.attributeValues[0]), std::string(49, 'v'));
    EXPECT_EQ(std::string(root.text), std::string(49, 'x'));
    EXPECT_EQ(std::string(root.comments[0]), std::string(9, 'c'));
}

TEST(XmlReadTest, AReadReplacesTheOldTree)
{
    std::istringstream first("<a>\r\n<b/>\r\n</a>\r\n");
    XmlDescriptor root(first);
    ASSERT_TRUE(root.valid);
    std::istringstream broken("<a>\r\n<b>\r\n");
    EXPECT_FALSE(root.fileRead(broken));
    EXPECT_EQ(root.children[0], nullptr);
    EXPECT_EQ(root.tag[0], 0);
}

TEST(XmlPathTest, LookUps)
{
    std::istringstream in("<Root>\r\n"
                          "<group name=\"\">\r\n<Item id=\"1\">one</Item>\r\n</group>\r\n"
                          "<group name=\"g2\">\r\n<item id=\"2\">two</item>\r\n<item id=\"3\"/>\r\n</group>\r\n"
                          "</Root>\r\n");
    XmlDescriptor root(in);
    ASSERT_TRUE(root.valid);
    XmlFifo path;

    path.initFifo(3, "root", "*", "ITEM");
    XmlDescriptor* first = root.getTag(&path);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->text, "one");
    EXPECT_TRUE(path.isEmpty());  // a match consumes the path

    // The empty name of the first group does not end the search.
    path.initFifo(2, "ROOT", "group");
    EXPECT_EQ(root.getAttributeValue("NAME", &path), "g2");
    path.initFifo(3, "root", "group", "item");
    EXPECT_EQ(root.getText(&path), "one");

    // A failed look-up restores the path.
    path.initFifo(3, "root", "group", "missing");
    EXPECT_EQ(root.getTag(&path), nullptr);
    EXPECT_EQ(path.count(), 3);
    EXPECT_STREQ(path.head(), "root");
    EXPECT_EQ(root.getAttributeValue("id", &path), "");
    EXPECT_EQ(path.count(), 3);
    path.initFifo(2, "other", "group");
    EXPECT_EQ(root.getTag(&path), nullptr);
    path.initFifo(0);
    EXPECT_EQ(root.getTag(&path), nullptr);

    // Iteration over repeated siblings.
    XmlDescriptor* group2 = root.children[1];
    std::vector<std::string> ids;
    XmlDescriptor* after = nullptr;
    for (;;) {
        path.initFifo(2, "group", "item");
        XmlDescriptor* next = group2->getTag(&path, after);
        if (!next)
            break;
        ids.push_back(next->getAttributeValue("id"));
        after = next;
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"2", "3"}));

    // At most nine names.
    path.initFifo(11, "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k");
    EXPECT_EQ(path.count(), 9);
}

TEST(XmlWriteTest, LayoutAndAttributeUpdates)
{
    std::istringstream in("<?xml version=\"1.0\"?>\r\n<root a=\"1\" b=\"2\">\r\n<c x=\"y\"/>\r\n<d/>\r\n"
                          "<!-- note -->\r\n</root>\r\n");
    XmlDescriptor root(in);
    ASSERT_TRUE(root.valid);
    EXPECT_EQ(written(root), "<root a=\"1\" b=\"2\">\r\n<c x=\"y\"/>\r\n<d/>\r\n<!--note -->\r\n</root>\r\n");

    std::istringstream one("<a k=\"v\">text</a>\r\n");
    XmlDescriptor single(one);
    EXPECT_EQ(written(single), "<a k=\"v\"/>\r\n");

    // Existing attributes only, cut to 49, quotes and line ends as blanks.
    XmlFifo path;
    path.initFifo(2, "root", "c");
    root.setAttributeValue("X", "say \"hi\"\r\n" + std::string(60, 'z'), &path);
    root.setAttributeValue("new", "1");
    EXPECT_STREQ(root.children[0]->attributeValues[0], ("say  hi   " + std::string(39, 'z')).c_str());
    EXPECT_EQ(root.getAttributeValue("new"), "");

    // A start line over 99 characters: one attribute per line, and it reads back the same.
    for (int i = 0; i < XmlDescriptor::kAttributes; ++i) {
        std::snprintf(root.attributeNames[i], XmlDescriptor::kAttributeNameSize, "attr%d", i);
        std::memset(root.attributeValues[i], 'v', XmlDescriptor::kAttributeValueSize - 1);
    }
    const std::string text = written(root);
    EXPECT_EQ(text.substr(0, 7), "<root\r\n");
    std::istringstream back(text);
    XmlDescriptor again(back);
    ASSERT_TRUE(again.valid);
    EXPECT_EQ(shape(again), shape(root));
}

class XmlFileTest : public SimBoardTest {};

TEST_F(XmlFileTest, LimitsFileIsReplacedWholeAndNamesAreConfined)
{
    std::istringstream in("<limits>\r\n<limit id=\"a\"/>\r\n</limits>\r\n");
    XmlDescriptor root(in);
    ASSERT_TRUE(root.valid);
    ASSERT_TRUE(root.fileWrite("mine.xml"));
    const std::string path = hostPath("/media/user/bus-limits/mine.xml");
    EXPECT_EQ(readWholeFile(path), "<limits>\r\n<limit id=\"a\"/>\r\n</limits>\r\n\r\n");
    XmlDescriptor fromFile("/media/user/bus-limits/mine.xml", true);
    EXPECT_TRUE(fromFile.valid);

    for (const char* name : {"", "../x", ".x", "a/b"})
        EXPECT_FALSE(root.fileWrite(name)) << name;
    EXPECT_FALSE(root.fileWrite(nullptr));

    // A write that fails keeps the old file.
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{10, 10};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(root.fileWrite("mine.xml") ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readWholeFile(path), "<limits>\r\n<limit id=\"a\"/>\r\n</limits>\r\n\r\n");
    struct stat st;
    EXPECT_EQ(stat(hostPath("/media/user/bus-limits").c_str(), &st), 0);

    XmlDescriptor missing("/media/user/none.xml", true);
    EXPECT_FALSE(missing.valid);
}

TEST_F(XmlFileTest, BuiltInDescriptorsAreReadFromMemory)
{
    XmlDescriptor builtIn("/KNX.bus", false);
    ASSERT_TRUE(builtIn.valid);
    XmlFifo path;
    path.initFifo(3, "filebus", "bus", "title");
    EXPECT_EQ(builtIn.getAttributeValue("a", &path), "KNX 9600 bps@ISO/IEC 14543-3");
    struct stat st;
    EXPECT_NE(stat(hostPath("/var/tmp/bus").c_str(), &st), 0);

    XmlDescriptor unknown("/Unknown.bus", false);
    EXPECT_FALSE(unknown.valid);
    EXPECT_FALSE(unknown.fileRead("/knx.bus", false));  // exact names only
    // An unknown name leaves a read tree as it was.
    EXPECT_TRUE(builtIn.fileRead("/Unknown.bus", false));
}

TEST(XmlTextTest, DisplayConversion)
{
    EXPECT_EQ(XmlDescriptor::xmlToText("a &lt;b&gt; c"), "a <b> c");
    EXPECT_EQ(XmlDescriptor::xmlToText("&gt;&lt;"), "><");
    EXPECT_EQ(XmlDescriptor::xmlToText("x &amp; y &amp;lt;"), "x & y &lt;");
    EXPECT_EQ(XmlDescriptor::xmlToText("line@next"), "line\nnext");
    EXPECT_EQ(XmlDescriptor::xmlToText("caf\xe9 \xb5s"), "caf\xc3\xa9 \xc2\xb5s");
}

} // namespace
