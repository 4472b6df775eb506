#include "tools/log_reader.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

LogReader::~LogReader() {
    if (owns_fd_) ::close(fd_);
}

std::string LogReader::open(const std::string &path) {
    path_ = path;
    if (path == "-") {
        // A descriptor of our own: the library refuses descriptor 0.
        fd_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
        if (fd_ < 0) return "cannot read standard input: " + std::string(std::strerror(errno));
        owns_fd_ = true;
    } else {
        // Non-blocking, so that a FIFO is refused instead of waiting for a writer.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) return "cannot open " + path + ": " + std::strerror(errno);
        owns_fd_ = true;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return path + ": " + std::strerror(errno);
    seekable_ = S_ISREG(st.st_mode);
    if (!seekable_) return path + ": not a regular file";
    size_ = st.st_size;
    version_ = get_log_version(fd_);
    if (version_ < 0) return path + ": not a log file (no readable version text)";
    if (get_log_file_header_global(fd_, &header_) != 0)
        return path + ": cannot read the log header";
    return {};
}

std::optional<LogReader::Record> LogReader::read(int seq) {
    unsigned length = 0, offset = 0;
    if (get_log_data_global(fd_, seq, buf_, &header_, &length, &offset) != 0 ||
        length > kRecordMax) {
        error_ = "record " + std::to_string(seq) + " cannot be read";
        return std::nullopt;
    }
    if (version_ < 2)
        if (const void *nul = std::memchr(buf_, '\0', length))
            length = static_cast<unsigned>(static_cast<const char *>(nul) - buf_);
    buf_[length] = '\0';
    error_.clear();
    return Record{buf_, length, offset, static_cast<unsigned>(seq)};
}

LogReader::Step LogReader::next(Record &out) {
    if (next_seq_ >= count()) return Step::kEnd;
    out.seq = next_seq_++;
    auto record = read(static_cast<int>(out.seq));
    if (!record) return Step::kFailed;
    out = *record;
    return Step::kRecord;
}

std::string escape_bytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out;
}

const char *category_name(int category) {
    switch (category) {
    case 1:
        return "event";
    case 2:
        return "traffic";
    case 3:
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
