// The report definition record (the configuration store's record of one
// report), the one place its layout is spelled out for the library, the tool
// and the tests: the offsets come from the host contract (logbase_host.h),
// `view` reads a record and `builder` writes one. The record has no C layout
// of its own and no alignment; the library only ever reads it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "logbase.h"
#include "logbase_host.h"

namespace lb::report_record {

inline constexpr std::size_t kFilterText = RPT_DEF_FILTER;
inline constexpr std::size_t kFilterTextUsed = RPT_DEF_FILTER_USED;
inline constexpr std::size_t kChartSelection = RPT_DEF_CHARTS;
inline constexpr std::size_t kChartWordsPerSet = RPT_DEF_CHART_WORDS_PER_SET;
inline constexpr std::size_t kPeriod = RPT_DEF_PERIOD;
inline constexpr std::size_t kMinSize = RPT_DEF_MIN_SIZE;

static_assert(sizeof(rpt_period) == 32 && kPeriod + sizeof(rpt_period) <= RPT_DEF_SCOPE_BITS);
static_assert(kFilterText + kFilterTextUsed + 1 <= RPT_DEF_SCHED_KIND);

// A field of type T at `offset`.
template <typename T> T field(const void *record, std::size_t offset) noexcept {
    T value;
    std::memcpy(&value, static_cast<const unsigned char *>(record) + offset, sizeof value);
    return value;
}

// The three period types that read the count N.
constexpr bool takes_count(std::uint32_t type) noexcept {
    return type == RPT_PERIOD_LAST_N_HOURS || type == RPT_PERIOD_LAST_N_DAYS ||
           type == RPT_PERIOD_LAST_N_WEEKS;
}

// Word and bit of chart row `row` of chart set `set` in the selection.
constexpr std::size_t chart_word_offset(std::size_t set, std::size_t row) noexcept {
    return kChartSelection + (set * kChartWordsPerSet + row / 64) * sizeof(std::uint64_t);
}
constexpr std::uint64_t chart_bit(std::size_t row) noexcept {
    return std::uint64_t{1} << (row % 64);
}

class view {
  public:
    explicit view(const void *record) noexcept : record_(record) {}

    rpt_period period() const noexcept { return field<rpt_period>(record_, kPeriod); }
    // The filter text; only its first kFilterTextUsed characters count.
    const char *filter_text() const noexcept {
        return static_cast<const char *>(record_) + kFilterText;
    }
    bool chart_selected(std::size_t set, std::size_t row) const noexcept {
        return (field<std::uint64_t>(record_, chart_word_offset(set, row)) & chart_bit(row)) != 0;
    }

    std::uint32_t schedule_kind() const noexcept { return u32(RPT_DEF_SCHED_KIND); }
    std::uint32_t weekdays() const noexcept { return u32(RPT_DEF_SCHED_WEEKDAYS); }
    std::uint64_t month_days() const noexcept {
        return field<std::uint64_t>(record_, RPT_DEF_SCHED_MONTH_DAYS);
    }
    std::int16_t hour() const noexcept { return field<std::int16_t>(record_, RPT_DEF_SCHED_HOUR); }
    std::int16_t minute() const noexcept {
        return field<std::int16_t>(record_, RPT_DEF_SCHED_MINUTE);
    }

    std::uint32_t obfuscate_gate() const noexcept { return u32(RPT_DEF_OBFUSCATE_GATE); }
    bool obfuscate_users() const noexcept {
        return field<std::uint16_t>(record_, RPT_DEF_OBFUSCATE_USERS) != 0;
    }
    std::uint32_t scope_bits() const noexcept { return u32(RPT_DEF_SCOPE_BITS); }
    std::uint8_t scope_byte() const noexcept {
        return field<std::uint8_t>(record_, RPT_DEF_SCOPE_BYTE);
    }
    std::uint32_t value1() const noexcept { return u32(RPT_DEF_VALUE1); }
    std::uint32_t value2() const noexcept { return u32(RPT_DEF_VALUE2); }
    std::uint32_t output_formats() const noexcept { return u32(RPT_DEF_OUTPUT_FORMATS); }
    const void *output_section() const noexcept {
        return static_cast<const unsigned char *>(record_) + RPT_DEF_OUTPUT;
    }

  private:
    std::uint32_t u32(std::size_t offset) const noexcept {
        return field<std::uint32_t>(record_, offset);
    }
    const void *record_;
};

// Custom period bound: year, month 1-12, day, hour, minute (local time).
using moment = std::array<std::int16_t, 5>;

// "YYYY-MM-DD HH:MM" or "YYYY-MM-DDTHH:MM", digits only, year 1 to 9999; the
// day is checked against 31 only (the conversion normalises the rest).
constexpr std::optional<moment> parse_moment(std::string_view text) noexcept {
    if (text.size() != 16 || text[4] != '-' || text[7] != '-' || text[13] != ':' ||
        (text[10] != ' ' && text[10] != 'T'))
        return std::nullopt;
    constexpr std::size_t kAt[5] = {0, 5, 8, 11, 14}, kWidth[5] = {4, 2, 2, 2, 2};
    constexpr int kLow[5] = {1, 1, 1, 0, 0}, kHigh[5] = {9999, 12, 31, 23, 59};
    moment fields{};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        int value = 0;
        for (char c : text.substr(kAt[i], kWidth[i])) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value < kLow[i] || value > kHigh[i]) return std::nullopt;
        fields[i] = static_cast<std::int16_t>(value);
    }
    return fields;
}

// The period block of a custom window.
inline rpt_period custom_period(const moment &start, const moment &end) noexcept {
    rpt_period period{};
    period.type = RPT_PERIOD_CUSTOM;
    std::memcpy(period.start, start.data(), sizeof period.start);
    std::memcpy(period.end, end.data(), sizeof period.end);
    return period;
}

// Writes the fields of a record of at least kMinSize bytes, which the caller
// owns and zeroes.
class builder {
  public:
    explicit builder(std::span<unsigned char> record) noexcept : record_(record) {}

    builder &period(std::uint32_t type, std::int32_t n = 0) noexcept {
        rpt_period block = field<rpt_period>(record_.data(), kPeriod);
        block.type = type;
        block.n = n;
        return put(kPeriod, block);
    }
    builder &custom(const moment &start, const moment &end) noexcept {
        return put(kPeriod, custom_period(start, end));
    }
    // The text is cut to the characters that count.
    builder &filter(std::string_view text) noexcept {
        const std::size_t length = text.size() < kFilterTextUsed ? text.size() : kFilterTextUsed;
        std::memcpy(record_.data() + kFilterText, text.data(), length);
        record_[kFilterText + length] = 0;
        return *this;
    }
    builder &select_chart(std::size_t set, std::size_t row) noexcept {
        const std::size_t at = chart_word_offset(set, row);
        return put(at, field<std::uint64_t>(record_.data(), at) | chart_bit(row));
    }
    builder &schedule(std::uint32_t kind, std::uint32_t weekdays, std::uint64_t month_days,
                      std::int16_t hour, std::int16_t minute) noexcept {
        put(RPT_DEF_SCHED_KIND, kind).put(RPT_DEF_SCHED_WEEKDAYS, weekdays);
        put(RPT_DEF_SCHED_MONTH_DAYS, month_days).put(RPT_DEF_SCHED_HOUR, hour);
        return put(RPT_DEF_SCHED_MINUTE, minute);
    }
    builder &obfuscate_users(bool on, std::uint32_t gate = 0) noexcept {
        put(RPT_DEF_OBFUSCATE_GATE, gate);
        return put(RPT_DEF_OBFUSCATE_USERS, std::uint16_t{on});
    }
    builder &scope(std::uint32_t bits, std::uint8_t byte) noexcept {
        return put(RPT_DEF_SCOPE_BITS, bits).put(RPT_DEF_SCOPE_BYTE, byte);
    }
    builder &output_formats(std::uint32_t mask) noexcept {
        return put(RPT_DEF_OUTPUT_FORMATS, mask);
    }

  private:
    template <typename T> builder &put(std::size_t offset, T value) noexcept {
        std::memcpy(record_.data() + offset, &value, sizeof value);
        return *this;
    }
    std::span<unsigned char> record_;
};

} // namespace lb::report_record

// The logo names handed to copy_report_logo_files: two NUL-terminated file
// names, each in a field of its own.
namespace lb::logo_record {
inline constexpr std::size_t kTitleLogo = RPT_DEF_TITLE_LOGO;
inline constexpr std::size_t kHeaderLogo = RPT_DEF_HEADER_LOGO;
inline constexpr std::size_t kNameSize = RPT_DEF_LOGO_NAME_SIZE;
inline constexpr std::size_t kSize = kHeaderLogo + kNameSize; // the header name's field ends it
static_assert(kTitleLogo + kNameSize <= kHeaderLogo && kSize <= RPT_DEF_PERIOD);
} // namespace lb::logo_record
