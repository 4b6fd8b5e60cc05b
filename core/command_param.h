// Parameter requests (REQ_SET_PARAM) inside the controller loop.
#pragma once

#include "core/command.h"

#include <cstddef>

// Applies one parameter request in the controller thread: writes the value (with the clamps and
// special writes), runs the post-processing that keeps the setup consistent, then decides the
// screen update, the forwarding to the measure and bus threads and the acquisition restart.
// May rewrite the record (bus steps). Parameter numbers above 221 do nothing; 122 powers the
// instrument off and never returns.
void applyParameterRequest(pipe_dial& request, TRequestOutcome& outcome);

// Layout of the result tables reached through setupLinks(): ten automatic-measurement records
// (0..3 the channels, 8 and 9 the meter power) and five harmonic result records, each beginning
// with its 32-bit validity word.
constexpr std::size_t kMeasurementRecordSize = 136;
constexpr int kMeasurementRecords = 10;
constexpr std::size_t kHarmonicRecordSize = 1036;
constexpr int kHarmonicRecords = 5;
