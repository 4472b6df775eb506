// Reading a log file of any version record by record, shared by the
// commands that read log files (info, cat, parse, csv): the library's
// sequential reader, with the reasons of its failures in words.
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
    struct Record {
        const char *data; // NUL-terminated after `length` (the parser may read one byte past)
        unsigned length;  // the record's text_length: a block record ends at its first zero byte
        unsigned offset;  // absolute file offset
        unsigned seq;     // sequence number
    };
    enum class Step { kRecord, kFailed, kEnd };

    LogReader() = default;
    LogReader(const LogReader &) = delete;
    LogReader &operator=(const LogReader &) = delete;
    ~LogReader();

    // Opens the file ("-" = standard input) and reads its version and header;
    // empty on success, otherwise the reason for the user.
    std::string open(const std::string &path);

    const std::string &path() const { return path_; }
    int fd() const { return fd_; }
    int version() const { return version_; }
    const log_header &header() const { return header_; }
    uint32_t count() const { return header_.record_count; }
    off_t size() const { return size_; }
    bool seekable() const { return seekable_; } // false for a pipe

    // Record `seq` of a seekable file, valid until the next read or next;
    // nullopt when it cannot be read (the reason in error()). The following
    // next() reads the record after it.
    std::optional<Record> read(int seq);

    // The next record in file order. kFailed: record out.seq could not be
    // read (the reason in error()); the next call goes on. kEnd: no more
    // records (error() is non-empty when the rest could not be read).
    Step next(Record &out);

    // next() without reading the record's bytes from a regular file
    // (out.data is null; out.length is the record's whole length), for a
    // reader of its own to read them; on a pipe, next() itself.
    Step skip(Record &out);

    // Why the last read failed, in words for the user.
    const std::string &error() const { return error_; }

  private:
    Step deliver(Record &out, bool skip = false);

    int fd_ = -1;
    log_stream *stream_ = nullptr;
    bool seekable_ = false;
    int version_ = -1;
    off_t size_ = 0;
    log_header header_{};
    std::string path_;
    std::string error_;
};

// "event", "traffic", "attack" for LOG_CAT_EVENT, LOG_CAT_TRAFFIC, LOG_CAT_ATTACK, else "none".
const char *category_name(int category);

// The file name part of a path.
std::string base_name(const std::string &path);

} // namespace cli
