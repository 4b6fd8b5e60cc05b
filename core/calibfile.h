// The calibration file: the calibration record behind a saved-file header in the private
// directory.
#pragma once

#include <cstdint>
#include <string>

struct calibration;

constexpr const char* kCalibrationFile = "/media/private/calibration.cal";
// 128-byte header + 2422-byte record.
constexpr uint32_t kCalibrationFileSize = 2550;

// Writes the record to the calibration file: with stampDate its calibrationDate := now first;
// its checksum word is recomputed in the record. The file is replaced whole or not at all (a
// failed save leaves the previous file as it was). 0, or 19 when it cannot be written.
int CalibrationSave(calibration* record, bool stampDate);

// Fills record from the calibration file; the factory record when the file is missing, not
// exactly 2550 bytes, unreadable or fails its checksum. With factoryTrims: the factory record
// carrying the file's identity. Then, in every case, the vosBf2Fill fix-up. Never writes the
// file; reports nothing.
void CalibrationRecall(calibration* record, bool factoryTrims);
// The same; *refusal says why a calibration file that is there was refused (empty otherwise).
void CalibrationRecall(calibration* record, bool factoryTrims, std::string* refusal);

// Simulated board: adds the seeding step that writes an identity calibration matching the
// simulated ADC when a root is first seeded (never over an existing file). Call before
// seedBoardRoot(); does nothing in the board build.
void registerCalibrationSeed();
