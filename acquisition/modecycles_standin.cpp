// Stand-ins for the harmonic and capacitance cycles: they acquire nothing and return at once, so
// the real-time thread powers down and waits for the next resume.
#include "acquisition/modecycles.h"

void Harmonic(database*, acq_ctrl*) {}
void Capa(database*, acq_ctrl*) {}
