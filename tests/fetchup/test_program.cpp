// fetchup as a child process against the firmware server of the test process.
#include "fetchup/updater.h"
#include "tests/fetchup/fetchupfixture.h"
#include "tests/support/benchviewprocess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <dirent.h>

using namespace std::chrono_literals;

namespace {

const std::string A = "release file a\n", B = "release file b\n", A2 = "release file a, changed\n";
using Paths = std::vector<std::string>;

std::string at(const char* name) { return std::string(kFirmwarePath) + name; }

std::string dateAgo(long seconds) { return std::to_string(static_cast<long>(std::time(nullptr)) - seconds); }

class FetchupProgram : public FetchupTest {
protected:
    // No part file left in the staging folder.
    bool noPartFiles()
    {
        DIR* d = ::opendir(hostPath(kStagingDir).c_str());
        if (!d)
            return true;
        bool none = true;
        while (dirent* e = ::readdir(d))
            none = none && std::string(e->d_name).find(".part") == std::string::npos;
        ::closedir(d);
        return none;
    }
    // The second stage of example 1: a.bin and b.bin accepted, a.bin changed on the server,
    // b.bin already staged.
    void secondStage()
    {
        put(kAcceptedIndex, index({{"a.bin", A}, {"b.bin", B}}));
        put("/media/private/update/download/a.bin", A);
        put("/media/private/update/download/b.bin", B);
        put(kStagedIndex, index({{"a.bin", A2}, {"b.bin", B}}));
        serve("a.bin", A2);
        serve("b.bin", B);
    }
};

} // namespace

TEST(FetchupVersion, PrintsAndExits)
{
    for (const char* arg : {"-V", "-v"}) {
        int status = -1;
        EXPECT_EQ("1.05\n", programOutput(FETCHUP_EXE, arg, &status)) << arg;
        EXPECT_EQ(0, status) << arg;
    }
}

TEST_F(FetchupProgram, TwoArgumentsRunTheProgram)
{
    serve("index", index({{"a.bin", A}}));
    ASSERT_EQ(0, run({"-V", "x"}));
    EXPECT_EQ(Paths{at("index")}, requests());
}

TEST_F(FetchupProgram, StartDecisions)
{
    const struct {
        const char* name;
        const char* date;  // nullptr: no date file
        bool ready, sdUpdate, sdIndex;
        Paths requests;
        bool marker;
    } cases[] = {
        {"a release waits, even with an SD update", nullptr, true, true, true, {}, true},
        {"checked 29 days ago", "29", false, false, false, {}, false},
        {"checked 31 days ago", "31", false, false, false, {at("index")}, false},
        {"a date 40 days ahead", "-40", false, false, false, {at("index")}, false},
        {"a date 10 days ahead", "-10", false, false, false, {}, false},
        {"an SD update, whatever the date", "1", false, true, true, {}, true},
        {"an SD update without its index", nullptr, false, true, false, {at("index")}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        serve("index", index({{"a.bin", A}}));
        std::string date;
        if (c.date) {
            date = dateAgo(std::atol(c.date) * 86400);
            put(kDateFile, date);
        }
        if (c.ready)
            put(kReadyMarker, "");
        if (c.sdUpdate) {
            put("/media/user/sdcard_p1/update/a.bin", A);
            if (c.sdIndex)
                put("/media/user/sdcard_p1/update/index", index({{"a.bin", A}}));
        }
        ASSERT_EQ(0, run());
        EXPECT_EQ(c.requests, requests());
        EXPECT_EQ(c.marker, exists(kReadyMarker));
        if (c.sdUpdate && c.sdIndex && !c.ready) {
            EXPECT_EQ(A, file("/media/private/update/download/a.bin"));
            EXPECT_EQ(index({{"a.bin", A}}), file(kAcceptedIndex));
            EXPECT_FALSE(exists(kCopyMarker));
            EXPECT_NE(date, file(kDateFile)) << "renewed";
        } else if (c.date) {
            EXPECT_EQ(date, file(kDateFile)) << "never written by a check that ends early or a first stage";
        }
    }
}

TEST_F(FetchupProgram, FirstStageFetchesTheIndexOnly)
{
    const std::string served = index({{"a.bin", A}});
    const struct {
        const char* name;
        std::function<void(FetchupProgram*)> fault;
        bool stored;
    } cases[] = {
        {"good", [](FetchupProgram*) {}, true},
        {"404", [](FetchupProgram* t) { t->server_.setStatus("index", 404); }, false},
        {"204", [](FetchupProgram* t) { t->server_.setStatus("index", 204); }, false},
        {"301", [](FetchupProgram* t) { t->server_.setStatus("index", 301); }, false},
        {"stall after the headers", [](FetchupProgram* t) { t->server_.setStall("index", simboard::TFirmwareServer::TStall::AfterHeaders); }, false},
        {"silent", [](FetchupProgram* t) { t->server_.setStall("index", simboard::TFirmwareServer::TStall::Silent); }, false},
        {"closed in the middle", [](FetchupProgram* t) { t->server_.setCloseMidBody("index"); }, false},
        {"untrusted certificate", [](FetchupProgram* t) {
             std::string why;
             ASSERT_TRUE(simboard::makeServerCertificate(t->hostPath("/sim/other-cert.pem"), t->hostPath("/sim/other-key.pem"), &why)) << why;
             t->server_.setCertificate(t->hostPath("/sim/other-cert.pem"), t->hostPath("/sim/other-key.pem"));
         }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        serve("index", served);
        c.fault(this);
        ASSERT_EQ(0, run());
        if (std::string(c.name) != "untrusted certificate") {
            EXPECT_EQ(Paths{at("index")}, requests());
        }
        EXPECT_EQ(c.stored, exists(kStagedIndex));
        if (c.stored) {
            EXPECT_EQ(served, file(kStagedIndex));
        }
        EXPECT_FALSE(exists(kReadyMarker));
        EXPECT_FALSE(exists(kDateFile));
        EXPECT_TRUE(noPartFiles());
    }
}

TEST_F(FetchupProgram, OnlyTheLoopbackServerIsReached)
{
    serve("index", index({{"a.bin", A}}));
    for (const std::string& server : {std::string(), std::string("https://192.0.2.1:443"),
                                      std::string("https://localhost:") + std::to_string(server_.port())}) {
        SCOPED_TRACE(server);
        writeScenario(server);
        ASSERT_EQ(0, run());
        EXPECT_TRUE(requests().empty());
        EXPECT_FALSE(exists(kStagedIndex));
    }
}

TEST_F(FetchupProgram, SecondStageFetchesWhatChanged)
{
    // Example 1: only a.bin is asked for; the release is verified and announced.
    secondStage();
    ASSERT_EQ(0, run());
    EXPECT_EQ(Paths{at("a.bin")}, requests());
    EXPECT_FALSE(exists(kStagedIndex));
    EXPECT_EQ(index({{"a.bin", A2}, {"b.bin", B}}), file(kAcceptedIndex));
    const long date = std::atol(file(kDateFile).c_str());
    EXPECT_LE(std::labs(date - static_cast<long>(std::time(nullptr))), 5);
    EXPECT_EQ(std::string::npos, file(kDateFile).find('\n'));
    EXPECT_TRUE(exists(kReadyMarker));
    EXPECT_EQ("", file(kReadyMarker));
    EXPECT_FALSE(exists(kCopyMarker));
    EXPECT_EQ(A2, file("/media/private/update/download/a.bin"));
}

TEST_F(FetchupProgram, SecondStageFailuresLeaveNoMarker)
{
    const struct {
        const char* name;
        std::function<void(FetchupProgram*)> fault;
        Paths requests;
    } cases[] = {
        {"a changed byte", [](FetchupProgram* t) { t->server_.setChangedByte("a.bin"); }, {at("a.bin")}},
        {"404", [](FetchupProgram* t) { t->server_.setStatus("a.bin", 404); }, {at("a.bin")}},
        {"closed in the middle", [](FetchupProgram* t) { t->server_.setCloseMidBody("a.bin"); }, {at("a.bin")}},
        {"upper-case digest", [](FetchupProgram* t) {
             std::string text = t->file(kStagedIndex);
             for (size_t i = 0; i < 32; ++i)
                 text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
             t->put(kStagedIndex, text);
         }, {at("a.bin")}},
        {"a name leaving the folder", [](FetchupProgram* t) {
             t->put(kStagedIndex, t->file(kStagedIndex) + t->md5(A) + "  ../escape\n");
         }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        secondStage();
        const std::string accepted = file(kAcceptedIndex);
        c.fault(this);
        ASSERT_EQ(0, run());
        EXPECT_EQ(c.requests, requests());
        EXPECT_FALSE(exists(kReadyMarker));
        EXPECT_FALSE(exists(kStagedIndex));
        EXPECT_EQ(accepted, file(kAcceptedIndex));
        EXPECT_FALSE(exists(kDateFile));
        EXPECT_FALSE(exists("/media/private/escape"));
        EXPECT_TRUE(noPartFiles());
    }
}

TEST_F(FetchupProgram, IdenticalIndexRenewsTheDate)
{
    put(kAcceptedIndex, index({{"a.bin", A}}));
    put(kStagedIndex, index({{"a.bin", A}}));
    put(kDateFile, dateAgo(40 * 86400));
    ASSERT_EQ(0, run());
    EXPECT_TRUE(requests().empty());
    EXPECT_FALSE(exists(kStagedIndex));
    EXPECT_LE(std::labs(std::atol(file(kDateFile).c_str()) - static_cast<long>(std::time(nullptr))), 5);
    EXPECT_FALSE(exists(kReadyMarker));
}

TEST_F(FetchupProgram, LargeFileArrivesWhole)
{
    std::string big(24 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    serve("big.bin", big);
    put(kStagedIndex, index({{"big.bin", big}}));
    ASSERT_EQ(0, run());
    EXPECT_EQ(Paths{at("big.bin")}, requests());
    EXPECT_TRUE(exists(kReadyMarker));
    EXPECT_TRUE(file("/media/private/update/download/big.bin") == big);
}
