// Tokenizers for host programs: whole-string delimiters with heap-copied
// tokens (astrtok, astrtok_m) and a quote-aware in-place strtok_r.
#include <cstdlib>
#include <cstring>

#include "logbase.h"

namespace {

// The rest of `text` from *pos as a heap copy; NULL when *pos is outside the
// text, at its end, or the copy cannot be made.
char *copy_rest(const char *text, const int *pos) {
    if (*pos < 0) return nullptr;
    size_t length = std::strlen(text);
    if (static_cast<size_t>(*pos) >= length) return nullptr;
    return strndup(text + *pos, length - static_cast<size_t>(*pos));
}

// Length of the delimiter of `delims` that matches at `at` first in list
// order, or 0. Empty delimiters never match, so a token always advances.
size_t matching_delimiter(const char *at, const char *const *delims) {
    for (const char *const *d = delims; *d != nullptr; ++d) {
        size_t length = std::strlen(*d);
        if (length != 0 && std::strncmp(at, *d, length) == 0) return length;
    }
    return 0;
}

// Cuts `token` at `cut` and moves *pos past the token and `skip` more bytes.
char *finish_token(char *token, size_t cut, size_t skip, int *pos) {
    token[cut] = '\0';
    *pos += static_cast<int>(cut + skip);
    return token;
}

bool is_delimiter(char c, const char *delims) {
    return c != '\0' && std::strchr(delims, c) != nullptr;
}

// A token that opens with a double quote: the text up to the closing quote.
char *quoted_token(char *open, char **save) {
    char *start = open + 1;
    char *close = std::strchr(start, '"');
    if (close == nullptr) {
        *save = nullptr;
        return *start != '\0' ? start : nullptr;
    }
    *close = '\0';
    *save = close + 1;
    return start;
}

// A plain token: runs to the first delimiter outside a quoted section.
char *plain_token(char *start, const char *delims, char **save) {
    bool quoted = false;
    for (char *p = start; *p != '\0'; ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (!quoted && is_delimiter(*p, delims)) {
            *p = '\0';
            *save = p + 1;
            return start;
        }
    }
    *save = nullptr;
    return start;
}

} // namespace

extern "C" LOGBASE_API char *astrtok(const char *text, const char *delim, int *pos) {
    if (text == nullptr || delim == nullptr || pos == nullptr || *delim == '\0') return nullptr;
    char *token = copy_rest(text, pos);
    if (token == nullptr) return nullptr;
    const char *found = std::strstr(token, delim);
    size_t cut = found != nullptr ? static_cast<size_t>(found - token) : std::strlen(token);
    return finish_token(token, cut, found != nullptr ? std::strlen(delim) : 0, pos);
}

extern "C" LOGBASE_API char *astrtok_m(const char *text, const char **delims, int *pos) {
    if (text == nullptr || delims == nullptr || pos == nullptr) return nullptr;
    char *token = copy_rest(text, pos);
    if (token == nullptr) return nullptr;
    size_t i = 0;
    for (; token[i] != '\0'; ++i) {
        size_t length = matching_delimiter(token + i, delims);
        if (length != 0) return finish_token(token, i, length, pos);
    }
    return finish_token(token, i, 0, pos);
}

extern "C" LOGBASE_API char *quoted_strtok_r(char *text, const char *delims, char **save) {
    if (delims == nullptr || save == nullptr) return nullptr;
    char *p = text != nullptr ? text : *save;
    if (p == nullptr) return nullptr;
    while (is_delimiter(*p, delims))
        ++p;
    if (*p == '\0') {
        *save = nullptr;
        return nullptr;
    }
    return *p == '"' ? quoted_token(p, save) : plain_token(p, delims, save);
}
