// Board logic outputs and inputs, the backlight level and the screen saver.
#pragma once

#include <cstdint>

enum TCmdeLogiqueIdentifier {
    CMDE_INITIAL_STATE = 0,
    CMDE_BACKLIGHT_POWER = 1,
    CMDE_GPIO_4 = 2,
    CMDE_GPIO_121 = 3,
    CMDE_BEEP = 4,
    CMDE_GPIO_127 = 5,
    CMDE_GPIO_141 = 6,
    CMDE_GPIO_144 = 7,
    CMDE_FPGA_RESET = 8,
    CMDE_REG20_BIT18 = 9,
    CMDE_REG20_BIT19 = 10,
    CMDE_REG20_PULSE24 = 11,
    CMDE_REG20_BIT20 = 12,
    CMDE_SELFTEST_LAMPS = 13,
    CMDE_ACQ_STATUS_LAMP = 14,
    CMDE_LAMP = 15,
    CMDE_BLINK = 16,
    CMDE_CHANNEL_POWER = 17,
    CMDE_SCREEN_SAVER = 18,
    CMDE_PROBE_I2C_SELECT = 19,
};

enum TEtatLogiqueIdentifier {
    ETAT_FPGA_CONFIGURED = 0,
    ETAT_GPIO_146 = 1,
    ETAT_GPIO_123 = 2,
    ETAT_GPIO_136 = 3,
    ETAT_GPIO_136_BIS = 4,  // reads the same line as 3
    ETAT_BOARD_CODE = 5,
    ETAT_BANDWIDTH_VARIANT = 6,
    ETAT_TWO_CHANNEL_MODEL = 8,
    ETAT_GPIO_106 = 9,
    ETAT_GPIO_8 = 10,
    ETAT_GPIO_161 = 11,
    ETAT_GPIO_160 = 12,
    ETAT_GPIO_114 = 13,
};

enum TCmdeAnalogiqueIdentifier {
    ANALOG_BACKLIGHT_LEVEL = 1,
};

// Sets one logic output; identifiers above 19 do nothing. The result is of no use to callers.
int CmdeLogique(TCmdeLogiqueIdentifier id, uint32_t value);
// Reads one logic input; unknown identifiers read 0.
int EtatLogique(TEtatLogiqueIdentifier id);
// Start of the board outputs: with 0 also creates the timers; then the initial output state.
void BaseInit(int16_t again);
// Screen saver on (stops the acquisition read without waiting) or off.
void EconomiseurEcran(bool on);
// Analogue output; only the backlight level acts.
void CmdeAnalogique(TCmdeAnalogiqueIdentifier id, uint16_t value);
