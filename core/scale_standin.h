// Hook of the vertical-scale stand-in (tests only).
#pragma once

// The value every GetVerticalScale call returns (1.0 unless a test changes it).
float& verticalScaleStandin();
