// Report vocabulary, the host layer's file-backed store and crontab, schedules and
// running-report control. Runs inside throwaway_root.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "host/host_store.h"
#include "internal/report_record.hpp"
#include "logbase.h"
#include "report/host_api.h"
#include "testkit.hpp"

namespace {

namespace rec = lb::report_record;

using Record = std::vector<unsigned char>;

Record blank_record() {
    return Record(HOST_REPORT_RECORD_SIZE, 0);
}

template <typename T> void put(Record &record, size_t offset, T value) {
    std::memcpy(record.data() + offset, &value, sizeof value);
}

std::vector<uint32_t> query_ids(const Record &record) {
    std::vector<uint32_t> ids(512, 0xdeadbeef);
    uint32_t count = 9999;
    get_qryset(record.data(), ids.data(), &count);
    ids.resize(count);
    return ids;
}

TEST(ReportVocabulary, FormatNames) {
    EXPECT_STREQ(rptfmttype_names(0x1F, nullptr), "html,pdf,rtf,txt,mht");
    EXPECT_STREQ(rptfmttype_names(0x5, ";"), "html;rtf");
    EXPECT_STREQ(rptfmttype_names(0x3, "::"), "html,pdf");
    EXPECT_STREQ(rptfmttype_names(0x20, nullptr), "");
    rptfmttype_names(0x1F, "|");
    EXPECT_STREQ(rptfmttype_names(0, nullptr), "");
    EXPECT_STREQ(rptfmttype_names(0xFFFFFFF0u, "-"), "mht");
}

TEST(ReportVocabulary, NameLookups) {
    EXPECT_EQ(rptelemtype_val("rptsum"), 7);
    EXPECT_STREQ(rptelemtype_nm(7), "sr");
    EXPECT_STREQ(rptelemtype_nm(4), "rs");
    EXPECT_EQ(rptelemtype_val("sr"), -1);
    EXPECT_EQ(rptelemtype_val(nullptr), -1);
    EXPECT_STREQ(rptelemtype_name(3), "fltrstr");
    EXPECT_EQ(rptelemtype_name(8), nullptr);
    EXPECT_EQ(rptelemtype_nm(8), nullptr);

    for (uint32_t type = 0; type < 16; ++type)
        EXPECT_EQ(rptpertype_val(rptpertype_name(type)), type);
    EXPECT_STREQ(rptpertype_name(12), "last-n-weeks");
    EXPECT_EQ(rptpertype_name(16), nullptr);
    EXPECT_EQ(rptpertype_val("custom"), 16u);
    EXPECT_EQ(rptpertype_val("Today"), 16u);
    EXPECT_EQ(rptpertype_val(nullptr), 16u);

    EXPECT_STREQ(rptoutsvr_name(2), "SCP");
    EXPECT_EQ(rptoutsvr_name(3), nullptr);

    EXPECT_EQ(is_var_by_time("idate"), 1);
    EXPECT_EQ(is_var_by_time("imday"), 1);
    EXPECT_EQ(is_var_by_time("ihours"), 0);
    EXPECT_EQ(is_var_by_time("IHOUR"), 0);
    EXPECT_EQ(is_var_by_time(nullptr), 0);
    for (auto [scale, want] : {std::pair{1, 24}, {2, 7}, {3, 31}, {0, 10}, {4, 10}})
        EXPECT_EQ(timescale_topn(scale, 10), want) << scale;
}

TEST(ReportVocabulary, ChartSelection) {
    Record record = blank_record();
    EXPECT_TRUE(query_ids(record).empty());

    put(record, rec::kChartSelection, uint64_t{1} << 3);
    put(record, rec::kChartSelection + rec::kChartWordsPerSet * 8, 1 | uint64_t{1} << 34);
    EXPECT_EQ(query_ids(record), (std::vector<uint32_t>{903, 0, 37}));

    // Every row of every set, in set and row order; bits past a set's rows
    // (here in its second and third words) select nothing.
    Record all = blank_record();
    for (size_t at = rec::kChartSelection; at < rec::kChartSelection + 96; ++at)
        all[at] = 0xFF;
    std::vector<uint32_t> ids = query_ids(all);
    ASSERT_EQ(ids.size(), 84u);
    EXPECT_EQ(std::vector<uint32_t>(ids.begin(), ids.begin() + 5),
              (std::vector<uint32_t>{900, 901, 902, 903, 0}));
    EXPECT_EQ(ids[4 + 6], 7u);   // set 1 skips id 6
    EXPECT_EQ(ids[4 + 17], 20u); // and 18, 19
    EXPECT_EQ(ids[4 + 35], 1800u);
    EXPECT_EQ(ids[4 + 35 + 20], 3600u);
    EXPECT_EQ(ids.back(), 3624u);

    uint32_t untouched = 7;
    get_qryset(record.data(), nullptr, &untouched);
    EXPECT_EQ(untouched, 7u);
}

// The host store and crontab of a private directory.
class HostStore : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("LOGBASE_HOST_DIR", dir_.path().c_str(), 1);
        setenv("LOGBASE_CRONTAB", crontab_.c_str(), 1);
    }
    void TearDown() override { unsetenv("LOGBASE_HOST_DIR"), unsetenv("LOGBASE_CRONTAB"); }

    void store_schedule(const char *name, uint32_t kind, uint32_t weekdays, uint64_t month_days,
                        int16_t hour, int16_t minute) {
        Record record = blank_record();
        put(record, rec::kScheduleKind, kind);
        put(record, rec::kScheduleWeekdays, weekdays);
        put(record, rec::kScheduleMonthDays, month_days);
        put(record, rec::kScheduleHour, hour);
        put(record, rec::kScheduleMinute, minute);
        ASSERT_EQ(host_report_store(name, record.data(), record.size()), 0);
    }

    std::string crontab() const { return testkit::read_file(crontab_); }

    // Debian's crontab command checks the file as a user crontab (dry run).
    static int crontab_check(const std::string &path) {
        return std::system(("crontab -n " + path + " >/dev/null 2>&1").c_str());
    }

    testkit::TempDir dir_;
    std::string crontab_ = dir_.file("spool/crontab");
};

TEST_F(HostStore, RecordsAreKeptByteForByte) {
    Record record = blank_record();
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(host_report_store("weekly-1", record.data(), record.size()), 0);
    EXPECT_EQ(testkit::read_file(dir_.file("reports/weekly-1")),
              std::string(record.begin(), record.end()));

    const auto *found = static_cast<const unsigned char *>(rpt_get("weekly-1"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(Record(found, found + record.size()), record);

    // A later query refreshes the same record in place.
    record[0] = 0xAB;
    ASSERT_EQ(host_report_store("weekly-1", record.data(), record.size()), 0);
    EXPECT_EQ(rpt_get("weekly-1"), found);
    EXPECT_EQ(found[0], 0xAB);

    EXPECT_EQ(rpt_get("absent"), nullptr);
    EXPECT_EQ(rpt_get(nullptr), nullptr);
    EXPECT_EQ(host_report_store("../escape", record.data(), record.size()), -1);
    EXPECT_EQ(host_report_store("short", record.data(), 100), -1);
    ASSERT_TRUE(testkit::write_file(dir_.file("reports/truncated"), "abc"));
    EXPECT_EQ(rpt_get("truncated"), nullptr);
    EXPECT_EQ(cmf_query_do_table_find(nCfg_query(CFG_TABLE_REPORTS), 1, "weekly-1", 2), nullptr);
}

TEST_F(HostStore, TimeSettingsOnlyWhenConfigured) {
    void *table = nCfg_query(CFG_TABLE_TIME_SETTINGS);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(cmf_query_update(table), nullptr);

    ASSERT_EQ(host_time_settings_store("Australia/Sydney", "AEST-10", 0), 0);
    const auto *settings = static_cast<const unsigned char *>(cmf_query_update(table));
    ASSERT_NE(settings, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(settings + TIME_SETTINGS_TZ_TEXT), "AEST-10");
    EXPECT_STREQ(get_zoneinfo(rec::field<uint32_t>(settings, TIME_SETTINGS_ZONE)),
                 "Australia/Sydney");
    EXPECT_EQ(rec::field<uint32_t>(settings, TIME_SETTINGS_DST), 0u);

    ASSERT_EQ(host_time_settings_store("America/New_York", "EST5", 1), 0);
    ncfg_active_dayst();
    EXPECT_STREQ(getenv("TZ"), ":/etc/zoneinfo/America/New_York");
    unsetenv("TZ");

    EXPECT_EQ(host_time_settings_store("Mars/Olympus", "X", 0), -1);
    EXPECT_EQ(get_zoneinfo(100000), nullptr);
    ASSERT_EQ(host_time_settings_remove(), 0);
    EXPECT_EQ(cmf_query_update(table), nullptr);
}

TEST_F(HostStore, FileServices) {
    EXPECT_STREQ(image_file_ext("/migadmin/reportlogo/thumbs/logo.PNG"), ".png");
    EXPECT_STREQ(image_file_ext("a.b/logo.jpeg"), ".jpeg");
    EXPECT_EQ(image_file_ext("a.png/logo"), nullptr);
    EXPECT_EQ(image_file_ext("notes.txt"), nullptr);

    ASSERT_TRUE(testkit::write_file(dir_.file("src"), std::string("\x89PNG\0\1", 6)));
    EXPECT_EQ(copy_file(dir_.file("src").c_str(), dir_.file("out/copy").c_str()), 0);
    EXPECT_EQ(testkit::read_file(dir_.file("out/copy")), std::string("\x89PNG\0\1", 6));
    EXPECT_EQ(copy_file(dir_.file("missing").c_str(), dir_.file("x").c_str()), -1);

    unsigned char array[16];
    std::memset(array, 0x55, sizeof array);
    str_array_init(array);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(array), 16), std::string(16, '\0'));
}

TEST_F(HostStore, SchedulesBecomeCrontabLines) {
    store_schedule("wk", 2, 0x2A, 0, 7, 30);
    store_schedule("md", 3, 0, (1u << 1) | (1u << 15), 24, 0);
    store_schedule("daily", 1, 0, 0, 23, 59);
    add_report_to_cron("wk", "root");
    add_report_to_cron("md", "adom%1");
    add_report_to_cron("daily", "root");
    EXPECT_EQ(crontab(), "30 7 * * 1,3,5 /bin/run_sch_rpt add wk root\n"
                         "0 0 1,15 * * /bin/run_sch_rpt add md adom\\%1\n"
                         "59 23 * * * /bin/run_sch_rpt add daily root\n");
    EXPECT_EQ(crontab_check(crontab_), 0);

    // Replacing keeps the line's place; kind 0 and delete remove it.
    store_schedule("wk", 2, 0x41, 0, 24, 5);
    add_report_to_cron("wk", "root");
    store_schedule("daily", 0, 0, 0, 0, 0);
    add_report_to_cron("daily", "root");
    delete_report_from_cron("md", "adom%1");
    EXPECT_EQ(crontab(), "5 0 * * 0,6 /bin/run_sch_rpt add wk root\n");

    // A name the store does not hold, or a missing domain, changes nothing.
    add_report_to_cron("nobody", "root");
    add_report_to_cron("daily", "");
    delete_report_from_cron("wk", nullptr);
    EXPECT_EQ(crontab(), "5 0 * * 0,6 /bin/run_sch_rpt add wk root\n");
}

TEST_F(HostStore, UnschedulableEntriesLeaveNoLine) {
    const std::string kept = "# kept\nMAILTO=ops\n@reboot /bin/true\n";
    ASSERT_EQ(mkdir(dir_.file("spool").c_str(), 0755), 0);
    ASSERT_TRUE(testkit::write_file(crontab_, kept));
    // No weekday, no month day, an unknown kind or a minute cron cannot read: the old line
    // goes and no new one comes.
    for (auto [kind, minute] : {std::pair<uint32_t, int16_t>{2, 0}, {3, 0}, {4, 0}, {1, 60}}) {
        store_schedule("a", 2, 0x2, 0, 1, 0);
        add_report_to_cron("a", "root");
        ASSERT_NE(crontab(), kept);
        store_schedule("a", kind, 0, 0, 1, minute);
        add_report_to_cron("a", "root");
        EXPECT_EQ(crontab(), kept) << kind << " " << minute;
    }

    // A plain list of 63 characters still fits; every day of the month
    // does not, so it is written as a range.
    store_schedule("a", 3, 0, ((uint64_t{1} << 26) - 1) & ~uint64_t{3}, 6, 15);
    add_report_to_cron("a", "root");
    std::string days_2_to_25;
    for (int d = 2; d <= 25; ++d)
        days_2_to_25 += (d > 2 ? "," : "") + std::to_string(d);
    ASSERT_EQ(days_2_to_25.size(), 63u);
    EXPECT_NE(crontab().find("15 6 " + days_2_to_25 + " * * "), std::string::npos);
    store_schedule("a", 3, 0, 0xFFFFFFFEu, 6, 15);
    add_report_to_cron("a", "root");
    EXPECT_EQ(crontab(), kept + "15 6 1-31 * * /bin/run_sch_rpt add a root\n");
    EXPECT_EQ(crontab_check(crontab_), 0);

    // The check itself refuses what cron cannot read.
    ASSERT_TRUE(testkit::write_file(dir_.file("bad"), "61 * * * * /bin/true\n"));
    EXPECT_NE(crontab_check(dir_.file("bad")), 0);
}

// Children that live until a signal ends them.
pid_t sleeping_child() {
    pid_t pid = fork();
    if (pid == 0) _exit(pause());
    return pid;
}

int end_signal(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

TEST(RunningReport, PidFileProcessesGetSigint) {
    const std::string dir = "/var/log/tmprpts_adom/root/rep1";
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    pid_t first = sleeping_child(), second = sleeping_child();
    ASSERT_TRUE(
        testkit::write_file(dir + "/pid", std::to_string(first) + " " + std::to_string(second)));
    EXPECT_EQ(kill_running_report_process("root", "rep1"), 0);
    EXPECT_EQ(end_signal(first), SIGINT);
    EXPECT_EQ(end_signal(second), SIGINT);

    pid_t only = sleeping_child();
    ASSERT_TRUE(testkit::write_file(dir + "/pid", std::to_string(only) + "\n"));
    EXPECT_EQ(kill_running_report_process_ex("root", "rep1"), 0);
    EXPECT_EQ(end_signal(only), SIGINT);

    for (const char *content : {"0 0", "", "x 12"}) {
        ASSERT_TRUE(testkit::write_file(dir + "/pid", content));
        EXPECT_EQ(kill_running_report_process("root", "rep1"), -1) << content;
    }
    EXPECT_EQ(kill_running_report_process("root", "absent"), -1);
    EXPECT_EQ(kill_running_report_process("", "rep1"), -1);
    EXPECT_EQ(kill_running_report_process("root", nullptr), -1);
}

TEST(RunningReport, RegenerationStatus) {
    ASSERT_EQ(system("mkdir -p /drive0/private"), 0);
    const std::string work = "/drive0/private/.bin_work_done";
    char text[80];

    unlink(work.c_str());
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(retrieve_bin_status(text, sizeof text), -1);
    EXPECT_STREQ(text, "");

    ASSERT_TRUE(testkit::write_file(work, "1700000000 -5 10 4\n"));
    EXPECT_EQ(retrieve_bin_status(text, sizeof text), 0);
    EXPECT_STREQ(text, "6 of 10 binary files need to be regenerated.");
    EXPECT_EQ(retrieve_bin_status(text, 8), 0);
    EXPECT_STREQ(text, "6 of 10");

    int64_t a = 1, b = 1;
    int32_t total = 1, done = 1;
    EXPECT_EQ(retrieve_bin_work_data(".bin", &a, &b, &total, &done), 1);
    EXPECT_EQ(std::tuple(a, b, total), std::tuple(1700000000, -5, 10));
    EXPECT_EQ(retrieve_bin_work_data(".bin", nullptr, nullptr, nullptr, &done), 1);
    EXPECT_EQ(done, 4);

    ASSERT_TRUE(testkit::write_file(work, "1 2 10 10"));
    EXPECT_EQ(retrieve_bin_status(text, sizeof text), -1);
    EXPECT_STREQ(text, "0 of 10 binary files need to be regenerated.");

    // Values that are not there read as 0.
    ASSERT_TRUE(testkit::write_file(work, "7 8 3"));
    EXPECT_EQ(retrieve_bin_work_data(".bin", &a, &b, &total, &done), 1);
    EXPECT_EQ(std::tuple(a, b, total, done), std::tuple(7, 8, 3, 0));
    EXPECT_EQ(retrieve_bin_work_data("other", &a, &b, &total, &done), 0);
    EXPECT_EQ(retrieve_bin_work_data(nullptr, &a, &b, &total, &done), 0);
}

TEST(RunningReport, CoreLimitFollowsMarker) {
    const std::string marker = "/var/log/debug/logrpt_core_flag";
    unlink(marker.c_str());
    rlimit lowered{};
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &lowered), 0);
    lowered.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &lowered), 0);

    EXPECT_EQ(set_core_rlimit(), 0);
    rlimit now{};
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &now), 0);
    EXPECT_EQ(now.rlim_cur, 0u);

    ASSERT_EQ(system("mkdir -p /var/log/debug"), 0);
    ASSERT_TRUE(testkit::write_file(marker, ""));
    EXPECT_EQ(set_core_rlimit(), 0);
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &now), 0);
    EXPECT_EQ(now.rlim_cur, lowered.rlim_max);
    EXPECT_NE(now.rlim_cur, 0u);
}

} // namespace
