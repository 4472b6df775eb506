// Reading an open log file: the header, index entries and records of the
// indexed layout, the version of any file, and one record by file offset.
// Every read is preceded by an absolute seek, so the position left behind by
// one call never matters to the next.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "diag_log.hpp"
#include "guards.hpp"
#include "index_lookup.hpp"

using namespace lb::logfile;

namespace {

bool seek_to(int fd, uint64_t offset) {
    return lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

// A block of a version-0 or version-1 file, read whole or not at all.
bool read_block(int fd, int offset, void *buf, uint32_t size) {
    if (buf == nullptr || offset < 0 || !seek_to(fd, static_cast<uint64_t>(offset))) return false;
    return read_fully(fd, buf, size) == static_cast<ssize_t>(size);
}

} // namespace

namespace lb::logfile {

bool record_arguments_valid(const report_site &site, int fd, const void *buf,
                            const log_header *header, const unsigned int *len_out,
                            const unsigned int *off_out) {
    if (fd > 0 && buf != nullptr && header != nullptr && len_out != nullptr && off_out != nullptr)
        return true;
    LB_REPORT_AT(site, "Invalid parameter \n\n");
    return false;
}

} // namespace lb::logfile

extern "C" {

LOGBASE_API int get_log_file_header(int fd, log_header *header) {
    if (fd <= 0 || header == nullptr) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    if (!seek_to(fd, 0)) {
        LB_REPORT("lseek failed errno %d\n\n", errno);
        return -1;
    }
    ssize_t got = read_fully(fd, header, kHeaderSize);
    if (got != kHeaderSize) {
        LB_REPORT("read file failed,rst = %d \n\n", static_cast<int>(got));
        return -1;
    }
    return 0;
}

LOGBASE_API int get_file_index(int fd, log_index_entry *entry, int seq, const log_header *header) {
    // The header is required; a null one is refused rather than followed.
    if (entry == nullptr || seq < 0 || fd <= 0 || header == nullptr) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    if (!seq_in_index(*header, seq)) {
        LB_REPORT("Invalid seq number %d\n\n", seq);
        return -1;
    }
    if (!seek_to(fd, kHeaderSize + uint64_t{kEntrySize} * static_cast<uint32_t>(seq))) {
        LB_REPORT("lseek failed \n\n");
        return -1;
    }
    if (read_fully(fd, entry, kEntrySize) != kEntrySize) {
        LB_REPORT("read file failed \n\n");
        return -1;
    }
    if (entry->length > kMaxRecordLength) {
        LB_REPORT("invalid log length %d \n\n", static_cast<int>(entry->length));
        return -1;
    }
    return 0;
}

LOGBASE_API int get_all_file_index(int fd, log_index_entry *index, const log_header *header) {
    if (index == nullptr || header == nullptr || fd <= 0) {
        LB_REPORT("Invalid parameter \n\n");
        return -1;
    }
    if (!seek_to(fd, kHeaderSize)) {
        LB_REPORT("lseek failed \n\n");
        return -1;
    }
    uint64_t wanted = index_bytes(*header);
    if (read_fully(fd, index, wanted) != static_cast<ssize_t>(wanted)) {
        LB_REPORT("read file failed \n\n");
        return -1;
    }
    return 0;
}

LOGBASE_API int get_log_data(int fd, int seq, void *buf, const log_header *header,
                             unsigned int *len_out, unsigned int *off_out) {
    if (!record_arguments_valid(LB_HERE, fd, buf, header, len_out, off_out)) return -1;
    if (!seq_in_index(*header, seq)) {
        LB_REPORT("Invalid seq number %d \n\n", seq);
        return -1;
    }
    log_index_entry entry{};
    if (get_file_index(fd, &entry, seq, header) != 0) {
        LB_REPORT("get_file_index failed\n");
        return -1;
    }
    uint64_t position = content_offset(*header) + entry.offset;
    if (!seek_to(fd, position)) {
        LB_REPORT("lseek failed\n");
        return -1;
    }
    uint32_t length = entry.length;
    ssize_t got = read_fully(fd, buf, length);
    if (got != static_cast<ssize_t>(length)) {
        LB_REPORT("read failed, need read len %d, but read len %d\n", static_cast<int>(length),
                  static_cast<int>(got));
        *len_out = 0;
        *off_out = 0;
        return -1;
    }
    *len_out = length;
    *off_out = static_cast<uint32_t>(position);
    return 0;
}

LOGBASE_API int get_log_version(int fd) {
    off_t noted = lseek(fd, 0, SEEK_CUR);
    int result;
    char verstr[kVersionTextSize];
    if (lseek(fd, 0, SEEK_SET) != 0) {
        LB_REPORT("lseek faild, errno %d\n\n", errno);
        result = LOG_VERSION_ERR_SEEK;
    } else if (read_fully(fd, verstr, sizeof verstr) != sizeof verstr) {
        LB_REPORT("read version info error\n\n");
        result = LOG_VERSION_ERR_READ;
    } else {
        result = parse_log_version(verstr);
    }
    // Restored even when it could not be noted: that seek then fails too, so
    // a bad descriptor gives LOG_VERSION_ERR_RESTORE after two lines.
    if (lseek(fd, noted, SEEK_SET) != noted || noted < 0) {
        LB_REPORT("lseek faild, errno %d\n\n", errno);
        result = LOG_VERSION_ERR_RESTORE;
    }
    return result;
}

LOGBASE_API int get_log_version_by_path(const char *path) {
    lb::unique_fd fd(path ? open(path, O_RDONLY | O_CLOEXEC) : -1);
    if (!fd.valid()) {
        LB_REPORT("cannot open the log file '%s'\n", path ? path : "(null)");
        return LOG_PATH_ERR_OPEN;
    }
    char verstr[kVersionTextSize];
    if (read_fully(fd.get(), verstr, sizeof verstr) != sizeof verstr) {
        LB_REPORT("read version info error\n\n");
        return LOG_PATH_ERR_READ;
    }
    return parse_log_version(verstr);
}

LOGBASE_API int get_log_line(int fd, int version, int offset, void *buf) {
    switch (version) {
    case 0:
        return read_block(fd, offset, buf, kVersion0Block) ? kVersion0Block : LOG_LINE_ERR_BLOCK0;
    case 1:
        return read_block(fd, offset, buf, kVersion1Block) ? kVersion1Block : LOG_LINE_ERR_BLOCK1;
    case 2:
        break;
    default:
        return LOG_LINE_ERR_VERSION;
    }
    // Version 2: the header and the whole index are read for this one record.
    log_header header{};
    if (get_log_file_header(fd, &header) != 0) {
        LB_REPORT("get log header failed\n\n");
        return LOG_LINE_ERR_HEADER;
    }
    whole_index index = read_whole_index(LB_HERE, fd, header);
    if (index.step == index_step::no_memory) return LOG_LINE_ERR_MEMORY;
    if (index.step == index_step::unreadable) return LOG_LINE_ERR_INDEX;
    int seq = lookup_record(LB_HERE, header, index.entries.get(), offset, record_part::seq);
    index.entries.reset();
    if (seq < 0) return LOG_LINE_ERR_OFFSET;
    unsigned int length = 0; // stays 0 when the read fails
    unsigned int record_offset = 0;
    get_log_data(fd, seq, buf, &header, &length, &record_offset);
    return static_cast<int>(length);
}

} // extern "C"
