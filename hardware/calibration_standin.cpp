// Stand-in until the calibration file exists: an all-zero live record (no brand, no trims).
#include "hardware/calibration.h"

calibration param_calibr{};
