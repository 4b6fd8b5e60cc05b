// Measure thread: takes the forwarded requests and computes the automatic measurements.
#pragma once

// The argument is the live setup database. Never returns.
void* measure(void* db);
