// Lookups on the binary log file layout shared by the header/index
// operations, the record readers and the version-independent readers.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "diag_log.hpp"
#include "files.hpp"
#include "log_file_layout.hpp"
#include "logbase.h"

namespace lb::logfile {

using lb::read_fully;
using lb::report_site;

// Entries that may be searched: never more than the index holds, even when
// a malformed header claims more records than index slots.
constexpr uint32_t searchable_entries(const log_header &header) {
    return header.record_count < header.index_capacity ? header.record_count
                                                       : header.index_capacity;
}

// Result of mapping an absolute file offset to a record.
struct seq_lookup {
    int seq;      // the sequence number, or get_log_seq's failure code
    int reported; // the offset a diagnostic line names
    bool found;   // seq is a valid sequence number of this header
};

// Maps an absolute offset (0 meaning the first record) to a sequence number
// below record_count, as the offset lookups do; writes no diagnostic line.
seq_lookup find_record(const log_header &header, const log_index_entry *index, int offset);

// What an offset lookup answers with.
enum class record_part { length, seq };

// The length or sequence number of the record at `offset` in an index held
// in memory; -1 after the "get log_seq failed" line naming `site`.
int lookup_record(const report_site &site, const log_header &header, const log_index_entry *index,
                  int offset, record_part part);

// Writes the "get log_seq failed" line of a failed lookup, naming `site`.
void report_no_record(const report_site &site, const seq_lookup &lookup);

// A sequence number the index describes: below both record_count and
// index_capacity (taken unsigned, so a negative one is not).
constexpr bool seq_in_index(const log_header &header, int seq) {
    auto useq = static_cast<uint32_t>(seq);
    return useq < header.index_capacity && useq < header.record_count;
}

// The argument check of the record readers (get_log_data and its any-version
// twin); false after the "Invalid parameter" line naming `site`.
bool record_arguments_valid(const report_site &site, int fd, const void *buf,
                            const log_header *header, const unsigned int *len_out,
                            const unsigned int *off_out);

// How reading and searching a whole index for one lookup ended.
enum class index_step { found, no_memory, unreadable, no_record };

struct whole_index {
    index_step step; // found, no_memory or unreadable
    malloc_ptr<log_index_entry> entries;
};

// The header's whole index read from `fd` with get_all_file_index (which
// writes its own line when the read fails). A capacity larger than the file
// can hold is not allocated: the read is tried into a buffer one entry
// larger than the file holds, and fails short as the full read would.
whole_index read_whole_index(int fd, const log_header &header);

// The same, writing the line of a step that failed ("malloc log index
// failed", "get all log index failed") naming `site`.
whole_index read_whole_index(const report_site &site, int fd, const log_header &header);

// Fills the header a block-version file lacks, so that parse_log_version
// finds the version in it and the index is empty.
void synthesize_header(log_header *header, int version, off_t file_length);

} // namespace lb::logfile
