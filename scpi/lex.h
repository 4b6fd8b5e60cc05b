// The SCPI lexer: turns the character stream of GetCharacter into punctuation, integers,
// reals, words and failures. One character of look-ahead.
#pragma once

#include <cstdint>

constexpr int kScpiWordMax = 12;

struct lex {
    int16_t pendingFlag;   // 1 when nextChar holds a character read and not yet consumed
    uint8_t nextChar;      // the look-ahead, lower case
    uint8_t punct;         // 0 end of message, ' ' a blank run, otherwise the character
    char text[14];         // the last word, lower case, at most 12 characters
    int16_t textLength;
    int32_t integer;
    float real;
    int32_t failure;       // internal error number of the last failure token
    uint8_t block;         // 1 when the last integer was a definite-length block count
};

// Token kinds.
enum : int {
    kTokPunct = 0,
    kTokInteger = 1,
    kTokReal = 2,
    kTokWord = 3,
    kTokFailure = 4,
};

// The next token.
int lexic(lex* l);
// Number recogniser with its first character already read: kTokInteger, kTokReal or
// kTokFailure (error 12). A "#<n><len>" block header stops after its last digit, so the
// block's bytes reach the handler unchanged.
int atonum(unsigned char first, lex* l);
// Discards the rest of the input line.
void skip(lex* l);
