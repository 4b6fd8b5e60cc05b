// Each test gets its own simulated board: a fresh root, seeded, and a port offset of its own.
#pragma once

#include <gtest/gtest.h>
#include <string>

class SimBoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Host path of a board path under this test's root.
    std::string hostPath(const char* boardAbsolutePath) const;
    std::string readHostFile(const std::string& hostPath) const;

    std::string root_;
    int portOffset_ = 0;

private:
    std::string savedCwd_;
};

// Removes a directory tree (no links followed).
void removeTree(const std::string& path);
// The whole content of a host file; empty when it cannot be read.
std::string readWholeFile(const std::string& hostPath);
// The CAN sample's signals on the running board: the default bus differential on channel 1 and
// CAN-H on channel 4, both divided by 10 as a x10 probe does.
void useCanBusSignals();
