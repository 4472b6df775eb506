// Reading a log file of any version record by record, shared by the
// commands that read log files (info, cat, parse, csv).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "logbase.h"

namespace cli {

class LogReader {
  public:
    static constexpr size_t kRecordMax = 4096;

    struct Record {
        char *data;      // followed by a NUL byte: the parser may read one byte past
        unsigned length; // block records end at their first zero byte
        unsigned offset; // absolute file offset
    };

    LogReader() = default;
    LogReader(const LogReader &) = delete;
    LogReader &operator=(const LogReader &) = delete;
    ~LogReader();

    // Opens the file and reads its version and header; empty on success,
    // otherwise the reason for the user.
    std::string open(const std::string &path);

    int fd() const { return fd_; }
    int version() const { return version_; }
    const log_header &header() const { return header_; }
    uint32_t count() const { return header_.record_count; }
    off_t size() const { return size_; }

    // Record `seq`, valid until the next read; nullopt when it cannot be read.
    std::optional<Record> read(int seq);

  private:
    int fd_ = -1;
    int version_ = -1;
    off_t size_ = 0;
    log_header header_{};
    char buf_[kRecordMax + 1];
};

// Bytes as printable text: backslash doubled, control and non-ASCII bytes
// as \xHH.
std::string escape_bytes(std::string_view bytes);

// "event", "traffic", "attack" for the category codes 1 to 3, else "none".
const char *category_name(int category);

// The file name part of a path.
std::string base_name(const std::string &path);

} // namespace cli
