// Internal view of the descriptor tables shared by the parser and the tests'
// helpers inside the library.
#pragma once

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

// The keys of one layout in line order, from `date`, with the kind of each.
// Every key of a built-in table is made of [a-z0-9_] only.
struct Chain {
    int count;
    const entry_desc *items[kLongestChain];
    ItemKind kinds[kLongestChain];
};

// The chain of a layout of a built-in table, computed with the tables (they
// are constant data, never changed after load), so that a line does not walk
// its table's rows; null for any other table or a layout past the newest.
const Chain *builtin_chain(const entry_desc *table, int layout);

} // namespace lb::ed
