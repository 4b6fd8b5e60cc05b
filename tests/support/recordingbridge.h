// A root-window bridge that records every call, in order, as text: "screenMaj(14)",
// "screenMessage(14,trace.trc)", "showWindow()" ... Thread-safe.
#pragma once

#include "core/homebridge.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

class TRecordingBridge : public THomeBridge {
public:
    void screenMaj(int code) override { add("screenMaj(" + std::to_string(code) + ")"); }
    void screenRefresh() override { add("screenRefresh()"); }
    void screenRaz() override { add("screenRaz()"); }
    void screenMessage(int number, const char* text) override
    {
        add("screenMessage(" + std::to_string(number) + "," + (text ? text : "") + ")");
    }
    void screenIhm(int code, int a, int b) override
    {
        add("screenIhm(" + std::to_string(code) + "," + std::to_string(a) + "," + std::to_string(b) + ")");
    }
    void screenHardcopy(char* name) override { add(std::string("screenHardcopy(") + (name ? name : "") + ")"); }
    void screenKalvex() override { add("screenKalvex()"); }
    void screenManualMeasurement() override { add("screenManualMeasurement()"); }
    void screenAutomaticMeasurement() override { add("screenAutomaticMeasurement()"); }
    void setBrandVisible(bool visible) override { add(std::string("setBrandVisible(") + (visible ? "1" : "0") + ")"); }
    void showWindow() override { add("showWindow()"); }
    void refreshConfig() override { add("refreshConfig()"); }

    std::vector<std::string> calls() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }
    // Number of recorded calls equal to this text.
    int count(const std::string& call) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
    }
    // Calls whose text starts with the prefix, e.g. "screenMessage(".
    std::vector<std::string> callsStartingWith(const std::string& prefix) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const auto& c : calls_)
            if (c.compare(0, prefix.size(), prefix) == 0)
                out.push_back(c);
        return out;
    }

private:
    void add(std::string call)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};
