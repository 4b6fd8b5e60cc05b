#include "core/sysserv.h"

#include "board/board.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool isSdcardPresent()
{
    struct stat st;
    return ::stat(boardPath("/dev/mmcblk0p1").c_str(), &st) == 0
        && ::stat(boardPath("/media/user/sdcard_p1").c_str(), &st) == 0;
}

// --- USB mass storage -------------------------------------------------------------------------

namespace {

// One write into a truncated file; a file that cannot be opened is skipped.
void writeGadgetFile(const char* boardFile, const char* text, size_t length)
{
    const int fd = ::open(boardPath(boardFile).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return;
    ssize_t n;
    do {
        n = ::write(fd, text, length);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
}

} // namespace

void setUsbMassStorage(int mode)
{
    // The device paths are what the gadget driver opens on the board: data, never mapped.
    const char* device = "/dev/mmcblk2p7";
    char readOnly = '1';
    if (mode == 0x8000) {
        readOnly = '0';
        device = "/dev/mmcblk2p5";
        if (DIR* card = ::opendir(boardPath("/media/user/sdcard_p1").c_str())) {
            ::closedir(card);
            device = "/dev/mmcblk0p1";
        }
    }
    // An empty line detaches the current medium before the flag may change.
    writeGadgetFile(kUsbLunFile, "\n", 1);
    writeGadgetFile(kUsbLunReadOnly, &readOnly, 1);
    writeGadgetFile(kUsbLunFile, device, 14);
}

// --- Network ----------------------------------------------------------------------------------

#include "board/netif.h"
#include "board/systools.h"
#include "core/homebridge.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr const char* kInterfacesFile = "/etc/network/interfaces";
constexpr const char* kInterfacesTemporary = "/etc/network/interfaces.tmp";
constexpr const char* kWifiSettingsFile = "/media/private/sta_settings.conf";
constexpr int kToolWaitMs = 1000;
constexpr int kMacTries = 3;
constexpr int kMacRetryMs = 100;

// Four decimal fields 0..255 of one to three digits each; the address in host order.
bool parseDottedQuad(const char* text, uint32_t& address)
{
    if (!text)
        return false;
    address = 0;
    const char* p = text;
    for (int field = 0; field < 4; ++field) {
        if (field > 0 && *p++ != '.')
            return false;
        int digits = 0;
        uint32_t value = 0;
        while (*p >= '0' && *p <= '9' && digits < 4) {
            value = value * 10 + static_cast<uint32_t>(*p++ - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        address = (address << 8) | value;
    }
    return *p == '\0';
}

std::string dottedQuad(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

// The netmask of the address's class.
std::string classNetmask(uint32_t address)
{
    if (address >= 0xC0000000u)
        return "255.255.255.0";
    if (address >= 0x80000000u)
        return "255.255.0.0";
    return "255.0.0.0";
}

// An interface name that cannot break out of its line of the settings file.
bool isInterfaceName(const char* name)
{
    if (!name || !*name)
        return false;
    for (const char* p = name; *p; ++p) {
        const char c = *p;
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_'
              || c == '-' || c == ':'))
            return false;
    }
    return true;
}

// A text written between double quotes into the supplicant's settings: no quote, no
// backslash, no control character (line ends included).
bool isQuotable(const char* text)
{
    for (const char* p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

bool contains(const std::string& line, const char* part)
{
    return line.find(part) != std::string::npos;
}

// Writes content to a temporary file and renames it over target (board paths): the target is
// replaced whole or left as it was.
bool replaceFile(const char* target, const char* temporary, const std::string& content, mode_t mode)
{
    const std::string tmp = boardPath(temporary);
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    bool ok = true;
    for (size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(tmp.c_str(), boardPath(target).c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

} // namespace

bool getIpAddress(bool& dhcp, std::string& address, std::string& netmask, std::string& gateway)
{
    dhcp = false;
    address = netmask = gateway = "0.0.0.0";
    for (const TNetInterface& n : networkInterfaces()) {
        if ((n.name == "eth0" || n.name == "wifi0") && !n.ipv4.empty()) {
            address = n.ipv4.front().address;
            netmask = n.ipv4.front().netmask;
            return true;
        }
    }
    return false;
}

bool getMacAddress(std::string& mac)
{
    mac = "00-00-00-00-00-00";
    // A few tries only: without the interface the discovery responder must still answer.
    for (int attempt = 0; attempt < kMacTries; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(kMacRetryMs));
        const std::string hardware = hardwareAddress("eth0");
        unsigned bytes[6];
        int used = 0;
        if (std::sscanf(hardware.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%n", &bytes[0], &bytes[1], &bytes[2], &bytes[3],
                        &bytes[4], &bytes[5], &used)
                == 6
            && used >= 17) {
            char text[18];
            std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                          bytes[4], bytes[5]);
            mac = text;
            return true;
        }
    }
    return true;
}

void networkStart(const char* interfaceName)
{
    // Both are taken down; only the given one comes up. A tool that takes longer runs on.
    runSystemTool("ifdown", {"wifi0"}, kToolWaitMs);
    runSystemTool("ifdown", {"eth0"}, kToolWaitMs);
    if (interfaceName && *interfaceName)
        runSystemTool("ifup", {interfaceName}, kToolWaitMs);
    if (THomeBridge* bridge = homeBridge())
        bridge->refreshConfig();
}

bool setIpParams(const char* interfaceName, const char* address)
{
    // A bad request changes nothing, not even the connection it came through.
    uint32_t value = 0;
    if (!isInterfaceName(interfaceName) || !parseDottedQuad(address, value))
        return false;

    std::string content;
    std::ifstream in(boardPath(kInterfacesFile));
    const std::string stanza = std::string("iface ") + interfaceName;
    bool skipping = false;
    for (std::string line; std::getline(in, line);) {
        if (!skipping) {
            if (contains(line, "auto wifi0") || line.empty())
                continue;
            if (contains(line, stanza.c_str())) {
                skipping = true;
                continue;
            }
        } else {
            if (!contains(line, "#") && !contains(line, "auto") && !contains(line, "iface"))
                continue;
            skipping = false;
        }
        content += line + "\n";
    }
    content += stanza + " inet static\n    address " + dottedQuad(value) + "\n    netmask " + classNetmask(value)
        + "\n";
    if (!replaceFile(kInterfacesFile, kInterfacesTemporary, content, 0644))
        return false;
    networkStart(interfaceName);
    return true;
}

bool setWifiParams(const char* ssid, const char* security, const char* key)
{
    // The texts come from remote commands: nothing that could add a directive is written.
    if (!ssid || !isQuotable(ssid) || (key && !isQuotable(key)))
        return false;
    const std::string kind = security ? security : "";
    const std::string secret = key ? key : "";
    std::string content =
        "ctrl_interface=/var/run/wpa_supplicant\n"
        "update_config=1\n"
        "uuid=12345678-9abc-def0-1234-56789abcdef0\n"
        "device_name=RS9113_n-Link\n"
        "manufacturer=Redpine Signals INC\n"
        "model_name=OneBox-Mobile\n"
        "model_number=9113\n"
        "serial_number=02\n"
        "device_type=1-0050F204-1\n"
        "os_version=01020300\n"
        "config_methods=display push_button keypad\n"
        "ap_scan=1\n"
        "\n"
        "network={\n";
    content += std::string("\tssid=\"") + ssid + "\"\n";
    if (contains(kind, "WEP"))
        content += "\twep_key0=\"" + secret + "\"\n\twep_tx_keyidx=1\n\tkey_mgmt=NONE\n";
    else if (contains(kind, "WPA-PSK"))
        content += "\tpairwise=CCMP TKIP\n\tgroup=CCMP TKIP\n\tkey_mgmt=WPA-PSK\n\tpsk=\"" + secret
            + "\"\n\tproto=WPA2 WPA\n";
    else
        content += "\tkey_mgmt=NONE\n";
    content += "\tpriority=1\n}";
    // The file holds the key: readable by its owner only.
    if (!replaceFile(kWifiSettingsFile, "/media/private/sta_settings.conf.tmp", content, 0600))
        return false;
    networkStart("wifi0");
    return true;
}

// --- Identification ---------------------------------------------------------------------------

#include "core/calibfile.h"
#include "hardware/calibration.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// A record field as a text: up to its first NUL, never beyond its width (a remotely installed
// record may fill a field without one).
int fieldLength(const char* field, size_t width)
{
    const void* nul = std::memchr(field, 0, width);
    return static_cast<int>(nul ? static_cast<const char*>(nul) - field : static_cast<std::ptrdiff_t>(width));
}

} // namespace

char* GetIdentification(calibration* record, char* text, uint16_t* identifier, bool withSerial, bool withCode)
{
    if (identifier)
        *identifier = 0;
    if (!text)
        return text;
    calibration stored;
    if (!record) {
        CalibrationRecall(&stored, false);
        record = &stored;
    }
    int n = std::snprintf(text, kIdentificationSize, "%.*s, V1.12/%.*s",
                          fieldLength(record->modelName, sizeof record->modelName), record->modelName,
                          fieldLength(record->calibrationName, sizeof record->calibrationName),
                          record->calibrationName);
    if (withSerial && n > 0 && static_cast<unsigned>(n) < kIdentificationSize)
        n += std::snprintf(text + n, kIdentificationSize - static_cast<unsigned>(n), ", %.*s",
                           fieldLength(record->serialNumber, sizeof record->serialNumber), record->serialNumber);
    if (withCode && n > 0 && static_cast<unsigned>(n) < kIdentificationSize)
        std::snprintf(text + n, kIdentificationSize - static_cast<unsigned>(n), "-%.*s",
                      fieldLength(record->identificationCode, sizeof record->identificationCode),
                      record->identificationCode);
    return text;
}

char* GetIdentification(char* text, uint16_t* identifier, bool withSerial, bool withCode)
{
    return GetIdentification(nullptr, text, identifier, withSerial, withCode);
}

char* GetIdentification(calibration* record, char* out, bool withSerial)
{
    return GetIdentification(record, out, nullptr, withSerial, false);
}

char* GetIdentification(char* out, bool withSerial)
{
    return GetIdentification(nullptr, out, nullptr, withSerial, false);
}
