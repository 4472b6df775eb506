// One set of calls for log files of every version: the block versions (0 and
// 1) are served by block arithmetic behind a synthesized header, the indexed
// versions by the header and index operations.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "diag_log.hpp"
#include "assert.hpp"
#include "guards.hpp"
#include "index_lookup.hpp"

using namespace lb::logfile;

namespace lb::logfile {

void synthesize_header(log_header *header, int version, off_t file_length) {
    // The version text and its terminating zero: the zero lands on the first
    // byte of `reserved`, the rest of `reserved` is left as it was.
    char text[12];
    int n = format_version_text(text, version);
    std::memcpy(header, text, static_cast<size_t>(n) + 1);
    header->record_count = static_cast<uint32_t>(file_length / block_size(version));
    header->file_length = static_cast<uint32_t>(file_length);
    header->index_capacity = 0;
}

} // namespace lb::logfile

namespace {

// The block that holds `offset`; -1 after the line naming `site` when the
// offset lies before the file or past the header's last block (log_seq as
// get_log_seq's codes would give it).
int block_at(const report_site &site, int offset, const log_header &header) {
    int block = static_cast<int>(block_size(parse_log_version(header.verstr)));
    int seq = offset < 0 ? -1 : offset / block;
    if (seq >= 0 && static_cast<uint32_t>(seq) < header.record_count) return seq;
    report_no_record(site, {seq < 0 ? LOG_SEQ_ERR_ARG : LOG_SEQ_ERR_ABSENT, offset, false});
    return -1;
}

// get_log_len_global and get_log_index_global: the length or sequence number
// of the record at `offset` of a file of any version. An indexed file's
// whole index is read for this one lookup.
int lookup_any_version(const report_site &site, int fd, int offset, const log_header &header,
                       record_part part) {
    if (fd <= 0) {
        LB_REPORT_AT(site, "Invalid parameter \n\n");
        return -1;
    }
    int version = parse_log_version(header.verstr);
    if (version < 0) return -1;
    if (version < kFirstIndexedVersion)
        return part == record_part::length ? static_cast<int>(block_size(version))
                                           : block_at(site, offset, header);
    whole_index index = read_whole_index(site, fd, header);
    if (index.step != index_step::found) return -1;
    return lookup_record(site, header, index.entries.get(), offset, part);
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
    if (!record_arguments_valid(LB_HERE, fd, buf, header, len_out, off_out)) return -1;
    int version = parse_log_version(header->verstr);
    if (version < 0) return -1;
    if (version >= kFirstIndexedVersion)
        return get_log_data(fd, seq, buf, header, len_out, off_out);

    uint32_t block = block_size(version);
    // In 64 bits: a block before the start or at 4 GiB and beyond (which no
    // 32-bit offset can name) is refused, not wrapped onto an early block.
    int64_t offset = int64_t{seq} * block;
    if (offset < 0 || offset > UINT32_MAX || lseek(fd, offset, SEEK_SET) != offset) {
        LB_REPORT("lseek failed\n");
        return -1;
    }
    if (read_fully(fd, buf, block) != static_cast<ssize_t>(block)) {
        *len_out = 0;
        LB_REPORT("fread failed\n");
        return -1;
    }
    *len_out = block;
    *off_out = static_cast<uint32_t>(offset);
    return 0;
}

LOGBASE_API int get_log_len_global(int fd, int offset, const log_header *log_header) {
    LB_ASSERT(log_header != NULL);
    return lookup_any_version(LB_HERE, fd, offset, *log_header, record_part::length);
}

// Unlike get_log_len_global, a missing header is reported, not asserted.
LOGBASE_API int get_log_index_global(int fd, int offset, const log_header *header) {
    if (header == nullptr) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    return lookup_any_version(LB_HERE, fd, offset, *header, record_part::seq);
}

} // extern "C"
