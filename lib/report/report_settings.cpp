// Assembly of the report settings record from a report definition record.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "calendar.hpp"
#include "format.hpp"
#include "report_record.hpp"
#include "bounded_text.hpp"
#include "logbase.h"
#include "logbase_host.h"

// The settings record is the host's: every field at its agreed offset.
static_assert(
    sizeof(rpt_settings) == 43088 && offsetof(rpt_settings, query_ids) == 0 &&
    offsetof(rpt_settings, query_count) == 2048 && offsetof(rpt_settings, reserved) == 2052 &&
    offsetof(rpt_settings, strings) == 2056 && offsetof(rpt_settings, flags) == 2072 &&
    offsetof(rpt_settings, output) == 2080 && offsetof(rpt_settings, log_filter) == 2088 &&
    offsetof(rpt_settings, datetime_cond) == 6184 && offsetof(rpt_settings, window) == 10280 &&
    offsetof(rpt_settings, window.end) == 10288 && offsetof(rpt_settings, time_type) == 10296 &&
    offsetof(rpt_settings, value1272) == 10300 && offsetof(rpt_settings, value1276) == 10304 &&
    offsetof(rpt_settings, host_area) == 10308 && offsetof(rpt_settings, assembled_at) == 43080);
static_assert(offsetof(rpt_period, type) == 4 && offsetof(rpt_period, n) == 8 &&
              offsetof(rpt_period, start) == 12 && offsetof(rpt_period, end) == 22);

namespace {

namespace rec = lb::report_record;

constexpr size_t kWorkBuffer = 8096;

struct tm local_or_zero(int64_t t) noexcept {
    struct tm broken {};
    time_t tt = static_cast<time_t>(t);
    localtime_r(&tt, &broken);
    return broken;
}

// Both bounds exclusive: one second outside the inclusive window.
void write_window_texts(rpt_settings &settings, char (&condition)[kWorkBuffer]) noexcept {
    const int64_t lo = settings.window.begin == 0 ? 0 : settings.window.begin - 1;
    const int64_t hi = settings.window.end + 1;
    const struct tm a = local_or_zero(lo), b = local_or_zero(hi);
    lb::format_bounded(
        settings.log_filter, sizeof settings.log_filter,
        "date-time>%04d-%02d-%02d-%02d:%02d:%02d date-time<%04d-%02d-%02d-%02d:%02d:%02d",
        a.tm_year + 1900, a.tm_mon + 1, a.tm_mday, a.tm_hour, a.tm_min, a.tm_sec, b.tm_year + 1900,
        b.tm_mon + 1, b.tm_mday, b.tm_hour, b.tm_min, b.tm_sec);
    lb::format_bounded(condition, sizeof condition, "(datetime>%lu and datetime<%lu) ",
                       static_cast<unsigned long>(lo), static_cast<unsigned long>(hi));
}

} // namespace

extern "C" {

LOGBASE_API void get_report_scope(const void *report, uint64_t *flags) {
    if (report == nullptr || flags == nullptr) return;
    const rec::view definition(report);
    *flags |= definition.scope_bits();
    if (definition.scope_byte() & 1) *flags |= RPT_FLAG_SCOPE_BIT0;
}

LOGBASE_API void get_report_output(const void *report, uint64_t *flags, const void **output) {
    if (report == nullptr || flags == nullptr) return;
    const rec::view definition(report);
    const uint32_t formats = definition.output_formats();
    for (unsigned bit = 0; bit < 5; ++bit)
        if (formats & (1u << bit)) *flags |= RPT_FLAG_HTML << bit;
    *output = definition.output_section();
}

LOGBASE_API void get_report_obfuscate_user(const void *report, uint64_t *flags) {
    if (report == nullptr || flags == nullptr) return;
    if (rec::view(report).obfuscate_users()) *flags |= RPT_FLAG_OBFUSCATE_USERS;
}

LOGBASE_API int get_report_settings_r(const void *report, rpt_settings *settings) {
    if (report == nullptr) return -1;
    std::memset(settings, 0, sizeof *settings);
    str_array_init(settings->strings);

    uint32_t custom = 0;
    get_time_period(report, &settings->window, &custom);
    settings->time_type = lb::calendar::get_timetype(settings->window.end - settings->window.begin);

    const rec::view definition(report);
    if (definition.obfuscate_gate() == 0) get_report_obfuscate_user(report, &settings->flags);
    get_report_scope(report, &settings->flags);
    get_report_output(report, &settings->flags, &settings->output);

    char filter[kWorkBuffer] = "";
    get_report_fltrstr(report, filter, sizeof filter);
    get_qryset(report, settings->query_ids, &settings->query_count);

    char condition[kWorkBuffer];
    write_window_texts(*settings, condition);
    settings->flags |= RPT_FLAG_TIME_FILTER;
    lb::append_bounded(settings->log_filter, sizeof settings->log_filter, " ");
    lb::append_bounded(settings->log_filter, sizeof settings->log_filter, "-pri=debug");
    if (filter[0] != '\0') {
        lb::append_bounded(settings->log_filter, sizeof settings->log_filter, " ");
        lb::append_bounded(settings->log_filter, sizeof settings->log_filter, filter);
    }
    lb::append_bounded(settings->datetime_cond, sizeof settings->datetime_cond, condition);

    settings->value1272 = definition.value1();
    settings->value1276 = definition.value2();
    settings->assembled_at = time(nullptr);
    return 0;
}

} // extern "C"
