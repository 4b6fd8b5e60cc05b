// A test root with the firmware server in the test process, its certificate trusted by the
// scenario, and helpers for indexes and digests.
#pragma once

#include "board/firmware/firmwareserver.h"
#include "tests/support/simboardtest.h"

#include <string>
#include <utility>
#include <vector>

// Public: the table-driven tests' fault lambdas reach them through a pointer.
class FetchupTest : public SimBoardTest {
public:
    using SimBoardTest::hostPath;
    void SetUp() override;
    void TearDown() override;

    // The scenario's firmware group (speed factor 100: the start wait and time-out shortened).
    void writeScenario(const std::string& server, const std::string& caFile = "/sim/fw-cert.pem");
    void serve(const std::string& name, const std::string& content);
    // A board file (folders made).
    void put(const char* boardPath, const std::string& content);
    std::string file(const char* boardPath) const { return readHostFile(hostPath(boardPath)); }
    bool exists(const char* boardPath) const;
    static std::string md5(const std::string& content);
    // "digest  name\n" per file.
    static std::string index(const std::vector<std::pair<std::string, std::string>>& files);
    // Runs fetchup to its end; its exit status (-1 when it did not end in time).
    int run(const std::vector<std::string>& args = {});
    std::vector<std::string> requests() const { return server_.requests(); }

    simboard::TFirmwareServer server_;
    std::string served_;
};

constexpr const char* kFirmwarePath = "/tavlinIV/firmware/";
