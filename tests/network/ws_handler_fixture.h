// The web service's real request table in process, over loopback UDP: the reference client sends a
// datagram to a socket of the test, which is read and served as the service thread does, on a
// simulated board of the test's own with the default setup and linked traces.
#pragma once

#include "network/pelanodeInterface.h"

#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/network/status_cache.h"
#include "tests/network/ws_test_client.h"
#include "tests/support/linkedtraces.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// A set-parameter post of the web service, as {code, auxValue, intValue}.
struct TWsSet {
    int32_t code;
    intptr_t aux;
    intptr_t value;
    bool operator==(const TWsSet& o) const { return code == o.code && aux == o.aux && value == o.value; }
};

inline std::ostream& operator<<(std::ostream& os, const TWsSet& s)
{
    return os << "{" << s.code << ", " << s.aux << ", " << s.value << "}";
}

// Base: SimBoardTest, or a fixture built on it (the factory requests run on the simulated FPGA).
template <class Base>
class WsHandlersOn : public Base {
protected:
    void SetUp() override
    {
        Base::SetUp();
        if (this->HasFatalFailure())
            return;
        data = init_par;
        traces_ = std::make_unique<TLinkedTraces>(TLinkedTraces::kAll);
        for (mesures& m : records_)
            m = mesures{};
        setupLinks().measResultsPtr = records_;
        // The service as the program starts it.
        resetWsStatusCache();
        wsServiceInit();
        // A sender identity distinct from the user interface (0), the keys and the timers (-1).
        savedSenders_[0] = tWEBSd_id;
        savedSenders_[1] = TRAD_id;
        tWEBSd_id = static_cast<pthread_t>(0x5EB5);
        TRAD_id = static_cast<pthread_t>(0x7AAD);
        ASSERT_TRUE(client_.ok());
        req_ = std::make_unique<TWsReq>();
        ASSERT_GE(wsOpenTestSocket(), 0);
        posted();
    }
    void TearDown() override
    {
        posted();
        if (req_ && req_->socket >= 0)
            ::close(req_->socket);
        traces_.reset();
        resetWsStatusCache();
        tWEBSd_id = savedSenders_[0];
        TRAD_id = savedSenders_[1];
        Base::TearDown();
    }

    // The service's side: a loopback socket on a port of the system's choice.
    int wsOpenTestSocket()
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return -1;
        req_->socket = fd;
        client_.target(addr);
        return fd;
    }

    // Sends the datagram, serves it as the service thread does and returns the reply.
    TWsAnswer ask(const std::string& datagram)
    {
        client_.send(datagram);
        std::memset(req_->buffer, 0, sizeof req_->buffer);
        req_->peerLength = sizeof req_->peer;
        const ssize_t n = ::recvfrom(req_->socket, req_->buffer, kWsDatagramMax, MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&req_->peer), &req_->peerLength);
        req_->received = n < 0 ? 0 : static_cast<int32_t>(n);
        wsServeDatagram(req_.get(), wsCallback, kWsCallbackRows);
        return client_.receive(5000);
    }
    std::string reply(const std::string& datagram) { return ask(datagram).bytes; }
    // The status text's fields after the count (the count checked); empty when malformed.
    std::vector<std::string> fields(const std::string& datagram)
    {
        std::vector<std::string> out;
        const std::string bytes = reply(datagram);
        EXPECT_TRUE(wsFields(bytes, &out)) << datagram << " -> " << bytes;
        return out;
    }

    // Everything posted to the controller since the last call, oldest first.
    static std::vector<pipe_dial> posted()
    {
        std::vector<pipe_dial> out;
        pipe_dial r{};
        while (!o_g_consMessageBox.empty() && o_g_consMessageBox.receive(&r, true, 0) == 0)
            out.push_back(r);
        return out;
    }
    using TSet = TWsSet;
    static std::vector<TSet> sets()
    {
        std::vector<TSet> out;
        for (const pipe_dial& r : posted()) {
            EXPECT_EQ(r.kind, REQ_SET_PARAM);
            EXPECT_EQ(r.senderId, senderValue(tWEBSd_id)) << r.code;
            out.push_back({r.code, r.auxValue, r.intValue});
        }
        return out;
    }

    TAcquisition* trace(int i) { return traces_->trace(i); }

    TWsTestClient client_;
    std::unique_ptr<TWsReq> req_;
    mesures records_[9];

private:
    std::unique_ptr<TLinkedTraces> traces_;
    pthread_t savedSenders_[2] = {};
};

using WsHandlers = WsHandlersOn<SimBoardTest>;

