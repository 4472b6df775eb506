#include "report_views.hpp"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "record_format.hpp"
#include "report_record.hpp"
#include "report_vocabulary.hpp"

namespace cli {

namespace {

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

void print_flags(Output &out, uint64_t flags) {
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
    out.printf("flags       0x%" PRIx64 ":", flags);
    for (const auto &named : kNames)
        if (flags & named.bit) {
            out.printf(" %s", named.name);
            flags &= ~named.bit;
        }
    if (flags != 0) out.printf(" scope 0x%" PRIx64, flags);
    out.put('\n');
}

} // namespace

void print_window(Output &out, const rpt_window &window, uint32_t time_type) {
    out.printf("begin       %s  %" PRId64 "\n", local_text(window.begin).c_str(), window.begin);
    out.printf("end         %s  %" PRId64 "\n", local_text(window.end).c_str(), window.end);
    out.printf("time type   %u (%s)\n", time_type, kTimeTypes[time_type]);
}

void note_empty_window(const rpt_window &window) {
    if (window.end <= window.begin)
        std::fputs("logbase: note: the window is empty: it ends where or before it begins\n",
                   stderr);
}

const void *report_settings(const char *name, rpt_settings &settings) {
    const void *report = rpt_get(name);
    if (report == nullptr) {
        fail(kFailed, std::string("no report named ") + name);
        return nullptr;
    }
    get_report_settings_r(report, &settings);
    return report;
}

const void *report_selection(const char *name, rpt_settings &settings, Selection &selection) {
    const void *report = report_settings(name, settings);
    if (report == nullptr) return nullptr;
    if (std::string why = selection.add(settings.log_filter); !why.empty()) {
        fail(kFailed, std::string("the log filter of ") + name + " does not compile: " + why);
        return nullptr;
    }
    return report;
}

void print_report_selection(Output &out, const char *name, const void *report,
                            const rpt_settings &settings) {
    const rpt_period period = lb::report_record::view(report).period();
    const char *period_name = rptpertype_name(period.type);
    out.printf("report      %s\n", name);
    if (lb::report_record::takes_count(period.type))
        out.printf("period      %s, N %d\n", period_name, period.n);
    else if (period_name != nullptr)
        out.printf("period      %s\n", period_name);
    else if (period.type == RPT_PERIOD_CUSTOM)
        out.printf("period      custom\n");
    else
        out.printf("period      type %u (no window)\n", period.type);
    print_window(out, settings.window, settings.time_type);
    out.printf("log filter  %s\n", settings.log_filter);
}

int print_report_settings(Output &out, const char *name) {
    auto settings = std::make_unique<rpt_settings>();
    const void *report = report_settings(name, *settings);
    if (report == nullptr) return kFailed;
    print_report_selection(out, name, report, *settings);
    out.printf("condition   %s\n", settings->datetime_cond);
    out.printf("charts      %u\n", settings->query_count);
    for (uint32_t i = 0; i < settings->query_count; ++i) {
        const auto *chart =
            lb::report_vocab::chart_by_id(static_cast<int32_t>(settings->query_ids[i]));
        out.printf("  %4u  %s\n", settings->query_ids[i], chart ? chart->title : "?");
    }
    print_flags(out, settings->flags);
    return kOk;
}

std::vector<std::string> filter_text_faults(const std::string &text) {
    constexpr size_t kShown = 60; // a long clause is shown by its start
    const int count = check_report_filter_text(text.c_str(), nullptr, 0);
    std::vector<rpt_filter_fault> faults(static_cast<size_t>(count > 0 ? count : 0));
    check_report_filter_text(text.c_str(), faults.data(), count);
    std::vector<std::string> lines;
    for (const rpt_filter_fault &fault : faults) {
        std::string_view clause(text);
        clause =
            clause.substr(static_cast<size_t>(fault.position), static_cast<size_t>(fault.length));
        std::string shown = escaped(clause.substr(0, kShown));
        if (clause.size() > kShown) shown += "...";
        lines.push_back("byte " + std::to_string(fault.position) + ": " + shown + ": " +
                        fault.reason);
    }
    return lines;
}

} // namespace cli
