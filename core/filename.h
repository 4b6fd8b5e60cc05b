// The one check of a file name taken from outside (remote commands, datagrams, screen keyboards,
// descriptor files) for bytes no stored name may hold.
#pragma once

#include <cstddef>

// True when the length bytes of name hold no NUL and no other control character (0x01-0x1F,
// 0x7F). A NUL inside would cut the name short, so that a check of the text before it and the
// file then written disagree; control characters make names that no listing shows faithfully.
bool fileNameIsClean(const char* name, size_t length);
// The same for a zero-terminated name (a NUL can only have cut it before).
bool fileNameIsClean(const char* name);
