// logbase period: the time window of a report period.
#include <optional>
#include <string>
#include <vector>

#include "calendar.hpp"
#include "cli.hpp"
#include "logbase.h"
#include "report_record.hpp"
#include "report_views.hpp"

namespace {

int run(int argc, char **argv, cli::Output &out);

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

using lb::report_record::takes_count;

// The period of the positionals (one word at least); nullopt and `error` when
// they name none.
std::optional<rpt_period> parse_period(const std::vector<std::string> &words, std::string &error) {
    rpt_period period{};
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

int run(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv, {}, {});
    if (int usage = args.check(kPeriod, 1, cli::Args::kAny, "expected a period type")) return usage;
    std::string error;
    std::optional<rpt_period> period = parse_period(args.positional(), error);
    if (!period) return cli::usage_error(kPeriod, error);

    rpt_window window{};
    uint32_t custom = 0;
    rptper_get_begend(&*period, &window, &custom);
    if (custom)
        out.printf("period      custom\n");
    else if (takes_count(period->type))
        out.printf("period      %s, N %d\n", rptpertype_name(period->type), period->n);
    else
        out.printf("period      %s\n", rptpertype_name(period->type));
    cli::print_window(out, window, lb::calendar::get_timetype(window.end - window.begin));
    if (custom) cli::note_empty_window(window);
    return cli::kOk;
}

cli::Registrar reg{kPeriod};

} // namespace
