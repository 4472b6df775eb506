// Reference configuration store: report definitions and time settings kept
// byte for byte as files in the store directory (see host/host_store.h),
// plus the small file services the report code relies on.
#include "file_io.hpp"
#include "files.hpp"
#include "host_store.h"
#include "logbase_host.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <strings.h>

namespace {

constexpr const char *kDefaultStoreDir = "/var/lib/logbase";
// copy_file carries logo images; nothing bigger is one.
constexpr size_t kMaxCopySize = size_t{64} << 20;

// Zone numbers of the time settings; the number is the index.
constexpr std::array<const char *, 24> kZones = {"UTC",
                                                 "Europe/London",
                                                 "Europe/Berlin",
                                                 "Europe/Paris",
                                                 "Europe/Moscow",
                                                 "Africa/Cairo",
                                                 "Africa/Johannesburg",
                                                 "Asia/Dubai",
                                                 "Asia/Kolkata",
                                                 "Asia/Singapore",
                                                 "Asia/Shanghai",
                                                 "Asia/Tokyo",
                                                 "Asia/Seoul",
                                                 "Australia/Perth",
                                                 "Australia/Sydney",
                                                 "Pacific/Auckland",
                                                 "Pacific/Honolulu",
                                                 "America/Anchorage",
                                                 "America/Los_Angeles",
                                                 "America/Denver",
                                                 "America/Chicago",
                                                 "America/New_York",
                                                 "America/Sao_Paulo",
                                                 "Atlantic/Azores"};

struct Table {
    int number;
};
Table time_settings_table{CFG_TABLE_TIME_SETTINGS};
Table reports_table{CFG_TABLE_REPORTS};

// Records handed out stay where they are for the life of the process; a
// later query of the same record refreshes it in place.
using ReportRecord = std::array<unsigned char, HOST_REPORT_RECORD_SIZE>;
std::mutex records_mutex;
std::map<std::string, std::unique_ptr<ReportRecord>> report_records;
std::array<unsigned char, TIME_SETTINGS_SIZE> time_settings_record;

std::string store_path(std::string_view relative) {
    return std::string(host_store_dir()) + "/" + std::string(relative);
}

std::string report_path(const char *name) {
    return store_path("reports/") + name;
}

// A record file is a regular file of exactly the record's size; a link to
// a device or a FIFO in its place is refused before it is read.
std::optional<std::string> read_record(const std::string &path, size_t size) {
    std::string bytes;
    if (!lb::read_regular_file(path.c_str(), size, bytes) || bytes.size() != size)
        return std::nullopt;
    return bytes;
}

uint32_t read_u32(const unsigned char *record, size_t offset) {
    uint32_t value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

} // namespace

extern "C" {

const char *host_store_dir(void) {
    const char *dir = std::getenv("LOGBASE_HOST_DIR");
    return dir != nullptr && dir[0] != '\0' ? dir : kDefaultStoreDir;
}

const char *host_crontab_path(void) {
    const char *path = std::getenv("LOGBASE_CRONTAB");
    if (path != nullptr && path[0] != '\0') return path;
    static thread_local std::string fallback;
    fallback = store_path("crontab");
    return fallback.c_str();
}

int host_report_name_valid(const char *name) {
    if (name == nullptr) return 0;
    size_t length = std::strlen(name);
    if (length == 0 || length > 100) return 0;
    return std::strspn(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") ==
           length;
}

int host_report_store(const char *name, const void *record, size_t size) {
    if (!host_report_name_valid(name) || record == nullptr || size != HOST_REPORT_RECORD_SIZE)
        return -1;
    try {
        std::string bytes(static_cast<const char *>(record), size);
        return host::replace_file(report_path(name), bytes) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int host_report_remove(const char *name) {
    if (!host_report_name_valid(name)) return -1;
    return std::remove(report_path(name).c_str()) == 0 ? 0 : -1;
}

int64_t host_zone_number(const char *zone_name) {
    if (zone_name == nullptr) return -1;
    for (size_t i = 0; i < kZones.size(); ++i)
        if (std::strcmp(kZones[i], zone_name) == 0) return static_cast<int64_t>(i);
    return -1;
}

int host_time_settings_store(const char *zone_name, const char *tz_text, int dst) {
    int64_t zone = host_zone_number(zone_name);
    if (zone < 0 || tz_text == nullptr || std::strlen(tz_text) >= TIME_SETTINGS_TZ_TEXT_SIZE)
        return -1;
    try {
        std::string record(TIME_SETTINGS_SIZE, '\0');
        std::memcpy(record.data() + TIME_SETTINGS_TZ_TEXT, tz_text, std::strlen(tz_text));
        auto zone32 = static_cast<uint32_t>(zone);
        uint32_t dst32 = dst != 0 ? 1 : 0;
        std::memcpy(record.data() + TIME_SETTINGS_ZONE, &zone32, sizeof zone32);
        std::memcpy(record.data() + TIME_SETTINGS_DST, &dst32, sizeof dst32);
        return host::replace_file(store_path("time_settings"), record) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int host_time_settings_remove(void) {
    try {
        return std::remove(store_path("time_settings").c_str()) == 0 ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

void *nCfg_query(int table) {
    if (table == CFG_TABLE_TIME_SETTINGS) return &time_settings_table;
    if (table == CFG_TABLE_REPORTS) return &reports_table;
    return nullptr;
}

void *cmf_query_update(void *handle) {
    if (handle != &time_settings_table) return nullptr;
    try {
        std::optional<std::string> bytes =
            read_record(store_path("time_settings"), TIME_SETTINGS_SIZE);
        if (!bytes) return nullptr;
        std::lock_guard lock(records_mutex);
        std::memcpy(time_settings_record.data(), bytes->data(), TIME_SETTINGS_SIZE);
        return time_settings_record.data();
    } catch (...) {
        return nullptr;
    }
}

// Field 0 is the record's name, match mode 2 an exact comparison; the store
// answers no other query.
void *cmf_query_do_table_find(void *handle, int field, const char *name, int match) {
    if (handle != &reports_table || field != 0 || match != 2 || !host_report_name_valid(name))
        return nullptr;
    try {
        std::optional<std::string> bytes = read_record(report_path(name), HOST_REPORT_RECORD_SIZE);
        if (!bytes) return nullptr;
        std::lock_guard lock(records_mutex);
        std::unique_ptr<ReportRecord> &record = report_records[name];
        if (!record) record = std::make_unique<ReportRecord>();
        std::memcpy(record->data(), bytes->data(), HOST_REPORT_RECORD_SIZE);
        return record->data();
    } catch (...) {
        return nullptr;
    }
}

// With daylight saving on, the zone file's own rules apply.
void ncfg_active_dayst(void) {
    const auto *settings =
        static_cast<const unsigned char *>(cmf_query_update(&time_settings_table));
    if (settings == nullptr) return;
    const char *zone = get_zoneinfo(read_u32(settings, TIME_SETTINGS_ZONE));
    if (zone == nullptr) return;
    std::string tz = std::string(":/etc/zoneinfo/") + zone;
    setenv("TZ", tz.c_str(), 1);
}

const char *get_zoneinfo(uint32_t zone) {
    return zone < kZones.size() ? kZones[zone] : nullptr;
}

int copy_file(const char *src, const char *dst) {
    if (src == nullptr || dst == nullptr) return -1;
    try {
        std::string content;
        return lb::read_regular_file(src, kMaxCopySize, content) && host::replace_file(dst, content)
                   ? 0
                   : -1;
    } catch (...) {
        return -1;
    }
}

const char *image_file_ext(const char *path) {
    static constexpr std::array<const char *, 6> kImageSuffixes = {".png", ".jpg", ".jpeg",
                                                                   ".gif", ".bmp", ".svg"};
    if (path == nullptr) return nullptr;
    const char *base = std::strrchr(path, '/');
    const char *dot = std::strrchr(base != nullptr ? base : path, '.');
    if (dot == nullptr) return nullptr;
    for (const char *suffix : kImageSuffixes)
        if (strcasecmp(dot, suffix) == 0) return suffix;
    return nullptr;
}

void str_array_init(void *array) {
    struct StrArray {
        char **items;
        size_t count;
    };
    static_assert(sizeof(StrArray) == 16, "the settings record holds 16 bytes for it");
    if (array == nullptr) return;
    const StrArray empty{nullptr, 0};
    std::memcpy(array, &empty, sizeof empty);
}

} // extern "C"
