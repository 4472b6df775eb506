// Report periods, settings and names in real tzdata zones. Runs inside throwaway_root: it
// rewrites /etc/localtime and makes /etc/zoneinfo and /var/log/Reports_adom directories.
// The time() below fixes "now": an executable's definition interposes the library's calls.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "host_store.h"
#include "logbase.h"
#include "report_record.hpp"
#include "testkit.hpp"

static std::atomic<int64_t> fixed_now{INT64_MIN};

extern "C" time_t time(time_t *out) {
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    const time_t now = fixed_now != INT64_MIN ? static_cast<time_t>(fixed_now.load()) : real.tv_sec;
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
    void TearDown() override { fixed_now = INT64_MIN; }
    // The store's zone and the test's own conversions alike; use_tz leaves the store unset, so
    // the process's zone applies.
    void use_zone(const char *zone) {
        ASSERT_EQ(host_time_settings_store(zone, zone, 0), 0);
        setenv("TZ", zone, 1), tzset();
    }
    static void use_tz(const char *zone) {
        host_time_settings_remove();
        setenv("TZ", zone, 1), tzset();
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

// Last-N-hours windows at `now`, as wall-clock begin and (end + 1 s): hours are wall-clock
// hours across a change, also one of 30 minutes in Lord Howe. No zone: each of kZones through
// the store; a zone: that one as the process's own, the store unset. The calendar types are
// checked in every zone below.
struct Case {
    int n;
    Local begin, after_end, now;
    const char *zone = nullptr;
};

const Case kCases[] = {
    {5, {2025, 4, 9, 5}, {2025, 4, 9, 10}, {2025, 4, 9, 10, 30}},
    {5, {2025, 3, 30, 0}, {2025, 3, 30, 5}, {2025, 3, 30, 5, 30}},
    {1, {2025, 10, 5, 1, 30}, {2025, 10, 5, 2, 30}, {2025, 10, 5, 2, 45}, "Australia/Lord_Howe"},
};

TEST_F(ReportTime, LastHoursCountWallClockHoursInRealZones) {
    for (const Case &c : kCases)
        for (const char *zone : c.zone ? std::span<const char *const>(&c.zone, 1) : kZones) {
            c.zone ? use_tz(zone) : use_zone(zone);
            SCOPED_TRACE(testing::Message() << zone << " " << c.now.mo);
            fixed_now = at(c.now);
            EXPECT_EQ(window(RPT_PERIOD_LAST_N_HOURS, c.n).begin, at(c.begin));
            EXPECT_EQ(window(RPT_PERIOD_LAST_N_HOURS, c.n).end, at(c.after_end) - 1);
        }
}

// Every zone file of the system's tzdata against a reference that follows the zone's clock
// through its offset changes.
namespace tz {

long offset(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm broken {};
    return localtime_r(&tt, &broken) != nullptr ? broken.tm_gmtoff : 0;
}

// The instant in (lo, hi] where the offset first differs from lo's, given that it does at hi.
int64_t pin(int64_t lo, int64_t hi) {
    for (const long before = offset(lo); hi - lo > 1;)
        (offset(lo + (hi - lo) / 2) == before ? lo : hi) = lo + (hi - lo) / 2;
    return hi;
}

// Offset changes in [from, to): probes `step` apart, each change found pinned to its second.
// With a step of a day none is missed: tzdata keeps a zone's changes days apart.
std::vector<int64_t> changes(int64_t from, int64_t to, int64_t step) {
    std::vector<int64_t> found;
    for (int64_t lo = from; lo < to; lo += step)
        if (offset(lo) != offset(lo + step)) found.push_back(pin(lo, lo + step));
    return found;
}

// First instant at which the wall clock reads `midnight` (wall-clock seconds) or later:
// between changes the clock runs evenly from the offset in force, at a change it jumps.
int64_t first_instant(int64_t midnight) {
    int64_t t = midnight - 2 * 86400; // the clock surely reads earlier
    const std::vector<int64_t> found = changes(t, midnight + 86400, 86400);
    for (auto next = found.begin();; t = *next++) {
        const long o = offset(t);
        if (t + o >= midnight) return t;
        if (next == found.end() || midnight - o < *next) return midnight - o;
    }
}

enum Unit { Day, Week, Month, Quarter, Year };

// Wall-clock seconds of the local midnight starting `unit`, `count` units before `now`'s.
int64_t midnight(const struct tm &now, Unit unit, int count) {
    struct tm f = now;
    f.tm_hour = f.tm_min = f.tm_sec = 0;
    if (unit == Day) f.tm_mday -= count;
    if (unit == Week) f.tm_mday -= now.tm_wday + 7 * count;
    if (unit >= Month) f.tm_mday = 1;
    if (unit == Month) f.tm_mon -= count;
    if (unit == Quarter) f.tm_mon -= f.tm_mon % 3 + 3 * count;
    if (unit == Year) f.tm_mon = 0;
    return timegm(&f);
}

// Calendar period types: their first unit back; a window reaching back ends where the current
// unit begins, one of count 0 ends now. kN stands for the period's count N.
constexpr int kN = -1;
constexpr std::tuple<int, Unit, int> kPeriods[] = {
    {0, Day, 0},   {1, Day, 1},    {3, Week, 0},     {4, Week, 1},     {5, Day, 7},
    {6, Day, kN},  {7, Week, 2},   {8, Day, 14},     {9, Month, 0},    {10, Month, 1},
    {11, Day, 30}, {12, Week, kN}, {13, Quarter, 0}, {14, Quarter, 1}, {15, Year, 0}};

// The zones of the system's tzdata, each with rules of its own (links name one of them).
std::vector<std::string> zones() {
    std::vector<std::string> names;
    std::ifstream in("/usr/share/zoneinfo/tzdata.zi");
    for (std::string kind, name; in >> kind; in.ignore(INT_MAX, '\n'))
        if (kind == "Z" && in >> name) names.push_back(name);
    return names;
}

} // namespace tz

TEST_F(ReportTime, CalendarWindowsInEveryZoneBeginAtTheLocalBoundary) {
    const std::vector<std::string> zones = tz::zones();
    ASSERT_GT(zones.size(), 300u);
    std::mt19937_64 random(7);
    size_t instants = 0;
    for (const std::string &zone : zones) {
        use_tz(zone.c_str());
        // Windows begin at 0 at the earliest: "now" from 1971 to 2100.
        const int64_t from = 31536000, to = 4102444800;
        // Around some of the changes (probed two months apart): the day, the day after, and
        // windows that span the change.
        const std::vector<int64_t> changes = tz::changes(from, to, 61 * 86400);
        std::vector<int64_t> nows;
        for (size_t i = 0; i < changes.size(); i += changes.size() / 8 + 1)
            for (int64_t delta : {-1, 0, 86400, 8 * 86400, 100 * 86400})
                nows.push_back(changes[i] + delta);
        for (int i = 0; i < 6; ++i)
            nows.push_back(from + int64_t(random() % uint64_t(to - from)));
        std::map<int64_t, int64_t> starts; // of local days, by wall-clock midnight
        auto start = [&](int64_t midnight) {
            auto [slot, fresh] = starts.try_emplace(midnight);
            return fresh ? slot->second = tz::first_instant(midnight) : slot->second;
        };
        for (int64_t now : nows) {
            ++instants;
            fixed_now = now;
            const time_t tt = static_cast<time_t>(now);
            struct tm local {};
            localtime_r(&tt, &local);
            const int n = 1 + static_cast<int>(instants % 20);
            for (const auto &[type, unit, back] : tz::kPeriods) {
                const int count = back == tz::kN ? n : back;
                const rpt_window want = {start(tz::midnight(local, unit, count)),
                                         back == 0 ? now : start(tz::midnight(local, unit, 0)) - 1};
                const rpt_window got = window(type, n);
                ASSERT_TRUE(got.begin == want.begin && got.end == want.end)
                    << zone << " at " << now << " type " << type << ": " << got.begin << ".."
                    << got.end << ", want " << want.begin << ".." << want.end;
            }
        }
    }
    RecordProperty("zones", static_cast<int>(zones.size()));
    RecordProperty("instants", static_cast<int>(instants));
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
    // An hour apart: the change skips one.
    EXPECT_EQ(std::tuple(custom, w.begin, w.end),
              std::tuple(1u, at({2025, 3, 30, 1, 30}), at({2025, 3, 30, 3, 30})));
    // No period or no report is an empty window; no window is no write.
    rptper_get_begend(&period, nullptr, &custom);
    rptper_get_begend(nullptr, &w, &custom);
    EXPECT_EQ(w.begin | w.end, 0);
    w = {5, 5};
    get_time_period(nullptr, &w, &custom);
    get_time_period(nullptr, nullptr, &custom);
    EXPECT_EQ(w.begin | w.end, 0);
}

TEST_F(ReportTime, ZoneRelinkFollowsTheStoreAndKeepsAWorkingLink) {
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
    ASSERT_EQ(link_target(), "/etc/zoneinfo/America/New_York");
    // A zone file that is not there leaves the old link.
    ASSERT_EQ(host_time_settings_store("Asia/Tokyo", "Asia/Tokyo", 0), 0);
    fs::rename("/etc/zoneinfo", "/etc/zoneinfo.away");
    window(0);
    EXPECT_EQ(link_target(), "/etc/zoneinfo/America/New_York");
    fs::rename("/etc/zoneinfo.away", "/etc/zoneinfo");

    // The link is replaced, never removed: a watcher never finds it missing.
    std::atomic<int> missing{0}, done{0};
    std::thread watcher([&] {
        for (struct stat st; !done;)
            missing += lstat("/etc/localtime", &st) != 0;
    });
    for (int i = 0; i < 1000; ++i)
        window(0);
    done = 1;
    watcher.join();
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(link_target(), "/etc/zoneinfo/Asia/Tokyo");
}

TEST_F(ReportTime, SettingsAssembly) {
    use_zone("Europe/Berlin");
    fixed_now = at({2024, 3, 2, 12});
    std::array<unsigned char, HOST_REPORT_RECORD_SIZE> def{};
    lb::report_record::builder record(def);
    // Yesterday: 2024-03-01, a whole day.
    record.period(RPT_PERIOD_YESTERDAY).obfuscate_users(true).scope(0x5, 0x3).output_formats(0x23);
    auto settings = std::make_unique<rpt_settings>();
    ASSERT_EQ(get_report_settings_r(def.data(), settings.get()), 0);

    EXPECT_STREQ(settings->log_filter,
                 "date-time>2024-02-29-23:59:59 date-time<2024-03-02-00:00:00 -pri=debug");
    EXPECT_EQ(settings->datetime_cond, "(datetime>" + std::to_string(at({2024, 3, 1}) - 1) +
                                           " and datetime<" + std::to_string(at({2024, 3, 2})) +
                                           ") ");
    EXPECT_EQ(settings->flags, 0x5u | 0x800 | 0x2000 | 0x4000 | 0x10 | 0x20);

    // Byte 192 gates obfuscation; a window beginning at 0 keeps lo at 0 in both texts.
    record.obfuscate_users(true, 1)
        .filter("priN=='7'")
        .custom({1960, 1, 1, 0, 0}, {2024, 3, 1, 0, 0});
    ASSERT_EQ(get_report_settings_r(def.data(), settings.get()), 0);
    EXPECT_EQ(settings->flags & 0x2000, 0u);
    EXPECT_STREQ(
        settings->log_filter,
        "date-time>1970-01-01-01:00:00 date-time<2024-03-01-00:00:01 -pri=debug pri=debug");
    EXPECT_TRUE(std::string(settings->datetime_cond).starts_with("(datetime>0 and"));

    // The time type follows the window's span.
    const std::tuple<uint32_t, int, uint32_t> types[] = {
        {0, 3599, 0}, {0, 3600, 1}, {5, 9 * 3600, 2}, {7, 9 * 3600, 3}, {11, 9 * 3600, 4}};
    for (const auto &[type, seconds, want] : types) {
        fixed_now = at({2025, 5, 14}) + seconds;
        record.period(type);
        ASSERT_EQ(get_report_settings_r(def.data(), settings.get()), 0);
        EXPECT_EQ(settings->time_type, want) << type;
    }
}

TEST_F(ReportTime, ReportNamesPickTheFirstFreeNameOrNull) {
    use_zone("Europe/Berlin");
    fixed_now = at({2025, 5, 14, 10, 30, 45});
    const std::string dir = "/var/log/Reports_adom/dom";
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto name = [](const char *prefix = "rpt", const char *domain = "dom") {
        char *got = get_report_name(prefix, domain);
        std::string text = got ? got : "(null)";
        std::free(got);
        return text;
    };
    const std::string path = dir + "/rpt-2025-05-14-1030";
    char suffix[8] = "";
    for (int i = 0; i <= 999; std::snprintf(suffix, sizeof suffix, "_%.3d", ++i))
        fs::create_directory(path + suffix);
    EXPECT_EQ(name(), "(null)");
    fs::remove(path + "_005");
    fs::remove(path + "_001");
    testkit::write_file(path + "_001", "a file does not block the name");
    EXPECT_EQ(name(), path.substr(dir.size() + 1) + "_001");
    // The configured zone's wall clock, and no suffix when free.
    ASSERT_EQ(host_time_settings_store("Australia/Sydney", "Australia/Sydney", 0), 0);
    EXPECT_EQ(name("x"), "x-2025-05-14-1830");
    // Names stay below the domain's folder; a prefix's folder stays on a suffixed name. A path
    // too long to hold, with or without a suffix, is no name.
    const std::string long_domain(4060, 'd'), longer_with_suffix(4053, 'd');
    for (auto [prefix, domain] : {std::pair{"x", ".."},
                                  {"x", "a/b"},
                                  {"../x", "dom"},
                                  {"a/../../x", "dom"},
                                  {"/x", "dom"},
                                  {"x", ""},
                                  {"x", long_domain.c_str()},
                                  {"x", longer_with_suffix.c_str()}})
        EXPECT_EQ(name(prefix, domain), "(null)") << prefix << " " << domain;
    fs::create_directories(dir + "/sub/x-2025-05-14-1830");
    EXPECT_EQ(name("sub/x"), "sub/x-2025-05-14-1830_001");
    // A domain path that cannot hold directories has no free name.
    fs::remove_all(dir);
    testkit::write_file(dir, "");
    EXPECT_EQ(name(), "(null)");
}

TEST(ReportText, ProgressFileAndFileNames) {
    testkit::TempDir dir;
    const std::string status = dir.file(".status");
    using R = std::tuple<int, uint64_t, uint64_t, int32_t>;
    auto read = [&](const char *from = nullptr) {
        uint64_t start = 11, end = 22;
        int32_t percent = 33;
        return R{get_start_end_percent(from ? from : dir.path().c_str(), nullptr, &start, &end,
                                       &percent),
                 start, end, percent};
    };
    for (auto [content, want] :
         {std::pair{"waiting for a slot\n1700000000\n", R(-1, 11, 22, 33)},
          {"1700000000\nscanning\nsecs: 12, 40% done\n", R(1, 1700000000, 22, 40)},
          {"1700000000\nsecs: 3\n1700000077\n", R(1, 1700000000, 1700000077, 33)}}) {
        ASSERT_TRUE(testkit::write_file(status, content));
        EXPECT_EQ(read(), want) << content;
    }
    EXPECT_EQ(read("/nonexistent"), R(0, 11, 22, 33));
    uint64_t start = 0;
    int32_t percent = 0;
    EXPECT_EQ(get_start_end_percent(nullptr, nullptr, &start, &start, &percent), 0);
    EXPECT_EQ(get_start_end_percent(dir.path().c_str(), nullptr, &start, nullptr, &percent), 0);
    // A device is refused; a FIFO neither blocks nor is read, though a writer feeds it.
    fs::remove(status);
    fs::create_symlink("/dev/null", status);
    EXPECT_EQ(read(), R(0, 11, 22, 33));
    fs::remove(status);
    ASSERT_EQ(mkfifo(status.c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);
    std::atomic<bool> over{false};
    std::thread writer([&] {
        for (int fd; !over; usleep(1000))
            if ((fd = open(status.c_str(), O_WRONLY | O_NONBLOCK)) >= 0)
                (void)!write(fd, "1700000000\n", 11), close(fd);
    });
    EXPECT_EQ(read(), R(0, 11, 22, 33));
    over = true;
    writer.join();

    const char src[] = "a b\"c\\d!#$%&'()*,/;<>?e:|=+-.\xc3\xa9";
    char dst[sizeof src], slashed[8] = "xxxxxxx";
    convert_report_file_filename(src, dst);
    EXPECT_EQ(dst, "a_b_c_d" + std::string(15, '_') + "e:|=+-.\xc3\xa9");
    EXPECT_EQ(convert_slash("a/b/c", slashed, 4), 0);
    EXPECT_STREQ(slashed, "a_b");
    EXPECT_EQ(valid_report_name_string_charset("Weekly_report-2"), 0);
    EXPECT_EQ(valid_report_name_string_charset("r\xc3\xa9sum\xc3\xa9"), -1);
    EXPECT_EQ(valid_section_title_string_charset("Top 10: attacks (all) ~"), 0);
    EXPECT_EQ(valid_section_title_string_charset("tab\there"), -1);
}

} // namespace
