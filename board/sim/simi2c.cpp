// The FPGA's I2C master (SPI registers 120-125) and the devices on the probe buses: the probe
// memory at address 0x50 (2 address bytes, 32-byte write pages) and, on an active probe, the I/O
// expander (0x21 or 0x41) and the status device 0x0C; the temperature converter 0x48 of probe id 7.
#include "board/sim/simstate.h"

namespace simboard {

namespace {
constexpr uint32_t kBusy = 1u << 15;
constexpr uint32_t kDone = 1u << 14;
constexpr uint32_t kError = 1u << 12;
constexpr int kProbeMemoryAddress = 0x50;
constexpr int kStatusAddress = 0x0C;
constexpr int kConverterAddress = 0x48;
constexpr uint16_t kPageSize = 32;
constexpr uint8_t kLinesIdle = 7;
} // namespace

void TSimBoard::plugProbe(int channel, std::vector<uint8_t> mem, int expanderAddress)
{
    TProbeChips chips;
    if (!mem.empty()) {
        const uint16_t id = static_cast<uint16_t>((mem[0] << 8) | mem[1]);
        chips.expander = (id & 0x8000) != 0;
        chips.expanderAddress = expanderAddress;
        chips.converter = id == 7;
    }
    probe[channel] = std::move(mem);
    probeChips[channel] = chips;
}

uint32_t TSimBoard::i2cStatus(bool read) const
{
    uint32_t s = read ? i2c.readStatus : i2c.writeStatus;
    if (i2cMasterBusy)
        s = (s | kBusy) & ~kDone;
    return s;
}

void TSimBoard::i2cStart(uint32_t conf)
{
    const bool read = (conf & 1) != 0;
    const int address = (conf >> 1) & 0x7F;
    const int addressBytes = (conf >> 8) & 3;
    const uint32_t length = ((conf >> 16) & 0x3FF) + 1;
    const int bus = (spi[20] >> 22) & 3;
    const uint16_t offset = static_cast<uint16_t>(spi[121]);
    uint32_t& status = read ? i2c.readStatus : i2c.writeStatus;

    std::vector<uint8_t> bytes;
    bytes.swap(i2c.pending);
    i2c.readData.clear();

    std::string outcome = "ok";
    if (i2cMasterBusy) {
        status = kBusy;
        outcome = "busy";
    } else {
        std::vector<uint8_t>& mem = probe[bus];
        TProbeChips& chips = probeChips[bus];
        const bool memory = address == kProbeMemoryAddress;
        const bool present = !mem.empty() &&
                             (memory || (chips.expander && (address == chips.expanderAddress || address == kStatusAddress)) ||
                              (chips.converter && address == kConverterAddress));
        bool answers = true;
        for (auto& na : noAnswer) {
            if ((na.bus >= 0 && na.bus != bus) || na.address != address)
                continue;
            if (na.remaining > 0)
                --na.remaining;
            else
                answers = false;
        }
        if (!present || !answers) {
            status = kDone | kError;
            outcome = present ? "no answer" : "absent";
        } else if (!memory) {
            // One-byte devices: the expander answers its input lines (a pressed button is
            // released by the read), the status device its byte; writes set the expander's
            // configuration and are otherwise only logged.
            if (read) {
                for (uint32_t i = 0; i < length; ++i) {
                    if (address == chips.expanderAddress) {
                        i2c.readData.push_back(chips.lines);
                        chips.lines = kLinesIdle;
                    } else {
                        i2c.readData.push_back(address == kStatusAddress ? chips.status : 0);
                    }
                }
            } else if (address == chips.expanderAddress && !bytes.empty()) {
                chips.expanderConfig = bytes.back();
            }
            status = kDone;
        } else {
            const uint16_t sizeMask = static_cast<uint16_t>(mem.size() - 1);
            uint16_t& pointer = i2c.pointer[bus];
            if (read) {
                uint16_t from = addressBytes == 0 ? pointer : static_cast<uint16_t>(offset & (addressBytes == 1 ? 0xFF : 0xFFFF));
                for (uint32_t i = 0; i < length; ++i)
                    i2c.readData.push_back(mem[(from + i) & sizeMask]);
                pointer = static_cast<uint16_t>((from + length) & sizeMask);
            } else {
                size_t skip = 0;
                uint16_t to = static_cast<uint16_t>(offset & (addressBytes == 1 ? 0xFF : 0xFFFF));
                if (addressBytes == 0) {
                    // Without address bytes from the master, the first two data bytes address the memory.
                    if (bytes.size() >= 2) {
                        to = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
                        skip = 2;
                    } else {
                        to = pointer;
                        skip = bytes.size();
                    }
                }
                size_t count = std::min<size_t>(length, bytes.size());
                if (count != length || bytes.size() != length)
                    outcome = "ok, " + std::to_string(bytes.size()) + " bytes written to 124 for length " + std::to_string(length);
                to &= sizeMask;
                const uint16_t page = static_cast<uint16_t>(to & ~(kPageSize - 1));
                size_t n = count > skip ? count - skip : 0;
                for (size_t i = 0; i < n; ++i)  // the address wraps inside the page, like the chip
                    mem[page | ((to + i) & (kPageSize - 1))] = bytes[skip + i];
                pointer = static_cast<uint16_t>(page | ((to + n) & (kPageSize - 1)));
            }
            status = kDone;
        }
    }

    TLogEntry& e = addLog(TLogKind::I2c);
    e.a = bus;
    e.b = address;
    e.c = read ? 1 : 0;
    e.d = offset;
    e.e = length;
    e.text = std::move(outcome);
    if (!read) {
        e.byteCount = static_cast<uint8_t>(std::min(bytes.size(), sizeof e.bytes));
        std::copy(bytes.begin(), bytes.begin() + e.byteCount, e.bytes);
    }
}

} // namespace simboard
