// Internal view of the descriptor tables shared by the parser and the tests'
// helpers inside the library.
#pragma once

#include <cstdint>

#include "logbase.h"

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

// The bytes around the separator before an item: the previous value's
// closing quote when that value is quoted, the space, the key, '=' and the
// opening quote when this value is quoted; compared 8 bytes at a time
// (little-endian words, the last one ending with the text).
struct SeparatorText {
    uint64_t words[4]; // the whole words from the start
    uint64_t tail;     // the last 8 bytes, the bytes before the text masked out
    uint64_t tail_mask;
    int len;
    int equals_at; // offset of the '='
    int space_at;  // offset of the space
};

// The keys of one layout in line order, from `date`, with the kind of each
// and the text of the separator before it. Every key of a built-in table is
// made of [a-z0-9_] only.
struct Chain {
    int count;
    const entry_desc *items[kLongestChain];
    ItemKind kinds[kLongestChain];
    SeparatorText separators[kLongestChain]; // [0] unused
};

// The chain of a layout of a built-in table, computed with the tables (they
// are constant data, never changed after load), so that a line does not walk
// its table's rows; null for any other table or a layout past the newest.
const Chain *builtin_chain(const entry_desc *table, int layout);

} // namespace lb::ed
