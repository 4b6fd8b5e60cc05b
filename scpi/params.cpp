// Parameter decoding by the entry's parameter letters.
#include "scpi/params.h"

#include "scpi/memdat.h"

#include <cstring>

namespace {

// Shared by all text parameters of one command, reused by every command.
char g_textArea[kScpiTextAreaSize];

bool isMnemonicLetter(char letter)
{
    return letter >= 'B' && letter <= '_';
}

// Letters whose parameter may be left out.
bool isOptionalLetter(char letter)
{
    return letter == 'j' || letter == '^' || letter == 'g' || letter == '[';
}

void writeRecord(char* area, int i, const TScpiParam& p)
{
    std::memcpy(area + static_cast<size_t>(i) * sizeof(TScpiParam), &p, sizeof p);
}

TScpiParam readRecord(const char* area, int i)
{
    TScpiParam p;
    std::memcpy(&p, area + static_cast<size_t>(i) * sizeof(TScpiParam), sizeof p);
    return p;
}

struct TDecoder {
    const entry* e;
    indic* ind;
    char* area;
    lex* l;
    char* text = g_textArea;
    short room = kScpiTextAreaSize;
    bool query;

    // A text parameter straight from the input, stored in the shared text area.
    int readText(int (*reader)(char*, short, short*), TScpiParam* p, int endError)
    {
        short length = 0;
        int r = reader(text, room, &length);
        if (r == kErrInvalidSeparator) {
            l->punct = 0;  // the line end is read: it must not be discarded twice
            return endError;
        }
        if (r)
            return r;
        p->value.text = text;
        text += length + 1;
        room = static_cast<short>(room - (length + 1));
        return 0;
    }

    // Decodes one parameter from its first token. *block is set for a block header.
    int decode(char letter, int token, TScpiParam* p, bool* store, bool* block)
    {
        if (token == kTokFailure)
            return l->failure;
        const bool blockHeader = token == kTokInteger && l->block;
        if (isMnemonicLetter(letter)) {
            if (query && !std::strchr("MRT[^", letter))
                return kErrParameterNotAllowed;
            if (token != kTokWord)
                return kErrDataType;
            short index = search_mnemo(l->text, letter, kMnemoNone);
            if (index == kMnemoNone)
                return kErrInvalidCharacterData;
            p->value.index = static_cast<uint16_t>(index);
            return 0;
        }
        switch (letter) {
        case 'a':
            if (token == kTokWord) {
                if (std::strcmp(l->text, "on") == 0)
                    p->value.boolean = 1;
                else if (std::strcmp(l->text, "off") == 0)
                    p->value.boolean = 0;
                else
                    return query ? kErrParameterNotAllowed : kErrInvalidCharacterData;
            } else if (token == kTokInteger && !blockHeader) {
                p->value.boolean = l->integer == 0 ? 0 : l->integer == -1 ? 255 : 1;
            } else {
                return kErrDataType;
            }
            return query ? kErrParameterNotAllowed : 0;
        case 'b':
        case 'l':
            if (token == kTokInteger && !blockHeader) {
                if (query)
                    return kErrParameterNotAllowed;
                p->value.integer = l->integer;
                return 0;
            }
            if (token == kTokWord)
                return special(p);
            return query ? kErrParameterNotAllowed : kErrDataType;
        case 'c':
        case 'd':
        case 'h':
        case 'm':
        case 'n':
        case 'o':
            if ((token == kTokInteger && !blockHeader) || token == kTokReal) {
                if (query)
                    return kErrParameterNotAllowed;
                p->value.real = token == kTokReal ? l->real : static_cast<float>(l->integer);
                return 0;
            }
            if (token == kTokWord)
                return special(p);
            return kErrDataType;
        case 'e':
        case 'j':
            if (token != kTokPunct || l->punct != '"')
                return kErrDataType;
            return readText(get_string, p, kErrInvalidString);
        case 'f':
            if (token != kTokPunct || l->punct != '(')
                return kErrDataType;
            return readText(get_equation, p, kErrInvalidString);
        case 'p':
            if (token != kTokPunct || l->punct != '(')
                return kErrDataType;
            return readText(getChannelList, p, kErrIllegalValue);
        case 'g':
            if (!blockHeader)
                return kErrDataType;
            p->value.integer = l->integer;
            *store = !query;
            *block = true;
            return 0;
        default:
            return kErrParameterNotAllowed;
        }
    }

    int special(TScpiParam* p)
    {
        short code = sp_num_search(l->text);
        if (code == 1)
            return kErrInvalidCharacterData;
        p->special = code;
        return 0;
    }

    // A unit word after the parameter just decoded (record i).
    int applyUnit(char letter, int i)
    {
        const char* const* table = unitTable(letter);
        if (!table)
            return kErrSuffixNotAllowed;
        int u = unit(table, l->text);
        if (u == 0)
            return kErrInvalidSuffix;
        double factor = unitFactors(letter)[u - 1];
        TScpiParam p = readRecord(area, i);
        if (letter == 'l')
            p.value.integer = static_cast<int32_t>(p.value.integer * factor);
        else
            p.value.real = static_cast<float>(static_cast<double>(p.value.real) * factor);
        writeRecord(area, i, p);
        return 0;
    }

    int run()
    {
        const char* letters = e->paramLetters;
        if (!letters || !*letters)
            return kErrParameterNotAllowed;
        ind->paramCount = 0;
        int letterIndex = 0;
        for (;;) {
            const char letter = letters[letterIndex];
            int token = lexic(l);
            if (token == kTokPunct && l->punct == ' ')
                token = lexic(l);
            TScpiParam p;
            std::memset(&p, 0, sizeof p);
            bool store = true;
            bool block = false;
            if (int r = decode(letter, token, &p, &store, &block))
                return r;
            const int record = ind->paramCount;
            if (store) {
                writeRecord(area, record, p);
                ++ind->paramCount;
            }
            if (block) {
                // The handler reads the block's bytes itself: the command executes at once.
                l->punct = 0;
                return missingAfter(letters, letterIndex);
            }
            bool unitSeen = false;
            for (;;) {
                token = lexic(l);
                if (token == kTokWord) {
                    if (unitSeen)
                        return kErrInvalidCharacter;
                    if (int r = applyUnit(letter, record))
                        return r;
                    unitSeen = true;
                    continue;
                }
                if (token == kTokFailure)
                    return l->failure;
                if (token != kTokPunct)
                    return kErrInvalidCharacter;
                if (l->punct == ' ')
                    continue;
                if (l->punct == 0 || l->punct == ';')
                    return missingAfter(letters, letterIndex);
                if (l->punct != ',')
                    return kErrInvalidCharacter;
                if (!letters[letterIndex + 1])
                    return kErrParameterNotAllowed;
                ++letterIndex;
                break;
            }
        }
    }

    static int missingAfter(const char* letters, int last)
    {
        char next = letters[last + 1];
        if (next && !isOptionalLetter(next))
            return kErrMissingParameter;
        return 0;
    }
};

} // namespace

int get_param(const entry* e, indic* ind, char* area, lex* l)
{
    TDecoder d{e, ind, area, l, g_textArea, kScpiTextAreaSize, ind->query != 0};
    return d.run();
}

int32_t paramSpecial(const char* area, int i)
{
    return readRecord(area, i).special;
}

uint16_t paramIndex(const char* area, int i)
{
    return readRecord(area, i).value.index;
}

uint8_t paramBool(const char* area, int i)
{
    return readRecord(area, i).value.boolean;
}

int32_t paramInt(const char* area, int i)
{
    return readRecord(area, i).value.integer;
}

float paramFloat(const char* area, int i)
{
    return readRecord(area, i).value.real;
}

const char* paramText(const char* area, int i)
{
    return readRecord(area, i).value.text;
}
