// Byte offsets of the fields read from a report definition record (the
// configuration store's record of one report). The record has no C layout of
// its own; readers take each field at its offset and never write the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lb::report_record {

// Filter text: NUL-terminated; only its first 1023 characters are used.
inline constexpr std::size_t kFilterText = 1488;
inline constexpr std::size_t kFilterTextUsed = 1023;

// Chart selection: per chart set (0 to 3) three uint64_t words; row j of set
// s is selected by bit j % 64 of word j / 64 of that set.
inline constexpr std::size_t kChartSelection = 1288;
inline constexpr std::size_t kChartWordsPerSet = 3;

// Schedule block.
inline constexpr std::size_t kScheduleKind =
    2512; // uint32_t: 0 none, 1 daily, 2 weekdays, 3 month days
inline constexpr std::size_t kScheduleWeekdays = 2520;  // uint32_t, bit 0 = Sunday
inline constexpr std::size_t kScheduleMonthDays = 2528; // uint64_t, bits 1 to 31
inline constexpr std::size_t kScheduleHour = 2536;      // int16_t, 24 stands for 0
inline constexpr std::size_t kScheduleMinute = 2538;    // int16_t

// Report period block (32 bytes): uint32_t at +4 the period type, int32_t at
// +8 the count N, then 5 x int16_t custom start and 5 x int16_t custom end
// (year, month 1-12, day, hour, minute).
inline constexpr std::size_t kPeriod = 1232;

// Settings inputs.
inline constexpr std::size_t kObfuscateGate = 192;  // uint32_t: switch honoured only while 0
inline constexpr std::size_t kObfuscateUsers = 198; // uint16_t, non-zero = on
inline constexpr std::size_t kScopeBits = 1264;     // uint32_t, merged into the flags
inline constexpr std::size_t kScopeByte = 1268;     // uint8_t, bit 0 adds flag 0x800
inline constexpr std::size_t kCopiedValue1 = 1272;  // uint32_t, copied to the settings
inline constexpr std::size_t kCopiedValue2 = 1276;  // uint32_t, copied to the settings
inline constexpr std::size_t kOutputSection = 2544; // the settings record points here
inline constexpr std::size_t kOutputFormats = 2548; // uint32_t, bits 0-4: html pdf rtf txt mht

// A field of type T at `offset`; the record has no alignment guarantees.
template <typename T> T field(const void *record, std::size_t offset) noexcept {
    T value;
    std::memcpy(&value, static_cast<const unsigned char *>(record) + offset, sizeof value);
    return value;
}

} // namespace lb::report_record
