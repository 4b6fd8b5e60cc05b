// What a parameter request asks of the screen, the measure thread, the bus thread and the
// acquisition once the value is written: one constant row per parameter number.
#pragma once

#include <cstdint>

enum class TScreenRule : uint8_t {
    None,
    Maj,               // screenMaj(parameter)
    Raz,               // screenRaz()
    MajInScope,        // screenMaj(parameter) in scope modes only
    RazInMode19,       // screenRaz() in mode 19, else screenMaj(parameter)
    MajAfterAutoset,   // screenMaj(parameter) when the autoset found settings
};

enum class TForwardRule : uint8_t {
    No,
    Yes,
    InScope,           // restarts only: in scope modes (bit 0x10)
    WhenChanged,       // the stored value differs from the one before the request
    WhenRemote,        // the sender is SCPI or the web service
    CalibrationStep,   // restarts only: the request starts a calibration step
};

struct TParameterRule {
    TScreenRule screen = TScreenRule::None;
    TForwardRule measure = TForwardRule::No;
    TForwardRule restart = TForwardRule::No;
    bool bus = false;
    int16_t restartCode = -1;  // code of the restart message; -1: the parameter number
};

enum class TMaskRule : uint8_t {
    None,      // no entry
    Fixed,     // the mask as given
    Channel,   // the channel rule of channel `mask` (1..4)
    AuxValue,  // the request's auxValue
};

struct TRestartEntry {
    TMaskRule rule = TMaskRule::None;
    int16_t mask = 0;
    int16_t action = 0;
};

// Parameters 0..221; callers check the range.
const TParameterRule& parameterRule(int parameter);
const TRestartEntry& restartEntry(int parameter);

// Settings a mode cannot take: the recorder keeps running and owns the meter settings, so the
// controller drops a non-zero acqRunStop and parameters 150..165 there. True when a request
// for that parameter and value would be dropped in that instrument mode; the remote handlers
// ask before they post, so that a client is never told a dropped setting was made.
bool droppedInMode(int parameter, int32_t value, uint16_t instrumentMode);
