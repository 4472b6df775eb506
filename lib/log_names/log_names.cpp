// Log file names (current and numbered files of each log type), file sizes,
// and in-place rewriting of one key's value in a log line.
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

#include "guards.hpp"
#include "bounded_text.hpp"
#include "logbase.h"

namespace {

// Log category by type letter, for 'a' to 't'.
constexpr std::array<int, 20> kTypeByLetter = [] {
    std::array<int, 20> table{}; // LOG_CAT_NONE
    table['a' - 'a'] = LOG_CAT_ATTACK;
    table['e' - 'a'] = LOG_CAT_EVENT;
    table['t' - 'a'] = LOG_CAT_TRAFFIC;
    return table;
}();

// Index and binary companions share the log file's prefix but are not logs.
bool names_companion_file(const char *name) {
    return std::strstr(name, ".index") != nullptr || std::strstr(name, ".bin") != nullptr;
}

void store_match(char letter, unsigned int number, char *type_out, unsigned int *num_out) {
    if (type_out != nullptr) *type_out = letter;
    if (num_out != nullptr) *num_out = number;
}

// The value after `tag`: from `start` to the first blank or terminating zero,
// looking no further than `limit`; nullptr when the line has no end there.
const char *value_end(const char *start, const char *limit) {
    const char *p = start;
    while (p < limit && *p != '\0' && *p != ' ')
        ++p;
    return p < limit ? p : nullptr;
}

} // namespace

extern "C" {

LOGBASE_API int64_t file_size(const char *path) {
    struct stat st {};
    if (path == nullptr || stat(path, &st) != 0) return -1;
    return st.st_size;
}

LOGBASE_API int match_logfname(const char *name, char *type_out, unsigned int *num_out) {
    if (name == nullptr || names_companion_file(name)) return 0;
    char letter[2] = {};
    unsigned int number = 0;
    int consumed = -1;
    if (std::sscanf(name, "%1[aestvwicshgbxph]log.%u.log%n", letter, &number, &consumed) == 2 &&
        consumed > 0 && static_cast<int>(number) > 0) {
        store_match(letter[0], number, type_out, num_out);
        return 1;
    }
    consumed = -1;
    if (std::sscanf(name, "%1[aestvwicshgbxph]log.log%n", letter, &consumed) == 1 && consumed > 0) {
        store_match(letter[0], 0, type_out, num_out);
        return 1;
    }
    return 0;
}

LOGBASE_API int get_log_type_by_filename(const char *name) {
    if (name == nullptr || std::strlen(name) < 8) return LOG_CAT_NONE;
    unsigned char letter = static_cast<unsigned char>(name[0]);
    if (letter < 'a' || letter > 't') return LOG_CAT_NONE;
    return kTypeByLetter[letter - 'a'];
}

LOGBASE_API int log_line_replace_tag(char *line, int size, char *end, const char *tag, int tag_len,
                                     const char *value, int value_len, char **new_end) {
    if (line == nullptr || end == nullptr || tag == nullptr || value == nullptr ||
        new_end == nullptr || size <= 0 || value_len < 0 || tag_len < 0 ||
        static_cast<size_t>(tag_len) > std::strlen(tag))
        return LOG_TAG_ERR_FIT;
    // The search stays inside the buffer even if the line lacks its zero.
    std::string_view text(line, lb::length_bounded(line, static_cast<size_t>(size)));
    size_t found = text.find(tag);
    if (found == std::string_view::npos) return LOG_TAG_ABSENT;

    char *val = line + found + tag_len;
    const char *val_end = value_end(val, line + size);
    if (val_end == nullptr || val_end > end) return LOG_TAG_ERR_FIT;
    auto current_len = static_cast<int64_t>(val_end - val);
    int64_t new_len = (end - line) - current_len + value_len;
    // Refused when the zero byte would no longer fit, rather than dropping
    // the line's last character.
    if (new_len >= size) return LOG_TAG_ERR_FIT;
    if (current_len == value_len && std::memcmp(val, value, current_len) == 0)
        return LOG_TAG_UNCHANGED;

    auto scratch = lb::malloc_array<char>(static_cast<size_t>(size));
    if (!scratch) return LOG_TAG_ERR_FIT;
    int formatted = std::snprintf(scratch.get(), static_cast<size_t>(size), "%.*s%s", value_len,
                                  value, val_end);
    if (formatted < 0) return LOG_TAG_ERR_FIT;
    *val = '\0';
    lb::append_bounded(val, static_cast<size_t>(size - (val - line)), scratch.get());
    *new_end = val + formatted;
    return LOG_TAG_REPLACED;
}

} // extern "C"
