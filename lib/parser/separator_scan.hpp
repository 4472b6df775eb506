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

// The candidate '=' of one buffer, in increasing offsets, computed a few
// blocks ahead of the last one asked for: a buffer of many lines is only
// scanned as far as its first line needs. Never reads past the buffer.
class Candidates {
  public:
    static constexpr std::ptrdiff_t kNone = -1;

    Candidates(const char *bytes, std::ptrdiff_t len, CandidateBlocks scan)
        : bytes_(bytes), len_(len), scan_(scan) {}

    // Offset of the first candidate at or after offset `from`; kNone when
    // none is left. `from` never decreases from one call to the next.
    std::ptrdiff_t first_from(std::ptrdiff_t from) {
        if (from < batch_at_) from = batch_at_;
        for (;;) {
            for (std::ptrdiff_t block = (from - batch_at_) >> 6; block < batch_blocks_; ++block) {
                uint64_t bits = masks_[block];
                const std::ptrdiff_t block_at = batch_at_ + (block << 6);
                if (from > block_at) bits &= ~uint64_t{0} << (from - block_at);
                if (bits != 0) return block_at + __builtin_ctzll(bits);
            }
            if (!next_batch()) return kNone;
            from = from > batch_at_ ? from : batch_at_;
        }
    }

  private:
    static constexpr int kBatch = 4;

    bool next_batch() {
        const std::ptrdiff_t at = batch_at_ + (batch_blocks_ << 6), left = len_ - at;
        if (left <= 0) return false;
        batch_at_ = at;
        if (left >= 64) {
            batch_blocks_ = static_cast<int>(left >> 6 < kBatch ? left >> 6 : kBatch);
            scan_(bytes_ + at, static_cast<std::size_t>(batch_blocks_), carry_, masks_);
        } else {
            // The buffer's last bytes, zero-padded: zero is neither a key byte nor '='.
            char tail[64] = {};
            __builtin_memcpy(tail, bytes_ + at, static_cast<std::size_t>(left));
            batch_blocks_ = 1;
            scan_(tail, 1, carry_, masks_);
        }
        return true;
    }

    const char *const bytes_;
    const std::ptrdiff_t len_;
    const CandidateBlocks scan_;
    ScanCarry carry_;
    std::ptrdiff_t batch_at_ = 0;
    int batch_blocks_ = 0;
    uint64_t masks_[kBatch];
};

} // namespace lb::parser
