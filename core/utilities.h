// Small helpers over single characters, NUL-terminated texts and numbers. Plain ASCII; none
// allocates.
#pragma once

#include <cstdint>

// Digit values; 0 for a character that is no such digit (test with the is... functions first).
int bintoi(char c);
int dectoi(char c);
int hextoi(char c);
// The lower-case character of a nibble 0..15; '0' for anything above 15.
char itohex(int v);

bool isBinary(char c);
bool isDecimal(char c);
bool isHexa(char c);
bool isCharacter(char c);  // 'A'..'Z' and 'a'..'z' only

// Equality within 0.2 % of a (within 0.002 when a is 0).
bool FloatisEqu(float a, float b);
// a lies below b by more than 0.2 % of |a|.
bool FloatisInf(float a, float b);

// Writes value in base (2..36; anything else is taken as 10) into out, a '-' first for a
// negative value, upper-case letters for digits of 10 and up; returns out. out must hold 34
// bytes for base 2.
char* itoa(int32_t value, char* out, int32_t base);

// Replaces every from by to in text, in place.
void strCharToChar(char* text, char from, char to);
// Case-insensitive comparison: the difference of the first differing pair of lower-cased
// characters, 0 when equal.
int stricmp(const char* a, const char* b);
// Case-insensitive search: the first place in text where pattern begins; null when absent and
// when either text is empty.
const char* stristr(const char* text, const char* pattern);
char* stristr(char* text, const char* pattern);
// Lowers 'A'..'Z' in place; returns text (null gives null).
char* strToLower(char* text);
