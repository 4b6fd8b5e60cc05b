// Hook of the math-function stand-in (tests only).
#pragma once

#include <cstdint>

class TFonction;

// The source channels that VoiesSrc reports for one function object while it is defined
// (0, the default, clears the entry).
void setFonctionStandinSources(const TFonction* function, uint16_t sources);
