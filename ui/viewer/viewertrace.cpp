#include "ui/viewer/viewertrace.h"

#include "acquisition/TAcquisition.h"
#include "core/files.h"
#include "core/gest_db.h"

#include <algorithm>
#include <cmath>
#include <pthread.h>

namespace {

constexpr uint32_t kTop = 393216;
constexpr uint32_t kBottom = 655296;
constexpr uint32_t kNoPoint = 0x80000000u;
constexpr uint32_t kInvalidWord = 0x40000000u;
constexpr uint32_t kPairs = Trace::kRows / 2;

const uint32_t* recordOf(short kind)
{
    switch (kind) {
    case 0: return TAcquisition::Voie1Normalisee;
    case 1: return TAcquisition::Voie2Normalisee;
    case 2: return TAcquisition::Voie3Normalisee;
    case 3: return TAcquisition::Voie4Normalisee;
    default: return TAcquisition::VoieAuxNormalisee;
    }
}

// Twice the zoom width toward zero, kept to 16 bits; 0 for what has no such value.
uint32_t groupOfZoomWidth(float zoomWidth)
{
    const double twice = std::trunc(2.0 * static_cast<double>(zoomWidth));
    if (!(twice >= 0.0) || twice >= 4294967296.0)
        return 0;
    return static_cast<uint32_t>(twice) & 0xFFFFu;
}

} // namespace

ViewerTrace::ViewerTrace(short kind) : Trace(kind) {}

ViewerTrace::~ViewerTrace()
{
    stopWorker();
}

namespace {

// The (smallest, largest) pair of the valid codes of source[from, to), at least source[from].
void pairOf(const uint32_t* source, uint32_t from, uint32_t to, uint32_t* out)
{
    uint32_t smallest = kBottom;
    uint32_t largest = kTop;
    for (uint32_t i = from; i < std::max(to, from + 1); ++i) {
        const uint32_t x = source[i];
        if (x >= kInvalidWord)
            continue;
        if (x < smallest)
            smallest = x;
        if (x > largest)
            largest = x;
    }
    out[0] = smallest == kBottom ? kNoPoint : smallest;
    out[1] = largest == kTop ? kNoPoint : largest;
}

} // namespace

void ViewerTrace::reducePairs(const uint32_t* source, uint32_t total, uint32_t start, uint32_t g, uint32_t* out)
{
    std::fill(out, out + 2 * kPairs, kNoPoint);
    uint32_t position = start;
    for (uint32_t pair = 0; pair < kPairs && position < total; ++pair, position += g) {
        const uint32_t end = std::min<uint64_t>(uint64_t(position) + std::max<uint32_t>(g, 1), total);
        pairOf(source, position, end, out + 2 * pair);
    }
}

void ViewerTrace::reduceSpan(const uint32_t* source, uint32_t total, uint32_t start, uint32_t samples, uint32_t* out)
{
    std::fill(out, out + 2 * kPairs, kNoPoint);
    for (uint32_t pair = 0; pair < kPairs; ++pair) {
        const uint64_t from = start + uint64_t(pair) * samples / kPairs;
        if (from >= total)
            break;
        const uint64_t to = std::min<uint64_t>(start + uint64_t(pair + 1) * samples / kPairs, total);
        pairOf(source, static_cast<uint32_t>(from), static_cast<uint32_t>(to), out + 2 * pair);
    }
}

void ViewerTrace::reduce()
{
    TAcquisition* target = acquisition();
    const uint32_t* record = recordOf(kind());
    if (!target || !record)
        return;
    uint32_t reduced[kRows];
    if (compressed()) {
        // The recording's own span: a short one fills the strip instead of a sliver at its left.
        const TViewerSpan span = ViewerSpan();
        reduceSpan(record, TAcquisition::kNormalisedSamples, span.start, std::max<uint32_t>(span.samples, 1), reduced);
    } else {
        const uint32_t start = data.horizPosition > 0 ? static_cast<uint32_t>(data.horizPosition) & ~1u : 0;
        const uint32_t g = groupOfZoomWidth(data.zoomWidth);
        if (g == 0 && std::isfinite(data.zoomWidth) && data.zoomWidth > 0.0f) {
            // A window of fewer than 1250 samples (a short recording fitted to the display): its
            // samples spread over the pairs, instead of every pair repeating the first sample.
            const double samples = std::max(1.0, std::round(static_cast<double>(data.zoomWidth) * 2500.0));
            reduceSpan(record, TAcquisition::kNormalisedSamples, start, static_cast<uint32_t>(samples), reduced);
        } else {
            reducePairs(record, TAcquisition::kNormalisedSamples, start, g, reduced);
        }
    }
    // The trace's worker reads the array under the image mutex: never a half-written array.
    pthread_mutex_lock(&o_g_imageMutex);
    std::copy(reduced, reduced + kRows, compressed() ? target->loggerEnvelope : target->loggerRaw);
    pthread_mutex_unlock(&o_g_imageMutex);
}

void ViewerTrace::computeSamplesToPixels()
{
    reduce();
    Trace::computeSamplesToPixels();
}
