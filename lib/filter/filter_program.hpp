// The compiled form of a record filter: what the reader (filter_compile.cpp)
// builds from the text and the matcher (filter_match.cpp) runs. Nothing in
// it changes after compilation, so threads share one program freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <vector>

namespace lb::filter {

// Every block of a compiled filter comes from malloc, as the library's
// contract asks; a failure surfaces as std::bad_alloc and becomes "out of
// memory" at the interface.
template <typename T> struct malloc_allocator {
    using value_type = T;
    malloc_allocator() = default;
    template <typename U> malloc_allocator(const malloc_allocator<U> &) noexcept {}
    T *allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void *p = std::malloc(n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, std::size_t) noexcept { std::free(p); }
    friend bool operator==(const malloc_allocator &, const malloc_allocator &) { return true; }
};
template <typename T> using vec = std::vector<T, malloc_allocator<T>>;

// A stretch of the program's byte pool (offsets: the pool grows while the
// text is read).
struct Span {
    std::uint32_t off = 0, len = 0;
};

enum class Op : std::uint8_t { eq, lt, le, gt, ge };

enum class Kind : std::uint8_t {
    text,      // = value, byte for byte
    glob,      // = value with '*' standing for any run of bytes
    addresses, // = network or range: every IPv4 address in [low, high]
    order,     // <, <=, >, >=: as numbers when both sides are decimal, else as text
};

// Keys whose value the record may not carry as an item and the matcher
// derives from other items.
enum class Derived : std::uint8_t { none, date_time, weekday };

struct Term {
    Span key, value;
    Op op = Op::eq;
    Kind kind = Kind::text;
    Derived derived = Derived::none;
    bool negated = false;
    // order: the value as a decimal number (sign, digits without leading zeros)
    bool decimal = false, minus = false;
    Span digits;
    // addresses
    std::uint32_t low = 0, high = 0;
    // glob: pieces [first_piece, first_piece + pieces), the text between stars
    std::uint32_t first_piece = 0, pieces = 0;
};

// A glob piece; `table` indexes the piece's failure function in `failure`
// (one entry per byte), which lets the middle pieces be found in one pass.
struct Piece {
    Span text;
    std::uint32_t table = 0;
};

struct Program {
    vec<char> bytes;
    vec<Term> terms;
    vec<std::uint32_t> clause_ends; // terms [end of previous, end) are one OR-clause
    vec<Piece> pieces;
    vec<std::uint32_t> failure;
    // The quick line test: groups of values, one of which must occur in a line.
    vec<Span> needles;
    vec<std::uint32_t> needle_ends;

    std::string_view text(Span s) const noexcept { return {bytes.data() + s.off, s.len}; }
};

} // namespace lb::filter

struct log_filter {
    lb::filter::Program program;
};
