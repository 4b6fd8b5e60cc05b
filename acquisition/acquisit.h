// The acquisition threads: the control thread takes the controller's restart orders; the
// real-time thread runs the acquisition cycles.
#pragma once

// Control thread (ACQU_id); the argument is the live calibration record. Never returns.
void* acquisit(void* calibration);
// Real-time acquisition thread (RTAC_id), started by acquisit; the argument is the control
// record. Never returns.
void* startacq(void* acqCtrl);
