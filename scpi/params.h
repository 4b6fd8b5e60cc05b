// Parameter decoding: the entry's parameter letters say what each parameter must be; the
// decoded values go into the parameter area that the handler reads through the accessors.
#pragma once

#include "scpi/Arbre.h"
#include "scpi/header.h"
#include "scpi/lex.h"

#include <cstdint>

constexpr int kScpiParamAreaSize = 1024;
constexpr int kScpiTextAreaSize = 81;
constexpr short kMnemoNone = 4095;

// Special numeric words: the record's special field, with value 0.
enum : int32_t {
    kSpecialNone = 0,
    kSpecialMin = 2,
    kSpecialMax = 3,
    kSpecialDefault = 4,
    kSpecialUp = 5,
    kSpecialDown = 6,
    kSpecialInfinity = 7,
};

// One decoded parameter. value is wide enough for a pointer; records sit at their natural
// alignment, one after the other, in the order of the letters.
struct TScpiParam {
    int32_t special;
    union {
        uint16_t index;     // mnemonic letters: the table index
        uint8_t boolean;    // a: 0 or 1, 255 for -1
        int32_t integer;    // b, l, and the byte count of g
        float real;         // c, d, h, m, n, o, after the unit's factor
        const char* text;   // e, j, f, p: in the decoder's text area, valid until the next command
    } value;
};

// The parameter area of the interpreter: aligned for the records.
struct alignas(TScpiParam) TScpiParamArea {
    char bytes[kScpiParamAreaSize];
};

// Accessors of record i (0-based); handlers use only these.
int32_t paramSpecial(const char* area, int i);
uint16_t paramIndex(const char* area, int i);
uint8_t paramBool(const char* area, int i);
int32_t paramInt(const char* area, int i);
float paramFloat(const char* area, int i);
const char* paramText(const char* area, int i);

// Decodes every parameter of one command into the area; 0 or an internal error number.
// ind->paramCount counts the records written.
int get_param(const entry* e, indic* ind, char* area, lex* l);

// Mnemonic table record; a table ends with shortLength 0.
struct mnemo {
    int16_t shortLength;
    int16_t longLength;
    const char* word;  // the long form, lower case
};
// The table of a letter 'B'..'_' (null otherwise).
const mnemo* mnemonicTable(char letter);

// index kMnemoNone: the index of word in the letter's table, or kMnemoNone. Any other index:
// writes that entry's short form in capitals, "\n\r" and a NUL into word (at least 12 bytes)
// and returns kMnemoNone.
short search_mnemo(char* word, short letter, short index);
// The special numeric code (2..7) of the word, or 1.
short sp_num_search(const char* word);
// The 1-based position of word in a null-ended unit table, or 0.
int unit(const char* const* table, const char* word);
// The unit table and factors of a letter (c, d, h, l, n, o); null for the others.
const char* const* unitTable(char letter);
const double* unitFactors(char letter);

// Read the rest of a string (after its opening quote), an expression (after its opening
// parenthesis) or a channel list (after its "(") straight from the input, zero-terminated.
// 0, 4 (line end reached), 18 (invalid character), 19 (longer than room - 1) or 26 (invalid
// channel list).
int get_string(char* dst, short room, short* length);
int get_equation(char* dst, short room, short* length);
int getChannelList(char* dst, short room, short* length);
