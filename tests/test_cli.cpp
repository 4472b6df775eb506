// The logbase tool's conventions: usage errors, --version, "--", failures
// naming their cause, write errors, closed pipes, the terminal rules and the
// progress line, report definitions, pack, and the manual page.
#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <set>
#include <sstream>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "cli.hpp"
#include "logbase.h"
#include "logfile_writer.hpp"
#include "testkit.hpp"

namespace {

enum class Sink { kCapture, kFull, kPackets, kClosedPipe, kClosedPipeIgnored };

struct Outcome {
    int status; // 128 + N when killed by signal N
    std::string out, err;
    size_t writes = 0; // kPackets: a packet socket keeps writes apart
};

// Runs the tool with `args`, standard input from the path `in`, standard
// output into `sink` (or the descriptor `to`); `meanwhile` runs while it does.
Outcome tool(const std::vector<std::string> &args, Sink sink = Sink::kCapture,
             const std::string &in = "/dev/null", int to = -1,
             const std::function<void()> &meanwhile = {}) {
    testkit::TempDir dir;
    std::string out = dir.file("out"), err = dir.file("err");
    int fds[2] = {-1, -1}, input = open(in.c_str(), O_RDONLY | O_CLOEXEC), status = 0;
    if (sink == Sink::kPackets)
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    else if (sink >= Sink::kClosedPipe)
        EXPECT_EQ(pipe2(fds, O_CLOEXEC) | close(std::exchange(fds[0], -1)), 0);
    else
        fds[1] = to >= 0 ? fcntl(to, F_DUPFD_CLOEXEC, 3)
                         : open(sink == Sink::kFull ? "/dev/full" : out.c_str(),
                                O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    pid_t child = fork();
    if (child == 0) {
        std::vector<char *> argv{const_cast<char *>(LOGBASE_CLI)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        dup2(input, 0);
        dup2(fds[1], 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        if (sink == Sink::kClosedPipeIgnored) signal(SIGPIPE, SIG_IGN);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(input);
    close(fds[1]);
    if (meanwhile) meanwhile();
    size_t writes = 0;
    for (char packet[1 << 16]; read(fds[0], packet, sizeof packet) > 0;)
        ++writes;
    close(fds[0]);
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            testkit::read_file(out), testkit::read_file(err), writes};
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override { setenv("LOGBASE_HOST_DIR", dir_.path().c_str(), 1); }
    testkit::TempDir dir_;
};

TEST_F(Cli, UsageErrorsNameTheOptionAndOptionsEndAtDoubleDash) {
    // Each exits 2 with nothing on stdout and this text on stderr.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"info", "--raw"}, "logbase info: unknown option --raw\nusage:"},
        {{"hash", "x", "--init"}, "option --init needs a value"},
        {{"hash", "--init", "zz", "x"}, "option --init needs an unsigned 64-bit number"},
        {{"hash", "--init", "1", "--init=1", "x"}, "option --init is given more than once"},
        {{"filter", "a", "b"}, "logbase filter: expected one filter text\nusage:"},
        {{"period", "today", "--x=1"}, "unknown option --x"},
        {{"lang", "-q", "f", "s"}, "unknown option -q"},
        {{"pack", "--version", "13x"}, "needs a whole number from 0 to 999, not '13x'"},
        {{"pack", "lines.txt"}, "option --version is required"},
        {{"report", "define", "r", "--period", "today", "--formats", "pdf ,  gif "},
         "format 'gif'"},
        {{"report"}, "expected a subcommand"},
        {{"report", "frobnicate", "r"}, "unknown subcommand 'frobnicate'"},
        {{"report", "charts", "r"}, "report charts takes no NAME"},
        {{"report", "show"}, "expected a subcommand and a report NAME"},
        {{"report", "show", "a/b"}, "bad report name 'a/b'"},
        {{"report", "schedule", "r", "--domain", "a b"}, "option --domain: bad domain 'a b'"},
        {{"report", "define", "r"}, "--period is required"},
        {{"report", "define", "r", "--period", "fortnight"}, "unknown period 'fortnight'"},
        {{"report", "define", "r", "--period", "last-n-days"}, "period last-n-days needs --n N"},
        {{"report", "define", "r", "--period", "today", "--n", "2"}, "--n applies only to the"},
        {{"report", "define", "r", "--period", "last-n-days", "--n", "-1"}, "--n takes a whole"},
        {{"report", "define", "r", "--period", "today", "--end", "2026-01-01 00:00"},
         "--start and --end go together with the custom period"},
        {{"report", "define", "r", "--period", "today", "--charts", "nosuch"},
         "unknown chart 'nosuch'"},
        {{"report", "define", "r", "--period", "today", "--schedule", "hourly"},
         "unknown schedule 'hourly'"},
        {{"report", "define", "r", "--period", "today", "--time", "07:00"},
         "--days and --time need --schedule"},
        {{"report", "define", "r", "--period", "today", "--schedule", "daily", "--days", "1"},
         "--days goes with the weekdays and monthdays schedules"},
        {{"report", "define", "r", "--period", "today", "--schedule", "weekdays", "--days", "Mon"},
         "a schedule needs --time HH:MM"},
        {{"report", "define", "r", "--period", "today", "--schedule", "daily", "--time", "7"},
         "--time takes HH:MM"},
        {{"report", "define", "r", "--period", "today", "--schedule", "daily", "--time", "7:60"},
         "--time takes HH:MM"},
        {{"report", "define", "r", "--period", "today", "--schedule", "weekdays", "--days",
          "Mon,Funday", "--time", "1:00"},
         "--days of weekdays: bad day 'Funday'"},
        {{"report", "define", "r", "--period", "today", "--schedule", "monthdays", "--days", "0",
          "--time", "1:00"},
         "--days of monthdays: bad day '0'"},
        {{"report", "define", "r", "--period", "today", "--filter", std::string(2000, 'x')},
         "--filter holds at most"},
        {{"report", "preview", "r", "--category", "z"}, "--category takes a, t or e, not 'z'"},
        {{"report", "preview", "r", "--spreadsheet"}, "option --spreadsheet needs --csv"},
        {{"report", "preview", "r", "--fields", "date"}, "option --fields needs --csv"},
        {{"report", "preview", "r", "--csv", "--fields", "nosuch"}, "option --fields "},
        {{"report", "show", "r", "--period", "today"}, "--period does not apply to report show"},
        {{"cat", "--seq", "1", "--offset", "0"}, "option --offset does not go with --seq"},
        {{"parse", "--category", "z"}, "option --category takes a, t or e, not 'z'"},
        {{"csv", "--raw", "--fields", "date"}, "option --fields does not apply to csv --raw"},
        {{"csv", "--fields", "date,"}, "option --fields has an empty key"},
        {{"parse", "--fields", "date,src,date"}, "option --fields names key 'date' twice"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--version", "--bogus"}, "--version takes nothing after it, not '--bogus'"},
        {{"--version", "extra"}, "--version takes nothing after it, not 'extra'"},
        {{"--diagnostics", "loud", "info"}, "--diagnostics takes file, stderr or off, then a"},
        {{"--diagnostics", "off"}, "--diagnostics takes file, stderr or off, then a"},
        {{"csv", "--raw=yes"}, "option --raw takes no value"},
        {{"cat", "--bogus", "--worse"}, "unknown option --bogus\nusage:"},
        {{"count", "--where", "user!=bob"},
         "byte 4: '!' is no operator: negate with a leading "
         "'-'\n  user!=bob\n      ^\nusage: logbase count"},
        {{"csv", "--since", "2026-02-29"}, "option --since takes YYYY-MM-DD[ HH:MM[:SS]]"},
        {{"csv", "--since", "2024-02-29 23:59:60"}, "option --since takes YYYY-MM-DD"},
        {{"csv", "--until", "2026/11/20"}, "option --until takes YYYY-MM-DD"},
        {{"csv", "--until", "2026-11-20x08:00"}, "option --until takes YYYY-MM-DD"},
        {{"count", "--where", "user!=bob " + std::string(120, 'x')},
         "byte 4: '!' is no operator: negate with a leading '-'\nusage: logbase count"},
        {{"cat", "--since", "2026-11-20-08:00", "--until=2026-11-20T08:00"}, "--until must come"},
        {{"count", "--top", "3"}, "option --top needs --by"},
        {{"count", "--by", "src,nosuch"}, "option --by names an unknown key 'nosuch'"},
        {{"cat", "--category", "a"}, "option --category applies only with --where"},
        {{"report", "define", "r", "--period", "today", "--filter", "src=1.2.3.4"},
         "clauses the report engine does not read:\nbyte 0: src=1.2.3.4: not read"},
        {{"report", "settings", "r", "--csv"}, "option --csv does not apply to report settings"},
        {{"report", "show", "r", "--out", "x"}, "option --out does not apply to report show"},
        {{"report", "stop", "r", "x"}, "expected a subcommand and a report NAME"},
    };
    for (const auto &[args, err] : cases) {
        Outcome run = tool(args);
        EXPECT_EQ(std::tie(run.status, run.out), std::tuple(2, "")) << args[0] << " " << err;
        EXPECT_NE(run.err.find(err), std::string::npos) << args[0] << ": " << run.err;
    }
    // Without a command the overview goes to stderr; asked for, to stdout.
    Outcome none = tool({}), help = tool({"help"});
    EXPECT_NE(help.out, "");
    EXPECT_EQ(std::tie(none.status, none.err), std::tuple(2, help.out));
    EXPECT_EQ(tool({"--version"}).out, "logbase " LOGBASE_VERSION "\n");
    char line[32]; // after "--" every word is TEXT
    std::snprintf(line, sizeof line, "0x%016" PRIx64 "\n", lum_hash("--help", 6, 0));
    EXPECT_EQ(tool({"hash", "--init=0", "--", "--help"}).out, line);

    // A custom bound reads the same in "report define" and "period custom":
    // four digits of year from 1, nothing before or inside the fields.
    const std::pair<std::string, int> bounds[] = {{"0001-02-03T04:05", 0}, {"9999-12-31 23:59", 0},
                                                  {"+025-03-09 00:00", 2}, {"2025-3-09 00:00", 2},
                                                  {"2025-13-01 00:00", 2}, {"0000-01-01 00:00", 2}};
    // A window ending where (or before) it begins is said to be empty.
    for (const auto &[bound, status] : bounds)
        for (const std::string &end : {bound, std::string("2025-03-09 10:01")})
            for (const Outcome &run :
                 {tool({"period", "custom", bound, end}),
                  tool({"report", "define", "r", "--start", bound, "--end", end})})
                EXPECT_EQ(
                    std::tuple(run.status, run.err.find("window is empty") != std::string::npos),
                    std::tuple(status, status == 0 && end <= bound))
                    << bound << " " << end << ": " << run.err;
}

// A report definition reads back as given, its schedule becomes one crontab
// entry and goes again; what is missing or unreadable is named, with status 1.
TEST_F(Cli, ReportsReadBackAsDefinedAndFailuresNameTheirCause) {
    const std::string crontab = dir_.file("crontab");
    setenv("LOGBASE_CRONTAB", crontab.c_str(), 1);
    const struct {
        std::vector<std::string> define;
        std::vector<std::string> shown;
        std::string entry; // the crontab line, or none
    } reports[] = {
        {{"--period", "last-n-days", "--n", "3", "--schedule", "weekdays", "--days", "Fri, Mon",
          "--time", "7:30", "--formats", "pdf,html", "--charts", "pci-attacks-date-type",
          "--obfuscate-users"},
         {"period:    last-n-days, N = 3\n", "charts:    pci-attacks-date-type\n",
          "formats:   html,pdf\n", "schedule:  weekdays Mon,Fri at 07:30\n",
          "users:     obfuscated\n"},
         "30 7 * * 1,5 /bin/run_sch_rpt add r root"},
        {{"--period", "this-week", "--schedule", "monthdays", "--days", "31,1,15", "--time",
          "23:05"},
         {"period:    this-week\n", "charts:    (none)\n", "formats:   (none)\n",
          "schedule:  monthdays 1,15,31 at 23:05\n", "users:     shown\n"},
         "5 23 1,15,31 * * /bin/run_sch_rpt add r root"},
        {{"--period", "today", "--schedule", "daily", "--time", "00:00"},
         {"schedule:  daily at 00:00\n"},
         "0 0 * * * /bin/run_sch_rpt add r root"},
        {{"--period", "yesterday"}, {"period:    yesterday\n", "schedule:  none\n"}, ""},
    };
    for (const auto &r : reports) {
        std::vector<std::string> define = {"report", "define", "r"};
        define.insert(define.end(), r.define.begin(), r.define.end());
        ASSERT_EQ(tool(define).status, 0) << r.define[1];
        const std::string shown = tool({"report", "show", "r"}).out;
        for (const std::string &line : r.shown)
            EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
        EXPECT_EQ(tool({"report", "schedule", "r"}).out,
                  r.entry.empty() ? "r has no schedule; no entry in " + crontab + "\n"
                                  : crontab + ": " + r.entry + "\n");
        EXPECT_EQ(testkit::read_file(crontab), r.entry.empty() ? "" : r.entry + "\n");
        if (!r.entry.empty()) {
            EXPECT_EQ(tool({"report", "unschedule", "r"}).out,
                      "removed the entry of r from " + crontab + "\n");
        }
        EXPECT_EQ(tool({"report", "unschedule", "r"}).out, "r had no entry in " + crontab + "\n");
        EXPECT_EQ(testkit::read_file(crontab), "");
    }

    const std::string log = dir_.file("alog.log");
    ASSERT_TRUE(testkit::write_file(log, logfile_writer::log_file(13, {"date=1 \n", "date=2 \n"})));
    const std::string nameless = dir_.file("vlog.log"), no_equals = dir_.file("tlog.log"),
                      no_key = dir_.file("elog.log");
    ASSERT_TRUE(testkit::write_file(nameless, logfile_writer::log_file(13, {"date=1 \n"})) &&
                testkit::write_file(no_equals, logfile_writer::log_file(13, {"date \n"})) &&
                testkit::write_file(no_key, logfile_writer::log_file(13, {"=1 \n"})));
    const std::string longest(100, 'n'); // its command with the domain "domain" is 128 long
    ASSERT_EQ(tool({"report", "define", longest, "--period", "today"}).status, 0);
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"report", "show", "nosuch"}, "no report nosuch in " + dir_.path()},
        {{"report", "schedule", "nosuch"}, "no report nosuch in " + dir_.path()},
        {{"report", "schedule", longest, "--domain", "domain"},
         "is longer than 127 characters; " + crontab + " is unchanged"},
        {{"cat", "--seq", "2", log}, log + ": no record 2 (the file holds 2)"},
        {{"cat", "--offset", "3", log}, log + ": no record starts at offset 3"},
        {{"info", dir_.file("gone.log"), log}, "cannot open " + dir_.file("gone.log")},
        {{"parse", nameless}, "the log file name 'vlog.log' is of no category's letter"},
        {{"csv", log, no_equals},
         no_equals + ": its traffic records do not fit the attack columns of this output"},
        {{"pack", "--version", "13", "--out", log, dir_.file("gone.txt")},
         "cannot pack " + dir_.file("gone.txt") + ": cannot open it: No such file or directory"},
        {{"pack", "--version", "13", "--out", dir_.file("no/x.log"), "-"},
         "cannot pack standard input: cannot make a temporary file in " + dir_.file("no")},
        {{"parse", no_equals}, "record 0 does not parse: code -5 (no '=' after a key)"},
        {{"parse", no_key}, "code -3 (a key is not where the layout wants it)"},
    };
    auto fail = [](const std::vector<std::string> &args, const std::string &err) {
        Outcome run = tool(args);
        EXPECT_EQ(run.status, 1) << args[1];
        EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
    };
    for (const auto &[args, err] : failures)
        fail(args, err);
    // Several files each get a heading.
    const std::string body = tool({"cat", log}).out, heading = "==> " + log + " <==\n";
    EXPECT_EQ(tool({"cat", log, log}).out, heading + body + "\n" + heading + body);

    // A store and crontab on a file system that turned read-only.
    const std::string ro = dir_.file("ro");
    ASSERT_TRUE(std::filesystem::create_directory(ro));
    ASSERT_EQ(mount("tmpfs", ro.c_str(), "tmpfs", 0, "size=64k"), 0);
    setenv("LOGBASE_HOST_DIR", ro.c_str(), 1);
    setenv("LOGBASE_CRONTAB", (ro + "/crontab").c_str(), 1);
    for (const char *name : {"r", "q"})
        ASSERT_EQ(tool({"report", "define", name, "--period", "today", "--schedule", "daily",
                        "--time", "1:00"})
                      .status,
                  0);
    ASSERT_EQ(tool({"report", "schedule", "r"}).status, 0);
    ASSERT_EQ(mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    fail({"report", "define", "s", "--period", "today"}, "cannot write the definition of s into ");
    fail({"report", "schedule", "q"},
         "the schedule of q (daily at 01:00) cannot be written as a crontab entry");
    fail({"report", "unschedule", "r"}, "cannot update " + ro + "/crontab");
    umount2(ro.c_str(), MNT_DETACH);
}

// A named FIFO that nobody writes to is said to be one; with a writer it is
// read as any log file.
TEST_F(Cli, FifoWithoutWriterIsSaid) {
    std::string fifo = dir_.file("alog.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Outcome alone = tool({"info", fifo});
    EXPECT_EQ(std::tie(alone.status, alone.err),
              std::tuple(1, "logbase: " + fifo + ": nothing is writing to this FIFO\n"));
    int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    const std::string file = logfile_writer::log_file(13, {"date=1 \n"});
    Outcome fed = tool({"info", fifo}, Sink::kCapture, "/dev/null", -1, [&] {
        EXPECT_EQ(write(writer, file.data(), file.size()), static_cast<ssize_t>(file.size()));
        // The last close would drop what the tool has not read yet.
        for (int left = 1, tries = 0; left > 0 && tries < 1000; ++tries)
            if (ioctl(writer, FIONREAD, &left) != 0 || left > 0) usleep(10000);
        close(writer);
    });
    EXPECT_NE(fed.out.find("records:         1"), std::string::npos) << fed.err;
}

// info prints the header alone and reads nothing more: from a pipe whose
// header claims a large index it takes the 24 header bytes and leaves the
// index where it is, whether the index is one a pipe may hold (48 MB) or one
// refused as too large to hold (2^32-1 entries).
TEST_F(Cli, InfoReadsTheHeaderAlone) {
    for (uint32_t claimed : {6000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(claimed);
        const std::string bytes =
            logfile_writer::indexed_header(13, claimed) + std::string(16000, '\0');
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fds[1]);
        Outcome run = tool({"info", "-"}, Sink::kCapture, "/dev/fd/" + std::to_string(fds[0]));
        int left = -1;
        EXPECT_EQ(ioctl(fds[0], FIONREAD, &left), 0);
        close(fds[0]);
        EXPECT_EQ(left, static_cast<int>(bytes.size()) - 24) << run.err;
        if (claimed == 6000000u) {
            EXPECT_EQ(std::tie(run.status, run.err), std::tuple(0, "")) << run.err;
            EXPECT_NE(run.out.find("records:         6000000\nindex capacity:  6000000\n"),
                      std::string::npos)
                << run.out;
        } else {
            EXPECT_EQ(std::tie(run.status, run.err),
                      std::tuple(1, "logbase: standard input: out of memory, or an index too large "
                                    "to hold for a stream\n"));
        }
    }
}

// Off a terminal output goes out in large writes (one here), a failed write
// fails loudly, a closed pipe ends the run quietly; on a terminal each line
// goes out as made. Progress shows only on a terminal that stdout is not.
// Attack layouts 0 and 3 have as many items, not the same keys: records of
// the two in turn must each put every value in its own key's column.
TEST_F(Cli, CsvColumnsFollowEachRecordsLayout) {
    const entry_desc *table = _get_ed_by_cat(LOG_CAT_ATTACK);
    const auto line = [&](int layout, const std::string &tag) {
        std::string text = tag;
        std::vector<std::string> keys;
        for (int row = 0;; row = table[row].next_row[layout]) {
            const std::string key = table[row].name;
            const std::string value = key + "-" + std::to_string(layout);
            text += (keys.empty() ? "" : " ") + key + "=" +
                    (table[row].quoted ? '"' + value + '"' : value);
            keys.push_back(key);
            if (table[row].next_row[layout] == 0) break;
        }
        return std::pair(text + " \n", keys);
    };
    // The tag of each layout: the first that scan_ver reads as it.
    const auto tag_of = [](int layout) {
        for (int t = 1; t <= 13; ++t) {
            char tag[9];
            std::snprintf(tag, sizeof tag, "v%03dxxxx", t);
            int prefix = 0, version = -1;
            if (scan_ver(tag, 8, &prefix, &version) == 0 && version == layout)
                return std::string(tag);
        }
        return std::string();
    };
    const auto [first, first_keys] = line(0, tag_of(0));
    const auto [second, second_keys] = line(3, tag_of(3));
    ASSERT_EQ(first_keys.size(), second_keys.size());
    ASSERT_NE(first_keys, second_keys);
    const std::string log = dir_.file("alog.log");
    ASSERT_TRUE(
        testkit::write_file(log, logfile_writer::log_file(13, {first, second, first, second})));
    Outcome run = tool({"csv", "--jobs", "1", log});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream rows(run.out);
    std::string header, row;
    std::getline(rows, header);
    std::vector<std::string> columns;
    for (std::istringstream names(header); std::getline(names, row, ',');)
        columns.push_back(row);
    for (int r = 0; r < 4; ++r) {
        ASSERT_TRUE(std::getline(rows, row));
        const int layout = r % 2 == 0 ? 0 : 3;
        const auto &keys = layout == 0 ? first_keys : second_keys;
        std::istringstream cells(row);
        for (const std::string &column : columns) {
            std::string cell;
            std::getline(cells, cell, ',');
            const bool has = std::find(keys.begin(), keys.end(), column) != keys.end();
            EXPECT_EQ(cell, has ? column + "-" + std::to_string(layout) : "") << r << ' ' << column;
        }
    }
}

TEST_F(Cli, OutputFollowsWhereItGoes) {
    const std::string records = logfile_writer::log_file(13, {"date=1 x=y \n", "date=2 \n"});
    std::string lines = dir_.file("lines.txt"), log = dir_.file("alog.log");
    ASSERT_TRUE(testkit::write_file(lines, std::string(3000, 'x') + "\n") &&
                testkit::write_file(log, records));
    const std::vector<std::string> commands[] = {{"report", "charts"},
                                                 {"pack", "--version", "13", lines},
                                                 {"cat", "--raw", log},
                                                 {"cat", "--jobs", "3", log}};
    for (const auto &args : commands) {
        Outcome packets = tool(args, Sink::kPackets), full = tool(args, Sink::kFull);
        EXPECT_EQ(std::tie(packets.writes, full.status, full.err),
                  std::tuple(1u, 1, "logbase: write error: No space left on device\n"))
            << args[0];
        // Ended by SIGPIPE, as cat is, even when the parent ignored it.
        for (Sink sink : {Sink::kClosedPipe, Sink::kClosedPipeIgnored}) {
            Outcome closed = tool(args, sink);
            EXPECT_TRUE(closed.status == 128 + SIGPIPE && closed.err.empty()) << args[0];
        }
    }
    // Batches of output large enough to be written as they are, not copied
    // through the buffer, fail and end the same way.
    const std::string big = dir_.file("tlog.log");
    ASSERT_TRUE(testkit::write_file(
        big, logfile_writer::log_file(13, std::vector<std::string>(174, std::string(3000, 'x')))));
    Outcome full = tool({"cat", "--jobs", "2", big}, Sink::kFull),
            closed = tool({"cat", "--jobs", "2", big}, Sink::kClosedPipe);
    EXPECT_EQ(std::tie(full.status, full.err),
              std::tuple(1, "logbase: write error: No space left on device\n"));
    EXPECT_TRUE(closed.status == 128 + SIGPIPE && closed.err.empty());

    int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC), input[2];
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    int pts = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(pts >= 0 && pipe2(input, O_CLOEXEC) == 0);
    EXPECT_TRUE(cli::progress_wanted(input[1], pts));
    EXPECT_FALSE(cli::progress_wanted(pts, pts));
    EXPECT_FALSE(cli::progress_wanted(pts, input[0]));
    const int held = static_cast<int>(records.size()) - 8;
    std::string shown;
    auto feed = [&] {
        EXPECT_EQ(write(input[1], records.data(), held), held);
        char part[256];
        for (pollfd ready{terminal, POLLIN, 0}; shown.find('\n') == std::string::npos;) {
            ssize_t n = poll(&ready, 1, 10000) == 1 ? read(terminal, part, sizeof part) : 0;
            if (n <= 0) break; // no line before the input ended
            shown.append(part, static_cast<size_t>(n));
        }
        EXPECT_EQ(write(input[1], records.data() + held, 8), 8);
        close(input[1]);
    };
    Outcome cat = tool({"cat", "--jobs", "2", "-"}, Sink::kCapture,
                       "/dev/fd/" + std::to_string(input[0]), pts, feed);
    EXPECT_TRUE(cat.status == 0 && shown.ends_with(": date=1 x=y \r\n")) << shown;
    // A packed file is no text for a terminal.
    Outcome packed = tool({"pack", "--version", "13", lines}, Sink::kCapture, "/dev/null", pts);
    EXPECT_EQ(packed.status, 2);
    EXPECT_NE(packed.err.find("give --out FILE or redirect standard output"), std::string::npos);

    // Records that come after half a second show how many were read, on the
    // terminal that is not the output; the line goes at the end.
    char part[256];
    for (pollfd ready{terminal, POLLIN, 0}; poll(&ready, 1, 0) == 1;) // what cat left
        if (read(terminal, part, sizeof part) <= 0) break;
    int slow[2];
    ASSERT_EQ(pipe2(slow, O_CLOEXEC), 0);
    pid_t catting = fork();
    if (catting == 0) {
        dup2(slow[0], 0);
        dup2(open("/dev/null", O_WRONLY), 1);
        dup2(pts, 2);
        execl(LOGBASE_CLI, LOGBASE_CLI, "cat", "-", nullptr);
        _exit(127);
    }
    const size_t head = 24 + 2 * 8; // the header and the index of two records
    EXPECT_EQ(write(slow[1], records.data(), head), static_cast<ssize_t>(head));
    for (int left = 1, tries = 0; left > 0 && tries < 1000; ++tries) // until the tool has them
        if (ioctl(slow[0], FIONREAD, &left) != 0 || left > 0) usleep(10000);
    close(slow[0]);
    usleep(700000);
    EXPECT_EQ(write(slow[1], records.data() + head, records.size() - head),
              static_cast<ssize_t>(records.size() - head));
    close(slow[1]);
    int status = -1;
    waitpid(catting, &status, 0);
    std::string drawn;
    for (pollfd ready{terminal, POLLIN, 0}; poll(&ready, 1, 100) == 1;) {
        ssize_t n = read(terminal, part, sizeof part);
        if (n <= 0) break;
        drawn.append(part, static_cast<size_t>(n));
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(drawn, "\rcat standard input (records): 1\x1b[K\r\x1b[K");
    for (int fd : {terminal, pts, input[0]})
        close(fd);
}

TEST_F(Cli, PackStreamsTheSameFileFromAFileOrAPipeOrRefusesIt) {
    const std::string text = "date=1 a=\"b c\"  \r\n\n  \ndate=2 d=\x01 \nvd=root x=1";
    const std::vector<std::string> records = {"date=1 a=\"b c\" \n", "date=2 d=\x01 \n",
                                              "vd=root x=1 \n"};
    std::string lines = dir_.file("lines.txt"), out = dir_.file("out.log");
    ASSERT_TRUE(testkit::write_file(lines, text));
    for (int version : {0, 1, 13}) {
        std::vector<std::string> tagged = records;
        for (std::string &r : tagged)
            r = (version == 1 ? "v001xxxx" : "") + r;
        const std::string expected = logfile_writer::log_file(version, tagged),
                          v = std::to_string(version);
        EXPECT_EQ(tool({"pack", "--version", v, "--out", out, lines}).status, 0);
        EXPECT_EQ(testkit::read_file(out), expected) << v;
        EXPECT_EQ(tool({"pack", "--version", v, "-"}, Sink::kCapture, lines).out, expected) << v;
        std::string fifo = dir_.file("fifo" + v);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        pid_t writer = fork();
        if (writer == 0) _exit(testkit::write_file(fifo, text) ? 0 : 1);
        EXPECT_EQ(tool({"pack", "--version", v, "--out", out, fifo}).status, 0);
        waitpid(writer, nullptr, 0);
        EXPECT_EQ(testkit::read_file(out), expected) << v << " from a FIFO";
    }

    // Lines it cannot write faithfully are refused, and no file is left.
    std::filesystem::remove(out);
    const struct {
        std::string version, text, err;
    } cases[] = {
        {"1", "v013xxxxdate=1\n", "line 1: its version text v013 contradicts --version 1"},
        {"0", "v000xxxxdate=1\n", "must begin with a line starting 'd'"},
        {"0", "d" + std::string(1022, 'x') + "\n", "record of 1025 bytes is longer than 1024"},
        {"13", "date=1\n" + std::string(5000, 'x'), "line 2: its record of 5002 bytes"},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(testkit::write_file(lines, c.text));
        Outcome run = tool({"pack", "--version", c.version, "--out", out, lines});
        EXPECT_TRUE(run.status == 1 && run.err.find(c.err) != std::string::npos) << run.err;
        EXPECT_FALSE(testkit::exists(out)) << c.err;
    }
    Outcome run = tool({"pack", "--version", "13", "--out", out, dir_.path()});
    EXPECT_EQ(run.err, "logbase: cannot pack " + dir_.path() + ": it is a directory\n");

    // An endless pipe is refused at its first bad line, after reading little.
    int feed[2];
    ASSERT_EQ(pipe2(feed, O_CLOEXEC), 0);
    size_t fed = 0;
    run = tool({"pack", "--version", "13", "--out", out, "-"}, Sink::kCapture,
               "/dev/fd/" + std::to_string(feed[0]), -1, [&] {
                   close(feed[0]);
                   auto old_action = signal(SIGPIPE, SIG_IGN);
                   static const char zeros[1 << 16] = {};
                   for (ssize_t n;
                        fed < (64u << 20) && (n = write(feed[1], zeros, sizeof zeros)) > 0;)
                       fed += static_cast<size_t>(n);
                   close(feed[1]);
                   signal(SIGPIPE, old_action);
               });
    EXPECT_TRUE(run.status == 1 &&
                run.err.find("line 1: its record of more than") != run.err.npos &&
                fed < (4u << 20) && !testkit::exists(out))
        << fed << run.err;

    // --out replaces only a regular file (a link is written through to one),
    // keeping its mode and owner.
    ASSERT_TRUE(testkit::write_file(lines, "date=1\n"));
    std::string target = dir_.file("target.log"), link = dir_.file("link.log");
    ASSERT_TRUE(testkit::write_file(target, "old"));
    ASSERT_EQ(chmod(target.c_str(), 0600) | chown(target.c_str(), 65534, 65534) |
                  symlink("target.log", link.c_str()),
              0);
    for (const std::string &to : {target, link}) {
        ASSERT_EQ(tool({"pack", "--version", "13", "--out", to, lines}).status, 0) << to;
        struct stat st {};
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(std::tuple(st.st_mode & 07777, st.st_uid, st.st_gid),
                  std::tuple(0600u, 65534u, 65534u))
            << to;
        EXPECT_EQ(testkit::read_file(target), logfile_writer::log_file(13, {"date=1 \n"}));
    }
    std::string fifo = dir_.file("out.fifo"), device = dir_.file("null"),
                dangling = dir_.file("dangling");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600) | mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) |
                  symlink("missing/file", dangling.c_str()),
              0);
    for (const std::string &to : {fifo, device, dangling}) {
        struct stat before {
        }, after{};
        ASSERT_EQ(lstat(to.c_str(), &before), 0);
        run = tool({"pack", "--version", "13", "--out", to, lines});
        EXPECT_TRUE(run.status == 1 && run.err.find("cannot write " + to + ": ") == 9) << run.err;
        ASSERT_EQ(lstat(to.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode) << to;
    }
    EXPECT_FALSE(testkit::exists(dir_.file("missing")));

    // A full disk: the old file stays, no partial file is left beside it.
    std::string disk = dir_.file("disk");
    ASSERT_TRUE(std::filesystem::create_directory(disk));
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0);
    ASSERT_TRUE(testkit::write_file(disk + "/alog.log", "old"));
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "date=" + std::to_string(i) + " " + std::string(1000, 'x') + "\n";
    ASSERT_TRUE(testkit::write_file(lines, many));
    run = tool({"pack", "--version", "13", "--out", disk + "/alog.log", lines});
    EXPECT_TRUE(run.status == 1 && run.err.find("No space left on device") != std::string::npos)
        << run.err;
    EXPECT_EQ(testkit::read_file(disk + "/alog.log"), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk), {}), 1);
    umount2(disk.c_str(), MNT_DETACH);
}

// Every command has --help and a section of the manual page, and every option
// its --help names appears there.
TEST(CliManual, CoversEveryCommandAndOption) {
    std::string page = testkit::read_file(LOGBASE_MANUAL);
    ASSERT_FALSE(page.empty());
    EXPECT_NE(page.find("\"logbase " LOGBASE_VERSION "\""), std::string::npos) << "stale version";
    std::string overview = tool({"--help"}).out;
    std::smatch m;
    std::set<std::string> commands;
    for (std::regex line("\n  ([a-z]+) "); std::regex_search(overview, m, line);
         overview = m.suffix())
        commands.insert(m[1]);
    EXPECT_GE(commands.size(), 10u);
    for (const std::string &command : commands) {
        EXPECT_NE(page.find(".SS " + command + "\n"), std::string::npos) << command;
        std::string help = tool({command, "--help"}).out;
        EXPECT_TRUE(help.starts_with("usage: logbase " + command + " ")) << command;
        for (std::regex option("--[a-z][a-z-]*"); std::regex_search(help, m, option);
             help = m.suffix()) {
            std::string roff = std::regex_replace(m.str(), std::regex("-"), "\\\\-");
            EXPECT_TRUE(std::regex_search(page, std::regex(roff + "(?![a-z]|\\\\-)")))
                << command << " " << m.str();
        }
    }
}

} // namespace
