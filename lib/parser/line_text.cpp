// Small text services around log lines: quoting a policy value, and the
// diagnostic loader of the built-in sample log files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "bounded_text.hpp"
#include "files.hpp"
#include "log_file_layout.hpp"
#include "logbase.h"

namespace {

// Where the policy value lies; not found when the line stays unchanged.
struct PolicySplit {
    size_t value_begin = 0; // first byte after "policy="
    size_t value_end = 0;   // the space between the value and the next key
    bool found = false;
};

PolicySplit find_unquoted_policy(std::string_view text) {
    constexpr std::string_view kPolicy = "policy=";
    const size_t at = text.find(kPolicy);
    if (at == std::string_view::npos) return {};
    const size_t value = at + kPolicy.size();
    // The next key's '='; without one the value has no bound and stays as is.
    const size_t next_equals = text.find('=', value);
    if (next_equals == std::string_view::npos) return {};
    const size_t space = text.substr(value, next_equals - value).rfind(' ');
    if (space == std::string_view::npos || text[value] == '"') return {};
    return {value, value + space, true};
}

const char *sample_path(int cat) {
    switch (cat) {
    case LOG_CAT_EVENT:
        return "/var/log/znlog/root/disklog/elog(2016-01-07-06:39:25).log";
    case LOG_CAT_TRAFFIC:
        return "/var/log/znlog/root/disklog/tlog.log";
    case LOG_CAT_ATTACK:
        return "/var/log/znlog/root/disklog/alog.log";
    default:
        return nullptr;
    }
}

// The content offset of the file's header, read as it lies in the file; 0
// for the block versions, which have no header. Never past the `size` bytes
// read, whatever capacity a hostile header claims.
int content_offset_of(const char *file, size_t size) {
    log_header header{};
    std::memcpy(&header, file, std::min(size, sizeof header));
    const int version = parse_log_version(header.verstr);
    if (version == 0 || version == 1) return 0;
    const uint64_t content = size < sizeof header ? size : lb::logfile::content_offset(header);
    return static_cast<int>(std::min<uint64_t>(content, size));
}

} // namespace

extern "C" {

LOGBASE_API char *format_policy(const char *line, int len) {
    if (line == nullptr || len < 0) return nullptr;
    const size_t size = static_cast<size_t>(len) + 4;
    auto *copy = static_cast<char *>(std::calloc(size, 1));
    if (copy == nullptr) return nullptr;
    const std::string_view text(line, lb::length_bounded(line, static_cast<size_t>(len)));
    const PolicySplit split = find_unquoted_policy(text);
    if (!split.found) {
        std::memcpy(copy, text.data(), text.size());
        return copy;
    }
    std::snprintf(copy, size, "%.*s\"%.*s\"%.*s", static_cast<int>(split.value_begin), line,
                  static_cast<int>(split.value_end - split.value_begin), line + split.value_begin,
                  static_cast<int>(text.size() - split.value_end), line + split.value_end);
    return copy;
}

LOGBASE_API char *read_log_file(int cat, int *size, int *content_offset) {
    const char *path = sample_path(cat);
    if (path == nullptr || size == nullptr || content_offset == nullptr) return nullptr;
    struct stat st;
    if (::stat(path, &st) != 0) {
        std::puts("cannot stat");
        return nullptr;
    }
    std::printf("read the file '%s' OK!\n", path);
    const size_t file_size = static_cast<size_t>(st.st_size);
    // One spare byte keeps a zero-length file from yielding a NULL buffer.
    lb::malloc_ptr<char> buf = lb::malloc_array<char>(file_size + 1);
    if (!buf) {
        std::printf("cannot alloc, size = %ld\n", static_cast<long>(st.st_size));
        return nullptr;
    }
    lb::unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        std::printf("cannot open '%s'\n", path);
        return nullptr;
    }
    if (lb::read_fully(fd.get(), buf.get(), file_size) != static_cast<ssize_t>(file_size)) {
        std::puts("cannot read log file");
        return nullptr;
    }
    *size = static_cast<int>(file_size);
    *content_offset = content_offset_of(buf.get(), file_size);
    return buf.release();
}

} // extern "C"
