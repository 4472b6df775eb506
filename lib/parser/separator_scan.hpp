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
// pairs its '=' bits and the pairs found so far.
struct ScanCarry {
    uint64_t space = 0;
    uint64_t run = 0;
    uint64_t equals = 0;
    uint64_t pairs = 0;
};

// The pairs of one block: bit i is set when byte i is zero, or when it is
// '"' and the byte before it '='; and how many pairs the blocks before it
// hold (from the first block the carry saw).
struct PairBlock {
    uint64_t bits;
    uint64_t before;
};

// The bits set in a word, in-line: the library's baseline processor has no
// popcnt, and a call per word costs more than this.
inline int bit_count(uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555;
    bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<int>((bits * 0x0101010101010101) >> 56);
}

// Bit i of out[b] is set when byte 64 * b + i of `bytes` is a candidate '=',
// for `blocks` whole blocks of 64 bytes. With `pairs`, pairs[b] is filled.
using CandidateBlocks = void (*)(const char *bytes, std::size_t blocks, ScanCarry &carry,
                                 uint64_t *out, PairBlock *pairs);

// The block scan of a vector level (LOGBASE_SIMD_SSE2 and above), with the
// pairs or not; null for the portable level, whose parser searches each
// key's '=' directly.
CandidateBlocks candidate_blocks(int level, bool pairs = false);

// The last two bytes of each key whose `key="` the CSV conversion moves.
struct KeyEnds {
    static constexpr int kKeys = 4;
    char before_last[kKeys];
    char last[kKeys];
};

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

    // The pair bits kept of the last blocks scanned, a ring.
    static constexpr std::ptrdiff_t kPairBlocks = 512;
    using PairRing = PairBlock[kPairBlocks];

    // `len` below 2^31, as the parser's lengths are. With a scan made for
    // the pairs and a ring for them, they are kept, for count_pairs().
    Candidates(const char *bytes, std::ptrdiff_t len, CandidateBlocks scan,
               PairRing *pairs = nullptr)
        : bytes_(bytes), len_(len), scan_(scan), pair_bits_(pairs != nullptr ? *pairs : nullptr) {}

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

    // Scans through offset `to`, then counts the pairs and zero bytes in
    // [from, to), 0 <= from < to, from below the length; -1 when the bits of
    // some of those bytes are no longer kept. A parse may take the newline
    // just past the buffer as its line's end: bytes past the length count
    // as none, as that newline is neither.
    int count_pairs(std::ptrdiff_t from, std::ptrdiff_t to) {
        if (to > len_) to = len_;
        while (scanned_ < to && next_batch(to)) {
        }
        if ((from >> 6) < (scanned_ >> 6) - kPairBlocks) return -1;
        return static_cast<int>(pairs_through(to - 1) - pairs_before(from));
    }

  private:
    // The pairs before offset `at`, and through it.
    uint64_t pairs_before(std::ptrdiff_t at) const {
        const PairBlock &block = pair_bits_[(at >> 6) & (kPairBlocks - 1)];
        return block.before + bit_count(block.bits & ~(~uint64_t{0} << (at & 63)));
    }
    uint64_t pairs_through(std::ptrdiff_t at) const {
        const PairBlock &block = pair_bits_[(at >> 6) & (kPairBlocks - 1)];
        return block.before + bit_count(block.bits & ~uint64_t{0} >> (63 - (at & 63)));
    }

    static constexpr int kBatch = 8; // blocks of 64 bytes
    static_assert((kPairBlocks & (kPairBlocks - 1)) == 0 && kPairBlocks % kBatch == 0);

    // Lists the candidates of the next blocks, skipping blocks that end
    // before `from` (they are still scanned, for what they carry forward).
    bool next_batch(std::ptrdiff_t from) {
        const std::ptrdiff_t left = len_ - scanned_;
        if (left <= 0) return false;
        uint64_t masks[kBatch];
        PairBlock unkept[kBatch];
        // Pairs go straight to the ring: every batch but the buffer's last
        // two starts at a multiple of kBatch blocks, so none wraps.
        PairBlock *pairs =
            pair_bits_ != nullptr ? pair_bits_ + ((scanned_ >> 6) & (kPairBlocks - 1)) : unkept;
        int blocks;
        if (left >= 64) {
            blocks = static_cast<int>(left >> 6 < kBatch ? left >> 6 : kBatch);
            scan_(bytes_ + scanned_, static_cast<std::size_t>(blocks), carry_, masks, pairs);
        } else {
            // The buffer's last bytes, in a copy padded with zeros: zero is
            // neither a key byte nor '=', and no pair is asked for past the end.
            char copy[64] = {};
            __builtin_memcpy(copy, bytes_ + scanned_, static_cast<std::size_t>(left));
            blocks = 1;
            scan_(copy, 1, carry_, masks, pairs);
        }
        next_ = found_ = 0;
        for (int b = 0; b < blocks; ++b, scanned_ += 64)
            if (scanned_ + 64 > from)
                for (uint64_t bits = masks[b]; bits != 0; bits &= bits - 1)
                    at_[found_++] = static_cast<int>(scanned_ + __builtin_ctzll(bits));
        return true;
    }

    const char *const bytes_;
    const std::ptrdiff_t len_;
    const CandidateBlocks scan_;
    PairBlock *const pair_bits_; // by block number, as a ring
    ScanCarry carry_;
    std::ptrdiff_t scanned_ = 0; // bytes whose candidates are listed or passed
    std::ptrdiff_t asked_ = 0;
    int next_ = 0, found_ = 0;
    // A candidate takes 3 bytes at least (" k="), the first one maybe less.
    int at_[kBatch * 64 / 3 + 2];
};

} // namespace lb::parser
