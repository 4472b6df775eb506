// The parser's entry inside the library, for the CSV conversion: the lines
// of one buffer share one candidate scan.
#pragma once

#include "logbase.h"
#include "separator_scan.hpp"

namespace lb::parser {

// _parse_log_kv_pair at vector level `level`; `shared`, when not null, is
// the candidate scan of a buffer that holds the line (at that level), used
// where it has not gone past the line's start. Without `entries_read`, the
// slots may be left unfilled (the CSV conversion reads none).
int parse_items(int row, int depth, char *item, int len, kv_entries *entries, kv_parse_ctx *ctx,
                int level, Candidates *shared, bool entries_read = true);

} // namespace lb::parser
