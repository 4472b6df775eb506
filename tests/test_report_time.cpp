// Report periods, settings and names, in real zones of the system's tzdata.
// Runs inside throwaway_root: it rewrites /etc/localtime, makes /etc/zoneinfo
// and creates report directories under /var/log/Reports_adom.
//
// "Now" is fixed by the time() below: the library's calls bind to it by
// symbol interposition, since an executable's definitions come first.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "host/host_store.h"
#include "logbase.h"
#include "testkit.hpp"

namespace {
std::atomic<int64_t> fixed_now{-1};
}

extern "C" time_t time(time_t *out) {
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    time_t now = fixed_now >= 0 ? static_cast<time_t>(fixed_now.load()) : real.tv_sec;
    if (out != nullptr) *out = now;
    return now;
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

std::string link_target(const char *path) {
    char buf[1024];
    ssize_t n = readlink(path, buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

class ReportTime : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("LOGBASE_HOST_DIR", store.path().c_str(), 1);
        if (!testkit::exists("/etc/zoneinfo")) {
            ASSERT_EQ(symlink("/usr/share/zoneinfo", "/etc/zoneinfo"), 0);
        }
    }
    void TearDown() override { fixed_now = -1; }

    // Configures the store's time zone and the test's own conversions alike.
    void use_zone(const char *zone, int dst = 0) {
        ASSERT_EQ(host_time_settings_store(zone, zone, dst), 0);
        setenv("TZ", zone, 1);
        tzset();
    }

    rpt_window window(uint32_t type, int32_t n = 0) {
        rpt_period period{};
        period.type = type;
        period.n = n;
        rpt_window result{-7, -7};
        rptper_get_begend(&period, &result, nullptr);
        return result;
    }

    testkit::TempDir store;
};

constexpr const char *kZones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Sydney"};

// One period case: window expected as wall-clock begin and (end + 1 s).
struct Case {
    Local now;
    uint32_t type;
    int32_t n;
    Local begin, after_end;
};

const Case kCases[] = {
    // Wednesday 2025-04-09: windows cross the spring change in Berlin and
    // New York and the autumn change in Sydney (April 6).
    {{2025, 4, 9, 10, 30}, 0, 0, {2025, 4, 9}, {2025, 4, 9, 10, 30, 1}},
    {{2025, 4, 9, 10, 30}, 1, 0, {2025, 4, 8}, {2025, 4, 9}},
    {{2025, 4, 9, 10, 30}, 2, 5, {2025, 4, 9, 5}, {2025, 4, 9, 10}},
    {{2025, 4, 9, 10, 30}, 3, 0, {2025, 4, 6}, {2025, 4, 9, 10, 30, 1}},
    {{2025, 4, 9, 10, 30}, 4, 0, {2025, 3, 30}, {2025, 4, 6}},
    {{2025, 4, 9, 10, 30}, 5, 0, {2025, 4, 2}, {2025, 4, 9}},
    {{2025, 4, 9, 10, 30}, 6, 10, {2025, 3, 30}, {2025, 4, 9}},
    {{2025, 4, 9, 10, 30}, 7, 0, {2025, 3, 23}, {2025, 4, 6}},
    {{2025, 4, 9, 10, 30}, 8, 0, {2025, 3, 26}, {2025, 4, 9}},
    {{2025, 4, 9, 10, 30}, 9, 0, {2025, 4, 1}, {2025, 4, 9, 10, 30, 1}},
    {{2025, 4, 9, 10, 30}, 10, 0, {2025, 3, 1}, {2025, 4, 1}},
    {{2025, 4, 9, 10, 30}, 11, 0, {2025, 3, 10}, {2025, 4, 9}},
    {{2025, 4, 9, 10, 30}, 12, 3, {2025, 3, 16}, {2025, 4, 6}},
    {{2025, 4, 9, 10, 30}, 13, 0, {2025, 4, 1}, {2025, 4, 9, 10, 30, 1}},
    {{2025, 4, 9, 10, 30}, 14, 0, {2025, 1, 1}, {2025, 4, 1}},
    {{2025, 4, 9, 10, 30}, 15, 0, {2025, 1, 1}, {2025, 4, 9, 10, 30, 1}},
    // Month, quarter and year boundaries (autumn changes inside the windows).
    {{2025, 1, 15, 8}, 10, 0, {2024, 12, 1}, {2025, 1, 1}},
    {{2025, 2, 10, 8}, 14, 0, {2024, 10, 1}, {2025, 1, 1}},
    {{2025, 1, 1, 0, 0, 30}, 1, 0, {2024, 12, 31}, {2025, 1, 1}},
    {{2025, 12, 31, 23, 59, 59}, 15, 0, {2025, 1, 1}, {2026, 1, 1}},
    // Sunday (the change day in Berlin) and Saturday.
    {{2025, 3, 30, 15}, 3, 0, {2025, 3, 30}, {2025, 3, 30, 15, 0, 1}},
    {{2025, 3, 29, 15}, 3, 0, {2025, 3, 23}, {2025, 3, 29, 15, 0, 1}},
    // The day after each change: yesterday spans 23 or 25 hours there.
    {{2025, 3, 31, 9}, 1, 0, {2025, 3, 30}, {2025, 3, 31}},
    {{2025, 10, 27, 9}, 1, 0, {2025, 10, 26}, {2025, 10, 27}},
    {{2025, 3, 10, 9}, 1, 0, {2025, 3, 9}, {2025, 3, 10}},
    {{2025, 11, 3, 9}, 1, 0, {2025, 11, 2}, {2025, 11, 3}},
    {{2025, 4, 7, 9}, 1, 0, {2025, 4, 6}, {2025, 4, 7}},
    {{2025, 10, 6, 9}, 1, 0, {2025, 10, 5}, {2025, 10, 6}},
    {{2025, 11, 5, 9}, 11, 0, {2025, 10, 6}, {2025, 11, 5}},
};

TEST_F(ReportTime, EveryPeriodTypeFollowsTheLocalCalendarInRealZones) {
    for (const char *zone : kZones) {
        use_zone(zone);
        for (const Case &c : kCases) {
            fixed_now = at(c.now);
            rpt_window w = window(c.type, c.n);
            EXPECT_EQ(w.begin, at(c.begin))
                << zone << " type " << c.type << " now " << c.now.mo << "/" << c.now.d;
            EXPECT_EQ(w.end, at(c.after_end) - 1)
                << zone << " type " << c.type << " now " << c.now.mo << "/" << c.now.d;
        }
    }
}

TEST_F(ReportTime, DaylightSavingChangesShowInTheSpans) {
    use_zone("Europe/Berlin");
    fixed_now = at({2025, 3, 31, 9});
    rpt_window spring = window(1);
    EXPECT_EQ(spring.end - spring.begin, 23 * 3600 - 1);
    fixed_now = at({2025, 10, 27, 9});
    rpt_window autumn = window(1);
    EXPECT_EQ(autumn.end - autumn.begin, 25 * 3600 - 1);
    // Hours counted across the spring change are wall-clock hours.
    fixed_now = at({2025, 3, 30, 5, 30});
    rpt_window hours = window(2, 5);
    EXPECT_EQ(hours.begin, at({2025, 3, 30, 0}));
    EXPECT_EQ(hours.end, at({2025, 3, 30, 5}) - 1);

    EXPECT_EQ(get_time_offset(at({2025, 4, 1}), 7 * 86400), 7 * 86400 - 3600);
    EXPECT_EQ(get_time_offset(at({2025, 11, 1}), 7 * 86400), 7 * 86400 + 3600);
    EXPECT_EQ(get_time_offset(at({2025, 7, 1}), 7 * 86400), 7 * 86400);
}

TEST_F(ReportTime, BegOfStepsBackWholeUnits) {
    for (const char *zone : kZones) {
        use_zone(zone);
        SCOPED_TRACE(zone);
        int64_t t = at({2025, 3, 31, 12, 45, 10});
        EXPECT_EQ(beg_of("month", 1, t), at({2025, 2, 1}));
        EXPECT_EQ(beg_of("month", 1, at({2024, 3, 31, 12})), at({2024, 2, 1}));
        EXPECT_EQ(beg_of("month", 14, t), at({2024, 1, 1}));
        EXPECT_EQ(beg_of("hour", 2, t), at({2025, 3, 31, 10}));
        EXPECT_EQ(beg_of("day", 3, t), at({2025, 3, 28}));
        EXPECT_EQ(beg_of("week", 1, t), at({2025, 3, 23}));
        EXPECT_EQ(beg_of("quarter", 1, at({2025, 2, 10})), at({2024, 10, 1}));
        EXPECT_EQ(beg_of("quarter", 5, t), at({2023, 10, 1}));
        EXPECT_EQ(beg_of("year", 2, t), at({2023, 1, 1}));
    }
    // An unknown unit starts at 0, then takes the correction against t.
    use_zone("Europe/Berlin");
    EXPECT_EQ(beg_of("minute", 0, at({2025, 1, 10})), 0);
    EXPECT_EQ(beg_of("minute", 0, at({2025, 7, 10})), 3600);
    EXPECT_EQ(beg_of(nullptr, 0, at({2025, 1, 10})), 0);
}

TEST_F(ReportTime, CountLimitsAndOneAboveEach) {
    use_zone("UTC");
    fixed_now = at({2090, 6, 15, 12, 30}); // far enough out that every limit begins after 1970
    const int64_t H = at({2090, 6, 15, 12}), D = at({2090, 6, 15}), W = at({2090, 6, 11});
    struct {
        uint32_t type;
        int32_t limit;
        int64_t unit_start, unit_seconds;
    } limits[] = {{2, 596522, H, 3600}, {6, 24854, D, 86400}, {12, 3549, W, 604800}};
    for (const auto &l : limits) {
        SCOPED_TRACE(l.type);
        rpt_window at_limit = window(l.type, l.limit);
        EXPECT_EQ(at_limit.begin, l.unit_start - l.limit * l.unit_seconds);
        EXPECT_GT(at_limit.begin, 0);
        EXPECT_EQ(at_limit.end, l.unit_start - 1);
        rpt_window above = window(l.type, l.limit + 1);
        EXPECT_EQ(above.begin, 0);
        EXPECT_EQ(above.end, l.unit_start - 1);
        // N = 0 and, by choice, a negative N give the empty window.
        for (int32_t n : {0, -1, INT32_MIN}) {
            rpt_window empty = window(l.type, n);
            EXPECT_EQ(empty.begin, l.unit_start);
            EXPECT_EQ(empty.end, l.unit_start - 1);
        }
    }
}

TEST_F(ReportTime, NoWindowAndCustomRanges) {
    use_zone("Europe/Berlin");
    fixed_now = at({2025, 5, 14, 10, 30});
    EXPECT_EQ(window(17).begin | window(17).end, 0);
    rpt_window w{5, 5}, v{5, 5};
    rptper_get_begend(nullptr, &w, nullptr);
    get_time_period(nullptr, &v, nullptr);
    EXPECT_EQ(w.begin | w.end | v.begin | v.end, 0);

    rpt_period period{0, 16, 0, {2025, 3, 30, 1, 30}, {2025, 3, 30, 3, 30}};
    uint32_t custom = 0;
    rptper_get_begend(&period, &w, &custom);
    EXPECT_EQ(custom, 1u);
    EXPECT_EQ(w.begin, at({2025, 3, 30, 1, 30}));
    EXPECT_EQ(w.end, at({2025, 3, 30, 3, 30}));
    EXPECT_EQ(w.end - w.begin, 3600); // the change skips an hour
    period.start[0] = 1960;           // before the epoch: begins at 0
    rptper_get_begend(&period, &w, &custom);
    EXPECT_EQ(w.begin, 0);

    // The flag is left alone for other types, and read through the record.
    std::array<unsigned char, 4096> record{};
    period.type = 0;
    std::memcpy(record.data() + 1232, &period, sizeof period);
    custom = 7;
    get_time_period(record.data(), &w, &custom);
    EXPECT_EQ(custom, 7u);
    EXPECT_EQ(w.begin, at({2025, 5, 14}));
}

TEST_F(ReportTime, ZoneRefreshFollowsTheStore) {
    const std::string before = link_target("/etc/localtime");
    setenv("TZ", "Asia/Tokyo", 1);
    window(0); // nothing configured: nothing changes
    EXPECT_STREQ(getenv("TZ"), "Asia/Tokyo");
    EXPECT_EQ(link_target("/etc/localtime"), before);

    ASSERT_EQ(host_time_settings_store("Australia/Sydney", "Australia/Sydney", 0), 0);
    window(0);
    EXPECT_STREQ(getenv("TZ"), "Australia/Sydney");
    EXPECT_EQ(link_target("/etc/localtime"), "/etc/zoneinfo/Australia/Sydney");

    // Daylight saving on: the host's zone applies; "today" starts at its midnight.
    ASSERT_EQ(host_time_settings_store("America/New_York", "UTC", 1), 0);
    setenv("TZ", "America/New_York", 1);
    tzset();
    fixed_now = at({2025, 7, 4, 3});
    EXPECT_EQ(window(0).begin, at({2025, 7, 4}));
    EXPECT_EQ(link_target("/etc/localtime"), "/etc/zoneinfo/America/New_York");

    // A zone number without a name keeps the old link.
    std::string record = testkit::read_file(store.file("time_settings"));
    ASSERT_EQ(record.size(), 160u);
    std::memset(record.data() + 152, 0xff, 4);
    std::memset(record.data() + 156, 0, 4);
    ASSERT_TRUE(testkit::write_file(store.file("time_settings"), record));
    window(0);
    EXPECT_EQ(link_target("/etc/localtime"), "/etc/zoneinfo/America/New_York");
    EXPECT_STREQ(getenv("TZ"), "UTC");
}

TEST_F(ReportTime, TimeTypeBySpan) {
    use_zone("Europe/Berlin");
    std::array<unsigned char, 4096> record{};
    auto time_type = [&](uint32_t type, Local now) {
        fixed_now = at(now);
        std::memcpy(record.data() + 1236, &type, 4);
        auto settings = std::make_unique<rpt_settings>();
        EXPECT_EQ(get_report_settings_r(record.data(), settings.get()), 0);
        return settings->time_type;
    };
    EXPECT_EQ(time_type(0, {2025, 5, 14, 0, 59, 59}), 0u); // 3599 s
    EXPECT_EQ(time_type(0, {2025, 5, 14, 1, 0, 0}), 1u);   // 3600 s
    EXPECT_EQ(time_type(5, {2025, 5, 14, 9}), 2u);
    EXPECT_EQ(time_type(7, {2025, 5, 14, 9}), 3u);
    EXPECT_EQ(time_type(11, {2025, 5, 14, 9}), 4u);
}

TEST_F(ReportTime, ProgressFile) {
    testkit::TempDir dir;
    uint64_t start, end;
    int32_t percent;
    auto read = [&](const std::string &content) {
        EXPECT_TRUE(testkit::write_file(dir.file(".status"), content));
        start = 11, end = 22, percent = 33;
        int rc = get_start_end_percent(dir.path().c_str(), nullptr, &start, &end, &percent);
        return std::tuple<int, uint64_t, uint64_t, int32_t>(rc, start, end, percent);
    };
    using R = std::tuple<int, uint64_t, uint64_t, int32_t>;
    EXPECT_EQ(read("waiting for a slot\n1700000000\n"), R(-1, 11, 22, 33));
    EXPECT_EQ(read("1700000000\nscanning\nsecs: 12, 40% done\n"), R(1, 1700000000, 22, 40));
    EXPECT_EQ(read("1700000000\nsecs: 12, 40% done\n1700000077\n"),
              R(1, 1700000000, 1700000077, 33));
    EXPECT_EQ(read("1700000000"), R(1, 1700000000, 1700000000, 33));
    EXPECT_EQ(read(""), R(1, 11, 22, 33));
    EXPECT_EQ(get_start_end_percent("/nonexistent", nullptr, &start, &end, &percent), 0);
    EXPECT_EQ(get_start_end_percent(dir.path().c_str(), nullptr, nullptr, &end, &percent), 0);
}

// A report definition record with the fields the settings assembly reads.
struct Definition {
    std::array<unsigned char, HOST_REPORT_RECORD_SIZE> bytes{};
    template <typename T> void put(size_t offset, T value) {
        std::memcpy(bytes.data() + offset, &value, sizeof value);
    }
    void filter(const char *text) {
        std::strcpy(reinterpret_cast<char *>(bytes.data() + 1488), text);
    }
};

TEST_F(ReportTime, SettingsAssembly) {
    use_zone("Europe/Berlin");
    fixed_now = at({2024, 3, 2, 12});
    Definition def;
    def.put<uint32_t>(1236, 1); // yesterday: 2024-03-01, a whole day
    def.put<uint16_t>(198, 1);
    def.put<uint32_t>(1264, 0x5);
    def.put<uint8_t>(1268, 0x3);
    def.put<uint32_t>(1272, 0xdeadbeef);
    def.put<uint32_t>(1276, 42);
    def.put<uint64_t>(1288, 1u << 3);             // set 0, row 3: id 903
    def.put<uint64_t>(1288 + 24, 1 | 1ull << 34); // set 1, rows 0 and 34: ids 0, 37
    def.put<uint32_t>(2548, 0x3 | 0x20);
    auto settings = std::make_unique<rpt_settings>();
    std::memset(settings.get(), 0xa5, sizeof *settings);
    ASSERT_EQ(get_report_settings_r(def.bytes.data(), settings.get()), 0);

    EXPECT_STREQ(settings->log_filter,
                 "date-time>2024-02-29-23:59:59 date-time<2024-03-02-00:00:00 -pri=debug");
    const int64_t begin = at({2024, 3, 1}), end = at({2024, 3, 2}) - 1;
    EXPECT_EQ(settings->window.begin, begin);
    EXPECT_EQ(settings->window.end, end);
    EXPECT_EQ(settings->datetime_cond, "(datetime>" + std::to_string(begin - 1) + " and datetime<" +
                                           std::to_string(end + 1) + ") ");
    EXPECT_EQ(settings->time_type, 1u);
    EXPECT_EQ(settings->flags, 0x5u | 0x800 | 0x2000 | 0x4000 | 0x10 | 0x20);
    EXPECT_EQ(settings->output, def.bytes.data() + 2544);
    EXPECT_EQ(
        std::vector<uint32_t>(settings->query_ids, settings->query_ids + settings->query_count),
        (std::vector<uint32_t>{903, 0, 37}));
    EXPECT_EQ(settings->value1272, 0xdeadbeefu);
    EXPECT_EQ(settings->value1276, 42u);
    EXPECT_EQ(settings->assembled_at, fixed_now.load());
    const unsigned char *raw = reinterpret_cast<const unsigned char *>(settings.get());
    for (size_t i = 10308; i < 43080; ++i)
        ASSERT_EQ(raw[i], 0) << i;
    EXPECT_EQ(raw[2052] | raw[2053] | raw[2054] | raw[2055], 0);

    // The obfuscation switch is gated by byte 192; the filter string follows.
    def.put<uint32_t>(192, 1);
    def.filter("priN=='7'");
    ASSERT_EQ(get_report_settings_r(def.bytes.data(), settings.get()), 0);
    EXPECT_EQ(settings->flags & 0x2000, 0u);
    EXPECT_TRUE(std::string(settings->log_filter).ends_with(" -pri=debug pri=debug"))
        << settings->log_filter;

    // A window beginning at 0 keeps lo at 0 in both texts.
    const int16_t start[5] = {1960, 1, 1, 0, 0}, stop[5] = {2024, 3, 1, 0, 0};
    def.put<uint32_t>(1236, 16);
    std::memcpy(def.bytes.data() + 1244, start, sizeof start);
    std::memcpy(def.bytes.data() + 1254, stop, sizeof stop);
    ASSERT_EQ(get_report_settings_r(def.bytes.data(), settings.get()), 0);
    EXPECT_EQ(settings->window.begin, 0);
    EXPECT_TRUE(std::string(settings->log_filter).starts_with("date-time>1970-01-01-01:00:00 "));
    EXPECT_TRUE(std::string(settings->datetime_cond).starts_with("(datetime>0 and"))
        << settings->datetime_cond;

    EXPECT_EQ(get_report_settings_r(nullptr, settings.get()), -1);
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
        char *result = get_report_name(prefix, "dom");
        std::string text = result ? result : "(null)";
        std::free(result);
        return text;
    }
    const std::string dir = "/var/log/Reports_adom/dom";
};

TEST_F(ReportNames, PicksTheFirstFreeName) {
    const std::string base = "rpt-2025-05-14-1030";
    EXPECT_EQ(name(), base);
    testkit::write_file(dir + "/" + base, "a file does not block the name");
    EXPECT_EQ(name(), base);
    fs::remove(dir + "/" + base);
    fs::create_directory(dir + "/" + base);
    for (const char *taken : {"_001", "_002", "_003", "_004"})
        fs::create_directory(dir + "/" + base + taken);
    EXPECT_EQ(name(), base + "_005");
    fs::remove(dir + "/" + base + "_001");
    testkit::write_file(dir + "/" + base + "_001", "");
    EXPECT_EQ(name(), base + "_001");

    EXPECT_EQ(get_report_name("rpt", ""), nullptr);
    EXPECT_EQ(get_report_name("rpt", nullptr), nullptr);
    EXPECT_EQ(get_report_name(nullptr, "dom"), nullptr);
    // The name takes the configured zone's wall clock.
    ASSERT_EQ(host_time_settings_store("Australia/Sydney", "Australia/Sydney", 0), 0);
    EXPECT_EQ(name("x"), "x-2025-05-14-1830");
}

TEST_F(ReportNames, NoFreeNameGivesNull) {
    const std::string base = dir + "/rpt-2025-05-14-1030";
    fs::create_directory(base);
    char suffix[8];
    for (int i = 1; i <= 999; ++i) {
        std::snprintf(suffix, sizeof suffix, "_%.3d", i);
        fs::create_directory(base + suffix);
    }
    EXPECT_EQ(name(), "(null)");
    // A domain path that cannot hold directories has no free name either.
    fs::remove_all("/var/log/Reports_adom/dom");
    testkit::write_file("/var/log/Reports_adom/dom", "");
    EXPECT_EQ(name(), "(null)");
}

TEST_F(ReportNames, LogoCopies) {
    fs::create_directories("/migadmin/reportlogo/thumbs");
    testkit::write_file("/migadmin/reportlogo/thumbs/acme.PNG", "title image");
    testkit::write_file("/migadmin/reportlogo/thumbs/banner", "header image");
    std::array<char, 1200> logos{};
    std::strcpy(logos.data() + 396, "acme.PNG");
    std::strcpy(logos.data() + 780, "banner");
    testkit::TempDir out;
    copy_report_logo_files(out.path().c_str(), logos.data());
    EXPECT_EQ(testkit::read_file(out.file("_rpt_title_logo.png")), "title image");
    EXPECT_EQ(testkit::read_file(out.file("_rpt_header_logo")), "header image");

    testkit::TempDir empty;
    logos[396] = '\0';
    copy_report_logo_files(empty.path().c_str(), logos.data());
    copy_report_logo_files(empty.path().c_str(), nullptr);
    EXPECT_EQ(std::distance(fs::directory_iterator(empty.path()), fs::directory_iterator()), 1);
}

TEST(ReportNameText, ConversionsAndCharsets) {
    const char src[] = "a b\"c\\d!#$%&'()*,/;<>?e:|=+-.\xc3\xa9";
    char dst[sizeof src];
    convert_report_file_filename(src, dst);
    EXPECT_EQ(dst, "a_b_c_d" + std::string(15, '_') + "e:|=+-.\xc3\xa9");

    char out[8] = "xxxxxxx";
    EXPECT_EQ(convert_slash("a/b/c", out, 4), 0);
    EXPECT_STREQ(out, "a_b");
    EXPECT_EQ(convert_slash("a/b/c", out, 1), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(convert_slash(nullptr, out, sizeof out), -1);

    EXPECT_EQ(valid_report_name_string_charset("Weekly_report-2"), 0);
    EXPECT_EQ(valid_report_name_string_charset("weekly report"), -1);
    EXPECT_EQ(valid_report_name_string_charset("r\xc3\xa9sum\xc3\xa9"), -1);
    EXPECT_EQ(valid_report_name_string_charset(nullptr), -1);
    EXPECT_EQ(valid_section_title_string_charset("Top 10: attacks (all) ~"), 0);
    EXPECT_EQ(valid_section_title_string_charset("tab\there"), -1);
    EXPECT_EQ(valid_section_title_string_charset("del\x7f"), -1);
}

} // namespace
