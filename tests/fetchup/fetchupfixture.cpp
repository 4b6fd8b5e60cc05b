#include "tests/fetchup/fetchupfixture.h"

#include "board/sim/simboard.h"
#include "tests/support/benchviewprocess.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

void FetchupTest::SetUp()
{
    SimBoardTest::SetUp();
    std::string why;
    ASSERT_TRUE(simboard::boot(&why)) << why;
    served_ = root_ + "/served";
    ::mkdir(served_.c_str(), 0755);
    ASSERT_TRUE(simboard::makeServerCertificate(hostPath("/sim/fw-cert.pem"), hostPath("/sim/fw-key.pem"), &why))
        << why;
    ASSERT_TRUE(server_.start(served_, hostPath("/sim/fw-cert.pem"), hostPath("/sim/fw-key.pem"), &why)) << why;
    writeScenario(server_.url());
}

void FetchupTest::TearDown()
{
    server_.stop();
    SimBoardTest::TearDown();
}

void FetchupTest::writeScenario(const std::string& server, const std::string& caFile)
{
    simboard::TScenario s = simboard::defaultScenario();
    s.speedFactor = 100;
    s.firmware.server = server;
    s.firmware.caFile = caFile;
    put(simboard::kScenarioPath, simboard::scenarioToJson(s));
}

void FetchupTest::serve(const std::string& name, const std::string& content)
{
    std::ofstream(served_ + "/" + name, std::ios::binary | std::ios::trunc) << content;
}

void FetchupTest::put(const char* boardPath, const std::string& content)
{
    const std::string path = hostPath(boardPath);
    for (size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at)
        ::mkdir(path.substr(0, at).c_str(), 0755);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool FetchupTest::exists(const char* boardPath) const { return ::access(hostPath(boardPath).c_str(), F_OK) == 0; }

std::string FetchupTest::md5(const std::string& content)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(content), QCryptographicHash::Md5).toHex().toStdString();
}

std::string FetchupTest::index(const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string text;
    for (const auto& f : files)
        text += md5(f.second) + "  " + f.first + "\n";
    return text;
}

int FetchupTest::run(const std::vector<std::string>& args)
{
    BenchviewProcess p;
    BenchviewProcess::Options o;
    o.args = args;
    o.root = root_;
    o.portOffset = portOffset_;
    o.logPath = root_ + "/fetchup.log";
    if (!p.start(FETCHUP_EXE, o))
        return -1;
    int status = 0;
    if (!p.waitExit(30s, &status))
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
