// Stand-in for the harmonic cycle: it acquires nothing and returns at once, so
// the real-time thread powers down and waits for the next resume.
#include "acquisition/modecycles.h"

void Harmonic(database*, acq_ctrl*) {}
