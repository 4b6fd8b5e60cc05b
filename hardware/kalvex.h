// Smart probes: what one probe on a channel tells, and the reading that applies it to a setup.
//
// A probe object is shared: the setup's link holds one reference, every reader (acquisition
// control, views, key thread) takes a copy of the link for the length of its use. Id, descriptor
// and user area never change after the constructor; state, the pending flag and the two header
// user bytes are atomics, so the views read them without waiting for the probe bus.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <pthread.h>

class QString;
class TAcquisition;
struct database;

// Probe memory (I2C device 0x50, two address bytes, 32-byte pages). Checksums and id are
// big-endian there.
namespace kalvex {
constexpr uint8_t kMemoryAddress = 0x50;
constexpr uint8_t kExpanderAddress = 0x21;
constexpr uint8_t kSecondExpanderAddress = 0x41;
constexpr uint8_t kConverterAddress = 0x48;
constexpr uint8_t kStatusAddress = 0x0C;

constexpr uint16_t kIdOffset = 0;
constexpr uint16_t kHeaderOffset = 32;
constexpr size_t kHeaderSize = 8;
constexpr uint16_t kDescriptorOffset = 288;
constexpr size_t kDescriptorSize = 244;
constexpr uint16_t kUserAreaOffset = 800;
constexpr size_t kUserAreaSize = 4104;
constexpr size_t kMemoryUsed = kUserAreaOffset + kUserAreaSize;  // 4904

// Header: checksum of the next 4 bytes, colour, second user byte, 2 spare bytes.
constexpr size_t kHeaderColour = 4;
constexpr size_t kHeaderSecond = 5;

// Descriptor fields: offset and width inside the 244 bytes.
struct TField {
    size_t offset;
    size_t size;
};
constexpr TField kInput1{4, 16};
constexpr TField kInput2{20, 16};
constexpr TField kFloating1{36, 16};
constexpr TField kFloating2{52, 16};
constexpr TField kBetweenChannels{68, 16};
constexpr TField kComment{84, 104};
constexpr size_t kDesignationSize = 5;  // the comment's first bytes
constexpr TField kBandwidthLimit{188, 4};
constexpr TField kSensitivity{192, 8};
constexpr TField kPosition{200, 8};
constexpr TField kCoupling{208, 8};
constexpr TField kUnit{216, 4};
constexpr TField kCoefficient{220, 8};
constexpr TField kMeterType{228, 2};
constexpr TField kMeterCoupling{230, 6};
constexpr TField kMeterRange{236, 8};

// User area: checksum of the next 4100 bytes, 2-byte marker, correction text from byte 6.
constexpr size_t kMarker = 4;
constexpr size_t kCorrectionText = 6;
constexpr uint16_t kCorrectionMarker = 2;
constexpr uint16_t kNoCorrectionMarker = 3;

constexpr int kBuiltInDescriptors = 17;

// Sensitivity field: the number divided by this gives the sensitivity value.
constexpr double kSensitivityDivisor = 32760.0;
// Position field: volts divided by (scale x this) give the offset in codes.
constexpr double kPositionCodesPerScale = 262.0;
} // namespace kalvex

// The 17 built-in descriptors, used for accessories whose memory holds only an id (first word:
// the probe id).
using TKalvexDescriptorTable = std::array<std::array<uint8_t, kalvex::kDescriptorSize>, kalvex::kBuiltInDescriptors>;
extern const TKalvexDescriptorTable to_g_kalvexEepromSystem;

// Held across every probe-bus sequence (channel select, I2C set-up, transfers): the controller
// and the key thread share the bus and the master's configuration word. Taken before the
// register-20 lock; never while holding the image, measurement or box mutexes, never while
// suspending the acquisition.
extern pthread_mutex_t o_g_probeBusMutex;

// Thrown inside the constructor only, with the state it ends in (2 or 3).
struct TEtatKalvex {
    int32_t state;
};

class TKalvex {
public:
    // Reads the probe of channel 0..3 (the whole reading under the probe-bus mutex).
    explicit TKalvex(unsigned short channel);
    TKalvex(const TKalvex&) = delete;
    TKalvex& operator=(const TKalvex&) = delete;

    // The state when it is not 0; 0 when no probe key is pending; else the key code read from
    // the probe's expander (5, 6, 7, or 8 when unreadable or unknown).
    int getStatus();
    // Re-reads the id (failure: state 2) and, when it is not 0, the status byte, noting a pending
    // key. 1 when the last read succeeded, else 0. Called by the key thread on a probe key.
    int updateStatus();
    // -1 unless the state is 0 or 4; else fills, when given, the 6-byte designation (5 bytes
    // of the comment and the state without bit 2) and the id; 0.
    int getId(char* designation, unsigned short* id) const;

    // Scope and meter settings: 0, or -1 when the field is empty or malformed, the output left
    // as it was (getScopeVertical: -1 when either part fails, the other still set).
    int getScopeVertical(TAcquisition* trace, unsigned short* sensitivity, short* position) const;
    int getScopeCoupling(unsigned short* coupling) const;
    int getScopeBWL(int32_t* limit) const;
    // 4 bytes: the unit cut to 3 bytes at a character boundary and NUL-padded, the degree sign
    // as UTF-8.
    int getMeasurementUnit(char* unit) const;
    int getProbeCoeff(float* coefficient) const;
    int getMeterMeasurementType(unsigned short* type) const;
    int getMeterRange(unsigned short* range) const;
    int getMeterCoupling(unsigned short* coupling) const;

    // The probe's gain and offset correction: 0 when the probe carries a usable one; otherwise
    // gain 1.0, offset 0.0 and -1.
    int getCorrection(double* gain, double* offset) const;

    // Descriptor texts (empty unless the state is 0 or 4).
    void getMessageInput1(QString& text) const;
    void getMessageInput2(QString& text) const;
    void getMessageFloating1(QString& text) const;
    void getMessageFloating2(QString& text) const;
    void getMessageBetweenChannels(QString& text) const;
    void getMessageComments(QString& text) const;
    // U+FFFD becomes the degree sign, "{" the ohm sign.
    static void convert(QString& text);

    // Stores the colour and second user byte in the header and writes it to the probe; 0.
    int setUserFields(unsigned short colour, unsigned short second);
    // 0 and both header user bytes in state 0; -1 otherwise, the outputs untouched.
    int getUserFields(unsigned short* colour, unsigned short* second) const;

    uint16_t id = 0xAAAA;  // 0xAAAA until read
    struct THeader {
        uint32_t checksum = 0;  // host order
        std::atomic<uint8_t> colour{0};
        std::atomic<uint8_t> second{0};
        uint8_t spare[2] = {0, 0};
    } header;
    uint8_t descriptor[kalvex::kDescriptorSize] = {};  // checksum (or id) in host order
    uint8_t userArea[kalvex::kUserAreaSize] = {};      // checksum in host order
    std::atomic<int32_t> state{0};  // 0 read, 2 I2C error, 3 descriptor checksum, 4 header checksum
    uint16_t channel = 0;
    std::atomic<uint8_t> statusPending{0};

private:
    void readProbe();
    bool readable() const;
    void message(const kalvex::TField& field, QString& text) const;
    // The user area's correction, parsed once (the area never changes).
    bool hasCorrection_ = false;
    double correctionGain_ = 1.0;
    double correctionOffset_ = 0.0;
};

// Reads and applies the probe of channel 0..3 to the setup; returns the probe's status.
int LectureKalvex(int16_t channel, database* db);
