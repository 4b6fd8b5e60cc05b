// The calibration file: the calibration record behind a saved-file header in the private
// directory.
#pragma once

struct calibration;

// Writes the record to the calibration file, with stampDate its date := now first; 0 or 19.
int CalibrationSave(calibration* record, bool stampDate);
