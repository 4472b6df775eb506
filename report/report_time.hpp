// Time helpers shared by the report period, settings and naming code.
#pragma once

#include <cstdint>

namespace lb::report {

// Time type of a window by its span (end minus begin): under an hour 0,
// under a day 1, under a week 2, under four weeks 3, longer 4.
constexpr uint32_t get_timetype(int64_t span) noexcept {
    if (span < 3600) return 0;
    if (span < 86400) return 1;
    if (span < 604800) return 2;
    if (span < 2419200) return 3;
    return 4;
}

// Applies the configured time zone (from the store's time settings) to the
// process and to "/etc/localtime"; does nothing when none is configured.
void refresh_time_zone() noexcept;

} // namespace lb::report
