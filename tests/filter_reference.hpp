// The record filter language evaluated as plainly as it reads, to check the
// library's compiled filters against: the text is cut into words, each word
// read as a term or OR, and each term tested on std::string copies of the
// record's values. Slow and simple on purpose.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "logbase.h"

namespace filter_reference {

struct Term {
    bool negated = false, quoted = false;
    std::string key, op, value;
};
using Filter = std::vector<std::vector<Term>>; // clauses of OR-ed terms

// The filter, or nothing for a text the library must refuse.
std::optional<Filter> compile(const std::string &text);
bool match(const Filter &filter, const kv_entries &items);

} // namespace filter_reference
