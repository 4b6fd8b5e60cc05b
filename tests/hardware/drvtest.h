// Helpers of the driver tests: the threads of this process by name, and polling with a limit.
#pragma once

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

// Threads of this process whose name is name.
inline int threadsNamed(const std::string& name)
{
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
            std::string text;
            if (std::getline(comm, text) && text == name)
                ++n;
        }
        closedir(dir);
    }
    return n;
}

// Polls until condition holds; false after timeoutMs.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 3000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
