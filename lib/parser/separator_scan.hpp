// The parser's first stage: the places where a separator may stand, found
// 16, 32 or 64 bytes at a time. A separator is a space, the next key and
// its '='; keys are made of [a-z0-9_], so every separator's '=' ends a run
// of such bytes that starts right after a space. Those '=' are the
// candidates: the values' other '=' (query strings, base64) and the spaces
// inside values are never looked at by the walk over the items.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lb::parser {

// What one 64-byte block hands the next: whether its last byte is a space,
// whether a run that started after a space reaches its end, and for the
// pairs below its '=' and key-end bits.
struct ScanCarry {
    uint64_t space = 0;
    uint64_t run = 0;
    uint64_t equals = 0, ends = 0, before = 0;
};

// The last three bytes of each key whose `key="` the CSV conversion moves;
// for byte shuffles, the last and third-last ones as one table by low
// nibble: entry n holds the byte of that set whose low nibble is n, 0x80
// (matching no byte below 0x80) if none. No two bytes of the set share
// their low nibble; the same holds for the before-last ones, in a table of
// their own.
struct KeyEnds {
    static constexpr int kKeys = 4;
    char third_last[kKeys];
    char before_last[kKeys];
    char last[kKeys];
    alignas(16) char table[16];
    alignas(16) char before_table[16];
};

// Bit i of out[b] is set when byte 64 * b + i of `bytes` is a candidate '=',
// for `blocks` whole blocks of 64 bytes. With `ends`, bit i of pairs[b] is
// set when that byte is zero, or when it is '"', the byte before it '=', the
// second and fourth before it in the set of `ends`' last and third-last
// bytes and the third before it among the before-last ones (the places a
// moved quote's key may end, a few of them false); the scan may then read
// the 4 bytes before `bytes`.
using CandidateBlocks = void (*)(const char *bytes, std::size_t blocks, ScanCarry &carry,
                                 uint64_t *out, uint64_t *pairs, const KeyEnds *ends);

// The block scan of a vector level (LOGBASE_SIMD_SSE2 and above), with the
// pairs or not; null for the portable level, whose parser searches each
// key's '=' directly.
CandidateBlocks candidate_blocks(int level, bool pairs = false);

// Bit i of out[b] is set when byte 64 * b + i of `bytes` is '"', the byte
// before it '=', and the two before that the end of a key of `ends`, for
// `blocks` whole blocks of 64 bytes; the 3 bytes before `bytes` are read.
// The search of a line rewritten alone, or of one whose pairs the block
// scan did not all keep.
using PairBlocks = void (*)(const char *bytes, std::size_t blocks, const KeyEnds &ends,
                            uint64_t *out);

// The pair scan of a vector level; null for the portable level.
PairBlocks pair_blocks(int level);

// The candidate '=' of one buffer, in increasing offsets, found a few
// blocks ahead of the last one asked for: a line is only scanned as far as
// it needs, and the lines of one buffer can share one scan. Never reads
// past the buffer.
class Candidates {
  public:
    static constexpr std::ptrdiff_t kNone = -1;

    // `len` below 2^31, as the parser's lengths are. With `ends` (and a scan
    // made for them), the pairs are kept too, for each_pair().
    Candidates(const char *bytes, std::ptrdiff_t len, CandidateBlocks scan,
               const KeyEnds *ends = nullptr)
        : bytes_(bytes), len_(len), scan_(scan), ends_(ends) {}

    const char *bytes() const { return bytes_; }

    // Whether first_from(from) can be asked: `from` never decreases from
    // one call to the next.
    bool serves(std::ptrdiff_t from) const { return from >= asked_; }

    // Offset of the first candidate at or after offset `from`; kNone when
    // none is left.
    std::ptrdiff_t first_from(std::ptrdiff_t from) {
        asked_ = from;
        for (;;) {
            for (; next_ < found_; ++next_)
                if (at_[next_] >= from) return at_[next_];
            if (!next_batch(from)) return kNone;
        }
    }

    // Scans through offset `to`, then calls visit(offset) for each kept pair
    // or zero byte in [from, to), in order, and forgets those before `to`.
    // False, with nothing visited, when some in [from, to) were not kept.
    template <typename Visit> bool each_pair(std::ptrdiff_t from, std::ptrdiff_t to, Visit visit) {
        while (scanned_ < to && next_batch(to)) {
        }
        for (; pair_head_ != pair_tail_ && pair_at_[pair_head_ % kPairs] < from; ++pair_head_) {
        }
        if (pairs_lost_until_ > from) return false;
        for (; pair_head_ != pair_tail_ && pair_at_[pair_head_ % kPairs] < to; ++pair_head_)
            visit(pair_at_[pair_head_ % kPairs]);
        return true;
    }

  private:
    static constexpr int kBatch = 8;             // blocks of 64 bytes
    static constexpr std::ptrdiff_t kBehind = 4; // bytes a pair scan reads before a block
    static constexpr unsigned kPairs = 256;

    // Lists the candidates of the next blocks, skipping blocks that end
    // before `from` (they are still scanned, for what they carry forward).
    bool next_batch(std::ptrdiff_t from) {
        const std::ptrdiff_t left = len_ - scanned_;
        if (left <= 0) return false;
        uint64_t masks[kBatch], pairs[kBatch];
        int blocks;
        if (left >= 64 && (scanned_ > 0 || ends_ == nullptr)) {
            blocks = static_cast<int>(left >> 6 < kBatch ? left >> 6 : kBatch);
            scan_(bytes_ + scanned_, static_cast<std::size_t>(blocks), carry_, masks, pairs, ends_);
        } else {
            // The buffer's first or last bytes, in a copy with the bytes
            // that a pair scan reads before them (zeros before the buffer)
            // and zeros after: zero is neither a key byte nor '='; as a
            // pair, the padding is dropped below.
            char copy[kBehind + 64] = {};
            const std::ptrdiff_t behind = scanned_ < kBehind ? scanned_ : kBehind;
            const std::ptrdiff_t taken = left < 64 ? left : 64;
            __builtin_memcpy(copy + kBehind - behind, bytes_ + scanned_ - behind,
                             static_cast<std::size_t>(behind + taken));
            blocks = 1;
            scan_(copy + kBehind, 1, carry_, masks, pairs, ends_);
            if (ends_ != nullptr) pairs[0] &= ~uint64_t{0} >> (64 - taken);
        }
        if (ends_ != nullptr) keep_pairs(pairs, blocks);
        next_ = found_ = 0;
        for (int b = 0; b < blocks; ++b, scanned_ += 64)
            if (scanned_ + 64 > from)
                for (uint64_t bits = masks[b]; bits != 0; bits &= bits - 1)
                    at_[found_++] = static_cast<int>(scanned_ + __builtin_ctzll(bits));
        return true;
    }

    // Out of line: the parse alone never keeps pairs.
    __attribute__((noinline)) void keep_pairs(const uint64_t *pairs, int blocks) {
        for (int b = 0; b < blocks; ++b) {
            const std::ptrdiff_t block = scanned_ + 64 * b;
            for (uint64_t bits = pairs[b]; bits != 0; bits &= bits - 1) {
                if (pair_tail_ - pair_head_ == kPairs) {
                    pairs_lost_until_ = block + 64;
                    break;
                }
                pair_at_[pair_tail_++ % kPairs] = static_cast<int>(block + __builtin_ctzll(bits));
            }
        }
    }

    const char *const bytes_;
    const std::ptrdiff_t len_;
    const CandidateBlocks scan_;
    const KeyEnds *const ends_;
    ScanCarry carry_;
    std::ptrdiff_t scanned_ = 0; // bytes whose candidates are listed or passed
    std::ptrdiff_t asked_ = 0;
    int next_ = 0, found_ = 0;
    // A candidate takes 3 bytes at least (" k="), the first one maybe less.
    int at_[kBatch * 64 / 3 + 2];
    // The pairs found and not yet visited or forgotten, a ring.
    int pair_at_[kPairs];
    unsigned pair_head_ = 0, pair_tail_ = 0;
    std::ptrdiff_t pairs_lost_until_ = 0; // a pair before this offset was dropped
};

} // namespace lb::parser
