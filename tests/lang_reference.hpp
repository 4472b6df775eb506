// A straightforward language-file loader that scans the whole table for every
// line, as the entry rule reads. Tests compare the library's indexed loader
// with it; the benchmark measures against it.
#pragma once

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "logbase.h"

namespace reference {

inline void table_set(attr_entry *table, int *count, const char *key, const char *value) {
    bool found = false;
    for (int i = 0; i < *count;) {
        if (strcasecmp(table[i].key, key) != 0) {
            ++i;
        } else if (!found) {
            found = true;
            snprintf(table[i].value, sizeof table[i].value, "%s", value);
            ++i;
        } else {
            memmove(&table[i], &table[i + 1], sizeof *table * (*count - i - 1));
            --*count;
        }
    }
    if (found || *count == LANG_TABLE_ENTRIES) return;
    snprintf(table[*count].key, sizeof table->key, "%s", key);
    snprintf(table[*count].value, sizeof table->value, "%s", value);
    ++*count;
}

inline int read_lang_table(const char *path, const char *section, attr_entry *table, int *count) {
    FILE *file = fopen(path, "r");
    if (file == nullptr) return -1;
    char line[3072];
    bool in_section = false;
    while (!in_section && fgets(line, sizeof line, file) != nullptr) {
        const char *colon = strchr(line, ':');
        in_section = std::string(line, colon ? colon - line : strlen(line)) == section;
    }
    if (!in_section) {
        fclose(file);
        return -1;
    }
    while (fgets(line, sizeof line, file) != nullptr) {
        size_t len = strlen(line);
        while (len > 1 && isspace(static_cast<unsigned char>(line[len - 1])))
            line[--len] = '\0';
        if (strchr(line, ':') && !strchr(line, '=')) break;
        std::string key = line, value;
        if (size_t eq = key.find('='); eq != std::string::npos) {
            size_t start = key.find_first_not_of('=', eq);
            if (start != std::string::npos) value = key.substr(start);
            key.resize(eq);
        }
        table_set(table, count, key.c_str(), value.c_str());
    }
    fclose(file);
    return 0;
}

} // namespace reference
