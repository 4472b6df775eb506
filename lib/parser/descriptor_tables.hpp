// Internal view of the descriptor tables shared by the parser and the tests'
// helpers inside the library.
#pragma once

#include <cstdint>

#include "logbase.h"
#include "quoted_fields.hpp"

namespace lb::ed {

inline constexpr int kRows = ENTRY_DESC_ROWS;
inline constexpr int kLayouts = 31;
// The newest layout the version probe can select.
inline constexpr int kNewestLayout = 11;
// The most keys a layout of the built-in tables has.
inline constexpr int kLongestChain = 64;

// last: the line's last key; middle: another item follows; dead end: a
// following item exists but can never parse (no slot or no key left).
enum class ItemKind : unsigned char { last, middle, dead_end };

// What the walk over a line's separators reads of one item, in one cache
// line: its key, and the bytes around the separator before it (the previous
// value's closing quote when that value is quoted, the space, the key, '='
// and the opening quote when this value is quoted), compared 8 bytes at a
// time as little-endian words, the last one ending with the text.
struct alignas(64) ChainStep {
    const char *name;
    uint64_t words[3]; // the whole words of the text from its start
    uint64_t tail;     // the last 8 bytes, the bytes before the text masked out
    uint64_t tail_mask;
    int32_t name_len;
    int8_t quoted;
    int8_t len; // of the text
    int8_t space_at;
    int8_t equals_at;
};

// The keys of one layout in line order, from `date`, with the kind of each
// and its step. Every key of a built-in table is made of [a-z0-9_] only.
struct Chain {
    int count;
    const entry_desc *items[kLongestChain];
    ItemKind kinds[kLongestChain];
    // For the CSV conversion's quote moves: per pattern, the first step
    // whose key is the pattern's and whose value is quoted, -1 if none.
    int8_t moved_step[lb::parser::kQuotedFields];
    // The quoted values of steps 1 to i, whose keys end with `="`.
    int8_t quoted_after_first[kLongestChain];
    ChainStep steps[kLongestChain]; // the text of [0] is empty
};

// The chain of a layout of a built-in table, computed with the tables (they
// are constant data, never changed after load), so that a line does not walk
// its table's rows; null for any other table or a layout past the newest.
const Chain *builtin_chain(const entry_desc *table, int layout);

} // namespace lb::ed
