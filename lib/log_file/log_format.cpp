// The binary log file layout: version text, content offset, and the lookup
// from a file offset to a record in an index held in memory.
#include <cstddef>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "diag_log.hpp"
#include "assert.hpp"
#include "index_lookup.hpp"

// The structures are read from disk as they lie there.
static_assert(sizeof(log_header) == 24);
static_assert(offsetof(log_header, verstr) == 0);
static_assert(offsetof(log_header, reserved) == 8);
static_assert(offsetof(log_header, record_count) == 12);
static_assert(offsetof(log_header, file_length) == 16);
static_assert(offsetof(log_header, index_capacity) == 20);
static_assert(sizeof(log_index_entry) == 8);
static_assert(offsetof(log_index_entry, offset) == 0);
static_assert(offsetof(log_index_entry, length) == 4);
static_assert(sizeof(log_index) == sizeof(log_index_entry));

namespace lb::logfile {

seq_lookup find_record(const log_header &header, const log_index_entry *index, int offset) {
    uint32_t content = content_offset32(header);
    // Unsigned subtraction: an offset inside the header or index comes out
    // negative without signed overflow.
    int relative = offset == 0 ? 0 : static_cast<int>(static_cast<uint32_t>(offset) - content);
    int reported = offset == 0 ? static_cast<int>(content) : offset;
    int seq = get_log_seq(index, searchable_entries(header), relative);
    bool found = seq >= 0 && static_cast<uint32_t>(seq) < header.record_count;
    return {seq, reported, found};
}

void report_no_record(const report_site &site, const seq_lookup &lookup) {
    LB_REPORT_AT(site, "get log_seq failed, log_seq:%d offset:%d\n\n", lookup.seq, lookup.reported);
}

int lookup_record(const report_site &site, const log_header &header, const log_index_entry *index,
                  int offset, record_part part) {
    seq_lookup found = find_record(header, index, offset);
    if (!found.found) {
        report_no_record(site, found);
        return -1;
    }
    return part == record_part::length ? static_cast<int>(index[found.seq].length) : found.seq;
}

namespace {

// Index slots the file can hold at present, plus one: reading that many
// fails short unless the file has grown meanwhile.
uint64_t slots_file_holds(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return UINT64_MAX;
    uint64_t size = static_cast<uint64_t>(st.st_size);
    return (size > kHeaderSize ? (size - kHeaderSize) / kEntrySize : 0) + 1;
}

whole_index read_index_of(int fd, const log_header &header) {
    uint32_t slots = header.index_capacity == 0 ? 1 : header.index_capacity;
    auto entries = malloc_array<log_index_entry>(slots);
    if (!entries) return {index_step::no_memory, nullptr};
    if (get_all_file_index(fd, entries.get(), &header) != 0)
        return {index_step::unreadable, nullptr};
    return {index_step::found, std::move(entries)};
}

} // namespace

whole_index read_whole_index(int fd, const log_header &header) {
    uint64_t holds = slots_file_holds(fd);
    if (holds < header.index_capacity) {
        log_header probe = header;
        probe.index_capacity = static_cast<uint32_t>(holds);
        whole_index probed = read_index_of(fd, probe);
        if (probed.step != index_step::found) return probed;
        // The file grew meanwhile: read the whole index.
    }
    return read_index_of(fd, header);
}

whole_index read_whole_index(const report_site &site, int fd, const log_header &header) {
    whole_index index = read_whole_index(fd, header);
    if (index.step == index_step::no_memory) LB_REPORT_AT(site, "malloc log index failed\n\n");
    if (index.step == index_step::unreadable) LB_REPORT_AT(site, "get all log index failed\n\n");
    return index;
}

} // namespace lb::logfile

using namespace lb::logfile;

extern "C" {

LOGBASE_API int parse_log_version(const char *verstr) {
    if (verstr == nullptr) return LOG_VERSION_ERR_TEXT;
    if (verstr[0] == 'd') return 0;
    if (verstr[0] != 'v') return LOG_VERSION_ERR_TEXT; // not a log file
    // Digits only, each checked before the next is read: a short text ends
    // at its terminator, and "vabc" is no version rather than a number.
    int version = 0;
    for (int i = 1; i <= 3; ++i) {
        if (verstr[i] < '0' || verstr[i] > '9') return LOG_VERSION_ERR_TEXT;
        version = version * 10 + (verstr[i] - '0');
    }
    return version;
}

LOGBASE_API int get_log_seq(const log_index_entry *index, unsigned int count, int rel_offset) {
    if (index == nullptr || rel_offset < 0) return LOG_SEQ_ERR_ARG;
    int64_t low = 0;
    int64_t high = static_cast<int64_t>(count) - 1;
    auto wanted = static_cast<uint32_t>(rel_offset);
    while (low <= high) {
        int64_t mid = (low + high) / 2;
        if (index[mid].offset == wanted) return static_cast<int>(mid);
        if (index[mid].offset > wanted)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return LOG_SEQ_ERR_ABSENT;
}

LOGBASE_API int get_log_len(int fd, int offset, const log_header *log_header,
                            const log_index_entry *log_index) {
    LB_ASSERT(log_header != NULL && log_index != NULL);
    (void)fd;
    return lookup_record(LB_HERE, *log_header, log_index, offset, record_part::length);
}

LOGBASE_API int get_log_index(int fd, int offset, const log_header *log_header,
                              const log_index_entry *log_index) {
    LB_ASSERT(log_header != NULL && log_index != NULL);
    (void)fd;
    return lookup_record(LB_HERE, *log_header, log_index, offset, record_part::seq);
}

LOGBASE_API int get_log_content_offset(const log_header *log_header, int avail) {
    if (avail < static_cast<int>(kVersionTextSize)) return LOG_CONTENT_ERR_VERSTR;
    if (parse_log_version(log_header ? log_header->verstr : nullptr) < kFirstIndexedVersion)
        return 0;
    if (avail < static_cast<int>(kHeaderSize)) return LOG_CONTENT_ERR_HEADER;
    uint64_t content = content_offset(*log_header);
    if (static_cast<uint64_t>(avail) < content) return LOG_CONTENT_ERR_INDEX;
    return static_cast<int>(content);
}

} // extern "C"
