// Calendar names and rules shared by the report code and its tools.
#pragma once

#include <array>
#include <cstdint>

namespace lb::calendar {

// Day names by day number, as struct tm counts them: 0 is Sunday.
inline constexpr std::array<const char *, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                          "Thu", "Fri", "Sat"};

// Time type of a window by its span (end minus begin): under an hour 0,
// under a day 1, under a week 2, under four weeks 3, longer 4.
constexpr std::uint32_t get_timetype(std::int64_t span) noexcept {
    if (span < 3600) return 0;
    if (span < 86400) return 1;
    if (span < 604800) return 2;
    if (span < 2419200) return 3;
    return 4;
}

} // namespace lb::calendar
