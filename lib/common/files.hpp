// Opening and reading files named by paths the library does not control.
// Anything but a regular file (a FIFO, a device, a directory) is refused
// before a read can block on it or run without end.
#pragma once

#include <cerrno>
#include <climits>
#include <cstddef>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "guards.hpp"

namespace lb {

// One path component that stays in its folder: not empty, no "/", not "."
// or "..". Names from callers pass this before they are joined to a fixed
// folder.
inline bool plain_component(std::string_view name) noexcept {
    return !name.empty() && name != "." && name != ".." && name.find('/') == name.npos;
}

// Opens `path` with `flags` (plus O_CLOEXEC) only if it is a regular file.
// O_NONBLOCK keeps the open itself from waiting for a FIFO's writer; it is
// cleared again once the kind is known. On refusal errno is EISDIR for a
// directory and EINVAL for any other kind that is not a regular file.
inline unique_fd open_regular(const char *path, int flags, mode_t mode = 0644) noexcept {
    unique_fd fd(::open(path, flags | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd.valid()) return fd;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        int saved = errno;
        fd = unique_fd();
        errno = saved;
        return fd;
    }
    if (!S_ISREG(st.st_mode)) {
        fd = unique_fd();
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return fd;
    }
    int status = ::fcntl(fd.get(), F_GETFL);
    if (status >= 0) ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

// The path a chain of symbolic links starting at `path` ends at (`path`
// itself when it is no link; the end may not exist); nullopt for a loop or a
// link that cannot be read. Writers replace the end, so the links stay.
inline std::optional<std::string> final_target(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        // A missing file (or one lstat cannot see) is where the chain ends.
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return std::nullopt;
        target.resize(static_cast<size_t>(n));
        size_t slash = path.rfind('/');
        path = target[0] == '/' || slash == path.npos ? target : path.substr(0, slash + 1) + target;
    }
    return std::nullopt;
}

// Reads up to `count` bytes, retrying short reads and EINTR; returns the
// number read (less than `count` only at end of file) or -1.
inline ssize_t read_fully(int fd, void *buf, size_t count) noexcept {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, static_cast<char *>(buf) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Whole contents of the regular file `path` into `out`, refusing a file
// longer than `max_size` (errno EFBIG). False on any failure.
inline bool read_regular_file(const char *path, size_t max_size, std::string &out) {
    unique_fd fd = open_regular(path, O_RDONLY);
    if (!fd.valid()) return false;
    out.clear();
    char chunk[8192];
    for (;;) {
        ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (out.size() + static_cast<size_t>(n) > max_size) {
            errno = EFBIG;
            return false;
        }
        out.append(chunk, static_cast<size_t>(n));
    }
}

} // namespace lb
