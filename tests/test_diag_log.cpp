// Diagnostic log: runs inside throwaway_root, so the fixed paths are private.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "logbase.h"
#include "testkit.hpp"

namespace {

const std::string kLog = "/var/log/dlog_logd", kOld = "/var/log/dlog_logd_old";
constexpr off_t kCap = 10485760;

class DiagLog : public ::testing::Test {
  protected:
    void SetUp() override {
        unlink(kLog.c_str());
        unlink(kOld.c_str());
    }
};

// Runs `lines` lines from each of `procs` processes at once.
template <class Line> void in_processes(int procs, int lines, Line line) {
    for (int p = 0; p < procs; ++p)
        if (fork() == 0) {
            for (int i = 0; i < lines; ++i)
                line(p, i);
            _exit(0);
        }
    for (int p = 0; p < procs; ++p)
        wait(nullptr);
}

TEST_F(DiagLog, LineFormatModeCutAndFifo) {
    rt_log(0, "zero\n");
    EXPECT_FALSE(testkit::exists(kLog)) << "a level below 1 writes nothing";
    rt_log(1, "!errr %s(%d)@%s:\n    %s\n\n", "f.c", 12, "fn", "text");
    std::string line = testkit::read_file(kLog);
    std::regex form(R"(\d\d-\d\d-\d\d:\d\d:\d\d\.\d{6}!errr f\.c\(12\)@fn:\n    text\n\n)");
    EXPECT_TRUE(std::regex_match(line, form)) << line;
    struct stat st {};
    ASSERT_EQ(stat(kLog.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u & ~static_cast<unsigned>(umask(022)));

    // Cut lines (one far beyond the scratch buffer) keep their line break.
    unlink(kLog.c_str());
    rt_log(1, "%s\n", std::string(600, 'x').c_str());
    rt_log(1, "%s", std::string(100000, 'y').c_str());
    std::string cut = testkit::read_file(kLog);
    ASSERT_EQ(cut.size(), 1024u);
    EXPECT_EQ(std::pair(cut[511], cut[1023]), std::pair('\n', '\n'));

    // Each call ends its line, whether or not its text does.
    unlink(kLog.c_str());
    rt_log(1, "no break");
    rt_log(1, "next\n");
    std::regex ended(R"(\S+no break\n\S+next\n)");
    std::string two = testkit::read_file(kLog);
    EXPECT_TRUE(std::regex_match(two, ended)) << two;

    // Elsewhere: to a descriptor, nowhere, and back to the file.
    unlink(kLog.c_str());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(rt_log_set_destination(fds[1]), 0);
    rt_log(1, "to the pipe\n");
    EXPECT_EQ(rt_log_set_destination(LOG_DIAG_OFF), 0);
    rt_log(1, "to nowhere\n");
    EXPECT_EQ(rt_log_set_destination(-3), -1);
    EXPECT_EQ(rt_log_set_destination(LOG_DIAG_FILE), 0);
    close(fds[1]);
    char piped[200] = {};
    EXPECT_TRUE(std::regex_match(std::string(piped, read(fds[0], piped, sizeof piped)),
                                 std::regex(R"(\S+to the pipe\n)")));
    close(fds[0]);
    EXPECT_FALSE(testkit::exists(kLog));
    rt_log(1, "back\n");
    EXPECT_TRUE(testkit::exists(kLog));

    // A FIFO in the file's place gets nothing (a full one would block).
    unlink(kLog.c_str());
    ASSERT_EQ(mkfifo(kLog.c_str(), 0644), 0);
    int fifo = open(kLog.c_str(), O_RDWR | O_NONBLOCK);
    rt_log(1, "fifo\n");
    char byte;
    EXPECT_EQ(read(fifo, &byte, 1), -1);
    close(fifo);
}

TEST_F(DiagLog, RotatesAfterTheWriteThatReachesTheCap) {
    // 21-byte stamp + 9-byte message + the line break = 31 bytes per line.
    ASSERT_TRUE(testkit::write_file(kLog, std::string(kCap - 32, '.')));
    rt_log(1, "123456789");
    EXPECT_FALSE(testkit::exists(kOld)) << "one byte short of the cap must not rotate";
    rt_log(1, "123456789");
    EXPECT_EQ(testkit::read_file(kOld).size(), static_cast<size_t>(kCap - 32 + 62));
    EXPECT_FALSE(testkit::exists(kLog));
    // Only one older generation is kept.
    ASSERT_TRUE(testkit::write_file(kLog, std::string(kCap, '.')));
    rt_log(1, "again");
    EXPECT_EQ(testkit::read_file(kOld).size(), static_cast<size_t>(kCap + 27));
}

// Marker lines in the last 64 KiB of a file (where the test's lines are).
size_t marks_in(const std::string &path) {
    std::string tail(65536, '\0');
    int fd = open(path.c_str(), O_RDONLY);
    off_t size = fd < 0 ? 0 : lseek(fd, 0, SEEK_END);
    ssize_t n = fd < 0 ? 0 : pread(fd, tail.data(), tail.size(), size > 65536 ? size - 65536 : 0);
    close(fd);
    tail.resize(n > 0 ? static_cast<size_t>(n) : 0);
    size_t marks = 0;
    for (size_t at = 0; (at = tail.find("<mark>", at)) != std::string::npos; ++at)
        ++marks;
    return marks;
}

// Processes crossing the cap together: one rotation, no generation lost. Many
// rounds on a sparse file near the cap, since a lost race needs unlucky timing.
TEST_F(DiagLog, ConcurrentRotationKeepsEveryLine) {
    for (int round = 0; round < 150; ++round) {
        SetUp();
        ASSERT_TRUE(testkit::write_file(kLog, ""));
        ASSERT_EQ(truncate(kLog.c_str(), kCap - 512), 0);
        in_processes(4, 30, [](int, int) { rt_log(1, "<mark>\n"); });
        ASSERT_EQ(marks_in(kOld) + marks_in(kLog), 120u) << "round " << round;
    }
}

TEST_F(DiagLog, ConcurrentProcessesLoseAndTearNoLine) {
    in_processes(8, 400, [](int p, int i) { rt_log(1, "<p%d-l%04d-%0100d>\n", p, i, 0); });
    std::string text = testkit::read_file(kLog);
    ASSERT_EQ(text.size(), 133u * 8 * 400);
    std::regex line(R"(\d\d-\d\d-\d\d:\d\d:\d\d\.\d{6}<p\d-l\d{4}-0{100}>\n)");
    for (size_t at = 0; at < text.size(); at += 133)
        ASSERT_TRUE(std::regex_match(text.substr(at, 133), line)) << "torn line at " << at;
}

} // namespace
