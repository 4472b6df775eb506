// Report definition records of arbitrary bytes through settings assembly,
// chart selection, the period window, output naming, logo copies and the
// crontab schedule, at an input-chosen time in one of several real zones.
// (test_report_time checks each calendar window's boundaries in every zone.)
//
// The harness is the host process: its store holds the input's record and
// time settings, and its crontab service checks that every entry it is
// handed is a line cron can read, with the expected command. The library
// links /etc/localtime and looks under /var/log/Reports_adom, so this runs
// inside throwaway_root.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "fuzz_input.hpp"
#include "host_store.h"
#include "logbase.h"
#include "logbase_host.h"
#include "report_record.hpp"

namespace {

constexpr size_t kRecordSize = HOST_REPORT_RECORD_SIZE;

// Real zones with odd rules: a half-hour daylight saving shift (Lord Howe),
// a negative one in the zone data (Dublin), quarter-hour offsets.
constexpr const char *kZones[] = {"UTC",
                                  "Europe/Dublin",
                                  "Australia/Lord_Howe",
                                  "America/New_York",
                                  "Asia/Kathmandu",
                                  "Pacific/Chatham",
                                  "America/St_Johns",
                                  "Europe/Berlin"};
constexpr size_t kZoneCount = sizeof kZones / sizeof kZones[0];

// What the current input put in the store.
struct Input {
    std::vector<unsigned char> record = std::vector<unsigned char>(kRecordSize);
    unsigned char time_settings[TIME_SETTINGS_SIZE] = {};
    std::string name, prefix, domain;
    int64_t now = 0;
};
Input current;

int table_time = CFG_TABLE_TIME_SETTINGS, table_reports = CFG_TABLE_REPORTS;

using fuzz::fail;

std::string expected_command() {
    char command[128];
    std::snprintf(command, sizeof command, "/bin/run_sch_rpt add %s %s", current.name.c_str(),
                  current.domain.c_str());
    return command;
}

void check_command(const char *command) {
    if (command == nullptr || expected_command() != command)
        fail("unexpected command", command ? command : "(null)");
    for (const char *p = command; *p; ++p)
        if (std::iscntrl(static_cast<unsigned char>(*p))) fail("control byte in command", command);
}

bool has_parent_step(std::string_view path) {
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find('/', start), path.size());
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

} // namespace

// The host functions the library calls, and the time it reads: the input's.
extern "C" {

time_t time(time_t *out) {
    const time_t now = static_cast<time_t>(current.now);
    if (out != nullptr) *out = now;
    return now;
}

void *nCfg_query(int table) {
    if (table == CFG_TABLE_TIME_SETTINGS) return &table_time;
    if (table == CFG_TABLE_REPORTS) return &table_reports;
    return nullptr;
}

void *cmf_query_update(void *handle) {
    return handle == &table_time ? current.time_settings : nullptr;
}

void *cmf_query_do_table_find(void *handle, int, const char *name, int) {
    if (handle != &table_reports || name == nullptr || current.name != name) return nullptr;
    return current.record.data();
}

const char *get_zoneinfo(uint32_t zone) {
    return zone < kZoneCount ? kZones[zone] : nullptr;
}

void ncfg_active_dayst(void) {
    uint32_t zone;
    std::memcpy(&zone, current.time_settings + TIME_SETTINGS_ZONE, sizeof zone);
    if (const char *name = get_zoneinfo(zone))
        setenv("TZ", (std::string(":/etc/zoneinfo/") + name).c_str(), 1);
}

int update_crontab(int op, const struct cron_entry *entry, const char *command) {
    check_command(command);
    if (op == CRON_REMOVE) return 0;
    if (op != CRON_ADD_OR_REPLACE || entry == nullptr) fail("unknown crontab operation", "");
    // A schedule gives no steps: "*" stands alone.
    if (!fuzz::cron_fields(
            {entry->minute, entry->hour, entry->day_of_month, entry->month, entry->day_of_week},
            false))
        fail("invalid crontab entry", std::string(entry->minute) + " " + entry->hour + " " +
                                          entry->day_of_month + " " + entry->month + " " +
                                          entry->day_of_week);
    return 0;
}

int copy_file(const char *src, const char *dst) {
    constexpr std::string_view kLogos = "/migadmin/reportlogo/thumbs/";
    std::string_view source = src;
    if (!source.starts_with(kLogos) || source.substr(kLogos.size()).find('/') != source.npos ||
        has_parent_step(source))
        fail("logo source outside its folder", source);
    if (dst == nullptr) fail("no logo destination", "");
    return 0;
}

const char *image_file_ext(const char *path) {
    std::string_view p = path;
    return p.ends_with(".png") ? ".png" : nullptr;
}

void str_array_init(void *array) {
    std::memset(array, 0, 16);
}

} // extern "C"

namespace {

// Input: one byte for zone and daylight-saving switch, 8 bytes of time,
// the record, then name, prefix and domain separated by NUL bytes.
void load(const uint8_t *data, size_t size) {
    auto take = [&](void *out, size_t n) {
        size_t k = std::min(n, size);
        std::memset(out, 0, n);
        if (k) std::memcpy(out, data, k);
        data += k;
        size -= k;
    };
    uint8_t zone_byte = 0;
    take(&zone_byte, 1);
    uint64_t raw_now = 0;
    take(&raw_now, sizeof raw_now);
    take(current.record.data(), kRecordSize);
    auto texts = fuzz::split(data, size, 3);
    current.name = texts[0].empty() ? "rpt" : texts[0];
    current.prefix = texts[1];
    current.domain = texts[2].empty() ? "root" : texts[2];
    // 2000 to 2100: the rules of every zone a clock can meet; near 1970 the
    // windows of past periods would begin before the epoch.
    constexpr uint64_t k2000 = 946684800, k2100 = 4102444800;
    current.now = static_cast<int64_t>(k2000 + raw_now % (k2100 - k2000));

    const uint32_t zone = zone_byte % kZoneCount, dst = (zone_byte >> 3) & 1;
    std::memset(current.time_settings, 0, sizeof current.time_settings);
    std::snprintf(reinterpret_cast<char *>(current.time_settings) + TIME_SETTINGS_TZ_TEXT,
                  TIME_SETTINGS_TZ_TEXT_SIZE, "%s", kZones[zone]);
    std::memcpy(current.time_settings + TIME_SETTINGS_ZONE, &zone, sizeof zone);
    std::memcpy(current.time_settings + TIME_SETTINGS_DST, &dst, sizeof dst);
}

[[noreturn]] void window_fail(const char *what, const rpt_window &window, uint32_t type) {
    char text[200];
    std::snprintf(text, sizeof text, "type %u now %lld window %lld..%lld zone %s", type,
                  static_cast<long long>(current.now), static_cast<long long>(window.begin),
                  static_cast<long long>(window.end), getenv("TZ") ? getenv("TZ") : "(none)");
    fail(what, text);
}

void check_settings(const rpt_settings &settings) {
    if (settings.query_count > 84) fail("too many chart ids", "");
    if (std::memchr(settings.log_filter, 0, sizeof settings.log_filter) == nullptr ||
        std::memchr(settings.datetime_cond, 0, sizeof settings.datetime_cond) == nullptr)
        fail("unterminated settings text", "");
}

// The settings hold the same window; a named period ends by now and begins
// no later than one second after its end (an empty "last 0 units").
void check_window(const rpt_window &window, const rpt_window &in_settings, const void *record) {
    if (window.begin != in_settings.begin || window.end != in_settings.end)
        fail("window differs between calls", "");
    const uint32_t type = lb::report_record::view(record).period().type;
    if (type >= RPT_PERIOD_CUSTOM) return;
    if (window.begin < 0 || window.end > current.now || window.begin > window.end + 1)
        window_fail("window out of order", window, type);
}

void check_name(const char *name) {
    if (name == nullptr) return;
    std::string_view text = name;
    if (text.empty() || text.front() == '/' || has_parent_step(text))
        fail("output name outside its folder", text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::require_throwaway_root();
    // The zone links the library makes point into /etc/zoneinfo.
    unlink("/etc/zoneinfo");
    if (symlink("/usr/share/zoneinfo", "/etc/zoneinfo") != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    load(data, size);
    const void *record = current.record.data();

    static rpt_settings settings;
    if (get_report_settings_r(record, &settings) != 0) fail("assembly failed", "");
    check_settings(settings);

    static uint32_t ids[512];
    uint32_t count = 0;
    get_qryset(record, ids, &count);
    if (count != settings.query_count) fail("chart ids differ between calls", "");

    rpt_window window{};
    uint32_t custom = 0;
    get_time_period(record, &window, &custom);
    check_window(window, settings.window, record);

    char *name = get_report_name(current.prefix.c_str(), current.domain.c_str());
    check_name(name);
    std::free(name);

    copy_report_logo_files("/var/log/Reports_adom/out", record);
    add_report_to_cron(current.name.c_str(), current.domain.c_str());
    return 0;
}
