#include "reference_parser.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace reference {

int parse_log_kv_pair(int row_index, int depth, char *start, int len, kv_entries *entries,
                      kv_parse_ctx *ctx, Budget &budget) {
    if ((budget.exhausted = --budget.steps_left < 0)) return -4;
    const int p = KV_MAX_ITEMS - depth;
    if (p >= KV_MAX_ITEMS) return -4;
    const entry_desc &row = ctx->table[row_index];
    char *end = start + len;
    if (row.name == nullptr || len < row.name_len || std::memcmp(start, row.name, row.name_len))
        return -3;
    char *equals = start + row.name_len;
    if (*equals != '=') return -5;
    if (equals == end) return -4;
    kv_entry &slot = entries->entries[p];
    slot = {row.name, row.name_len, equals + 1, 0};
    char *scan = equals + 1;
    if (row.quoted) {
        if (scan == end) return -4;
        if (*scan != '"') return -6;
        ++scan;
    }
    // The value runs to `value_end`; a quoted one loses its quotes.
    const auto take = [&](char *value_end) {
        slot.val_len = std::max(0, static_cast<int>(value_end - slot.val));
        if (row.quoted && slot.val_len > 1) {
            slot.val += 1;
            slot.val_len -= 2;
        }
    };
    const auto ends_line_at = [&](const char *s) {
        return *s == '\n' && s[-1] == ' ' && (!row.quoted || s[-2] == '"');
    };
    const int next = row.next_row[ctx->version];
    if (next == 0) {
        char *t = nullptr;
        for (char *s = scan; s < end && t == nullptr; ++s)
            if (ends_line_at(s)) t = s;
        if (t == nullptr && *end == '\n') t = end;
        if (t == nullptr) return -4;
        ctx->last_pos = p;
        take(t - 1);
        return static_cast<int>(t + 1 - start);
    }
    if (scan >= end) return -4;
    for (char *s = scan;; ++s) {
        if (*s == ' ' && (!row.quoted || s[-1] == '"')) {
            const int r = parse_log_kv_pair(next, depth - 1, s + 1, static_cast<int>(end - (s + 1)),
                                            entries, ctx, budget);
            if (r > 0) {
                if (ctx->csv) *s = ',';
                take(s);
                return static_cast<int>(s + 1 - start) + r;
            }
        }
        if (ctx->version == 0 && p > 24 && ends_line_at(s)) {
            ctx->last_pos = p;
            take(s - 1);
            return static_cast<int>(s + 1 - start);
        }
        if (s + 1 >= end) return -4;
    }
}

int parse_disk_log_entry(int cat, const char *line, int len, kv_entries *entries, Budget &budget) {
    kv_parse_ctx ctx{_get_ed_by_cat(cat), 0, 0, 0};
    if (ctx.table == nullptr) return -1;
    int prefix_len = 0;
    scan_ver(line, len, &prefix_len, &ctx.version);
    if (len - prefix_len < 1) return -2;
    const int r = parse_log_kv_pair(0, KV_MAX_ITEMS, const_cast<char *>(line) + prefix_len,
                                    len - prefix_len, entries, &ctx, budget);
    if (r < 1) return r;
    entries->count = ctx.last_pos + 1;
    return r + prefix_len;
}

int convert_csv_log(int cat, char *buf, int len, Budget &budget) {
    kv_parse_ctx ctx{_get_ed_by_cat(cat), 0, 1, 0};
    if (ctx.table == nullptr) return -1;
    kv_entries scratch;
    int prefix_len = 0;
    scan_ver(buf, len, &prefix_len, &ctx.version);
    for (char *cursor = buf; cursor < buf + len;) {
        if (buf + len - cursor <= prefix_len) return -3;
        char *line = cursor + prefix_len;
        const int r = parse_log_kv_pair(0, KV_MAX_ITEMS, line, static_cast<int>(buf + len - line),
                                        &scratch, &ctx, budget);
        if (r < 1) return r;
        move_quotes(line, r);
        cursor = line + r;
    }
    return 0;
}

void move_quotes(char *line, size_t len) {
    const std::string_view text(line, std::find(line, line + len, '\0') - line);
    for (std::string_view pattern :
         {"timezone=\"", "ml_svm_accuracy=\"", "ml_svm_log_match_types=\"", "ml_allow_method=\""}) {
        const size_t at = text.find(pattern);
        if (at == std::string_view::npos) continue;
        std::memmove(line + at + 1, line + at, pattern.size() - 1);
        line[at] = '"';
    }
}

} // namespace reference
