// The command tree. Entries are in alphabetical order of the long form within each node; the
// node's default entry is the optional level of SCPI's square brackets. Nodes are defined
// leaves first, so every child exists before the entry that points to it.
#include "scpi/Arbre.h"

#include "scpi/fct.h"

namespace {

// ARM:SEQuence:FILTer:HPASs
constexpr entry eArmSequenceFilterHpass[] = {
    {1, 1, 4, 5, "state", &ArmFiltHpas, "a", nullptr},
};
constexpr node nArmSequenceFilterHpass = {1, eArmSequenceFilterHpass, 0};

// ARM:SEQuence:FILTer:LPASs
constexpr entry eArmSequenceFilterLpass[] = {
    {1, 1, 4, 5, "state", &ArmFiltLpas, "a", nullptr},
};
constexpr node nArmSequenceFilterLpass = {1, eArmSequenceFilterLpass, 0};

// ARM:SEQuence:FILTer
constexpr entry eArmSequenceFilter[] = {
    {1, 1, 4, 5, "hpass", &ArmFiltHpas, "a", &nArmSequenceFilterHpass},
    {1, 1, 4, 5, "lpass", &ArmFiltLpas, "a", &nArmSequenceFilterLpass},
};
constexpr node nArmSequenceFilter = {2, eArmSequenceFilter, -1};

// ARM:SEQuence
constexpr entry eArmSequence[] = {
    {1, 1, 4, 8, "coupling", &ArmCoup, "D", nullptr},
    {1, 0, 4, 6, "filter", nullptr, nullptr, &nArmSequenceFilter},
    {1, 1, 4, 10, "hysteresis", &ArmHyst, "b", nullptr},
    {1, 1, 3, 5, "level", &ArmLev, "d", nullptr},
    {1, 1, 4, 5, "slope", &ArmSlop, "G", nullptr},
    {1, 1, 4, 6, "source", &ArmSour, "Z", nullptr},
};
constexpr node nArmSequence = {6, eArmSequence, -1};

// ARM
constexpr entry eArm[] = {
    {1, 0, 3, 8, "sequence", nullptr, nullptr, &nArmSequence},
};
constexpr node nArm = {1, eArm, 0};

// AUTOSet
constexpr entry eAutoset[] = {
    {1, 0, 3, 7, "execute", &AutosExe, nullptr, nullptr},
};
constexpr node nAutoset = {1, eAutoset, -1};

// CALCulate:MATH:EXPRession
constexpr entry eCalculateMathExpression[] = {
    {1, 1, 3, 6, "define", &CalcMath, "f", nullptr},
    {1, 0, 3, 6, "delete", &CalcMathDel, nullptr, nullptr},
};
constexpr node nCalculateMathExpression = {2, eCalculateMathExpression, 0};

// CALCulate:MATH
constexpr entry eCalculateMath[] = {
    {1, 1, 4, 10, "expression", &CalcMath, "f", &nCalculateMathExpression},
};
constexpr node nCalculateMath = {1, eCalculateMath, 0};

// CALCulate:TRANsform:FREQuency
constexpr entry eCalculateTransformFrequency[] = {
    {1, 1, 4, 5, "state", &CalcTranFreq, "a", nullptr},
    {1, 1, 4, 6, "window", &CalcTranFreqWind, "I", nullptr},
};
constexpr node nCalculateTransformFrequency = {2, eCalculateTransformFrequency, 0};

// CALCulate:TRANsform
constexpr entry eCalculateTransform[] = {
    {1, 1, 4, 9, "frequency", &CalcTranFreq, "a", &nCalculateTransformFrequency},
};
constexpr node nCalculateTransform = {1, eCalculateTransform, -1};

// CALCulate
constexpr entry eCalculate[] = {
    {1, 1, 4, 4, "math", &CalcMath, "f", &nCalculateMath},
    {1, 0, 4, 9, "transform", nullptr, nullptr, &nCalculateTransform},
};
constexpr node nCalculate = {2, eCalculate, -1};

// DEVice
constexpr entry eDevice[] = {
    {1, 1, 3, 4, "mode", &DevMod, "Q", nullptr},
};
constexpr node nDevice = {1, eDevice, -1};

// DISPlay:WINDow:CURSor:TIME
constexpr entry eDisplayWindowCursorTime[] = {
    {1, 1, 3, 8, "position", &DispCursTimePos, "c", nullptr},
    {0, 1, 4, 9, "yposition", &DispCursTimeYpos, "c", nullptr},
};
constexpr node nDisplayWindowCursorTime = {2, eDisplayWindowCursorTime, -1};

// DISPlay:WINDow:CURSor:VOLT
constexpr entry eDisplayWindowCursorVolt[] = {
    {1, 1, 3, 8, "position", &DispCursVoltPos, "d", nullptr},
};
constexpr node nDisplayWindowCursorVolt = {1, eDisplayWindowCursorVolt, -1};

// DISPlay:WINDow:CURSor
constexpr entry eDisplayWindowCursor[] = {
    {1, 1, 3, 9, "reference", &DispCursRef, "M", nullptr},
    {1, 1, 4, 5, "state", &DispCursStat, "a", nullptr},
    {1, 0, 4, 4, "time", nullptr, nullptr, &nDisplayWindowCursorTime},
    {1, 0, 4, 4, "volt", nullptr, nullptr, &nDisplayWindowCursorVolt},
};
constexpr node nDisplayWindowCursor = {4, eDisplayWindowCursor, -1};

// DISPlay:WINDow:TRACe:X:SCALe
constexpr entry eDisplayWindowTraceXScale[] = {
    {1, 1, 4, 9, "pdivision", &DispTracXPdiv, "c", nullptr},
};
constexpr node nDisplayWindowTraceXScale = {1, eDisplayWindowTraceXScale, -1};

// DISPlay:WINDow:TRACe:X
constexpr entry eDisplayWindowTraceX[] = {
    {1, 0, 4, 5, "scale", nullptr, nullptr, &nDisplayWindowTraceXScale},
};
constexpr node nDisplayWindowTraceX = {1, eDisplayWindowTraceX, 0};

// DISPlay:WINDow:TRACe:XY
constexpr entry eDisplayWindowTraceXy[] = {
    {1, 1, 4, 7, "xdefine", &DispTracXYXdef, "M", nullptr},
    {1, 1, 4, 7, "ydefine", &DispTracXYYdef, "M", nullptr},
};
constexpr node nDisplayWindowTraceXy = {2, eDisplayWindowTraceXy, -1};

// DISPlay:WINDow:TRACe:Y:SCALe
constexpr entry eDisplayWindowTraceYScale[] = {
    {1, 1, 4, 9, "pdivision", &DispTracYPdiv, "m", nullptr},
};
constexpr node nDisplayWindowTraceYScale = {1, eDisplayWindowTraceYScale, -1};

// DISPlay:WINDow:TRACe:Y
constexpr entry eDisplayWindowTraceY[] = {
    {1, 1, 3, 5, "label", &DispTracYLab, "e", nullptr},
    {1, 0, 4, 5, "scale", nullptr, nullptr, &nDisplayWindowTraceYScale},
    {1, 1, 4, 7, "spacing", &DispTracYSpac, "J", nullptr},
};
constexpr node nDisplayWindowTraceY = {3, eDisplayWindowTraceY, 1};

// DISPlay:WINDow:TRACe
constexpr entry eDisplayWindowTrace[] = {
    {1, 1, 4, 6, "format", &DispTracForm, "K", nullptr},
    {1, 1, 4, 4, "mode", &DispTracMode, "L", nullptr},
    {1, 1, 4, 5, "state", &DispTracStat, "a", nullptr},
    {1, 0, 1, 1, "x", nullptr, nullptr, &nDisplayWindowTraceX},
    {1, 0, 2, 2, "xy", nullptr, nullptr, &nDisplayWindowTraceXy},
    {1, 0, 1, 1, "y", nullptr, nullptr, &nDisplayWindowTraceY},
};
constexpr node nDisplayWindowTrace = {6, eDisplayWindowTrace, -1};

// DISPlay:WINDow
constexpr entry eDisplayWindow[] = {
    {1, 0, 4, 6, "cursor", nullptr, nullptr, &nDisplayWindowCursor},
    {1, 0, 4, 5, "trace", nullptr, nullptr, &nDisplayWindowTrace},
};
constexpr node nDisplayWindow = {2, eDisplayWindow, -1};

// DISPlay
constexpr entry eDisplay[] = {
    {1, 0, 4, 10, "brightness", &DispBrig, "m", nullptr},
    {1, 0, 4, 6, "window", nullptr, nullptr, &nDisplayWindow},
};
constexpr node nDisplay = {2, eDisplay, 1};

// FORMat
constexpr entry eFormat[] = {
    {1, 1, 4, 4, "data", &Form, "P", nullptr},
    {1, 1, 4, 12, "dinterchange", &FormDint, "a", nullptr},
};
constexpr node nFormat = {2, eFormat, 0};

// HCOPy:SDUMp
constexpr entry eHcopySdump[] = {
    {1, 0, 3, 9, "immediate", &HcopSdum, "j", nullptr},
};
constexpr node nHcopySdump = {1, eHcopySdump, 0};

// HCOPy
constexpr entry eHcopy[] = {
    {1, 0, 4, 5, "sdump", &HcopSdum, "j", &nHcopySdump},
};
constexpr node nHcopy = {1, eHcopy, -1};

// INITiate:CONTinuous
constexpr entry eInitiateContinuous[] = {
    {1, 0, 4, 4, "name", &InitContName, "Ba", nullptr},
};
constexpr node nInitiateContinuous = {1, eInitiateContinuous, -1};

// INITiate:IMMediate
constexpr entry eInitiateImmediate[] = {
    {1, 0, 4, 4, "name", &InitName, "B", nullptr},
};
constexpr node nInitiateImmediate = {1, eInitiateImmediate, -1};

// INITiate
constexpr entry eInitiate[] = {
    {1, 0, 4, 10, "continuous", nullptr, nullptr, &nInitiateContinuous},
    {1, 0, 3, 9, "immediate", nullptr, nullptr, &nInitiateImmediate},
};
constexpr node nInitiate = {2, eInitiate, 1};

// INPut:DMM:BANDwidth
constexpr entry eInputDmmBandwidth[] = {
    {1, 1, 3, 10, "resolution", &InpDmmBandRes, "h", nullptr},
};
constexpr node nInputDmmBandwidth = {1, eInputDmmBandwidth, -1};

// INPut:DMM
constexpr entry eInputDmm[] = {
    {1, 0, 4, 9, "bandwidth", nullptr, nullptr, &nInputDmmBandwidth},
    {1, 1, 4, 8, "coupling", &InpDmmCoup, "X", nullptr},
};
constexpr node nInputDmm = {2, eInputDmm, -1};

// INPut
constexpr entry eInput[] = {
    {1, 1, 4, 8, "coupling", &InpCoup, "C", nullptr},
    {1, 0, 3, 3, "dmm", nullptr, nullptr, &nInputDmm},
};
constexpr node nInput = {2, eInput, -1};

// MEASure:CURSor
constexpr entry eMeasureCursor[] = {
    {0, 1, 5, 5, "dtime", &MeasCursDtime, nullptr, nullptr},
    {0, 1, 5, 5, "dvolt", &MeasCursDvolt, nullptr, nullptr},
};
constexpr node nMeasureCursor = {2, eMeasureCursor, -1};

// MEASure:FALL
constexpr entry eMeasureFall[] = {
    {0, 1, 4, 9, "overshoot", &MeasFallOver, "M", nullptr},
    {0, 1, 4, 4, "time", &MeasFallTime, "M", nullptr},
};
constexpr node nMeasureFall = {2, eMeasureFall, -1};

// MEASure:MANual
constexpr entry eMeasureManual[] = {
    {0, 1, 4, 5, "phase", &MeasManPhas, nullptr, nullptr},
};
constexpr node nMeasureManual = {1, eMeasureManual, -1};

// MEASure:PULse
constexpr entry eMeasurePulse[] = {
    {0, 1, 4, 5, "count", &MeasPulCoun, "M", nullptr},
};
constexpr node nMeasurePulse = {1, eMeasurePulse, -1};

// MEASure:RISE
constexpr entry eMeasureRise[] = {
    {0, 1, 4, 9, "overshoot", &MeasRiseOver, "M", nullptr},
    {0, 1, 4, 4, "time", &MeasRiseTime, "M", nullptr},
};
constexpr node nMeasureRise = {2, eMeasureRise, -1};

// MEASure:VOLT
constexpr entry eMeasureVolt[] = {
    {0, 1, 2, 2, "dc", &MeasVolt, "M", nullptr},
};
constexpr node nMeasureVolt = {1, eMeasureVolt, 0};

// MEASure
constexpr entry eMeasure[] = {
    {0, 1, 2, 2, "ac", &MeasAc, "M^", nullptr},
    {0, 1, 4, 9, "amplitude", &MeasAmpl, "M", nullptr},
    {1, 0, 4, 6, "cursor", nullptr, nullptr, &nMeasureCursor},
    {0, 1, 3, 3, "dmm", &MeasDmm, "M", nullptr},
    {1, 0, 4, 4, "fall", nullptr, nullptr, &nMeasureFall},
    {0, 1, 4, 9, "frequency", &MeasFreq, "M", nullptr},
    {0, 1, 5, 5, "ftime", &MeasFallTime, "M", nullptr},
    {0, 1, 4, 4, "high", &MeasHigh, "M", nullptr},
    {0, 1, 3, 3, "low", &MeasLow, "M", nullptr},
    {1, 0, 3, 6, "manual", nullptr, nullptr, &nMeasureManual},
    {0, 1, 3, 7, "maximum", &MeasMax, "M", nullptr},
    {0, 1, 3, 7, "minimum", &MeasMin, "M", nullptr},
    {0, 1, 4, 6, "nwidth", &MeasNwid, "M", nullptr},
    {0, 1, 4, 10, "pdutycycle", &MeasPdut, "M", nullptr},
    {0, 1, 3, 6, "period", &MeasPer, "M", nullptr},
    {0, 1, 3, 6, "ptpeak", &MeasPtp, "M", nullptr},
    {1, 0, 3, 5, "pulse", nullptr, nullptr, &nMeasurePulse},
    {0, 1, 4, 6, "pwidth", &MeasPwid, "M", nullptr},
    {1, 0, 4, 4, "rise", nullptr, nullptr, &nMeasureRise},
    {0, 1, 5, 5, "rtime", &MeasRiseTime, "M", nullptr},
    {0, 1, 3, 3, "sum", &MeasSum, "M", nullptr},
    {0, 1, 4, 4, "volt", &MeasVolt, "M", &nMeasureVolt},
};
constexpr node nMeasure = {22, eMeasure, -1};

// MMEMory:LOAD
constexpr entry eMmemoryLoad[] = {
    {1, 0, 4, 5, "macro", &MmemLoadMacr, "Me[", nullptr},
    {1, 0, 4, 5, "state", &MmemLoadStat, "e[", nullptr},
    {1, 0, 4, 5, "trace", &MmemLoadTrac, "e[", nullptr},
};
constexpr node nMmemoryLoad = {3, eMmemoryLoad, -1};

// MMEMory:STORe
constexpr entry eMmemoryStore[] = {
    {1, 0, 4, 5, "macro", &MmemStorMacr, "Me[", nullptr},
    {1, 0, 4, 5, "state", &MmemStorStat, "e[", nullptr},
    {1, 0, 4, 5, "trace", &MmemStorTrac, "e[", nullptr},
};
constexpr node nMmemoryStore = {3, eMmemoryStore, -1};

// MMEMory
constexpr entry eMmemory[] = {
    {0, 1, 3, 7, "catalog", &MmemCat, "[", nullptr},
    {1, 1, 4, 10, "cdirectory", &MmemCdir, "e", nullptr},
    {1, 1, 4, 4, "data", &MmemData, "eg", nullptr},
    {1, 0, 3, 6, "delete", &MmemDel, "e[", nullptr},
    {1, 0, 4, 4, "load", nullptr, nullptr, &nMmemoryLoad},
    {1, 1, 4, 4, "msis", &MmemMsis, "[", nullptr},
    {1, 0, 4, 5, "store", nullptr, nullptr, &nMmemoryStore},
};
constexpr node nMmemory = {7, eMmemory, -1};

// PASSFAIL:COUNT
constexpr entry ePassfailCount[] = {
    {0, 1, 3, 3, "all", &PassfailCountAll, nullptr, nullptr},
    {0, 1, 4, 4, "fail", &PassfailCountFail, nullptr, nullptr},
    {0, 1, 4, 4, "pass", &PassfailCountPass, nullptr, nullptr},
};
constexpr node nPassfailCount = {3, ePassfailCount, -1};

// PASSFAIL
constexpr entry ePassfail[] = {
    {1, 1, 4, 4, "beep", &PassfailBeep, "a", nullptr},
    {1, 1, 4, 7, "control", &PassfailCont, "a", nullptr},
    {1, 0, 4, 5, "count", nullptr, nullptr, &nPassfailCount},
    {1, 1, 4, 7, "display", &PassfailDisp, "_", nullptr},
    {1, 0, 4, 4, "load", &PassfailLoad, "e[", nullptr},
    {1, 0, 4, 4, "save", &PassfailSave, "e[", nullptr},
    {1, 1, 6, 6, "source", &PassfailSource, "F", nullptr},
    {1, 1, 5, 5, "state", &PassfailState, "a", nullptr},
    {1, 1, 5, 5, "xmask", &PassfailXmask, "m", nullptr},
    {1, 1, 5, 5, "ymask", &PassfailYmask, "m", nullptr},
};
constexpr node nPassfail = {10, ePassfail, -1};

// SENSe:AVERage
constexpr entry eSenseAverage[] = {
    {1, 1, 4, 5, "count", &AverCoun, "b", nullptr},
    {1, 1, 4, 5, "state", &Aver, "a", nullptr},
    {1, 1, 4, 4, "type", &AverType, "H", nullptr},
};
constexpr node nSenseAverage = {3, eSenseAverage, 1};

// SENSe:BANDwidth:RESolution
constexpr entry eSenseBandwidthResolution[] = {
    {1, 1, 3, 10, "resolution", &BandRes, "h", nullptr},
};
constexpr node nSenseBandwidthResolution = {1, eSenseBandwidthResolution, 0};

// SENSe:BANDwidth
constexpr entry eSenseBandwidth[] = {
    {1, 1, 3, 10, "resolution", &BandRes, "h", &nSenseBandwidthResolution},
};
constexpr node nSenseBandwidth = {1, eSenseBandwidth, 0};

// SENSe:RANGe
constexpr entry eSenseRange[] = {
    {1, 1, 4, 4, "auto", &SensRangAuto, "a", nullptr},
    {1, 1, 4, 4, "capa", &SensRangCapa, "n", nullptr},
    {1, 1, 3, 3, "ohm", &SensRangOhm, "o", nullptr},
    {1, 1, 4, 4, "volt", &SensRangVolt, "d", nullptr},
};
constexpr node nSenseRange = {4, eSenseRange, -1};

// SENSe:SWEep:OFFSet
constexpr entry eSenseSweepOffset[] = {
    {1, 1, 4, 4, "time", &SensSweOffsTime, "c", nullptr},
};
constexpr node nSenseSweepOffset = {1, eSenseSweepOffset, -1};

// SENSe:SWEep
constexpr entry eSenseSweep[] = {
    {1, 0, 4, 6, "offset", nullptr, nullptr, &nSenseSweepOffset},
};
constexpr node nSenseSweep = {1, eSenseSweep, -1};

// SENSe:VOLTage:DC:RANGe
constexpr entry eSenseVoltageDcRange[] = {
    {1, 1, 4, 6, "offset", &VoltRangOffs, "d", nullptr},
    {1, 1, 3, 6, "ptpeak", &VoltRangPtp, "d", nullptr},
};
constexpr node nSenseVoltageDcRange = {2, eSenseVoltageDcRange, -1};

// SENSe:VOLTage:DC
constexpr entry eSenseVoltageDc[] = {
    {1, 0, 4, 5, "range", nullptr, nullptr, &nSenseVoltageDcRange},
};
constexpr node nSenseVoltageDc = {1, eSenseVoltageDc, -1};

// SENSe:VOLTage
constexpr entry eSenseVoltage[] = {
    {1, 0, 2, 2, "dc", nullptr, nullptr, &nSenseVoltageDc},
};
constexpr node nSenseVoltage = {1, eSenseVoltage, 0};

// SENSe
constexpr entry eSense[] = {
    {1, 1, 4, 7, "average", &Aver, "a", &nSenseAverage},
    {1, 1, 4, 9, "bandwidth", &BandRes, "h", &nSenseBandwidth},
    {1, 1, 4, 8, "function", &SensFunc, "W", nullptr},
    {1, 0, 4, 5, "range", nullptr, nullptr, &nSenseRange},
    {1, 0, 3, 5, "sweep", nullptr, nullptr, &nSenseSweep},
    {1, 0, 4, 7, "voltage", nullptr, nullptr, &nSenseVoltage},
};
constexpr node nSense = {6, eSense, -1};

// SYSTem:COMMunicate:SOCKet
constexpr entry eSystemCommunicateSocket[] = {
    {1, 1, 4, 7, "address", &SystCommSockAddr, "e", nullptr},
    {1, 0, 4, 4, "wifi", &SystCommSockWifi, "eee", nullptr},
};
constexpr node nSystemCommunicateSocket = {2, eSystemCommunicateSocket, -1};

// SYSTem:COMMunicate
constexpr entry eSystemCommunicate[] = {
    {1, 0, 4, 6, "socket", nullptr, nullptr, &nSystemCommunicateSocket},
};
constexpr node nSystemCommunicate = {1, eSystemCommunicate, -1};

// SYSTem:ERRor
constexpr entry eSystemError[] = {
    {0, 1, 4, 4, "next", &SystErr, nullptr, nullptr},
};
constexpr node nSystemError = {1, eSystemError, 0};

// SYSTem
constexpr entry eSystem[] = {
    {1, 0, 4, 11, "communicate", nullptr, nullptr, &nSystemCommunicate},
    {1, 1, 4, 4, "date", &SystDate, "bbb", nullptr},
    {0, 1, 3, 5, "error", &SystErr, nullptr, &nSystemError},
    {1, 1, 5, 5, "klock", &SystKlock, "a", nullptr},
    {1, 1, 3, 3, "set", &SystSet, "g", nullptr},
    {1, 1, 4, 4, "time", &SystTime, "bbb", nullptr},
};
constexpr node nSystem = {6, eSystem, -1};

// TRACe
constexpr entry eTrace[] = {
    {0, 1, 3, 7, "catalog", &TracCat, nullptr, nullptr},
    {0, 1, 4, 4, "data", &Trac, "T", nullptr},
    {1, 1, 3, 5, "limit", &TracLim, "bbb", nullptr},
};
constexpr node nTrace = {3, eTrace, 1};

// TRIGger:SEQuence:ATRIGger
constexpr entry eTriggerSequenceAtrigger[] = {
    {1, 1, 4, 5, "state", &TrigAtrig, "a", nullptr},
};
constexpr node nTriggerSequenceAtrigger = {1, eTriggerSequenceAtrigger, 0};

// TRIGger:SEQuence:FILTer:HPASs
constexpr entry eTriggerSequenceFilterHpass[] = {
    {1, 1, 4, 5, "state", &TrigFiltHpas, "a", nullptr},
};
constexpr node nTriggerSequenceFilterHpass = {1, eTriggerSequenceFilterHpass, 0};

// TRIGger:SEQuence:FILTer:LPASs
constexpr entry eTriggerSequenceFilterLpass[] = {
    {1, 1, 4, 5, "state", &TrigFiltLpas, "a", nullptr},
};
constexpr node nTriggerSequenceFilterLpass = {1, eTriggerSequenceFilterLpass, 0};

// TRIGger:SEQuence:FILTer
constexpr entry eTriggerSequenceFilter[] = {
    {1, 1, 4, 5, "hpass", &TrigFiltHpas, "a", &nTriggerSequenceFilterHpass},
    {1, 1, 4, 5, "lpass", &TrigFiltLpas, "a", &nTriggerSequenceFilterLpass},
};
constexpr node nTriggerSequenceFilter = {2, eTriggerSequenceFilter, -1};

// TRIGger:SEQuence:RUN
constexpr entry eTriggerSequenceRun[] = {
    {1, 1, 4, 5, "state", &TrigRunStat, "a", nullptr},
};
constexpr node nTriggerSequenceRun = {1, eTriggerSequenceRun, -1};

// TRIGger:SEQuence
constexpr entry eTriggerSequence[] = {
    {1, 1, 5, 8, "atrigger", &TrigAtrig, "a", &nTriggerSequenceAtrigger},
    {1, 1, 4, 8, "coupling", &TrigCoup, "D", nullptr},
    {0, 1, 3, 6, "define", &TrigDef, nullptr, nullptr},
    {1, 1, 3, 5, "delay", &TrigDel, "c", nullptr},
    {1, 1, 4, 9, "deldpulse", &TrigDeld, "c", nullptr},
    {1, 1, 3, 6, "ecount", &TrigEco, "b", nullptr},
    {1, 0, 4, 6, "filter", nullptr, nullptr, &nTriggerSequenceFilter},
    {1, 1, 4, 7, "holdoff", &TrigHold, "c", nullptr},
    {1, 1, 4, 10, "hysteresis", &TrigHyst, "b", nullptr},
    {1, 1, 3, 5, "level", &TrigLev, "d", nullptr},
    {1, 0, 3, 3, "run", nullptr, nullptr, &nTriggerSequenceRun},
    {1, 1, 4, 5, "slope", &TrigSlop, "G", nullptr},
    {1, 1, 4, 6, "source", &TrigSour, "F", nullptr},
    {1, 1, 3, 4, "type", &TrigTyp, "Y", nullptr},
};
constexpr node nTriggerSequence = {14, eTriggerSequence, -1};

// TRIGger
constexpr entry eTrigger[] = {
    {1, 0, 3, 8, "sequence", nullptr, nullptr, &nTriggerSequence},
};
constexpr node nTrigger = {1, eTrigger, 0};

// ZC:CALibration
constexpr entry eZcCalibration[] = {
    {1, 0, 4, 7, "acqsize", &ZcCalAcqs, nullptr, nullptr},
    {1, 1, 2, 2, "bw", &ZcCalBw, "b", nullptr},
    {1, 0, 3, 3, "cat", &ZcCalCat, "bb", nullptr},
    {1, 0, 3, 3, "cdc", &ZcCalCdc, nullptr, nullptr},
    {1, 0, 7, 7, "cortemp", &ZcCalCorTemp, "b", nullptr},
    {1, 0, 3, 3, "dmm", &ZcCalDmm, "mmmmm", nullptr},
    {1, 0, 5, 5, "flash", &ZcCalFlash, nullptr, nullptr},
    {1, 0, 5, 8, "identify", &ZcCalIdent, "ee", nullptr},
    {1, 0, 4, 6, "igamme", &ZcCalIGamme, nullptr, nullptr},
    {1, 0, 4, 4, "init", &ZcCalInit, nullptr, nullptr},
    {1, 1, 4, 4, "list", &ZcCalList, "g", nullptr},
    {1, 0, 3, 3, "lvl", &ZcCalLvl, nullptr, nullptr},
    {0, 1, 3, 6, "matrix", &ZcCalMat, nullptr, nullptr},
    {1, 0, 3, 3, "pip", &ZcCalPip, "b", nullptr},
    {1, 1, 4, 7, "snumber", &ZcCalSnum, "e", nullptr},
    {0, 1, 3, 3, "tst", &ZcCalTst, nullptr, nullptr},
    {1, 0, 2, 2, "vn", &ZcCalVn, nullptr, nullptr},
    {1, 0, 3, 3, "vos", &ZcCalVos, nullptr, nullptr},
    {1, 0, 2, 2, "vp", &ZcCalVp, nullptr, nullptr},
};
constexpr node nZcCalibration = {19, eZcCalibration, -1};

// ZC
constexpr entry eZc[] = {
    {1, 0, 3, 11, "calibration", nullptr, nullptr, &nZcCalibration},
    {0, 1, 4, 4, "http", &ZcHttp, "e", nullptr},
};
constexpr node nZc = {2, eZc, -1};

// root
constexpr entry eRoot[] = {
    {1, 0, 4, 4, "*cls", &Cls, nullptr, nullptr},
    {1, 1, 4, 4, "*ese", &Ese, "b", nullptr},
    {0, 1, 4, 4, "*esr", &Esr, nullptr, nullptr},
    {0, 1, 4, 4, "*idn", &Idn, nullptr, nullptr},
    {1, 1, 4, 4, "*opc", &Opc, nullptr, nullptr},
    {1, 0, 4, 4, "*rst", &Rst, nullptr, nullptr},
    {1, 1, 4, 4, "*sre", &Sre, "b", nullptr},
    {0, 1, 4, 4, "*stb", &Stb, nullptr, nullptr},
    {1, 0, 4, 4, "*trg", &Trg, nullptr, nullptr},
    {0, 1, 4, 4, "*tst", &Tst, nullptr, nullptr},
    {1, 0, 4, 4, "*wai", &Wai, nullptr, nullptr},
    {1, 0, 4, 5, "abort", &Abor, nullptr, nullptr},
    {1, 0, 3, 3, "arm", nullptr, nullptr, &nArm},
    {1, 0, 5, 7, "autoset", nullptr, nullptr, &nAutoset},
    {1, 0, 4, 9, "calculate", nullptr, nullptr, &nCalculate},
    {1, 0, 3, 6, "device", nullptr, nullptr, &nDevice},
    {1, 0, 4, 7, "display", nullptr, nullptr, &nDisplay},
    {1, 1, 4, 6, "format", &Form, "P", &nFormat},
    {1, 0, 4, 5, "hcopy", nullptr, nullptr, &nHcopy},
    {1, 1, 4, 4, "help", &Help, "R", nullptr},
    {1, 0, 4, 8, "initiate", nullptr, nullptr, &nInitiate},
    {1, 0, 3, 5, "input", nullptr, nullptr, &nInput},
    {1, 0, 4, 7, "measure", nullptr, nullptr, &nMeasure},
    {1, 0, 4, 7, "mmemory", nullptr, nullptr, &nMmemory},
    {1, 0, 8, 8, "passfail", nullptr, nullptr, &nPassfail},
    {1, 0, 4, 5, "sense", nullptr, nullptr, &nSense},
    {1, 0, 4, 6, "system", nullptr, nullptr, &nSystem},
    {0, 1, 4, 5, "trace", &Trac, "T", &nTrace},
    {1, 0, 4, 7, "trigger", nullptr, nullptr, &nTrigger},
    {1, 0, 2, 2, "zc", nullptr, nullptr, &nZc},
};
constexpr node nRoot = {30, eRoot, 25};

} // namespace

const node* tree()
{
    return &nRoot;
}
