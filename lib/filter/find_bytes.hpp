// Whether a line holds a run of bytes: the line test's search, run on every
// raw line before it is parsed, so it must be much faster than parsing.
// Many places are tried at once by three bytes of the value (its first,
// middle and last: log text repeats digits and punctuation, so two bytes
// alone let through many places); only where all three agree are the rest
// compared. 32 places at a time with AVX2 where the processor has it, else
// 16 with SSE2, which every x86-64 processor has.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "simd.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lb::filter {

namespace detail {

inline bool same_inner(const char *at, std::string_view needle) noexcept {
    return std::memcmp(at + 1, needle.data() + 1, needle.size() - 2) == 0;
}

#if defined(__x86_64__)
// Places [0, end) of `line` tried 32 at a time; the first place not tried.
// Takes and returns no vector, so callers without AVX2 share its ABI.
__attribute__((target("avx2"))) inline std::size_t
search_avx2(std::string_view line, std::string_view needle, std::size_t end, bool &found) noexcept {
    const std::size_t k = needle.size(), mid = k / 2;
    const __m256i first = _mm256_set1_epi8(needle[0]), middle = _mm256_set1_epi8(needle[mid]),
                  last = _mm256_set1_epi8(needle[k - 1]);
    std::size_t at = 0;
    for (; at + 32 <= end; at += 32) {
        const char *p = line.data() + at;
        const auto *q = reinterpret_cast<const __m256i *>(p);
        const __m256i heads = _mm256_loadu_si256(q),
                      middles = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + mid)),
                      tails = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + k - 1));
        const __m256i hits = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(heads, first), _mm256_cmpeq_epi8(middles, middle)),
            _mm256_cmpeq_epi8(tails, last));
        for (auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hits)); mask != 0;
             mask &= mask - 1)
            if (same_inner(p + __builtin_ctz(mask), needle)) return found = true, at;
    }
    return at;
}

// The same, 16 at a time.
inline std::size_t search_sse2(std::string_view line, std::string_view needle, std::size_t end,
                               bool &found) noexcept {
    const std::size_t k = needle.size(), mid = k / 2;
    const __m128i first = _mm_set1_epi8(needle[0]), middle = _mm_set1_epi8(needle[mid]),
                  last = _mm_set1_epi8(needle[k - 1]);
    std::size_t at = 0;
    for (; at + 16 <= end; at += 16) {
        const char *p = line.data() + at;
        const auto load = [](const char *q) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
        };
        const __m128i hits = _mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi8(load(p), first), _mm_cmpeq_epi8(load(p + mid), middle)),
            _mm_cmpeq_epi8(load(p + k - 1), last));
        for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0;
             mask &= mask - 1)
            if (same_inner(p + __builtin_ctz(mask), needle)) return found = true, at;
    }
    return at;
}
#endif

inline bool has_avx2() noexcept {
    return lb::simd_level() == lb::Simd::kAvx2;
}

} // namespace detail

// `wide`: search 32 places at a time (only where the processor has AVX2).
inline bool contains_bytes(std::string_view line, std::string_view needle,
                           bool wide = detail::has_avx2()) noexcept {
    const std::size_t k = needle.size();
    if (k == 0) return true;
    if (line.size() < k) return false;
    if (k == 1) return std::memchr(line.data(), needle[0], line.size()) != nullptr;
    std::size_t at = 0;
#if defined(__x86_64__)
    // Places whose last byte lies inside the line: line.size() - k + 1.
    bool found = false;
    const std::size_t places = line.size() - k + 1;
    at = wide ? detail::search_avx2(line, needle, places, found)
              : detail::search_sse2(line, needle, places, found);
    if (found) return true;
#endif
    return line.substr(at).find(needle) != std::string_view::npos;
}

} // namespace lb::filter
