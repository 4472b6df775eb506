#include "tools/out_buffer.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "tools/cli.hpp"

namespace cli {

OutBuffer::OutBuffer(int fd) : fd_(fd), data_(static_cast<char *>(std::malloc(kCapacity))) {
    if (data_ == nullptr) throw std::bad_alloc();
}

OutBuffer::~OutBuffer() {
    std::free(data_);
}

void OutBuffer::write(std::string_view text) {
    while (!text.empty()) {
        size_t n = std::min(text.size(), kCapacity);
        std::memcpy(reserve(n), text.data(), n);
        used_ += n;
        text.remove_prefix(n);
    }
}

void OutBuffer::drain() {
    size_t done = 0;
    while (done < used_ && error_ == 0) {
        ssize_t n = ::write(fd_, data_ + done, used_ - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            error_ = n == 0 ? EIO : errno;
    }
    // After a failure the rest is dropped: the command stops at its next check.
    used_ = 0;
}

int OutBuffer::finish(int status) {
    drain();
    if (error_ == 0 || error_ == EPIPE) return status;
    return fail(kFailed, std::string("write error: ") + std::strerror(error_));
}

} // namespace cli
