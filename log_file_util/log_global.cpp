// One set of calls for log files of every version: the block versions (0 and
// 1) are served by block arithmetic behind a synthesized header, the indexed
// versions by the header and index operations.
#undef NDEBUG // the caller-error assertion stays in every build
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "diag_log/diag_log.hpp"
#include "internal/guards.hpp"
#include "log_file_util/log_layout.hpp"

using namespace lb::logfile;

namespace lb::logfile {

void synthesize_header(log_header *header, int version, off_t file_length) {
    // "v%03dxxxx" and its terminating zero: the zero lands on the first byte
    // of `reserved`, the rest of `reserved` is left as it was.
    char text[12];
    int n = std::snprintf(text, sizeof text, "v%03dxxxx", version);
    std::memcpy(header, text, static_cast<size_t>(n) + 1);
    header->record_count = static_cast<uint32_t>(file_length / block_size(version));
    header->file_length = static_cast<uint32_t>(file_length);
    header->index_capacity = 0;
}

} // namespace lb::logfile

namespace {

// Looks up the record at `offset` of an indexed file through its whole
// index, read for this one call. The exported callers write the diagnostic
// line of the step that failed, so the line names them.
enum class index_step { found, no_memory, unreadable, no_record };

struct indexed_record {
    index_step step;
    seq_lookup lookup;
    log_index_entry entry;
};

indexed_record find_in_file(int fd, int offset, const log_header &header) {
    auto index = allocate_index(header);
    if (!index) return {index_step::no_memory, {}, {}};
    if (get_all_file_index(fd, index.get(), &header) != 0) return {index_step::unreadable, {}, {}};
    seq_lookup lookup = find_record(header, index.get(), offset);
    if (!lookup.found) return {index_step::no_record, lookup, {}};
    return {index_step::found, lookup, index.get()[lookup.seq]};
}

} // namespace

extern "C" {

LOGBASE_API int get_log_file_header_global(int fd, log_header *header) {
    if (fd <= 0 || header == nullptr) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    int version = get_log_version(fd);
    if (version < 0) return -1;
    if (version >= kFirstIndexedVersion) return get_log_file_header(fd, header);
    off_t length = lseek(fd, 0, SEEK_END); // the position is left at the end
    if (length < 0) {
        LB_REPORT("lseek failed errno %d\n\n", errno);
        return -1;
    }
    synthesize_header(header, version, length);
    return 0;
}

LOGBASE_API int get_log_data_global(int fd, int seq, void *buf, const log_header *header,
                                    unsigned int *len_out, unsigned int *off_out) {
    if (fd <= 0 || buf == nullptr || header == nullptr || len_out == nullptr ||
        off_out == nullptr) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    int version = parse_log_version(header->verstr);
    if (version < 0) return -1;
    if (version >= kFirstIndexedVersion)
        return get_log_data(fd, seq, buf, header, len_out, off_out);

    uint32_t block = block_size(version);
    uint32_t offset = static_cast<uint32_t>(seq) * block; // wraps like the on-disk arithmetic
    if (lseek(fd, offset, SEEK_SET) != static_cast<off_t>(offset)) {
        LB_REPORT("lseek failed\n");
        return -1;
    }
    if (read_fully(fd, buf, block) != static_cast<ssize_t>(block)) {
        *len_out = 0;
        LB_REPORT("fread failed\n");
        return -1;
    }
    *len_out = block;
    *off_out = offset;
    return 0;
}

LOGBASE_API int get_log_len_global(int fd, int offset, const log_header *log_header) {
    assert(log_header != NULL);
    if (fd <= 0) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    int version = parse_log_version(log_header->verstr);
    if (version < 0) return -1;
    if (version < kFirstIndexedVersion) return static_cast<int>(block_size(version));
    indexed_record record = find_in_file(fd, offset, *log_header);
    switch (record.step) {
    case index_step::no_memory:
        LB_REPORT("malloc log index failed\n\n");
        return -1;
    case index_step::unreadable:
        LB_REPORT("get all log index failed\n\n");
        return -1;
    case index_step::no_record:
        LB_REPORT("get log_seq failed, log_seq:%d offset:%d\n\n", record.lookup.seq,
                  record.lookup.reported);
        return -1;
    case index_step::found:
        break;
    }
    return static_cast<int>(record.entry.length);
}

LOGBASE_API int get_log_index_global(int fd, int offset, const log_header *header) {
    if (fd <= 0 || header == nullptr) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    int version = parse_log_version(header->verstr);
    if (version < 0) return -1;
    if (version < kFirstIndexedVersion) return offset / static_cast<int>(block_size(version));
    indexed_record record = find_in_file(fd, offset, *header);
    switch (record.step) {
    case index_step::no_memory:
        LB_REPORT("malloc log index failed\n\n");
        return -1;
    case index_step::unreadable:
        LB_REPORT("get all log index failed\n\n");
        return -1;
    case index_step::no_record:
        LB_REPORT("get log_seq failed, log_seq:%d offset:%d\n\n", record.lookup.seq,
                  record.lookup.reported);
        return -1;
    case index_step::found:
        break;
    }
    return record.lookup.seq;
}

} // extern "C"
