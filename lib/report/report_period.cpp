// Report periods: calendar starts in local time, corrections for changes of
// UTC offset, the window of a period type and the progress file of a running
// report.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "files.hpp"
#include "format.hpp"
#include "guards.hpp"
#include "report_record.hpp"
#include "bounded_text.hpp"
#include "logbase.h"
#include "logbase_host.h"
#include "report_time.hpp"

namespace {

// Times come from callers unchecked; wrap instead of overflowing.
int64_t wrapping_sub(int64_t a, int64_t b) noexcept {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

bool local_time(int64_t t, struct tm &out) noexcept {
    time_t tt = static_cast<time_t>(t);
    return localtime_r(&tt, &out) != nullptr;
}

// Seconds the local clock is ahead of UTC at t; `fallback` when t has no
// local time.
int64_t utc_offset(int64_t t, int64_t fallback) noexcept {
    struct tm broken {};
    return local_time(t, broken) ? broken.tm_gmtoff : fallback;
}

int64_t floor_div(int64_t a, int64_t b) noexcept {
    return a / b - (a % b < 0 ? 1 : 0);
}

// Wall-clock seconds (epoch seconds as if the zone were UTC) of 00:00 on the
// first of a month, months counted from year 0; the proleptic Gregorian days
// come from the usual era arithmetic.
int64_t wall_of_month(int64_t months) noexcept {
    int64_t year = floor_div(months, 12), month = months - year * 12 + 1;
    if (month <= 2) --year;
    const int64_t era = floor_div(year, 400), year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return (era * 146097 + day_of_era - 719468) * 86400;
}

// The first instant at which the local clock shows `wall`, or, when a change
// skips that time, the instant the clock jumps past it. No zone is 16 hours
// or more from UTC, so that instant lies within 17 hours of `wall`, and no
// zone changes its offset twice within that reach.
int64_t first_instant(int64_t wall, int64_t fallback) noexcept {
    constexpr int64_t kReach = 17 * 3600;
    const int64_t before = utc_offset(wall - kReach, fallback);
    const int64_t after = utc_offset(wall + kReach, fallback);
    const int64_t early = wall - before, late = wall - after;
    const bool early_shows = utc_offset(early, fallback) == before;
    const bool late_shows = utc_offset(late, fallback) == after;
    if (early_shows && late_shows) return early < late ? early : late; // shown twice
    if (early_shows) return early;
    if (late_shows) return late;
    if (after <= before) return early; // no jump forward to look for
    // Skipped: the change lies after `late` (old offset) and by `early`.
    int64_t lo = late, hi = early;
    while (hi - lo > 1) {
        int64_t mid = lo + (hi - lo) / 2;
        (utc_offset(mid, fallback) == after ? hi : lo) = mid;
    }
    return hi;
}

// The local clock at one instant: its fields, its UTC offset and the
// wall-clock seconds of its midnight.
struct Clock {
    struct tm fields {};
    int64_t offset = 0, midnight = 0;
};

bool read_clock(int64_t t, Clock &clock) noexcept {
    if (!local_time(t, clock.fields)) return false;
    clock.offset = clock.fields.tm_gmtoff;
    clock.midnight = floor_div(t + clock.offset, 86400) * 86400;
    return true;
}

// Calendar units begin at the first instant of a local day; `span` is in
// wall-clock seconds, 32-bit like the counts it comes from.
int64_t day_start(const Clock &c, int64_t span) noexcept {
    return first_instant(c.midnight - span, c.offset);
}
int64_t week_start(const Clock &c, int64_t span) noexcept {
    return day_start(c, int64_t{c.fields.tm_wday} * 86400 + span);
}
int64_t month_start(const Clock &c, int64_t months_back) noexcept {
    int64_t months = (int64_t{c.fields.tm_year} + 1900) * 12 + c.fields.tm_mon - months_back;
    return first_instant(wall_of_month(months), c.offset);
}
int64_t quarter_start(const Clock &c, int64_t quarters_back) noexcept {
    return month_start(c, c.fields.tm_mon % 3 + 3 * quarters_back);
}

// t moved back to `start` computed with t's offset, corrected by the offset
// change between them: wall-clock hours keep their length across a change.
int64_t corrected(int64_t t, int64_t start) noexcept {
    return wrapping_sub(t, get_time_offset(t, wrapping_sub(t, start)));
}

int64_t hour_start(const Clock &c, int64_t t, int64_t span) noexcept {
    const int64_t wall_hour = c.midnight + int64_t{c.fields.tm_hour} * 3600;
    return corrected(t, wall_hour - c.offset - span);
}

// Start of the unit containing t, n units back; an unknown unit starts at 0
// before the correction. The n products are 32-bit on purpose: that is the
// documented range of the count.
int64_t unit_start(std::string_view unit, uint32_t n, int64_t t) noexcept {
    Clock c;
    if (!read_clock(t, c)) return corrected(t, 0);
    if (unit == "hour") return hour_start(c, t, static_cast<uint32_t>(n * 3600u));
    if (unit == "day") return day_start(c, static_cast<uint32_t>(n * 86400u));
    if (unit == "week") return week_start(c, static_cast<uint32_t>(n * 604800u));
    if (unit == "month") return month_start(c, n);
    if (unit == "quarter") return quarter_start(c, n);
    if (unit == "year") {
        // A year beyond the range of struct tm has no start; kept as the
        // conversion's failure value, -1.
        if (int64_t{c.fields.tm_year} - n < INT_MIN) return corrected(t, -1);
        return month_start(c, c.fields.tm_mon + int64_t{12} * n);
    }
    return corrected(t, 0);
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

// Wall-clock span of "last N units", or -1 when N is above `limit`. A
// negative count is taken as 0, giving the same empty window as N = 0.
int64_t count_span(int32_t n, int32_t limit, int32_t unit_seconds) noexcept {
    if (n > limit) return -1;
    return n < 0 ? 0 : n * unit_seconds;
}

constexpr int64_t kHour = 3600, kDay = 86400, kWeek = 7 * kDay;

// A window from the start of the current unit up to now.
struct ThisUnit {
    const Clock &c;
    int64_t now;
    rpt_window day() const noexcept { return {day_start(c, 0), now}; }
    rpt_window week() const noexcept { return {week_start(c, 0), now}; }
    rpt_window month() const noexcept { return {month_start(c, 0), now}; }
    rpt_window quarter() const noexcept { return {quarter_start(c, 0), now}; }
    rpt_window year() const noexcept { return {month_start(c, c.fields.tm_mon), now}; }
};

// A window reaching `span` wall-clock seconds back from the start of the
// current unit and ending there; a span of -1 (a count past its limit)
// begins at the epoch.
struct LastUnits {
    const Clock &c;
    int64_t now;
    rpt_window hours(int64_t span) const noexcept {
        const int64_t start = hour_start(c, now, 0);
        return {span < 0 ? 0 : back(start, span), start - 1};
    }
    rpt_window days(int64_t span) const noexcept {
        return {span < 0 ? 0 : day_start(c, span), day_start(c, 0) - 1};
    }
    rpt_window weeks(int64_t span) const noexcept {
        return {span < 0 ? 0 : week_start(c, span), week_start(c, 0) - 1};
    }
    rpt_window month() const noexcept { return {month_start(c, 1), month_start(c, 0) - 1}; }
    rpt_window quarter() const noexcept { return {quarter_start(c, 1), quarter_start(c, 0) - 1}; }
};

rpt_window window_of(const rpt_period &period, int64_t now) noexcept {
    if (period.type == RPT_PERIOD_CUSTOM)
        return {convert_custom(period.start), convert_custom(period.end)};
    Clock c;
    if (!read_clock(now, c)) return {0, 0};
    const ThisUnit current{c, now};
    const LastUnits last{c, now};
    const int32_t n = period.n;
    // clang-format off
    switch (static_cast<rpt_period_type>(period.type)) {
    case RPT_PERIOD_TODAY:        return current.day();
    case RPT_PERIOD_THIS_WEEK:    return current.week();
    case RPT_PERIOD_THIS_MONTH:   return current.month();
    case RPT_PERIOD_THIS_QUARTER: return current.quarter();
    case RPT_PERIOD_THIS_YEAR:    return current.year();
    case RPT_PERIOD_LAST_N_HOURS: return last.hours(count_span(n, kMaxHours, kHour));
    case RPT_PERIOD_YESTERDAY:    return last.days(kDay);
    case RPT_PERIOD_LAST_7_DAYS:  return last.days(7 * kDay);
    case RPT_PERIOD_LAST_14_DAYS: return last.days(14 * kDay);
    case RPT_PERIOD_LAST_30_DAYS: return last.days(30 * kDay);
    case RPT_PERIOD_LAST_N_DAYS:  return last.days(count_span(n, kMaxDays, kDay));
    case RPT_PERIOD_LAST_WEEK:    return last.weeks(kWeek);
    case RPT_PERIOD_LAST_2_WEEKS: return last.weeks(2 * kWeek);
    case RPT_PERIOD_LAST_N_WEEKS: return last.weeks(count_span(n, kMaxWeeks, kWeek));
    case RPT_PERIOD_LAST_MONTH:   return last.month();
    case RPT_PERIOD_LAST_QUARTER: return last.quarter();
    case RPT_PERIOD_CUSTOM:       break; // above: it needs no clock
    }
    // clang-format on
    return {0, 0}; // a type beyond the custom period has no window
}

// The zone file `zone` names under /etc/zoneinfo, into `path`. False when
// there is none: no name (the link would point at the directory), a name
// that leaves the directory, a path too long for `path` (a cut one would
// name some other file) or no regular file there. Relinking to a missing
// file would leave every program on the machine in UTC.
bool zone_file(const char *zone, char *path, size_t size) noexcept {
    if (zone == nullptr || *zone == '\0' || *zone == '/') return false;
    for (std::string_view rest = zone; !rest.empty();) {
        size_t slash = rest.find('/');
        if (rest.substr(0, slash) == "..") return false;
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    int length = lb::format_bounded(path, size, "/etc/zoneinfo/%s", zone);
    struct stat st;
    return length > 0 && static_cast<size_t>(length) < size && stat(path, &st) == 0 &&
           S_ISREG(st.st_mode);
}

// Points /etc/localtime at `target` with no moment in which it is missing:
// the link is made under a temporary name in /etc and renamed over it.
void relink_localtime(const char *target) noexcept {
    char temp[64];
    lb::format_bounded(temp, sizeof temp, "/etc/.localtime.%ld", static_cast<long>(getpid()));
    unlink(temp);                           // left by an earlier process of the same id
    if (symlink(target, temp) != 0) return; // the process keeps working in the zone TZ names
    if (rename(temp, "/etc/localtime") != 0) unlink(temp);
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
    const char *zone = get_zoneinfo(field<uint32_t>(settings, TIME_SETTINGS_ZONE));
    char target[1024];
    if (zone_file(zone, target, sizeof target)) relink_localtime(target);
    tzset();
}

} // namespace lb::report

extern "C" {

// The span less the change of UTC offset between t - span and t: the
// instants are `span` seconds apart on the wall clock.
LOGBASE_API int64_t get_time_offset(int64_t t, int64_t span) {
    struct tm now {};
    struct tm then {};
    if (!local_time(t, now) || !local_time(wrapping_sub(t, span), then)) return span;
    return wrapping_sub(span, now.tm_gmtoff - then.tm_gmtoff);
}

LOGBASE_API int64_t beg_of(const char *unit, uint32_t n, int64_t t) {
    return unit ? unit_start(unit, n, t) : corrected(t, 0);
}

LOGBASE_API void rptper_get_begend(const rpt_period *period, rpt_window *window, uint32_t *custom) {
    if (window == nullptr) return;
    *window = {0, 0};
    if (period == nullptr) return;
    int64_t now = time(nullptr);
    lb::report::refresh_time_zone();
    if (period->type > RPT_PERIOD_CUSTOM) return;
    rpt_window result = window_of(*period, now);
    if (period->type == RPT_PERIOD_CUSTOM && custom != nullptr) *custom = 1;
    if (result.begin < 0) result.begin = 0;
    *window = result;
}

LOGBASE_API void get_time_period(const void *report, rpt_window *window, uint32_t *custom) {
    if (window == nullptr) return;
    *window = {0, 0};
    if (report == nullptr) return;
    const rpt_period period = lb::report_record::view(report).period();
    rptper_get_begend(&period, window, custom);
}

LOGBASE_API int get_start_end_percent(const char *dir, const void * /*reserved*/, uint64_t *start,
                                      uint64_t *end, int32_t *percent) {
    if (dir == nullptr || start == nullptr || end == nullptr || percent == nullptr)
        return RPT_PROGRESS_NONE;
    char path[4096];
    lb::format_bounded(path, sizeof path, "%s/.status", dir);
    // A FIFO or a device in its place would block the read or never end it.
    lb::unique_fd fd = lb::open_regular(path, O_RDONLY);
    lb::unique_file file(fd.valid() ? fdopen(fd.get(), "r") : nullptr);
    if (file == nullptr) return RPT_PROGRESS_NONE;
    fd.release(); // the stream owns it now
    char *line = nullptr, *last = nullptr;
    size_t line_size = 0, last_size = 0;
    bool first = true, waiting = false;
    while (getline(&line, &line_size, file.get()) != -1) {
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
    return waiting ? RPT_PROGRESS_WAITING : RPT_PROGRESS_READ;
}

} // extern "C"
