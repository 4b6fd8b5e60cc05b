// Status cache of the remote-control client's web service: texts that only the screen composes
// (status line, pop-up message, meter and power boxes), published by the screen items in the GUI
// thread and copied out by the web-service thread. UTF-8 bytes after fixed substitutions; "+"
// stands for an empty value where the remote client expects one.
//
// Every setter, reset and getter holds one mutex, so a reader never copies a text being
// replaced. This library depends on Qt Core only: the user interface links it, and so does the
// web service.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <string>

// The texts of the power box. Named fields, so that no caller can swap reactive and apparent.
struct TPowerTexts {
    QString active;
    QString reactive;
    QString apparent;
    QString dpf;  // displacement power factor
    QString aux1;
    QString aux2;
};

struct TPowerBytes {
    std::string active;
    std::string reactive;
    std::string apparent;
    std::string dpf;
    std::string aux1;
    std::string aux2;
};

// The cache's variables; read and write them only through the functions below (they hold the
// lock). Empty at start. Heap texts that are never freed: the web-service thread may still read
// them while the process ends.
using TMeterTexts = std::array<std::string, 4>;
extern std::string& o_g_statusTrigger;
extern std::string& o_g_statusMisc1;
extern std::string& o_g_statusMisc2;
extern std::string& o_g_statusBattery;
extern std::string& o_g_statusWarning;
extern std::string& o_g_passfailCounter;
extern TMeterTexts& to_g_meterRange;
extern TMeterTexts& to_g_meterCoupling;
extern TMeterTexts& to_g_meterMainMeas;
extern TMeterTexts& to_g_meterAux1Meas;
extern TMeterTexts& to_g_meterAux2Meas;
extern std::string& o_g_activePower;
extern std::string& o_g_reactivePower;
extern std::string& o_g_apparentPower;
extern std::string& o_g_dpf;
extern std::string& o_g_aux1Meas;
extern std::string& o_g_aux2Meas;

// Trigger, misc 1, misc 2, battery and warning := "+"; the pass/fail counter keeps its text.
void initPelanodeStatus();
// A view goes: the texts only its screen composed (trigger or recording state, the two misc
// lists, the pass/fail counter) become "+", so that the next screen, or none, is not reported
// with them. Battery and warning stay. GUI thread.
void clearPelanodeViewStatus();

// "+" when empty; else in the edge field ("+", "-" or "+/-" between commas) "+" → tr("pos") and
// "-" → tr("neg"), then "," → "-", then the letters folded.
void setPelanodeTriggerStatus(QString text);
// Into the trigger slot: "+" when empty, else the text unchanged.
void setPelanodeLoggerStatus(QString text);
// "+" when empty, else the text unchanged.
void setPelanodePassfailCounter(QString text);
// tr("Batterie: ") + |level| + " %" [+ " - " + tr("en charge") while negative], folded.
void setPelanodeBattery(int16_t level);
// "+" when empty, else the text with its letters folded.
void setPelanodeWarning(QString text);
// Each list: "+" when empty, else every item (µ → "u", ° → "}", Ω → "{") followed by one blank.
void setPelanodeMisc(QStringList misc1, QStringList misc2);

// The six status texts as stored (an empty one stays empty).
void getPelanodeStatus(std::string& trigger, std::string& misc1, std::string& misc2,
                       std::string& battery, std::string& warning, std::string& passfailCounter);

// All 20 meter texts and the 6 power texts := "+".
void initPelanodeMeterMeas();
// The five texts of meter channel 0..3; any other channel stores nothing.
void setPelanodeMeterMeas(int16_t channel, QString range, QString coupling, QString mainMeas,
                          QString aux1, QString aux2);
// The five texts of channel 0..3, an empty one as "+"; any other channel gives "+" five times.
void getPelanodeMeterMeas(int16_t channel, std::string& range, std::string& coupling,
                          std::string& mainMeas, std::string& aux1, std::string& aux2);

// µ → "u" in all six, "é" → "e" in aux 1 and aux 2.
void setPelanodePowerMeas(TPowerTexts texts);
// The six power texts, an empty one as "+".
void getPelanodePowerMeas(TPowerBytes& texts);
