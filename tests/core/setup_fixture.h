// Fixture of the setup-file tests: own simulated board, the defaults in the live setup, fresh
// stand-ins, and helpers that write setup files byte by byte and run code in a child process.
#pragma once

#include "tests/support/probes.h"
#include "hardware/calibration.h"
#include "tests/support/simfpgaboardtest.h"

#include "tests/core/trace_call_log.h"
#include "board/board.h"
#include "core/filehdr.h"
#include "core/files.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/setup.h"

#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A request as text, for comparisons with readable failures.
inline std::string requestText(const pipe_dial& r)
{
    return "{" + std::to_string(r.kind) + ", " + std::to_string(r.code) + ", " + std::to_string(r.auxValue) + ", "
        + std::to_string(r.intValue) + ", " + std::to_string(r.floatValue) + ", " + std::to_string(r.senderId) + "}";
}

class SetupTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        resetTraceCallLog();
        unplugAllProbes();
        std::memcpy(&data, &init_par, sizeof data);
        // What a power-on leaves: no links, no calibration recalled yet.
        setupLinks() = TSetupLinks{};
        param_calibr = calibration{};
        COMM_id = pthread_self();
        inbox();  // what an earlier test left queued is no request of this one
    }

    // A setup image of the defaults with a few distinctive values and a valid checksum.
    static database sampleImage()
    {
        database image;
        std::memcpy(&image, &init_par, sizeof image);
        image.timeBaseIndex = 7;
        image.sensitivityCh1 = 3;
        image.instrumentMode = 128;
        image.selfTestResult = 0x5678;
        image.setupChecksum = setupChecksum(image);
        return image;
    }

    // Header (any 128 bytes) followed by the image, as SetupSave lays it out.
    static std::string fileBytes(const database& image)
    {
        std::string bytes(kFileHeaderSize, '.');
        bytes.append(reinterpret_cast<const char*>(&image), sizeof image);
        return bytes;
    }

    bool writeHostFile(const std::string& path, const std::string& bytes)
    {
        std::string board = boardPathFromHost(path);
        return writeBoardFile(board.c_str(), bytes);
    }

    bool exists(const char* boardAbsolutePath) const
    {
        struct stat st;
        return ::lstat(hostPath(boardAbsolutePath).c_str(), &st) == 0;
    }

    long fileSize(const char* boardAbsolutePath) const
    {
        struct stat st;
        return ::stat(hostPath(boardAbsolutePath).c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
    }

    // Every record queued in the controller's inbox (as requestText), oldest first, leaving it
    // empty.
    static std::vector<std::string> inbox()
    {
        std::vector<std::string> out;
        pipe_dial marker{};
        marker.senderId = kMarker;
        o_g_consMessageBox.send(&marker);
        for (;;) {
            pipe_dial r{};
            if (o_g_consMessageBox.receive(&r, true, 5) != 0 || r.senderId == kMarker)
                return out;
            out.push_back(requestText(r));
        }
    }
    static constexpr intptr_t kMarker = -0x5E7;

    // Runs fn in a forked child that shares this test's simulated board; the wait status.
    // Only for tests that run no other thread.
    static int inChild(const std::function<void()>& fn)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            fn();
            ::_exit(250);
        }
        int status = -1;
        while (::waitpid(pid, &status, 0) < 0) {
        }
        return status;
    }
};

