// The built-in syntax summary that HELP answers with, and the name buffer of HCOPy:SDUMp.
#pragma once

#include <cstddef>

constexpr int kScpiHelpKeywords = 19;
// The list of top-level keywords: 500 characters, lines ended by "\n\r".
extern const char SCPIDirectoryList[];
// The command forms of each keyword of the HELP mnemonic table, in the table's order.
extern const char* const SCPICommandList[kScpiHelpKeywords];

// The name of the last HCOPy:SDUMp, at most 32 characters; its address travels in the request.
constexpr size_t kHardcopyNameMax = 32;
extern char tc_g_hardcopyName[kHardcopyNameMax + 1];
