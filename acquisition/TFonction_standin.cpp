// Stand-in until the math functions exist: keeps the text; a non-empty text counts as defined.
#include "acquisition/TFonction.h"

#include <cstring>

TFonction::TFonction(unsigned short id, char* initial)
    : identifier(id)
{
    SetFonctionString(initial, false);
}

bool TFonction::SetFonctionString(char* newText, bool)
{
    std::memset(text, 0, sizeof text);
    if (newText)
        std::strncpy(text, newText, sizeof text - 1);
    defined = text[0] != '\0';
    return true;
}

bool TFonction::IsDefined()
{
    return defined;
}

// The stand-in does not parse the text: it reads no channel.
uint16_t TFonction::VoiesSrc()
{
    return 0;
}

void TFonction::RAZ()
{
    std::memset(text, 0, sizeof text);
    defined = false;
}

// Stand-ins: a non-empty text passes both checks.
bool TFonction::AnalyseSyntaxique()
{
    return text[0] != '\0';
}

bool TFonction::AnalyseSemantique()
{
    return text[0] != '\0';
}
