// A controller stand-in for the requests a handler hands over itself (scpi_SemV): it takes every
// record off the controller's inbox, answers calibrationRead by copying its record to the address
// carried and keeps a copy of every record handed to calibrationWrite, then releases the
// interpreter.
#pragma once

#include "core/gest_db.h"
#include "core/requests.h"
#include "hardware/calibration.h"
#include "scpi/scpi.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

class Releaser {
public:
    explicit Releaser(const calibration* live = nullptr)
    {
        if (live)
            std::memcpy(&live_, live, sizeof live_);
        thread_ = std::thread([this] {
            while (!stop_) {
                pipe_dial r;
                if (o_g_consMessageBox.receive(&r, true, 1) != 0)
                    continue;
                records_.push_back(r);
                if (r.kind == REQ_SET_PARAM && r.code == param::calibrationRead && r.intValue != 0)
                    std::memcpy(reinterpret_cast<void*>(r.intValue), &live_, sizeof live_);
                if (r.kind == REQ_SET_PARAM && r.code == param::calibrationWrite && r.intValue != 0) {
                    calibration copy;
                    std::memcpy(&copy, reinterpret_cast<const void*>(r.intValue), sizeof copy);
                    written_.push_back(copy);
                }
                scpi_SemP();
            }
        });
    }
    ~Releaser() { stop(); }
    Releaser(const Releaser&) = delete;
    Releaser& operator=(const Releaser&) = delete;

    // Stops taking records; the records taken so far.
    std::vector<pipe_dial> stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return records_;
    }
    // The records handed to calibrationWrite (valid once stopped).
    const std::vector<calibration>& written() const { return written_; }

private:
    std::atomic<bool> stop_{false};
    calibration live_{};
    std::vector<pipe_dial> records_;
    std::vector<calibration> written_;
    std::thread thread_;
};
