// Arbitrary file bytes through every log file operation: header, index,
// records by sequence and by offset, and the version-independent calls.
// Failures write the diagnostic file, so this runs inside throwaway_root.
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "fuzz_input.hpp"
#include "logbase.h"

namespace {

constexpr int kMaxRecords = 64;

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
    return version >= 2 && 24 + static_cast<uint64_t>(header.index_capacity) * 8 <= file_size;
}

void read_indexed(int fd, const log_header &header, size_t file_size) {
    if (!index_fits(header, 2, file_size)) return;
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
    static char record[4096];
    unsigned int len = 0, off = 0;
    for (int seq = 0; seq < kMaxRecords; ++seq)
        if (get_log_data_global(fd, seq, record, &header, &len, &off) != 0) break;
    if (parse_log_version(header.verstr) >= 2 && !index_fits(header, 2, file_size)) return;
    for (int offset : {0, 24, 1024, 4096, static_cast<int>(file_size / 2)}) {
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
    if (version >= 2 && get_log_file_header(fd, &header) == 0) {
        read_indexed(fd, header, size);
        static char record[4096];
        unsigned int len = 0, off = 0;
        for (int seq = 0; seq < kMaxRecords; ++seq)
            if (get_log_data(fd, seq, record, &header, &len, &off) != 0) break;
    }
    static char line[4096];
    for (int v = 0; v <= 3; ++v)
        if (v < 2 || index_fits(header, version, size)) (void)get_log_line(fd, v, 0, line);
    read_global(fd, size);
    close(fd);
    return 0;
}
