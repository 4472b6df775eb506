// Report periods: calendar starts in local time, daylight-saving correction,
// the window of a period type and the progress file of a running report.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unistd.h>

#include "internal/format.hpp"
#include "internal/report_record.hpp"
#include "internal/text.hpp"
#include "logbase.h"
#include "report/host_api.h"
#include "report/report_time.hpp"

namespace {

// Times come from callers unchecked; wrap instead of overflowing.
int64_t wrapping_sub(int64_t a, int64_t b) noexcept {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

bool local_time(int64_t t, struct tm &out) noexcept {
    time_t tt = static_cast<time_t>(t);
    return localtime_r(&tt, &out) != nullptr;
}

bool dst_in_force(int64_t t) noexcept {
    struct tm broken {};
    return local_time(t, broken) && broken.tm_isdst > 0;
}

// mktime of `broken` with its year moved by `years`; -1 (mktime's own
// failure value) when the year leaves the range of struct tm.
int64_t convert_years_back(struct tm broken, int64_t years) noexcept {
    int64_t year = broken.tm_year - years;
    if (year < INT_MIN || year > INT_MAX) return -1;
    broken.tm_year = static_cast<int>(year);
    return mktime(&broken);
}

int64_t floor_div(int64_t a, int64_t b) noexcept {
    return a / b - (a % b < 0 ? 1 : 0);
}
int floor_mod(int64_t a, int64_t b) noexcept {
    return static_cast<int>(a - floor_div(a, b) * b);
}

// Start of the unit containing `t`, n units back, before the daylight-saving
// correction; 0 for an unknown unit. The n products are 32-bit on purpose:
// that is the documented range of the count.
int64_t uncorrected_start(std::string_view unit, uint32_t n, int64_t t) noexcept {
    struct tm broken {};
    if (!local_time(t, broken)) return 0;
    const int weekday = broken.tm_wday;
    const int day_of_month = broken.tm_mday;
    broken.tm_sec = 0;
    broken.tm_min = 0;
    if (unit == "hour") return mktime(&broken) - static_cast<uint32_t>(n * 3600u);
    broken.tm_hour = 0;
    if (unit == "day") return mktime(&broken) - static_cast<uint32_t>(n * 86400u);
    if (unit == "week")
        return mktime(&broken) - int64_t{weekday} * 86400 - static_cast<uint32_t>(n * 604800u);
    if (unit == "month") {
        int64_t months = int64_t{broken.tm_mon} - n;
        broken.tm_mon = floor_mod(months, 12);
        // Keeping the day lets mktime carry a day past the month's end into
        // the next month; subtracting d - 1 days lands on the 1st either way.
        return convert_years_back(broken, -floor_div(months, 12)) -
               int64_t{day_of_month - 1} * 86400;
    }
    if (unit == "quarter") {
        int64_t quarters = int64_t{broken.tm_mon / 3} - n;
        broken.tm_mon = 3 * floor_mod(quarters, 4);
        broken.tm_mday = 1;
        return convert_years_back(broken, -floor_div(quarters, 4));
    }
    if (unit == "year") {
        broken.tm_mon = 0;
        broken.tm_mday = 1;
        return convert_years_back(broken, n);
    }
    return 0;
}

// X moved back by `span` seconds of wall-clock time.
int64_t back(int64_t x, int64_t span) noexcept {
    return wrapping_sub(x, get_time_offset(x, span));
}

int64_t convert_custom(const int16_t fields[5]) noexcept {
    struct tm broken {};
    broken.tm_year = fields[0] - 1900;
    broken.tm_mon = fields[1] - 1;
    broken.tm_mday = fields[2];
    broken.tm_hour = fields[3];
    broken.tm_min = fields[4];
    broken.tm_isdst = -1;
    return mktime(&broken);
}

// Counts above these limits would overflow the 32-bit span; such a window
// starts at the epoch.
constexpr int32_t kMaxHours = 596522;
constexpr int32_t kMaxDays = 24854;
constexpr int32_t kMaxWeeks = 3549;

// Window of "last N units" ending before `unit_start`. A negative count
// is taken as 0, giving the same empty window as N = 0.
rpt_window last_n(int64_t unit_start, int32_t n, int32_t limit, int32_t unit_seconds) noexcept {
    if (n > limit) return {0, unit_start - 1};
    int32_t span = n < 0 ? 0 : n * unit_seconds;
    return {back(unit_start, span), unit_start - 1};
}

rpt_window window_of(const rpt_period &period, int64_t now) noexcept {
    const int64_t D = beg_of("day", 0, now), H = beg_of("hour", 0, now);
    const int64_t W = beg_of("week", 0, now), M = beg_of("month", 0, now);
    const int64_t Q = beg_of("quarter", 0, now), Y = beg_of("year", 0, now);
    switch (period.type) {
    case 0:
        return {D, now};
    case 1:
        return {back(D, 86400), D - 1};
    case 2:
        return last_n(H, period.n, kMaxHours, 3600);
    case 3:
        return {W, now};
    case 4:
        return {back(W, 604800), W - 1};
    case 5:
        return {back(D, 604800), D - 1};
    case 6:
        return last_n(D, period.n, kMaxDays, 86400);
    case 7:
        return {back(W, 1209600), W - 1};
    case 8:
        return {back(D, 1209600), D - 1};
    case 9:
        return {M, now};
    case 10:
        return {beg_of("month", 0, M - 1), M - 1};
    case 11:
        return {back(D, 2592000), D - 1};
    case 12:
        return last_n(W, period.n, kMaxWeeks, 604800);
    case 13:
        return {Q, now};
    case 14:
        return {beg_of("quarter", 0, Q - 1), Q - 1};
    case 15:
        return {Y, now};
    default:
        return {convert_custom(period.start), convert_custom(period.end)};
    }
}

} // namespace

namespace lb::report {

void refresh_time_zone() noexcept {
    void *handle = nCfg_query(CFG_TABLE_TIME_SETTINGS);
    const void *settings = handle ? cmf_query_update(handle) : nullptr;
    if (settings == nullptr) return;
    using report_record::field;
    if (field<uint32_t>(settings, TIME_SETTINGS_DST) != 0) {
        ncfg_active_dayst();
    } else {
        const char *text = static_cast<const char *>(settings) + TIME_SETTINGS_TZ_TEXT;
        char tz[TIME_SETTINGS_TZ_TEXT_SIZE + 1];
        copy_bounded(tz, sizeof tz, {text, length_bounded(text, TIME_SETTINGS_TZ_TEXT_SIZE)});
        setenv("TZ", tz, 1);
    }
    // Without a zone file name the link would point at the zone directory
    // itself; keeping the old link is the lesser harm.
    const char *zone = get_zoneinfo(field<uint32_t>(settings, TIME_SETTINGS_ZONE));
    if (zone != nullptr && *zone != '\0') {
        char target[1024];
        lb::format_bounded(target, sizeof target, "/etc/zoneinfo/%s", zone);
        unlink("/etc/localtime");
        if (symlink(target, "/etc/localtime") != 0) {
            // Ignored: the process keeps working in the zone TZ names.
        }
    }
    tzset();
}

} // namespace lb::report

extern "C" {

LOGBASE_API int64_t get_time_offset(int64_t t, int64_t span) {
    bool now_dst = dst_in_force(t);
    bool then_dst = dst_in_force(wrapping_sub(t, span));
    if (now_dst && !then_dst) return wrapping_sub(span, 3600);
    if (then_dst && !now_dst) return wrapping_sub(span, -3600);
    return span;
}

LOGBASE_API int64_t beg_of(const char *unit, uint32_t n, int64_t t) {
    int64_t start = unit ? uncorrected_start(unit, n, t) : 0;
    return wrapping_sub(t, get_time_offset(t, wrapping_sub(t, start)));
}

LOGBASE_API void rptper_get_begend(const rpt_period *period, rpt_window *window, uint32_t *custom) {
    if (window == nullptr) return;
    *window = {0, 0};
    if (period == nullptr) return;
    int64_t now = time(nullptr);
    lb::report::refresh_time_zone();
    if (period->type > 16) return;
    rpt_window result = window_of(*period, now);
    if (period->type == 16 && custom != nullptr) *custom = 1;
    if (result.begin < 0) result.begin = 0;
    *window = result;
}

LOGBASE_API void get_time_period(const void *report, rpt_window *window, uint32_t *custom) {
    if (window == nullptr) return;
    *window = {0, 0};
    if (report == nullptr) return;
    rpt_period period;
    std::memcpy(&period, static_cast<const unsigned char *>(report) + lb::report_record::kPeriod,
                sizeof period);
    rptper_get_begend(&period, window, custom);
}

LOGBASE_API int get_start_end_percent(const char *dir, const void * /*reserved*/, uint64_t *start,
                                      uint64_t *end, int32_t *percent) {
    if (dir == nullptr || start == nullptr || end == nullptr || percent == nullptr) return 0;
    char path[4096];
    lb::format_bounded(path, sizeof path, "%s/.status", dir);
    FILE *file = std::fopen(path, "r");
    if (file == nullptr) return 0;
    char *line = nullptr, *last = nullptr;
    size_t line_size = 0, last_size = 0;
    bool first = true, waiting = false;
    while (getline(&line, &line_size, file) != -1) {
        if (first) {
            first = false;
            if (std::strncmp(line, "waiting", 7) == 0) {
                waiting = true;
                break;
            }
            std::sscanf(line, "%lu", start);
        }
        std::swap(line, last);
        std::swap(line_size, last_size);
    }
    if (!waiting && last != nullptr) {
        int seconds = 0, done = 0;
        if (std::sscanf(last, "secs: %d, %d%% done", &seconds, &done) == 2)
            *percent = done;
        else
            std::sscanf(last, "%lu", end);
    }
    std::free(line);
    std::free(last);
    std::fclose(file);
    return waiting ? -1 : 1;
}

} // extern "C"
