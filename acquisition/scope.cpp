// The oscilloscope cycle: arms, reads, transfers into the traces, builds the display envelope and
// points, runs pass/fail, the FFT display and the automatic measurements, and tells the controller.
#include "acquisition/scope.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/acqctrl.h"
#include "acquisition/fft.h"
#include "acquisition/interpolation.h"
#include "acquisition/measkernel.h"
#include "board/process.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/scale.h"
#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/handshake.h"
#include "hardware/transfer.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <cmath>
#include <cstring>
#include <ctime>

pthread_mutex_t o_g_imageMutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

constexpr int kReadStop = 0x2000;
constexpr int kReadEnd = 0x1000;
constexpr int32_t kRecord = 100000;
constexpr int32_t kLogger = 2500;
constexpr uint32_t kEmpty = 0x80000000u;
constexpr int kSaveWaitSliceMs = 50;

// Cycle state that outlives one call.
uint16_t s_edgeWord = 0;
// The real-time thread's first cycle starts before the control thread's first resume: without
// this it would arm with a time base never programmed.
bool s_timeBaseProgrammed = false;
char s_saveComment[1] = {0};
char s_saveName[100] = {0};

std::mutex& processingMutex()
{
    static auto* m = new std::mutex();
    return *m;
}
TScopeProcessing s_processing;

void recordProcessing(std::chrono::steady_clock::time_point since)
{
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - since).count();
    std::lock_guard<std::mutex> lock(processingMutex());
    ++s_processing.records;
    s_processing.totalNs += ns;
    s_processing.maxNs = std::max(s_processing.maxNs, ns);
}

bool isOneOf(uint16_t v, std::initializer_list<uint16_t> set)
{
    return std::find(set.begin(), set.end(), v) != set.end();
}

// Display word of a sample: inverted 20-bit code, or the empty code for an invalid one.
inline uint32_t displayCode(uint32_t v)
{
    return v < kInvalidSampleFrom ? (~v) & kSampleCodeMask : kEmpty;
}

TAcquisition* channelTrace(int n)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return (n >= 0 && n < 4) ? t[n] : nullptr;
}

TAcquisition* referenceTrace(int n)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.refAcqCh1, l.refAcqCh2, l.refAcqCh3, l.refAcqCh4};
    return t[n];
}

TFonction* mathFunction(int n)
{
    const TSetupLinks& l = setupLinks();
    TFonction* const f[4] = {l.mathFunctionCh1, l.mathFunctionCh2, l.mathFunctionCh3, l.mathFunctionCh4};
    return f[n];
}

uint32_t* normalisedBuffer(int n)
{
    uint32_t* const b[4] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                            TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee};
    return b[n];
}

// Channels 0-3 among the handled bits (a memory bit 8 + n is channel n's trace).
uint16_t liveChannels(uint16_t handled)
{
    return static_cast<uint16_t>((handled | (handled >> 8)) & 0xF);
}

// The traces of the handled bits, each once.
int handledTraces(uint16_t handled, TAcquisition* out[9])
{
    int count = 0;
    const uint16_t live = liveChannels(handled);
    for (int n = 0; n < 4; ++n)
        if ((live & (1u << n)) && channelTrace(n))
            out[count++] = channelTrace(n);
    for (int n = 0; n < 4; ++n)
        if ((handled & (16u << n)) && referenceTrace(n))
            out[count++] = referenceTrace(n);
    if ((handled & 0x1000) && setupLinks().maskAcq)
        out[count++] = setupLinks().maskAcq;
    return count;
}

uint32_t detailWord()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t d = o_g_synchroAcqDetail;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return d;
}

bool interpolateFor(const acq_ctrl* c)
{
    const uint16_t f = c->acqFlags;
    if (isOneOf(f, {32, 36, 128, 129, 130, 132, 133, 134, 144, 148, 192, 193, 194, 196, 197, 198}))
        return true;
    if (isOneOf(f, {34, 37, 38, 146, 149, 150}))
        return c->triggerMode != 2 && c->averaging;
    return false;
}

bool emptiesRest(uint16_t f)
{
    return isOneOf(f, {32, 33, 34, 36, 37, 38});
}

bool streaming(uint16_t f)
{
    return isOneOf(f, {128, 129, 130, 132, 133, 134, 192, 193, 194, 196, 197, 198});
}

bool rolling(uint16_t f)
{
    return isOneOf(f, {192, 193, 194, 196, 197, 198});
}

bool minMaxTrace(uint16_t f)
{
    return isOneOf(f, {34, 36, 37, 38, 130, 132, 133, 134, 146, 148, 149, 150, 194, 196, 197, 198});
}

// Entries from `from` on: the rest emptied, the next 100 emptied (the gap in front of a streaming
// record, never past the end), or kept.
void emptyBeyond(uint32_t* words, int32_t from, uint16_t recordFlags)
{
    if (from >= kLogger)
        return;
    int32_t to = from;
    if (emptiesRest(recordFlags))
        to = kLogger;
    else if (streaming(recordFlags))
        to = std::min(from + 100, kLogger);
    std::fill(words + from, words + to, kEmpty);
}

void rollBuffer(uint32_t* b, int32_t shift)
{
    if (shift <= 0)
        return;
    if (shift >= kRecord) {
        std::fill(b, b + kRecord, kEmpty);
        return;
    }
    std::memmove(b, b + shift, static_cast<size_t>(kRecord - shift) * sizeof(uint32_t));
    std::fill(b + kRecord - shift, b + kRecord, kEmpty);
}

struct TCycle {
    database* setup;
    acq_ctrl* ctrl;
    bool live;
    bool again;
    bool moreReads = false;
    bool interpolate;
    bool hasSource[4];
    uint16_t handled;
    uint32_t held = 0;
    int32_t first = 0;
    // Display progress of the current acquisition.
    int32_t envelopePairs = 0;
    int32_t rawEntries = 0;
    pipe_dial notice{};

    void startAcquisition()
    {
        held = 0;
        envelopePairs = 0;
        rawEntries = 0;
    }

    void prepareTraces(uint32_t newSamples)
    {
        const uint16_t f = ctrl->acqFlags;
        const uint16_t live = static_cast<uint16_t>(liveChannels(handled));
        const int32_t shift = static_cast<int32_t>(std::min<uint64_t>(
            held + static_cast<uint64_t>(newSamples) > 99999 ? held + static_cast<uint64_t>(newSamples) - kRecord : 0,
            kRecord));
        for (int n = 0; n < 4; ++n) {
            if (!(live & (1u << n)))
                continue;
            TAcquisition* t = channelTrace(n);
            if (!t || !t->samples)
                continue;
            if (isOneOf(f, {32, 33, 36, 37, 144, 145, 148, 149})) {
                if (ctrl->triggerMode == 2 || !ctrl->averaging)
                    t->RazSignalNormalise(false);
            } else if (isOneOf(f, {128, 129, 132, 133})) {
                if (held == 0)
                    for (int32_t i = 0; i < kRecord; ++i)
                        t->samples[i] |= kInvalidSampleFrom;
            } else if (rolling(f)) {
                if (held == 0)
                    t->RazSignalNormalise(true);
                else
                    rollBuffer(t->samples, shift);
            }
        }
        if (rolling(f)) {
            for (int n = 0; n < 4; ++n) {
                uint32_t* b = normalisedBuffer(n);
                if (!(ctrl->cycleChannels & (1u << n)) || !b)
                    continue;
                if (held == 0)
                    std::fill(b, b + kRecord, kEmpty);
                else
                    rollBuffer(b, shift);
            }
            if (shift > 0) {
                held = static_cast<uint32_t>(kRecord) - std::min<uint32_t>(newSamples, kRecord);
                // The envelope and the points restart where the display starts.
                envelopePairs = std::max<int32_t>(ctrl->dispPosition, 0) / 80;
                rawEntries = 0;
            }
        }
    }

    void envelope(TAcquisition* t)
    {
        const int32_t pairs = std::min<int32_t>(static_cast<int32_t>(held) / 80, kLogger / 2);
        for (int32_t m = envelopePairs; m < pairs; ++m) {
            uint32_t lo = 0, hi = 0;
            acq_minmax(t, 80 * m, 80, &lo, &hi);
            t->loggerEnvelope[2 * m] = displayCode(hi);
            t->loggerEnvelope[2 * m + 1] = displayCode(lo);
        }
        emptyBeyond(t->loggerEnvelope, 2 * pairs, ctrl->acqFlags);
    }

    // Returns the entries written.
    int32_t points(TAcquisition* t)
    {
        if (t == setupLinks().maskAcq)
            t->acqFlags = 37;
        const double width = ctrl->dispWidth;
        const int32_t start = std::max<int32_t>(ctrl->dispPosition, 0);
        const uint16_t n = static_cast<uint16_t>(std::clamp<int64_t>(static_cast<int64_t>(2.0 * width), 1, 65535));
        const bool minMax = minMaxTrace(t->acqFlags);
        int32_t e = rawEntries;
        for (; e < kLogger; ++e) {
            const double pd = start + e * width;
            if (!(pd < held))
                break;
            const int32_t p = static_cast<int32_t>(pd);
            uint32_t v;
            if (minMax || ctrl->accumulate) {
                v = (e & 1) ? acq_min(t, p, n) : acq_max(t, p, n);
            } else {
                const int64_t at = static_cast<int64_t>(first) + p;
                v = (at >= 0 && at < kRecord) ? t->samples[at] : kEmpty;
            }
            t->loggerRaw[e] = displayCode(v);
        }
        emptyBeyond(t->loggerRaw, e, ctrl->acqFlags);
        return e;
    }

    void display()
    {
        TAcquisition* traces[9];
        const int count = handledTraces(handled, traces);
        int32_t entries = rawEntries;
        pthread_mutex_lock(&o_g_imageMutex);
        for (int i = 0; i < count; ++i) {
            if (!traces[i]->samples)
                continue;
            envelope(traces[i]);
            if (setup->traceFormat != 1)
                entries = points(traces[i]);
        }
        pthread_mutex_unlock(&o_g_imageMutex);
        envelopePairs = std::min<int32_t>(static_cast<int32_t>(held) / 80, kLogger / 2);
        rawEntries = entries;
    }

    void fft()
    {
        if (setup->traceFormat != 1 || held < static_cast<uint32_t>(kRecord))
            return;
        const int16_t offsets[4] = {setup->fftOffsetCh1, setup->fftOffsetCh2, setup->fftOffsetCh3,
                                    setup->fftOffsetCh4};
        const uint16_t live = liveChannels(handled);
        pthread_mutex_lock(&o_g_imageMutex);
        for (int n = 0; n < 4; ++n) {
            TAcquisition* t = channelTrace(n);
            if (!(live & (1u << n)) || !t)
                continue;
            std::memcpy(t->loggerRaw, t->loggerEnvelope, sizeof t->loggerRaw);
            Fft(t->loggerRaw, static_cast<uint32_t>(setup->fftWindow), static_cast<uint16_t>(setup->fftVerticalScale),
                GetSensitivity(t->sensitivity, SCALE_SCOPE), setup->fftZoomWidth / 40.0f,
                setup->fftHorizPosition / 40, static_cast<int32_t>(offsets[n]) * 262080 / 1000);
        }
        pthread_mutex_unlock(&o_g_imageMutex);
    }

    void measurements()
    {
        if (setup->cursorState != 3 && !(detailWord() & SYNCHRO_STOP))
            return;
        const uint16_t live = liveChannels(handled);
        for (int n = 0; n < 4; ++n) {
            if (!(live & (1u << n)))
                continue;
            pthread_mutex_lock(&o_g_autoMeasMutex);
            scopeMeasureChannel(setup, n);
            pthread_mutex_unlock(&o_g_autoMeasMutex);
        }
    }

    // False when the display steps are skipped.
    bool passFail()
    {
        if (!live || !ctrl->pfActive)
            return true;
        TAcquisition* mask = setupLinks().maskAcq;
        TAcquisition* source = channelTrace(ctrl->pfSource);
        if (!mask || !source || !mask->samples || !source->samples)
            return true;
        const bool pass = mask->passFailCompare(source);
        if (pass)
            TAcquisition::passFailCounter.incPass();
        else
            TAcquisition::passFailCounter.incFail();
        bool show = true;
        bool beep = true;
        if (ctrl->pfDisplay == 1) {
            show = pass;
            beep = pass;
        } else if (ctrl->pfDisplay == 2) {
            show = !pass;
            beep = !pass;
        }
        if (beep && ctrl->pfBeep)
            CmdeLogique(CMDE_REG20_PULSE24, 1);
        return show;
    }

    void sendNotice() { postStateNotice(notice); }

    // False when a stop ended the wait.
    bool saveAndRestart()
    {
        const QString name = QStringLiteral("tavlin_%1").arg(
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")));
        const QByteArray bytes = name.toLocal8Bit();
        const size_t len = std::min<size_t>(static_cast<size_t>(bytes.size()), sizeof s_saveName - 1);
        std::memcpy(s_saveName, bytes.constData(), len);
        s_saveName[len] = 0;
        s_saveComment[0] = 0;
        pipe_dial save{REQ_FILE, fileTraceSaveAlt, reinterpret_cast<intptr_t>(s_saveComment),
                       reinterpret_cast<intptr_t>(s_saveName), 0.0f, senderValue(RTAC_id)};

        pthread_mutex_lock(&o_g_synchroSavRelMutex);
        b_g_saveRestartDone = false;
        pthread_mutex_unlock(&o_g_synchroSavRelMutex);
        if (o_g_consMessageBox.send(&save) != 0)
            return true;  // dropped: no save will come to wait for
        for (;;) {
            pthread_mutex_lock(&o_g_synchroSavRelMutex);
            if (!b_g_saveRestartDone) {
                timespec deadline{};
                clock_gettime(CLOCK_REALTIME, &deadline);
                deadline.tv_nsec += kSaveWaitSliceMs * 1000000L;
                deadline.tv_sec += deadline.tv_nsec / 1000000000L;
                deadline.tv_nsec %= 1000000000L;
                pthread_cond_timedwait(&o_g_synchroSavRelCond, &o_g_synchroSavRelMutex, &deadline);
            }
            const bool done = b_g_saveRestartDone;
            pthread_mutex_unlock(&o_g_synchroSavRelMutex);
            if (done)
                return true;
            // A suspend (a queued file request, autoset) must not wait behind this save.
            if (detailWord() & SYNCHRO_STOP)
                return false;
        }
    }
};

}  // namespace

bool scopeMeasureChannel(const database* setup, int n)
{
    mesures* table = setupLinks().measResultsPtr;
    TAcquisition* t = channelTrace(n);
    if (!table || !t || !t->samples)
        return false;
    int32_t first = 5000, last = 95000;
    const int32_t* cursors = setupLinks().cursorTablePtr;
    if (setup->traceFormat == 0 && setup->cursorState != 0 && cursors) {
        const int32_t a = std::clamp<int32_t>(cursors[0], 0, kRecord);
        const int32_t b = std::clamp<int32_t>(cursors[1], 0, kRecord);
        first = std::min(a, b);
        last = std::max(a, b);
    }
    // The zero line's code as the measurement display takes it (position 0: 524256), so that
    // the RMS of a constant input is its level.
    const int32_t reference =
        static_cast<int32_t>(0x60000 + std::floor((t->softPosition + 500.0) * 262080.0 / 1000.0));
    meas_pix(t->samples, &table[n], first, last, reference);
    return true;
}

TScopeProcessing scopeProcessing()
{
    std::lock_guard<std::mutex> lock(processingMutex());
    return s_processing;
}

void resetScopeProcessing()
{
    std::lock_guard<std::mutex> lock(processingMutex());
    s_processing = TScopeProcessing{};
}

namespace {

bool reprocessing(const acq_ctrl* c)
{
    return c->acqFlags == ACQ_FLAGS_REPROCESS_REDRAW || c->acqFlags == ACQ_FLAGS_REPROCESS;
}

}  // namespace

bool Scope(database* setup, acq_ctrl* ctrl)
{
    if (!setup || !ctrl)
        return true;  // nothing to acquire
    TCycle c{setup, ctrl, !reprocessing(ctrl), false, false, false, {}, 0};

    // Preparation.
    for (int n = 0; n < 4; ++n) {
        TFonction* f = mathFunction(n);
        c.hasSource[n] = (f && f->IsDefined()) ? f->VoiesSrc() != 0 : true;
    }
    ctrl->cycleChannels = ctrl->acqChannels;
    if (c.live) {
        c.again = ctrl->triggerMode != 2;
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        if (o_g_synchroAcqDetail == SYNCHRO_TIMEBASE_CHANGE || !s_timeBaseProgrammed) {
            ChipAcqIoctl(CHIPACQ_TIMEBASE, ctrl);
            s_timeBaseProgrammed = true;
            // A driver started afresh (a board powered on again) has no time base yet.
            registerPowerOffUndo("scope cycle state", [] {
                pthread_mutex_lock(&o_g_synchroAcqMutex);
                s_timeBaseProgrammed = false;
                pthread_mutex_unlock(&o_g_synchroAcqMutex);
                return true;
            });
        }
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
    }
    c.interpolate = interpolateFor(ctrl);
    c.handled = c.live ? static_cast<uint16_t>(ctrl->shownChannels & 0xF) : ctrl->shownChannels;
    if (c.live)
        AcqTransfertOpen(ctrl);
    ctrl->firstTransfer = 1;
    bool firstReadOut = true;

    for (;;) {
        // 1. Arming.
        if (c.live) {
            s_edgeWord ^= 1;
            if (ctrl->triggerEdge == 2)
                FrontTrigger(static_cast<int16_t>(ctrl->triggerSource), static_cast<int16_t>(s_edgeWord));
            if (ctrl->qualifierEdge == 2)
                FrontTrigger(static_cast<int16_t>(ctrl->qualifierSource), static_cast<int16_t>(s_edgeWord));
            if (ChipAcqWrite(ctrl) != 0)
                return !ChipAcqBoardPresent();  // without a board the run is over, not stopped
        }
        c.startAcquisition();
        // The flag is the transfer's word as it stands: 1 leaves the gaps (a dense record, or an
        // averaged one that real samples fill over many triggers), 0 fills them once (a
        // single-shot equivalent-time record holds one sample in 40 and never more).
        TInterpolation word = c.interpolate ? 1 : 0;
        bool completed = false;

        do {
            // 2. Read-out and transfer.
            bool transferred = false;
            bool fftOnly = false;
            auto readAt = std::chrono::steady_clock::now();
            int32_t result = 0;
            if (!c.live) {
                uint32_t count = 0;
                pthread_mutex_lock(&o_g_autoMeasMutex);
                result = acqCalcul(ctrl, &count, kRecord, true);
                pthread_mutex_unlock(&o_g_autoMeasMutex);
                c.held = kRecord;
                c.notice = pipe_dial{REQ_ACQ_DONE, 0, kRecord, ctrl->shownChannels, 0.0f, senderValue(ACQU_id)};
                c.moreReads = false;
                completed = true;
                transferred = true;
            } else {
                const int flags = ChipAcqRead(ctrl);
                if (flags & kReadStop)
                    return false;
                readAt = std::chrono::steady_clock::now();
                bool transfer = true;
                if (flags & kReadEnd) {
                    c.moreReads = false;
                    completed = true;
                    if (ctrl->averaging) {
                        fftOnly = true;
                        transfer = false;
                    } else {
                        // The end brings no samples of its own: never move the last block again.
                        ctrl->newSamples = 0;
                        transfer = c.held > 0 || (ctrl->acqFlags & 2);
                    }
                } else {
                    c.moreReads = (flags & 0x2010) == 0;
                    completed = !c.moreReads;
                }
                if (transfer) {
                    if (ctrl->firstTransfer && ctrl->runStop == 0) {
                        for (int n = 0; n < 4; ++n) {
                            uint32_t* b = normalisedBuffer(n);
                            if ((ctrl->cycleChannels & (1u << n)) && c.hasSource[n] && b)
                                std::fill(b, b + kRecord, kEmpty);
                        }
                    }
                    if (ctrl->runStop != 0 && c.held == 0 && !(ctrl->acqFlags & 2))
                        transfer = false;
                }
                if (firstReadOut) {
                    firstReadOut = false;
                    if (isOneOf(static_cast<uint16_t>(ctrl->acqFlags & ~4u), {32, 33, 144, 145})) {
                        c.interpolate = false;
                        word = 0;
                    }
                }
                if (transfer) {
                    pthread_mutex_lock(&o_g_autoMeasMutex);
                    c.prepareTraces(ctrl->newSamples);
                    result = acqtrans(ctrl, &c.held, &c.first, &word);
                    pthread_mutex_unlock(&o_g_autoMeasMutex);
                    const uint16_t kind = ((flags & 0x4000) && (flags & 0x4)) ? REQ_CHANNEL_STATE2 : REQ_CHANNEL_STATE;
                    ctrl->firstTransfer = 0;
                    c.notice = pipe_dial{kind, 0, static_cast<intptr_t>(c.held), ctrl->shownChannels & 0xF, 0.0f,
                                         senderValue(ACQU_id)};
                    transferred = true;
                }
            }

            if (transferred) {
                if (result == 1) {
                    // 3-7.
                    if (c.passFail()) {
                        c.display();
                        c.fft();
                    }
                    c.measurements();
                } else {
                    c.again = c.again || result == 0;
                }
                // 8.
                c.sendNotice();
                if (completed && c.held >= static_cast<uint32_t>(kRecord))
                    recordProcessing(readAt);
            } else if (fftOnly) {
                c.fft();
            }
            if (c.live)
                AcqTransfertOpen(ctrl);
        } while (c.moreReads);

        // 9.
        if (c.live && completed && ctrl->saveRestartOn) {
            if (!c.saveAndRestart())
                return true;  // the acquisition is complete: only the wait for its save was cut
        }
        // 10.
        if (!c.live || !c.again || ctrl->runStop != 0)
            return true;
    }
}
