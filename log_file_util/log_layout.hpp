// Arithmetic and lookups on the binary log file layout shared by the
// header/index operations, the record readers and the version-independent
// readers. Sizes are computed in 64 bits: header fields come from files and
// may be hostile.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "internal/files.hpp"
#include "logbase.h"

namespace lb::logfile {

using lb::read_fully;

inline constexpr uint32_t kHeaderSize = 24;
inline constexpr uint32_t kEntrySize = 8;
inline constexpr uint32_t kMaxRecordLength = 4096;
inline constexpr uint32_t kVersion0Block = 1024;
inline constexpr uint32_t kVersion1Block = 4096;
inline constexpr int kFirstIndexedVersion = 2;

// Block size of a block version (0 or 1).
constexpr uint32_t block_size(int version) {
    return version == 0 ? kVersion0Block : kVersion1Block;
}

// Bytes of the index that follows the header.
constexpr uint64_t index_bytes(const log_header &header) {
    return uint64_t{kEntrySize} * header.index_capacity;
}

// Where the content region starts, in the file's own 32-bit arithmetic (the
// value the offset lookups compare against and report).
constexpr uint32_t content_offset32(const log_header &header) {
    return kHeaderSize + kEntrySize * header.index_capacity;
}

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

// Fills the header a block-version file lacks, so that parse_log_version
// finds the version in it and the index is empty.
void synthesize_header(log_header *header, int version, off_t file_length);

// An index buffer for the header's capacity (never a zero-size block);
// empty when the allocation fails.
malloc_ptr<log_index_entry> allocate_index(const log_header &header);

} // namespace lb::logfile
