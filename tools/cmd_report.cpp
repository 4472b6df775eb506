// logbase report: define reports in the host store, show them, preview
// their settings and install or remove their crontab entries.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bounded_text.hpp"
#include "calendar.hpp"
#include "cli.hpp"
#include "host_store.h"
#include "log_inputs.hpp"
#include "logbase.h"
#include "record_select.hpp"
#include "report_record.hpp"
#include "report_views.hpp"
#include "report_vocabulary.hpp"
#include "run_report.hpp"

namespace {

namespace rec = lb::report_record;
namespace vocab = lb::report_vocab;

using Record = std::vector<unsigned char>;

using lb::calendar::kDayNames;
using rec::takes_count;

// Names of the schedule kinds RPT_SCHED_NONE to RPT_SCHED_MONTH_DAYS.
constexpr std::array<const char *, 4> kScheduleKinds = {"none", "daily", "weekdays", "monthdays"};
static_assert(kScheduleKinds.size() == RPT_SCHED_MONTH_DAYS + 1);
constexpr const char *kDefaultDomain = "root";

int run(int argc, char **argv, cli::Output &out);

// The --help text after the synopsis.
constexpr char kReportHelp[] =
    R"(Report definitions live in the host store: the directory LOGBASE_HOST_DIR
(default /var/lib/logbase); schedules go to the crontab file LOGBASE_CRONTAB
(default <store>/crontab).

  report define NAME [options]   write (or replace) the definition of NAME
  report show NAME               the definition in readable form
  report settings NAME           the settings a run of NAME gets now
  report preview NAME [FILE...] [--csv [--fields K1,...] [--spreadsheet]]
                 [--category a|t|e] [--jobs N]
                                 its window and log filter, and how many
                                 records of each FILE that filter selects;
                                 with --csv those records as csv writes them
  report schedule NAME [--domain D]    install its crontab entry
  report unschedule NAME [--domain D]  remove its crontab entry
  report run NAME [FILE...] [--out DIR] [--domain D] [--jobs N]
                                 compute every chart of NAME over the
                                 records of the FILEs its log filter selects,
                                 in one pass, and write the report: a folder
                                 named by the report's name and the time
                                 (NAME-YYYY-MM-DD-HHMM) in DIR (default
                                 /var/log/Reports_adom/D) holding its formats
                                 (html, txt, mht) and charts.json; progress in
                                 /var/log/tmprpts_adom/D/NAME/.status
  report stop NAME [--domain D]  stop a run of NAME: it leaves no report
  report charts                  the chart sets and chart keys

define options:
  --period TYPE      today, yesterday, last-n-hours, this-week, last-week,
                     last-7-days, last-n-days, last-2-weeks, last-14-days,
                     this-month, last-month, last-30-days, last-n-weeks,
                     this-quarter, last-quarter, this-year or custom
  --n N              the count of last-n-hours, last-n-days, last-n-weeks
  --start 'YYYY-MM-DD HH:MM'  --end 'YYYY-MM-DD HH:MM'
                     the range of a custom period (local time)
  --filter TEXT      filter text, e.g. "priN<='5' user!='alice'"
  --charts LIST      chart keys and chart set names, comma-separated
  --formats LIST     html, pdf, rtf, txt, mht, comma-separated
  --schedule KIND    none, daily, weekdays or monthdays
  --days LIST        weekdays (Sun..Sat) or days of the month (1..31)
  --time HH:MM       time of the scheduled run
  --obfuscate-users  hide user names in the output

NAME: 1 to 100 of A-Z a-z 0-9 _ -. The domain D (default root) names the
report's domain in the scheduled command "/bin/run_sch_rpt add NAME D".
)";

const cli::Command kReport{
    "report",
    "report define|show|settings|preview|schedule|unschedule|run|stop NAME [options] | report "
    "charts",
    kReportHelp, run};

std::vector<std::string> split_list(std::string_view text) {
    std::vector<std::string> items;
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (!item.empty()) items.emplace_back(item);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return items;
}

// Whole number in [low, high].
std::optional<long long> number_in(std::string_view text, long long low, long long high) {
    std::optional<long long> n = cli::parse_integer(text);
    if (!n || *n < low || *n > high) return std::nullopt;
    return n;
}

// "HH:MM" as hour and minute.
std::optional<std::pair<int, int>> parse_clock(std::string_view text) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto hour = number_in(text.substr(0, colon), 0, 23);
    auto minute = number_in(text.substr(colon + 1), 0, 59);
    if (!hour || !minute) return std::nullopt;
    return std::pair{static_cast<int>(*hour), static_cast<int>(*minute)};
}

// Each option that fails to parse leaves its message here.
struct DefineError {
    std::string message;
};

void define_period(const cli::Args &args, rec::builder &record) {
    auto start = args.value("--start");
    auto end = args.value("--end");
    std::string name = args.value("--period").value_or(start || end ? "custom" : "");
    if (name.empty()) throw DefineError{"--period is required"};
    uint32_t type = rptpertype_val(name.c_str());
    if (type == RPT_PERIOD_CUSTOM && name != "custom")
        throw DefineError{"option --period: unknown period '" + name + "'"};

    auto count = args.value("--n");
    if (takes_count(type) != count.has_value())
        throw DefineError{takes_count(type) ? "period " + name + " needs --n N"
                                            : "--n applies only to the last-n periods"};
    std::optional<long long> n = 0;
    if (count && !(n = number_in(*count, 0, INT32_MAX)))
        throw DefineError{"--n takes a whole number from 0"};

    if (type == RPT_PERIOD_CUSTOM ? !(start && end) : start || end)
        throw DefineError{"--start and --end go together with the custom period"};
    if (type != RPT_PERIOD_CUSTOM) {
        record.period(type, static_cast<int32_t>(*n));
        return;
    }
    auto from = rec::parse_moment(*start);
    auto to = rec::parse_moment(*end);
    if (!from || !to) throw DefineError{"--start and --end take 'YYYY-MM-DD HH:MM'"};
    record.custom(*from, *to);
}

void define_charts(std::string_view list, rec::builder &record) {
    for (const std::string &item : split_list(list)) {
        bool known = false;
        for (std::size_t s = 0; s < vocab::rq_sets.size(); ++s) {
            const vocab::chart_set &set = vocab::rq_sets[s];
            bool whole = item == set.name || item == set.title;
            for (std::size_t j = 0; j < set.charts().size(); ++j) {
                if (!whole && item != set.charts()[j].key) continue;
                record.select_chart(s, j);
                known = true;
            }
        }
        if (!known)
            throw DefineError{"option --charts: unknown chart '" + item +
                              "' (see: logbase report charts)"};
    }
}

void define_formats(std::string_view list, rec::builder &record) {
    uint32_t mask = 0;
    for (const std::string &item : split_list(list)) {
        std::size_t bit = 0;
        while (bit < vocab::_rptfmts.size() && item != vocab::_rptfmts[bit])
            ++bit;
        if (bit == vocab::_rptfmts.size())
            throw DefineError{"option --formats: unknown format '" + item + "'"};
        mask |= 1U << bit;
    }
    record.output_formats(mask);
}

uint64_t day_mask(std::string_view list, uint32_t kind) {
    uint64_t mask = 0;
    for (const std::string &item : split_list(list)) {
        std::optional<long long> day;
        if (kind == RPT_SCHED_WEEKDAYS) {
            for (std::size_t d = 0; d < kDayNames.size(); ++d)
                if (item == kDayNames[d]) day = static_cast<long long>(d);
        } else {
            day = number_in(item, 1, 31);
        }
        if (!day)
            throw DefineError{"--days of " + std::string(kScheduleKinds[kind]) + ": bad day '" +
                              item + "'"};
        mask |= uint64_t{1} << *day;
    }
    return mask;
}

void define_schedule(const cli::Args &args, rec::builder &record) {
    std::string kind_name = args.value("--schedule").value_or("none");
    uint32_t kind = 0;
    while (kind < kScheduleKinds.size() && kind_name != kScheduleKinds[kind])
        ++kind;
    if (kind == kScheduleKinds.size())
        throw DefineError{"option --schedule: unknown schedule '" + kind_name + "'"};
    auto days = args.value("--days");
    auto time = args.value("--time");
    if (kind == RPT_SCHED_NONE) {
        if (days || time) throw DefineError{"--days and --time need --schedule"};
        return;
    }
    if ((kind == RPT_SCHED_WEEKDAYS || kind == RPT_SCHED_MONTH_DAYS) != days.has_value())
        throw DefineError{"--days goes with the weekdays and monthdays schedules"};
    if (!time) throw DefineError{"a schedule needs --time HH:MM"};
    auto clock = parse_clock(*time);
    if (!clock) throw DefineError{"--time takes HH:MM"};
    const uint64_t mask = days ? day_mask(*days, kind) : 0;
    record.schedule(kind, kind == RPT_SCHED_WEEKDAYS ? static_cast<uint32_t>(mask) : 0,
                    kind == RPT_SCHED_MONTH_DAYS ? mask : 0, static_cast<int16_t>(clock->first),
                    static_cast<int16_t>(clock->second));
}

Record build_definition(const cli::Args &args) {
    Record record(HOST_REPORT_RECORD_SIZE, 0);
    rec::builder definition(record);
    define_period(args, definition);
    if (auto filter = args.value("--filter")) {
        if (filter->size() > rec::kFilterTextUsed)
            throw DefineError{"--filter holds at most " + std::to_string(rec::kFilterTextUsed) +
                              " characters"};
        // A clause the builder cannot read would silently widen the report.
        std::string faults;
        for (const std::string &fault : cli::filter_text_faults(*filter))
            faults += "\n" + fault;
        if (!faults.empty())
            throw DefineError{"option --filter: clauses the report engine does not read:" + faults};
        definition.filter(*filter);
    }
    if (auto charts = args.value("--charts")) define_charts(*charts, definition);
    if (auto formats = args.value("--formats")) define_formats(*formats, definition);
    define_schedule(args, definition);
    if (args.flag("--obfuscate-users")) definition.obfuscate_users(true);
    return record;
}

int define(cli::Output &out, const cli::Args &args, const std::string &name) {
    Record record;
    try {
        record = build_definition(args);
    } catch (const DefineError &error) {
        return cli::usage_error(kReport, error.message);
    }
    if (host_report_store(name.c_str(), record.data(), record.size()) != 0)
        return cli::fail(cli::kFailed,
                         "cannot write the definition of " + name + " into " + host_store_dir());
    out.printf("defined %s in %s\n", name.c_str(), host_store_dir());
    const rpt_period period = rec::view(record.data()).period();
    if (period.type == RPT_PERIOD_CUSTOM) {
        rpt_window window{};
        rptper_get_begend(&period, &window, nullptr);
        cli::note_empty_window(window);
    }
    return cli::kOk;
}

std::string custom_bound(const int16_t (&f)[5]) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", f[0], f[1], f[2], f[3], f[4]);
    return text;
}

std::string period_text(const rec::view &record) {
    const rpt_period period = record.period();
    if (period.type == RPT_PERIOD_CUSTOM)
        return "custom, " + custom_bound(period.start) + " to " + custom_bound(period.end);
    const char *name = rptpertype_name(period.type);
    if (name == nullptr) return "unknown type " + std::to_string(period.type);
    std::string text = name;
    if (takes_count(period.type)) text += ", N = " + std::to_string(period.n);
    return text;
}

std::string charts_text(const rec::view &record) {
    std::string text;
    for (std::size_t s = 0; s < vocab::rq_sets.size(); ++s) {
        const vocab::chart_set &set = vocab::rq_sets[s];
        for (std::size_t j = 0; j < set.charts().size(); ++j) {
            if (!record.chart_selected(s, j)) continue;
            text += text.empty() ? "" : ", ";
            text += set.charts()[j].key;
        }
    }
    return text.empty() ? "(none)" : text;
}

std::string schedule_text(const rec::view &record) {
    const uint32_t kind = record.schedule_kind();
    if (kind == RPT_SCHED_NONE) return "none";
    if (kind >= kScheduleKinds.size()) return "unknown kind " + std::to_string(kind);
    std::string text = kScheduleKinds[kind];
    std::string days;
    for (int d = 0; d <= 31; ++d) {
        bool on = kind == RPT_SCHED_WEEKDAYS
                      ? d < 7 && ((record.weekdays() >> d) & 1U)
                      : kind == RPT_SCHED_MONTH_DAYS && d >= 1 && ((record.month_days() >> d) & 1U);
        if (!on) continue;
        if (!days.empty()) days += ',';
        days += kind == RPT_SCHED_WEEKDAYS ? std::string(kDayNames[d]) : std::to_string(d);
    }
    if (kind != RPT_SCHED_DAILY) {
        text += ' ';
        text += days.empty() ? std::string("(no days)") : days;
    }
    char clock[16];
    std::snprintf(clock, sizeof clock, " at %02d:%02d", record.hour() % 24, record.minute());
    return text + clock;
}

int show(cli::Output &out, const std::string &name) {
    const void *found = rpt_get(name.c_str());
    if (found == nullptr)
        return cli::fail(cli::kFailed, "no report " + name + " in " + host_store_dir());
    const rec::view record(found);
    const char *filter = record.filter_text();
    const char *formats = rptfmttype_names(record.output_formats(), ",");
    out.printf("report:    %s\n", name.c_str());
    out.printf("period:    %s\n", period_text(record).c_str());
    out.printf("filter:    %.*s\n",
               static_cast<int>(lb::length_bounded(filter, rec::kFilterTextUsed)), filter);
    out.printf("charts:    %s\n", charts_text(record).c_str());
    out.printf("formats:   %s\n", formats[0] != '\0' ? formats : "(none)");
    out.printf("schedule:  %s\n", schedule_text(record).c_str());
    out.printf("users:     %s\n", record.obfuscate_users() ? "obfuscated" : "shown");
    return cli::kOk;
}

// How many records of each file the selection takes.
class FileCounts : public cli::SelectedRecords {
  public:
    using SelectedRecords::SelectedRecords;
    struct File {
        std::string name;
        unsigned long long read = 0, selected = 0;
    };
    bool start(const cli::InputFile &file) override {
        files_.push_back({cli::shown_name(file.reader)});
        return true;
    }
    bool record(const cli::InputFile &file, const cli::LogReader::Record &record) override {
        ++files_.back().read;
        const Take taken = take(file, record);
        files_.back().selected += taken == Take::kSelected;
        return taken != Take::kFailed;
    }
    std::unique_ptr<cli::RecordHandler> worker(cli::Output &) override {
        auto copy = std::make_unique<FileCounts>(selection_);
        copy->files_.push_back({});
        return copy;
    }
    void merge(cli::RecordHandler &worker) override {
        const File &counted = static_cast<FileCounts &>(worker).files_.back();
        files_.back().read += counted.read;
        files_.back().selected += counted.selected;
    }
    const std::vector<File> &files() const { return files_; }

  private:
    std::vector<File> files_;
};

// The records of the files that the report's log filter selects, as a run of
// it now would select them.
int preview(cli::Output &out, const cli::Args &args, const std::string &name,
            const std::vector<std::string> &files, unsigned jobs) {
    cli::InputOptions options;
    options.jobs = jobs;
    options.command = "report preview";
    options.needs_category = true;
    if (auto text = args.value("--category"))
        if ((options.category_option = cli::category_code(*text)) == LOG_CAT_NONE)
            return cli::usage_error(kReport,
                                    "option --category takes a, t or e, not '" + *text + "'");
    cli::Columns columns;
    if (args.flag("--spreadsheet") && !args.flag("--csv"))
        return cli::usage_error(kReport, "option --spreadsheet needs --csv");
    if (auto list = args.value("--fields")) {
        if (!args.flag("--csv")) return cli::usage_error(kReport, "option --fields needs --csv");
        if (std::string error = columns.select(*list); !error.empty())
            return cli::usage_error(kReport, "option --fields " + error);
    }
    std::vector<std::string> paths;
    if (std::string error = cli::input_paths(files, paths); !error.empty())
        return cli::usage_error(kReport, error);

    auto settings = std::make_unique<rpt_settings>();
    cli::Selection selection;
    const void *report = cli::report_selection(name.c_str(), *settings, selection);
    if (report == nullptr) return cli::kFailed;
    if (args.flag("--csv")) {
        cli::CsvRows csv(out, columns, selection, args.flag("--spreadsheet"));
        return cli::read_inputs(paths, options, csv, out);
    }
    cli::print_report_selection(out, name.c_str(), report, *settings);
    FileCounts counts(selection);
    const int status = cli::read_inputs(paths, options, counts, out);
    for (const FileCounts::File &file : counts.files())
        out.printf("%s: %llu of %llu records selected\n", file.name.c_str(), file.selected,
                   file.read);
    return status;
}

// The command of the report's crontab entry.
std::string scheduled_command(const std::string &name, const std::string &domain) {
    return "/bin/run_sch_rpt add " + name + " " + domain;
}

// The crontab line that runs the report, or nothing.
std::optional<std::string> crontab_line(const std::string &name, const std::string &domain) {
    std::string command = scheduled_command(name, domain);
    char *line = host_crontab_entry(command.c_str());
    if (line == nullptr) return std::nullopt;
    std::string found = line;
    std::free(line);
    return found;
}

int schedule(cli::Output &out, const std::string &name, const std::string &domain) {
    const void *found = rpt_get(name.c_str());
    if (found == nullptr)
        return cli::fail(cli::kFailed, "no report " + name + " in " + host_store_dir());
    const rec::view record(found);
    // The library refuses, silently, a command it would have to cut.
    const std::string command = scheduled_command(name, domain);
    if (command.size() > 127)
        return cli::fail(cli::kFailed, "the scheduled command \"" + command +
                                           "\" is longer than 127 characters; " +
                                           host_crontab_path() + " is unchanged");
    add_report_to_cron(name.c_str(), domain.c_str());
    std::optional<std::string> line = crontab_line(name, domain);
    if (record.schedule_kind() == RPT_SCHED_NONE) {
        out.printf("%s has no schedule; no entry in %s\n", name.c_str(), host_crontab_path());
        return cli::kOk;
    }
    if (!line)
        return cli::fail(cli::kFailed, "the schedule of " + name + " (" + schedule_text(record) +
                                           ") cannot be written as a crontab entry");
    out.printf("%s: %s\n", host_crontab_path(), line->c_str());
    return cli::kOk;
}

int unschedule(cli::Output &out, const std::string &name, const std::string &domain) {
    bool had = crontab_line(name, domain).has_value();
    delete_report_from_cron(name.c_str(), domain.c_str());
    if (crontab_line(name, domain))
        return cli::fail(cli::kFailed, "cannot update " + std::string(host_crontab_path()));
    out.printf(had ? "removed the entry of %s from %s\n" : "%s had no entry in %s\n", name.c_str(),
               host_crontab_path());
    return cli::kOk;
}

int list_charts(cli::Output &out) {
    for (const vocab::chart_set &set : vocab::rq_sets) {
        out.printf("%s (%s)\n", set.name, set.title);
        for (const vocab::chart_row &row : set.charts())
            out.printf("  %-30s %5d  %s\n", row.key, row.id, row.title);
    }
    return cli::kOk;
}

bool valid_domain(const std::string &domain) {
    return host_report_name_valid(domain.c_str()) != 0;
}

// The options each subcommand reads; any other is a mistake, not a no-op.
constexpr std::string_view kDefineOptions[] = {
    "--period",  "--n",        "--start", "--end",  "--filter",         "--charts",
    "--formats", "--schedule", "--days",  "--time", "--obfuscate-users"};

bool known_action(const std::string &action) {
    for (const char *known : {"define", "show", "settings", "preview", "schedule", "unschedule",
                              "run", "stop", "charts"})
        if (action == known) return true;
    return false;
}

std::optional<std::string> misplaced_option(const cli::Args &args, const std::string &action) {
    bool define = action == "define";
    bool scheduling = action == "schedule" || action == "unschedule";
    bool running = action == "run" || action == "stop";
    if (!scheduling && !running && args.value("--domain")) return "--domain";
    if (action != "run" && args.value("--out")) return "--out";
    if (action != "run" && action != "preview" && args.value("--jobs")) return "--jobs";
    if (action != "preview")
        for (std::string_view option : {"--csv", "--category", "--fields", "--spreadsheet"})
            if (args.value(option) || args.flag(option)) return std::string(option);
    if (!define)
        for (std::string_view option : kDefineOptions)
            if (args.value(option) || args.flag(option)) return std::string(option);
    return std::nullopt;
}

int run(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv,
                   {"--period", "--n", "--start", "--end", "--filter", "--charts", "--formats",
                    "--schedule", "--days", "--time", "--domain", "--category", "--fields", "--out",
                    "--jobs"},
                   {"--obfuscate-users", "--csv", "--spreadsheet"});
    cli::InputOptions reading;
    cli::read_jobs(args, reading);
    if (int usage = args.check(kReport, 1, cli::Args::kAny, "expected a subcommand")) return usage;
    const std::vector<std::string> &words = args.positional();
    const std::string &action = words[0];
    if (!known_action(action))
        return cli::usage_error(kReport, "unknown subcommand '" + action + "'");
    if (auto option = misplaced_option(args, action))
        return cli::usage_error(kReport,
                                "option " + *option + " does not apply to report " + action);
    if (action == "charts")
        return words.size() == 1 ? list_charts(out)
                                 : cli::usage_error(kReport, "report charts takes no NAME");
    if (words.size() < 2 || (words.size() > 2 && action != "preview" && action != "run"))
        return cli::usage_error(kReport, "expected a subcommand and a report NAME");
    const std::string &name = words[1];
    if (!host_report_name_valid(name.c_str()))
        return cli::usage_error(kReport, "bad report name '" + name + "'");
    std::string domain = args.value("--domain").value_or(kDefaultDomain);
    if (!valid_domain(domain))
        return cli::usage_error(kReport, "option --domain: bad domain '" + domain + "'");

    if (action == "define") return define(out, args, name);
    if (action == "show") return show(out, name);
    if (action == "settings") return cli::print_report_settings(out, name.c_str());
    if (action == "preview")
        return preview(out, args, name, {words.begin() + 2, words.end()}, reading.jobs);
    if (action == "schedule") return schedule(out, name, domain);
    if (action == "run")
        return report_run::run_report(out, {name,
                                            domain,
                                            {words.begin() + 2, words.end()},
                                            args.value("--out").value_or(""),
                                            reading.jobs});
    if (action == "stop") return report_run::stop_report(out, name, domain);
    return unschedule(out, name, domain);
}

cli::Registrar reg{kReport};

} // namespace
