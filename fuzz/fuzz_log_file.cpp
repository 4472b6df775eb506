// Arbitrary file bytes through every log file operation: header, index,
// records by sequence and by offset, the version-independent calls, and the
// sequential reader on the file and on a pipe, checked against the record
// calls.
// Failures write the diagnostic file, so this runs inside throwaway_root.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "fuzz_input.hpp"
#include "logbase.h"

namespace {

using fuzz::check;
constexpr int kMaxRecords = 64;
char record[LOG_MAX_RECORD_LENGTH]; // where every call that reads a record puts it

int file_of(const uint8_t *data, size_t size) {
    int fd = memfd_create("logfile", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    return fd;
}

// The calls that read the index allocate what the header claims, up to
// 32 GiB; a unit test covers that path, and under the sanitizer such a
// buffer takes seconds, so the harness keeps to indexes the file can hold.
bool index_fits(const log_header &header, int version, size_t file_size) {
    return version >= LOG_FIRST_INDEXED_VERSION && 24 + 8ull * header.index_capacity <= file_size;
}

void read_indexed(int fd, const log_header &header, size_t file_size) {
    if (!index_fits(header, LOG_FIRST_INDEXED_VERSION, file_size)) return;
    std::vector<log_index_entry> index(header.index_capacity + 1);
    if (get_all_file_index(fd, index.data(), &header) != 0) return;
    uint32_t content = 24 + 8 * header.index_capacity;
    for (uint32_t n = 0; n < header.index_capacity && n < kMaxRecords; ++n) {
        log_index_entry one;
        (void)get_file_index(fd, &one, static_cast<int>(n), &header);
        (void)get_log_len(fd, static_cast<int>(content + index[n].offset), &header, index.data());
        (void)get_log_index(fd, static_cast<int>(content + index[n].offset), &header, index.data());
    }
}

void read_global(int fd, size_t file_size) {
    log_header header;
    if (get_log_file_header_global(fd, &header) != 0) return;
    unsigned int len = 0, off = 0;
    for (int seq = 0; seq < kMaxRecords; ++seq)
        if (get_log_data_global(fd, seq, record, &header, &len, &off) != 0) break;
    const int version = parse_log_version(header.verstr);
    if (version >= LOG_FIRST_INDEXED_VERSION && !index_fits(header, version, file_size)) return;
    for (int offset : {0, 24, LOG_BLOCK_SIZE_V0, LOG_BLOCK_SIZE_V1, int(file_size / 2)}) {
        (void)get_log_len_global(fd, offset, &header);
        (void)get_log_index_global(fd, offset, &header);
    }
}

// Every record the reader serves from the file is the one get_log_data_global
// reads for its sequence number; returns the records served, by sequence.
std::vector<std::string> stream_records(int fd, bool compare) {
    std::vector<std::string> served;
    log_stream *stream = nullptr;
    if (log_stream_open(fd, &stream) != 0) return served;
    log_header header = *log_stream_header(stream);
    log_record got;
    for (int n = 0; n < kMaxRecords; ++n) {
        int step = log_stream_next(stream, &got);
        if (step == LOG_STREAM_END || step == LOG_STREAM_STOPPED) break;
        if (step != LOG_STREAM_RECORD) continue;
        check(got.text_length <= got.length && !got.data[got.text_length] && !got.data[got.length],
              "record or its text not followed by a zero byte");
        if (served.size() <= got.seq) served.resize(got.seq + 1);
        served[got.seq].assign(got.data, got.length);
        if (!compare) continue;
        unsigned int len = 0, off = 0;
        check(get_log_data_global(fd, static_cast<int>(got.seq), record, &header, &len, &off) == 0,
              "record calls refuse a record the reader serves");
        check(len == got.length && off == got.offset && std::memcmp(record, got.data, len) == 0,
              "reader and record calls disagree");
    }
    log_stream_close(stream);
    return served;
}

// The same bytes through a pipe (inputs are smaller than a pipe's buffer):
// a record served from both sources is the same record.
void compare_pipe(const uint8_t *data, size_t size, const std::vector<std::string> &from_file) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
    if (size > 0 && write(ends[1], data, size) != static_cast<ssize_t>(size)) std::abort();
    close(ends[1]);
    std::vector<std::string> from_pipe = stream_records(ends[0], false);
    close(ends[0]);
    for (size_t seq = 0; seq < from_pipe.size() && seq < from_file.size(); ++seq)
        if (!from_pipe[seq].empty() && !from_file[seq].empty())
            check(from_pipe[seq] == from_file[seq], "pipe and file give different records");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::require_throwaway_root();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int fd = file_of(data, size);
    int version = get_log_version(fd);
    log_header header{};
    if (version >= LOG_FIRST_INDEXED_VERSION && get_log_file_header(fd, &header) == 0) {
        read_indexed(fd, header, size);
        unsigned int len = 0, off = 0;
        for (int seq = 0; seq < kMaxRecords; ++seq)
            if (get_log_data(fd, seq, record, &header, &len, &off) != 0) break;
    }
    for (int v = 0; v <= 3; ++v)
        if (v < LOG_FIRST_INDEXED_VERSION || index_fits(header, version, size))
            (void)get_log_line(fd, v, 0, record);
    read_global(fd, size);
    if (size <= 65536) compare_pipe(data, size, stream_records(fd, true));
    close(fd);
    return 0;
}
