// Reference string-array functions of the host process.
//
// str2arr_quoted splits at any delimiter character; a double-quoted stretch
// keeps its delimiters and loses its quotes, so "a b",c gives {a b, c}.
// Empty elements are dropped.
#include "logbase_host.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split_quoted(const char *text, const char *delims) {
    std::vector<std::string> parts;
    std::string current;
    bool quoted = false;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (!quoted && std::strchr(delims, *p) != nullptr) {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

} // namespace

extern "C" char **str2arr_quoted(char *text, const char *delims) {
    if (text == nullptr || delims == nullptr) return nullptr;
    try {
        std::vector<std::string> parts = split_quoted(text, delims);
        auto **arr = static_cast<char **>(std::calloc(parts.size() + 1, sizeof(char *)));
        if (arr == nullptr) return nullptr;
        for (size_t i = 0; i < parts.size(); ++i) {
            arr[i] = strdup(parts[i].c_str());
            if (arr[i] == nullptr) {
                arr_free(arr);
                return nullptr;
            }
        }
        return arr;
    } catch (...) {
        return nullptr;
    }
}

extern "C" void arr_free(char **arr) {
    if (arr == nullptr) return;
    for (char **p = arr; *p != nullptr; ++p)
        std::free(*p);
    std::free(arr);
}

extern "C" char *trim_both(char *s, int len) {
    if (s == nullptr || len <= 0) {
        if (s != nullptr) *s = '\0';
        return s;
    }
    // A length beyond the element's terminator is taken as the element's end.
    int begin = 0;
    int end = static_cast<int>(strnlen(s, static_cast<size_t>(len)));
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t'))
        ++begin;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t'))
        --end;
    s[end] = '\0';
    return s + begin;
}
