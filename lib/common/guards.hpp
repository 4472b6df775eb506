// RAII guards for the resources the library holds inside one call
// (descriptors, streams, malloc'd blocks), and the barrier that keeps C++
// exceptions from crossing the C interface.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace lb {

// Owns a descriptor the library opened itself (never one a caller passed in).
class unique_fd {
  public:
    explicit unique_fd(int fd = -1) noexcept : fd_(fd) {}
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
    unique_fd &operator=(unique_fd &&other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = other.release();
        }
        return *this;
    }
    ~unique_fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

struct file_closer {
    void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};

// A stream the library opened itself, closed at scope exit.
using unique_file = std::unique_ptr<std::FILE, file_closer>;

struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// A malloc'd block released with free, for buffers that may also be handed
// to a caller (release() then transfers ownership).
template <typename T> using malloc_ptr = std::unique_ptr<T, free_deleter>;

template <typename T> malloc_ptr<T> malloc_array(size_t count) noexcept {
    return malloc_ptr<T>(static_cast<T *>(std::malloc(count * sizeof(T))));
}

// Runs `body` and turns any escaping exception (in practice std::bad_alloc
// from a container) into the function's documented failure result.
template <typename R, typename F> R no_throw(R failure, F &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

} // namespace lb
