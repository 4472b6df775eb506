// Binary log files, record access in every version, log file names. Runs
// inside throwaway_root: failures write the diagnostic file /var/log/dlog_logd,
// whose lines are checked too.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "logbase.h"
#include "testkit.hpp"
#include "tools/logfile_writer.hpp"

// Allocations above 1 GiB fail instead of aborting, so that the library's
// handling of a failed index allocation can be observed. Without the
// sanitizer a 32 GiB allocation may succeed, depending on the machine.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
#ifdef __SANITIZE_ADDRESS__
constexpr bool kLargeAllocationsFail = true;
#else
constexpr bool kLargeAllocationsFail = false;
#endif

namespace {

using logfile_writer::IndexedOptions;

const std::string kDiag = "/var/log/dlog_logd";

// The diagnostic lines written since the test began, as "function: text".
std::vector<std::string> diag_texts() {
    static const std::regex head(
        R"(\d\d-\d\d-\d\d:\d\d:\d\d\.\d{6}!errr [\w.]+\(\d+\)@(\w+):\n    )");
    std::string content = testkit::read_file(kDiag);
    std::vector<std::string> texts;
    std::sregex_iterator it(content.begin(), content.end(), head), end;
    for (; it != end; ++it) {
        size_t from = it->position(0) + it->length(0);
        auto next = std::next(it);
        size_t to = next == end ? content.size() : next->position(0);
        texts.push_back((*it)[1].str() + ": " + content.substr(from, to - from));
    }
    return texts;
}

using Texts = std::vector<std::string>;

// A log line of the given length, as a record.
std::string record(size_t length, char fill) {
    std::string r = "date=x ";
    r.resize(length - 2, fill);
    return r + " \n";
}

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override { unlink(kDiag.c_str()); }
    void TearDown() override {
        for (int fd : fds_)
            close(fd);
    }

    // Writes `bytes` to a fresh file and opens it read-only.
    int open_bytes(const std::string &bytes, const std::string &name = "alog.log") {
        std::string path = dir_.file(name);
        EXPECT_TRUE(logfile_writer::save(path, bytes));
        int fd = open(path.c_str(), O_RDONLY);
        EXPECT_GT(fd, 0);
        fds_.push_back(fd);
        return fd;
    }

    testkit::TempDir dir_;
    std::vector<int> fds_;
};

// Three records of 120, 180 and 40 bytes: offsets 0, 120, 300.
const std::vector<std::string> kThree = {record(120, 'a'), record(180, 'b'), record(40, 'c')};

TEST(LogFormat, VersionText) {
    for (auto [text, version] : {std::pair{"date=1", 0},
                                 {"v001xxxx", 1},
                                 {"v002", 2},
                                 {"v010", 10},
                                 {"v000", 0},
                                 {"v1:0", 200}})
        EXPECT_EQ(parse_log_version(text), version) << text;
    EXPECT_EQ(parse_log_version(nullptr), -1);
    EXPECT_LT(parse_log_version("xlog"), 0);
}

TEST(LogFormat, SeqSearchIsExactBinarySearch) {
    const log_index_entry index[] = {{0, 120}, {120, 180}, {300, 40}};
    EXPECT_EQ(get_log_seq(index, 3, 0), 0);
    EXPECT_EQ(get_log_seq(index, 3, 120), 1);
    EXPECT_EQ(get_log_seq(index, 3, 300), 2);
    EXPECT_EQ(get_log_seq(index, 3, 121), -2);
    EXPECT_EQ(get_log_seq(index, 3, 500), -2);
    EXPECT_EQ(get_log_seq(index, 3, -5), -1);
    EXPECT_EQ(get_log_seq(index, 0, 0), -2);
    EXPECT_EQ(get_log_seq(nullptr, 3, 0), -1);
    EXPECT_EQ(get_log_seq(index, 2, 300), -2) << "only the first count entries are searched";
}

TEST_F(LogFile, OffsetLookupsInAnIndexHeldInMemory) {
    log_header header{};
    std::memcpy(header.verstr, "v013xxxx", 8);
    header.record_count = 3;
    header.index_capacity = 1000; // content offset 8024
    std::vector<log_index_entry> index(1000);
    index[0] = {0, 120};
    index[1] = {120, 180};
    index[2] = {300, 40};

    EXPECT_EQ(get_log_index(-1, 0, &header, index.data()), 0);
    EXPECT_EQ(get_log_index(-1, 8024, &header, index.data()), 0);
    EXPECT_EQ(get_log_index(-1, 8324, &header, index.data()), 2);
    EXPECT_EQ(get_log_len(-1, 8144, &header, index.data()), 180);
    EXPECT_EQ(get_log_len(-1, 0, &header, index.data()), 120);
    EXPECT_TRUE(testkit::read_file(kDiag).empty());

    EXPECT_EQ(get_log_index(-1, 100, &header, index.data()), -1);
    EXPECT_TRUE(
        std::regex_match(testkit::read_file(kDiag),
                         std::regex(R"(.{21}!errr log_format\.cpp\(\d+\)@get_log_index:\n)"
                                    R"(    get log_seq failed, log_seq:-1 offset:100\n\n)")));
    EXPECT_EQ(get_log_len(-1, 8025, &header, index.data()), -1);
    EXPECT_EQ(diag_texts().back(), "get_log_len: get log_seq failed, log_seq:-2 offset:8025\n\n");

    // Slots past record_count are free: an offset found only there is no record.
    index[3] = {340, 10};
    EXPECT_EQ(get_log_index(-1, 8364, &header, index.data()), -1);

    // A missing header or index is a caller error, stopped in every build.
    EXPECT_DEATH(get_log_len(-1, 0, &header, nullptr), "log_header != NULL && log_index != NULL");
    EXPECT_DEATH(get_log_index(-1, 0, nullptr, index.data()), "log_format.cpp");
    EXPECT_DEATH(get_log_len_global(3, 0, nullptr), "log_header != NULL");
}

TEST(LogFormat, ContentOffsetNeedsTheWholeIndex) {
    log_header header{};
    std::memcpy(header.verstr, "v001xxxx", 8);
    EXPECT_EQ(get_log_content_offset(&header, 7), -1);
    EXPECT_EQ(get_log_content_offset(&header, 8), 0);
    EXPECT_EQ(get_log_content_offset(nullptr, 8), 0);
    std::memcpy(header.verstr, "v002xxxx", 8);
    header.index_capacity = 1000;
    EXPECT_EQ(get_log_content_offset(&header, 20), -2);
    EXPECT_EQ(get_log_content_offset(&header, 4096), -3);
    EXPECT_EQ(get_log_content_offset(&header, 8024), 8024);
    header.index_capacity = 0xFFFFFFFFu; // 8 x capacity overflows 32 bits
    EXPECT_EQ(get_log_content_offset(&header, 0x7FFFFFFF), -3);
}

TEST_F(LogFile, HeaderIndexAndRecordsOfAnIndexedFile) {
    IndexedOptions options;
    options.index_capacity = 5;
    options.reserved = 0x11223344;
    int fd = open_bytes(logfile_writer::indexed_file(13, kThree, options));

    log_header header{};
    ASSERT_EQ(get_log_file_header(fd, &header), 0);
    EXPECT_EQ(std::string(header.verstr, 8), "v013xxxx");
    EXPECT_EQ(header.reserved, 0x11223344u);
    EXPECT_EQ(header.record_count, 3u);
    EXPECT_EQ(header.index_capacity, 5u);

    log_index_entry entry{};
    ASSERT_EQ(get_file_index(fd, &entry, 2, &header), 0);
    EXPECT_EQ(entry.offset, 300u);
    EXPECT_EQ(entry.length, 40u);
    std::vector<log_index_entry> index(5);
    ASSERT_EQ(get_all_file_index(fd, index.data(), &header), 0);
    EXPECT_EQ(index[1].offset, 120u);

    char buf[4096];
    unsigned int len = 0, off = 0;
    ASSERT_EQ(get_log_data(fd, 2, buf, &header, &len, &off), 0);
    EXPECT_EQ(len, 40u);
    EXPECT_EQ(off, 24u + 40u + 300u);
    EXPECT_EQ(std::string(buf, len), kThree[2]);
    EXPECT_TRUE(diag_texts().empty());

    // Past the last record: refused before the file is touched.
    off_t before = lseek(fd, 7, SEEK_SET);
    EXPECT_EQ(get_log_data(fd, 3, buf, &header, &len, &off), -1);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), before);
    EXPECT_EQ(get_file_index(fd, &entry, 3, &header), -1);
    EXPECT_EQ(get_file_index(fd, &entry, -1, &header), -1);
    EXPECT_EQ(get_log_data(0, 0, buf, &header, &len, &off), -1);
    EXPECT_EQ(get_log_file_header(0, &header), -1);
    EXPECT_EQ(get_all_file_index(fd, nullptr, &header), -1);
    EXPECT_EQ(diag_texts(), (Texts{"get_log_data: Invalid seq number 3 \n\n",
                                   "get_file_index: Invalid seq number 3\n\n",
                                   "get_file_index: Invalid parameter \n\n",
                                   "get_log_data: Invalid parameter \n\n",
                                   "get_log_file_header: Invalid parameter \n\n",
                                   "get_all_file_index: Invalid parameter \n\n"}));
}

TEST_F(LogFile, RecordLengthLimitAndRecordsCutShort) {
    std::vector<std::string> records = {record(4096, 'x'), record(100, 'y')};
    IndexedOptions options;
    options.entries = {{0, 4096}, {4096, 4097}};
    int fd = open_bytes(logfile_writer::indexed_file(5, records, options));
    log_header header{};
    ASSERT_EQ(get_log_file_header(fd, &header), 0);

    std::vector<char> buf(4096);
    unsigned int len = 0, off = 0;
    ASSERT_EQ(get_log_data(fd, 0, buf.data(), &header, &len, &off), 0);
    EXPECT_EQ(len, 4096u);
    EXPECT_EQ(std::string(buf.data(), len), records[0]);

    EXPECT_EQ(get_log_data(fd, 1, buf.data(), &header, &len, &off), -1);
    EXPECT_EQ(diag_texts(), (Texts{"get_file_index: invalid log length 4097 \n\n",
                                   "get_log_data: get_file_index failed\n"}));

    // The second record claims 100 bytes but the file ends after 60.
    unlink(kDiag.c_str());
    options.entries = {{0, 4096}, {4096, 100}};
    std::string bytes = logfile_writer::indexed_file(5, records, options);
    fd = open_bytes(bytes.substr(0, bytes.size() - 40), "cut.log");
    len = off = 99;
    EXPECT_EQ(get_log_data(fd, 1, buf.data(), &header, &len, &off), -1);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(off, 0u);
    EXPECT_EQ(diag_texts(),
              (Texts{"get_log_data: read failed, need read len 100, but read len 60\n"}));
}

TEST_F(LogFile, VersionOfAFileKeepsThePosition) {
    int fd = open_bytes(logfile_writer::indexed_file(13, kThree));
    ASSERT_EQ(lseek(fd, 77, SEEK_SET), 77);
    EXPECT_EQ(get_log_version(fd), 13);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 77);
    EXPECT_EQ(get_log_version_by_path(dir_.file("alog.log").c_str()), 13);

    int empty = open_bytes("", "elog.log");
    EXPECT_EQ(get_log_version(empty), -3);
    EXPECT_EQ(get_log_version_by_path(dir_.file("elog.log").c_str()), -2);
    EXPECT_EQ(get_log_version_by_path(dir_.file("missing.log").c_str()), -1);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    fds_.push_back(pipe_fds[0]);
    fds_.push_back(pipe_fds[1]);
    EXPECT_EQ(get_log_version(pipe_fds[0]), -2);
    EXPECT_EQ(diag_texts(),
              (Texts{"get_log_version: read version info error\n\n",
                     "get_log_version_by_path: read version info error\n\n",
                     "get_log_version_by_path: cannot open the log file '" +
                         dir_.file("missing.log") + "'\n",
                     "get_log_version: lseek faild, errno " + std::to_string(ESPIPE) + "\n\n"}));
}

TEST_F(LogFile, LineByOffsetInEveryVersion) {
    std::vector<char> buf(4096);
    int v0 = open_bytes(logfile_writer::block_file(0, {"date=0 \n", "date=1 \n"}), "v0.log");
    EXPECT_EQ(get_log_line(v0, 0, 1024, buf.data()), 1024);
    EXPECT_STREQ(buf.data(), "date=1 \n");
    EXPECT_EQ(get_log_line(v0, 0, 2048, buf.data()), -2);
    EXPECT_EQ(get_log_line(v0, 0, 1500, buf.data()), -2) << "not a whole block left";

    int v1 = open_bytes(logfile_writer::block_file(1, {"v001xxxxdate=0 \n"}), "v1.log");
    EXPECT_EQ(get_log_line(v1, 1, 0, buf.data()), 4096);
    EXPECT_EQ(get_log_line(v1, 1, 4096, buf.data()), -3);

    int v2 = open_bytes(logfile_writer::indexed_file(2, kThree), "v2.log");
    EXPECT_EQ(get_log_line(v2, 2, 0, buf.data()), 120);
    EXPECT_EQ(std::string(buf.data(), 120), kThree[0]);
    EXPECT_EQ(get_log_line(v2, 2, 24 + 24 + 120, buf.data()), 180);
    EXPECT_EQ(get_log_line(v2, 3, 0, buf.data()), -1);
    EXPECT_TRUE(diag_texts().empty());

    EXPECT_EQ(get_log_line(v2, 2, 30, buf.data()), -7);
    int cut_header = open_bytes(logfile_writer::indexed_file(2, kThree).substr(0, 20), "h.log");
    EXPECT_EQ(get_log_line(cut_header, 2, 0, buf.data()), -4);
    int cut_index = open_bytes(logfile_writer::indexed_file(2, kThree).substr(0, 40), "i.log");
    EXPECT_EQ(get_log_line(cut_index, 2, 0, buf.data()), -6);
    EXPECT_EQ(diag_texts(), (Texts{"get_log_line: get log_seq failed, log_seq:-1 offset:30\n\n",
                                   "get_log_file_header: read file failed,rst = 20 \n\n",
                                   "get_log_line: get log header failed\n\n",
                                   "get_all_file_index: read file failed \n\n",
                                   "get_log_line: get all log index failed\n\n"}));

    // A record cut short: the read fails after its own line and the result is 0.
    unlink(kDiag.c_str());
    std::string bytes = logfile_writer::indexed_file(2, kThree);
    int cut_record = open_bytes(bytes.substr(0, bytes.size() - 1), "r.log");
    EXPECT_EQ(get_log_line(cut_record, 2, 24 + 24 + 300, buf.data()), 0);
    EXPECT_EQ(diag_texts(),
              (Texts{"get_log_data: read failed, need read len 40, but read len 39\n"}));
}

TEST_F(LogFile, BlockVersionsThroughTheGlobalOperations) {
    std::vector<std::string> blocks;
    for (int i = 0; i < 10; ++i)
        blocks.push_back("date=" + std::to_string(i) + " \n");
    int fd = open_bytes(logfile_writer::block_file(0, blocks) + std::string(100, 'z'));

    log_header header;
    std::memset(&header, 0x55, sizeof header);
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 10340) << "the position is left at the end";
    EXPECT_EQ(std::string(header.verstr, 8), "v000xxxx");
    const auto *reserved = reinterpret_cast<const unsigned char *>(&header.reserved);
    EXPECT_EQ(reserved[0], 0);
    EXPECT_EQ(reserved[1], 0x55) << "the rest of reserved is left alone";
    EXPECT_EQ(header.record_count, 10u);
    EXPECT_EQ(header.file_length, 10340u);
    EXPECT_EQ(header.index_capacity, 0u);
    EXPECT_EQ(parse_log_version(header.verstr), 0);

    char buf[4096];
    unsigned int len = 0, off = 0;
    ASSERT_EQ(get_log_data_global(fd, 9, buf, &header, &len, &off), 0);
    EXPECT_EQ(len, 1024u);
    EXPECT_EQ(off, 9216u);
    EXPECT_STREQ(buf, "date=9 \n");
    off = 7;
    EXPECT_EQ(get_log_data_global(fd, 10, buf, &header, &len, &off), -1);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(off, 7u);
    EXPECT_EQ(get_log_len_global(fd, 5000, &header), 1024);
    EXPECT_EQ(get_log_index_global(fd, 1023, &header), 0);
    EXPECT_EQ(get_log_index_global(fd, 1024, &header), 1);

    int v1 = open_bytes(logfile_writer::block_file(1, {"v001xxxxdate=a \n", "v001xxxxdate=b \n"}),
                        "tlog.log");
    log_header h1{};
    ASSERT_EQ(get_log_file_header_global(v1, &h1), 0);
    EXPECT_EQ(std::string(h1.verstr, 8), "v001xxxx");
    EXPECT_EQ(get_log_len_global(v1, 123456, &h1), 4096);
    EXPECT_EQ(get_log_index_global(v1, 5000, &h1), 1);
    ASSERT_EQ(get_log_data_global(v1, 1, buf, &h1, &len, &off), 0);
    EXPECT_EQ(off, 4096u);
    EXPECT_EQ(diag_texts(), (Texts{"get_log_data_global: fread failed\n"}));
}

TEST_F(LogFile, IndexedVersionsThroughTheGlobalOperations) {
    int fd = open_bytes(logfile_writer::indexed_file(13, kThree));
    log_header header{};
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    EXPECT_EQ(header.record_count, 3u);
    EXPECT_EQ(get_log_index_global(fd, 0, &header), 0);
    EXPECT_EQ(get_log_index_global(fd, 48 + 300, &header), 2);
    EXPECT_EQ(get_log_len_global(fd, 48 + 120, &header), 180);
    char buf[4096];
    unsigned int len = 0, off = 0;
    ASSERT_EQ(get_log_data_global(fd, 1, buf, &header, &len, &off), 0);
    EXPECT_EQ(std::string(buf, len), kThree[1]);
    EXPECT_TRUE(diag_texts().empty());

    EXPECT_EQ(get_log_index_global(fd, 49, &header), -1);
    EXPECT_EQ(get_log_len_global(0, 0, &header), -1);
    EXPECT_EQ(get_log_index_global(fd, 0, nullptr), -1);
    EXPECT_EQ(get_log_file_header_global(fd, nullptr), -1);
    log_header not_a_log{};
    std::memcpy(not_a_log.verstr, "xyz", 3);
    EXPECT_EQ(get_log_data_global(fd, 0, buf, &not_a_log, &len, &off), -1);
    EXPECT_EQ(get_log_index_global(fd, 0, &not_a_log), -1);
    EXPECT_EQ(diag_texts(),
              (Texts{"get_log_index_global: get log_seq failed, log_seq:-2 offset:49\n\n",
                     "get_log_len_global: Invalid parameter \n\n",
                     "get_log_index_global: Invalid parameter \n\n",
                     "get_log_file_header_global: Invalid parameter \n\n"}));
}

TEST_F(LogFile, HostileHeaders) {
    char buf[4096];
    unsigned int len = 0, off = 0;
    log_header header{};

    // More records claimed than index slots: nothing past the index is read.
    IndexedOptions more_records;
    more_records.record_count = 1000;
    int fd = open_bytes(logfile_writer::indexed_file(3, kThree, more_records));
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    EXPECT_EQ(get_log_data_global(fd, 3, buf, &header, &len, &off), -1);
    EXPECT_EQ(get_log_index_global(fd, 0, &header), 0);
    EXPECT_EQ(get_log_index_global(fd, 48 + 340, &header), -1);
    EXPECT_EQ(get_log_line(fd, 2, 48 + 340, buf), -7);
    std::vector<log_index_entry> index(3);
    ASSERT_EQ(get_all_file_index(fd, index.data(), &header), 0);
    EXPECT_EQ(get_log_len(fd, 48 + 340, &header, index.data()), -1);
    EXPECT_EQ(diag_texts().size(), 4u);

    // 8 x capacity wraps to 8 in 32 bits: the index is still read whole.
    unlink(kDiag.c_str());
    IndexedOptions wrap;
    wrap.index_capacity = 0x20000001u;
    wrap.slots_written = 3;
    fd = open_bytes(logfile_writer::indexed_file(3, kThree, wrap), "wrap.log");
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    EXPECT_EQ(get_log_index_global(fd, 0, &header), -1);
    Texts lines = diag_texts();
    EXPECT_TRUE(lines == Texts{"get_log_index_global: malloc log index failed\n\n"} ||
                lines == Texts{"get_log_index_global: get all log index failed\n\n"});

    // An index too large to allocate (8 x capacity far beyond 32 bits).
    unlink(kDiag.c_str());
    IndexedOptions huge;
    huge.index_capacity = 0xFFFFFFFFu;
    huge.slots_written = 3;
    fd = open_bytes(logfile_writer::indexed_file(3, kThree, huge), "huge.log");
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    if (!kLargeAllocationsFail) GTEST_SKIP() << "needs the sanitizer's allocation cap";
    EXPECT_EQ(get_log_len_global(fd, 0, &header), -1);
    EXPECT_EQ(get_log_index_global(fd, 0, &header), -1);
    EXPECT_EQ(get_log_line(fd, 2, 0, buf), -5);
    // The content region starts beyond 32 bits, far past the end of the file.
    EXPECT_EQ(get_log_data_global(fd, 0, buf, &header, &len, &off), -1);
    EXPECT_EQ(diag_texts(),
              (Texts{"get_log_len_global: malloc log index failed\n\n",
                     "get_log_index_global: malloc log index failed\n\n",
                     "get_log_line: malloc log index failed\n\n",
                     "get_log_data: read failed, need read len 120, but read len 0\n"}));
}

TEST_F(LogFile, EmptyFileDirectoryAndPipe) {
    char buf[4096];
    unsigned int len = 0, off = 0;
    log_header header{};
    int empty = open_bytes("", "empty.log");
    EXPECT_EQ(get_log_file_header_global(empty, &header), -1);
    EXPECT_EQ(get_log_file_header(empty, &header), -1);
    int dir = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GT(dir, 0);
    fds_.push_back(dir);
    EXPECT_EQ(get_log_file_header(dir, &header), -1);
    EXPECT_EQ(get_log_file_header_global(dir, &header), -1);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    fds_.push_back(pipe_fds[0]);
    fds_.push_back(pipe_fds[1]);
    EXPECT_EQ(get_log_file_header(pipe_fds[0], &header), -1);
    std::memcpy(header.verstr, "v000xxxx", 8);
    EXPECT_EQ(get_log_data_global(pipe_fds[0], 0, buf, &header, &len, &off), -1);
    std::string espipe = std::to_string(ESPIPE);
    EXPECT_EQ(diag_texts(), (Texts{"get_log_version: read version info error\n\n",
                                   "get_log_file_header: read file failed,rst = 0 \n\n",
                                   "get_log_file_header: read file failed,rst = -1 \n\n",
                                   "get_log_version: read version info error\n\n",
                                   "get_log_file_header: lseek failed errno " + espipe + "\n\n",
                                   "get_log_data_global: lseek failed\n"}));
}

// Runs the logbase tool; returns its exit status (-1 if it did not exit
// normally, e.g. on a crash) and its standard output.
int run_tool(const std::string &args, std::string *out = nullptr) {
    std::string command = std::string(LOGBASE_CLI) + " " + args + " 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        text.append(chunk, n);
    int status = pclose(pipe);
    if (out != nullptr) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(LogFile, ToolReadsEveryVersionAlikeAndRefusesMalformedFiles) {
    ASSERT_TRUE(
        testkit::write_file(dir_.file("lines.txt"), "date=1 a=\"b c\"\n\ndate=2 d=\x01  \n"));
    for (std::string version : {"0", "1", "13"}) {
        std::string log = dir_.file("v" + version + ".log"), out;
        ASSERT_EQ(
            run_tool("pack --version " + version + " --out " + log + " " + dir_.file("lines.txt")),
            0);
        ASSERT_EQ(run_tool("cat " + log, &out), 0);
        std::string tag = version == "1" ? "v001xxxx" : "";
        EXPECT_NE(out.find(": " + tag + "date=1 a=\"b c\" \n#1 @"), std::string::npos) << out;
        EXPECT_NE(out.find(": " + tag + "date=2 d=\\x01 \n"), std::string::npos) << out;
    }
    EXPECT_EQ(run_tool("cat --seq 1 --offset 0 " + dir_.file("v0.log")), 2);

    IndexedOptions long_entry;
    long_entry.entries = {{0, 5000}};
    // name, contents, whether the header alone is whole (info shows it)
    const std::vector<std::tuple<std::string, std::string, bool>> files = {
        {"empty.log", "", false},
        {"short.log", "v013xx", false},
        {"text.log", "hello world", false},
        {"cut.log", logfile_writer::indexed_file(13, kThree).substr(0, 30), true},
        {"long.log", logfile_writer::indexed_file(13, {record(100, 'a')}, long_entry), true},
    };
    for (const auto &[name, bytes, header_whole] : files) {
        ASSERT_TRUE(logfile_writer::save(dir_.file(name), bytes));
        EXPECT_EQ(run_tool("cat " + dir_.file(name)), 1) << name;
        EXPECT_EQ(run_tool("info " + dir_.file(name)), header_whole ? 0 : 1) << name;
    }
    EXPECT_EQ(run_tool("cat " + dir_.path()), 1);
    EXPECT_EQ(run_tool("cat /nonexistent/alog.log"), 1);
    ASSERT_EQ(mkfifo(dir_.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(run_tool("info " + dir_.file("fifo")), 1) << "refused, not waiting for a writer";
}

TEST(LogNames, LogFileNames) {
    char letter = '?';
    unsigned int number = 99;
    for (auto [name, type, num] : {std::tuple{"alog.log", 'a', 0u},
                                   {"tlog.12.log", 't', 12u},
                                   {"elog.3.log.gz", 'e', 3u},
                                   {"hlog.log", 'h', 0u}}) {
        EXPECT_EQ(match_logfname(name, &letter, &number), 1) << name;
        EXPECT_EQ(letter, type);
        EXPECT_EQ(number, num);
    }
    EXPECT_EQ(match_logfname("alog.log", nullptr, nullptr), 1);
    letter = '?';
    number = 99;
    for (const char *name : {"alog.0.log", "alog.log.index", "tlog.5.log.bin", "qlog.log",
                             "/var/log/alog.log", "alog.-2.log", "alog.7.lo", "alog", ""})
        EXPECT_EQ(match_logfname(name, &letter, &number), 0) << name;
    EXPECT_EQ(match_logfname(nullptr, &letter, &number), 0);
    EXPECT_EQ(letter, '?');
    EXPECT_EQ(number, 99u);

    for (auto [name, type] : {std::pair{"alog.log", 3},
                              {"elog.log", 1},
                              {"tlog.12.log", 2},
                              {"slog.log", 0},
                              {"zlog.log", 0},
                              {"alog.lo", 0},
                              {"\xe1log.log", 0}})
        EXPECT_EQ(get_log_type_by_filename(name), type) << name;
}

TEST(LogNames, FileSize) {
    testkit::TempDir dir;
    ASSERT_TRUE(testkit::write_file(dir.file("f"), std::string(1234, 'x')));
    ASSERT_EQ(symlink(dir.file("f").c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(file_size(dir.file("f").c_str()), 1234);
    EXPECT_EQ(file_size(dir.file("link").c_str()), 1234);
    EXPECT_EQ(file_size(dir.file("missing").c_str()), -1);
    EXPECT_EQ(file_size(nullptr), -1);
}

TEST(LogNames, ReplaceTagValueInPlace) {
    char line[64] = "devid=A1 vd=root msg=x";
    char *end = line + std::strlen(line);
    char *new_end = nullptr;
    ASSERT_EQ(log_line_replace_tag(line, 64, end, "vd=", 3, "dmz", 3, &new_end), 0);
    EXPECT_STREQ(line, "devid=A1 vd=dmz msg=x");
    EXPECT_EQ(new_end, line + 21);
    EXPECT_EQ(*new_end, '\0');
    EXPECT_EQ(log_line_replace_tag(line, 64, new_end, "vd=", 3, "dmz", 3, &new_end), 1);
    EXPECT_EQ(log_line_replace_tag(line, 64, new_end, "pri=", 4, "x", 1, &new_end), 2);
    // A longer value that merely begins with the current one is a change.
    ASSERT_EQ(log_line_replace_tag(line, 64, new_end, "vd=", 3, "dmz2", 4, &new_end), 0);
    EXPECT_STREQ(line, "devid=A1 vd=dmz2 msg=x");

    // The last field, made shorter.
    ASSERT_EQ(log_line_replace_tag(line, 64, new_end, "msg=", 4, "", 0, &new_end), 0);
    EXPECT_STREQ(line, "devid=A1 vd=dmz2 msg=");
    EXPECT_EQ(new_end, line + std::strlen(line));

    // Too long for the buffer, including the case that leaves no room for
    // the terminating zero: refused, the line unchanged.
    char small[16] = "a=1 b=2";
    EXPECT_EQ(log_line_replace_tag(small, 16, small + 7, "b=", 2, "123456789xyz", 12, &new_end),
              -1);
    EXPECT_EQ(log_line_replace_tag(small, 16, small + 7, "b=", 2, "123456789x", 10, &new_end), -1);
    EXPECT_STREQ(small, "a=1 b=2");
    EXPECT_EQ(log_line_replace_tag(small, 16, small + 7, "b=", 2, "123456789", 9, &new_end), 0);
    EXPECT_EQ(new_end, small + 15);
    EXPECT_STREQ(small, "a=1 b=123456789");
    // An `end` short of the value's real end.
    EXPECT_EQ(log_line_replace_tag(small, 16, small + 5, "b=", 2, "1", 1, &new_end), -1);
}

} // namespace
