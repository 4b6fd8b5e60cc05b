// The bus-analysis report: its lines, hints, escaping, and its replacement on disk.
#include "board/board.h"
#include "busanalysis/bus.h"
#include "core/fileio.h"
#include "core/xmlutilities.h"
#include "tests/busanalysis/reportfixture.h"
#include "tests/network/http_test_client.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <csignal>
#include <cmath>
#include <atomic>
#include <fstream>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <dirent.h>
#include <memory>

namespace {

const char* kReport = "/var/tmp/busAnalysisResults.html";
constexpr double kNoValue = NAN;

class BusReportTest : public SimBoardTest {
protected:
    std::string report() { return readHostFile(hostPath(kReport)); }

    // The report's lines without their CR LF; fails when a line does not end with CR LF.
    std::vector<std::string> lines()
    {
        const std::string text = report();
        std::vector<std::string> out;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                ADD_FAILURE() << "line without CR LF at " << at;
                break;
            }
            out.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return out;
    }

    static size_t find(const std::vector<std::string>& l, const std::string& line, size_t from = 0)
    {
        for (size_t i = from; i < l.size(); ++i)
            if (l[i] == line)
                return i;
        return std::string::npos;
    }

    TBus bus;
};

TEST_F(BusReportTest, FailedRowWithItsHintsAsTheExampleGives)
{
    fillBus(bus, "CAN HS", {{"Vdiff Dom", 1.0f, 3.0f, 0.2f, 3.5}});
    auto descriptor = diagDescriptor({{"msg1", "msg3"}});
    ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);
    const std::vector<std::string> l = lines();
    const size_t row = find(l, "<TR class=\"white\">");
    ASSERT_NE(row, std::string::npos);
    const std::vector<std::string> expected = {"<TR class=\"white\">", "<TD>Vdiff Dom</TD>", "<TD>1.000 V</TD>",
                                               "<TD>3.000 V</TD>", "<TD class=\"red\">3.500 V</TD>", "<!--msg1-->",
                                               "<!--msg3-->", "<TD>+500.0 mV</TD>", "</TR>"};
    ASSERT_GE(l.size(), row + expected.size());
    EXPECT_EQ(std::vector<std::string>(l.begin() + row, l.begin() + row + expected.size()), expected);
    EXPECT_EQ(l[0], "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">");
    const std::vector<std::string> head = {"<HTML>", "<HEAD>", "<TITLE>TavlinIV-1.12 - Bus Analysis results</TITLE>",
                                           "<BASE HREF=\"http:127.0.0.1\"/>", "<STYLE TYPE=\"text/css\">"};
    EXPECT_EQ(std::vector<std::string>(l.begin() + 1, l.begin() + 6), head);
    // The style block (its colours are checked in a browser below), then the body.
    const size_t body = find(l, "</STYLE>");
    ASSERT_NE(body, std::string::npos);
    ASSERT_GE(l.size(), body + 6);
    EXPECT_EQ(std::vector<std::string>(l.begin() + body + 1, l.begin() + body + 4),
              (std::vector<std::string>{"</HEAD>", "<BODY>", "<H1>CAN HS</H1>"}));
    EXPECT_EQ(l[body + 4].substr(0, 4), "<H3>");
    EXPECT_EQ(l[body + 5], "<H2 class=\"red\">Bus quality: 0%</H2>");
    // Hints from the English message file: no catalogue is installed here.
    const size_t h5 = find(l, "<H5>Check the following items:</H5>");
    ASSERT_NE(h5, std::string::npos);
    EXPECT_EQ(l[h5 + 1], "<UL>");
    EXPECT_EQ(l[h5 + 2], "<LI>- Termination problem</LI>");
    EXPECT_EQ(l[h5 + 3], "<LI>- Faulty junction connection</LI>");
    EXPECT_EQ(l[h5 + 4], "</UL>");
    EXPECT_EQ(l.back(), "</HTML>");
}

TEST_F(BusReportTest, RowsHeadingsAndHintList)
{
    struct Case {
        std::vector<TReportRow> rows;
        std::vector<std::vector<std::string>> diag;
        std::string heading;
        std::vector<std::string> hints;  // empty: no H5
    } cases[] = {
        {{{"a", 1, 3, 0.2f, 2}, {"b", 1, 3, 0.2f, 2.5}}, {{"msg1"}, {"msg2"}},
         "<H2 class=\"green\">Bus quality: 100%</H2>", {}},
        // A warning among passes: yellow; the same key in two steps listed once, first-seen order,
        // without regard to case.
        {{{"a", 1, 3, 0.2f, 3.1}, {"b", 1, 3, 0.2f, 2}, {"c", 1, 3, 0.2f, 0.5}},
         {{"msg4", "msg2"}, {"msg9"}, {"MSG2", "msg5"}},
         "<H2 class=\"red\">Bus quality: 0%</H2>",
         {"<LI>- Significant noise</LI>", "<LI>- Cable length not compliant with standard</LI>",
          "<LI>- Unsuitable or damaged cable</LI>"}},
        {{{"a", 1, 3, 0.2f, 3.1}, {"b", 1, 3, 0.2f, 2}}, {{"msg4"}, {}},
         "<H2 class=\"yellow\">Bus quality: 50%</H2>", {"<LI>- Significant noise</LI>"}},
        // A measurement without value: "----" row and heading.
        {{{"a", 1, 3, 0.2f, 2}, {"b", 1, 3, 0.2f, kNoValue}}, {{"msg1"}, {"msg2"}},
         "<H2 class=\"red\">Bus quality: ----</H2>", {}},
        // Unknown and unsafe keys: an unknown plain key is listed as itself; "msg1-->" skipped.
        {{{"a", 1, 3, 0.2f, 9}}, {{"msg1-->", "zz_9"}}, "<H2 class=\"red\">Bus quality: 0%</H2>",
         {"<LI>zz_9</LI>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heading);
        fillBus(bus, "t", c.rows);
        auto descriptor = diagDescriptor(c.diag);
        ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);
        const std::vector<std::string> l = lines();
        EXPECT_NE(find(l, c.heading), std::string::npos);
        const std::vector<std::string> tableHead = {
            "<TABLE WIDTH=\"100%\" CELLPADDING=\"10%\">", "<THEAD>", "<TR>", "<TD></TD>",
            "<TD>Min value allowed</TD>", "<TD>Max value allowed</TD>", "<TD>Measurement</TD>",
            "<TD>Error</TD>", "</TR>", "</THEAD>", "<TBODY>"};
        const size_t table = find(l, tableHead[0]);
        ASSERT_NE(table, std::string::npos);
        EXPECT_EQ(std::vector<std::string>(l.begin() + table, l.begin() + table + tableHead.size()), tableHead);
        // Rows alternate white and silver.
        size_t at = table;
        for (size_t i = 0; i < c.rows.size(); ++i) {
            at = find(l, i % 2 ? "<TR class=\"silver\">" : "<TR class=\"white\">", at + 1);
            ASSERT_NE(at, std::string::npos) << i;
            if (c.rows[i].value != c.rows[i].value) {
                EXPECT_EQ(l[at + 4], "<TD class=\"red\">----</TD>");
                EXPECT_EQ(l[at + 5], "<TD>----</TD>");
                EXPECT_EQ(l[at + 6], "</TR>");
            }
        }
        const size_t h5 = find(l, "<H5>Check the following items:</H5>");
        if (c.hints.empty()) {
            EXPECT_EQ(h5, std::string::npos);
            continue;
        }
        ASSERT_NE(h5, std::string::npos);
        EXPECT_EQ(std::vector<std::string>(l.begin() + h5 + 2, l.begin() + h5 + 2 + c.hints.size()), c.hints);
        EXPECT_EQ(l[h5 + 2 + c.hints.size()], "</UL>");
        EXPECT_EQ(report().find("msg1-->"), std::string::npos);
    }
}

TEST_F(BusReportTest, DescriptorTextsAreEscapedCutAndReadBack)
{
    std::vector<TReportRow> rows;
    for (int i = 0; i < 16; ++i)
        rows.push_back({"Vdiff \"<b>&</b>\" \xe9t\xe9 " + std::string(40, 'x'), -1e-6f, 1e-6f, 1e-7f,
                        i % 3 == 0 ? 2e-6 : 0.0, "V"});
    fillBus(bus, "<b>Bus</b> & \"\xc9l\xe9ment\"", rows);
    auto descriptor = diagDescriptor(std::vector<std::vector<std::string>>(16, {"msg1", "msg16", "msg15"}));
    ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);
    const std::vector<std::string> l = lines();
    EXPECT_NE(find(l, "<H1>&lt;b&gt;Bus&lt;/b&gt; &amp; &quot;&#201;l&#233;ment&quot;</H1>"), std::string::npos);
    for (const std::string& line : l) {
        EXPECT_LE(line.size(), 99u) << line;
        for (const char ch : line)
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << line;
    }
    const size_t name = find(l, "<TR class=\"white\">") + 1;
    const std::string start = "<TD>Vdiff &quot;&lt;b&gt;&amp;&lt;/b&gt;&quot; &#233;t&#233; x";
    EXPECT_EQ(l[name].substr(0, start.size()), start);
    EXPECT_EQ(l[name].substr(l[name].size() - 5), "</TD>");
    // The page reads back whole as a tree (the results panel's reader).
    std::ifstream in(hostPath(kReport), std::ios::binary);
    XmlDescriptor tree(in);
    ASSERT_TRUE(tree.valid);
    XmlFifo path;
    path.initFifo(3, "HTML", "BODY", "H1");
    EXPECT_NE(tree.getTag(&path), nullptr);
    path.initFifo(3, "HTML", "BODY", "UL");
    XmlDescriptor* list = tree.getTag(&path);
    ASSERT_NE(list, nullptr);
    EXPECT_NE(list->children[2], nullptr);
    EXPECT_EQ(list->children[3], nullptr);
}

TEST_F(BusReportTest, ReplacesTheReportWholeOrNotAtAll)
{
    fillBus(bus, "first", {{"a", 1, 3, 0.2f, 2}});
    auto descriptor = diagDescriptor({{"msg1"}});
    ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);
    const std::string first = report();
    ASSERT_NE(first.find("<H1>first</H1>"), std::string::npos);

    // A write that fails (the file-size limit) leaves the previous report and no temporary file.
    fillBus(bus, "second", {{"a", 1, 3, 0.2f, 2}});
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = bus.saveResultToFile(kReport, descriptor.get());
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(report(), first);
    int entries = 0;
    const std::string dir = hostPath("/var/tmp");
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    ASSERT_TRUE(d);
    while (const dirent* e = readdir(d.get()))
        if (isTemporaryFileName(e->d_name))
            ++entries;
    EXPECT_EQ(entries, 0);

    // A folder that cannot take the file: -1, nothing written.
    EXPECT_EQ(bus.saveResultToFile("/no/such/folder/report.html", descriptor.get()), -1);
    // No figure computed (no step): the "----" heading.
    bus.init();
    ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);
    EXPECT_NE(report().find("<H2 class=\"red\">Bus quality: ----</H2>\r\n"), std::string::npos);
}

} // namespace

namespace {

// Runs Debian's headless Chromium with its profile under the test's root; its standard output.
std::string runChromium(const std::string& root, const QStringList& arguments, bool* ok)
{
    QProcess browser;
    QStringList all = {"--headless", "--no-sandbox", "--disable-gpu",
                       QString::fromStdString("--user-data-dir=" + root + "/chromium-profile")};
    all += arguments;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(root));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(root + "/.config"));
    env.insert("XDG_CACHE_HOME", QString::fromStdString(root + "/.cache"));
    browser.setProcessEnvironment(env);
    browser.start("/usr/bin/chromium", all);
    *ok = browser.waitForStarted(10000) && browser.waitForFinished(90000) &&
          browser.exitStatus() == QProcess::NormalExit && browser.exitCode() == 0;
    if (!*ok)
        browser.kill();
    return browser.readAllStandardOutput().toStdString();
}

} // namespace

TEST_F(BusReportTest, ABrowserShowsTheTableAndTheHints)
{
    ASSERT_TRUE(QFileInfo::exists("/usr/bin/chromium")) << "chromium is missing (scripts/packages.txt)";
    std::vector<TReportRow> rows;
    for (int i = 0; i < 10; ++i)
        rows.push_back({"Step " + std::to_string(i), 1, 3, 0.2f, i == 3 ? 3.1 : i == 7 ? 4.0 : 2.0});
    fillBus(bus, "CAN <b>bold</b>", rows);
    std::vector<std::vector<std::string>> diag(10, std::vector<std::string>{"msg5"});
    diag[3] = {"msg1", "msg3"};
    diag[7] = {"msg4"};
    auto descriptor = diagDescriptor(diag);
    ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);
    const std::string url = "file://" + hostPath(kReport);

    bool ok = false;
    const std::string dom = runChromium(root_, {"--dump-dom", QString::fromStdString(url)}, &ok);
    ASSERT_TRUE(ok) << dom;
    for (int i = 0; i < 10; ++i)
        EXPECT_NE(dom.find("<td>Step " + std::to_string(i) + "</td>"), std::string::npos) << i;
    EXPECT_NE(dom.find("<li>- Termination problem</li>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("<li>- Faulty junction connection</li>"), std::string::npos);
    EXPECT_NE(dom.find("<li>- Significant noise</li>"), std::string::npos);
    EXPECT_EQ(dom.find("Unsuitable or damaged cable"), std::string::npos);  // passing steps' hints
    // The injected markup is text, not an element.
    EXPECT_NE(dom.find("CAN &lt;b&gt;bold&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(dom.find("<b>"), std::string::npos);

    QDir().mkpath(QStringLiteral(BENCHVIEW_ARTEFACT_DIR));
    const QString png = QStringLiteral(BENCHVIEW_ARTEFACT_DIR "/bus_report.png");
    QFile::remove(png);
    runChromium(root_, {"--screenshot=" + png, "--window-size=800,1000", QString::fromStdString(url)}, &ok);
    EXPECT_TRUE(ok);
    EXPECT_GT(QFileInfo(png).size(), 1000);
}

namespace {

// The instrument's own HTTP session code on a loopback port of the test's: every connection
// gets a session of its own until stop().
class TLoopbackHttp {
public:
    TLoopbackHttp()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] {
            while (!stop_) {
                pollfd p{listener_, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    continue;
                ++nHttpSessions;  // the session counts itself down
                sessions_.emplace_back([fd] { httpSession(fd); });
            }
        });
    }
    ~TLoopbackHttp() { stop(); }

    int port() const { return port_; }
    // Waits for the sessions, which end when their clients close.
    void stop()
    {
        stop_ = true;
        if (acceptor_.joinable())
            acceptor_.join();
        for (std::thread& t : sessions_)
            t.join();
        sessions_.clear();
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
    }

private:
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> sessions_;
};

// One GET of path over a connection of its own, closed after the reply.
THttpReply getOnce(int port, const std::string& path)
{
    THttpReply reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
            std::string bytes;
            char buf[4096];
            for (;;) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 10000) <= 0)
                    break;
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                bytes.append(buf, size_t(n));
                const std::vector<THttpReply> replies = parseHttpReplies(bytes);
                if (!replies.empty()) {
                    reply = replies.front();
                    break;
                }
            }
        }
    }
    ::close(fd);
    return reply;
}

// Pixels of the screenshot within 6 of the colour on each channel.
int pixelsOf(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += std::abs(qRed(p) - qRed(colour)) <= 6 && std::abs(qGreen(p) - qGreen(colour)) <= 6 &&
                 std::abs(qBlue(p) - qBlue(colour)) <= 6;
        }
    return n;
}

} // namespace

// The copy the results panel saves (media/user/bus/<name>.htm) is served as a page, and a
// browser shows the passing and the failing values in colours of their own.
TEST_F(BusReportTest, TheSavedCopyIsServedAsAPageWithPassAndFailInTheirColours)
{
    ASSERT_TRUE(QFileInfo::exists("/usr/bin/chromium")) << "chromium is missing (scripts/packages.txt)";
    fillBus(bus, "CAN HS 500 kbps",
            {{"Vdiff Dom", 1.2f, 3.0f, 0.2f, 2.0}, {"Vdiff Rec", -0.12f, 0.05f, 0.2f, 0.9}, {"VCanH Dom", -0.8f, 7.0f, 0.2f, 3.0}});
    auto descriptor = diagDescriptor({{}, {"msg1"}, {}});
    ASSERT_EQ(::mkdir(hostPath("/media/user/bus").c_str(), 0777), 0);
    const std::string copy = "/media/user/bus/tavlin_2026-12-10_17-30-00.htm";
    ASSERT_EQ(bus.saveResultToFile(copy, descriptor.get()), 0);

    TLoopbackHttp server;
    ASSERT_GT(server.port(), 0);
    const THttpReply reply = getOnce(server.port(), copy);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("Content-Type"), "text/html");
    EXPECT_EQ(reply.body, readHostFile(hostPath(copy.c_str())));

    const QString png = QString::fromStdString(root_ + "/served_report.png");
    bool ok = false;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + copy;
    runChromium(root_, {"--screenshot=" + png, "--window-size=800,600", QString::fromStdString(url)}, &ok);
    server.stop();
    ASSERT_TRUE(ok);
    const QImage image(png);
    ASSERT_FALSE(image.isNull()) << "no screenshot: the page was not shown";
    const int pass = pixelsOf(image, qRgb(0x8f, 0xd8, 0x8f));
    const int fail = pixelsOf(image, qRgb(0xf0, 0x8a, 0x8a));
    EXPECT_GT(pass, 200) << "passing values";
    EXPECT_GT(fail, 200) << "the failing value";
    QDir().mkpath(QStringLiteral(BENCHVIEW_ARTEFACT_DIR));
    QFile::remove(QStringLiteral(BENCHVIEW_ARTEFACT_DIR "/bus_report_served.png"));
    QFile::copy(png, QStringLiteral(BENCHVIEW_ARTEFACT_DIR "/bus_report_served.png"));
}

// The browser's own reading of the served copy: the computed colours of the verdict cells and
// the markers of the hints, whose texts bring their own dash (no second bullet).
TEST_F(BusReportTest, TheServedCopyShowsItsVerdictsInColourAndItsHintsWithOneDash)
{
    ASSERT_TRUE(QFileInfo::exists("/usr/bin/chromium")) << "chromium is missing (scripts/packages.txt)";
    fillBus(bus, "CAN HS 500 kbps",
            {{"Vdiff Dom", 1.2f, 3.0f, 0.2f, 2.0}, {"Vdiff Rec", -0.12f, 0.05f, 0.2f, 0.9}});
    auto descriptor = diagDescriptor({{}, {"msg1", "msg3"}});
    ASSERT_EQ(::mkdir(hostPath("/media/user/bus").c_str(), 0777), 0);
    const std::string copy = "/media/user/bus/tavlin_2026-12-10_17-31-00.htm";
    ASSERT_EQ(bus.saveResultToFile(copy, descriptor.get()), 0);
    // A page of the same origin that reads the report's computed style into its own text.
    std::ofstream(hostPath("/media/user/bus/style_probe.html"))
        << "<html><body><pre id=\"out\">waiting</pre><iframe id=\"r\" src=\"" << copy << "\"></iframe><script>\n"
           "document.getElementById('r').onload = function() {\n"
           "  var d = this.contentDocument, w = d.defaultView, out = [];\n"
           "  d.querySelectorAll('td.green, td.red').forEach(function(c) {\n"
           "    out.push(c.className + '=' + w.getComputedStyle(c).backgroundColor + '/' + w.getComputedStyle(c).color); });\n"
           "  d.querySelectorAll('li').forEach(function(l) { out.push('li=' + w.getComputedStyle(l).listStyleType); });\n"
           "  document.getElementById('out').textContent = '[' + out.join('][') + ']';\n"
           "};\n</script></body></html>\n";

    TLoopbackHttp server;
    ASSERT_GT(server.port(), 0);
    bool ok = false;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/media/user/bus/style_probe.html";
    const std::string dom =
        runChromium(root_, {"--dump-dom", "--virtual-time-budget=10000", QString::fromStdString(url)}, &ok);
    server.stop();
    ASSERT_TRUE(ok) << dom;
    auto style = [&](const std::string& key) {
        const size_t at = dom.find("[" + key + "=");
        return at == std::string::npos ? std::string() : dom.substr(at + key.size() + 2, dom.find(']', at) - at - key.size() - 2);
    };
    const std::string pass = style("green"), fail = style("red");
    ASSERT_FALSE(pass.empty()) << dom;
    ASSERT_FALSE(fail.empty()) << dom;
    EXPECT_NE(pass, fail);
    for (const std::string& s : {pass, fail})
        EXPECT_EQ(s.find("rgba(0, 0, 0, 0)"), std::string::npos) << s << ": no background of its own";
    EXPECT_EQ(style("li"), "none") << dom;
    EXPECT_NE(dom.find("[li=none][li=none]"), std::string::npos) << dom;
}
