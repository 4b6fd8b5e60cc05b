#include "core/setup.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/measkernel.h"
#include "board/board.h"
#include "board/deviceio.h"
#include "core/calibfile.h"
#include "core/command_helpers.h"
#include "core/command_param.h"
#include "core/filehdr.h"
#include "core/filename.h"
#include "core/fileio.h"
#include "core/files.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/setup_consistency.h"
#include "core/sysserv.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/kalvex.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <ctime>
#include <strings.h>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

int32_t l_g_startTime = 0;

namespace {

constexpr uint32_t kEmptySample = 0x80000000u;
constexpr int kCursorTableSize = 7;
constexpr char kDefaultSetupMarker[] = "defaultSetup";

// The result tables that the setup links to. Allocated once, never freed: the measure, bus
// and web threads read them until the process ends.
struct TResultTables {
    mesures* measurements;        // kMeasurementRecords records
    int32_t* cursors;             // kCursorTableSize values
    unsigned char* harmonics;     // kHarmonicRecords records of kHarmonicRecordSize
};

TResultTables& resultTables()
{
    static TResultTables* tables = [] {
        auto* t = new TResultTables;
        t->measurements = new mesures[kMeasurementRecords]();
        t->cursors = new int32_t[kCursorTableSize]();
        t->harmonics = new unsigned char[kHarmonicRecords * kHarmonicRecordSize]();
        return t;
    }();
    return *tables;
}

bool endsWith(const std::string& text, const char* ending)
{
    const size_t n = std::strlen(ending);
    return text.size() >= n && text.compare(text.size() - n, n, ending) == 0;
}

bool isDirectory(const std::string& hostPath)
{
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes header and image beside the target and renames the result over it, so a failing
// medium or a crash never leaves the target truncated or removed. 0 or 19.
int writeSetupFile(const std::string& hostPath, const database& image, const char* comment)
{
    TAtomicFile file(hostPath);
    if (file.fd() < 0)
        return 19;
    if (WriteFileHeader(file.fd(), kFileTypeSetup, comment, -1) != 0 || !writeAll(file.fd(), &image, sizeof image)
        || !file.commit())
        return 19;
    deviceIO().syncAll();
    return 0;
}

template <typename T>
T* linkOrCreate(T*& link, unsigned short identifier)
{
    if (!link) {
        static char noText[1] = "";
        if constexpr (std::is_same<T, TFonction>::value)
            link = new TFonction(identifier, noText);
        else
            link = new T(identifier);
    }
    return link;
}

void setUnit(char (&unit)[4], const char* text)
{
    std::memset(unit, 0, sizeof unit);
    std::memcpy(unit, text, strnlen(text, sizeof unit));
}

// The recalled setup's mode is applied by the mode change posted below, as any other: until
// then the live mode stays, so that the screen, DEV:MOD? and the status reply never name a mode
// whose view was not asked for, and a remote mode change sent meanwhile is not taken back.
uint16_t takeRecalledMode(uint16_t live)
{
    const uint16_t recalled = data.instrumentMode;
    data.instrumentMode = live;
    return recalled;
}

void postMode(uint16_t mode)
{
    pipe_dial request{REQ_SET_PARAM, param::instrumentMode, 0, mode, 0.0f, senderValue(COMM_id)};
    o_g_consMessageBox.send(&request);
}

// Batch entries are matched ignoring case: remote loads accept "x.CFG".
bool hasEndingIgnoringCase(const char* name, const char* ending)
{
    const size_t n = std::strlen(name);
    const size_t e = std::strlen(ending);
    return n >= e && ::strncasecmp(name + n - e, ending, e) == 0;
}

} // namespace

// ---- Save

int SetupSave(const char* name, bool inPrivate, const char* comment)
{
    if (!name)
        return 19;
    if (!*name || !fileNameIsClean(name))
        return 23;
    const char* slash = std::strrchr(name, '/');
    if (std::strlen(slash ? slash + 1 : name) > kSetupNameMax)
        return 23;

    // The suffix rule is case-sensitive: "abc.CFG" becomes "abc.CFG.cfg".
    std::string fileName(name);
    if (!endsWith(fileName, ".cfg"))
        fileName += ".cfg";

    std::string setupsDir;
    std::string path;
    if (inPrivate) {
        path = std::string(kPrivateDir) + "/" + fileName;
    } else if (name[0] == '/') {
        path = fileName;
    } else {
        setupsDir = boardPath(isSdcardPresent() ? kSdCardSetupsDir : kUserSetupsDir);
        if (!isDirectory(setupsDir))
            ::mkdir(setupsDir.c_str(), 0777);
        path = setupsDir + "/" + fileName;
    }

    // Other threads save too while the controller changes the record: the file gets a private
    // copy whose checksum matches it, never a torn one.
    database image;
    std::memcpy(&image, &data, sizeof image);
    clearLinkSlots(&image);
    image.setupChecksum = setupChecksum(image);
    __atomic_store_n(&data.setupChecksum, image.setupChecksum, __ATOMIC_RELAXED);

    if (!setupsDir.empty() && !isDirectory(setupsDir))
        return 17;
    return writeSetupFile(boardPath(path), image, comment);
}

// ---- Recall

int SetupRecall(const char* path, bool fresh, uint16_t hwChannels)
{
    return SetupRecall(path, fresh, hwChannels, nullptr);
}

int SetupRecall(const char* path, bool fresh, uint16_t hwChannels, std::string* refusal)
{
    const uint16_t selfTest = data.selfTestResult;

    database image;
    int result = 18;
    std::string fault;
    // A FIFO in the file's place must not hold the caller: opened without waiting.
    const int fd = path ? openStoredFile(boardPath(path), &fault) : -1;
    if (fd >= 0) {
        result = 20;
        fault = storedFileShapeFault(fd, kSetupFileSize);
        if (fault.empty()
            && !(::lseek(fd, kFileHeaderSize, SEEK_SET) >= 0
                 && readAll(fd, &image, sizeof image) == static_cast<ssize_t>(sizeof image)))
            fault = "cannot be read";
        if (fault.empty() && setupChecksum(image) != image.setupChecksum)
            fault = "checksum does not match";
        if (fault.empty())
            result = 0;
        ::close(fd);
    }
    if (refusal)
        *refusal = fault;
    // A load the user asked for that is refused changes nothing: the live setup stays as it was.
    // Only the start (fresh) and an explicit request for the defaults (no path) take them.
    if (result != 0 && path && !fresh)
        return result;
    if (result == 0)
        clearLinkSlots(&image);  // older files may hold addresses there
    else
        std::memcpy(&image, &init_par, sizeof image);

    SetupRecallPostTraitement(&image, fresh, hwChannels, 0);

    data.selfTestResult = selfTest;
    data.validChannelMask = EtatLogique(ETAT_TWO_CHANNEL_MODEL) != 0 ? 1033 : 1039;
    return result;
}

int SetupRecallPostTraitement(database* image, bool fresh, uint16_t hwChannels, int skip)
{
    if (skip != 0)
        return skip;
    TSetupLinks& links = setupLinks();

    // 2.-3. The links live beside the record: the copy leaves them as they are. A fresh start
    // forgets the probes; they are read again by the probe scan.
    if (fresh) {
        for (int n = 0; n < 4; ++n)
            setSmartProbeLink(n, nullptr);
    }
    if (image && image != &data)
        std::memcpy(&data, image, sizeof(database));

    // 4.-5. Math functions, each compiled from its channel's expression.
    TFonction* functions[4] = {
        linkOrCreate(links.mathFunctionCh1, 0),
        linkOrCreate(links.mathFunctionCh2, 1),
        linkOrCreate(links.mathFunctionCh3, 2),
        linkOrCreate(links.mathFunctionCh4, 3),
    };
    linkOrCreate(links.powerFunctionA, 8);
    linkOrCreate(links.powerFunctionB, 9);
    char* expressions[4] = {data.mathExprCh1, data.mathExprCh2, data.mathExprCh3, data.mathExprCh4};
    for (int n = 0; n < 4; ++n)
        functions[n]->SetFonctionString(expressions[n], false);

    // 6. Channels that are not fitted show divisions unless a function feeds them.
    data.hwChannelMask = hwChannels;
    char(*units[4])[4] = {&data.unitCh1, &data.unitCh2, &data.unitCh3, &data.unitCh4};
    for (int n = 0; n < 4; ++n) {
        if (!(hwChannels & (1u << n)) && !functions[n]->IsDefined())
            setUnit(*units[n], "div");
    }

    // 7. Smart probes.
    float* coefficients[4] = {&data.probeCoeffCh1, &data.probeCoeffCh2, &data.probeCoeffCh3, &data.probeCoeffCh4};
    for (int n = 0; n < 4; ++n) {
        if (const std::shared_ptr<TKalvex> probe = smartProbeLink(n)) {
            probe->getProbeCoeff(coefficients[n]);
            probe->getMeasurementUnit(*units[n]);
        }
    }

    // 8. Traces and their identifiers.
    struct TTraceLink {
        TAcquisition** link;
        unsigned short identifier;
    };
    const TTraceLink traces[] = {
        {&links.acqCh1, 1},       {&links.acqCh2, 2},       {&links.acqCh3, 4},       {&links.acqCh4, 8},
        {&links.refAcqCh1, 16},   {&links.refAcqCh2, 32},   {&links.refAcqCh3, 64},   {&links.refAcqCh4, 128},
        {&links.powerAcq, 8192},  {&links.maskAcq, 4096},
    };
    for (const TTraceLink& t : traces)
        linkOrCreate(*t.link, t.identifier)->SetIdentifier(t.identifier);

    // 9. Empty samples everywhere but in the auxiliary trace.
    for (uint32_t* buffer : {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                             TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee}) {
        if (buffer)
            std::fill(buffer, buffer + TAcquisition::kNormalisedSamples, kEmptySample);
    }
    for (TAcquisition* trace : {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4, links.refAcqCh1,
                                links.refAcqCh2, links.refAcqCh3, links.refAcqCh4, links.maskAcq})
        trace->RazSignalNormalise(true);

    // 10. Measurement and cursor tables.
    TResultTables& tables = resultTables();
    for (int r = 0; r < kMeasurementRecords; ++r)
        tables.measurements[r].flags = 0;
    const int32_t cursors[kCursorTableSize] = {data.cursor1Time,  data.cursor2Time, data.cursor1Level,
                                               data.cursor2Level, data.cursor3Time, data.xyCursor1X,
                                               data.xyCursor2X};
    std::memcpy(tables.cursors, cursors, sizeof cursors);
    links.measResultsPtr = tables.measurements;
    links.cursorTablePtr = tables.cursors;

    // 11.
    SetPowerFct(data.meterFunction == 9, &data);

    // 12. Harmonic results are stale.
    const uint32_t recompute = 1;
    for (int r = 0; r < kHarmonicRecords; ++r)
        std::memcpy(tables.harmonics + r * kHarmonicRecordSize, &recompute, sizeof recompute);
    links.harmonicResultsPtr = reinterpret_cast<THarmonicResults*>(tables.harmonics);

    // 13. A recalled setup never locks the keys, runs a pass/fail test or shows stored traces.
    data.keyLock = 0;
    data.keyHelpOn = 0;
    data.refShownCh1 = data.refShownCh2 = data.refShownCh3 = data.refShownCh4 = 0;
    data.memoryTraceCh1 = data.memoryTraceCh2 = data.memoryTraceCh3 = data.memoryTraceCh4 = 0;
    data.refCapture = 0;
    data.passFailRunStop = 0;
    data.passFailOn = 0;
    data.passFailMaskIsMemory = 0;

    // 14.
    SetVoiesValides();
    return skip;
}

void SetupSystemCopy(database* target, const database* source)
{
    if (!target || !source || target == source)
        return;
#define BV_COPY_FIELD(f) std::memcpy(&target->f, &source->f, sizeof target->f)
    BV_COPY_FIELD(measResultsPtrSlot);
    BV_COPY_FIELD(cursorTablePtrSlot);
    BV_COPY_FIELD(keyLock);
    BV_COPY_FIELD(instrumentMode);
    BV_COPY_FIELD(unitCh1);
    BV_COPY_FIELD(unitCh2);
    BV_COPY_FIELD(unitCh3);
    BV_COPY_FIELD(unitCh4);
    BV_COPY_FIELD(probeCoeffCh1);
    BV_COPY_FIELD(probeCoeffCh2);
    BV_COPY_FIELD(probeCoeffCh3);
    BV_COPY_FIELD(probeCoeffCh4);
    BV_COPY_FIELD(displayBrightness);
    BV_COPY_FIELD(deviceError);
    BV_COPY_FIELD(loggerFileName);
    BV_COPY_FIELD(selfTestResult);
    BV_COPY_FIELD(validChannelMask);
    BV_COPY_FIELD(traceColorCh1);
    BV_COPY_FIELD(traceColorCh2);
    BV_COPY_FIELD(traceColorCh3);
    BV_COPY_FIELD(traceColorCh4);
    BV_COPY_FIELD(smartProbeCh1Slot);
    BV_COPY_FIELD(smartProbeCh2Slot);
    BV_COPY_FIELD(smartProbeCh3Slot);
    BV_COPY_FIELD(smartProbeCh4Slot);
    BV_COPY_FIELD(hwChannelMask);
    BV_COPY_FIELD(busFileName);
    BV_COPY_FIELD(busDiag);
#undef BV_COPY_FIELD
}

// ---- Batch directory

int batchRecall(uint16_t hwChannels)
{
    const std::string batchDir = boardPath(kBatchDir);
    if (::chdir(batchDir.c_str()) != 0)
        return 0;
    DIR* dir = ::opendir(batchDir.c_str());
    if (!dir)
        return 0;
    // The listing is taken whole first: the loop removes entries as it goes.
    std::vector<std::string> names;
    while (const struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    ::closedir(dir);

    uint16_t mode = kNoBatchMode;
    int result = 0;
    const uint16_t live = data.instrumentMode;
    for (const std::string& name : names) {
        // By its absolute path: the working directory moves with every link.
        const std::string entry = batchDir + "/" + name;
        struct stat st;
        if (::lstat(entry.c_str(), &st) != 0)
            continue;

        if (!S_ISLNK(st.st_mode)) {
            if (name == kDefaultSetupMarker) {
                // The defaults were asked for: applying them is a success, not a missing file.
                SetupRecall(nullptr, false, hwChannels);
                result = 0;
                mode = takeRecalledMode(live);
                ::unlink(entry.c_str());
            }
            continue;
        }

        char target[300];
        const ssize_t length = ::readlink(entry.c_str(), target, sizeof target - 1);
        target[length > 0 ? length : 0] = '\0';
        if (const char* slash = std::strrchr(target, '/')) {
            std::string targetDir(target, static_cast<size_t>(slash - target));
            if (targetDir.empty())
                targetDir = "/";
            // A relative target is relative to the link's own directory.
            const std::string hostDir = target[0] == '/' ? boardPath(targetDir) : batchDir + "/" + targetDir;
            // When it cannot be entered the recall below still reads the target through the link.
            const bool entered = ::chdir(hostDir.c_str()) == 0;
            (void)entered;
            std::memset(data.loggerFileName, 0, sizeof data.loggerFileName);
            std::memcpy(data.loggerFileName, slash + 1, strnlen(slash + 1, sizeof data.loggerFileName - 1));
        }

        // The recall reads the target through the link; a board-absolute target on the
        // simulated board lies under its root, where the link itself does not lead.
        std::string path = entry;
        if (target[0] == '/' && boardPath(target) != target)
            path = boardPath(target);
        if (hasEndingIgnoringCase(entry.c_str(), ".cfg")) {
            result = SetupRecall(path.c_str(), false, hwChannels);
            if (result == 0)
                mode = takeRecalledMode(live);
        } else if (hasEndingIgnoringCase(entry.c_str(), ".fct")) {
            result = FunctionRecallAll(&data, path.c_str());
            mode = 16;
        } else if (hasEndingIgnoringCase(entry.c_str(), ".trc")) {
            result = TraceRecallAll(&data, path.c_str());
            mode = 16;
        } else if (hasEndingIgnoringCase(entry.c_str(), ".rec")) {
            command_util::keepLiveChannelsForViewer();
            result = LoggerRecallAll(&data, path.c_str());
            if (result == 0)
                command_util::fitViewerWindow();
            else
                SetViewerSpan(TRecordedExtent{0, 0});
            mode = 256;
        } else if (hasEndingIgnoringCase(entry.c_str(), ".msk")) {
            result = TraceRecallAll(&data, path.c_str());
        }
        ::unlink(entry.c_str());
    }

    if (mode != kNoBatchMode)
        postMode(mode);
    return result;
}

// ---- Start and end of the run

namespace {

// A stored file refused at start is kept beside, renamed, so that nothing is lost and the next
// save can write a good one; standard error says so. A copy kept earlier is never replaced: the
// first free name of <file>.bad, <file>.bad.1, <file>.bad.2, ... is taken.
void setAsideRefusedFile(const char* file, const std::string& refusal, const char* instead)
{
    constexpr int kKeptCopiesMax = 1000;
    const std::string path = boardPath(file);
    std::string outcome;
    for (int n = 0; n < kKeptCopiesMax; ++n) {
        const std::string kept = path + ".bad" + (n == 0 ? std::string() : "." + std::to_string(n));
        if (renameNoReplace(path.c_str(), kept.c_str())) {
            outcome = "kept as " + kept;
            break;
        }
        if (errno != EEXIST) {
            outcome = std::string("could not be set aside (") + std::strerror(errno) + ")";
            break;
        }
    }
    if (outcome.empty())
        outcome = "could not be set aside (too many kept copies)";
    std::fprintf(stderr, "benchview: %s: %s; %s; %s\n", path.c_str(), refusal.c_str(), instead, outcome.c_str());
}

// Temporary files of saves that a crash cut short, in the media and their folders one level down
// (where every save writes); nothing else writes there yet.
void removeStaleSaves()
{
    for (const char* root : {kPrivateDir, "/media/user", "/media/user/sdcard_p1"}) {
        const std::string hostRoot = boardPath(root);
        removeStaleTemporaries(hostRoot);
        DIR* dir = ::opendir(hostRoot.c_str());
        if (!dir)
            continue;
        while (const struct dirent* e = ::readdir(dir)) {
            struct stat st;
            if (e->d_name[0] != '.' && ::fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISDIR(st.st_mode))
                removeStaleTemporaries(hostRoot + "/" + e->d_name);
        }
        ::closedir(dir);
    }
}

} // namespace

int Startup(calibration* calib, uint16_t hwChannels)
{
    return Startup(calib, hwChannels, nullptr);
}

int Startup(calibration* calib, uint16_t hwChannels, TStartupRefusals* refused)
{
    TStartupRefusals local;
    TStartupRefusals& r = refused ? *refused : local;
    r = TStartupRefusals{};
    l_g_startTime = static_cast<int32_t>(std::time(nullptr));
    removeStaleSaves();

    uint32_t** buffers[] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                            &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee,
                            &TAcquisition::VoieAuxNormalisee};
    for (uint32_t** buffer : buffers) {
        if (!*buffer)
            *buffer = new uint32_t[TAcquisition::kNormalisedSamples]();
    }

    std::string refusal;
    if (calib) {
        std::memset(calib, 0, sizeof(calibration));
        CalibrationRecall(calib, false, &refusal);
        if (!refusal.empty()) {
            r.calibration = true;
            setAsideRefusedFile(kCalibrationFile, refusal, "running on the factory calibration");
        }
    }
    const int result = SetupRecall(kPowerOnSetupFile, true, hwChannels, &refusal);
    if (!refusal.empty()) {
        r.setup = true;
        setAsideRefusedFile(kPowerOnSetupFile, refusal, "running on the default setup");
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return result;
}

void Shutdown(TPowerOff kind)
{
    // Every step goes on whatever the previous one did: the instrument must go off. A recording
    // writes its last records first.
    runEndActions();
    setUsbMassStorage(0x8000);
    CmdeLogique(CMDE_SCREEN_SAVER, 1);
    if (kind == POWEROFF_SAVE_SETUP) {
        ::unlink(boardPath("/media/private/setup").c_str());
        SetupSave("setup", true, "");
    }
    CmdeLogique(CMDE_LAMP, 0);
    // A FIFO nobody reads yet (ENXIO) is retried for a while, never waited on for ever: a dead
    // daemon must not keep the instrument on. A reader that goes away must not kill us with
    // SIGPIPE, whose status the start-up scripts would misread; we end right after.
    ::signal(SIGPIPE, SIG_IGN);
    int fd = -1;
    for (int waited = 0;; waited += 100) {
        fd = ::open(boardPath(kOffPipe).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO || waited >= 5000)
            break;
        pauseMs(100);
    }
    if (fd >= 0) {
        writeAll(fd, "POWEROFF", 8);
        ::close(fd);
    }
    endProcess(0);
}
