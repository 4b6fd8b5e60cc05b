// Measure thread: takes the forwarded requests and computes the automatic measurements.
#pragma once

// The argument is the live setup database. Returns once measureStop was called (the power-off
// of a test).
void* measure(void* db);
void measureStop();
