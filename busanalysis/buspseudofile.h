// The built-in bus files (descriptors, message files, icons), read as if they were files.
#pragma once

// One row of the table; the table ends with a row whose name is null.
struct TBusPseudoFile {
    const char* name;
    const unsigned char* data;
    int size;
};

// The rows in their fixed order; lookups by suffix take the first match, so the order decides
// between names that end alike.
extern const TBusPseudoFile busDataPage[];
const TBusPseudoFile* getBusDataPage();

// Looks name up by exact, case-sensitive comparison; 1 with *data and *size set to the file's
// constant bytes, else 0 with both left untouched (a null name too).
int getBusPseudoFileContent(const char* name, const unsigned char** data, int* size);

// The first row whose name ends with name (case counts), or null; an empty or null name
// matches none.
const TBusPseudoFile* findBusPseudoFileBySuffix(const char* name);
