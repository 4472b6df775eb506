// The key/value line parser. A value ends at the first separator after which
// the rest of the line parses; a direct recursion finds it by retrying the
// rest at every space, which is exponential on values full of look-alikes of
// the following keys. The same results come in linear time from one fact:
// whether an item's value scan succeeds depends only on where the scan
// starts, and it succeeds exactly when it starts at or before the item's
// last "event" (a separator after which the next item succeeds, or a byte
// that ends the line). A backward pass finds each item's last event from the
// one of the item after it; a forward pass then takes, item by item, the
// first event, which is known to lead to the end of the line. Most lines
// need neither: taking at each item the first space that is followed by the
// next key already gives the rules' result whenever it reaches the line's
// end, so that cheap pass runs first and the exact passes only when it fails
// on a line that may end early (without early ends, that failure is final).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>

#include "descriptor_tables.hpp"
#include "kv_parser.hpp"
#include "separator_scan.hpp"
#include "simd_level.hpp"

static_assert(sizeof(entry_desc) == 8 + 4 + 4 + 31 * 4 + 4);
static_assert(sizeof(kv_entry) == 32 && offsetof(kv_entry, val) == 16);
static_assert(sizeof(kv_value) == 16 &&
              offsetof(kv_entry, val_len) - offsetof(kv_entry, val) == offsetof(kv_value, val_len));
static_assert(offsetof(kv_entries, count) == KV_MAX_ITEMS * sizeof(kv_entry));

namespace {

constexpr int kSlots = KV_MAX_ITEMS;
// From the 26th item on, a layout-0 line may end early after any item.
constexpr int kEarlyEndAfterPos = 24;
constexpr std::ptrdiff_t kNever = -1;

class LineParser {
  public:
    LineParser(kv_parse_ctx &ctx, kv_entries &out, char *start, int len, int level, bool entries,
               lb::parser::KeyedPatterns *keyed)
        : ctx_(ctx), out_(out), start_(start), end_(start + len), len_(len), level_(level),
          entries_(entries), keyed_(keyed) {}

    // Parses the line whose first item has `row` at slot `first_pos`: the
    // bytes through the line's final newline, or a negative code.
    // kCommaMode is the context's comma mode.
    template <bool kCommaMode> int parse(int row, int first_pos, lb::parser::Candidates *shared) {
        first_pos_ = first_pos;
        const lb::ed::Chain *known =
            row == 0 && first_pos == 0 ? lb::ed::builtin_chain(ctx_.table, ctx_.version) : nullptr;
        if (known != nullptr) {
            count_ = known->count;
            items_ = known->items;
            kinds_ = known->kinds;
        } else {
            count_ = chain(row);
        }
        int greedy;
        // The candidate scan knows keys of [a-z0-9_] only, as the built-in tables' are.
        if (lb::parser::CandidateBlocks scan =
                known != nullptr ? lb::parser::candidate_blocks(level_) : nullptr) {
            if (shared != nullptr && shared->serves(start_ - shared->bytes())) {
                greedy = walk<kCommaMode>(*known, *shared);
            } else {
                lb::parser::Candidates candidates(start_, len_, scan);
                greedy = walk<kCommaMode>(*known, candidates);
            }
        } else {
            greedy = parse_greedy();
        }
        return greedy != kUndecided ? greedy : parse_exact();
    }

  private:
    static constexpr int kUndecided = 0;

    // Takes each item's first space that the next key follows. When that
    // reaches the line's end, every space before each taken one made the
    // next item fail at once, so the result is the rules' result. The
    // first item's own failures are final too; any other is undecided.
    int parse_greedy() {
        char *item = start_;
        for (int i = 0;; ++i) {
            const entry_desc &desc = *items_[i];
            kv_entry &slot = out_.entries[first_pos_ + i];
            const char *scan = nullptr;
            if (i > 0) {
                // The separator was taken because this key, its '=' and its
                // opening quote follow it: nothing left to check.
                take_key(desc, item, slot, scan);
            } else if (int code = read_key(desc, item, slot, scan); code < 0) {
                return code;
            }
            if (kinds_[i] == Kind::last) {
                const char *t = first_line_end(desc, scan, end_);
                if (t == end_ && *end_ != '\n') return kUndecided;
                return end_greedy_line(desc, slot, i, t);
            }
            if (scan >= end_) return i == 0 ? KV_ERR_END : kUndecided;
            char *sep = kinds_[i] == Kind::middle ? first_separator(i, scan, len_, false) : nullptr;
            const char *bound = sep ? sep : end_;
            if (ends_early(i)) {
                if (const char *t = first_line_end(desc, scan, bound); t != bound)
                    return end_greedy_line(desc, slot, i, t);
            }
            if (sep == nullptr) return kUndecided;
            separators_[i] = sep;
            set_value_end(desc, slot, sep - slot.val);
            item = sep + 1;
        }
    }

    // The walk below for the caller's slots and mode. The walk is inlined
    // where the parser is made: in a function of its own it read the
    // parser's fields through memory at every item, and ran slower.
    template <bool kCommaMode>
    __attribute__((always_inline)) int walk(const lb::ed::Chain &chain,
                                            lb::parser::Candidates &candidates) {
        return entries_ ? parse_greedy<true, kCommaMode>(chain, candidates)
                        : parse_greedy<false, kCommaMode>(chain, candidates);
    }

    // parse_greedy() for a chain computed at load, each separator taken
    // from the candidate '=': the walk only goes forward, so the line's
    // candidates are read once. The separator text before each item holds
    // what separates() checks. Without kEntries, only the slot of the item
    // that ends the line is filled. With kCommas (comma mode), each separator
    // taken becomes a comma at once, while its line of cache is at hand; a
    // line that fails gets its spaces back.
    template <bool kEntries, bool kCommas>
    __attribute__((always_inline)) int parse_greedy(const lb::ed::Chain &chain,
                                                    lb::parser::Candidates &candidates) {
        char *const start = start_;
        const char *const end = end_;
        kv_entry *const slots = out_.entries;
        const char *scan = nullptr;
        if (int code = read_key(*chain.items[0], start, slots[0], scan); code < 0) return code;
        const char *val = slots[0].val;
        // The slot of the item that ends the line, then the end.
        const auto end_at = [&](int i, const char *newline) {
            if constexpr (kCommas)
                if (keyed_ != nullptr) note_keyed_patterns(chain, i);
            slots[i].key = chain.items[i]->name;
            slots[i].key_len = chain.items[i]->name_len;
            slots[i].val = val;
            return end_line(*chain.items[i], slots[i], i, newline);
        };
        const auto fail_after = [&](int taken, int code) {
            if constexpr (kCommas)
                for (int j = 0; j < taken; ++j)
                    *separators_[j] = ' ';
            return code;
        };
        const int last = chain.count - 1;
        // Items from which a layout-0 line may end early.
        const int early_from = ctx_.version == 0 ? kEarlyEndAfterPos + 1 : last;
        // Without early ends, the walk's failure is the line's: each item of
        // the rules' path starts at or after the walk's (it takes a separator
        // the walk could take, never an earlier one), so where the walk finds
        // no separator or line end, that path finds none either.
        const int failed = early_from >= last ? KV_ERR_END : kUndecided;
        // The scan's offsets are from the start of its buffer, which holds the
        // line: that start, reached from the line's own (writable) pointer.
        char *const origin = start - (start - candidates.bytes());
        const std::ptrdiff_t limit = end - origin;
        for (int i = 0; i < last; ++i) {
            if (scan >= end) return fail_after(i, i == 0 ? KV_ERR_END : failed);
            const lb::ed::ChainStep &next = chain.steps[i + 1];
            const std::ptrdiff_t to_equals = next.equals_at - next.space_at;
            // The last '=' whose text ends inside the line.
            const std::ptrdiff_t highest = limit - next.len + next.equals_at;
            char *sep = nullptr;
            for (std::ptrdiff_t e = candidates.first_from(scan - origin + to_equals);
                 e != lb::parser::Candidates::kNone && e <= highest;
                 e = candidates.first_from(e + 1)) {
                // Inside the line: the space lies at or after the scan start,
                // past the first key, and the text ends at or before the end.
                char *at = origin + e - next.equals_at;
                if (is_text_at(next, at)) {
                    sep = at + next.space_at;
                    break;
                }
            }
            if (i >= early_from) {
                const char *bound = sep ? sep : end;
                if (const char *t = first_line_end(*chain.items[i], scan, bound); t != bound)
                    return end_at(i, t);
            }
            if (sep == nullptr) return fail_after(i, failed);
            if constexpr (kCommas) {
                separators_[i] = sep; // for a failure to restore
                *sep = ',';
            }
            if constexpr (kEntries) {
                kv_entry &slot = slots[i];
                slot.val_len = static_cast<int32_t>(sep - val);
                if (chain.steps[i].quoted && slot.val_len > 1) {
                    slot.val += 1;
                    slot.val_len -= 2;
                }
                kv_entry &taken = slots[i + 1];
                taken.key = next.name;
                taken.key_len = next.name_len;
                taken.val = sep + 1 + to_equals;
            }
            val = sep + 1 + to_equals;
            scan = val + next.quoted;
        }
        const char *t = first_line_end(*chain.items[last], scan, end);
        if (t == end && *end != '\n') return fail_after(last, failed);
        return end_at(last, t);
    }

    // Fills keyed_ for a line whose items 0 to `last` the walk took.
    void note_keyed_patterns(const lb::ed::Chain &chain, int last) {
        keyed_->pairs = chain.quoted_after_first[last] + (chain.items[0]->quoted != 0);
        for (int k = 0; k < lb::parser::kQuotedFields; ++k) {
            const int step = chain.moved_step[k]; // never 0
            keyed_->at[k] = step > 0 && step <= last ? separators_[step - 1] + 1 - start_ : -1;
        }
    }

    static uint64_t load8(const char *bytes) {
        uint64_t word;
        std::memcpy(&word, bytes, 8);
        return word;
    }

    // Whether the step's separator text stands at `at`; the 8 bytes before
    // its end are readable.
    static bool is_text_at(const lb::ed::ChainStep &step, const char *at) {
        if ((load8(at + step.len - 8) & step.tail_mask) != step.tail) return false;
        for (int w = 0; w < step.len / 8; ++w)
            if (load8(at + 8 * w) != step.words[w]) return false;
        return true;
    }

    int end_greedy_line(const entry_desc &desc, kv_entry &slot, int i, const char *newline) {
        if (ctx_.csv)
            for (int j = 0; j < i; ++j)
                *separators_[j] = ',';
        return end_line(desc, slot, i, newline);
    }

    int parse_exact() {
        char *item = start_;
        for (int i = 0;; ++i) {
            const entry_desc &desc = *items_[i];
            kv_entry &slot = out_.entries[first_pos_ + i];
            const char *scan = nullptr;
            if (int code = read_key(desc, item, slot, scan); code < 0) return code;
            if (i == 0) find_last_events();
            const std::ptrdiff_t scan_at = scan - start_;
            if (kinds_[i] == Kind::last) {
                if (scan_at > last_event_[i]) return KV_ERR_END;
                return end_line(desc, slot, i, first_line_end(desc, scan, end_));
            }
            if (scan >= end_ || scan_at > last_event_[i]) return KV_ERR_END;
            char *sep = kinds_[i] == Kind::middle && last_event_[i + 1] != kNever
                            ? first_separator(i, scan, last_event_[i + 1], true)
                            : nullptr;
            const char *bound = sep ? sep : end_;
            const char *line_end = ends_early(i) ? first_line_end(desc, scan, bound) : bound;
            if (line_end != bound) return end_line(desc, slot, i, line_end);
            if (sep == nullptr) return KV_ERR_END; // not reached: the last event lies ahead
            if (ctx_.csv) *sep = ',';
            set_value_end(desc, slot, sep - slot.val);
            item = sep + 1;
        }
    }

    using Kind = lb::ed::ItemKind;

    // Walks the table from `row`: for tables and layouts without a chain
    // computed at load, or a parse that starts past the first item.
    int chain(int row) {
        const entry_desc *table = ctx_.table;
        items_ = walked_items_;
        kinds_ = walked_kinds_;
        for (int n = 0;; ++n) {
            walked_items_[n] = &table[row];
            const int next = table[row].next_row[ctx_.version];
            if (next == 0) {
                walked_kinds_[n] = Kind::last;
                return n + 1;
            }
            if (first_pos_ + n + 1 >= kSlots || next < 0 || next >= lb::ed::kRows ||
                table[next].name == nullptr) {
                walked_kinds_[n] = Kind::dead_end;
                return n + 1;
            }
            walked_kinds_[n] = Kind::middle;
            row = next;
        }
    }

    // memcmp(a, b, n) == 0 for the short keys of the tables, inline: a call
    // per candidate separator costs more than the comparison.
    static bool same_bytes(const char *a, const char *b, int n) {
        for (; n >= 8; a += 8, b += 8, n -= 8) {
            uint64_t x, y;
            std::memcpy(&x, a, 8);
            std::memcpy(&y, b, 8);
            if (x != y) return false;
        }
        for (; n > 0; ++a, ++b, --n)
            if (*a != *b) return false;
        return true;
    }

    // Key, '=' and opening quote of the item at `item`; fills the slot's key
    // and value start and sets `scan` to where the value scan begins.
    int read_key(const entry_desc &desc, const char *item, kv_entry &slot, const char *&scan) {
        if (desc.name == nullptr || end_ - item < desc.name_len ||
            !same_bytes(item, desc.name, desc.name_len))
            return KV_ERR_KEY;
        const char *equals = item + desc.name_len;
        if (*equals != '=') return KV_ERR_EQUALS;
        if (equals == end_) return KV_ERR_END;
        slot.key = desc.name;
        slot.key_len = desc.name_len;
        slot.val = equals + 1;
        scan = slot.val;
        if (desc.quoted) {
            if (scan == end_) return KV_ERR_END;
            if (*scan != '"') return KV_ERR_QUOTE;
            ++scan;
        }
        return 0;
    }

    // read_key for a key already checked at `item`.
    static void take_key(const entry_desc &desc, const char *item, kv_entry &slot,
                         const char *&scan) {
        slot.key = desc.name;
        slot.key_len = desc.name_len;
        slot.val = item + desc.name_len + 1;
        scan = slot.val + (desc.quoted ? 1 : 0);
    }

    bool ends_early(int i) const { return ctx_.version == 0 && first_pos_ + i > kEarlyEndAfterPos; }

    // Backward pass: the last event of each item, from the last item back.
    void find_last_events() {
        for (int i = count_ - 1; i >= 0; --i) {
            const entry_desc &desc = *items_[i];
            std::ptrdiff_t last = kNever;
            if (kinds_[i] == Kind::last)
                last = *end_ == '\n' ? len_ : last_line_end(desc.quoted);
            else if (kinds_[i] == Kind::middle)
                last = last_separator(i);
            if (ends_early(i)) last = std::max(last, last_line_end(desc.quoted));
            last_event_[i] = last;
        }
    }

    // Whether the space at `s` is followed by item i + 1's key, '=' and the
    // opening quote of its value, and preceded by item i's closing quote
    // (bounds checked by the callers). With `exact`, also whether item i + 1
    // then scans from at or before its last event, i.e. succeeds.
    bool separates(int i, const char *s, bool exact) const {
        const entry_desc &next = *items_[i + 1];
        // The single bytes first: values hold many '=' and few look-alikes.
        return s[0] == ' ' && s[1 + next.name_len] == '=' &&
               (!next.quoted || s[2 + next.name_len] == '"') &&
               (!items_[i]->quoted || s[-1] == '"') &&
               same_bytes(s + 1, next.name, next.name_len) &&
               (!exact || s - start_ + separator_span(i) <= last_event_[i + 1]);
    }

    // From item i's separator to item i + 1's scan start.
    std::ptrdiff_t separator_span(int i) const {
        return 2 + items_[i + 1]->name_len + items_[i + 1]->quoted;
    }

    static constexpr std::ptrdiff_t kFirstScanByte = 2; // no value scan starts earlier

    // Offset of item i's last separator whose next item reaches the line's end.
    std::ptrdiff_t last_separator(int i) const {
        if (last_event_[i + 1] == kNever) return kNever;
        const std::ptrdiff_t hi = std::min(last_event_[i + 1], len_) - separator_span(i);
        if (hi < kFirstScanByte) return kNever;
        // Search the next key's '=' backwards, then check the bytes around it.
        const int key_len = items_[i + 1]->name_len;
        const char *lowest = start_ + kFirstScanByte + 1 + key_len;
        for (const char *e = start_ + hi + 1 + key_len; e >= lowest; --e) {
            e = static_cast<const char *>(memrchr(lowest, '=', e - lowest + 1));
            if (e == nullptr) break;
            if (separates(i, e - 1 - key_len, true)) return e - 1 - key_len - start_;
        }
        return kNever;
    }

    // Item i's first separator from `from` whose next item's scan would start
    // at or before offset `next_scan_limit`. Searches the next key's '=',
    // which values hold far more rarely than spaces.
    char *first_separator(int i, const char *from, std::ptrdiff_t next_scan_limit,
                          bool exact) const {
        const std::ptrdiff_t hi = std::min(next_scan_limit, len_) - separator_span(i);
        if (hi < from - start_) return nullptr;
        const int key_len = items_[i + 1]->name_len;
        const char *highest = start_ + hi + 1 + key_len;
        for (const char *e = from + 1 + key_len; e <= highest; ++e) {
            e = find_equals(e, highest);
            if (e == nullptr) break;
            if (separates(i, e - 1 - key_len, exact)) return const_cast<char *>(e - 1 - key_len);
        }
        return nullptr;
    }

    // The first '=' in [from, last], or null. Inline in 16-byte steps: most
    // values are short, and a library call per item costs more than the scan.
    const char *find_equals(const char *from, const char *last) const {
        if (level_ == LOGBASE_SIMD_PORTABLE) {
            const void *found = from <= last ? std::memchr(from, '=', last - from + 1) : nullptr;
            return static_cast<const char *>(found);
        }
        const __m128i equals = _mm_set1_epi8('=');
        for (; last - from >= 15; from += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
            if (int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, equals)); mask != 0)
                return from + __builtin_ctz(static_cast<unsigned>(mask));
        }
        for (; from <= last; ++from)
            if (*from == '=') return from;
        return nullptr;
    }

    // A newline that ends the line: after a space and, for a quoted item,
    // the closing quote before that.
    static bool is_line_end(bool quoted, const char *s) {
        return *s == '\n' && s[-1] == ' ' && (!quoted || s[-2] == '"');
    }

    // First line end in [from, to); `to` when there is none.
    static const char *first_line_end(const entry_desc &desc, const char *from, const char *to) {
        for (; from < to; ++from) {
            from = static_cast<const char *>(std::memchr(from, '\n', to - from));
            if (from == nullptr) return to;
            if (is_line_end(desc.quoted, from)) return from;
        }
        return to;
    }

    // Offset of the last line end of the buffer (cached per quoting).
    std::ptrdiff_t last_line_end(int quoted) {
        std::ptrdiff_t &cached = last_line_end_[quoted != 0];
        if (cached != kUnknown) return cached;
        cached = kNever;
        for (const char *s = end_ - 1; s - start_ >= kFirstScanByte; --s) {
            s = static_cast<const char *>(
                memrchr(start_ + kFirstScanByte, '\n', s - start_ - kFirstScanByte + 1));
            if (s == nullptr) break;
            if (is_line_end(quoted != 0, s)) {
                cached = s - start_;
                break;
            }
        }
        return cached;
    }

    int end_line(const entry_desc &desc, kv_entry &slot, int i, const char *newline) {
        ctx_.last_pos = first_pos_ + i;
        // Only a value cut at the buffer's end can lack the space before the newline.
        set_value_end(desc, slot, std::max<std::ptrdiff_t>(newline - slot.val - 1, 0));
        return static_cast<int>(newline + 1 - start_);
    }

    static void set_value_end(const entry_desc &desc, kv_entry &slot, std::ptrdiff_t len) {
        slot.val_len = static_cast<int32_t>(len);
        if (desc.quoted && slot.val_len > 1) {
            slot.val += 1;
            slot.val_len -= 2;
        }
    }

    static constexpr std::ptrdiff_t kUnknown = -2;

    kv_parse_ctx &ctx_;
    kv_entries &out_;
    char *const start_;
    const char *const end_;
    const std::ptrdiff_t len_;
    const int level_;    // LOGBASE_SIMD_*: which scans run
    const bool entries_; // whether the caller reads the slots
    lb::parser::KeyedPatterns *const keyed_;
    int first_pos_ = 0;
    int count_ = 0;
    const entry_desc *const *items_ = nullptr;
    const Kind *kinds_ = nullptr;
    const entry_desc *walked_items_[kSlots];
    Kind walked_kinds_[kSlots];
    char *separators_[kSlots]; // taken by the greedy pass, comma'd on success
    // Per item: offset of its last event, kNever if it has none.
    std::ptrdiff_t last_event_[kSlots];
    std::ptrdiff_t last_line_end_[2] = {kUnknown, kUnknown};
};

// A parser for one line, in comma mode or not. Comma mode's is compiled
// apart: within one function, its code made the parse's slower.
template <bool kCommaMode>
int parse_line(int row, int depth, char *item, int len, kv_entries *entries, kv_parse_ctx *ctx,
               int level, lb::parser::Candidates *shared, bool entries_read,
               lb::parser::KeyedPatterns *keyed) {
    LineParser parser(*ctx, *entries, item, len, level, entries_read, keyed);
    return parser.parse<kCommaMode>(row, kSlots - depth, shared);
}

__attribute__((noinline)) int parse_line_in_comma_mode(int row, int depth, char *item, int len,
                                                       kv_entries *entries, kv_parse_ctx *ctx,
                                                       int level, lb::parser::Candidates *shared,
                                                       bool entries_read,
                                                       lb::parser::KeyedPatterns *keyed) {
    return parse_line<true>(row, depth, item, len, entries, ctx, level, shared, entries_read,
                            keyed);
}

} // namespace

int lb::parser::parse_items(int row, int depth, char *item, int len, kv_entries *entries,
                            kv_parse_ctx *ctx, int level, Candidates *shared, bool entries_read,
                            KeyedPatterns *keyed) {
    if (item == nullptr || entries == nullptr || ctx == nullptr || ctx->table == nullptr ||
        row < 0 || row >= lb::ed::kRows || depth < 1 || depth > kSlots || ctx->version < 0 ||
        ctx->version >= lb::ed::kLayouts)
        return KV_ERR_CATEGORY;
    if (len < 0) return KV_ERR_KEY;
    if (keyed != nullptr) keyed->pairs = -1;
    if (ctx->csv)
        return parse_line_in_comma_mode(row, depth, item, len, entries, ctx, level, shared,
                                        entries_read, keyed);
    return parse_line<false>(row, depth, item, len, entries, ctx, level, shared, entries_read,
                             keyed);
}

extern "C" {

LOGBASE_API int _parse_log_kv_pair(int row, int depth, char *item, int len, kv_entries *entries,
                                   kv_parse_ctx *ctx) {
    return lb::parser::parse_items(row, depth, item, len, entries, ctx, lb::simd::level(), nullptr);
}

LOGBASE_API int parse_disk_log_entry(int cat, const char *line, int len, kv_entries *entries) {
    const entry_desc *table = _get_ed_by_cat(cat);
    if (table == nullptr || line == nullptr || entries == nullptr) return KV_ERR_CATEGORY;
    kv_parse_ctx ctx{table, 0, 0, 0};
    int prefix_len = 0;
    scan_ver(line, len, &prefix_len, &ctx.version);
    if (len - prefix_len < 1) return KV_ERR_EMPTY;
    // Comma mode is off, so the line is only read.
    const int parsed = _parse_log_kv_pair(0, kSlots, const_cast<char *>(line) + prefix_len,
                                          len - prefix_len, entries, &ctx);
    if (parsed < 1) return parsed;
    entries->count = ctx.last_pos + 1;
    return parsed + prefix_len;
}

LOGBASE_API const kv_value *parse_get_value(const kv_entries *entries, const char *name) {
    if (entries == nullptr || name == nullptr) return nullptr;
    const size_t name_len = std::strlen(name);
    const int count = std::min(entries->count, kSlots);
    for (int i = 0; i < count; ++i) {
        const kv_entry &e = entries->entries[i];
        if (e.key != nullptr && static_cast<size_t>(e.key_len) == name_len &&
            std::memcmp(e.key, name, name_len) == 0)
            return reinterpret_cast<const kv_value *>(&e.val);
    }
    return nullptr;
}

} // extern "C"
