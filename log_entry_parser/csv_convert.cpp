// CSV conversion: the parser in comma mode turns each line's separators into
// commas, then four quoted items become whole double-quoted CSV fields.
#include <cstring>
#include <string_view>

#include "internal/text.hpp"
#include "logbase.h"

namespace {

// Each pattern is replaced in place by the same bytes with its final double
// quote moved to the front: key="value" becomes "key=value".
constexpr std::string_view kQuotedFieldPatterns[] = {
    "timezone=\"",
    "ml_svm_accuracy=\"",
    "ml_svm_log_match_types=\"",
    "ml_allow_method=\"",
};

void move_quote_in_front(char *text, size_t len, std::string_view pattern) {
    auto *match = static_cast<char *>(memmem(text, len, pattern.data(), pattern.size()));
    if (match == nullptr) return;
    std::memmove(match + 1, match, pattern.size() - 1);
    match[0] = '"';
}

} // namespace

extern "C" {

// Works on the line itself rather than a fixed scratch copy, so lines of any
// length are rewritten; as in a NUL-terminated copy, the search stops at the
// line's first NUL.
LOGBASE_API void convert_csv_log_special_character(char *line, int len) {
    if (line == nullptr || len <= 0) return;
    const size_t text_len = lb::length_bounded(line, static_cast<size_t>(len));
    for (std::string_view pattern : kQuotedFieldPatterns)
        move_quote_in_front(line, text_len, pattern);
}

LOGBASE_API int convert_csv_log(int cat, char *buf, int len) {
    const entry_desc *table = _get_ed_by_cat(cat);
    if (table == nullptr) return KV_ERR_CATEGORY;
    if (buf == nullptr) return KV_ERR_CATEGORY;
    kv_parse_ctx ctx{table, 0, 1, 0};
    kv_entries scratch;
    int prefix_len = 0;
    scan_ver(buf, len, &prefix_len, &ctx.version);
    char *cursor = buf;
    int remaining = len;
    while (remaining > 0) {
        if (remaining <= prefix_len) return KV_ERR_KEY;
        char *line = cursor + prefix_len;
        const int parsed = _parse_log_kv_pair(0, 128, line, remaining - prefix_len, &scratch, &ctx);
        if (parsed < 1) return parsed;
        convert_csv_log_special_character(line, parsed);
        cursor = line + parsed;
        remaining -= prefix_len + parsed;
    }
    return 0;
}

} // extern "C"
