#include "scpi/header.h"

#include "scpi/Arbre.h"

#include <cstring>

void scpi_init(indic* ind, short level)
{
    if (level < 0)
        level = 0;
    if (level > kScpiLevels)
        level = kScpiLevels;
    ind->count = level;
    for (int i = level; i < kScpiLevels; ++i)
        ind->suffix[i] = 1;
    ind->query = 0;
    ind->paramCount = 0;
    ind->postAction = 0;
}

void explode(lex* l, indic* ind)
{
    if (ind->count < 0 || ind->count >= kScpiLevels)
        return;
    int n = l->textLength;
    int start = n;
    while (start > 0 && l->text[start - 1] >= '0' && l->text[start - 1] <= '9')
        --start;
    if (start == n) {
        ind->suffix[ind->count] = 1;
        return;
    }
    // Saturated at 15 bits: "*CLS65537" must not wrap round to a valid suffix.
    int32_t value = 0;
    for (int i = start; i < n; ++i) {
        value = value * 10 + (l->text[i] - '0');
        if (value > kScpiSuffixMax)
            value = kScpiSuffixMax;
    }
    ind->suffix[ind->count] = static_cast<int16_t>(value);
    l->text[start] = 0;
    l->textLength = static_cast<int16_t>(start);
}

const entry* search(const node* n, const char* text, indic* ind)
{
    const size_t length = std::strlen(text);
    while (n) {
        for (int i = 0; i < n->entryCount; ++i) {
            const entry& e = n->entries[i];
            // The exact short form or the exact long form, nothing in between.
            if ((length == e.shortLength && std::strncmp(text, e.keyword, length) == 0) ||
                std::strcmp(text, e.keyword) == 0) {
                if (ind->count >= kScpiLevels)
                    return nullptr;
                ++ind->count;
                return &e;
            }
        }
        if (n->defaultEntry < 0)
            return nullptr;
        const entry& optional = n->entries[n->defaultEntry];
        if (!optional.child || ind->count + 1 >= kScpiLevels)
            return nullptr;
        // The optional level counts as present: the suffix just split off moves up a level.
        ind->suffix[ind->count + 1] = ind->suffix[ind->count];
        ind->suffix[ind->count] = 1;
        ++ind->count;
        n = optional.child;
    }
    return nullptr;
}

int tstind(const indic* ind, short from, short to)
{
    if (from < 0)
        from = 0;
    if (to >= kScpiLevels)
        to = kScpiLevels - 1;
    int count = 0;
    for (int i = from; i <= to; ++i)
        count += ind->suffix[i] != 1;
    return count;
}
