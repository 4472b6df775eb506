// Readings of a value shared by the reader (on a term's value) and the
// matcher (on a record's value). A record value is any type with size() and
// operator[] giving bytes: one run of bytes, or the date-time pieces joined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lb::filter {

struct Plain {
    std::string_view s;
    std::size_t size() const noexcept { return s.size(); }
    unsigned char operator[](std::size_t i) const noexcept { return s[i]; }
};

inline bool is_digit(unsigned char c) noexcept {
    return c >= '0' && c <= '9';
}

// An IPv4 address in bytes [from, to): four groups of 1 to 3 decimal digits,
// each at most 255 (leading zeros read as decimal), separated by dots.
template <typename S>
bool read_address(const S &v, std::size_t from, std::size_t to, std::uint32_t &out) noexcept {
    std::uint32_t address = 0, group = 0;
    int dots = 0, digits = 0;
    for (std::size_t i = from; i < to; ++i) {
        const unsigned char c = v[i];
        if (is_digit(c)) {
            if (++digits > 3) return false;
            group = group * 10 + (c - '0');
        } else if (c == '.' && digits > 0 && dots < 3 && group <= 255) {
            address = address << 8 | group;
            group = 0, digits = 0, ++dots;
        } else {
            return false;
        }
    }
    if (dots != 3 || digits == 0 || group > 255) return false;
    out = address << 8 | group;
    return true;
}

// A decimal number: an optional '-' and one or more digits. `first` is the
// first significant digit (the last digit when all are zeros) and "-0" is
// not negative, so equal numbers have equal (minus, digits).
template <typename S> bool read_decimal(const S &v, bool &minus, std::size_t &first) noexcept {
    const std::size_t n = v.size();
    std::size_t i = n > 0 && v[0] == '-' ? 1 : 0;
    if (i == n) return false;
    for (std::size_t j = i; j < n; ++j)
        if (!is_digit(v[j])) return false;
    while (i + 1 < n && v[i] == '0')
        ++i;
    minus = v[0] == '-' && !(i + 1 == n && v[i] == '0');
    first = i;
    return true;
}

} // namespace lb::filter
