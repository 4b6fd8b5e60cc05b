// Math function of a channel: a short text over the channels, compiled once.
#pragma once

#include <cstdint>

class TFonction {
public:
    TFonction(unsigned short identifier, char* text);

    // Copies and compiles the text (at most 99 characters); false on a syntax or semantic error.
    bool SetFonctionString(char* text, bool webForm);
    bool IsDefined();
    // Channels the function reads (channel 1..4 -> bit 1, 2, 4, 8); 0 when undefined.
    uint16_t VoiesSrc();
    // Token check and order/bracket check of the text; true when it passes.
    bool AnalyseSyntaxique();
    bool AnalyseSemantique();
    // Empties the text; the function is no longer defined.
    void RAZ();

    uint16_t identifier = 0;
    bool defined = false;
    char text[100] = {};
};
