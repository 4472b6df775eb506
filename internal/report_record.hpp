// Byte offsets of the fields read from a report definition record (the
// configuration store's record of one report). The record has no C layout of
// its own; readers take each field at its offset and never write the record.
#pragma once

#include <cstddef>

namespace lb::report_record {

// Filter text: NUL-terminated; only its first 1023 characters are used.
inline constexpr std::size_t kFilterText = 1488;
inline constexpr std::size_t kFilterTextUsed = 1023;

} // namespace lb::report_record
