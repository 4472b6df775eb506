// The logbase tool's conventions: usage errors, --version, "--", write
// errors, closed pipes, the progress rule, pack, and the manual page.
#include <cinttypes>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "cli.hpp"
#include "logbase.h"
#include "logfile_writer.hpp"
#include "testkit.hpp"

namespace {

enum class Sink { kCapture, kFull, kClosedPipe, kClosedPipeIgnored };

struct Outcome {
    int status, signal; // status is -1 when ended by a signal
    std::string out, err;
};

// Runs the tool with `args`, standard input from the path `in`, standard output into `sink`.
Outcome tool(const std::vector<std::string> &args, Sink sink = Sink::kCapture,
             const std::string &in = "/dev/null") {
    testkit::TempDir dir;
    std::string out = dir.file("out"), err = dir.file("err");
    int pipe_fds[2] = {-1, -1};
    if (sink == Sink::kClosedPipe || sink == Sink::kClosedPipeIgnored) {
        EXPECT_EQ(pipe(pipe_fds), 0);
        close(pipe_fds[0]);
    }
    pid_t child = fork();
    if (child == 0) {
        std::vector<char *> argv{const_cast<char *>(LOGBASE_CLI)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        dup2(open(in.c_str(), O_RDONLY), 0);
        dup2(pipe_fds[1] >= 0 ? pipe_fds[1]
                              : open(sink == Sink::kFull ? "/dev/full" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600),
             1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        if (sink == Sink::kClosedPipeIgnored) signal(SIGPIPE, SIG_IGN);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pipe_fds[1] >= 0) close(pipe_fds[1]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            WIFSIGNALED(status) ? WTERMSIG(status) : 0, testkit::read_file(out),
            testkit::read_file(err)};
}

std::string hash_line(const std::string &text) {
    char line[32];
    std::snprintf(line, sizeof line, "0x%016" PRIx64 "\n", lum_hash(text.data(), text.size(), 0));
    return line;
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override { setenv("LOGBASE_HOST_DIR", dir_.path().c_str(), 1); }
    testkit::TempDir dir_;
};

TEST_F(Cli, UsageErrorsNameTheOptionAndOptionsEndAtDoubleDash) {
    // Each exits 2 with nothing on stdout and this text on stderr.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"hash", "--bogus", "x"}, "logbase hash: unknown option --bogus\nusage:"},
        {{"hash", "x", "--init"}, "option --init needs a value"},
        {{"hash", "--init", "zz", "x"}, "option --init needs an unsigned 64-bit number"},
        {{"hash", "--init", "1", "--init=1", "x"}, "option --init is given more than once"},
        {{"filter", "--x=1", "a"}, "unknown option --x"},
        {{"lang", "-q", "f", "s"}, "unknown option -q"},
        {{"period", "today", "--utc"}, "unknown option --utc"},
        {{"pack", "--version", "13x"}, "needs a whole number from 0 to 999, not '13x'"},
        {{"pack", "--version=1", "--out"}, "option --out needs a value"},
        {{"pack", "lines.txt"}, "option --version is required"},
        {{"report", "define", "r", "--period", "today", "--colour", "red"},
         "unknown option --colour"},
        {{"report", "define", "r", "--period", "last-n-days", "--n", "x"},
         "--n takes a whole number"},
        {{"report", "define", "r", "--period", "today", "--formats", "gif"},
         "option --formats: unknown format 'gif'"},
        {{"report", "show", "r", "--period", "today"}, "--period does not apply to report show"},
        {{"report", "charts", "--domain", "d"}, "option --domain does not apply"},
        {{"info", "--raw"}, "logbase info: unknown option --raw"},
        {{"cat", "--seq", "-1", "f"}, "option --seq needs a whole number from 0 to"},
        {{"cat", "--offset=1x", "f"}, "option --offset needs a whole number"},
        {{"cat", "--seq", "1", "--offset", "0"}, "option --offset does not go with --seq"},
        {{"parse", "--seq=1x"}, "option --seq needs a whole number"},
        {{"parse", "--category", "z"}, "option --category takes a, t or e, not 'z'"},
        {{"csv", "--json"}, "unknown option --json"},
        {{"csv", "--fields", "date,nosuch"}, "option --fields names an unknown key 'nosuch'"},
        {{"csv", "--raw", "--fields", "date"}, "option --fields does not apply to csv --raw"},
        {{"--bogus"}, "unknown option '--bogus'"},
    };
    for (const auto &[args, err] : cases) {
        Outcome run = tool(args);
        EXPECT_EQ(std::tie(run.status, run.out), std::tuple(2, "")) << args[0] << " " << err;
        EXPECT_NE(run.err.find(err), std::string::npos) << args[0] << ": " << run.err;
    }
    EXPECT_EQ(tool({"hash", "--", "--help"}).out, hash_line("--help"));
    EXPECT_EQ(tool({"hash", "-"}).out, hash_line("-"));
    EXPECT_EQ(tool({"hash", "--init=0", "--", "--init"}).out, hash_line("--init"));
    EXPECT_EQ(tool({"--version"}).out, "logbase " LOGBASE_VERSION "\n");
    EXPECT_EQ(tool({"hash", "--help"}).out.rfind("usage: logbase hash", 0), 0u);
}

// A custom bound reads the same in "report define" and "period custom": four
// digits of year from 1, nothing before or inside the fields.
TEST_F(Cli, CustomBoundsReadTheSameInBothCommands) {
    const std::pair<std::string, int> bounds[] = {
        {"1960-01-01 00:00", 0}, {"0001-02-03T04:05", 0}, {"9999-12-31 23:59", 0},
        {"+025-03-09 00:00", 2}, {" 025-03-09 00:00", 2}, {"2025-3-09 00:00", 2},
        {"2025-13-01 00:00", 2}, {"2025-03-09 24:00", 2}, {"0000-01-01 00:00", 2}};
    for (const auto &[bound, status] : bounds) {
        EXPECT_EQ(tool({"period", "custom", bound, bound}).status, status) << bound;
        EXPECT_EQ(tool({"report", "define", "r", "--start", bound, "--end", bound}).status, status)
            << bound;
    }
}

TEST_F(Cli, FailedWritesFailLoudlyAndClosedPipesEndQuietly) {
    std::string lines = dir_.file("lines.txt"), log = dir_.file("alog.log");
    ASSERT_TRUE(testkit::write_file(lines, std::string(3000, 'x') + "\n"));
    ASSERT_TRUE(testkit::write_file(log, logfile_writer::log_file(13, {"date=1 x=y \n"})));
    const std::vector<std::string> commands[] = {{"hash", "abc"},
                                                 {"report", "charts"},
                                                 {"pack", "--version", "13", lines},
                                                 {"cat", "--raw", log}};
    for (const auto &args : commands) {
        Outcome full = tool(args, Sink::kFull);
        EXPECT_EQ(full.status, 1) << args[0];
        EXPECT_EQ(full.err, "logbase: write error: No space left on device\n") << args[0];
        // Ended by SIGPIPE, as cat is, even when the parent ignored it.
        for (Sink sink : {Sink::kClosedPipe, Sink::kClosedPipeIgnored}) {
            Outcome closed = tool(args, sink);
            EXPECT_EQ(closed.signal, SIGPIPE) << args[0];
            EXPECT_EQ(closed.err, "") << args[0];
        }
    }
}

TEST(CliProgress, ShownOnlyWhenStderrIsATerminalOtherThanStdout) {
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    int pts = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    int other = posix_openpt(O_RDWR | O_NOCTTY), file = open("/dev/null", O_WRONLY);
    ASSERT_GE(pts, 0);
    EXPECT_TRUE(cli::progress_wanted(file, pts));
    EXPECT_TRUE(cli::progress_wanted(other, pts));
    EXPECT_FALSE(cli::progress_wanted(pts, pts));
    EXPECT_FALSE(cli::progress_wanted(pts, file));
    for (int fd : {terminal, pts, other, file})
        close(fd);
}

TEST_F(Cli, PackStreamsTheSameFileFromAFileOrAPipe) {
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
}

TEST_F(Cli, PackRefusesWhatItCannotWriteFaithfully) {
    const struct {
        std::string version, text, err;
    } cases[] = {
        {"1", "v013xxxxdate=1\n", "line 1: its version text v013 contradicts --version 1"},
        {"13", "v013xxxxdate=1\n\nv012xxxxdate=2\n", "line 3: its version text v012"},
        {"0", "v000xxxxdate=1\n", "must begin with a line starting 'd'"},
        {"0", "d" + std::string(1022, 'x') + "\n", "record of 1025 bytes is longer than 1024"},
        {"13", "date=1\n" + std::string(5000, 'x'), "line 2: its record of 5002 bytes"},
    };
    std::string lines = dir_.file("lines.txt"), out = dir_.file("out.log");
    for (const auto &c : cases) {
        ASSERT_TRUE(testkit::write_file(lines, c.text));
        Outcome run = tool({"pack", "--version", c.version, "--out", out, lines});
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_FALSE(testkit::exists(out)) << c.err;
    }
    Outcome run = tool({"pack", "--version", "13", "--out", out, dir_.path()});
    EXPECT_EQ(run.err, "logbase: cannot pack " + dir_.path() + ": it is a directory\n");

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
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    EXPECT_EQ(testkit::read_file(disk + "/alog.log"), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk), {}), 1);
    umount2(disk.c_str(), MNT_DETACH);
}

// Every command has a section of the manual page, and every option its
// --help names appears there.
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
        for (std::regex option("--[a-z][a-z-]*"); std::regex_search(help, m, option);
             help = m.suffix()) {
            std::string roff = std::regex_replace(m.str(), std::regex("-"), "\\\\-");
            EXPECT_TRUE(std::regex_search(page, std::regex(roff + "(?![a-z]|\\\\-)")))
                << command << " " << m.str();
        }
    }
}

} // namespace
