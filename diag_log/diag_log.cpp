// The diagnostic log: one time-stamped line per call, appended to a fixed
// file that is rotated into a single older generation at 10 MiB.
#include "diag_log/diag_log.hpp"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "internal/guards.hpp"

namespace {

constexpr const char *kLogPath = "/var/log/dlog_logd";
constexpr const char *kOldLogPath = "/var/log/dlog_logd_old";
constexpr size_t kScratchSize = 32768;
constexpr size_t kStampLimit = 1024;
constexpr size_t kWriteLimit = 512;
constexpr off_t kRotateSize = 10485760;

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
    return len < size ? len : size - 1;
}

// One write on an append-mode descriptor keeps concurrent writers' lines whole.
void append_line(const char *line, size_t len) {
    lb::unique_fd fd(open(kLogPath, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return;
    ssize_t ignored = write(fd.get(), line, len < kWriteLimit ? len : kWriteLimit);
    (void)ignored;
}

void rotate_if_full() {
    struct stat st {};
    if (stat(kLogPath, &st) != 0 || st.st_size < kRotateSize) return;
    unlink(kOldLogPath);
    rename(kLogPath, kOldLogPath);
}

void _output_log(const char *fmt, va_list ap) {
    auto scratch = lb::malloc_array<char>(kScratchSize);
    if (!scratch) return;
    size_t len = compose_line(scratch.get(), kScratchSize, fmt, ap);
    append_line(scratch.get(), len);
    rotate_if_full();
}

} // namespace

extern "C" LOGBASE_API void rt_log(int level, const char *fmt, ...) {
    if (level <= 0 || fmt == nullptr) return;
    va_list ap;
    va_start(ap, fmt);
    _output_log(fmt, ap);
    va_end(ap);
}
