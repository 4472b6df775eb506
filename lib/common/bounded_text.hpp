// Bounded text operations used wherever the library writes into a fixed
// buffer: a copy or an append never writes more than the buffer's total size,
// always leaves the text NUL-terminated (when the size is not 0) and cuts
// silently what does not fit.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace lb {

// Copies `src` into `dst` of `size` bytes; returns the length of `src`, so a
// result >= size means the text was cut (strlcpy semantics).
inline size_t copy_bounded(char *dst, size_t size, std::string_view src) noexcept {
    if (size != 0) {
        size_t n = src.size() < size - 1 ? src.size() : size - 1;
        std::memmove(dst, src.data(), n);
        dst[n] = '\0';
    }
    return src.size();
}

// Appends `src` to the NUL-terminated text in `dst` of `size` bytes; returns
// the length the whole text would have had (strlcat semantics). A `dst` with
// no terminator inside `size` is left alone.
inline size_t append_bounded(char *dst, size_t size, std::string_view src) noexcept {
    const void *nul = std::memchr(dst, '\0', size);
    if (nul == nullptr) return size + src.size();
    size_t used = static_cast<const char *>(nul) - dst;
    copy_bounded(dst + used, size - used, src);
    return used + src.size();
}

// Length of the text at `s`, looking at no more than `max` bytes.
inline size_t length_bounded(const char *s, size_t max) noexcept {
    const void *nul = std::memchr(s, '\0', max);
    return nul ? static_cast<const char *>(nul) - s : max;
}

} // namespace lb
