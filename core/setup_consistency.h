// Helpers that keep the derived fields of the live setup consistent after a change.
#pragma once

#include <cstdint>

struct database;

// Recomputes the derived scale fields and the trace parameters.
void find_coeff();
// Rebuilds channelFlags and clears the measurements of traces no longer shown.
void SetVoiesValides();
// The trace identifier the automatic measurements refer to.
uint16_t GetMesureReference();
// Applies a time-base index chosen by the user.
void SetUserTimeBase(uint16_t index);
// Brings the cursors back into the visible window (scope modes; state 1 or 3 only).
void SetCursorsInScreen(unsigned short state);
// Adapts the software zoom after a change of the time base or of the zoom.
void adjustHorizontalZoom();
// Sets the two power functions of db (three-phase or single-phase) and clears the power
// measurements.
void SetPowerFct(bool threePhase, database* db);
// The same on the live setup.
void SetPowerFct(bool on);
