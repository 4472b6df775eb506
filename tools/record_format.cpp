#include "record_format.hpp"

#include <algorithm>
#include <cstring>
#include <immintrin.h>
#include <type_traits>

namespace cli {

namespace {

// Each kind of output has its bytes that need handling (quoting or an
// escape), found in a block of 16 or 32 bytes at once (Kind::mask: the high
// bit set in those bytes) or in one byte (Kind::byte).

// Signed compares: bytes 0x80 and up are negative, so one test finds them
// together with the control bytes.
__m128i equal(__m128i v, char c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
}
__m128i control_or_high(__m128i v) {
    return _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
}
// A byte in every lane, as a value the compiler cannot rebuild: it then
// keeps it out of the loop (in a register, or on the stack as the compare's
// operand) instead of broadcasting it anew for each value, which the rare
// calls of the loops made it do.
__attribute__((target("avx2"))) inline __m256i splat(char c) {
    __m256i bytes = _mm256_set1_epi8(c);
    asm("" : "+x"(bytes));
    return bytes;
}
__attribute__((target("avx2"))) inline __m256i equal(__m256i v, char c) {
    return _mm256_cmpeq_epi8(v, splat(c));
}
__attribute__((target("avx2"))) inline __m256i control_or_high(__m256i v) {
    return _mm256_cmpgt_epi8(splat(0x20), v);
}

bool csv_special(unsigned char c) {
    return c == ',' || c == '"' || c == '\r' || c == '\n';
}

// A kind of output: the mask of its special bytes in a block of 16 and of
// 32 (compiled for AVX2), one expression for both, and the byte test.
#define BYTE_KIND(NAME, BLOCK, BYTE)                                                               \
    struct NAME {                                                                                  \
        static __m128i mask(__m128i v) { return BLOCK; }                                           \
        __attribute__((target("avx2"))) static __m256i mask(__m256i v) { return BLOCK; }           \
        static bool byte(unsigned char c) { return BYTE; }                                         \
    }

// Plain CSV bytes need neither quotes nor escapes: the high bit (movemask
// takes it from every byte as it is) marks bytes that may be invalid UTF-8.
BYTE_KIND(CsvKind,
          (equal(v, ',') | equal(v, '"')) | (equal(v, '\r') | equal(v, '\n')) |
              (equal(v, '\\') | v),
          csv_special(c) || c == '\\' || c >= 0x80);
BYTE_KIND(JsonKind, control_or_high(v) | (equal(v, '"') | equal(v, '\\')),
          c < 0x20 || c >= 0x80 || c == '"' || c == '\\');
BYTE_KIND(ListingKind, control_or_high(v) | (equal(v, 0x7f) | equal(v, '\\')),
          c < 0x20 || c >= 0x7f || c == '\\');
#undef BYTE_KIND

// Copies the bytes of p that need no handling to w and returns how many: up
// to the first byte the kind picks, or n. Values are mostly short plain
// text, and this loop is most of the cost of writing them: blocks are loaded
// and stored whole, also past the value's end while the source stays below
// `readable` (the record around the value); what lands in w past the plain
// bytes is overwritten by the caller, whose room has kSlack bytes to spare.
template <class Kind> size_t plain_portable(char *w, const char *p, size_t n, const char *) {
    size_t i = 0;
    for (; i < n && !Kind::byte(static_cast<unsigned char>(p[i])); ++i)
        w[i] = p[i];
    return i;
}

// From byte i on: 16 bytes at a time, then byte by byte.
template <class Kind>
size_t plain_sse2_from(size_t i, char *w, const char *p, size_t n, const char *readable) {
    for (; i < n && p + i + 16 <= readable; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(w + i), v);
        auto m = static_cast<unsigned>(_mm_movemask_epi8(Kind::mask(v)));
        if (n - i <= 16) { // the last block: most values have one only
            if (n - i < 16) m &= (1u << (n - i)) - 1;
            return m != 0 ? i + static_cast<size_t>(__builtin_ctz(m)) : n;
        }
        if (m != 0) return i + static_cast<size_t>(__builtin_ctz(m));
    }
    return i >= n ? n : i + plain_portable<Kind>(w + i, p + i, n - i, readable);
}

template <class Kind> size_t plain_sse2(char *w, const char *p, size_t n, const char *readable) {
    return plain_sse2_from<Kind>(0, w, p, n, readable);
}

// 32 bytes at a time while the record allows, then as SSE2 does.
template <class Kind>
__attribute__((target("avx2"))) size_t plain_avx2(char *w, const char *p, size_t n,
                                                  const char *readable) {
    size_t i = 0;
    for (; i < n && p + i + 32 <= readable; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(w + i), v);
        auto m = static_cast<uint32_t>(_mm256_movemask_epi8(Kind::mask(v)));
        if (n - i <= 32) {
            if (n - i < 32) m &= (uint32_t{1} << (n - i)) - 1;
            return m != 0 ? i + static_cast<size_t>(__builtin_ctz(m)) : n;
        }
        if (m != 0) return i + static_cast<size_t>(__builtin_ctz(m));
    }
    return plain_sse2_from<Kind>(i, w, p, n, readable);
}

using PlainCopy = size_t (*)(char *, const char *, size_t, const char *);
struct PlainCopies {
    PlainCopy csv, json, listing;
};

// The library's level of its byte scans decides (LOGBASE_SIMD, the build's
// choice, or the processor); the writers have no 64-byte path.
PlainCopies copies_for(int level) {
    if (level >= LOGBASE_SIMD_AVX2)
        return {plain_avx2<CsvKind>, plain_avx2<JsonKind>, plain_avx2<ListingKind>};
    if (level == LOGBASE_SIMD_SSE2)
        return {plain_sse2<CsvKind>, plain_sse2<JsonKind>, plain_sse2<ListingKind>};
    return {plain_portable<CsvKind>, plain_portable<JsonKind>, plain_portable<ListingKind>};
}

const PlainCopies kPlain = copies_for(logbase_simd_level());

size_t csv_plain(char *w, const char *p, size_t n, const char *readable) {
    return kPlain.csv(w, p, n, readable);
}
size_t json_plain(char *w, const char *p, size_t n, const char *readable) {
    return kPlain.json(w, p, n, readable);
}
size_t listing_plain(char *w, const char *p, size_t n, const char *readable) {
    return kPlain.listing(w, p, n, readable);
}

const char kHex[] = "0123456789abcdef";

char *put_hex_escape(char *w, const char *prefix, unsigned char c) {
    while (*prefix != '\0')
        *w++ = *prefix++;
    *w++ = kHex[c >> 4];
    *w++ = kHex[c & 15];
    return w;
}

// The letter of JSON's two-character escape of a control byte, 0 if none.
char short_escape(unsigned char c) {
    switch (c) {
    case '\b':
        return 'b';
    case '\f':
        return 'f';
    case '\n':
        return 'n';
    case '\r':
        return 'r';
    case '\t':
        return 't';
    default:
        return 0;
    }
}

// Writes `bytes` as runs that `plain` copies as they are, each special byte
// after a run through `special`, which writes its form at `out` and returns
// how many source bytes it took.
template <size_t (*plain)(char *, const char *, size_t, const char *), class Special>
char *put_transformed(char *w, std::string_view bytes, const char *readable, Special special) {
    const size_t n = bytes.size();
    const char *p = bytes.data();
    readable = std::max(readable, p + n);
    for (size_t i = 0;;) {
        const size_t run = plain(w, p + i, n - i, readable);
        w += run;
        i += run;
        if (i == n) return w;
        i += special(w, p + i, n - i);
    }
}

} // namespace

size_t utf8_sequence(const unsigned char *s, size_t n) {
    const unsigned char lead = s[0];
    size_t length;
    unsigned char low = 0x80, high = 0xbf; // range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;  // over-long below U+0800
        if (lead == 0xed) high = 0x9f; // surrogates U+D800..U+DFFF
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;  // over-long below U+10000
        if (lead == 0xf4) high = 0x8f; // above U+10FFFF
    } else {
        return 0;
    }
    if (n < length || s[1] < low || s[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((s[i] & 0xc0) != 0x80) return 0;
    return length;
}

namespace {

// The reversible form of bytes that are not text: a byte outside well-formed
// UTF-8 as \xHH and so a backslash as \\, each backslash written as
// `backslash` (itself escaped in JSON). Well-formed multi-byte sequences stay.
// Returns the bytes of p taken, 0 for an ASCII byte other than backslash.
size_t put_undecodable(char *&out, const char *p, size_t n, std::string_view backslash) {
    const auto c = static_cast<unsigned char>(*p);
    auto put_backslash = [&] { out = std::copy(backslash.begin(), backslash.end(), out); };
    if (c == '\\') {
        put_backslash();
        put_backslash();
        return 1;
    }
    if (c < 0x80) return 0;
    if (const size_t length = utf8_sequence(reinterpret_cast<const unsigned char *>(p), n)) {
        std::memcpy(out, p, length);
        out += length;
        return length;
    }
    put_backslash();
    out = put_hex_escape(out, "x", c);
    return 1;
}

} // namespace

namespace {

bool formula_lead(std::string_view value) {
    return !value.empty() && value[0] != '\0' && std::strchr("=+-@\t\r", value[0]) != nullptr;
}

// The field of a value that holds a byte to quote or escape, or a formula
// lead: out of line, as most values take neither.
char *csv_field_special(char *w, std::string_view value, const char *readable, bool spreadsheet) {
    const bool formula = spreadsheet && formula_lead(value);
    const bool quoted = std::any_of(value.begin(), value.end(), csv_special);
    if (quoted) *w++ = '"';
    if (formula) *w++ = '\''; // a spreadsheet then takes the cell as text
    w = put_transformed<json_plain>(w, value, readable, [](char *&out, const char *s, size_t left) {
        if (const size_t taken = put_undecodable(out, s, left, "\\")) return taken;
        if (*s == '"') *out++ = '"';
        *out++ = *s;
        return size_t{1};
    });
    if (quoted) *w++ = '"';
    return w;
}

// A JSON string's text from its first byte that needs an escape, and the
// closing quote.
char *json_string_rest(char *w, std::string_view rest, const char *readable) {
    w = put_transformed<json_plain>(w, rest, readable, [](char *&out, const char *p, size_t n) {
        if (const size_t taken = put_undecodable(out, p, n, "\\\\")) return taken;
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"') {
            *out++ = '\\';
            *out++ = '"';
        } else if (char letter = short_escape(c); letter != 0) {
            *out++ = '\\';
            *out++ = letter;
        } else {
            out = put_hex_escape(out, "\\u00", c);
        }
        return size_t{1};
    });
    *w++ = '"';
    return w;
}

// The row writers are compiled once per level, with the block copy inlined
// into their loop over the values: called through a pointer per value, the
// copy cost more in the call and in setting up its constants than in
// copying.
struct PortableLevel {
    template <class Kind>
    static size_t plain(char *w, const char *p, size_t n, const char *readable) {
        return plain_portable<Kind>(w, p, n, readable);
    }
};
// A single value's copy, through the pointers of the level chosen at start.
struct ChosenLevel {
    template <class Kind>
    static size_t plain(char *w, const char *p, size_t n, const char *readable) {
        if constexpr (std::is_same_v<Kind, CsvKind>)
            return csv_plain(w, p, n, readable);
        else
            return json_plain(w, p, n, readable);
    }
};
// The first block inline, as most values fit in one; the rest out of line.
struct Sse2Level {
    template <class Kind>
    [[gnu::always_inline]] static size_t plain(char *w, const char *p, size_t n,
                                               const char *readable) {
        if (n > 16 || p + 16 > readable) return plain_sse2<Kind>(w, p, n, readable);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(w), v);
        const auto m = static_cast<unsigned>(_mm_movemask_epi8(Kind::mask(v))) | (1u << n);
        return static_cast<size_t>(__builtin_ctz(m));
    }
};
struct Avx2Level {
    template <class Kind>
    __attribute__((target("avx2"))) static size_t plain(char *w, const char *p, size_t n,
                                                        const char *readable) {
        if (n > 32 || p + 32 > readable) return plain_avx2<Kind>(w, p, n, readable);
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(w), v);
        const auto m =
            static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(Kind::mask(v))));
        return static_cast<size_t>(__builtin_ctzll(m | (uint64_t{1} << n)));
    }
};

template <class Level>
[[gnu::always_inline]] inline char *csv_field_with(char *w, std::string_view value,
                                                   const char *readable, bool spreadsheet) {
    const char *p = value.data();
    const size_t n = value.size();
    if (!(spreadsheet && formula_lead(value)) &&
        Level::template plain<CsvKind>(w, p, n, std::max(readable, p + n)) == n)
        return w + n;
    return csv_field_special(w, value, readable, spreadsheet);
}

template <class Level>
[[gnu::always_inline]] inline char *csv_row_with(char *w, const kv_entry *const *cells, size_t n,
                                                 const char *readable, bool spreadsheet) {
    for (size_t c = 0; c < n; ++c) {
        if (c > 0) *w++ = ',';
        if (cells[c] != nullptr)
            w = csv_field_with<Level>(w, {cells[c]->val, static_cast<size_t>(cells[c]->val_len)},
                                      readable, spreadsheet);
    }
    *w++ = '\n';
    return w;
}

template <class Level>
[[gnu::always_inline]] inline char *json_string_with(char *w, std::string_view bytes,
                                                     const char *readable) {
    *w++ = '"';
    const char *p = bytes.data();
    const size_t n = bytes.size();
    const size_t run = Level::template plain<JsonKind>(w, p, n, std::max(readable, p + n));
    if (run == n) {
        w[n] = '"';
        return w + n + 1;
    }
    return json_string_rest(w + run, bytes.substr(run), readable);
}

} // namespace

void JsonMembers::set(Key &key, const char *name, size_t length) {
    key.name = name;
    key.length = static_cast<uint32_t>(length + 4);
    std::memset(key.text, 0, sizeof key.text);
    if (key.length > sizeof key.text) return; // longer than any table key: put_key copies it
    key.text[0] = ',';
    key.text[1] = '"';
    std::memcpy(key.text + 2, name, length);
    key.text[length + 2] = '"';
    key.text[length + 3] = ':';
}

inline char *JsonMembers::put_key(char *w, const Key &key) {
    if (key.length <= sizeof key.text) {
        std::memcpy(w, key.text, sizeof key.text); // fixed size: a few moves
        return w + key.length;
    }
    *w++ = ',';
    *w++ = '"';
    std::memcpy(w, key.name, key.length - 4);
    w += key.length - 4;
    *w++ = '"';
    *w++ = ':';
    return w;
}

bool plain_number(std::string_view value) {
    const bool negative = !value.empty() && value[0] == '-';
    const std::string_view digits = value.substr(negative ? 1 : 0);
    if (digits.empty() || digits.size() > 15) return false;
    if (digits[0] == '0' && (digits.size() > 1 || negative)) return false;
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The member loops, per level (friends of JsonMembers through this nested
// struct).
struct JsonMembers::Writer {
    template <class Level>
    [[gnu::always_inline]] static char *value(const JsonMembers &m, char *w, const kv_entry *item,
                                              const char *readable) {
        if (item == nullptr) {
            std::memcpy(w, "null", 4);
            return w + 4;
        }
        const std::string_view value(item->val, static_cast<size_t>(item->val_len));
        // A quoted item's value starts after its quote; it stays a string.
        if (m.numbers_ && item->val[-1] != '"' && plain_number(value))
            return std::copy(value.begin(), value.end(), w);
        return json_string_with<Level>(w, value, readable);
    }

    template <class Level>
    [[gnu::always_inline]] static char *items(JsonMembers &m, char *w, const kv_entries &items,
                                              const char *readable) {
        for (int i = 0; i < items.count; ++i) {
            const kv_entry &item = items.entries[i];
            Key &key = m.slots_[static_cast<size_t>(i)];
            if (key.name != item.key) set(key, item.key, static_cast<size_t>(item.key_len));
            w = value<Level>(m, put_key(w, key), &item, readable);
        }
        return w;
    }

    template <class Level>
    [[gnu::always_inline]] static char *cells(JsonMembers &m, char *w, const kv_entry *const *cells,
                                              const char *readable) {
        for (size_t c = 0; c < m.columns_.size(); ++c)
            w = value<Level>(m, put_key(w, m.columns_[c]), cells[c], readable);
        return w;
    }
};

namespace {

using CsvRow = char *(*)(char *, const kv_entry *const *, size_t, const char *, bool);
using JsonItems = char *(*)(JsonMembers &, char *, const kv_entries &, const char *);
using JsonCells = char *(*)(JsonMembers &, char *, const kv_entry *const *, const char *);

struct RowWriters {
    CsvRow csv_row;
    JsonItems json_items;
    JsonCells json_cells;
};

template <class Level> RowWriters row_writers() {
    return {
        [](char *w, const kv_entry *const *cells, size_t n, const char *readable,
           bool spreadsheet) { return csv_row_with<Level>(w, cells, n, readable, spreadsheet); },
        [](JsonMembers &m, char *w, const kv_entries &items, const char *readable) {
            return JsonMembers::Writer::items<Level>(m, w, items, readable);
        },
        [](JsonMembers &m, char *w, const kv_entry *const *cells, const char *readable) {
            return JsonMembers::Writer::cells<Level>(m, w, cells, readable);
        }};
}

// Lambdas take no target attribute: the AVX2 loops are spelled out.
__attribute__((target("avx2"))) char *csv_row_avx2(char *w, const kv_entry *const *cells, size_t n,
                                                   const char *readable, bool spreadsheet) {
    return csv_row_with<Avx2Level>(w, cells, n, readable, spreadsheet);
}
__attribute__((target("avx2"))) char *
json_items_avx2(JsonMembers &m, char *w, const kv_entries &items, const char *readable) {
    return JsonMembers::Writer::items<Avx2Level>(m, w, items, readable);
}
__attribute__((target("avx2"))) char *
json_cells_avx2(JsonMembers &m, char *w, const kv_entry *const *cells, const char *readable) {
    return JsonMembers::Writer::cells<Avx2Level>(m, w, cells, readable);
}

RowWriters row_writers_for(int level) {
    if (level >= LOGBASE_SIMD_AVX2) return {csv_row_avx2, json_items_avx2, json_cells_avx2};
    if (level == LOGBASE_SIMD_SSE2) return row_writers<Sse2Level>();
    return row_writers<PortableLevel>();
}

const RowWriters kRows = row_writers_for(logbase_simd_level());

} // namespace

char *put_csv_field(char *w, std::string_view value, const char *readable, bool spreadsheet) {
    return csv_field_with<ChosenLevel>(w, value, readable, spreadsheet);
}

char *put_csv_row(char *w, const kv_entry *const *cells, size_t n, const char *readable,
                  bool spreadsheet) {
    return kRows.csv_row(w, cells, n, readable, spreadsheet);
}

char *put_json_string(char *w, std::string_view bytes, const char *readable) {
    return json_string_with<ChosenLevel>(w, bytes, readable);
}

char *put_escaped(char *w, std::string_view bytes, const char *readable) {
    return put_transformed<listing_plain>(w, bytes, readable,
                                          [](char *&out, const char *p, size_t) {
                                              const auto c = static_cast<unsigned char>(*p);
                                              if (c == '\\') {
                                                  *out++ = '\\';
                                                  *out++ = '\\';
                                              } else {
                                                  out = put_hex_escape(out, "\\x", c);
                                              }
                                              return size_t{1};
                                          });
}

std::string escaped(std::string_view bytes) {
    std::string text(escaped_room(bytes.size()) + kSlack, '\0');
    text.resize(static_cast<size_t>(put_escaped(text.data(), bytes) - text.data()));
    return text;
}

std::string page_text(std::string_view bytes) {
    std::string text(escaped_room(bytes.size()) + kSlack, '\0');
    char *w = put_transformed<listing_plain>(
        text.data(), bytes, nullptr, [](char *&out, const char *p, size_t left) {
            if (const size_t taken = put_undecodable(out, p, left, "\\")) return taken;
            out = put_hex_escape(out, "\\x", static_cast<unsigned char>(*p));
            return size_t{1};
        });
    text.resize(static_cast<size_t>(w - text.data()));
    return text;
}

char *put_decimal(char *w, uint64_t value) {
    char digits[20];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        *w++ = digits[--n];
    return w;
}

char *JsonMembers::put(char *w, const kv_entries &items, const char *readable) {
    return kRows.json_items(*this, w, items, readable);
}

char *JsonMembers::put(char *w, const std::vector<std::string> &keys, const kv_entry *const *cells,
                       const char *readable) {
    if (columns_.size() != keys.size()) {
        columns_.resize(keys.size());
        for (size_t c = 0; c < keys.size(); ++c)
            set(columns_[c], keys[c].c_str(), keys[c].size());
    }
    return kRows.json_cells(*this, w, cells, readable);
}

void put_decimal(Output &out, uint64_t value) {
    char *start = out.reserve(20);
    out.commit(static_cast<size_t>(put_decimal(start, value) - start));
}

void put_json_string(Output &out, std::string_view bytes) {
    char *start = out.reserve(json_room(bytes.size()) + kSlack);
    out.commit(static_cast<size_t>(put_json_string(start, bytes) - start));
}

void put_escaped(Output &out, std::string_view bytes) {
    char *start = out.reserve(escaped_room(bytes.size()) + kSlack);
    out.commit(static_cast<size_t>(put_escaped(start, bytes) - start));
}

const std::vector<std::string> &Columns::all_keys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> all;
        for (int category : {LOG_CAT_ATTACK, LOG_CAT_TRAFFIC, LOG_CAT_EVENT}) {
            const entry_desc *table = _get_ed_by_cat(category);
            for (int row = 0; row < ENTRY_DESC_ROWS && table[row].name != nullptr; ++row)
                if (std::find(all.begin(), all.end(), table[row].name) == all.end())
                    all.emplace_back(table[row].name);
        }
        return all;
    }();
    return keys;
}

std::string Columns::select(std::string_view list) {
    forget();
    for (;;) {
        const size_t comma = list.find(',');
        const std::string key(list.substr(0, comma));
        const auto &known = all_keys();
        if (key.empty()) return "has an empty key";
        if (std::find(known.begin(), known.end(), key) == known.end())
            return "names an unknown key '" + key + "'";
        if (std::find(names_.begin(), names_.end(), key) != names_.end())
            return "names key '" + key + "' twice";
        names_.push_back(key);
        if (comma == std::string_view::npos) return {};
        list.remove_prefix(comma + 1);
    }
}

void Columns::select_table(int category) {
    forget();
    const entry_desc *table = _get_ed_by_cat(category);
    for (int row = 0; table != nullptr && row < ENTRY_DESC_ROWS && table[row].name != nullptr;
         ++row)
        names_.emplace_back(table[row].name);
}

void Columns::forget() {
    names_.clear();
    slots_ = {};
    placed_ = {};
}

int Columns::column_of(const char *key, int key_len) {
    const std::string_view name(key, static_cast<size_t>(key_len));
    for (size_t c = 0; c < names_.size(); ++c)
        if (names_[c] == name) return static_cast<int>(c);
    return -1;
}

void Columns::place(int category, const kv_entries &items, const kv_entry **cells) {
    auto &slots = slots_[static_cast<size_t>(category) % slots_.size()];
    if (category == placed_.category && &items == placed_.items && cells == placed_.cells &&
        items.count == placed_.count) {
        // Every key where it was in the last record: so is every cell.
        bool same = true;
        for (int i = 0; i < items.count; ++i)
            same &= slots[static_cast<size_t>(i)].key == items.entries[i].key;
        if (same) return;
    }
    placed_ = {category, items.count, &items, cells};
    std::fill(cells, cells + names_.size(), nullptr);
    for (int i = 0; i < items.count; ++i) {
        const kv_entry &item = items.entries[i];
        Slot &slot = slots[static_cast<size_t>(i)];
        if (slot.key != item.key) slot = {item.key, column_of(item.key, item.key_len)};
        if (slot.column >= 0) cells[slot.column] = &item;
    }
}

} // namespace cli
