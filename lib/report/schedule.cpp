// Report schedules in the crontab, report definitions by name, and control
// of running reports: stopping them, regeneration status, core-file limit.
#include "logbase_host.h"

#include "files.hpp"
#include "guards.hpp"
#include "report_record.hpp"
#include "bounded_text.hpp"
#include "logbase.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

namespace rec = lb::report_record;

constexpr const char *kRunCommand = "/bin/run_sch_rpt add";
constexpr const char *kRunningReportsDir = "/var/log/tmprpts_adom";
constexpr const char *kWorkFileDir = "/drive0/private";
constexpr const char *kBinaryWork = ".bin";
constexpr const char *kCoreMarker = "/var/log/debug/logrpt_core_flag";

bool is_empty(const char *text) {
    return text == nullptr || text[0] == '\0';
}

// The name and domain become words of the scheduled command, which cron
// hands to the shell: only bytes that can neither end the line nor mean
// anything to the shell ("%" is escaped by the crontab service).
bool command_word(const char *text) {
    if (is_empty(text)) return false;
    for (const char *p = text; *p != '\0'; ++p)
        if (!std::isalnum(static_cast<unsigned char>(*p)) && std::strchr("-_.%@+:,", *p) == nullptr)
            return false;
    return true;
}

struct Command {
    char text[128];
    bool fits; // a cut command would run, or remove, another report's entry
};

Command scheduled_command(const char *name, const char *domain) {
    Command command;
    int length =
        std::snprintf(command.text, sizeof command.text, "%s %s %s", kRunCommand, name, domain);
    command.fits = length >= 0 && static_cast<std::size_t>(length) < sizeof command.text;
    return command;
}

// "%d" of `value`, cut to the field's room.
void decimal_text(char *text, std::size_t size, int value) {
    char full[16];
    std::snprintf(full, sizeof full, "%d", value);
    lb::copy_bounded(text, size, full);
}

bool bit_set(uint64_t mask, int bit) {
    return (mask >> bit) & 1U;
}

// Appends the selected numbers first..last as a "," list, bounded by `size`.
void append_list(char *list, std::size_t size, uint64_t mask, int first, int last) {
    char number[16];
    for (int n = first; n <= last; ++n) {
        if (!bit_set(mask, n)) continue;
        std::snprintf(number, sizeof number, list[0] == '\0' ? "%d" : ",%d", n);
        lb::append_bounded(list, size, number);
    }
}

// Same selection with consecutive numbers written as "a-b" ranges, which
// every selection of at most 31 numbers fits in a month-day field.
void append_ranges(char *list, std::size_t size, uint64_t mask, int first, int last) {
    char item[32];
    for (int n = first; n <= last; ++n) {
        if (!bit_set(mask, n)) continue;
        int end = n;
        while (end < last && bit_set(mask, end + 1))
            ++end;
        const char *sep = list[0] == '\0' ? "" : ",";
        if (end == n)
            std::snprintf(item, sizeof item, "%s%d", sep, n);
        else
            std::snprintf(item, sizeof item, "%s%d-%d", sep, n, end);
        lb::append_bounded(list, size, item);
        n = end;
    }
}

// The month-day list; a plain list that would be cut loses days, so such a
// selection is written with ranges, which cron reads as the same days.
void month_day_list(char *list, std::size_t size, uint64_t mask) {
    char whole[128] = ""; // room for all 31 days
    append_list(whole, sizeof whole, mask, 1, 31);
    list[0] = '\0';
    if (std::strlen(whole) < size)
        lb::copy_bounded(list, size, whole);
    else
        append_ranges(list, size, mask, 1, 31);
}

// One name of the running-reports folder, so the pid file stays inside it.
bool plain_name(const char *name) {
    return name != nullptr && lb::plain_component(name);
}

// PID 1 and the process-group forms (0, negative) of kill() are never a
// report's process.
constexpr int kFirstSignallablePid = 2;

// A clean decimal process id: digits only, within int; -1 otherwise.
int pid_of(std::string_view token) {
    if (token.empty() || token.size() > 10) return -1;
    long long value = 0;
    for (char c : token) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value <= INT_MAX ? static_cast<int>(value) : -1;
}

// The two white-space separated ids of a regular pid file; reading stops at
// the first token that is not a clean number (a token the read may have cut
// counts as unclean), and an id not read stays -1.
bool read_pid_file(const char *path, int (&pids)[2]) {
    lb::unique_fd fd = lb::open_regular(path, O_RDONLY);
    if (!fd.valid()) return false;
    char text[64];
    ssize_t n = lb::read_fully(fd.get(), text, sizeof text);
    if (n < 0) return false;
    const bool whole = static_cast<size_t>(n) < sizeof text;
    std::string_view rest(text, static_cast<size_t>(n));
    constexpr std::string_view kSpace = " \t\n\v\f\r";
    for (int &pid : pids) {
        size_t start = rest.find_first_not_of(kSpace);
        if (start == rest.npos) break;
        size_t end = std::min(rest.find_first_of(kSpace, start), rest.size());
        if (end == rest.size() && !whole) break;
        pid = pid_of(rest.substr(start, end - start));
        if (pid < 0) break;
        rest.remove_prefix(end);
    }
    return true;
}

} // namespace

extern "C" {

LOGBASE_API const void *rpt_get(const char *name) {
    if (name == nullptr) return nullptr;
    void *reports = nCfg_query(CFG_TABLE_REPORTS);
    if (reports == nullptr) return nullptr;
    return cmf_query_do_table_find(reports, 0, name, 2);
}

LOGBASE_API void delete_report_from_cron(const char *name, const char *domain) {
    if (!command_word(name) || !command_word(domain)) return;
    Command command = scheduled_command(name, domain);
    if (!command.fits) return;
    const cron_entry none = {"", "", "", "", ""};
    update_crontab(CRON_REMOVE, &none, command.text);
}

LOGBASE_API void add_report_to_cron(const char *name, const char *domain) {
    if (!command_word(name) || !command_word(domain)) return;
    const void *report = rpt_get(name);
    if (report == nullptr) return;

    const rec::view definition(report);
    const uint32_t kind = definition.schedule_kind();
    if (kind == RPT_SCHED_NONE) {
        delete_report_from_cron(name, domain);
        return;
    }
    Command command = scheduled_command(name, domain);
    if (!command.fits) return;
    int16_t hour = definition.hour();
    const int16_t minute = definition.minute();
    if (hour == 24) hour = 0;
    char minute_text[4];
    char hour_text[4];
    decimal_text(minute_text, sizeof minute_text, minute);
    decimal_text(hour_text, sizeof hour_text, hour);

    // A kind beyond the known ones leaves both day fields empty.
    char day_of_month[64] = "";
    char day_of_week[16] = "";
    if (kind == RPT_SCHED_DAILY || kind == RPT_SCHED_WEEKDAYS)
        lb::copy_bounded(day_of_month, sizeof day_of_month, "*");
    if (kind == RPT_SCHED_DAILY || kind == RPT_SCHED_MONTH_DAYS)
        lb::copy_bounded(day_of_week, sizeof day_of_week, "*");
    if (kind == RPT_SCHED_WEEKDAYS)
        append_list(day_of_week, sizeof day_of_week, definition.weekdays(), 0, 6);
    if (kind == RPT_SCHED_MONTH_DAYS)
        month_day_list(day_of_month, sizeof day_of_month, definition.month_days());

    // An entry cron cannot read never reaches the crontab: the report's old
    // line goes instead, as the schedule no longer names a time.
    if (minute < 0 || minute > 59 || hour < 0 || hour > 23 || day_of_month[0] == '\0' ||
        day_of_week[0] == '\0') {
        delete_report_from_cron(name, domain);
        return;
    }
    const cron_entry entry = {minute_text, hour_text, day_of_month, "*", day_of_week};
    update_crontab(CRON_ADD_OR_REPLACE, &entry, command.text);
}

LOGBASE_API int kill_running_report_process_ex(const char *first, const char *second) {
    if (!plain_name(first) || !plain_name(second)) return -1;
    char path[256];
    if (std::snprintf(path, sizeof path, "%s/%s/%s/pid", kRunningReportsDir, first, second) >=
        int{sizeof path})
        return -1;
    int pids[2] = {-1, -1};
    if (!read_pid_file(path, pids)) return -1;

    bool signalled = false;
    for (int pid : pids) {
        if (pid < kFirstSignallablePid) continue;
        ::kill(pid, SIGINT);
        signalled = true;
    }
    return signalled ? 0 : -1;
}

LOGBASE_API int kill_running_report_process(const char *first, const char *second) {
    return kill_running_report_process_ex(first, second);
}

LOGBASE_API int retrieve_bin_work_data(const char *work, int64_t *first, int64_t *second,
                                       int32_t *total, int32_t *done) {
    if (work == nullptr) return 0;
    char path[4096];
    std::snprintf(path, sizeof path, "%s/%s_work_done", kWorkFileDir, work);
    lb::unique_file work_file(std::fopen(path, "r+"));
    if (work_file == nullptr) return 0;
    long long values64[2] = {0, 0};
    int values32[2] = {0, 0};
    // Values that are not there stay 0.
    (void)std::fscanf(work_file.get(), "%lld %lld %d %d", &values64[0], &values64[1], &values32[0],
                      &values32[1]);
    work_file.reset();
    if (first != nullptr) *first = values64[0];
    if (second != nullptr) *second = values64[1];
    if (total != nullptr) *total = values32[0];
    if (done != nullptr) *done = values32[1];
    return 1;
}

LOGBASE_API int retrieve_bin_status(char *text, size_t size) {
    text[0] = '\0';
    int32_t total = 0;
    int32_t done = 0;
    if (retrieve_bin_work_data(kBinaryWork, nullptr, nullptr, &total, &done) == 0) return -1;
    bool remaining = total > done;
    long long pending = remaining ? static_cast<long long>(total) - done : 0;
    std::snprintf(text, size, "%lld of %d binary files need to be regenerated.", pending, total);
    return remaining ? 0 : -1;
}

LOGBASE_API int set_core_rlimit(void) {
    struct stat marker;
    if (::stat(kCoreMarker, &marker) != 0) return 0;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_CORE, &limit) != 0) return -1;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_CORE, &limit) == 0 ? 0 : -1;
}

} // extern "C"
