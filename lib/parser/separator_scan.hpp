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
// and whether a run that started after a space reaches its end.
struct ScanCarry {
    uint64_t space = 0;
    uint64_t run = 0;
};

// Bit i of out[b] is set when byte 64 * b + i of `bytes` is a candidate '=',
// for `blocks` whole blocks of 64 bytes.
using CandidateBlocks = void (*)(const char *bytes, std::size_t blocks, ScanCarry &carry,
                                 uint64_t *out);

// The block scan of a vector level (LOGBASE_SIMD_SSE2 and above); null for
// the portable level, whose parser searches each key's '=' directly.
CandidateBlocks candidate_blocks(int level);

// The last two bytes of each key whose `key="` the CSV conversion moves.
struct KeyEnds {
    static constexpr int kKeys = 4;
    char before_last[kKeys];
    char last[kKeys];
};

// Bit i of out[b] is set when byte 64 * b + i of `bytes` is '"', the byte
// before it '=', and the two before that the end of a key of `ends`, for
// `blocks` whole blocks of 64 bytes; the 3 bytes before `bytes` are read.
// The CSV conversion's search, where such pairs are few.
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

    // `len` below 2^31, as the parser's lengths are.
    Candidates(const char *bytes, std::ptrdiff_t len, CandidateBlocks scan)
        : bytes_(bytes), len_(len), scan_(scan) {}

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

  private:
    static constexpr int kBatch = 8; // blocks of 64 bytes

    // Lists the candidates of the next blocks, skipping blocks that end
    // before `from` (they are still scanned, for what they carry forward).
    bool next_batch(std::ptrdiff_t from) {
        const std::ptrdiff_t left = len_ - scanned_;
        if (left <= 0) return false;
        uint64_t masks[kBatch];
        int blocks;
        if (left >= 64) {
            blocks = static_cast<int>(left >> 6 < kBatch ? left >> 6 : kBatch);
            scan_(bytes_ + scanned_, static_cast<std::size_t>(blocks), carry_, masks);
        } else {
            // The buffer's last bytes, zero-padded: zero is neither a key byte nor '='.
            char tail[64] = {};
            __builtin_memcpy(tail, bytes_ + scanned_, static_cast<std::size_t>(left));
            blocks = 1;
            scan_(tail, 1, carry_, masks);
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
    ScanCarry carry_;
    std::ptrdiff_t scanned_ = 0; // bytes whose candidates are listed or passed
    std::ptrdiff_t asked_ = 0;
    int next_ = 0, found_ = 0;
    // A candidate takes 3 bytes at least (" k="), the first one maybe less.
    int at_[kBatch * 64 / 3 + 2];
};

} // namespace lb::parser
