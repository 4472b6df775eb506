// Internal view of the descriptor tables shared by the parser and the tests'
// helpers inside the library.
#pragma once

#include "logbase.h"

namespace lb::ed {

inline constexpr int kRows = ENTRY_DESC_ROWS;
inline constexpr int kLayouts = 31;
// The newest layout the version probe can select.
inline constexpr int kNewestLayout = 11;

} // namespace lb::ed
