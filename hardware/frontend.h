// Scope front-end programming.
#pragma once

struct calibration;

// First call: the scaling registers' start; then the scope configuration of every channel.
void FrontEndInit(calibration* calib);
