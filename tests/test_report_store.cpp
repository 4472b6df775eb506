// Report vocabulary, the host layer's file-backed store and crontab, schedules and
// running-report control. Runs inside throwaway_root.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "host_store.h"
#include "logbase.h"
#include "logbase_host.h"
#include "report_record.hpp"
#include "testkit.hpp"

namespace {

namespace rec = lb::report_record;

using Record = std::vector<unsigned char>;

TEST(ReportVocabulary, NamesLookupsAndChartSelection) {
    EXPECT_STREQ(rptfmttype_names(0x1F, nullptr), "html,pdf,rtf,txt,mht");
    EXPECT_STREQ(rptfmttype_names(0x3, "::"), "html,pdf"); // only one-character separators
    EXPECT_STREQ(rptfmttype_names(0xFFFFFFF5u, ";"), "html;rtf;mht");
    EXPECT_EQ(rptelemtype_val("rptsum"), 7);
    EXPECT_STREQ(rptelemtype_nm(7), "sr");
    for (uint32_t type = 0; type < 16; ++type)
        EXPECT_EQ(rptpertype_val(rptpertype_name(type)), type);
    EXPECT_EQ(rptpertype_name(16), nullptr);
    EXPECT_EQ(rptpertype_val("Today"), 16u);
    EXPECT_EQ(is_var_by_time("imday") - is_var_by_time("ihours"), 1);
    for (auto [scale, want] : {std::pair{1, 24}, {2, 7}, {3, 31}, {4, 10}})
        EXPECT_EQ(timescale_topn(scale, 10), want) << scale;

    // Every row of every set, in set and row order; bits past a set's rows
    // (here in its second and third words) select nothing.
    Record record(HOST_REPORT_RECORD_SIZE);
    std::fill_n(record.begin() + rec::kChartSelection, 96, 0xFF);
    std::vector<uint32_t> ids(512);
    uint32_t count = 0;
    get_qryset(record.data(), ids.data(), &count);
    ASSERT_EQ(count, 84u);
    EXPECT_EQ(std::vector<uint32_t>(ids.begin(), ids.begin() + 5),
              (std::vector<uint32_t>{900, 901, 902, 903, 0}));
    EXPECT_EQ(ids[4 + 6], 7u);   // set 1 skips id 6
    EXPECT_EQ(ids[4 + 17], 20u); // and 18, 19
    EXPECT_EQ(ids[83], 3624u);
}

class HostStore : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("LOGBASE_HOST_DIR", dir_.path().c_str(), 1);
        setenv("LOGBASE_CRONTAB", crontab_.c_str(), 1);
    }

    // Stores a report with this schedule and, given a domain, adds it to cron.
    static void schedule(const char *name, uint32_t kind, uint32_t weekdays, uint64_t month_days,
                         int16_t hour, int16_t minute, const char *domain = "root") {
        Record record(HOST_REPORT_RECORD_SIZE);
        rec::builder(record).schedule(kind, weekdays, month_days, hour, minute);
        ASSERT_EQ(host_report_store(name, record.data(), record.size()), 0);
        if (domain) add_report_to_cron(name, domain);
    }
    std::string crontab() const { return testkit::read_file(crontab_); }
    // The system's crontab command checks the file as a user crontab (dry run).
    static int crontab_check(const std::string &path) {
        return std::system(("crontab -n " + path + " >/dev/null 2>&1").c_str());
    }

    testkit::TempDir dir_;
    std::string crontab_ = dir_.file("spool/crontab");
};

TEST_F(HostStore, SchedulesBecomeCrontabLinesOrNone) {
    schedule("wk", 2, 0x2A, 0, 7, 30);
    schedule("md", 3, 0, (1u << 1) | (1u << 15), 24, 0, "adom%1");
    schedule("daily", 1, 0, 0, 23, 59);
    EXPECT_EQ(crontab(), "30 7 * * 1,3,5 /bin/run_sch_rpt add wk root\n"
                         "0 0 1,15 * * /bin/run_sch_rpt add md adom\\%1\n"
                         "59 23 * * * /bin/run_sch_rpt add daily root\n");
    EXPECT_EQ(crontab_check(crontab_), 0);

    // Replacing keeps the line's place; kind 0 and delete remove it.
    schedule("wk", 2, 0x41, 0, 24, 5);
    schedule("daily", 0, 0, 0, 0, 0);
    delete_report_from_cron("md", "adom%1");
    // A name the store does not hold, a missing domain, or a domain that could end the line or
    // reach the shell (the name and domain become shell words) changes nothing.
    add_report_to_cron("nobody", "root");
    delete_report_from_cron("wk", nullptr);
    for (const char *domain : {"a\n* * * * * /bin/sh", "root;reboot", "r t", "$(id)"})
        schedule("inj", 1, 0, 0, 1, 0, domain);
    EXPECT_EQ(crontab(), "5 0 * * 0,6 /bin/run_sch_rpt add wk root\n");

    // No weekday, no month day, an unknown kind or a minute cron cannot read: the old line
    // goes and no new one comes; other lines stay.
    const std::string kept = "# kept\nMAILTO=ops\n@reboot /bin/true\n";
    ASSERT_TRUE(testkit::write_file(crontab_, kept));
    for (auto [kind, minute] : {std::pair<uint32_t, int16_t>{2, 0}, {3, 0}, {4, 0}, {1, 60}}) {
        schedule("a", 2, 0x2, 0, 1, 0);
        ASSERT_NE(crontab(), kept);
        schedule("a", kind, 0, 0, 1, minute);
        EXPECT_EQ(crontab(), kept) << kind << " " << minute;
    }

    // A plain list of 63 characters still fits; every day of the month
    // does not, so it is written as a range.
    schedule("a", 3, 0, ((uint64_t{1} << 26) - 1) & ~uint64_t{3}, 6, 15);
    EXPECT_NE(
        crontab().find("15 6 2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25 "),
        std::string::npos);
    schedule("a", 3, 0, 0xFFFFFFFEu, 6, 15);
    EXPECT_EQ(crontab(), kept + "15 6 1-31 * * /bin/run_sch_rpt add a root\n");
    EXPECT_EQ(crontab_check(crontab_), 0);

    // The check itself refuses what cron cannot read.
    ASSERT_TRUE(testkit::write_file(dir_.file("bad"), "61 * * * * /bin/true\n"));
    EXPECT_NE(crontab_check(dir_.file("bad")), 0);
}

// Crontab and store files the service must not damage; a hang fails (each case has 5 s).
class CrontabFile : public HostStore {
  protected:
    void SetUp() override {
        HostStore::SetUp();
        alarm(5);
        ASSERT_EQ(mkdir(dir_.file("spool").c_str(), 0755), 0);
        ASSERT_TRUE(testkit::write_file(crontab_, kKept));
    }
    void TearDown() override { alarm(0); }
    static constexpr const char *kKept = "# 1 2 * * * /bin/run_sch_rpt add wk root\nMAILTO=ops\n";
};

TEST_F(CrontabFile, LongCommandChangesNothing) {
    // 127 characters fit; the domain "root-ab" would be cut to "root-",
    // the command of the other entry.
    const std::string name(100, 'n');
    schedule(name.c_str(), 1, 0, 0, 2, 0, "root-");
    const std::string before = crontab();
    ASSERT_NE(before.find(" " + name + " root-\n"), std::string::npos);
    add_report_to_cron(name.c_str(), "root-ab");
    delete_report_from_cron(name.c_str(), "root-ab");
    // A command ending in a blank could never be found again to replace.
    schedule("wk", 1, 0, 0, 3, 4, nullptr);
    add_report_to_cron("wk", "root ");
    EXPECT_EQ(crontab(), before);
}

// The service writes only entries cron reads and only commands it can find
// again; whatever it refuses leaves the file as it was.
TEST_F(CrontabFile, ServiceTakesOnlyWhatCronReads) {
    const struct {
        cron_entry entry;
        bool taken;
    } entries[] = {
        {{"*/15", "*", "*", "*", "*"}, true},   {{"0-30/10", "1,2", "1-31", "12", "7"}, true},
        {{"5/2", "*", "*", "*", "*"}, false},   {{"*/0", "*", "*", "*", "*"}, false},
        {{"*/60", "*", "*", "*", "*"}, false},  {{"30-10", "*", "*", "*", "*"}, false},
        {{"1-", "*", "*", "*", "*"}, false},    {{"60", "*", "*", "*", "*"}, false},
        {{"100", "*", "*", "*", "*"}, false},   {{"x", "*", "*", "*", "*"}, false},
        {{"1,", "*", "*", "*", "*"}, false},    {{"", "*", "*", "*", "*"}, false},
        {{nullptr, "*", "*", "*", "*"}, false}, {{"0", "24", "*", "*", "*"}, false},
        {{"0", "0", "0", "*", "*"}, false},     {{"0", "0", "*", "13", "*"}, false},
        {{"0", "0", "*", "*", "8"}, false},
    };
    for (const auto &[entry, taken] : entries) {
        EXPECT_EQ(update_crontab(CRON_ADD_OR_REPLACE, &entry, "/bin/job"), taken ? 0 : -1)
            << (entry.minute ? entry.minute : "(null)") << " " << entry.hour;
        const std::string line = std::string(entry.minute ? entry.minute : "") + " " + entry.hour +
                                 " " + entry.day_of_month + " " + entry.month + " " +
                                 entry.day_of_week + " /bin/job\n";
        EXPECT_EQ(crontab(), std::string(kKept) + (taken ? line : ""));
        ASSERT_EQ(update_crontab(CRON_REMOVE, nullptr, "/bin/job"), 0);
    }
    const cron_entry daily{"0", "1", "*", "*", "*"};
    for (const char *command :
         {"", "a\nb", "a\rb", " a", "a\t", static_cast<const char *>(nullptr)})
        EXPECT_EQ(update_crontab(CRON_ADD_OR_REPLACE, &daily, command), -1);
    EXPECT_EQ(update_crontab(3, &daily, "/bin/job"), -1);
    EXPECT_EQ(host_crontab_entry(nullptr), nullptr);
    EXPECT_EQ(crontab(), kKept);
}

// The file is written through a chain of links; the kept comment is no entry.
TEST_F(CrontabFile, LinkIsWrittenThroughAndCommentsAreNoEntries) {
    const char *command = "/bin/run_sch_rpt add wk root";
    EXPECT_EQ(host_crontab_entry(command), nullptr);
    const std::string target = dir_.file("spool/real"), link = dir_.file("spool/link");
    ASSERT_EQ(rename(crontab_.c_str(), target.c_str()), 0);
    ASSERT_EQ(symlink("real", link.c_str()), 0);
    ASSERT_EQ(symlink("link", crontab_.c_str()), 0); // a chain of two
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    schedule("wk", 1, 0, 0, 3, 4);
    struct stat st;
    ASSERT_EQ(lstat(crontab_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(stat(target.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0600u);
    EXPECT_EQ(testkit::read_file(target),
              std::string(kKept) + "4 3 * * * /bin/run_sch_rpt add wk root\n");
    char *line = host_crontab_entry(command);
    EXPECT_STREQ(line, "4 3 * * * /bin/run_sch_rpt add wk root");
    free(line);
    delete_report_from_cron("wk", "root");
    EXPECT_EQ(testkit::read_file(target), kKept);
}

// Run as a user that may write but not read the file (root reads anything).
TEST_F(CrontabFile, UnreadableOrOddFileIsLeftAlone) {
    schedule("wk", 1, 0, 0, 3, 4, nullptr);
    ASSERT_EQ(chmod(crontab_.c_str(), 0200), 0);
    ASSERT_EQ(system(("chown -R 65534 " + dir_.path()).c_str()), 0);
    pid_t pid = fork();
    if (pid == 0) {
        if (setuid(65534) != 0) _exit(1);
        add_report_to_cron("wk", "root");
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(crontab(), kKept);

    // A FIFO (no writer; the alarm ends a wait) or a folder is refused, not replaced.
    for (auto type : {S_IFIFO, S_IFDIR}) {
        ASSERT_EQ(remove(crontab_.c_str()), 0);
        ASSERT_EQ(type == S_IFIFO ? mkfifo(crontab_.c_str(), 0644) : mkdir(crontab_.c_str(), 0755),
                  0);
        add_report_to_cron("wk", "root");
        struct stat st;
        ASSERT_EQ(lstat(crontab_.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, type);
    }
    // A link to nothing is refused: no file, and no folder on its way.
    for (const char *target : {"gone", "/nowhere/else/crontab"}) {
        std::filesystem::remove_all(crontab_);
        ASSERT_EQ(symlink(target, crontab_.c_str()), 0);
        add_report_to_cron("wk", "root");
        EXPECT_FALSE(testkit::exists(dir_.file("spool/gone"))) << target;
    }
    EXPECT_FALSE(testkit::exists("/nowhere"));
}

TEST_F(CrontabFile, StoreKeepsRecordsAndSettingsAndRefusesFilesThatAreNot) {
    Record record(HOST_REPORT_RECORD_SIZE);
    std::iota(record.begin(), record.end(), 0);
    ASSERT_EQ(host_report_store("weekly-1", record.data(), record.size()), 0);
    const auto *found = static_cast<const unsigned char *>(rpt_get("weekly-1"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(Record(found, found + record.size()), record);
    // A later query refreshes the same record in place.
    record[0] = 0xAB;
    ASSERT_EQ(host_report_store("weekly-1", record.data(), record.size()), 0);
    EXPECT_EQ(rpt_get("weekly-1"), found);
    EXPECT_EQ(found[0], 0xAB);
    EXPECT_EQ(host_report_store("../escape", record.data(), record.size()), -1);
    EXPECT_EQ(host_report_store("weekly-2", nullptr, record.size()), -1);
    EXPECT_EQ(host_report_store("weekly-2", record.data(), record.size() - 1), -1);
    EXPECT_EQ(rpt_get("weekly-2"), nullptr);
    ASSERT_EQ(host_report_store("gone", record.data(), record.size()), 0);
    EXPECT_EQ(host_report_remove("gone"), 0);
    EXPECT_EQ(rpt_get("gone"), nullptr);
    EXPECT_EQ(host_report_remove("gone"), -1);
    EXPECT_EQ(host_report_remove("../gone"), -1);
    // The store answers exact lookups of names of its two tables only.
    void *reports = nCfg_query(CFG_TABLE_REPORTS);
    EXPECT_EQ(cmf_query_do_table_find(reports, 0, "weekly-1", 2), found);
    EXPECT_EQ(cmf_query_do_table_find(reports, 1, "weekly-1", 2), nullptr);
    EXPECT_EQ(cmf_query_do_table_find(reports, 0, "weekly-1", 1), nullptr);
    EXPECT_EQ(cmf_query_do_table_find(nCfg_query(CFG_TABLE_TIME_SETTINGS), 0, "weekly-1", 2),
              nullptr);
    EXPECT_EQ(nCfg_query(-1), nullptr);

    // Short, long, device and FIFO files are no records.
    ASSERT_TRUE(testkit::write_file(dir_.file("reports/truncated"), "abc"));
    ASSERT_TRUE(testkit::write_file(dir_.file("reports/long"), std::string(1 << 20, 'x')));
    ASSERT_EQ(symlink("/dev/zero", dir_.file("reports/zero").c_str()), 0);
    for (const char *name : {"truncated", "long", "zero"})
        EXPECT_EQ(rpt_get(name), nullptr) << name;
    EXPECT_EQ(copy_file("/dev/zero", dir_.file("copy").c_str()), -1);

    // Time settings exist only when configured, and never as a FIFO.
    void *table = nCfg_query(CFG_TABLE_TIME_SETTINGS);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(cmf_query_update(table), nullptr);

    ASSERT_EQ(host_time_settings_store("Australia/Sydney", "AEST-10", 0), 0);
    const auto *settings = static_cast<const unsigned char *>(cmf_query_update(table));
    ASSERT_NE(settings, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(settings + TIME_SETTINGS_TZ_TEXT), "AEST-10");
    EXPECT_STREQ(get_zoneinfo(rec::field<uint32_t>(settings, TIME_SETTINGS_ZONE)),
                 "Australia/Sydney");

    EXPECT_EQ(host_time_settings_store("Mars/Olympus", "X", 0), -1);
    EXPECT_EQ(host_time_settings_store("Australia/Sydney", nullptr, 0), -1);
    EXPECT_EQ(host_time_settings_store("Australia/Sydney", std::string(999, 'A').c_str(), 0), -1);
    EXPECT_EQ(host_zone_number(nullptr), -1);
    ASSERT_EQ(host_time_settings_remove(), 0);
    EXPECT_EQ(cmf_query_update(table), nullptr);
    ASSERT_EQ(mkfifo(dir_.file("time_settings").c_str(), 0644), 0);
    EXPECT_EQ(cmf_query_update(table), nullptr);

    EXPECT_STREQ(image_file_ext("a.b/logo.PNG"), ".png");
    EXPECT_EQ(image_file_ext("a.png/logo"), nullptr);
    ASSERT_TRUE(testkit::write_file(dir_.file("src"), std::string("\x89PNG\0\1", 6)));
    EXPECT_EQ(copy_file(dir_.file("src").c_str(), dir_.file("out/copy").c_str()), 0);
    EXPECT_EQ(testkit::read_file(dir_.file("out/copy")), std::string("\x89PNG\0\1", 6));
}

// Logo names are file names in the logo folder: a name that climbs out of
// it or fills its field without a terminator copies nothing.
TEST(ReportLogos, OnlyPlainNamesInTheirField) {
    const std::string thumbs = "/migadmin/reportlogo/thumbs", out = "/migadmin/out";
    ASSERT_TRUE(testkit::write_file(thumbs + "/t.png", "title"));
    ASSERT_TRUE(testkit::write_file("/migadmin/secret", "not a logo"));
    namespace logo = lb::logo_record;
    Record logos(logo::kSize); // the header name's field ends the record
    std::strcpy(reinterpret_cast<char *>(&logos[logo::kTitleLogo]), "t.png");
    std::strcpy(reinterpret_cast<char *>(&logos[logo::kHeaderLogo]), "../../secret");
    copy_report_logo_files(out.c_str(), logos.data());
    EXPECT_EQ(testkit::read_file(out + "/_rpt_title_logo.png"), "title");
    EXPECT_EQ(access((out + "/_rpt_header_logo").c_str(), F_OK), -1);

    std::fill(logos.begin() + logo::kHeaderLogo, logos.end(), 'a');
    copy_report_logo_files(out.c_str(), logos.data());
    EXPECT_EQ(access((out + "/_rpt_header_logo").c_str(), F_OK), -1);
}

// A child that lives until a signal ends it.
pid_t sleeping_child() {
    pid_t pid = fork();
    return pid == 0 ? _exit(pause()), 0 : pid;
}

int end_signal(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// Listed processes get SIGINT; names that leave the running-reports folder, unclean ids and
// a pid file that is no regular file signal nothing.
TEST(RunningReport, PidFileProcessesGetSigintAndNothingElseDoes) {
    const std::string pid_file = "/var/log/tmprpts_adom/root/rep1/pid";
    pid_t first = sleeping_child(), second = sleeping_child(), only = sleeping_child();
    ASSERT_TRUE(
        testkit::write_file(pid_file, std::to_string(first) + " " + std::to_string(second)));
    EXPECT_EQ(kill_running_report_process("root", "rep1"), 0);
    ASSERT_TRUE(testkit::write_file(pid_file, std::to_string(only) + "\n"));
    EXPECT_EQ(kill_running_report_process_ex("root", "rep1"), 0);
    for (pid_t pid : {first, second, only})
        EXPECT_EQ(end_signal(pid), SIGINT) << pid;

    unlink(pid_file.c_str());
    const std::string id = std::to_string(sleeping_child());
    for (const auto &[file, content] : {std::pair{"/var/log/escape/pid", id},
                                        {pid_file.c_str(), id + "x"},
                                        {pid_file.c_str(), "+" + id},
                                        {pid_file.c_str(), std::string("0 x")}}) {
        ASSERT_TRUE(testkit::write_file(file, content));
        EXPECT_EQ(kill_running_report_process("..", "escape"), -1);
        EXPECT_EQ(kill_running_report_process("root", "rep1"), -1) << content;
    }
    ::kill(std::stoi(id), SIGKILL);
    EXPECT_EQ(end_signal(std::stoi(id)), SIGKILL); // the child saw no SIGINT
    unlink(pid_file.c_str());
    ASSERT_EQ(mkfifo(pid_file.c_str(), 0600), 0);
    EXPECT_EQ(kill_running_report_process("root", "rep1"), -1); // without waiting for a writer
}

// A pid file naming PID 1 must not reach init: PID 1 of a private PID
// namespace stands in for it and notes any SIGINT.
volatile sig_atomic_t init_signalled = 0;

TEST(RunningReport, NeverSignalsInit) {
    ASSERT_TRUE(testkit::write_file("/var/log/tmprpts_adom/root/rep3/pid", "1 1"));
    pid_t outer = fork();
    if (outer == 0) {
        if (unshare(CLONE_NEWPID) != 0) _exit(3);
        pid_t init = fork();
        if (init == 0) {
            signal(SIGINT, [](int) { init_signalled = 1; });
            int rc = kill_running_report_process("root", "rep3");
            _exit(init_signalled ? 1 : rc == -1 ? 0 : 2);
        }
        int status = 0;
        _exit(waitpid(init, &status, 0) == init && WIFEXITED(status) ? WEXITSTATUS(status) : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(outer, &status, 0), outer);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
}

TEST(RunningReport, RegenerationStatusAndCoreLimit) {
    const std::string work = "/drive0/private/.bin_work_done";
    char text[80];
    unlink(work.c_str());
    EXPECT_EQ(retrieve_bin_status(text, sizeof text), -1);
    ASSERT_TRUE(testkit::write_file(work, "1700000000 -5 10 4\n"));
    EXPECT_EQ(retrieve_bin_status(text, 8), 0);
    EXPECT_STREQ(text, "6 of 10");
    ASSERT_TRUE(testkit::write_file(work, "1 2 10 10"));
    EXPECT_EQ(retrieve_bin_status(text, sizeof text), -1);
    EXPECT_STREQ(text, "0 of 10 binary files need to be regenerated.");
    // Values that are not there read as 0.
    int64_t a = 1, b = 1;
    int32_t total = 1, done = 1;
    ASSERT_TRUE(testkit::write_file(work, "7 -8 3"));
    EXPECT_EQ(retrieve_bin_work_data(".bin", &a, &b, &total, &done), 1);
    EXPECT_EQ(std::tuple(a, b, total, done), std::tuple(7, -8, 3, 0));

    // Without the marker the soft core limit stays; with it, it rises to the hard limit.
    const std::string marker = "/var/log/debug/logrpt_core_flag";
    unlink(marker.c_str());
    rlimit lowered{}, now{};
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &lowered), 0);
    ASSERT_NE(lowered.rlim_max, 0u); // else a raise could not show
    lowered.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &lowered), 0);
    for (bool marked : {false, true}) {
        EXPECT_EQ(set_core_rlimit(), 0);
        ASSERT_EQ(getrlimit(RLIMIT_CORE, &now), 0);
        EXPECT_EQ(now.rlim_cur, marked ? lowered.rlim_max : 0u);
        ASSERT_TRUE(testkit::write_file(marker, ""));
    }
}

} // namespace
