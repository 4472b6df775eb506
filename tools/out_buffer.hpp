// Standard output through one large buffer: the commands that stream records
// append text here and it leaves in big write(2) calls, so the cost per
// record is a few memcpy calls, not a formatted print per field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace cli {

class OutBuffer {
  public:
    static constexpr size_t kCapacity = 1 << 20;

    explicit OutBuffer(int fd = STDOUT_FILENO);
    ~OutBuffer();
    OutBuffer(const OutBuffer &) = delete;
    OutBuffer &operator=(const OutBuffer &) = delete;

    // Room for `n` more bytes (n <= kCapacity), to be filled and committed.
    char *reserve(size_t n) {
        if (kCapacity - used_ < n) drain();
        return data_ + used_;
    }
    void commit(size_t n) { used_ += n; }

    void put(char c) { *reserve(1) = c, ++used_; }
    void write(std::string_view text);

    // True once a write failed; the command then stops producing output.
    bool failed() const { return error_ != 0; }
    // Writes what is left and turns the run's status into the final one:
    // a failed write is reported and gives 1; a reader that closed the pipe
    // ends the run quietly with the status it had.
    int finish(int status);

  private:
    void drain();

    int fd_;
    int error_ = 0;
    size_t used_ = 0;
    char *data_;
};

} // namespace cli
