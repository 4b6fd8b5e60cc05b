// Status-line texts of a setting: label and value, or the cursor readings, for one parameter.
#pragma once

#include <QStringList>

#include <cstdint>

struct database;

// True when code has status-line texts; list is then emptied and filled (autosetRequest, and
// cursorState with its bit 0 clear, leave it empty). False leaves list untouched. GUI thread;
// cursor readings take o_g_autoMeasMutex, which the caller must not hold.
bool getSetupParam(database* db, int32_t code, QStringList* list);
