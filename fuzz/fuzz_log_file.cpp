// Arbitrary file bytes through every log file operation: header, index,
// records by sequence and by offset and the version-independent calls
// (fuzz_log_stream checks the sequential reader against them).
// Failures write the diagnostic file, so this runs inside throwaway_root.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
    close(fd);
    return 0;
}
