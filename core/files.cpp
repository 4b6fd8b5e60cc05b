#include "core/files.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "board/board.h"
#include "board/deviceio.h"
#include "core/command_helpers.h"
#include "core/filehdr.h"
#include "core/filename.h"
#include "core/fileio.h"
#include "core/gest_db.h"
#include "core/setup_consistency.h"
#include "core/sysserv.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using command_util::channelFunction;
using command_util::channelTrace;

constexpr size_t kNameMax = 32;
constexpr uint16_t kMaskTraceBit = 0x1000;
constexpr uint16_t kAuxStreamBit = 0x2000;
constexpr uint16_t kLoggerStreams = 0x200F;
constexpr uint32_t kNoValue = 0x7FC00000u;  // float NaN: no sample
constexpr size_t kLoggerHeadSize = 64;
constexpr size_t kLoggerBlock = 48000;
constexpr char kHarmonicExport[] = "/media/private/harmonic.txt";

// The per-channel setup fields the files touch.
struct TChannelFields {
    uint8_t database::*traceOn;
    uint8_t database::*memoryTrace;
    int16_t database::*offset;
    float database::*probeCoeff;
    int16_t database::*fftOffset;
    char (database::*unit)[4];
    char (database::*mathExpr)[100];
    int16_t database::*meterRange;
    int16_t database::*meterCoupling;
};

#define BV_CHANNEL(n)                                                                                   \
    TChannelFields                                                                                      \
    {                                                                                                   \
        &database::traceOnCh##n, &database::memoryTraceCh##n, &database::offsetCh##n,                   \
            &database::probeCoeffCh##n, &database::fftOffsetCh##n, &database::unitCh##n,                \
            &database::mathExprCh##n, &database::meterRangeCh##n, &database::meterCouplingCh##n         \
    }
const TChannelFields kChannel[4] = {BV_CHANNEL(1), BV_CHANNEL(2), BV_CHANNEL(3), BV_CHANNEL(4)};
#undef BV_CHANNEL

uint32_t* normalisedBuffer(int n);

} // namespace

TLiveChannels LiveChannelsOf(const database& db)
{
    TLiveChannels kept{};
    kept.meterFunction = db.meterFunction;
    for (int n = 0; n < 4; ++n) {
        const TChannelFields& f = kChannel[n];
        kept.traceOn[n] = db.*f.traceOn;
        kept.meterRange[n] = db.*f.meterRange;
        kept.meterCoupling[n] = db.*f.meterCoupling;
        kept.probeCoeff[n] = db.*f.probeCoeff;
        std::memcpy(kept.unit[n], db.*f.unit, sizeof kept.unit[n]);
    }
    return kept;
}

TRecordedExtent RecordedExtent()
{
    constexpr uint32_t kInvalidFrom = 0x40000000u;
    TRecordedExtent extent{TAcquisition::kNormalisedSamples, 0};
    for (int s = 0; s < 5; ++s) {
        const uint32_t* b = normalisedBuffer(s);
        if (b == nullptr)  // not allocated: nothing recorded there
            continue;
        for (uint32_t i = 0; i < TAcquisition::kNormalisedSamples; ++i)
            if (b[i] < kInvalidFrom) {
                extent.first = std::min(extent.first, i);
                extent.end = std::max(extent.end, i + 1);
            }
    }
    if (extent.end == 0)
        extent.first = 0;
    return extent;
}

namespace {
// One word, start in the high half: a reader never sees the start of one span with the length of
// another.
std::atomic<uint64_t> s_viewerSpan{TAcquisition::kNormalisedSamples};
} // namespace

TViewerSpan ViewerSpan()
{
    const uint64_t v = s_viewerSpan.load(std::memory_order_acquire);
    return TViewerSpan{static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v)};
}

void SetViewerSpan(TRecordedExtent extent)
{
    uint64_t v = TAcquisition::kNormalisedSamples;
    if (extent.end > extent.first && extent.end <= TAcquisition::kNormalisedSamples) {
        const uint32_t start = extent.first & ~1u;
        v = (uint64_t(start) << 32) | (extent.end - start);
    }
    s_viewerSpan.store(v, std::memory_order_release);
}

void RestoreLiveChannels(const TLiveChannels& kept, database* db)
{
    db->meterFunction = kept.meterFunction;
    for (int n = 0; n < 4; ++n) {
        const TChannelFields& f = kChannel[n];
        db->*f.traceOn = kept.traceOn[n];
        db->*f.memoryTrace = 0;
        db->*f.meterRange = kept.meterRange[n];
        db->*f.meterCoupling = kept.meterCoupling[n];
        db->*f.probeCoeff = kept.probeCoeff[n];
        std::memcpy(db->*f.unit, kept.unit[n], sizeof kept.unit[n]);
    }
}

namespace {

uint32_t* normalisedBuffer(int n)
{
    uint32_t* const b[5] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                            TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee,
                            TAcquisition::VoieAuxNormalisee};
    return b[n];
}

bool endsWith(const std::string& text, const char* ending)
{
    const size_t n = std::strlen(ending);
    return text.size() >= n && text.compare(text.size() - n, n, ending) == 0;
}

// The host path of a save: a name beginning with '/' as it stands, else in the kind's directory
// of the storage root (made when missing); the extension appended unless present.
std::string targetPath(const char* name, const char* directory, const char* extension)
{
    std::string path;
    if (name[0] == '/') {
        path = boardPath(name);
    } else {
        const std::string dir =
            boardPath(std::string(isSdcardPresent() ? "/media/user/sdcard_p1/" : "/media/user/") + directory);
        struct stat st;
        if (::stat(dir.c_str(), &st) != 0)
            ::mkdir(dir.c_str(), 0777);
        path = dir + "/" + name;
    }
    if (!endsWith(path, extension))
        path += extension;
    return path;
}

// Steps shared by the trace, mask and function saves: 19 or 23 for a name they refuse, else 0.
int checkName(const char* name)
{
    if (!name)
        return 19;
    if (!*name || !fileNameIsClean(name))
        return 23;
    const char* slash = std::strrchr(name, '/');
    return std::strlen(slash ? slash + 1 : name) > kNameMax ? 23 : 0;
}

// A file made for a save: never over an existing one (17). It is written under a temporary
// name and takes its own only once whole and on the medium, so a crash inside a save leaves no
// truncated file under the name.
class TNewFile {
public:
    explicit TNewFile(std::string hostPath) : file_(hostPath, true)
    {
        struct stat st;
        if (::lstat(hostPath.c_str(), &st) == 0)
            result_ = 17;
        else
            result_ = file_.fd() >= 0 ? 0 : 19;
    }
    TNewFile(const TNewFile&) = delete;
    int fd() const { return file_.fd(); }
    int result() const { return result_; }
    // 0, or the result of the save; the name is taken only when it is 0.
    int finish(int result)
    {
        if (result == 0 && !file_.commit())
            result = errno == EEXIST ? 17 : 19;
        deviceIO().syncAll();
        return result;
    }

private:
    TAtomicFile file_;
    int result_ = 0;
};

// Shared frame of the trace, mask and function saves: name, path, nothing to save (24), the new
// file, its header and then the body writer's result.
template <typename Body>
int saveFile(const char* name, const char* comment, const char* directory, const char* type, uint32_t mask,
             Body body)
{
    if (const int refused = checkName(name))
        return refused;
    const std::string path = targetPath(name, directory, type);
    if (mask == 0)
        return 24;
    TNewFile file(path);
    if (file.result() != 0)
        return file.result();
    if (WriteFileHeader(file.fd(), type, comment ? comment : "", -1) != 0)
        return file.finish(19);
    return file.finish(body(file.fd()));
}

int writeMask(int fd, uint16_t mask)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(mask & 0xFF), static_cast<uint8_t>(mask >> 8)};
    return writeAll(fd, bytes, sizeof bytes) ? 0 : 19;
}

int writeTraceRecord(int fd, TAcquisition* trace)
{
    return trace ? trace->write(fd) : 19;
}

// A value from a file within the parameter's limit (offsets: within ± the limit).
float clampCoefficient(float value, float limit)
{
    return std::min(value, limit);
}

int16_t clampOffset(double value, int16_t limit)
{
    const double l = std::abs(double(limit));
    return static_cast<int16_t>(std::clamp(std::trunc(value), -l, l));
}

void setUnit(database* db, int n, const char* unit)
{
    char* field = db->*kChannel[n].unit;
    std::memset(field, 0, 4);
    std::memcpy(field, unit, strnlen(unit, 3));
}

class TOpenFile {
public:
    explicit TOpenFile(const char* path) : fd_(::open(boardPath(path).c_str(), O_RDONLY | O_CLOEXEC)) {}
    TOpenFile(const TOpenFile&) = delete;
    ~TOpenFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

int popCount(uint32_t bits)
{
    int n = 0;
    for (; bits; bits &= bits - 1)
        ++n;
    return n;
}

// The recall's part of TraceRecallAll once the mask is read: channel records, then the mask trace.
int recallTraces(database* db, int fd, uint16_t mask, off_t fileSize)
{
    const uint16_t records = mask & (0xF | kMaskTraceBit);
    // A cut file would be taken with old samples in its tail: refuse it before anything changes.
    const off_t needed = off_t(kFileHeaderSize) + 2 + off_t(popCount(records)) * off_t(TAcquisition::kRecordSize);
    if (fileSize < needed)
        return 20;

    for (int n = 0; n < 4; ++n) {
        if (!(mask & (1u << n)))
            continue;
        TAcquisition* trace = channelTrace(n);
        if (!trace)
            return 20;
        // The record reader fills the normalised buffer of the identifier's channel.
        const unsigned short before = trace->identifier;
        trace->SetIdentifier(static_cast<unsigned short>(256u << n));
        if (trace->read(fd) != 0) {
            trace->SetIdentifier(before);
            return 20;
        }
        const TChannelFields& f = kChannel[n];
        db->*f.memoryTrace = 1;
        db->*f.traceOn = 0;
        db->timeBaseIndex = static_cast<int16_t>(trace->timeBase);
        db->*f.offset = clampOffset(trace->position, max_par.*f.offset);
        trace->probeCoeff = clampCoefficient(trace->probeCoeff, max_par.*f.probeCoeff);
        db->*f.probeCoeff = trace->probeCoeff;
        db->*f.fftOffset = init_par.*f.fftOffset;
        setUnit(db, n, trace->unit);
    }
    if (mask & kMaskTraceBit) {
        TAcquisition* trace = setupLinks().maskAcq;
        if (!trace || trace->read(fd) != 0)
            return 20;
        db->timeBaseIndex = static_cast<int16_t>(trace->timeBase);
        trace->SetIdentifier(4096);
    }
    return 0;
}

bool validMeterFunction(int16_t function)
{
    switch (function) {
    case 0: case 1: case 2: case 3: case 4: case 8: case 9: case 10: case 11: case 16: return true;
    default: return false;
    }
}

void clearDisplayFlags(database* db)
{
    for (const TChannelFields& f : kChannel) {
        db->*f.traceOn = 0;
        db->*f.memoryTrace = 0;
    }
}

// Deals the sample words round by round into the streams' buffers (null: not kept); a buffer
// stops at its size and the rest of the file is skipped. A partial last round is dealt as far as
// it goes, a partial last word ignored. -1 on a read error.
int dealSamples(int fd, uint32_t* const* buffers, int streams)
{
    std::vector<uint32_t> block(kLoggerBlock / 4);
    uint32_t round = 0;
    int stream = 0;
    for (;;) {
        const ssize_t got = readAll(fd, block.data(), kLoggerBlock);
        if (got < 0)
            return -1;
        const size_t words = static_cast<size_t>(got) / 4;
        for (size_t w = 0; w < words; ++w) {
            if (round >= TAcquisition::kNormalisedSamples)
                return 0;
            if (uint32_t* b = buffers[stream])
                b[round] = block[w];
            if (++stream == streams) {
                stream = 0;
                ++round;
            }
        }
        if (static_cast<size_t>(got) < kLoggerBlock)
            return 0;
    }
}

} // namespace

int TraceSaveAll(database* db, const char* name, const char* comment)
{
    const uint16_t mask = db->channelFlags & 0xF;
    return saveFile(name, comment, "traces", kFileTypeTrace, mask, [mask](int fd) {
        if (writeMask(fd, mask) != 0)
            return 19;
        for (int n = 0; n < 4; ++n) {
            if (mask & (1u << n)) {
                if (const int r = writeTraceRecord(fd, channelTrace(n)))
                    return r;
            }
        }
        return 0;
    });
}

int PassFailMaskSave(database*, const char* name, const char* comment)
{
    return saveFile(name, comment, "masks", kFileTypeMask, kMaskTraceBit, [](int fd) {
        if (writeMask(fd, kMaskTraceBit) != 0)
            return 19;
        return writeTraceRecord(fd, setupLinks().maskAcq);
    });
}

int FunctionSaveAll(database*, const char* name, const char* comment)
{
    uint32_t mask = 0;
    for (int n = 0; n < 4; ++n) {
        TFonction* f = channelFunction(n);
        if (f && f->IsDefined())
            mask |= 1u << n;
    }
    return saveFile(name, comment, "functions", kFileTypeFunction, mask, [mask](int fd) {
        const std::string line = std::to_string(mask) + "\r\n";
        if (!writeAll(fd, line.data(), line.size()))
            return 19;
        for (int n = 0; n < 4; ++n) {
            // A short function line is a failed write like any other.
            if ((mask & (1u << n)) && channelFunction(n)->write(fd) != 0)
                return 19;
        }
        return 0;
    });
}

int HarmonicSaveAll(database*, const char* name, const char* comment)
{
    if (!name || !fileNameIsClean(name))
        return 19;
    // The export is replaced whole while the view refreshes: its size is the opened file's.
    TOpenFile source(kHarmonicExport);
    struct stat st;
    if (source.fd() < 0)
        return errno == ENOENT ? 22 : 19;
    if (::fstat(source.fd(), &st) != 0)
        return 19;
    const std::string path = targetPath(name, "harmonic", kFileTypeText);
    struct stat target;
    if (::lstat(path.c_str(), &target) == 0)
        return 17;

    // The comment lies over bytes 62 onward of the export's own header: a shorter export is no
    // export.
    std::vector<char> image(static_cast<size_t>(std::max<off_t>(st.st_size, 0)));
    if (image.size() < kFileHeaderSize)
        return 19;
    if (readAll(source.fd(), image.data(), image.size()) != ssize_t(image.size()))
        return 19;
    const char* text = comment ? comment : "";
    std::memcpy(image.data() + offsetof(TFileHeader, comment), text,
                strnlen(text, sizeof(TFileHeader::comment)));

    TNewFile file(path);
    if (file.result() != 0)
        return file.result();
    return file.finish(writeAll(file.fd(), image.data(), image.size()) ? 0 : 19);
}

int TraceRecallAll(database* db, const char* path)
{
    if (!path)
        return 20;
    TOpenFile file(path);
    if (file.fd() < 0)
        return 17;
    // Only what a trace or mask save wrote: any other file (zeros, a setup) would recall as
    // "nothing to do" and pass for a success.
    TFileHeader header;
    if (readAll(file.fd(), &header, sizeof header) != ssize_t(sizeof header)
        || !(std::memcmp(header.fileType, kFileTypeTrace, 4) == 0 || std::memcmp(header.fileType, kFileTypeMask, 4) == 0))
        return 20;
    struct stat st;
    uint8_t mask[2];
    if (::fstat(file.fd(), &st) != 0 || ::lseek(file.fd(), kFileHeaderSize, SEEK_SET) != off_t(kFileHeaderSize) ||
        readAll(file.fd(), mask, sizeof mask) != ssize_t(sizeof mask))
        return 20;
    const int result = recallTraces(db, file.fd(), static_cast<uint16_t>(mask[0] | (mask[1] << 8)), st.st_size);
    SetUserTimeBase(static_cast<uint16_t>(db->timeBaseIndex));
    return result;
}

int FunctionRecallAll(database* db, const char* path)
{
    if (!path)
        return 20;
    TOpenFile file(path);
    if (file.fd() < 0)
        return 17;
    if (::lseek(file.fd(), kFileHeaderSize, SEEK_SET) != off_t(kFileHeaderSize))
        return 20;

    // The mask line, byte by byte so that the function lines follow it; a line longer than any
    // 32-bit number is refused as it comes.
    std::string line;
    for (;;) {
        char c;
        const ssize_t n = ::read(file.fd(), &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 20;
        if (c == '\n')
            break;
        if (c == '\r')
            continue;
        if (line.size() >= 16)
            return 20;
        line += c;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = line.empty() ? 0 : std::strtoll(line.c_str(), &end, 10);
    if (line.empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX ||
        std::isspace(static_cast<unsigned char>(line[0])) || line[0] == '+')
        return 20;
    const uint32_t mask = static_cast<uint32_t>(static_cast<int32_t>(value));

    for (int n = 0; n < 4; ++n) {
        if (!(mask & (1u << n)))
            continue;
        TFonction* function = channelFunction(n);
        TAcquisition* trace = channelTrace(n);
        if (!function)
            return 20;
        const bool defined = function->read(file.fd()) == 0;
        const TChannelFields& f = kChannel[n];
        db->*f.traceOn = defined ? 1 : 0;
        db->*f.memoryTrace = 0;
        if (trace)
            trace->SetIdentifier(static_cast<unsigned short>(1u << n));
        // The setup keeps the text too: the math panel shows it and the next start compiles it.
        char* expression = db->*f.mathExpr;
        std::memset(expression, 0, sizeof(database::mathExprCh1));
        std::memcpy(expression, function->text, strnlen(function->text, sizeof(database::mathExprCh1) - 1));
        if (!defined)
            return 20;
    }
    return 0;
}

int LoggerRecallAll(database* db, const char* path)
{
    if (!path)
        return 20;
    // path may point into loggerFileName itself: take the name before anything changes.
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    char fileName[sizeof(database::loggerFileName)] = {};
    std::memcpy(fileName, base, strnlen(base, sizeof fileName - 1));

    TOpenFile file(path);
    if (file.fd() < 0)
        return 17;
    if (::lseek(file.fd(), kFileHeaderSize, SEEK_SET) != off_t(kFileHeaderSize))
        return 20;

    const TSetupLinks& links = setupLinks();
    TAcquisition* const traces[5] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4, links.powerAcq};
    for (int s = 0; s < 5; ++s) {
        if (uint32_t* buffer = normalisedBuffer(s))
            std::fill(buffer, buffer + TAcquisition::kNormalisedSamples, kNoValue);
        if (traces[s])
            traces[s]->RazSignalNormalise(true);
    }

    uint8_t head[kLoggerHeadSize];
    if (readAll(file.fd(), head, sizeof head) != ssize_t(sizeof head)) {
        clearDisplayFlags(db);
        return 20;
    }
    const uint16_t mask = static_cast<uint16_t>((head[0] | (head[1] << 8)) & kLoggerStreams);
    const auto function = static_cast<int16_t>(head[2] | (head[3] << 8));
    // The meter's tables are indexed by the function.
    if (!validMeterFunction(function)) {
        clearDisplayFlags(db);
        return 20;
    }
    db->meterFunction = function;
    clearDisplayFlags(db);

    bool infoFailed = false;
    for (int n = 0; n < 4 && !infoFailed; ++n) {
        if (!(mask & (1u << n)) || !traces[n])
            continue;
        TAcquisition* trace = traces[n];
        trace->SetIdentifier(static_cast<unsigned short>(256u << n));
        if (trace->readLoggerInfos(file.fd()) != 0) {
            infoFailed = true;
            break;
        }
        const TChannelFields& f = kChannel[n];
        db->*f.meterRange = static_cast<int16_t>(trace->meterRange);
        db->*f.meterCoupling = static_cast<int16_t>(trace->meterCoupling);
        trace->probeCoeff = clampCoefficient(trace->probeCoeff, max_par.*f.probeCoeff);
        db->*f.probeCoeff = trace->probeCoeff;
        setUnit(db, n, trace->unit);
        db->*f.memoryTrace = 1;
    }
    if ((mask & kAuxStreamBit) && !infoFailed && traces[4])
        traces[4]->readLoggerInfos(file.fd());

    // The samples follow every information record, whether or not each one was taken.
    const int streamCount = popCount(mask);
    uint32_t* buffers[5] = {};
    int present = 0;
    for (int s = 0; s < 5; ++s) {
        const uint16_t bit = s < 4 ? static_cast<uint16_t>(1u << s) : kAuxStreamBit;
        if (mask & bit)
            buffers[present++] = normalisedBuffer(s);
    }
    if (streamCount > 0) {
        const off_t samples = off_t(kFileHeaderSize + kLoggerHeadSize) + off_t(streamCount) * TAcquisition::kLoggerInfoSize;
        if (::lseek(file.fd(), samples, SEEK_SET) != samples || dealSamples(file.fd(), buffers, streamCount) != 0)
            return 20;
    }

    std::memcpy(db->loggerFileName, fileName, sizeof fileName);
    for (int s = 0; s < 5; ++s) {
        const uint16_t bit = s < 4 ? static_cast<uint16_t>(1u << s) : kAuxStreamBit;
        if ((mask & bit) && normalisedBuffer(s))
            TAcquisition::computeViewerSignal(normalisedBuffer(s), traces[s]);
    }
    return 0;
}
