// The candidate scan of each vector level, and the level's exported switch.
// The AVX2 and AVX-512 functions are compiled for their instructions alone
// and only called where the processor has them, so the library runs on any
// x86-64 processor.
#include "separator_scan.hpp"

#include "logbase.h"
#include "simd_level.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lb::parser {
namespace {

// Key bytes are looked for as [0-z] but '=': a superset of [a-z0-9_] in one
// range, so that the candidates hold every separator's '='.
constexpr char kKeyLow = '0', kKeySpan = 'z' - '0';

// The candidates of one block from its '=', space and key-byte bits. A run
// of key bytes that starts after a space is a start bit added to the run:
// the carry ripples through the run and lands on the byte after it, which
// is a candidate when it is '='. Carries cross from block to block.
inline uint64_t candidates_of(uint64_t equals, uint64_t space, uint64_t key, ScanCarry &carry) {
    const uint64_t starts = ((space << 1) | carry.space) & key;
    carry.space = space >> 63;
    uint64_t sum;
    const bool over = __builtin_add_overflow(key, starts, &sum);
    const bool over_in = __builtin_add_overflow(sum, carry.run, &sum);
    carry.run = over || over_in;
    return sum & ~key & equals;
}

// The pairs of one block from its bits of '"', '=' and zero bytes; carries
// the '=' bits and the count. `count` counts the bits of a word: the
// processor's popcnt where the level has it.
template <typename Count>
inline PairBlock pairs_of_bits(uint64_t quote, uint64_t equals, uint64_t zero, ScanCarry &carry,
                               Count count) {
    const PairBlock block{(quote & (equals << 1 | carry.equals >> 63)) | zero, carry.pairs};
    carry.equals = equals;
    carry.pairs += static_cast<uint64_t>(count(block.bits));
    return block;
}

#if defined(__x86_64__)
// Bytes in [lo, lo + span] by one unsigned comparison: min(b - lo, span) == b - lo.
inline __m128i in_range(__m128i bytes, char lo, char span) {
    const __m128i shifted = _mm_sub_epi8(bytes, _mm_set1_epi8(lo));
    return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(span)), shifted);
}

// The carry lives in locals for the loop: `out` may alias it, which would
// send it through memory at every block.
template <bool kPairs>
void blocks_sse2(const char *bytes, std::size_t blocks, ScanCarry &carry_in, uint64_t *out,
                 PairBlock *pairs) {
    ScanCarry carry = carry_in;
    for (std::size_t b = 0; b < blocks; ++b) {
        uint64_t equals = 0, space = 0, key = 0, quote = 0, zero = 0;
        for (int i = 0; i < 64; i += 16) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 64 * b + i));
            const auto bits = [i](__m128i m) {
                return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(m))} << i;
            };
            equals |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('=')));
            space |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
            key |= bits(in_range(v, kKeyLow, kKeySpan));
            if constexpr (kPairs) {
                quote |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
                zero |= bits(_mm_cmpeq_epi8(v, _mm_setzero_si128()));
            }
        }
        if constexpr (kPairs) pairs[b] = pairs_of_bits(quote, equals, zero, carry, bit_count);
        out[b] = candidates_of(equals, space, key & ~equals, carry);
    }
    carry_in = carry;
}

__attribute__((target("avx2"))) inline __m256i in_range_avx2(__m256i bytes, char lo, char span) {
    const __m256i shifted = _mm256_sub_epi8(bytes, _mm256_set1_epi8(lo));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, _mm256_set1_epi8(span)), shifted);
}

template <bool kPairs>
__attribute__((target("avx2"))) void blocks_avx2(const char *bytes, std::size_t blocks,
                                                 ScanCarry &carry_in, uint64_t *out,
                                                 PairBlock *pairs) {
    ScanCarry carry = carry_in;
    for (std::size_t b = 0; b < blocks; ++b) {
        uint64_t equals = 0, space = 0, key = 0, quote = 0, zero = 0;
        for (int i = 0; i < 64; i += 32) {
            const __m256i v =
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + 64 * b + i));
            const auto bits = [i](__m256i m) __attribute__((target("avx2"))) {
                return uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(m))} << i;
            };
            equals |= bits(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('=')));
            space |= bits(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')));
            key |= bits(in_range_avx2(v, kKeyLow, kKeySpan));
            if constexpr (kPairs) {
                quote |= bits(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')));
                zero |= bits(_mm256_cmpeq_epi8(v, _mm256_setzero_si256()));
            }
        }
        if constexpr (kPairs)
            pairs[b] = pairs_of_bits(
                quote, equals, zero, carry, [](uint64_t bits) __attribute__((target("avx2"))) {
                    return __builtin_popcountll(bits);
                });
        out[b] = candidates_of(equals, space, key & ~equals, carry);
    }
    carry_in = carry;
}

template <bool kPairs>
__attribute__((target("avx512bw"))) void blocks_avx512(const char *bytes, std::size_t blocks,
                                                       ScanCarry &carry_in, uint64_t *out,
                                                       PairBlock *pairs) {
    ScanCarry carry = carry_in;
    const __m512i low = _mm512_set1_epi8(kKeyLow), span = _mm512_set1_epi8(kKeySpan);
    for (std::size_t b = 0; b < blocks; ++b) {
        const __m512i v = _mm512_loadu_si512(bytes + 64 * b);
        const uint64_t equals = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('='));
        const uint64_t key = _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, low), span) & ~equals;
        if constexpr (kPairs)
            pairs[b] = pairs_of_bits(
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('"')), equals,
                _mm512_testn_epi8_mask(v, v), carry,
                [](uint64_t bits)
                    __attribute__((target("avx512bw"))) { return __builtin_popcountll(bits); });
        out[b] =
            candidates_of(equals, _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' ')), key, carry);
    }
    carry_in = carry;
}

// The bytes `ends` asks for, 16 at a time at `p`, as in the pair scans' comment.
inline uint64_t pairs_of(__m128i quote, __m128i equals, __m128i last, __m128i before_last,
                         const KeyEnds &ends) {
    __m128i keys = _mm_setzero_si128();
    for (int k = 0; k < KeyEnds::kKeys; ++k)
        keys = _mm_or_si128(
            keys, _mm_and_si128(_mm_cmpeq_epi8(last, _mm_set1_epi8(ends.last[k])),
                                _mm_cmpeq_epi8(before_last, _mm_set1_epi8(ends.before_last[k]))));
    const __m128i pairs = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(quote, _mm_set1_epi8('"')),
                                                      _mm_cmpeq_epi8(equals, _mm_set1_epi8('='))),
                                        keys);
    return static_cast<uint16_t>(_mm_movemask_epi8(pairs));
}

void pairs_sse2(const char *bytes, std::size_t blocks, const KeyEnds &ends, uint64_t *out) {
    const auto load = [](const char *p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    };
    for (std::size_t b = 0; b < blocks; ++b) {
        uint64_t pairs = 0;
        for (int i = 0; i < 64; i += 16) {
            const char *p = bytes + 64 * b + i;
            pairs |= pairs_of(load(p), load(p - 1), load(p - 2), load(p - 3), ends) << i;
        }
        out[b] = pairs;
    }
}

__attribute__((target("avx2"))) inline __m256i load_avx2(const char *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

__attribute__((target("avx2"))) void pairs_avx2(const char *bytes, std::size_t blocks,
                                                const KeyEnds &ends, uint64_t *out) {
    for (std::size_t b = 0; b < blocks; ++b) {
        uint64_t pairs = 0;
        for (int i = 0; i < 64; i += 32) {
            const char *p = bytes + 64 * b + i;
            const __m256i last = load_avx2(p - 2), before_last = load_avx2(p - 3);
            __m256i keys = _mm256_setzero_si256();
            for (int k = 0; k < KeyEnds::kKeys; ++k)
                keys = _mm256_or_si256(
                    keys,
                    _mm256_and_si256(
                        _mm256_cmpeq_epi8(last, _mm256_set1_epi8(ends.last[k])),
                        _mm256_cmpeq_epi8(before_last, _mm256_set1_epi8(ends.before_last[k]))));
            const __m256i found = _mm256_and_si256(
                _mm256_and_si256(_mm256_cmpeq_epi8(load_avx2(p), _mm256_set1_epi8('"')),
                                 _mm256_cmpeq_epi8(load_avx2(p - 1), _mm256_set1_epi8('='))),
                keys);
            pairs |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(found))} << i;
        }
        out[b] = pairs;
    }
}

__attribute__((target("avx512bw"))) void pairs_avx512(const char *bytes, std::size_t blocks,
                                                      const KeyEnds &ends, uint64_t *out) {
    for (std::size_t b = 0; b < blocks; ++b) {
        const char *p = bytes + 64 * b;
        const __m512i last = _mm512_loadu_si512(p - 2), before_last = _mm512_loadu_si512(p - 3);
        uint64_t keys = 0;
        for (int k = 0; k < KeyEnds::kKeys; ++k)
            keys |= _mm512_cmpeq_epi8_mask(last, _mm512_set1_epi8(ends.last[k])) &
                    _mm512_cmpeq_epi8_mask(before_last, _mm512_set1_epi8(ends.before_last[k]));
        const uint64_t pairs =
            _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), _mm512_set1_epi8('"')) &
            _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p - 1), _mm512_set1_epi8('=')) & keys;
        out[b] = pairs;
    }
}
#endif

} // namespace

CandidateBlocks candidate_blocks(int level, bool pairs) {
#if defined(__x86_64__)
    switch (level) {
    case LOGBASE_SIMD_AVX512:
        return pairs ? blocks_avx512<true> : blocks_avx512<false>;
    case LOGBASE_SIMD_AVX2:
        return pairs ? blocks_avx2<true> : blocks_avx2<false>;
    case LOGBASE_SIMD_SSE2:
        return pairs ? blocks_sse2<true> : blocks_sse2<false>;
    default:
        break;
    }
#else
    (void)level;
    (void)pairs;
#endif
    return nullptr;
}

PairBlocks pair_blocks(int level) {
#if defined(__x86_64__)
    switch (level) {
    case LOGBASE_SIMD_AVX512:
        return pairs_avx512;
    case LOGBASE_SIMD_AVX2:
        return pairs_avx2;
    case LOGBASE_SIMD_SSE2:
        return pairs_sse2;
    default:
        break;
    }
#else
    (void)level;
#endif
    return nullptr;
}

} // namespace lb::parser

extern "C" {

LOGBASE_API int logbase_simd_level(void) {
    return lb::simd::level();
}

LOGBASE_API int logbase_set_simd_level(int level) {
    const int usable = lb::simd::usable_level(level);
    if (usable >= 0) lb::simd::level_setting().store(usable, std::memory_order_relaxed);
    return usable;
}

} // extern "C"
