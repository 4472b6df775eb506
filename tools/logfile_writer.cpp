#include "logfile_writer.hpp"

#include "log_file_layout.hpp"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace logfile_writer {

namespace {

void put_u32(std::string &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>(value >> shift));
}

std::vector<log_index_entry> sequential_entries(const std::vector<std::string> &records) {
    std::vector<log_index_entry> entries;
    uint32_t offset = 0;
    for (const std::string &record : records) {
        entries.push_back({offset, static_cast<uint32_t>(record.size())});
        offset += static_cast<uint32_t>(record.size());
    }
    return entries;
}

} // namespace

std::string version_text(int version) {
    char text[16];
    lb::logfile::format_version_text(text, version);
    return std::string(text, lb::logfile::kVersionTextSize);
}

std::string block_file(int version, const std::vector<std::string> &records) {
    if (version != 0 && version != 1) throw std::invalid_argument("not a block version");
    const size_t block = lb::logfile::block_size(version);
    std::string out;
    for (const std::string &record : records) {
        if (record.size() > block)
            throw std::invalid_argument("record of " + std::to_string(record.size()) +
                                        " bytes does not fit a " + std::to_string(block) +
                                        "-byte block");
        out += record;
        out.append(block - record.size(), '\0');
    }
    return out;
}

std::string indexed_file(int version, const std::vector<std::string> &records,
                         const IndexedOptions &options) {
    if (version < LOG_FIRST_INDEXED_VERSION) throw std::invalid_argument("not an indexed version");
    const auto count = static_cast<uint32_t>(records.size());
    const uint32_t capacity = options.index_capacity.value_or(count);
    const uint32_t slots = options.slots_written.value_or(capacity);
    std::vector<log_index_entry> entries = options.entries.value_or(sequential_entries(records));
    entries.resize(slots, log_index_entry{0, 0});

    std::string out;
    std::string verstr = options.verstr.empty() ? version_text(version) : options.verstr;
    verstr.resize(lb::logfile::kVersionTextSize, '\0');
    out += verstr;
    put_u32(out, options.reserved);
    put_u32(out, options.record_count.value_or(count));
    put_u32(out, options.file_length);
    put_u32(out, capacity);
    for (const log_index_entry &entry : entries) {
        put_u32(out, entry.offset);
        put_u32(out, entry.length);
    }
    for (const std::string &record : records)
        out += record;
    return out;
}

std::string indexed_header(int version, uint32_t count) {
    std::string out = version_text(version);
    for (uint32_t field : {0u, count, 0u, count})
        put_u32(out, field);
    return out;
}

std::string index_entry(uint32_t offset, uint32_t length) {
    std::string out;
    put_u32(out, offset);
    put_u32(out, length);
    return out;
}

std::string log_file(int version, const std::vector<std::string> &records) {
    return version < LOG_FIRST_INDEXED_VERSION ? block_file(version, records)
                                               : indexed_file(version, records);
}

bool save(const std::string &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace logfile_writer
