// The line parser and CSV conversion written as directly as their rules read:
// recursive, retrying the rest of the line at every candidate space. Slow and
// plainly right; the library's bounded parser is checked against it.
#pragma once

#include "logbase.h"

namespace reference {

// Caps the work of one call: each item attempt costs one step. When the cap
// is reached the call gives up (`exhausted`) and its result means nothing.
struct Budget {
    long long steps_left = 1LL << 62;
    bool exhausted = false;
};

int parse_log_kv_pair(int row, int depth, char *item, int len, kv_entries *entries,
                      kv_parse_ctx *ctx, Budget &budget);
int parse_disk_log_entry(int cat, const char *line, int len, kv_entries *entries, Budget &budget);
int convert_csv_log(int cat, char *buf, int len, Budget &budget);
// The first of each quoted CSV field's "key=\"" in the line, up to its first zero byte, gets
// its quote moved before the key, each as the rewrites before it left the line.
void move_quotes(char *line, size_t len);

} // namespace reference
