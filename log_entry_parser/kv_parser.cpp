// The key/value line parser. A value ends at the first separator after which
// the rest of the line parses, which a direct recursion finds by retrying the
// rest at every space: exponential on values full of look-alikes of the
// following keys. The same results come in O(length x keys) from one fact: if
// the item at position p fails from a scan start, it fails from every later
// scan start as well (its candidate separators and line ends are a subset).
// So each position remembers the lowest scan start that failed, and no byte
// is scanned twice for the same position.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "log_entry_parser/descriptor_tables.hpp"

static_assert(sizeof(entry_desc) == 8 + 4 + 4 + 31 * 4 + 4);
static_assert(sizeof(kv_entry) == 32 && offsetof(kv_entry, val) == 16);
static_assert(sizeof(kv_value) == 16 &&
              offsetof(kv_entry, val_len) - offsetof(kv_entry, val) == offsetof(kv_value, val_len));
static_assert(offsetof(kv_entries, count) == 128 * sizeof(kv_entry));

namespace {

constexpr int kSlots = 128;
// From the 26th item on, a layout-0 line may end early after any item.
constexpr int kEarlyEndAfterPos = 24;

class LineParser {
  public:
    LineParser(kv_parse_ctx &ctx, kv_entries &out, const char *end)
        : ctx_(ctx), out_(out), end_(end) {
        std::fill(std::begin(fails_from_), std::end(fails_from_), end);
    }

    // Parses the item of `row` at slot `pos` starting at `start`; the bytes
    // through the line's final newline, or a negative code.
    int item(int row, int pos, char *start) {
        if (pos >= kSlots) return KV_ERR_END;
        const entry_desc &desc = ctx_.table[row];
        if (desc.name == nullptr || end_ - start < desc.name_len ||
            std::memcmp(start, desc.name, desc.name_len) != 0)
            return KV_ERR_KEY;
        const char *equals = start + desc.name_len;
        if (*equals != '=') return KV_ERR_EQUALS;
        if (equals == end_) return KV_ERR_END;
        kv_entry &slot = out_.entries[pos];
        slot.key = desc.name;
        slot.key_len = desc.name_len;
        slot.val = equals + 1;
        const char *scan = slot.val;
        if (desc.quoted) {
            if (scan == end_) return KV_ERR_END;
            if (*scan != '"') return KV_ERR_QUOTE;
            ++scan;
        }
        const int next = desc.next_row[ctx_.version];
        if (next == 0) return last_item(desc, slot, pos, start, scan);
        if (scan >= end_) return KV_ERR_END;

        const char *limit = fails_from_[pos];
        const bool may_end_early = ctx_.version == 0 && pos > kEarlyEndAfterPos;
        const char *line_end = may_end_early ? find_line_end(desc, scan, limit) : limit;
        for (char *sep = next_separator(desc, scan, line_end); sep != nullptr;
             sep = next_separator(desc, sep + 1, line_end)) {
            const int rest = item(next, pos + 1, sep + 1);
            if (rest > 0) {
                if (ctx_.csv) *sep = ',';
                set_value_end(desc, slot, sep - slot.val);
                return static_cast<int>(sep + 1 - start) + rest;
            }
        }
        if (line_end != limit) return end_line(desc, slot, pos, start, line_end);
        fails_from_[pos] = scan;
        return KV_ERR_END;
    }

  private:
    int last_item(const entry_desc &desc, kv_entry &slot, int pos, const char *start,
                  const char *scan) {
        const char *limit = fails_from_[pos];
        const char *line_end = find_line_end(desc, scan, limit);
        if (line_end != limit) return end_line(desc, slot, pos, start, line_end);
        // The byte just past the buffer ends the line when it is a newline.
        if (limit == end_ && *end_ == '\n') return end_line(desc, slot, pos, start, end_);
        fails_from_[pos] = std::min(scan, limit);
        return KV_ERR_END;
    }

    int end_line(const entry_desc &desc, kv_entry &slot, int pos, const char *start,
                 const char *newline) {
        ctx_.last_pos = pos;
        // Only a value cut at the buffer's end can lack the space before the newline.
        set_value_end(desc, slot, std::max<std::ptrdiff_t>(newline - slot.val - 1, 0));
        return static_cast<int>(newline + 1 - start);
    }

    static void set_value_end(const entry_desc &desc, kv_entry &slot, std::ptrdiff_t len) {
        slot.val_len = static_cast<int32_t>(len);
        if (desc.quoted && slot.val_len > 1) {
            slot.val += 1;
            slot.val_len -= 2;
        }
    }

    // First newline in [from, limit) preceded by a space (and, for a quoted
    // key, by a closing quote before that); `limit` when there is none.
    static const char *find_line_end(const entry_desc &desc, const char *from, const char *limit) {
        while (from < limit) {
            auto *nl = static_cast<const char *>(std::memchr(from, '\n', limit - from));
            if (nl == nullptr) break;
            if (nl[-1] == ' ' && (!desc.quoted || nl[-2] == '"')) return nl;
            from = nl + 1;
        }
        return limit;
    }

    // Next candidate separator in [from, limit): any space after an unquoted
    // value, a space right after a double quote after a quoted one.
    static char *next_separator(const entry_desc &desc, const char *from, const char *limit) {
        if (from >= limit) return nullptr;
        if (!desc.quoted)
            return static_cast<char *>(const_cast<void *>(std::memchr(from, ' ', limit - from)));
        for (const char *quote = from - 1; quote + 1 < limit; ++quote) {
            quote = static_cast<const char *>(std::memchr(quote, '"', limit - 1 - quote));
            if (quote == nullptr) return nullptr;
            if (quote[1] == ' ') return const_cast<char *>(quote + 1);
        }
        return nullptr;
    }

    kv_parse_ctx &ctx_;
    kv_entries &out_;
    const char *const end_;
    // Per slot: the lowest scan start from which that item is known to fail.
    const char *fails_from_[kSlots];
};

} // namespace

extern "C" {

LOGBASE_API int _parse_log_kv_pair(int row, int depth, char *item, int len, kv_entries *entries,
                                   kv_parse_ctx *ctx) {
    if (item == nullptr || entries == nullptr || ctx == nullptr || ctx->table == nullptr ||
        row < 0 || row >= lb::ed::kRows || depth < 1 || depth > kSlots || ctx->version < 0 ||
        ctx->version >= lb::ed::kLayouts)
        return KV_ERR_CATEGORY;
    if (len < 0) return KV_ERR_KEY;
    LineParser parser(*ctx, *entries, item + len);
    return parser.item(row, kSlots - depth, item);
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
