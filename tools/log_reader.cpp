#include "log_reader.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// Whether a FIFO holds data or has a writer that may still send some, seen
// without taking a byte: tee() copies what is there into a scratch pipe,
// gives 0 only when nothing is there and nobody writes, and EAGAIN when a
// writer has sent nothing yet. When it cannot tell, the FIFO is read.
bool fifo_has_writer_or_data(int fd) {
    int scratch[2];
    if (::pipe2(scratch, O_CLOEXEC | O_NONBLOCK) != 0) return true;
    ssize_t n = ::tee(fd, scratch[1], 1, SPLICE_F_NONBLOCK);
    bool writer_or_data = n != 0;
    ::close(scratch[0]);
    ::close(scratch[1]);
    return writer_or_data;
}

} // namespace

LogReader::~LogReader() {
    log_stream_close(stream_);
    if (fd_ >= 0) ::close(fd_);
}

std::string LogReader::open(const std::string &path) {
    path_ = path;
    if (path == "-") {
        // A descriptor of our own, which the record calls accept (they refuse 0).
        fd_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
        if (fd_ < 0) return "cannot read standard input: " + std::string(std::strerror(errno));
    } else {
        // Non-blocking, so that opening a FIFO does not wait for a writer.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) return "cannot open " + path + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return path + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return path + ": is a directory";
    if (S_ISFIFO(st.st_mode) && path != "-" && !fifo_has_writer_or_data(fd_))
        return path + ": nothing is writing to this FIFO";
    seekable_ = S_ISREG(st.st_mode);
    size_ = seekable_ ? st.st_size : 0;
    if (!seekable_) {
        // A pipe is read as it comes; a FIFO without a writer reads as empty.
        int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    }
    if (int result = log_stream_open(fd_, &stream_); result != 0)
        return (path == "-" ? std::string("standard input") : path) + ": " +
               log_stream_strerror(result);
    version_ = log_stream_version(stream_);
    header_ = *log_stream_header(stream_);
    return {};
}

LogReader::Step LogReader::deliver(Record &out, bool skip) {
    log_record record{};
    int result = (skip ? log_stream_skip : log_stream_next)(stream_, &record);
    out.seq = record.seq;
    switch (result) {
    case LOG_STREAM_RECORD:
        break;
    case LOG_STREAM_END:
        error_.clear();
        return Step::kEnd;
    case LOG_STREAM_FAILED:
        error_ = "record " + std::to_string(record.seq) + ": " + log_stream_error(stream_);
        return Step::kFailed;
    case LOG_STREAM_CUT_SHORT:
        error_ = "records " + std::to_string(record.seq) + " to " +
                 std::to_string(header_.record_count - 1) +
                 " lie past the end: the file is cut short";
        return Step::kEnd;
    default:
        error_ = "records from " + std::to_string(record.seq) + " on: " + log_stream_error(stream_);
        return Step::kEnd;
    }
    // Field by field: the library stored them one by one, and a load that
    // spans two of those stores waits until every store before them is done
    // (the batches' copies included).
    out.data = record.data;
    out.length = record.text_length;
    asm volatile("" ::: "memory");
    out.offset = record.offset;
    error_.clear();
    return Step::kRecord;
}

std::optional<LogReader::Record> LogReader::read(int seq) {
    if (stream_ == nullptr || seq < 0 ||
        log_stream_seek(stream_, static_cast<unsigned>(seq)) != 0) {
        error_ =
            seekable_ ? "no record " + std::to_string(seq) : "a pipe is read front to back only";
        return std::nullopt;
    }
    Record out{};
    switch (deliver(out)) {
    case Step::kRecord:
        return out;
    case Step::kEnd:
        if (error_.empty())
            error_ = "no record " + std::to_string(seq) + " (the file holds " +
                     std::to_string(count()) + ")";
        return std::nullopt;
    case Step::kFailed:
        return std::nullopt;
    }
    return std::nullopt;
}

LogReader::Step LogReader::next(Record &out) {
    if (stream_ == nullptr) {
        error_ = "not open";
        return Step::kEnd;
    }
    return deliver(out);
}

LogReader::Step LogReader::skip(Record &out) {
    if (stream_ == nullptr) {
        error_ = "not open";
        return Step::kEnd;
    }
    return deliver(out, true);
}

const char *category_name(int category) {
    switch (category) {
    case LOG_CAT_EVENT:
        return "event";
    case LOG_CAT_TRAFFIC:
        return "traffic";
    case LOG_CAT_ATTACK:
        return "attack";
    default:
        return "none";
    }
}

std::string base_name(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace cli
