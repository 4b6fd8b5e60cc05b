// Stand-in until the calibration file exists: writes nothing and reports 19.
#include "core/calibfile.h"
#include "core/calibfile_standin.h"

TCalibFileStandin& calibFileStandin()
{
    static auto* s = new TCalibFileStandin();
    return *s;
}

void resetCalibFileStandin()
{
    calibFileStandin() = TCalibFileStandin();
}

int CalibrationSave(calibration* record, bool stampDate)
{
    calibFileStandin().saveStampDate.push_back(stampDate);
    calibFileStandin().saveRecords.push_back(record);
    return calibFileStandin().saveResult;
}
