// Report periods, settings and names in real tzdata zones. Runs inside throwaway_root: it
// rewrites /etc/localtime and makes /etc/zoneinfo and /var/log/Reports_adom directories.
// The time() below fixes "now": an executable's definition interposes the library's calls.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <unistd.h>

#include "host/host_store.h"
#include "logbase.h"
#include "testkit.hpp"

static std::atomic<int64_t> fixed_now{-1};

extern "C" time_t time(time_t *out) {
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    const time_t now = fixed_now >= 0 ? static_cast<time_t>(fixed_now.load()) : real.tv_sec;
    return out != nullptr ? *out = now : now;
}

namespace {

namespace fs = std::filesystem;

struct Local {
    int y, mo, d, h = 0, mi = 0, s = 0;
};

// Epoch seconds of a local wall-clock time in the current TZ.
int64_t at(Local l) {
    struct tm broken = {l.s, l.mi, l.h, l.d, l.mo - 1, l.y - 1900, 0, 0, -1, 0, nullptr};
    return mktime(&broken);
}

class ReportTime : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("LOGBASE_HOST_DIR", store.path().c_str(), 1);
        ASSERT_TRUE(testkit::exists("/etc/zoneinfo") ||
                    symlink("/usr/share/zoneinfo", "/etc/zoneinfo") == 0);
    }
    void TearDown() override { fixed_now = -1; }
    // Configures the store's time zone and the test's own conversions alike.
    void use_zone(const char *zone) {
        ASSERT_EQ(host_time_settings_store(zone, zone, 0), 0);
        setenv("TZ", zone, 1);
        tzset();
    }

    rpt_window window(uint32_t type, int32_t n = 0) {
        rpt_period period{0, type, n, {}, {}};
        rpt_window result{-7, -7};
        rptper_get_begend(&period, &result, nullptr);
        return result;
    }
    static std::string link_target() {
        return fs::is_symlink("/etc/localtime") ? fs::read_symlink("/etc/localtime") : "";
    }
    testkit::TempDir store;
};

constexpr const char *kZones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Sydney"};

// Window of a period type at `now`, as wall-clock begin and (end + 1 s).
struct Case {
    int type, n;
    Local begin, after_end;
    Local now = {2025, 4, 9, 10, 30}; // a Wednesday
};

// On April 9 windows cross the spring change in Berlin and New York and the autumn change in
// Sydney (April 6).
const Case kWednesday[] = {
    {0, 0, {2025, 4, 9}, {2025, 4, 9, 10, 30, 1}}, {1, 0, {2025, 4, 8}, {2025, 4, 9}},
    {2, 5, {2025, 4, 9, 5}, {2025, 4, 9, 10}},     {3, 0, {2025, 4, 6}, {2025, 4, 9, 10, 30, 1}},
    {4, 0, {2025, 3, 30}, {2025, 4, 6}},           {5, 0, {2025, 4, 2}, {2025, 4, 9}},
    {6, 10, {2025, 3, 30}, {2025, 4, 9}},          {7, 0, {2025, 3, 23}, {2025, 4, 6}},
    {8, 0, {2025, 3, 26}, {2025, 4, 9}},           {9, 0, {2025, 4, 1}, {2025, 4, 9, 10, 30, 1}},
    {10, 0, {2025, 3, 1}, {2025, 4, 1}},           {11, 0, {2025, 3, 10}, {2025, 4, 9}},
    {12, 3, {2025, 3, 16}, {2025, 4, 6}},          {13, 0, {2025, 4, 1}, {2025, 4, 9, 10, 30, 1}},
    {14, 0, {2025, 1, 1}, {2025, 4, 1}},           {15, 0, {2025, 1, 1}, {2025, 4, 9, 10, 30, 1}},
};

const Case kOtherDays[] = {
    // Month, quarter and year boundaries (autumn changes inside the windows).
    {10, 0, {2024, 12, 1}, {2025, 1, 1}, {2025, 1, 15, 8}},
    {14, 0, {2024, 10, 1}, {2025, 1, 1}, {2025, 2, 10, 8}},
    {15, 0, {2025, 1, 1}, {2026, 1, 1}, {2025, 12, 31, 23, 59, 59}},
    // On the change day in Berlin: a Sunday starts its own week; hours are wall-clock hours.
    {3, 0, {2025, 3, 30}, {2025, 3, 30, 15, 0, 1}, {2025, 3, 30, 15}},
    {2, 5, {2025, 3, 30, 0}, {2025, 3, 30, 5}, {2025, 3, 30, 5, 30}},
    // The day after a change: yesterday spans 23 or 25 hours there.
    {1, 0, {2025, 3, 30}, {2025, 3, 31}, {2025, 3, 31, 9}},
    {1, 0, {2025, 10, 26}, {2025, 10, 27}, {2025, 10, 27, 9}},
};

TEST_F(ReportTime, EveryPeriodTypeFollowsTheLocalCalendarInRealZones) {
    for (const char *zone : kZones)
        for (auto cases : {std::span<const Case>(kWednesday), std::span<const Case>(kOtherDays)})
            for (const Case &c : cases) {
                use_zone(zone);
                SCOPED_TRACE(testing::Message() << zone << " type " << c.type << " " << c.now.mo);
                fixed_now = at(c.now);
                EXPECT_EQ(window(c.type, c.n).begin, at(c.begin));
                EXPECT_EQ(window(c.type, c.n).end, at(c.after_end) - 1);
            }
}

TEST_F(ReportTime, BegOfAndOffsetsCountWallClockUnits) {
    for (const char *zone : kZones) {
        use_zone(zone);
        int64_t t = at({2025, 3, 31, 12, 45, 10});
        EXPECT_EQ(beg_of("month", 1, t), at({2025, 2, 1})) << zone;
        EXPECT_EQ(beg_of("hour", 2, t), at({2025, 3, 31, 10}));
        EXPECT_EQ(beg_of("week", 1, t), at({2025, 3, 23}));
        EXPECT_EQ(beg_of("quarter", 5, t), at({2023, 10, 1}));
    }
    // An unknown unit starts at 0, then takes the correction against t.
    use_zone("Europe/Berlin");
    EXPECT_EQ(beg_of("minute", 0, at({2025, 7, 10})), 3600);
    EXPECT_EQ(get_time_offset(at({2025, 4, 1}), 7 * 86400), 7 * 86400 - 3600);
    EXPECT_EQ(get_time_offset(at({2025, 11, 1}), 7 * 86400), 7 * 86400 + 3600);
}

TEST_F(ReportTime, CountLimitsAndCustomRanges) {
    use_zone("UTC");
    fixed_now = at({2090, 6, 15, 12, 30}); // every limit still begins after 1970
    const int64_t H = at({2090, 6, 15, 12}), D = at({2090, 6, 15}), W = at({2090, 6, 11});
    const std::tuple<uint32_t, int32_t, int64_t, int64_t> limits[] = {
        {2, 596522, H, 3600}, {6, 24854, D, 86400}, {12, 3549, W, 604800}};
    for (const auto &[type, limit, unit_start, unit_seconds] : limits) {
        EXPECT_EQ(window(type, limit).begin, unit_start - limit * unit_seconds) << type;
        EXPECT_EQ(window(type, limit + 1).begin, 0) << type;
        // All end where the current unit begins; N = 0 and, by choice, a negative N are empty.
        for (int32_t n : {limit, limit + 1, 0, INT32_MIN})
            EXPECT_EQ(window(type, n).end, unit_start - 1) << type << " " << n;
        EXPECT_EQ(window(type, INT32_MIN).begin, unit_start) << type;
    }
    EXPECT_EQ(window(17).begin | window(17).end, 0);

    // Custom ranges are wall-clock times.
    use_zone("Europe/Berlin");
    rpt_window w{5, 5};
    rpt_period period{0, 16, 0, {2025, 3, 30, 1, 30}, {2025, 3, 30, 3, 30}};
    uint32_t custom = 0;
    rptper_get_begend(&period, &w, &custom);
    EXPECT_EQ(custom, 1u);
    EXPECT_EQ(w.begin, at({2025, 3, 30, 1, 30}));
    EXPECT_EQ(w.end, at({2025, 3, 30, 3, 30})); // an hour later: the change skips one
}

TEST_F(ReportTime, ZoneRefreshFollowsTheStore) {
    const std::string before = link_target();
    setenv("TZ", "Asia/Tokyo", 1);
    window(0); // nothing configured: nothing changes
    EXPECT_STREQ(getenv("TZ"), "Asia/Tokyo");
    EXPECT_EQ(link_target(), before);

    // Daylight saving on: the host's zone applies; "today" starts at its midnight.
    use_zone("America/New_York");
    ASSERT_EQ(host_time_settings_store("America/New_York", "UTC", 1), 0);
    fixed_now = at({2025, 7, 4, 3});
    EXPECT_EQ(window(0).begin, at({2025, 7, 4}));
    EXPECT_EQ(link_target(), "/etc/zoneinfo/America/New_York");
}

TEST_F(ReportTime, SettingsAssembly) {
    use_zone("Europe/Berlin");
    fixed_now = at({2024, 3, 2, 12});
    std::array<unsigned char, HOST_REPORT_RECORD_SIZE> def{};
    auto put = [&](size_t offset, auto value) { std::memcpy(&def[offset], &value, sizeof value); };
    put(1236, uint32_t{1}); // yesterday: 2024-03-01, a whole day
    put(198, uint16_t{1});
    put(1264, uint64_t{0x3} << 32 | 0x5); // 0x5 at 1264, 0x3 at 1268
    put(2548, uint32_t{0x3 | 0x20});
    auto settings = std::make_unique<rpt_settings>();
    ASSERT_EQ(get_report_settings_r(def.data(), settings.get()), 0);

    EXPECT_STREQ(settings->log_filter,
                 "date-time>2024-02-29-23:59:59 date-time<2024-03-02-00:00:00 -pri=debug");
    EXPECT_EQ(settings->datetime_cond, "(datetime>" + std::to_string(at({2024, 3, 1}) - 1) +
                                           " and datetime<" + std::to_string(at({2024, 3, 2})) +
                                           ") ");
    EXPECT_EQ(settings->flags, 0x5u | 0x800 | 0x2000 | 0x4000 | 0x10 | 0x20);

    // The obfuscation switch is gated by byte 192; the filter string follows. A window
    // beginning at 0 keeps lo at 0 in both texts.
    put(192, uint32_t{1});
    std::strcpy(reinterpret_cast<char *>(&def[1488]), "priN=='7'");
    put(1236, uint32_t{16});
    put(1244, std::array<int16_t, 10>{1960, 1, 1, 0, 0, 2024, 3, 1, 0, 0});
    ASSERT_EQ(get_report_settings_r(def.data(), settings.get()), 0);
    EXPECT_EQ(settings->flags & 0x2000, 0u);
    EXPECT_STREQ(
        settings->log_filter,
        "date-time>1970-01-01-01:00:00 date-time<2024-03-01-00:00:01 -pri=debug pri=debug");
    EXPECT_TRUE(std::string(settings->datetime_cond).starts_with("(datetime>0 and"));

    // The time type follows the window's span: "today" at 00:59:59 and 01:00, then types 5,
    // 7, 11 at 09:00.
    const std::tuple<uint32_t, int, uint32_t> types[] = {
        {0, 3599, 0}, {0, 3600, 1}, {5, 9 * 3600, 2}, {7, 9 * 3600, 3}, {11, 9 * 3600, 4}};
    for (const auto &[type, seconds, want] : types) {
        fixed_now = at({2025, 5, 14}) + seconds;
        put(1236, type);
        ASSERT_EQ(get_report_settings_r(def.data(), settings.get()), 0);
        EXPECT_EQ(settings->time_type, want) << type;
    }
}

class ReportNames : public ReportTime {
  protected:
    void SetUp() override {
        ReportTime::SetUp();
        use_zone("Europe/Berlin");
        fixed_now = at({2025, 5, 14, 10, 30, 45});
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    std::string name(const char *prefix = "rpt") {
        std::unique_ptr<char, decltype(&std::free)> result(get_report_name(prefix, "dom"),
                                                           std::free);
        return result ? result.get() : "(null)";
    }
    const std::string dir = "/var/log/Reports_adom/dom";
};

TEST_F(ReportNames, PicksTheFirstFreeName) {
    const std::string base = "rpt-2025-05-14-1030", path = dir + "/" + base;
    for (const char *taken : {"", "_001", "_002", "_003", "_004"})
        fs::create_directory(path + taken);
    EXPECT_EQ(name(), base + "_005");
    fs::remove(path + "_001");
    testkit::write_file(path + "_001", "a file does not block the name");
    EXPECT_EQ(name(), base + "_001");
    // The name takes the configured zone's wall clock, and no suffix when free.
    ASSERT_EQ(host_time_settings_store("Australia/Sydney", "Australia/Sydney", 0), 0);
    EXPECT_EQ(name("x"), "x-2025-05-14-1830");
}

TEST_F(ReportNames, NoFreeNameGivesNull) {
    char suffix[8] = "";
    for (int i = 0; i <= 999; std::snprintf(suffix, sizeof suffix, "_%.3d", ++i))
        fs::create_directory(dir + "/rpt-2025-05-14-1030" + suffix);
    EXPECT_EQ(name(), "(null)");
    // A domain path that cannot hold directories has no free name either.
    fs::remove_all(dir);
    testkit::write_file(dir, "");
    EXPECT_EQ(name(), "(null)");
}

TEST(ReportText, ProgressFileAndFileNames) {
    testkit::TempDir dir;
    using R = std::tuple<int, uint64_t, uint64_t, int32_t>;
    auto read = [&](const std::string &content, const char *at = nullptr) {
        EXPECT_TRUE(testkit::write_file(dir.file(".status"), content));
        uint64_t start = 11, end = 22;
        int32_t percent = 33;
        const char *from = at != nullptr ? at : dir.path().c_str();
        return R{get_start_end_percent(from, nullptr, &start, &end, &percent), start, end, percent};
    };
    EXPECT_EQ(read("waiting for a slot\n1700000000\n"), R(-1, 11, 22, 33));
    EXPECT_EQ(read("1700000000\nscanning\nsecs: 12, 40% done\n"), R(1, 1700000000, 22, 40));
    EXPECT_EQ(read("1700000000\nsecs: 3\n1700000077\n"), R(1, 1700000000, 1700000077, 33));
    EXPECT_EQ(read("", "/nonexistent"), R(0, 11, 22, 33));

    const char src[] = "a b\"c\\d!#$%&'()*,/;<>?e:|=+-.\xc3\xa9";
    char dst[sizeof src];
    convert_report_file_filename(src, dst);
    EXPECT_EQ(dst, "a_b_c_d" + std::string(15, '_') + "e:|=+-.\xc3\xa9");

    char slashed[8] = "xxxxxxx";
    EXPECT_EQ(convert_slash("a/b/c", slashed, 4), 0);
    EXPECT_STREQ(slashed, "a_b");

    EXPECT_EQ(valid_report_name_string_charset("Weekly_report-2"), 0);
    EXPECT_EQ(valid_report_name_string_charset("r\xc3\xa9sum\xc3\xa9"), -1);
    EXPECT_EQ(valid_section_title_string_charset("Top 10: attacks (all) ~"), 0);
    EXPECT_EQ(valid_section_title_string_charset("tab\there"), -1);
}

} // namespace
