// Autoset: finds the sensitivity, time base, trigger level and position that show the input
// signals, and writes them into the live setup. Runs in the controller thread, inside its hold of
// the acquisition: nothing here suspends, resumes or posts.
#pragma once

#include <cstdint>

// which: channel 0..3, or 4 for the best channel. True when settings were made; false (nothing
// written) when no channel, or not the requested one, carries a usable signal.
bool Autoset(unsigned short which);
// As Autoset, then the FFT settings.
bool AutosetFft(unsigned short which);
// As Autoset, then the FFT offsets and zoom only.
bool AutosetVerticalFFT(unsigned short which);
// The vertical settings of one channel 0..3. True when they were made.
bool AutosetVertical(unsigned short channel);

// One call of an entry point above.
struct TAutosetCall {
    const char* function;  // "Autoset", "AutosetFft", "AutosetVerticalFFT", "AutosetVertical"
    unsigned short argument;
};
// Test seam: when set, told of every entry-point call; when it returns true, *result is the
// call's outcome and nothing is searched nor written. Null in the product.
extern bool (*autosetObserver)(const TAutosetCall& call, bool* result);

// What the steps found on one channel.
struct TAutosetParams {
    uint8_t found = 0;          // the channel gave a usable signal
    uint16_t sensitivity = 0;   // index 0..15
    uint16_t positionClass = 0; // 1 signal high, 3 low, 2 centred or both
    int16_t coupling = 0;       // 1: position measured (DC kept), 0: AC
    uint16_t timeBase = 0;      // time-base index
    float watchTime = 0.0f;     // overscan watch, seconds
    int16_t position = 0;       // thousandths of the screen
    int16_t triggerLevel = 0;   // thousandths of the screen
    double period = 0.0;        // seconds
};

// Counter ranges, tried in order: selection code, count time (us).
constexpr int kAutosetCounterRanges = 7;
extern const uint16_t tus_l_selClkFqPr[kAutosetCounterRanges];
extern const uint32_t tul_l_countDuration[kAutosetCounterRanges];
// The signal period that suits each time-base index 0..23, seconds.
constexpr int kAutosetTimeBases = 24;
extern const float tf_l_periodIdeal[kAutosetTimeBases];
// FFT vertical position by sensitivity index.
extern const int16_t ts_g_cadrageFft[16];
// The FFT time base of an autoset time base.
constexpr uint16_t autosetFftTimeBase(uint16_t index) { return static_cast<uint16_t>(index + 4); }

// Whether counter range 0..6 accepts the edge quality v and the count l; *period (seconds) when
// it does.
bool AutosetCounterAccepts(int range, uint32_t v, uint32_t l, double* period);
// timeBase: the number of ideal periods below period; watchTime: the first not below it (the
// last when period exceeds them all).
void AutosetTimeBaseOf(double period, TAutosetParams* p);
// The found channel with the largest time base, the later one on a tie; -1 when none was found.
int AutosetBestChannel(const TAutosetParams (&p)[4]);

// The steps on one channel 0..3; true on success.
bool AutosetSensibilite(uint16_t channel, TAutosetParams* p);
bool AutosetBdt(uint16_t channel, TAutosetParams* p);
bool AutosetCadrage(uint16_t channel, TAutosetParams* p);
