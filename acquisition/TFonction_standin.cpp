// Stand-in until the math functions exist: keeps the text; a non-empty text counts as defined.
#include "acquisition/TFonction.h"
#include "acquisition/TFonction_standin.h"

#include <cstring>
#include <map>
#include <mutex>

namespace {
struct TSources {
    std::mutex mutex;
    std::map<const TFonction*, uint16_t> byFunction;
};
TSources& sources()
{
    static auto* s = new TSources();
    return *s;
}
} // namespace

void setFonctionStandinSources(const TFonction* function, uint16_t bits)
{
    TSources& s = sources();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (bits)
        s.byFunction[function] = bits;
    else
        s.byFunction.erase(function);
}

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

// The stand-in does not parse the text: it reads no channel unless a test said which.
uint16_t TFonction::VoiesSrc()
{
    if (!defined)
        return 0;
    TSources& s = sources();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.byFunction.find(this);
    return it == s.byFunction.end() ? 0 : it->second;
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
