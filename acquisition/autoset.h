// Autoset: finds the sensitivity, time base, trigger level and position that show the input
// signals, and writes them into the live setup. Runs in the controller thread.
#pragma once

// which: channel 0..3, or 4 for the best channel. True when settings were made.
bool Autoset(unsigned short which);
// As Autoset, then the FFT settings.
bool AutosetFft(unsigned short which);
// As Autoset, then the FFT offsets and zoom only.
bool AutosetVerticalFFT(unsigned short which);
// The vertical settings of one channel 0..3. True when they were made.
bool AutosetVertical(unsigned short channel);
