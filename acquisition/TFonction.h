// Math function of a channel: a short text over the channels, the time and constants, compiled
// once into reverse Polish code and evaluated for every sample.
#pragma once

#include "core/scale.h"

#include <cstdint>
#include <mutex>

// One member of a compiled function: its kind and its value (token code, number or channel).
struct TMembreDescription {
    enum : int16_t {
        Binary = 1,
        UnaryMinus = 2,
        Opening = 3,
        Integer = 4,
        Real = 5,
        Closing = 6,
        Channel = 7,
        Time = 8,
        End = 15,
    };
    int16_t kind = End;
    union {
        int32_t value;
        float realValue;
    };
    TMembreDescription() : value(0) {}
};

// Token texts; a token's code is its position in the table.
constexpr int kTokenCount = 33;
extern const char* const DescMembre[kTokenCount];
extern const int16_t CodePhonemes[kTokenCount];

class TFonction {
public:
    static constexpr int kTextSize = 100;
    static constexpr int kCodeSize = 102;

    // Copies at most 99 characters ('%' reads as '+') and compiles; a text that fails the
    // syntax or semantic analysis is emptied.
    TFonction(unsigned short identifier, char* text);
    ~TFonction() {}
    TFonction(const TFonction&) = delete;
    TFonction& operator=(const TFonction&) = delete;

    // Copies (at most 99 characters; web form: '%' reads as '+', '&' ends the text) and compiles;
    // false on a syntax or semantic error (the text stays, undefined).
    bool SetFonctionString(char* text, bool webForm);
    // Copies the 100-byte text into out (web form: '+' written as '%', empty as "+"); returns out.
    char* GetFonctionString(char* out, bool webForm);
    // Empties the text; the function is no longer defined.
    void RAZ();
    bool IsDefined();
    // Channels the function reads (channel 1..4 -> bit 1, 2, 4, 8); 0 when undefined.
    uint16_t VoiesSrc();
    // Evaluates samples first .. first + count - 1 into out (same indices).
    bool Compute(uint32_t* out, uint32_t first, uint32_t count);
    // Scale and unit (up to 3 characters and a NUL; unit may be null) of the result: 0, or -1
    // with 3.0525032e-5 and "div" when the function has no scale.
    int GetVerticalScale(float* scale, char* unit, TScale kind);
    // The text and CR LF: 0, or -1 on a short write.
    int32_t write(int32_t fd);
    // One line (CR skipped, at most 99 characters kept), compiled: 0 when then defined, else -1.
    int32_t read(int32_t fd);

    // The three compilation stages; each returns non-zero on success.
    bool AnalyseSyntaxique();
    bool AnalyseSemantique();
    bool CodageNPI();

    uint16_t identifier = 0;
    bool defined = false;
    bool real = false;
    int16_t tokens[kTextSize] = {};
    TMembreDescription members[kCodeSize];
    uint16_t memberCount = 0;
    TMembreDescription code[kCodeSize];
    char text[kTextSize] = {};

private:
    bool compile();
    void publish();
    bool CodageSegmentNPI(int& index, int& out);
    void ComputeInt(const TMembreDescription* program, uint32_t* out, uint32_t first, uint32_t count);
    void ComputeReal(const TMembreDescription* program, uint32_t* out, uint32_t first, uint32_t count);

    // Serialises compilations of this function.
    std::mutex compileMutex_;
    // Guards the published program that Compute evaluates, so a recompilation never shows a
    // half-written code array to the acquisition threads.
    std::mutex publishMutex_;
    TMembreDescription published_[kCodeSize];
    bool publishedDefined_ = false;
    bool publishedReal_ = false;
};
