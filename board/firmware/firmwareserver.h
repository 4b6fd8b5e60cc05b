// The firmware server of the simulated board: HTTPS on 127.0.0.1 (a port the system chooses),
// serving the files of one folder as /tavlinIV/firmware/<name>, with switches for the faults a
// real server shows. Used by the tests and the board player. Needs a Qt application object.
#pragma once

#include <string>
#include <vector>

namespace simboard {

// A self-signed certificate and its key for "localhost" and 127.0.0.1, made with the openssl
// command (PEM files at the given host paths). False with a message.
bool makeServerCertificate(const std::string& certPath, const std::string& keyPath, std::string* error);

class TFirmwareServer {
public:
    enum class TStall { None, AfterHeaders, Silent };
    TFirmwareServer();
    ~TFirmwareServer();
    TFirmwareServer(const TFirmwareServer&) = delete;
    TFirmwareServer& operator=(const TFirmwareServer&) = delete;

    // Serves the folder (host path) with that certificate and key. False with a message.
    bool start(const std::string& folder, const std::string& certPath, const std::string& keyPath,
               std::string* error = nullptr);
    void stop();
    int port() const;
    std::string url() const;                  // "https://127.0.0.1:PORT"
    void setFolder(const std::string& folder);
    // Request paths in order of arrival.
    std::vector<std::string> requests() const;
    void clearRequests();

    // Switches, per file name; cleared by resetSwitches().
    void setStatus(const std::string& name, int status);  // 404, 204, 301 (with a Location)
    void setChangedByte(const std::string& name);          // the first byte of the body flipped
    void setStall(const std::string& name, TStall stall);
    void setCloseMidBody(const std::string& name);         // half the body, then the end
    // Another certificate for every later connection (one the client does not trust).
    void setCertificate(const std::string& certPath, const std::string& keyPath);
    void resetSwitches();

    struct Impl;  // the server's thread

private:
    Impl* impl_;
};

} // namespace simboard
