// Diagnostic log: runs inside throwaway_root, so the fixed paths are private.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "logbase.h"
#include "testkit.hpp"

namespace {

const std::string kLog = "/var/log/dlog_logd";
const std::string kOld = "/var/log/dlog_logd_old";
constexpr off_t kCap = 10485760;

class DiagLog : public ::testing::Test {
  protected:
    void SetUp() override {
        unlink(kLog.c_str());
        unlink(kOld.c_str());
    }
};

TEST_F(DiagLog, NonPositiveLevelTouchesNothing) {
    rt_log(0, "zero\n");
    rt_log(-1, "negative\n");
    EXPECT_FALSE(testkit::exists(kLog));
}

TEST_F(DiagLog, LineIsStampPlusMessageWithNothingAppended) {
    rt_log(1, "!errr %s(%d)@%s:\n    %s\n\n", "f.c", 12, "fn", "text");
    std::string line = testkit::read_file(kLog);
    std::regex form(R"(\d\d-\d\d-\d\d:\d\d:\d\d\.\d{6}!errr f\.c\(12\)@fn:\n    text\n\n)");
    EXPECT_TRUE(std::regex_match(line, form)) << line;
    struct stat st {};
    ASSERT_EQ(stat(kLog.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u & ~static_cast<unsigned>(umask(022)));
}

TEST_F(DiagLog, LongLineIsCutTo512Bytes) {
    std::string message(600, 'x');
    rt_log(1, "%s", message.c_str());
    std::string line = testkit::read_file(kLog);
    ASSERT_EQ(line.size(), 512u);
    EXPECT_EQ(line.substr(21), std::string(512 - 21, 'x'));
    // A message far beyond the scratch buffer is cut, not overrun.
    std::string huge(100000, 'y');
    rt_log(1, "%s", huge.c_str());
    EXPECT_EQ(testkit::read_file(kLog).size(), 1024u);
}

TEST_F(DiagLog, RotatesAfterTheWriteThatReachesTheCap) {
    // 21-byte stamp + 9-byte message = 30 bytes per line.
    ASSERT_TRUE(testkit::write_file(kLog, std::string(kCap - 31, '.')));
    rt_log(1, "123456789");
    EXPECT_FALSE(testkit::exists(kOld)) << "one byte short of the cap must not rotate";
    rt_log(1, "123456789");
    ASSERT_TRUE(testkit::exists(kOld));
    std::string old = testkit::read_file(kOld);
    EXPECT_EQ(old.size(), static_cast<size_t>(kCap - 31 + 60));
    EXPECT_EQ(old.substr(old.size() - 9), "123456789");
    EXPECT_FALSE(testkit::exists(kLog));

    rt_log(1, "fresh");
    EXPECT_EQ(testkit::read_file(kLog).size(), 26u);
    // A second rotation replaces the older generation: only one is kept.
    ASSERT_TRUE(testkit::write_file(kLog, std::string(kCap, '.')));
    rt_log(1, "again");
    EXPECT_EQ(testkit::read_file(kOld).size(), static_cast<size_t>(kCap + 26));
}

TEST_F(DiagLog, ConcurrentProcessesLoseAndTearNoLine) {
    constexpr int kProcs = 8;
    constexpr int kLines = 400;
    for (int p = 0; p < kProcs; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kLines; ++i)
                rt_log(1, "<p%d-l%04d-%0100d>\n", p, i, 0);
            _exit(0);
        }
    }
    for (int p = 0; p < kProcs; ++p)
        wait(nullptr);

    std::string text = testkit::read_file(kLog);
    std::regex line(R"(\d\d-\d\d-\d\d:\d\d:\d\d\.\d{6}<p(\d)-l(\d{4})-0{100}>)");
    std::vector<std::vector<bool>> seen(kProcs, std::vector<bool>(kLines));
    size_t start = 0;
    int count = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::smatch m;
        std::string one = text.substr(start, nl - start);
        ASSERT_TRUE(std::regex_match(one, m, line)) << "torn line: " << one;
        seen[std::stoi(m[1])][std::stoi(m[2])] = true;
        ++count;
    }
    EXPECT_EQ(start, text.size());
    EXPECT_EQ(count, kProcs * kLines);
    for (const auto &lines : seen)
        for (bool s : lines)
            EXPECT_TRUE(s);
}

TEST_F(DiagLog, MissingDirectoryIsSilent) {
    // Replace /var/log by a file so the diagnostic file cannot be created.
    ASSERT_EQ(system("rm -rf /var/log && touch /var/log"), 0);
    rt_log(1, "nowhere\n");
    struct stat st {};
    ASSERT_EQ(stat("/var/log", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_EQ(system("rm -f /var/log && mkdir -p /var/log"), 0);
}

} // namespace
