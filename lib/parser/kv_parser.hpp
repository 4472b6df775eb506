// The parser's entry inside the library, for the CSV conversion: the lines
// of one buffer share one candidate scan.
#pragma once

#include <cstddef>

#include "logbase.h"
#include "quoted_fields.hpp"
#include "separator_scan.hpp"

namespace lb::parser {

// What the walk over a built-in layout tells the CSV conversion of a line
// it parsed in comma mode: how many `="` the line's keys hold (-1 when the
// walk did not parse the line), and where each quote move's pattern stands
// on a key (its offset in the line, -1 when no key holds it).
struct KeyedPatterns {
    int pairs = -1;
    std::ptrdiff_t at[kQuotedFields];
};

// _parse_log_kv_pair at vector level `level`; `shared`, when not null, is
// the candidate scan of a buffer that holds the line (at that level), used
// where it has not gone past the line's start. Without `entries_read`, the
// slots may be left unfilled (the CSV conversion reads none). `keyed`, when
// not null, is filled as its comment says.
int parse_items(int row, int depth, char *item, int len, kv_entries *entries, kv_parse_ctx *ctx,
                int level, Candidates *shared, bool entries_read = true,
                KeyedPatterns *keyed = nullptr);

} // namespace lb::parser
