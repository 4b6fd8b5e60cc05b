// Setup files, batch recall, start-up recall and shut-down.
#pragma once

// Saves the setup under name (in the private folder when inPrivate); a result code.
int SetupSave(const char* name, bool inPrivate, const char* comment);
