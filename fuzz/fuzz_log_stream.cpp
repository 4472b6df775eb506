// The sequential reader on the same bytes as a file, as a pipe and through
// the record calls: the file and the pipe give the same results and records
// (where the file's open fails for its index, the pipe, which reads its index
// only at the first record, stops there with the open's words), in order and
// after seeks drawn from the input, and every record served is the one
// get_log_data_global reads, every failure one it refuses. A skip through
// the file finds what reading it finds.
// Failures write the diagnostic file, so this runs inside throwaway_root.
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "fuzz_input.hpp"
#include "logbase.h"

namespace {

using fuzz::check;
constexpr int kMaxSteps = 256;
char record[LOG_MAX_RECORD_LENGTH + 1];

// Every result until the end (code, sequence number, a record's bytes or a
// stop's reason); the open's failure in words, or "opened", first.
std::vector<std::string> read_through(int fd) {
    log_stream *stream = nullptr;
    const int opened = log_stream_open(fd, &stream);
    std::vector<std::string> steps{opened == 0 ? "opened" : log_stream_strerror(opened)};
    if (stream == nullptr) return steps;
    log_record r{};
    for (int n = 0; n < kMaxSteps; ++n) {
        int result = log_stream_next(stream, &r);
        if (result == LOG_STREAM_END) break;
        std::string step = std::to_string(result) + ":" + std::to_string(r.seq);
        if (result == LOG_STREAM_RECORD) step += ":" + std::string(r.data, r.length);
        if (result == LOG_STREAM_STOPPED) step += std::string(":") + log_stream_error(stream);
        steps.push_back(std::move(step));
    }
    log_stream_close(stream);
    return steps;
}

// Every result of a read (or a skip) through the file until the end, with
// each record's place and length but not its bytes.
std::vector<std::string> places(int fd, bool skip) {
    log_stream *stream = nullptr;
    std::vector<std::string> steps;
    if (log_stream_open(fd, &stream) != 0) return steps;
    log_record r{};
    for (int n = 0; n < kMaxSteps; ++n) {
        const int result = (skip ? log_stream_skip : log_stream_next)(stream, &r);
        if (result == LOG_STREAM_END) break;
        std::string step = std::to_string(result) + ":" + std::to_string(r.seq);
        if (result == LOG_STREAM_RECORD)
            step += ":" + std::to_string(r.offset) + "/" + std::to_string(r.length);
        else
            step += std::string(":") + log_stream_error(stream);
        steps.push_back(std::move(step));
    }
    log_stream_close(stream);
    return steps;
}

// Whether a file's and a pipe's results agree. Both may refuse to open, in
// the same words, except that a pipe refuses a header claiming more index
// than it may hold (where the file, far shorter, refuses it as cut short);
// a pipe learns of an index cut short only when its first record is asked
// for, and stops there in the words with which the file's open failed.
bool agree(const std::vector<std::string> &file, const std::vector<std::string> &pipe) {
    const bool file_opened = file[0] == "opened", pipe_opened = pipe[0] == "opened";
    if (!file_opened && !pipe_opened)
        return file[0] == pipe[0] || pipe[0] == log_stream_strerror(LOG_STREAM_ERR_MEMORY);
    if (!file_opened)
        return pipe.size() == 2 && pipe[1] == std::to_string(LOG_STREAM_STOPPED) + ":0:" + file[0];
    return file == pipe;
}

// True when the record calls read record `r.seq` (with its bytes and offset, given `served`).
bool record_call_reads(int fd, const log_record &r, bool served) {
    log_header header;
    unsigned int length = 0, offset = 0;
    if (get_log_file_header_global(fd, &header) != 0 ||
        get_log_data_global(fd, static_cast<int>(r.seq), record, &header, &length, &offset) != 0)
        return false;
    return !served ||
           (offset == r.offset && std::string(record, length) == std::string(r.data, r.length));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 60000) return 0; // a pipe holds it whole
    const unsigned seed = static_cast<unsigned>(size) * 31 + data[size - 1];

    int file = memfd_create("log", MFD_CLOEXEC);
    int fds[2];
    if (file < 0 || pipe(fds) != 0) fuzz::fail("no descriptors");
    check(write(file, data, size) == static_cast<ssize_t>(size), "memfd write");
    check(write(fds[1], data, size) == static_cast<ssize_t>(size), "pipe write");
    close(fds[1]);

    std::vector<std::string> from_file = read_through(file), from_pipe = read_through(fds[0]);
    close(fds[0]);
    check(agree(from_file, from_pipe), "file and pipe give different results");
    check(places(file, true) == places(file, false), "a skip and a read give different results");

    // In order and after seeks, a served record is the record calls' and a
    // failed one is refused by them.
    log_stream *stream = nullptr;
    if (log_stream_open(file, &stream) != 0) {
        close(file);
        return 0;
    }
    const uint32_t count = log_stream_header(stream)->record_count;
    std::minstd_rand pick(seed + 1);
    log_record r{};
    for (int n = 0; n < 64; ++n) {
        if (n >= 32)
            check(log_stream_seek(stream, static_cast<unsigned>(pick() % (uint64_t{count} + 2))) ==
                      0,
                  "seek refused");
        int result = log_stream_next(stream, &r);
        if (result == LOG_STREAM_END) {
            if (n < 32) n = 31;
            continue;
        }
        if (result == LOG_STREAM_RECORD)
            check(r.text_length <= r.length && !r.data[r.text_length] && !r.data[r.length],
                  "record or its text not followed by a zero byte");
        bool read = record_call_reads(file, r, result == LOG_STREAM_RECORD);
        check(read == (result == LOG_STREAM_RECORD),
              result == LOG_STREAM_RECORD ? "a served record is not the record calls'"
                                          : "the record calls read a record the reader fails");
    }
    log_stream_close(stream);
    close(file);
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::require_throwaway_root();
    return 0;
}
