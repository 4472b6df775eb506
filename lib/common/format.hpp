// Formatting into a fixed buffer where cutting the text is the intended,
// documented behaviour (so the compiler's truncation warning does not apply).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace lb {

// snprintf into `dst` of `size` bytes; returns the length the whole text
// would have had.
[[gnu::format(printf, 3, 4)]] inline int format_bounded(char *dst, size_t size, const char *fmt,
                                                        ...) noexcept {
    va_list args;
    va_start(args, fmt);
    int length = std::vsnprintf(dst, size, fmt, args);
    va_end(args);
    return length;
}

} // namespace lb
