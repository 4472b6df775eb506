// Writes binary log files of every version, for tests, benchmarks and the
// sample files. Not part of liblogbase's interface. Beside well-formed files
// it can produce malformed ones: any header field and any index entry may be
// given explicitly, and the index written may be shorter than its capacity.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logbase.h"

namespace logfile_writer {

// The version text of a file or record of `version` ("v013xxxx").
std::string version_text(int version);

// A file of block version 0 (1024-byte blocks) or 1 (4096-byte blocks): each
// record fills one block, padded with zero bytes. Throws std::invalid_argument
// for another version or a record longer than a block.
std::string block_file(int version, const std::vector<std::string> &records);

// What an indexed file holds besides its records; unset fields take the
// values of a well-formed file.
struct IndexedOptions {
    std::string verstr; // default: version_text(version)
    uint32_t reserved = 0;
    uint32_t file_length = 0;               // not interpreted by readers
    std::optional<uint32_t> record_count;   // default: the number of records
    std::optional<uint32_t> index_capacity; // default: the number of records
    // Entries written instead of the computed ones (offsets from the
    // content offset, records laid out in order).
    std::optional<std::vector<log_index_entry>> entries;
    // Index slots actually written (default: index_capacity), so that a
    // header may claim an index far larger than the file.
    std::optional<uint32_t> slots_written;
};

// A file of indexed version 2 or higher: header, index, then the records one
// after another. Throws std::invalid_argument for a version below 2.
std::string indexed_file(int version, const std::vector<std::string> &records,
                         const IndexedOptions &options = {});

// The 24-byte header of a well-formed indexed file of `count` records, and
// one 8-byte index entry, for writers that stream the rest.
std::string indexed_header(int version, uint32_t count);
std::string index_entry(uint32_t offset, uint32_t length);

// A file of any version from its records.
std::string log_file(int version, const std::vector<std::string> &records);

// Writes `bytes` to `path`, replacing it; false on failure.
bool save(const std::string &path, std::string_view bytes);

} // namespace logfile_writer
