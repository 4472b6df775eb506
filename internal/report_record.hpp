// Byte offsets of the fields read from a report definition record (the
// configuration store's record of one report). The record has no C layout of
// its own; readers take each field at its offset and never write the record.
#pragma once

#include <cstddef>

namespace lb::report_record {

// Filter text: NUL-terminated; only its first 1023 characters are used.
inline constexpr std::size_t kFilterText = 1488;
inline constexpr std::size_t kFilterTextUsed = 1023;

// Chart selection: per chart set (0 to 3) three uint64_t words; row j of set
// s is selected by bit j % 64 of word j / 64 of that set.
inline constexpr std::size_t kChartSelection = 1288;
inline constexpr std::size_t kChartWordsPerSet = 3;

// Schedule block.
inline constexpr std::size_t kScheduleKind = 2512;    // uint32_t: 0 none, 1 daily, 2 weekdays, 3 month days
inline constexpr std::size_t kScheduleWeekdays = 2520; // uint32_t, bit 0 = Sunday
inline constexpr std::size_t kScheduleMonthDays = 2528; // uint64_t, bits 1 to 31
inline constexpr std::size_t kScheduleHour = 2536;     // int16_t, 24 stands for 0
inline constexpr std::size_t kScheduleMinute = 2538;   // int16_t

} // namespace lb::report_record
