// Binary log files, record access in every version, log file names. Runs
// inside throwaway_root; the diagnostic lines failures write are checked too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "log_reader.hpp"
#include "logbase.h"
#include "logfile_writer.hpp"
#include "testkit.hpp"

// IndexedOptions are given with designated initializers, the rest left unset.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Allocations above 1 GiB fail instead of aborting, so that a failed index
// allocation can be observed (without the sanitizer it may succeed).
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

namespace {

using logfile_writer::block_file;
using logfile_writer::indexed_file;

const std::string kDiag = "/var/log/dlog_logd";

// The diagnostic lines written since the last call (or the test's start), each
// as "function: text"; the file is removed.
std::string diag() {
    static const std::regex head(
        R"(\d\d-\d\d-\d\d:\d\d:\d\d\.\d{6}!errr [\w.]+\(\d+\)@(\w+):\n    )");
    std::string s = std::regex_replace(testkit::read_file(kDiag), head, "$1: ");
    unlink(kDiag.c_str());
    return s;
}

// A log line of the given length, as a record.
std::string record(size_t length, char fill) {
    return "date=x " + std::string(length - 9, fill) + " \n";
}

// Three records of 120, 180 and 40 bytes: offsets 0, 120, 300.
const std::vector<std::string> kThree = {record(120, 'a'), record(180, 'b'), record(40, 'c')};

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override { unlink(kDiag.c_str()); }

    // Writes `bytes` to a fresh file (`path_`) and opens it read-only.
    int open_bytes(const std::string &bytes) {
        path_ = dir_.file(std::to_string(++files_) + ".log");
        EXPECT_TRUE(logfile_writer::save(path_, bytes));
        return open(path_.c_str(), O_RDONLY);
    }

    testkit::TempDir dir_;
    std::string path_;
    int files_ = 0;
    char buf_[LOG_MAX_RECORD_LENGTH];
    unsigned int len_ = 0, off_ = 0;
};

TEST_F(LogFile, FormatOperationsInMemory) {
    const int none = LOG_VERSION_ERR_TEXT;
    const std::pair<const char *, int> versions[] = {{"date=1", 0},  {"v001xxxx", 1}, {"v010", 10},
                                                     {"v1:0", none}, {"vabc", none},  {"v", none}};
    for (auto [text, version] : versions)
        EXPECT_EQ(parse_log_version(text), version) << text;
    EXPECT_EQ(parse_log_version(nullptr), none);

    // Exact binary search over the first `count` entries only: {count, offset, result}.
    const log_index_entry three[] = {{0, 120}, {120, 180}, {300, 40}};
    const int absent = LOG_SEQ_ERR_ABSENT;
    const int searches[][3] = {{3, 0, 0},        {3, 120, 1},      {3, 300, 2},
                               {3, 121, absent}, {3, 500, absent}, {3, -5, LOG_SEQ_ERR_ARG},
                               {0, 0, absent},   {2, 300, absent}};
    for (auto [count, offset, seq] : searches)
        EXPECT_EQ(get_log_seq(three, count, offset), seq) << count << " " << offset;

    // Content offset 8024 for v2; 8 x capacity overflows 32 bits for `wraps`.
    const log_header v1{"v001xxx"}, v2{"v002xxx", 0, 0, 0, 1000},
        wraps{"v002xxx", 0, 0, 0, 0xFFFFFFFFu};
    const std::tuple<const log_header *, int, int> contents[] = {
        {&v1, 7, LOG_CONTENT_ERR_VERSTR},
        {&v1, 8, 0},
        {nullptr, 8, 0},
        {&v2, 20, LOG_CONTENT_ERR_HEADER},
        {&v2, 4096, LOG_CONTENT_ERR_INDEX},
        {&v2, 8024, 8024},
        {&wraps, 0x7FFFFFFF, LOG_CONTENT_ERR_INDEX}};
    for (auto [header, avail, result] : contents)
        EXPECT_EQ(get_log_content_offset(header, avail), result) << avail;

    // Offset lookups in an index held in memory.
    const log_header header{"v013xxx", 0, 3, 0, 1000}; // content offset 8024
    // Slot 3 is free (past record_count): an offset found only there is no record.
    std::vector<log_index_entry> index = {{0, 120}, {120, 180}, {300, 40}, {340, 10}};
    index.resize(1000);
    const std::tuple<decltype(&get_log_len), int, int> lookups[] = {
        {get_log_index, 8024, 0}, {get_log_index, 8324, 2}, {get_log_len, 8144, 180},
        {get_log_len, 0, 120},    {get_log_index, 100, -1}, {get_log_len, 8025, -1},
        {get_log_index, 8364, -1}};
    for (auto [lookup, offset, result] : lookups)
        EXPECT_EQ(lookup(-1, offset, &header, index.data()), result) << offset;
    EXPECT_EQ(diag(), "get_log_index: get log_seq failed, log_seq:-1 offset:100\n\n"
                      "get_log_len: get log_seq failed, log_seq:-2 offset:8025\n\n"
                      "get_log_index: get log_seq failed, log_seq:-2 offset:8364\n\n");

    // A missing header or index is a caller error, stopped in every build.
    EXPECT_DEATH(get_log_len(-1, 0, &header, nullptr), "log_index != NULL");
}

TEST_F(LogFile, IndexedFileHeaderIndexRecordsAndLengthLimits) {
    int fd = open_bytes(indexed_file(13, kThree, {.reserved = 0x11223344, .index_capacity = 5}));
    log_header header{};
    ASSERT_EQ(get_log_file_header(fd, &header), 0);
    EXPECT_EQ(std::tuple(header.reserved, header.record_count, header.index_capacity),
              std::tuple(0x11223344u, 3u, 5u));
    ASSERT_EQ(get_log_data(fd, 2, buf_, &header, &len_, &off_), 0);
    EXPECT_EQ(off_, 24u + 40u + 300u);
    EXPECT_EQ(std::string(buf_, len_), kThree[2]);

    // Past the last record: refused before the file is touched.
    off_t before = lseek(fd, 7, SEEK_SET);
    EXPECT_EQ(get_log_data(fd, 3, buf_, &header, &len_, &off_), -1);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), before);
    log_index_entry entry{};
    EXPECT_EQ(get_file_index(fd, &entry, -1, &header), -1);
    EXPECT_EQ(diag(), "get_log_data: Invalid seq number 3 \n\n"
                      "get_file_index: Invalid parameter \n\n");

    // Record length limit: 4096 is read whole, 4097 is refused.
    std::vector<std::string> records = {record(4096, 'x'), record(100, 'y')};
    fd = open_bytes(indexed_file(5, records, {.entries = {{{0, 4096}, {4096, 4097}}}}));
    ASSERT_EQ(get_log_file_header(fd, &header), 0);
    ASSERT_EQ(get_log_data(fd, 0, buf_, &header, &len_, &off_), 0);
    EXPECT_EQ(std::string(buf_, len_), records[0]);
    EXPECT_EQ(get_log_data(fd, 1, buf_, &header, &len_, &off_), -1);
    EXPECT_EQ(diag(), "get_file_index: invalid log length 4097 \n\n"
                      "get_log_data: get_file_index failed\n");
}

TEST_F(LogFile, LineByOffsetInEveryVersion) {
    const std::string v0 = block_file(0, {"date=0 \n", "date=1 \n"}),
                      v1 = block_file(1, {"v001xxxxdate=0 \n"}), v2 = indexed_file(2, kThree);
    // {file, version, offset, result}: a block must be whole; a record cut
    // short fails after its own line with result 0.
    const std::tuple<std::string, int, int, int> lines[] = {
        {v0, 0, 1024, 1024},
        {v0, 0, 1500, LOG_LINE_ERR_BLOCK0},
        {v1, 1, 0, 4096},
        {v1, 1, 4096, LOG_LINE_ERR_BLOCK1},
        {v2, 3, 0, LOG_LINE_ERR_VERSION},
        {v2, 2, 30, LOG_LINE_ERR_OFFSET},
        {v2.substr(0, 20), 2, 0, LOG_LINE_ERR_HEADER},
        {v2.substr(0, 40), 2, 0, LOG_LINE_ERR_INDEX},
        {v2.substr(0, v2.size() - 1), 2, 24 + 24 + 300, 0},
        {v2, 2, 24 + 24 + 120, 180}};
    for (const auto &[bytes, version, offset, result] : lines)
        EXPECT_EQ(get_log_line(open_bytes(bytes), version, offset, buf_), result) << offset;
    EXPECT_EQ(std::string(buf_, 180), kThree[1]);
    EXPECT_EQ(diag(), "get_log_line: get log_seq failed, log_seq:-1 offset:30\n\n"
                      "get_log_file_header: read file failed,rst = 20 \n\n"
                      "get_log_line: get log header failed\n\n"
                      "get_all_file_index: read file failed \n\n"
                      "get_log_line: get all log index failed\n\n"
                      "get_log_data: read failed, need read len 40, but read len 39\n");
}

TEST_F(LogFile, GlobalOperationsOnBlockAndIndexedVersions) {
    std::vector<std::string> blocks(10, "date=x \n");
    blocks[9] = "date=9 \n";
    int fd = open_bytes(block_file(0, blocks) + std::string(100, 'z'));

    log_header header;
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 10340) << "the position is left at the end";
    EXPECT_EQ(std::tuple(header.record_count, header.file_length, header.index_capacity),
              std::tuple(10u, 10340u, 0u));

    ASSERT_EQ(get_log_data_global(fd, 9, buf_, &header, &len_, &off_), 0);
    EXPECT_EQ(std::pair(len_, off_), std::pair(1024u, 9216u));
    off_ = 7;
    EXPECT_EQ(get_log_data_global(fd, 10, buf_, &header, &len_, &off_), -1);
    EXPECT_EQ(std::pair(len_, off_), std::pair(0u, 7u)) << "the offset is left alone";
    EXPECT_EQ(get_log_index_global(fd, 1024, &header), 1);

    int v1 = open_bytes(block_file(1, {"v001xxxxdate=a \n", "v001xxxxdate=b \n"}));
    ASSERT_EQ(get_log_file_header_global(v1, &header), 0);
    EXPECT_EQ(get_log_len_global(v1, 123456, &header), 4096);

    int v13 = open_bytes(indexed_file(13, kThree));
    ASSERT_EQ(get_log_file_header_global(v13, &header), 0);
    EXPECT_EQ(get_log_index_global(v13, 48 + 300, &header), 2);
    EXPECT_EQ(get_log_index_global(v13, 49, &header), -1);
    EXPECT_EQ(diag(), "get_log_data_global: fread failed\n"
                      "get_log_index_global: get log_seq failed, log_seq:-2 offset:49\n\n");
}

TEST_F(LogFile, UnreadableFilesAndHostileHeaders) {
    log_header header{};
    int fd = open_bytes(indexed_file(13, kThree));
    ASSERT_EQ(lseek(fd, 77, SEEK_SET), 77);
    EXPECT_EQ(get_log_version(fd), 13);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 77);
    EXPECT_EQ(get_log_version_by_path(path_.c_str()), 13);

    int empty = open_bytes("");
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    EXPECT_EQ(get_log_version(empty), LOG_VERSION_ERR_READ);
    EXPECT_EQ(get_log_version_by_path(dir_.file("missing.log").c_str()), LOG_PATH_ERR_OPEN);
    // Neither the seek to the start nor the one back can succeed.
    EXPECT_EQ(get_log_version(pipe_fds[0]), LOG_VERSION_ERR_RESTORE);
    EXPECT_EQ(get_log_file_header(empty, &header), -1);
    std::string no_seek = "get_log_version: lseek faild, errno " + std::to_string(ESPIPE) + "\n\n";
    EXPECT_EQ(diag(), "get_log_version: read version info error\n\n"
                      "get_log_version_by_path: cannot open the log file '" +
                          dir_.file("missing.log") + "'\n" + no_seek + no_seek +
                          "get_log_file_header: read file failed,rst = 0 \n\n");

    // Bad arguments are refused and a descriptor that cannot seek fails at
    // its first seek, each with its line.
    ASSERT_EQ(get_log_file_header(fd, &header), 0);
    log_index_entry entries[3];
    EXPECT_EQ(get_log_file_header(-1, &header), -1);
    EXPECT_EQ(get_log_file_header(pipe_fds[0], &header), -1);
    EXPECT_EQ(get_file_index(pipe_fds[0], entries, 0, &header), -1);
    EXPECT_EQ(get_all_file_index(pipe_fds[0], entries, &header), -1);
    EXPECT_EQ(get_all_file_index(fd, nullptr, &header), -1);
    EXPECT_EQ(get_log_data(fd, 0, nullptr, &header, &len_, &off_), -1);
    EXPECT_EQ(get_log_file_header_global(-1, &header), -1);
    EXPECT_EQ(get_log_data_global(fd, 0, nullptr, &header, &len_, &off_), -1);
    EXPECT_EQ(get_log_index_global(fd, 0, nullptr), -1);
    EXPECT_EQ(get_log_index_global(-1, 0, &header), -1);
    EXPECT_EQ(get_log_line(pipe_fds[0], 0, 0, buf_), LOG_LINE_ERR_BLOCK0);
    EXPECT_EQ(get_log_line(fd, 1, -1, buf_), LOG_LINE_ERR_BLOCK1);
    EXPECT_EQ(get_log_version_by_path(nullptr), LOG_PATH_ERR_OPEN);
    open_bytes("v01");
    EXPECT_EQ(get_log_version_by_path(path_.c_str()), LOG_PATH_ERR_READ);
    EXPECT_EQ(diag(), "get_log_file_header: Invalid parameter \n\n"
                      "get_log_file_header: lseek failed errno " +
                          std::to_string(ESPIPE) +
                          "\n\n"
                          "get_file_index: lseek failed \n\n"
                          "get_all_file_index: lseek failed \n\n"
                          "get_all_file_index: Invalid parameter \n\n"
                          "get_log_data: Invalid parameter \n\n"
                          "get_log_file_header_global: Invalid parameter \n\n"
                          "get_log_data_global: Invalid parameter \n\n"
                          "get_log_index_global: Invalid parameter \n\n"
                          "get_log_index_global: Invalid parameter \n\n"
                          "get_log_version_by_path: cannot open the log file '(null)'\n"
                          "get_log_version_by_path: read version info error\n\n");

    // More records claimed than index slots: nothing past the index is read.
    // 8 x capacity wrapping to 8 in 32 bits: the index is still read whole.
    fd = open_bytes(indexed_file(3, kThree, {.record_count = 1000}));
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    std::vector<log_index_entry> index(3);
    ASSERT_EQ(get_all_file_index(fd, index.data(), &header), 0);
    EXPECT_EQ(get_log_len(fd, 48 + 340, &header, index.data()), -1);
    fd = open_bytes(indexed_file(3, kThree, {.index_capacity = 0x20000001u, .slots_written = 3}));
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    EXPECT_EQ(get_log_index_global(fd, 0, &header), -1);
    diag();

    // A 32 GiB index claimed by a small file fails its read without the
    // allocation (which fails under the sanitizer's cap).
    fd = open_bytes(indexed_file(3, kThree, {.index_capacity = 0xFFFFFFFFu, .slots_written = 3}));
    ASSERT_EQ(get_log_file_header_global(fd, &header), 0);
    EXPECT_EQ(get_log_len_global(fd, 0, &header), -1);
    EXPECT_EQ(get_log_line(fd, 2, 0, buf_), LOG_LINE_ERR_INDEX);
    // The content region starts beyond 32 bits, far past the end of the file.
    EXPECT_EQ(get_log_data_global(fd, 0, buf_, &header, &len_, &off_), -1);
    const std::string short_index = "get_all_file_index: read file failed \n\n";
    EXPECT_EQ(diag(), short_index + "get_log_len_global: get all log index failed\n\n" +
                          short_index + "get_log_line: get all log index failed\n\n" +
                          "get_log_data: read failed, need read len 120, but read len 0\n");
}

TEST_F(LogFile, BlockRecordsOutOfRangeAndSampleContentOffset) {
    int v0 = open_bytes(block_file(0, {"date=0 \n", "date=1 \n"}));
    int v1 = open_bytes(block_file(1, {"v001xxxxdate=0 \n"}));
    log_header h0{}, h1{};
    ASSERT_EQ(get_log_file_header_global(v0, &h0), 0);
    ASSERT_EQ(get_log_file_header_global(v1, &h1), 0);
    // Blocks before the start or at 4 GiB and beyond (no 32-bit offset names them).
    const std::tuple<int, const log_header *, int> far[] = {
        {v0, &h0, 4194304}, {v0, &h0, -4194304}, {v0, &h0, -1}, {v1, &h1, 1048576}};
    for (auto [fd, header, seq] : far)
        EXPECT_EQ(get_log_data_global(fd, seq, buf_, header, &len_, &off_), -1) << seq;
    const std::string lseek_failed = "get_log_data_global: lseek failed\n";
    EXPECT_EQ(diag(), lseek_failed + lseek_failed + lseek_failed + lseek_failed);
    // An offset inside a block names it; before the file or past its last block, nothing.
    const std::tuple<int, const log_header *, int, int> offsets[] = {
        {v0, &h0, 2047, 1}, {v0, &h0, 2048, -1}, {v0, &h0, -5, -1}, {v1, &h1, 4096, -1}};
    for (auto [fd, header, offset, seq] : offsets)
        EXPECT_EQ(get_log_index_global(fd, offset, header), seq) << offset;
    EXPECT_EQ(diag(), "get_log_index_global: get log_seq failed, log_seq:-2 offset:2048\n\n"
                      "get_log_index_global: get log_seq failed, log_seq:-1 offset:-5\n\n"
                      "get_log_index_global: get log_seq failed, log_seq:-2 offset:4096\n\n");

    // The sample loader's content offset lies inside the data it read: 0 for
    // the block versions, never past the end for a hostile capacity.
    const std::string sample = "/var/log/znlog/root/disklog/alog.log";
    ASSERT_EQ(system("mkdir -p /var/log/znlog/root/disklog"), 0);
    const std::pair<std::string, int> samples[] = {
        {block_file(0, {"date=0 " + std::string(30, 'x') + "\n"}), 0},
        {indexed_file(13, kThree, {.index_capacity = 0x20000001u, .slots_written = 3}), 388},
        {"v01", 3}};
    for (const auto &[bytes, expected] : samples) {
        ASSERT_TRUE(logfile_writer::save(sample, bytes));
        int size = 0, content = -1;
        free(read_log_file(LOG_CAT_ATTACK, &size, &content));
        EXPECT_EQ(content, expected) << bytes.size();
    }
}

// The sequential reader, on a regular file and on a pipe fed by a thread.
class LogStream : public LogFile {
  protected:
    void TearDown() override {
        log_stream_close(stream_);
        if (writer_.joinable()) writer_.join();
    }

    // A descriptor delivering `bytes`: the file, or a pipe written by a thread.
    int source(const std::string &bytes, bool pipe_it) {
        if (!pipe_it) return open_bytes(bytes);
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        if (writer_.joinable()) writer_.join();
        writer_ = std::thread([bytes, fd = fds[1]] {
            (void)!write(fd, bytes.data(), bytes.size());
            close(fd);
        });
        return fds[0];
    }

    // Every result of log_stream_next (or log_stream_skip) until the end, as "seq:result"
    // text ("+" for a record, whose text must match `expected`); a failure's reason lasts
    // until a record reads well. Each record's offset/length goes to spans_.
    std::string read_all(int fd, const std::vector<std::string> &expected = {}, bool skip = false) {
        EXPECT_EQ(log_stream_open(fd, &stream_), 0);
        std::string results;
        spans_.clear();
        log_record r;
        for (int result; (result = (skip ? log_stream_skip : log_stream_next)(stream_, &r)) !=
                         LOG_STREAM_END;) {
            EXPECT_EQ(*log_stream_error(stream_) == '\0', result == LOG_STREAM_RECORD) << r.seq;
            results += std::to_string(r.seq) +
                       (result == LOG_STREAM_RECORD ? "+ " : ":" + std::to_string(result) + " ");
            if (result != LOG_STREAM_RECORD) continue;
            spans_ += std::to_string(r.offset) + "/" + std::to_string(r.length) + " ";
            EXPECT_EQ(r.data == nullptr, skip);
            if (!skip && r.seq < expected.size()) {
                EXPECT_EQ(std::string(r.data, r.length), expected[r.seq]);
            }
        }
        return results;
    }
    std::string spans_;

    log_stream *stream_ = nullptr;
    std::thread writer_;
};

TEST_F(LogStream, EveryVersionOnFileAndPipeMatchesTheRecordCalls) {
    // Attack-sized lines over more than one 1 MiB window, so that records straddle
    // refills; a trailing partial block is no record, a block's text its line unpadded.
    for (int version : {0, 1, 13}) {
        std::vector<std::string> lines;
        for (int i = 0; i < 1500; ++i)
            lines.push_back((version == 1 ? "v001xxxx" : "") +
                            record(300 + i * 7 % 700, static_cast<char>('a' + i % 26)));
        std::string bytes = logfile_writer::log_file(version, lines) + (version < 2 ? "v0" : "");
        int file = open_bytes(bytes);
        log_header header{};
        ASSERT_EQ(get_log_file_header_global(file, &header), 0);
        ASSERT_EQ(header.record_count, lines.size());
        for (bool pipe_it : {false, true}) {
            SCOPED_TRACE(std::to_string(version) + (pipe_it ? " pipe" : " file"));
            int fd = source(bytes, pipe_it);
            if (!pipe_it) lseek(fd, 77, SEEK_SET);
            ASSERT_EQ(log_stream_open(fd, &stream_), 0);
            EXPECT_EQ(log_stream_version(stream_), version);
            EXPECT_EQ(log_stream_header(stream_)->record_count,
                      pipe_it && version < 2 ? 0 : header.record_count);
            log_record r;
            uint32_t seq = 0;
            for (; log_stream_next(stream_, &r) == LOG_STREAM_RECORD; ++seq) {
                ASSERT_EQ(get_log_data_global(file, seq, buf_, &header, &len_, &off_), 0);
                ASSERT_EQ(std::tuple(r.seq, r.offset, std::string(r.data, r.length + 1),
                                     std::string(r.data, r.text_length)),
                          std::tuple(seq, off_, std::string(buf_, len_) + '\0', lines[seq]));
            }
            EXPECT_EQ(seq, lines.size());
            EXPECT_EQ(log_stream_next(stream_, &r), LOG_STREAM_END);
            if (!pipe_it) {
                // Skipped, the same records without their bytes; then read, by number.
                log_stream *skipping = nullptr;
                ASSERT_EQ(log_stream_open(fd, &skipping), 0);
                for (seq = 0; log_stream_skip(skipping, &r) == LOG_STREAM_RECORD; ++seq) {
                    ASSERT_EQ(get_log_data_global(file, seq, buf_, &header, &len_, &off_), 0);
                    ASSERT_EQ(std::tuple(r.seq, r.offset, r.length, r.data),
                              std::tuple(seq, off_, len_, nullptr));
                }
                EXPECT_EQ(seq, lines.size());
                log_stream_close(skipping);
            }
            EXPECT_EQ(log_stream_seek(stream_, 3), pipe_it ? -1 : 0);
            if (!pipe_it) {
                EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 77) << "the caller's position is left alone";
                ASSERT_EQ(log_stream_next(stream_, &r), LOG_STREAM_RECORD);
                EXPECT_EQ(r.seq, 3u);
            }
            log_stream_close(std::exchange(stream_, nullptr));
            EXPECT_EQ(fcntl(fd, F_GETFD), 0) << "the descriptor stays open";
            close(fd);
        }
    }
    EXPECT_EQ(diag(), "");
}

TEST_F(LogStream, BadRecordsFailWithTheRecordCallsLinesAndReadingGoesOn) {
    // {bytes, results, diagnostic lines}, the same on a file and on a pipe.
    std::string three = indexed_file(13, kThree);
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {indexed_file(13, kThree, {.entries = {{{0, 120}, {120, 4097}, {300, 40}}}}), "0+ 1:-1 2+ ",
         "log_stream_next: invalid log length 4097 \n\n"
         "log_stream_next: get_file_index failed\n"},
        // Cut short: the records past the end stop the reading with one line.
        {three.substr(0, three.size() - 1), "0+ 1+ 2:-4 ",
         "log_stream_next: records 2 to 2 lie past the end of the file (387 bytes)\n"},
        {three.substr(0, 200), "0+ 1:-4 ",
         "log_stream_next: records 1 to 2 lie past the end of the file (200 bytes)\n"},
        // A record far ahead fails alone, also on a pipe, which keeps what later ones need.
        {indexed_file(13, kThree, {.entries = {{{0x7ffffff0, 10}, {0, 120}, {120, 180}}}}),
         "0:-1 1+ 2+ ", "log_stream_next: read failed, need read len 10, but read len 0\n"},
        {indexed_file(13, {kThree[1], kThree[0]}, {.entries = {{{180, 120}, {0, 180}}}}), "0+ 1+ ",
         ""},
        // An empty record far past the end reads as get_log_data reads it.
        {indexed_file(13, kThree, {.entries = {{{0, 120}, {0x40000000, 0}, {300, 40}}}}),
         "0+ 1+ 2+ ", ""},
        {indexed_file(13, kThree, {.record_count = 1000}), "0+ 1+ 2+ 3:-2 ",
         "log_stream_next: Invalid seq number 3 \n\n"},
    };
    for (auto [bytes, results, lines] : cases) {
        std::string spans;
        for (bool pipe_it : {false, true}) {
            EXPECT_EQ(read_all(source(bytes, pipe_it), {kThree[0]}), results) << pipe_it;
            EXPECT_EQ(diag(), lines) << pipe_it;
            log_stream_close(std::exchange(stream_, nullptr));
            if (!pipe_it) spans = spans_;
        }
        // A skip of a file's records finds what reading them finds, in the same lines.
        EXPECT_EQ(read_all(open_bytes(bytes), {}, true), results);
        EXPECT_EQ(spans_, spans);
        log_stream_close(std::exchange(stream_, nullptr));
        EXPECT_EQ(std::regex_replace(diag(), std::regex("log_stream_skip:"), "log_stream_next:"),
                  lines);
    }

    // Files that cannot be opened: {bytes, result, line, whether a pipe finds it only when
    // it reads its index}. A pipe's open reads the header alone, so an index cut short
    // opens, and the first log_stream_next stops at record 0 with the open's words.
    const std::tuple<std::string, int, std::string, bool> refused[] = {
        {"", LOG_STREAM_ERR_NOT_LOG, "read version info error\n\n", false},
        {"xlog.log is no log", LOG_STREAM_ERR_NOT_LOG, "", false},
        {three.substr(0, 20), LOG_STREAM_ERR_HEADER, "read file failed,rst = 20 \n\n", false},
        {three.substr(0, 40), LOG_STREAM_ERR_HEADER, "read file failed \n\n", true},
        {indexed_file(3, kThree, {.index_capacity = 0xFFFFFFFFu, .slots_written = 3}),
         LOG_STREAM_ERR_HEADER, "read file failed \n\n", true}};
    for (auto [bytes, result, line, when_read] : refused)
        for (bool pipe_it : {false, true}) {
            SCOPED_TRACE(std::to_string(bytes.size()) + (pipe_it ? " pipe" : " file"));
            const int fd = source(bytes, pipe_it);
            if (pipe_it && when_read) {
                ASSERT_EQ(log_stream_open(fd, &stream_), 0);
                EXPECT_EQ(diag(), "");
                log_record r{};
                r.seq = 99;
                EXPECT_EQ(log_stream_next(stream_, &r), LOG_STREAM_STOPPED);
                EXPECT_EQ(std::tuple(r.seq, std::string(log_stream_error(stream_))),
                          std::tuple(0u, std::string(log_stream_strerror(result))));
                EXPECT_EQ(log_stream_next(stream_, &r), LOG_STREAM_END);
                EXPECT_EQ(diag(), "log_stream_next: " + line);
                log_stream_close(std::exchange(stream_, nullptr));
                continue;
            }
            EXPECT_EQ(log_stream_open(fd, &stream_), result);
            EXPECT_EQ(stream_, nullptr);
            EXPECT_EQ(diag(), line.empty() ? "" : "log_stream_open: " + line);
        }
    // However many records fail, a stream writes 100 lines, then says how many it left out.
    read_all(open_bytes(indexed_file(13, std::vector<std::string>(150, kThree[2]),
                                     {.entries = std::vector<log_index_entry>(150, {0, 4097})})));
    log_stream_close(std::exchange(stream_, nullptr));
    std::string flood = diag();
    EXPECT_EQ(std::count(flood.begin(), flood.end(), ':'), 101) << flood;
    EXPECT_TRUE(flood.ends_with(
        "log_stream_close: 200 more diagnostic lines about this file were left out\n"));
    EXPECT_EQ(log_stream_open(-1, &stream_), LOG_STREAM_ERR_ARG);
    EXPECT_EQ(log_stream_next(nullptr, nullptr), LOG_STREAM_INVALID);
    diag();
    // Each open failure in words of its own, apart from success's and an unknown code's.
    for (int a = LOG_STREAM_ERR_MEMORY; a <= 1; ++a)
        for (int b = a + 1; b <= 1; ++b)
            EXPECT_STRNE(log_stream_strerror(a), log_stream_strerror(b)) << a << " " << b;
}

// Bytes this process has read so far (read and pread alike), less those its
// own looks read; -1 when the kernel does not count them.
long long bytes_read() {
    static long long looked = 0;
    char io[512];
    int fd = open("/proc/self/io", O_RDONLY | O_CLOEXEC);
    ssize_t n = fd < 0 ? -1 : read(fd, io, sizeof io - 1);
    if (fd >= 0) close(fd);
    if (n <= 0) return -1;
    io[n] = '\0';
    const char *rchar = std::strstr(io, "rchar: ");
    if (rchar == nullptr) return -1;
    const long long total = std::atoll(rchar + 7) - looked; // this look not yet counted
    looked += n;
    return total;
}

// Opening reads the version and header and nothing more: a pipe gives up no
// index byte before the first record is asked for, a regular file is not read
// past its header. A pipe's index that cannot stay within 64 MiB is refused unread.
TEST_F(LogStream, OpenReadsTheHeaderAlone) {
    const std::string indexed = indexed_file(13, kThree),
                      blocks = block_file(0, {"date=0 \n", "date=1 \n"}),
                      too_large = indexed_file(
                          13, kThree,
                          {.record_count = 7000000, .index_capacity = 7000000, .slots_written = 3});
    const std::tuple<std::string, int, size_t> cases[] = {
        {indexed, 0, 24}, {blocks, 0, 8}, {too_large, LOG_STREAM_ERR_MEMORY, 24}};
    for (const auto &[bytes, result, header] : cases) {
        SCOPED_TRACE(bytes.size());
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        // Written whole into the pipe's buffer, the writer kept open: a reader
        // that took more than it needs would find it there.
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        EXPECT_EQ(log_stream_open(fds[0], &stream_), result);
        int left = -1;
        EXPECT_EQ(ioctl(fds[0], FIONREAD, &left), 0);
        EXPECT_EQ(left, static_cast<int>(bytes.size() - header));
        close(fds[1]);
        if (result == 0) { // the records still follow
            log_record r{};
            EXPECT_EQ(log_stream_next(stream_, &r), LOG_STREAM_RECORD);
            EXPECT_EQ(std::string(r.data, r.text_length),
                      bytes == blocks ? "date=0 \n" : kThree[0]);
        }
        log_stream_close(std::exchange(stream_, nullptr));
        close(fds[0]);
        EXPECT_EQ(diag(), result == 0 ? ""
                                      : "log_stream_open: log index of 7000000 entries is too "
                                        "large to hold for a stream\n\n");

        if (result != 0) continue;
        int file = open_bytes(bytes);
        const long long before = bytes_read();
        ASSERT_EQ(log_stream_open(file, &stream_), 0);
        if (before >= 0) {
            EXPECT_EQ(bytes_read() - before, static_cast<long long>(header));
        }
        log_stream_close(std::exchange(stream_, nullptr));
    }
}

TEST_F(LogStream, ToolRecordSourceGivesReasonsInWords) {
    // A pipe, opened by path: read front to back, the bad record explained.
    std::string bytes = indexed_file(13, kThree, {.entries = {{{0, 120}, {120, 4097}, {300, 40}}}});
    cli::LogReader pipe_reader;
    int fd = source(bytes, true);
    ASSERT_EQ(pipe_reader.open("/dev/fd/" + std::to_string(fd)), "");
    close(fd);
    std::string steps;
    cli::LogReader::Record r{};
    for (cli::LogReader::Step step; (step = pipe_reader.next(r)) != cli::LogReader::Step::kEnd;)
        steps += step == cli::LogReader::Step::kRecord ? std::to_string(r.seq) + "+ "
                                                       : pipe_reader.error() + ". ";
    EXPECT_EQ(steps, "0+ record 1: its index entry gives a length above 4096. 2+ ");
    EXPECT_FALSE(pipe_reader.read(0));
    EXPECT_EQ(pipe_reader.error(), "a pipe is read front to back only");
    diag();

    // A block record ends at its first zero byte; random access, then on.
    cli::LogReader file_reader;
    open_bytes(block_file(0, {"date=0 \n", "date=1 \n"}));
    ASSERT_EQ(file_reader.open(path_), "");
    auto second = file_reader.read(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(std::string(second->data, second->length + 1), std::string("date=1 \n\0", 9));
    EXPECT_EQ(file_reader.next(r), cli::LogReader::Step::kEnd);
    EXPECT_FALSE(file_reader.read(2));
    EXPECT_EQ(file_reader.error(), "no record 2 (the file holds 2)");
}

// The tool's wait status and what it writes to stderr; its output goes to `out`.
std::pair<int, std::string> tool(const std::string &args, const std::string &out = "/dev/null") {
    FILE *run = popen((std::string(LOGBASE_CLI) + " " + args + " 2>&1 >" + out).c_str(), "r");
    std::string said;
    for (char text[1000]; size_t n = fread(text, 1, sizeof text, run);)
        said.append(text, n);
    return {pclose(run), said};
}

// A cut-short file: one message and the summary; its diagnostic line where --diagnostics says.
// A file too short for its header is refused.
TEST_F(LogFile, ToolSaysOnceThatAFileIsCutShortSkipsABadRecordAndRefusesAShortHeader) {
    std::string three = indexed_file(13, kThree);
    ASSERT_TRUE(logfile_writer::save(dir_.file("cut.log"), three.substr(0, 200)));
    for (std::string mode : {"stderr", "off"}) {
        auto [status, said] = tool("--diagnostics " + mode + " cat " + dir_.file("cut.log"));
        EXPECT_NE(status, 0);
        EXPECT_EQ(said.find("records 1 to 2 lie past the end: the file is cut short\n"),
                  said.find("reading stopped: ") + 17)
            << said;
        EXPECT_EQ(said.find("records 1 to 2 lie past the end of the file (200 bytes)") !=
                      std::string::npos,
                  mode == "stderr")
            << said;
        EXPECT_FALSE(testkit::exists(kDiag)) << mode;
    }
    // An unreadable record is named and the records after it still come.
    ASSERT_TRUE(logfile_writer::save(
        dir_.file("bad.log"),
        indexed_file(13, kThree, {.entries = {{{0, 120}, {120, 4097}, {300, 40}}}})));
    auto [status, said] = tool("--diagnostics off cat " + dir_.file("bad.log"), dir_.file("out"));
    EXPECT_NE(status, 0);
    EXPECT_TRUE(said.starts_with("logbase: " + dir_.file("bad.log") +
                                 ": record 1 unreadable: its index entry gives a length above "
                                 "4096\n"))
        << said;
    const std::string out = testkit::read_file(dir_.file("out"));
    EXPECT_TRUE(out.starts_with("#0 ") && out.find("\n#2 ") != std::string::npos) << out;
    ASSERT_TRUE(logfile_writer::save(dir_.file("short.log"), "v013xx"));
    status = tool("info " + dir_.file("short.log")).first;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

TEST(LogNames, NamesFileSizeAndTagRewriting) {
    // {name, letter and number when it is a log file name (else '?', 99)}
    const std::tuple<const char *, char, unsigned> names[] = {
        {"tlog.12.log", 't', 12},    {"elog.3.log.gz", 'e', 3}, {"alog.0.log", '?', 99},
        {"alog.log.index", '?', 99}, {"qlog.log", '?', 99},     {"/var/log/alog.log", '?', 99},
        {"alog.-2.log", '?', 99},    {"alog.7.lo", '?', 99},    {"", '?', 99}};
    for (auto [name, type, num] : names) {
        char letter = '?';
        unsigned int number = 99;
        EXPECT_EQ(match_logfname(name, &letter, &number), type != '?') << name;
        EXPECT_EQ(std::pair(letter, number), std::pair(type, num)) << name;
    }
    EXPECT_EQ(get_log_type_by_filename("tlog.12.log"), LOG_CAT_TRAFFIC);
    EXPECT_EQ(get_log_type_by_filename("\xe1log.log"), LOG_CAT_NONE);

    testkit::TempDir dir;
    ASSERT_TRUE(testkit::write_file(dir.file("f"), std::string(1234, 'x')));
    ASSERT_EQ(symlink(dir.file("f").c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(file_size(dir.file("link").c_str()), 1234);

    // A longer value that begins with the current one is a change; one too
    // long by only the terminating zero is refused, the line unchanged.
    char line[16] = "vd=ab msg=x";
    char *end = line + 11;
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "vd=", 3, "ab", 2, &end), LOG_TAG_UNCHANGED);
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "pri=", 4, "x", 1, &end), LOG_TAG_ABSENT);
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "vd=", 3, "abcd", 4, &end), LOG_TAG_REPLACED);
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "msg=", 4, "", 0, &end), LOG_TAG_REPLACED);
    EXPECT_STREQ(line, "vd=abcd msg=");
    EXPECT_EQ(end, line + std::strlen(line));
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "vd=", 3, "abcdefgh", 8, &end), LOG_TAG_ERR_FIT);
    EXPECT_STREQ(line, "vd=abcd msg=");
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "vd=", 3, "abcdefg", 7, &end), LOG_TAG_REPLACED);
    EXPECT_STREQ(line, "vd=abcdefg msg=");

    // Missing or inconsistent arguments change nothing.
    EXPECT_EQ(log_line_replace_tag(nullptr, 16, end, "vd=", 3, "a", 1, &end), LOG_TAG_ERR_FIT);
    EXPECT_EQ(log_line_replace_tag(line, 0, end, "vd=", 3, "a", 1, &end), LOG_TAG_ERR_FIT);
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "vd=", 3, "a", -1, &end), LOG_TAG_ERR_FIT);
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "vd=", 4, "a", 1, &end), LOG_TAG_ERR_FIT);
    EXPECT_EQ(log_line_replace_tag(line, 16, end, "vd=", 3, "a", 1, nullptr), LOG_TAG_ERR_FIT);
    EXPECT_STREQ(line, "vd=abcdefg msg=");
    EXPECT_EQ(match_logfname(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(get_log_type_by_filename(nullptr), LOG_CAT_NONE);
    EXPECT_EQ(get_log_type_by_filename("alog"), LOG_CAT_NONE);
    EXPECT_EQ(file_size(nullptr), -1);
    EXPECT_EQ(file_size(dir.file("none").c_str()), -1);
}

} // namespace
