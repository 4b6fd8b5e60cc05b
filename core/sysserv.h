// System services: SD card, network addresses, USB mass storage, identification.
#pragma once

// An SD card is present and mounted: both its device node and its mount point exist.
bool isSdcardPresent();
// Exposes the medium that suits the instrument mode to the USB mass-storage gadget: in the home
// mode 0x8000 the SD card's partition when it is mounted, else the internal user partition,
// writable; in any other mode the internal partition read-only.
void setUsbMassStorage(int mode);
// The logical unit 0 of the USB mass-storage gadget (board paths).
constexpr const char* kUsbLunFile = "/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/file";
constexpr const char* kUsbLunReadOnly = "/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/ro";

// --- Network ----------------------------------------------------------------------------------
#include <string>

// The first "eth0" or "wifi0" entry carrying an IPv4 address, in system order: its address and
// netmask, dotted. dhcp is always false and gateway "0.0.0.0"; false (texts "0.0.0.0") when
// there is none.
bool getIpAddress(bool& dhcp, std::string& address, std::string& netmask, std::string& gateway);
// The hardware address of "eth0" as six lower-case hex pairs joined by "-"; all zeros when it
// cannot be read within three tries about 100 ms apart. Always true.
bool getMacAddress(std::string& mac);
// Takes "wifi0" and "eth0" down and brings interfaceName up (each tool waited for at most
// 1000 ms, never stopped), then has the screens re-read the network state.
void networkStart(const char* interfaceName);
// Gives the interface the static IPv4 address (dotted quad) with its class netmask in
// /etc/network/interfaces, replacing its stanza, then restarts the network. False, with nothing
// changed and no restart, for an invalid address or interface name or when the file cannot be
// written.
bool setIpParams(const char* interfaceName, const char* address);
// Rewrites the Wi-Fi station settings for one network (security containing "WEP", "WPA-PSK",
// else open), then restarts "wifi0". False, with nothing changed and no restart, when the SSID
// or key holds a double quote, a backslash or a control character, or when the file cannot be
// written.
bool setWifiParams(const char* ssid, const char* security, const char* key);

// --- Identification ---------------------------------------------------------------------------
// model, ", V1.12/", calibration name [, ", " serial] [, "-" identification code], each record
// field read within its width (10, 10, 20, 8). out must hold kIdentificationSize bytes; the
// text never needs more. The forms without a record read the stored calibration (the factory
// identity when the file is missing or bad). identifier, when not null, receives 0: the record
// carries no 16-bit identifier.
#include <cstdint>

struct calibration;

constexpr unsigned kIdentificationSize = 80;

char* GetIdentification(calibration* record, char* out, bool withSerial);
char* GetIdentification(char* out, bool withSerial);
char* GetIdentification(char* text, uint16_t* identifier, bool withSerial, bool withCode);
char* GetIdentification(calibration* record, char* text, uint16_t* identifier, bool withSerial, bool withCode);
