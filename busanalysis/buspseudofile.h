// The built-in bus descriptor files, read by the XML reader as if they were files.
#pragma once

// Looks name up by exact comparison; 1 with *data and *size set to the file's constant bytes,
// else 0 with both left untouched.
int getBusPseudoFileContent(const char* name, const unsigned char** data, int* size);
