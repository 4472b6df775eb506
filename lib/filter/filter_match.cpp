// Running a compiled filter on a record's items, and the quick test on a raw
// line. Each term looks its key up once and reads the value once (a glob's
// middle pieces are found with their failure functions), so a match costs
// time linear in the filter and the record, and allocates nothing.
#include <cstring>
#include <string_view>

#include "filter_program.hpp"
#include "filter_values.hpp"
#include "find_bytes.hpp"
#include "logbase.h"

namespace {

using namespace lb::filter;

constexpr int kMaxItems = static_cast<int>(sizeof(kv_entries::entries) / sizeof(kv_entry));

// The record's date-time: its date, a '-' and its time, never copied.
struct Joined {
    std::string_view date, time;
    std::size_t size() const noexcept { return date.size() + 1 + time.size(); }
    unsigned char operator[](std::size_t i) const noexcept {
        return i < date.size() ? date[i] : i == date.size() ? '-' : time[i - date.size() - 1];
    }
};

// The first usable item named `key`; items with no key or a negative length
// are passed over.
const kv_entry *find(const kv_entries &items, std::string_view key) {
    const int count = items.count < 0 ? 0 : items.count > kMaxItems ? kMaxItems : items.count;
    for (int i = 0; i < count; ++i) {
        const kv_entry &e = items.entries[i];
        if (e.key_len == static_cast<std::int32_t>(key.size()) && e.key != nullptr &&
            e.val_len >= 0 && (e.val != nullptr || e.val_len == 0) &&
            std::memcmp(e.key, key.data(), key.size()) == 0)
            return &e;
    }
    return nullptr;
}

std::string_view value_of(const kv_entry &e) {
    return {e.val, static_cast<std::size_t>(e.val_len)};
}

// Day of the week (0 Sunday) of "YYYY-MM-DD", a valid date of the proleptic
// Gregorian calendar from year 0 to 9999; -1 for anything else. Counted from
// the date alone, in days since 1970-01-01 (a Thursday).
int weekday(std::string_view d) {
    if (d.size() != 10 || d[4] != '-' || d[7] != '-') return -1;
    int f[3] = {0, 0, 0}; // year, month, day
    for (std::size_t i = 0, field = 0; i < 10; ++i) {
        if (i == 4 || i == 7) {
            ++field;
        } else if (is_digit(d[i])) {
            f[field] = f[field] * 10 + (d[i] - '0');
        } else {
            return -1;
        }
    }
    const int y = f[0], m = f[1], day = f[2];
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || day < 1 || day > kDays[m - 1] + (m == 2 && leap)) return -1;
    const long yy = y - (m <= 2);
    const long era = (yy >= 0 ? yy : yy - 399) / 400;
    const long yoe = yy - era * 400;
    const long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + day - 1;
    const long days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

template <typename S> bool equal(const S &r, std::string_view v) {
    if (r.size() != v.size()) return false;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (r[i] != static_cast<unsigned char>(v[i])) return false;
    return true;
}
bool equal(const Plain &r, std::string_view v) {
    return r.s == v;
}

// Byte order, a prefix before the longer text.
template <typename S> int compare_text(const S &r, std::string_view v) {
    const std::size_t n = r.size() < v.size() ? r.size() : v.size();
    for (std::size_t i = 0; i < n; ++i)
        if (r[i] != static_cast<unsigned char>(v[i]))
            return r[i] < static_cast<unsigned char>(v[i]) ? -1 : 1;
    return r.size() < v.size() ? -1 : r.size() > v.size() ? 1 : 0;
}

// Both decimal: the sign, then the count of significant digits, then the
// digits; no conversion, so no length overflows.
template <typename S>
int compare_numbers(const S &r, std::size_t first, bool minus, const Term &t, std::string_view d) {
    if (minus != t.minus) return minus ? -1 : 1;
    const std::size_t n = r.size() - first;
    int magnitude = n < d.size() ? -1 : n > d.size() ? 1 : 0;
    for (std::size_t i = 0; magnitude == 0 && i < n; ++i)
        if (r[first + i] != static_cast<unsigned char>(d[i]))
            magnitude = r[first + i] < static_cast<unsigned char>(d[i]) ? -1 : 1;
    return minus ? -magnitude : magnitude;
}

// Leftmost occurrence of piece `p` in r[from, to), or npos.
template <typename S>
std::size_t find_piece(const Program &prog, const Piece &p, const S &r, std::size_t from,
                       std::size_t to) {
    const std::string_view s = prog.text(p.text);
    if (s.empty()) return from;
    for (std::size_t i = from, q = 0; i < to; ++i) {
        while (q > 0 && r[i] != static_cast<unsigned char>(s[q]))
            q = prog.failure[p.table + q - 1];
        if (r[i] == static_cast<unsigned char>(s[q]) && ++q == s.size()) return i + 1 - s.size();
    }
    return std::string_view::npos;
}

// The first piece anchors the start, the last the end; the middle ones are
// taken leftmost in order, which finds a match whenever there is one.
template <typename S> bool glob(const Program &prog, const Term &t, const S &r) {
    const Piece *piece = prog.pieces.data() + t.first_piece;
    const std::string_view head = prog.text(piece[0].text);
    const std::string_view tail = prog.text(piece[t.pieces - 1].text);
    if (r.size() < head.size() + tail.size()) return false;
    const std::size_t end = r.size() - tail.size();
    for (std::size_t i = 0; i < head.size(); ++i)
        if (r[i] != static_cast<unsigned char>(head[i])) return false;
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (r[end + i] != static_cast<unsigned char>(tail[i])) return false;
    std::size_t at = head.size();
    for (std::uint32_t k = 1; k + 1 < t.pieces; ++k) {
        const std::size_t found = find_piece(prog, piece[k], r, at, end);
        if (found == std::string_view::npos) return false;
        at = found + piece[k].text.len;
    }
    return true;
}

template <typename S> bool test(const Program &prog, const Term &t, const S &r) {
    const std::string_view v = prog.text(t.value);
    switch (t.kind) {
    case Kind::text:
        return equal(r, v);
    case Kind::glob:
        return glob(prog, t, r);
    case Kind::addresses: {
        std::uint32_t address = 0;
        return read_address(r, 0, r.size(), address) && t.low <= address && address <= t.high;
    }
    case Kind::order:
        break;
    }
    bool minus = false;
    std::size_t first = 0;
    const int order = t.decimal && read_decimal(r, minus, first)
                          ? compare_numbers(r, first, minus, t, prog.text(t.digits))
                          : compare_text(r, v);
    switch (t.op) {
    case Op::lt:
        return order < 0;
    case Op::le:
        return order <= 0;
    case Op::gt:
        return order > 0;
    default:
        return order >= 0;
    }
}

// Whether the term holds; a key the record lacks (and cannot derive) makes
// the term false and its negation true.
bool holds(const Program &prog, const Term &t, const kv_entries &items) {
    bool result = false;
    if (const kv_entry *e = find(items, prog.text(t.key))) {
        result = test(prog, t, Plain{value_of(*e)});
    } else if (t.derived == Derived::date_time) {
        const kv_entry *date = find(items, "date"), *time = find(items, "time");
        if (date != nullptr && time != nullptr)
            result = test(prog, t, Joined{value_of(*date), value_of(*time)});
    } else if (t.derived == Derived::weekday) {
        const kv_entry *date = find(items, "date");
        const int day = date != nullptr ? weekday(value_of(*date)) : -1;
        if (day >= 0) result = test(prog, t, Plain{std::string_view("0123456").substr(day, 1)});
    }
    return result != t.negated;
}

} // namespace

extern "C" LOGBASE_API int log_filter_match(const log_filter *filter, const kv_entries *items) {
    if (filter == nullptr || items == nullptr) return -1;
    const Program &prog = filter->program;
    std::uint32_t begin = 0;
    for (std::uint32_t end : prog.clause_ends) {
        bool any = false;
        for (std::uint32_t i = begin; i < end && !any; ++i)
            any = holds(prog, prog.terms[i], *items);
        if (!any) return 0;
        begin = end;
    }
    return 1;
}

extern "C" LOGBASE_API int log_filter_may_match(const log_filter *filter, const char *line,
                                                size_t len) {
    if (filter == nullptr) return 0;
    if (line == nullptr) return 1;
    const Program &prog = filter->program;
    std::uint32_t begin = 0;
    for (std::uint32_t end : prog.needle_ends) {
        bool found = false;
        for (std::uint32_t i = begin; i < end && !found; ++i) {
            const std::string_view needle = prog.text(prog.needles[i]);
            found = contains_bytes({line, len}, needle);
        }
        if (!found) return 0;
        begin = end;
    }
    return 1;
}
