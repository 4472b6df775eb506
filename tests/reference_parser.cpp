#include "reference_parser.hpp"

#include <cstring>

namespace reference {

namespace {

void finish_quoted(const entry_desc &row, kv_entry &slot) {
    if (row.quoted && slot.val_len > 1) {
        slot.val += 1;
        slot.val_len -= 2;
    }
}

bool ends_line_at(const entry_desc &row, const char *s) {
    return *s == '\n' && s[-1] == ' ' && (!row.quoted || s[-2] == '"');
}

} // namespace

int parse_log_kv_pair(int row_index, int depth, char *start, int len, kv_entries *entries,
                      kv_parse_ctx *ctx, Budget &budget) {
    if (budget.exhausted || --budget.steps_left < 0) {
        budget.exhausted = true;
        return -4;
    }
    const int p = 128 - depth;
    if (p >= 128) return -4;
    const entry_desc &row = ctx->table[row_index];
    char *end = start + len;
    if (row.name == nullptr || len < row.name_len) return -3;
    for (int i = 0; i < row.name_len; ++i)
        if (start[i] != row.name[i]) return -3;
    char *equals = start + row.name_len;
    if (*equals != '=') return -5;
    if (equals == end) return -4;
    kv_entry &slot = entries->entries[p];
    slot.key = row.name;
    slot.key_len = row.name_len;
    slot.val = equals + 1;
    char *scan = equals + 1;
    if (row.quoted) {
        if (scan == end) return -4;
        if (*scan != '"') return -6;
        ++scan;
    }
    const int next = row.next_row[ctx->version];
    if (next == 0) {
        char *t = nullptr;
        for (char *s = scan; s < end && t == nullptr; ++s)
            if (ends_line_at(row, s)) t = s;
        if (t == nullptr && *end == '\n') t = end;
        if (t == nullptr) return -4;
        ctx->last_pos = p;
        slot.val_len = t - slot.val - 1 < 0 ? 0 : static_cast<int>(t - slot.val - 1);
        finish_quoted(row, slot);
        return static_cast<int>(t + 1 - start);
    }
    if (scan >= end) return -4;
    for (char *s = scan;; ++s) {
        if (*s == ' ' && (!row.quoted || s[-1] == '"')) {
            const int r = parse_log_kv_pair(next, depth - 1, s + 1, static_cast<int>(end - (s + 1)),
                                            entries, ctx, budget);
            if (r > 0) {
                if (ctx->csv) *s = ',';
                slot.val_len = static_cast<int>(s - slot.val);
                finish_quoted(row, slot);
                return static_cast<int>(s + 1 - start) + r;
            }
        }
        if (ctx->version == 0 && p > 24 && ends_line_at(row, s)) {
            ctx->last_pos = p;
            slot.val_len = static_cast<int>(s - slot.val - 1);
            finish_quoted(row, slot);
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
    const int r = parse_log_kv_pair(0, 128, const_cast<char *>(line) + prefix_len, len - prefix_len,
                                    entries, &ctx, budget);
    if (r < 1) return r;
    entries->count = ctx.last_pos + 1;
    return r + prefix_len;
}

namespace {

void special_characters(char *line, int len) {
    static const char *const patterns[] = {"timezone=\"", "ml_svm_accuracy=\"",
                                           "ml_svm_log_match_types=\"", "ml_allow_method=\""};
    char scratch[4096] = {};
    if (len >= static_cast<int>(sizeof scratch)) return; // lines that long are not compared
    std::memcpy(scratch, line, len);
    for (const char *pattern : patterns) {
        char *m = std::strstr(scratch, pattern);
        if (m == nullptr) continue;
        const size_t n = std::strlen(pattern);
        std::memmove(m + 1, m, n - 1);
        *m = '"';
    }
    std::memcpy(line, scratch, len);
}

} // namespace

int convert_csv_log(int cat, char *buf, int len, Budget &budget) {
    kv_parse_ctx ctx{_get_ed_by_cat(cat), 0, 1, 0};
    if (ctx.table == nullptr) return -1;
    kv_entries scratch;
    int prefix_len = 0;
    scan_ver(buf, len, &prefix_len, &ctx.version);
    char *cursor = buf;
    int remaining = len;
    while (remaining > 0) {
        if (remaining <= prefix_len) return -3;
        char *line = cursor + prefix_len;
        const int r =
            parse_log_kv_pair(0, 128, line, remaining - prefix_len, &scratch, &ctx, budget);
        if (r < 1) return r;
        special_characters(line, r);
        cursor = line + r;
        remaining -= prefix_len + r;
    }
    return 0;
}

} // namespace reference
