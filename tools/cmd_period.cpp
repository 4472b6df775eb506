// logbase period: the time window of a report period, and the assembled
// settings of a stored report (shared with the report command).
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "calendar.hpp"
#include "cli.hpp"
#include "logbase.h"
#include "report_record.hpp"
#include "report_views.hpp"
#include "report_vocabulary.hpp"

namespace {

int run(int argc, char **argv);

// The --help text after the synopsis.
constexpr char kPeriodHelp[] =
    R"(Prints the time window a report of period TYPE covers if it ran now, in
the configured time zone: begin and end (inclusive) in local time and in
epoch seconds, and the window's time type (0 under an hour, 1 under a
day, 2 under a week, 3 under four weeks, 4 longer).

TYPE is one of today, yesterday, last-n-hours, this-week, last-week,
last-7-days, last-n-days, last-2-weeks, last-14-days, this-month,
last-month, last-30-days, last-n-weeks, this-quarter, last-quarter,
this-year; the three last-n-* types take the count N. Weeks begin on
Sunday. A custom window runs from START to END, each written
"YYYY-MM-DD HH:MM" (or with a T between date and time), local time.

  logbase period last-n-days 3
  logbase period custom "2025-03-30 01:30" 2025-03-30T03:30
)";

const cli::Command kPeriod{"period", "period TYPE [N] | period custom START END", kPeriodHelp, run};

constexpr const char *kTimeTypes[] = {"under an hour", "under a day", "under a week",
                                      "under four weeks", "four weeks or more"};

std::string local_text(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm broken {};
    char text[64] = "?";
    if (localtime_r(&tt, &broken) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &broken);
    return text;
}

void print_window(const rpt_window &window, uint32_t time_type) {
    std::printf("begin       %s  %" PRId64 "\n", local_text(window.begin).c_str(), window.begin);
    std::printf("end         %s  %" PRId64 "\n", local_text(window.end).c_str(), window.end);
    std::printf("time type   %u (%s)\n", time_type, kTimeTypes[time_type]);
}

using lb::report_record::takes_count;

std::optional<rpt_period> parse_period(const std::vector<std::string> &words, std::string &error) {
    rpt_period period{};
    if (words.empty()) return error = "expected a period type", std::nullopt;
    if (words[0] == "custom") {
        if (words.size() != 3) return error = "custom takes START and END", std::nullopt;
        auto start = lb::report_record::parse_moment(words[1]);
        auto end = lb::report_record::parse_moment(words[2]);
        if (!start || !end) return error = "times are written YYYY-MM-DD HH:MM", std::nullopt;
        return lb::report_record::custom_period(*start, *end);
    }
    period.type = rptpertype_val(words[0].c_str());
    if (period.type == RPT_PERIOD_CUSTOM)
        return error = "unknown period type '" + words[0] + "'", std::nullopt;
    if (!takes_count(period.type)) {
        if (words.size() != 1) return error = words[0] + " takes no count", std::nullopt;
        return period;
    }
    if (words.size() != 2) return error = words[0] + " takes the count N", std::nullopt;
    std::optional<long long> n = cli::parse_integer(words[1]);
    if (!n || *n < 0 || *n > INT32_MAX)
        return error = "N must be a whole number from 0", std::nullopt;
    period.n = static_cast<int32_t>(*n);
    return period;
}

int run(int argc, char **argv) {
    cli::Args args(argc, argv, {}, {});
    if (!args.error().empty()) return cli::usage_error(kPeriod, args.error());
    std::string error;
    std::optional<rpt_period> period = parse_period(args.positional(), error);
    if (!period) return cli::usage_error(kPeriod, error);

    rpt_window window{};
    uint32_t custom = 0;
    rptper_get_begend(&*period, &window, &custom);
    if (custom)
        std::printf("period      custom\n");
    else if (takes_count(period->type))
        std::printf("period      %s, N %d\n", rptpertype_name(period->type), period->n);
    else
        std::printf("period      %s\n", rptpertype_name(period->type));
    print_window(window, lb::calendar::get_timetype(window.end - window.begin));
    return cli::kOk;
}

cli::Registrar reg{kPeriod};

void print_flags(uint64_t flags) {
    static constexpr struct {
        uint64_t bit;
        const char *name;
    } kNames[] = {{RPT_FLAG_HTML, "html"},
                  {RPT_FLAG_PDF, "pdf"},
                  {RPT_FLAG_RTF, "rtf"},
                  {RPT_FLAG_TXT, "txt"},
                  {RPT_FLAG_MHT, "mht"},
                  {RPT_FLAG_SCOPE_BIT0, "scope-bit0"},
                  {RPT_FLAG_OBFUSCATE_USERS, "obfuscate-users"},
                  {RPT_FLAG_TIME_FILTER, "time-filter"}};
    std::printf("flags       0x%" PRIx64 ":", flags);
    for (const auto &named : kNames)
        if (flags & named.bit) {
            std::printf(" %s", named.name);
            flags &= ~named.bit;
        }
    if (flags != 0) std::printf(" scope 0x%" PRIx64, flags);
    std::printf("\n");
}

} // namespace

int print_report_settings(const char *name) {
    const void *report = rpt_get(name);
    if (report == nullptr) return cli::fail(cli::kFailed, std::string("no report named ") + name);
    auto settings = std::make_unique<rpt_settings>();
    get_report_settings_r(report, settings.get());

    const rpt_period period = lb::report_record::view(report).period();
    const char *period_name = rptpertype_name(period.type);
    std::printf("report      %s\n", name);
    if (takes_count(period.type))
        std::printf("period      %s, N %d\n", period_name, period.n);
    else if (period_name != nullptr)
        std::printf("period      %s\n", period_name);
    else if (period.type == RPT_PERIOD_CUSTOM)
        std::printf("period      custom\n");
    else
        std::printf("period      type %u (no window)\n", period.type);
    print_window(settings->window, settings->time_type);
    std::printf("log filter  %s\n", settings->log_filter);
    std::printf("condition   %s\n", settings->datetime_cond);
    std::printf("charts      %u\n", settings->query_count);
    for (uint32_t i = 0; i < settings->query_count; ++i) {
        const auto *chart =
            lb::report_vocab::chart_by_id(static_cast<int32_t>(settings->query_ids[i]));
        std::printf("  %4u  %s\n", settings->query_ids[i], chart ? chart->title : "?");
    }
    print_flags(settings->flags);
    return cli::kOk;
}
