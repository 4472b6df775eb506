// The on-disk layout of a binary log file: block sizes, header and index
// sizes, where the content region starts, and the version text. One
// definition for the log file readers, the sample loader and the tools.
// Sizes are computed in 64 bits: header fields come from files and may be
// hostile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "logbase.h"

namespace lb::logfile {

inline constexpr uint32_t kHeaderSize = 24;
inline constexpr uint32_t kEntrySize = 8;
inline constexpr uint32_t kMaxRecordLength = LOG_MAX_RECORD_LENGTH;
inline constexpr uint32_t kVersion0Block = LOG_BLOCK_SIZE_V0;
inline constexpr uint32_t kVersion1Block = LOG_BLOCK_SIZE_V1;
inline constexpr int kFirstIndexedVersion = LOG_FIRST_INDEXED_VERSION;
inline constexpr size_t kVersionTextSize = 8;

// Block size of a block version (0 or 1).
constexpr uint32_t block_size(int version) {
    return version == 0 ? kVersion0Block : kVersion1Block;
}

// Bytes of the index that follows the header.
constexpr uint64_t index_bytes(const log_header &header) {
    return uint64_t{kEntrySize} * header.index_capacity;
}

// Where the content region starts: after the header and its whole index.
constexpr uint64_t content_offset(const log_header &header) {
    return kHeaderSize + index_bytes(header);
}

// The same in the file's own 32-bit arithmetic (the value the offset
// lookups compare against and report).
constexpr uint32_t content_offset32(const log_header &header) {
    return static_cast<uint32_t>(content_offset(header));
}

// Writes the version text of `version` ('v', three digits, four filler
// characters: "v013xxxx") and its terminating zero into `out`; returns the
// text's length as snprintf counts it.
template <size_t N> int format_version_text(char (&out)[N], int version) {
    static_assert(N > kVersionTextSize, "room for the text and its zero");
    return std::snprintf(out, N, "v%03dxxxx", version);
}

} // namespace lb::logfile
