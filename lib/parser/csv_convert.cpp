// CSV conversion: the parser in comma mode turns each line's separators into
// commas, then four quoted items become whole double-quoted CSV fields.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <iterator>
#include <string_view>

#include "bounded_text.hpp"
#include "kv_parser.hpp"
#include "logbase.h"
#include "quoted_fields.hpp"
#include "separator_scan.hpp"
#include "simd_level.hpp"

namespace {

constexpr size_t kNone = std::string_view::npos;

// Every pattern ends in `="`, so one pass over the line's double quotes
// finds them all.
using lb::parser::kQuotedFieldPatterns;
constexpr int kPatterns = lb::parser::kQuotedFields;
constexpr size_t kShortestPattern = 10;

// Little-endian loads: the byte at the lowest address is the low byte.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);

constexpr bool last_key_letters_differ() {
    for (int i = 0; i < kPatterns; ++i)
        for (int j = i + 1; j < kPatterns; ++j)
            if (kQuotedFieldPatterns[i].end()[-3] == kQuotedFieldPatterns[j].end()[-3])
                return false;
    return true;
}
static_assert(last_key_letters_differ());

constexpr bool keys_hold_no_pair_bytes() {
    for (std::string_view pattern : kQuotedFieldPatterns)
        if (pattern.substr(0, pattern.size() - 2).find_first_of("=\"") != std::string_view::npos)
            return false;
    return true;
}
static_assert(keys_hold_no_pair_bytes());

constexpr bool no_key_ends_another() {
    for (int i = 0; i < kPatterns; ++i)
        for (int j = 0; j < kPatterns; ++j)
            if (i != j &&
                lb::parser::quoted_field_key(i).ends_with(lb::parser::quoted_field_key(j)))
                return false;
    return true;
}
static_assert(no_key_ends_another());
static_assert(kShortestPattern - 2 >= 8, "pattern_ends_at loads eight bytes of a key");
static_assert(std::min({kQuotedFieldPatterns[0].size(), kQuotedFieldPatterns[1].size(),
                        kQuotedFieldPatterns[2].size(), kQuotedFieldPatterns[3].size()}) ==
              kShortestPattern);

uint64_t load8(const char *bytes) {
    uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Whether `pattern` ends with the '"' at text[quote]. Compared eight bytes
// at a time (the last eight of the key first: most candidates differ there).
bool pattern_ends_at(const char *text, size_t quote, std::string_view pattern) {
    if (quote + 1 < pattern.size()) return false;
    const char *start = text + quote + 1 - pattern.size();
    const size_t key_len = pattern.size() - 2;
    if (load8(start + key_len - 8) != load8(pattern.data() + key_len - 8)) return false;
    for (size_t i = 0; i + 8 < key_len; i += 8)
        if (load8(start + i) != load8(pattern.data() + i)) return false;
    return start[key_len] == '=';
}

constexpr lb::parser::KeyEnds key_ends_of_patterns() {
    lb::parser::KeyEnds ends{};
    static_assert(lb::parser::KeyEnds::kKeys == kPatterns);
    for (int k = 0; k < kPatterns; ++k) {
        ends.before_last[k] = kQuotedFieldPatterns[k].end()[-4];
        ends.last[k] = kQuotedFieldPatterns[k].end()[-3];
    }
    return ends;
}

constexpr lb::parser::KeyEnds kPatternKeyEnds = key_ends_of_patterns();

// Calls visit(q) for every q in [from, to), from >= 3, where text[q - 1] is
// '=' and text[q] '"', in order, until visit returns true; with `scan` (the
// pair scan of a vector level) only those after the last two bytes of a
// pattern's key. A line holds a few dozen pairs among a thousand bytes or
// more, and a few of them after those bytes: 64 positions are tested at a
// time, and only the pairs found are visited.
template <typename Visit>
void each_quote_after_equals(const char *text, size_t from, size_t to, lb::parser::PairBlocks scan,
                             Visit visit) {
    constexpr size_t kBatch = 16;
    size_t q = from;
    uint64_t masks[kBatch];
    while (scan != nullptr && q + 64 <= to) {
        const size_t blocks = std::min(kBatch, (to - q) / 64);
        scan(text + q, blocks, kPatternKeyEnds, masks);
        for (size_t b = 0; b < blocks; ++b, q += 64)
            for (uint64_t pairs = masks[b]; pairs != 0; pairs &= pairs - 1)
                if (visit(q + static_cast<size_t>(__builtin_ctzll(pairs)))) return;
    }
    for (; q < to; ++q)
        if (text[q] == '"' && text[q - 1] == '=' && visit(q)) return;
}

// Start of the first occurrence of `pattern` lying inside [from, to), or kNone.
size_t find_between(const char *text, size_t from, size_t to, std::string_view pattern,
                    lb::parser::PairBlocks scan) {
    size_t found = kNone;
    each_quote_after_equals(text, from + pattern.size() - 1, to, scan, [&](size_t q) {
        if (!pattern_ends_at(text, q, pattern)) return false;
        found = q + 1 - pattern.size();
        return true;
    });
    return found;
}

// Which pattern may end at a pair, by the letter before its '=' (the keys'
// last letters differ); kPatterns for none. That key's last eight bytes.
struct KeyEnds {
    unsigned char pattern_of_letter[256];
    uint64_t last8[kPatterns + 1];
};

constexpr KeyEnds key_ends() {
    KeyEnds ends{};
    for (unsigned char &k : ends.pattern_of_letter)
        k = kPatterns;
    for (int k = 0; k <= kPatterns; ++k) {
        // The "no pattern" row takes pattern 0's bytes, which cannot match:
        // the letter that chose it is not pattern 0's last one.
        std::string_view key = kQuotedFieldPatterns[k % kPatterns];
        key.remove_suffix(2);
        for (size_t i = 0; i < 8; ++i)
            ends.last8[k] |= uint64_t{static_cast<unsigned char>(key[key.size() - 8 + i])}
                             << (8 * i);
        if (k < kPatterns)
            ends.pattern_of_letter[static_cast<unsigned char>(key.back())] =
                static_cast<unsigned char>(k);
    }
    return ends;
}

constexpr KeyEnds kKeyEnds = key_ends();

// Notes in `first` the pattern that ends at the pair at q (q >= 9), if any
// and if it is the pattern's first; true when every pattern has its first.
// One table lookup and one eight-byte compare turn almost every pair away
// without a branch that depends on the text.
inline bool note_pair(const char *text, size_t q, size_t (&first)[kPatterns], int &missing) {
    const int k = kKeyEnds.pattern_of_letter[static_cast<unsigned char>(text[q - 2])];
    if (load8(text + q - 9) != kKeyEnds.last8[k]) return false;
    if (first[k] != kNone || !pattern_ends_at(text, q, kQuotedFieldPatterns[k])) return false;
    first[k] = q + 1 - kQuotedFieldPatterns[k].size();
    return --missing == 0;
}

// The first occurrence of every pattern in text[0, len), in one pass.
void find_all(const char *text, size_t len, size_t (&first)[kPatterns],
              lb::parser::PairBlocks scan) {
    std::fill(std::begin(first), std::end(first), kNone);
    int missing = kPatterns;
    each_quote_after_equals(text, kShortestPattern - 1, len, scan,
                            [&](size_t q) { return note_pair(text, q, first, missing); });
}

// Start of the occurrence of `pattern` ending at the pair at q, or kNone.
size_t occurrence_ending_at(const char *text, size_t len, size_t q, std::string_view pattern) {
    if (q < 1 || q >= len || text[q - 1] != '=' || text[q] != '"') return kNone;
    return pattern_ends_at(text, q, pattern) ? q + 1 - pattern.size() : kNone;
}

// Moves the n bytes at p one byte further on, 8 <= n <= 32: two loads that
// may overlap, then two stores. A call to memmove costs more for so few.
void shift_one(char *p, size_t n) {
    if (n >= 16) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + n - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 1), head);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 1 + n - 16), tail);
    } else {
        const uint64_t head = load8(p), tail = load8(p + n - 8);
        std::memcpy(p + 1, &head, 8);
        std::memcpy(p + 1 + n - 8, &tail, 8);
    }
}
static_assert(kShortestPattern - 1 >= 8);
static_assert(std::max({kQuotedFieldPatterns[0].size(), kQuotedFieldPatterns[1].size(),
                        kQuotedFieldPatterns[2].size(), kQuotedFieldPatterns[3].size()}) -
                  1 <=
              32);

// Rewrites the `size` bytes of a pattern's occurrence at p: its bytes move
// one further on, over its final quote, which goes to the front.
void move_quote(char *p, size_t size) {
    shift_one(p, size - 1);
    p[0] = '"';
}

// The patterns are rewritten one after the other, each at its first
// occurrence in the text as the rewrites before it left it. A rewrite
// changes only the bytes of its own occurrence, so a pattern's first
// occurrence in the original text stays valid unless it overlaps an earlier
// rewrite (then the whole text is searched again), and an occurrence made by
// a rewrite must overlap it. Keys hold neither '=' nor '"', so such an
// occurrence can only end at the pair that now closes the rewritten bytes or
// at the quote that now opens them: two places to test per rewrite.
// `len` is the text's length (up to the line's first zero byte), `first`
// each pattern's first occurrence in it.
void rewrite_quoted_fields(char *text, size_t len, const size_t (&first)[kPatterns],
                           lb::parser::PairBlocks scan) {
    size_t done_at[kPatterns];
    size_t done_len[kPatterns];
    int done = 0;
    for (int k = 0; k < kPatterns; ++k) {
        const std::string_view pattern = kQuotedFieldPatterns[k];
        size_t at = first[k];
        for (int d = 0; d < done && at != kNone; ++d)
            if (at < done_at[d] + done_len[d] && done_at[d] < at + pattern.size())
                at = find_between(text, 0, len, pattern, scan);
        for (int d = 0; d < done; ++d) {
            at = std::min(at, occurrence_ending_at(text, len, done_at[d], pattern));
            at = std::min(at, occurrence_ending_at(text, len, done_at[d] + done_len[d], pattern));
        }
        if (at == kNone) continue;
        move_quote(text + at, pattern.size());
        done_at[done] = at;
        done_len[done] = pattern.size();
        ++done;
    }
}

// The rewriting of a line of `len` bytes: its text ends at its first zero byte.
void rewrite_line(char *line, size_t len) {
    len = lb::length_bounded(line, len);
    const lb::parser::PairBlocks scan = lb::parser::pair_blocks(lb::simd::level());
    size_t first[kPatterns];
    find_all(line, len, first, scan);
    rewrite_quoted_fields(line, len, first, scan);
}

// rewrite_line() for a line that the walk over its layout parsed, at offset
// `at` of the buffer `pairs` scans. When the line's only `="` are those its
// keys end with and it holds no zero byte, every pattern's first occurrence
// is the key the walk noted: the pattern's key, after a separator. They lie
// on distinct keys, and a move makes no occurrence of a later pattern: one
// would end at the moved quote, which follows the separator, not '=', or at
// the '"' the move may expose after the key, where only the moved pattern's
// own key ends (no key is the end of another). Other lines are searched.
void rewrite_line(char *line, size_t len, lb::parser::Candidates &pairs, std::ptrdiff_t at,
                  const lb::parser::KeyedPatterns &keyed) {
    if (keyed.pairs < 0 ||
        pairs.count_pairs(at, at + static_cast<std::ptrdiff_t>(len)) != keyed.pairs)
        return rewrite_line(line, len);
    for (int k = 0; k < kPatterns; ++k)
        if (keyed.at[k] >= 0) move_quote(line + keyed.at[k], kQuotedFieldPatterns[k].size());
}

} // namespace

extern "C" {

// Works on the line itself rather than a fixed scratch copy, so lines of any
// length are rewritten; as in a NUL-terminated copy, the search stops at the
// line's first NUL.
LOGBASE_API void convert_csv_log_special_character(char *line, int len) {
    if (line == nullptr || len <= 0) return;
    rewrite_line(line, static_cast<size_t>(len));
}

LOGBASE_API int convert_csv_log(int cat, char *buf, int len) {
    const entry_desc *table = _get_ed_by_cat(cat);
    if (table == nullptr) return KV_ERR_CATEGORY;
    if (buf == nullptr) return KV_ERR_CATEGORY;
    kv_parse_ctx ctx{table, 0, 1, 0};
    kv_entries scratch;
    int prefix_len = 0;
    scan_ver(buf, len, &prefix_len, &ctx.version);
    char *cursor = buf;
    int remaining = len;
    // One candidate scan for the whole buffer, line after line: a line's own
    // scan would run on a few blocks into the next one.
    const int level = lb::simd::level();
    // It keeps the `="` pairs, for the quote moves, too.
    const lb::parser::CandidateBlocks blocks = lb::parser::candidate_blocks(level, true);
    lb::parser::Candidates::PairRing ring;
    lb::parser::Candidates candidates(buf, len > 0 ? len : 0, blocks, &ring);
    lb::parser::Candidates *shared = blocks != nullptr ? &candidates : nullptr;
    lb::parser::KeyedPatterns keyed;
    while (remaining > 0) {
        if (remaining <= prefix_len) return KV_ERR_KEY;
        char *line = cursor + prefix_len;
        const int parsed = lb::parser::parse_items(0, KV_MAX_ITEMS, line, remaining - prefix_len,
                                                   &scratch, &ctx, level, shared, false, &keyed);
        if (parsed < 1) return parsed;
        if (shared != nullptr)
            rewrite_line(line, static_cast<size_t>(parsed), *shared, line - buf, keyed);
        else
            rewrite_line(line, static_cast<size_t>(parsed));
        cursor = line + parsed;
        remaining -= prefix_len + parsed;
    }
    return 0;
}

} // extern "C"
