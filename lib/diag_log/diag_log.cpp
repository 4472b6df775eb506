// The diagnostic log: one time-stamped line per call, appended to a fixed
// file that is rotated into a single older generation at 10 MiB. Processes
// sharing the file coordinate through an advisory lock on it.
#include "diag_log.hpp"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "files.hpp"
#include "guards.hpp"

namespace {

constexpr const char *kLogPath = "/var/log/dlog_logd";
constexpr const char *kOldLogPath = "/var/log/dlog_logd_old";
constexpr size_t kScratchSize = 32768;
constexpr size_t kStampLimit = 1024;
constexpr size_t kWriteLimit = 512;
constexpr off_t kRotateSize = 10485760;

// Where lines go: a descriptor, LOG_DIAG_OFF or LOG_DIAG_FILE.
std::atomic<int> destination{LOG_DIAG_FILE};

// Formats the time stamp and the message into `buf`; returns the length,
// never more than size - 1 (the message is cut to the buffer).
size_t compose_line(char *buf, size_t size, const char *fmt, va_list ap) {
    struct timeval now {};
    gettimeofday(&now, nullptr);
    struct tm local {};
    localtime_r(&now.tv_sec, &local);

    size_t len = strftime(buf, kStampLimit, "%m-%d-%H:%M:%S", &local);
    int n = snprintf(buf + len, size - len, ".%06ld", static_cast<long>(now.tv_usec));
    if (n > 0) len += static_cast<size_t>(n);
    n = vsnprintf(buf + len, size - len, fmt, ap);
    if (n > 0) len += static_cast<size_t>(n);
    len = len < size ? len : size - 1;
    // Every call is a line of its own, so a text without a line break does
    // not run into the next one.
    if (buf[len - 1] != '\n') {
        if (len == size - 1) --len;
        buf[len++] = '\n';
        buf[len] = '\0';
    }
    return len;
}

// Cuts a line to the write limit; a cut line still ends with its line
// break, so the next line (perhaps another process's) starts on its own.
size_t cut_line(char *line, size_t len) {
    if (len <= kWriteLimit) return len;
    line[kWriteLimit - 1] = '\n';
    return kWriteLimit;
}

// True when `fd` is still the file at the log path: another process may
// have rotated it away while this one waited for the lock.
bool still_at_path(int fd) {
    struct stat held {
    }, named{};
    if (fstat(fd, &held) != 0 || stat(kLogPath, &named) != 0) return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Opens the file at the log path and locks it. Anything but a regular file
// is refused, so a FIFO in its place cannot block the caller. The lock
// serializes writers and the rotation across processes; after it is taken
// the path is checked again, and a file rotated meanwhile is let go.
lb::unique_fd open_locked_log() {
    constexpr int kAttempts = 8; // each retry needs another rotation of 10 MiB
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        lb::unique_fd fd = lb::open_regular(kLogPath, O_RDWR | O_CREAT | O_APPEND);
        if (!fd.valid()) return fd;
        int locked;
        while ((locked = flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0 || still_at_path(fd.get())) return fd;
    }
    return lb::unique_fd();
}

// Under the lock, and only while the held file is still at the path, so two
// processes never both rotate: a second rotation would delete the fresh
// older generation.
void rotate_if_full(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < kRotateSize) return;
    unlink(kOldLogPath);
    rename(kLogPath, kOldLogPath);
}

// One write on an append-mode descriptor keeps lines whole; the lock is
// released when the descriptor is closed.
void append_line(char *line, size_t len) {
    if (int to = destination.load(std::memory_order_relaxed); to >= 0) {
        ssize_t ignored = write(to, line, cut_line(line, len));
        (void)ignored;
        return;
    }
    lb::unique_fd fd = open_locked_log();
    if (!fd.valid()) return;
    ssize_t ignored = write(fd.get(), line, cut_line(line, len));
    (void)ignored;
    rotate_if_full(fd.get());
}

void _output_log(const char *fmt, va_list ap) {
    auto scratch = lb::malloc_array<char>(kScratchSize);
    if (!scratch) return;
    size_t len = compose_line(scratch.get(), kScratchSize, fmt, ap);
    append_line(scratch.get(), len);
}

} // namespace

extern "C" LOGBASE_API void rt_log(int level, const char *fmt, ...) {
    if (level <= 0 || fmt == nullptr || destination.load(std::memory_order_relaxed) == LOG_DIAG_OFF)
        return;
    va_list ap;
    va_start(ap, fmt);
    _output_log(fmt, ap);
    va_end(ap);
}

extern "C" LOGBASE_API int rt_log_set_destination(int fd) {
    if (fd < LOG_DIAG_FILE) return -1;
    destination.store(fd, std::memory_order_relaxed);
    return 0;
}
