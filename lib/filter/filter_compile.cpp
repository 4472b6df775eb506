// Reading a filter text into its compiled program, in one pass over the text:
// terms, OR-clauses, values (quoted, bare, a message's words), address sets
// and glob pieces, and the values the quick line test searches for.
#include <cstring>
#include <memory>
#include <string_view>

#include "bounded_text.hpp"
#include "filter_program.hpp"
#include "filter_values.hpp"
#include "guards.hpp"
#include "logbase.h"

namespace {

using namespace lb::filter;

constexpr std::size_t kMaxText = std::size_t{1} << 20;

bool blank(char c) {
    return c == ' ' || c == '\t';
}
bool operator_byte(char c) {
    return c == '=' || c == '<' || c == '>';
}
bool key_first(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_';
}
bool key_byte(char c) {
    return key_first(c) || c == '-' || c == '.';
}

// End of the four dot-separated digit groups `v` begins with, or npos: the
// shape of a network or range, which must then be a valid one.
std::size_t address_shape_end(std::string_view v) {
    std::size_t i = 0;
    for (int group = 0; group < 4; ++group) {
        if (group > 0 && (i == v.size() || v[i++] != '.')) return std::string_view::npos;
        const std::size_t start = i;
        while (i < v.size() && is_digit(v[i]))
            ++i;
        if (i == start) return std::string_view::npos;
    }
    return i;
}

class Reader {
  public:
    Reader(std::string_view text, Program &program) : t_(text), p_(program) {}

    // False with where_ and why_ set when the text cannot be read.
    bool read() {
        bool any = false, pending_or = false;
        std::size_t or_at = 0;
        for (;;) {
            while (i_ < t_.size() && blank(t_[i_]))
                ++i_;
            if (i_ == t_.size()) break;
            if (or_word(i_)) {
                if (!any || pending_or) return fail(i_, "OR without a term before it");
                pending_or = true, or_at = i_, i_ += 2;
                continue;
            }
            if (any && !pending_or) close_clause();
            if (!term()) return false;
            any = true, pending_or = false;
        }
        if (pending_or) return fail(or_at, "OR without a term after it");
        if (any) close_clause();
        return true;
    }

    std::size_t where_ = 0;
    const char *why_ = "";

  private:
    bool fail(std::size_t at, const char *why) {
        where_ = at, why_ = why;
        return false;
    }
    bool or_word(std::size_t at) const {
        return t_.substr(at, 2) == "OR" && (at + 2 == t_.size() || blank(t_[at + 2]));
    }
    Span add(std::string_view bytes) {
        const Span s{static_cast<std::uint32_t>(p_.bytes.size()),
                     static_cast<std::uint32_t>(bytes.size())};
        p_.bytes.insert(p_.bytes.end(), bytes.begin(), bytes.end());
        return s;
    }

    bool term() {
        Term t;
        if (t_[i_] == '-') t.negated = true, ++i_;
        const std::size_t key_at = i_;
        while (i_ < t_.size() && (i_ == key_at ? key_first(t_[i_]) : key_byte(t_[i_])))
            ++i_;
        const char c = i_ < t_.size() ? t_[i_] : ' ';
        if (!operator_byte(c)) {
            if (blank(c)) return fail(i_, i_ == key_at ? "empty key" : "expected an operator");
            if (c == '(' || c == ')') return fail(i_, "parentheses are not read");
            if (c == '!') return fail(i_, "'!' is no operator: negate with a leading '-'");
            return fail(i_, "unexpected byte in a key");
        }
        if (i_ == key_at) return fail(i_, "empty key");
        const std::string_view key = t_.substr(key_at, i_ - key_at);
        t.key = add(key);
        t.derived = key == "date-time" ? Derived::date_time
                    : key == "iwday"   ? Derived::weekday
                                       : Derived::none;
        ++i_;
        if (c != '=' && i_ < t_.size() && t_[i_] == '=')
            t.op = c == '<' ? Op::le : Op::ge, ++i_;
        else
            t.op = c == '=' ? Op::eq : c == '<' ? Op::lt : Op::gt;

        const std::size_t value_at = i_;
        const bool quoted = i_ < t_.size() && t_[i_] == '"';
        if (quoted ? !quoted_value(t) : !bare_value(t, key == "msg", t.op == Op::eq)) return false;
        if (!quoted && t.value.len == 0) return fail(value_at, "missing value");
        if (t.op != Op::eq) {
            std::size_t first = 0;
            t.kind = Kind::order;
            t.decimal = read_decimal(Plain{p_.text(t.value)}, t.minus, first);
            if (t.decimal)
                t.digits = {t.value.off + static_cast<std::uint32_t>(first),
                            t.value.len - static_cast<std::uint32_t>(first)};
        } else if (!quoted && !classify(t)) {
            return false;
        }
        p_.terms.push_back(t);
        return true;
    }

    // "..." with \" and \\ standing for a quote and a backslash.
    bool quoted_value(Term &t) {
        const std::size_t open = i_++;
        t.value.off = static_cast<std::uint32_t>(p_.bytes.size());
        for (;; ++i_) {
            if (i_ == t_.size()) return fail(open, "unclosed quote");
            if (t_[i_] == '\\' && i_ + 1 < t_.size() && (t_[i_ + 1] == '"' || t_[i_ + 1] == '\\'))
                ++i_;
            else if (t_[i_] == '"')
                break;
            p_.bytes.push_back(t_[i_]);
        }
        t.value.len = static_cast<std::uint32_t>(p_.bytes.size() - t.value.off);
        if (++i_ < t_.size() && !blank(t_[i_]))
            return fail(i_, "expected a blank after the closing quote");
        return true;
    }

    // To the next blank; a message goes on over the words that follow it
    // while they neither begin a term nor are OR (the builder writes a
    // message's blanks unquoted, leading ones too), blanks included as written.
    // After '=' a value may begin with '=', '<' or '>': the builder writes
    // msg=<x for the message "<x", and no operator begins that way. After a
    // comparison such a value is a typo (k<>v, k>=>v).
    bool bare_value(Term &t, bool message, bool equality) {
        value_at_ = i_;
        if (!equality && i_ < t_.size() && operator_byte(t_[i_]))
            return fail(i_, "a compared value beginning with '=', '<' or '>' must be quoted");
        while (i_ < t_.size() && !blank(t_[i_]))
            ++i_;
        while (message) {
            std::size_t word = i_, end;
            while (word < t_.size() && blank(t_[word]))
                ++word;
            if (word == t_.size() || or_word(word) || term_start(word)) break;
            for (end = word; end < t_.size() && !blank(t_[end]); ++end) {
            }
            i_ = end;
        }
        t.value = add(t_.substr(value_at_, i_ - value_at_));
        return true;
    }

    // Whether the word at `at` begins as a term does: [-]key then an operator.
    bool term_start(std::size_t at) const {
        const std::size_t key_at = at + (t_[at] == '-');
        std::size_t end = key_at;
        while (end < t_.size() && (end == key_at ? key_first(t_[end]) : key_byte(t_[end])))
            ++end;
        return end > key_at && end < t_.size() && operator_byte(t_[end]);
    }

    // An unquoted = value: a network, a range, a glob or plain text.
    bool classify(Term &t) {
        const std::string_view v = p_.text(t.value);
        const std::size_t shape = address_shape_end(v);
        const char after = shape < v.size() ? v[shape] : '\0';
        if (after == '/') {
            std::uint32_t address = 0, prefix = 0;
            if (!read_address(Plain{v}, 0, shape, address))
                return fail(value_at_, "bad address in a network");
            const std::string_view bits = v.substr(shape + 1);
            bool ok = !bits.empty() && bits.size() <= 2;
            for (char c : bits)
                ok = ok && is_digit(c), prefix = prefix * 10 + (c - '0');
            if (!ok || prefix > 32) return fail(value_at_ + shape + 1, "bad prefix length");
            const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
            t.kind = Kind::addresses, t.low = address & mask, t.high = t.low | ~mask;
        } else if (after == '-') {
            if (!read_address(Plain{v}, 0, shape, t.low))
                return fail(value_at_, "bad address in a range");
            if (!read_address(Plain{v}, shape + 1, v.size(), t.high))
                return fail(value_at_ + shape + 1, "bad address in a range");
            if (t.low > t.high) return fail(value_at_, "range runs backwards");
            t.kind = Kind::addresses;
        } else if (v.find('*') != std::string_view::npos) {
            t.kind = Kind::glob;
            glob_pieces(t);
        }
        return true;
    }

    void glob_pieces(Term &t) {
        t.first_piece = static_cast<std::uint32_t>(p_.pieces.size());
        std::uint32_t start = 0;
        for (std::uint32_t i = 0; i <= t.value.len; ++i) {
            if (i < t.value.len && p_.bytes[t.value.off + i] != '*') continue;
            Piece piece{{t.value.off + start, i - start},
                        static_cast<std::uint32_t>(p_.failure.size())};
            // failure[k]: length of the longest proper border of the piece's first k + 1 bytes.
            const std::string_view s = p_.text(piece.text);
            for (std::size_t k = 0, border = 0; k < s.size(); ++k) {
                while (k > 0 && border > 0 && s[k] != s[border])
                    border = p_.failure[piece.table + border - 1];
                if (k > 0 && s[k] == s[border]) ++border;
                p_.failure.push_back(static_cast<std::uint32_t>(border));
            }
            p_.pieces.push_back(piece);
            start = i + 1;
        }
        t.pieces = static_cast<std::uint32_t>(p_.pieces.size()) - t.first_piece;
    }

    // Ends the clause of the terms read since the last one, and records its
    // values for the line test when every term is a plain, positive =: a
    // matching record holds one of them, and so does its line.
    void close_clause() {
        const std::uint32_t begin = p_.clause_ends.empty() ? 0 : p_.clause_ends.back();
        const std::uint32_t end = static_cast<std::uint32_t>(p_.terms.size());
        p_.clause_ends.push_back(end);
        const std::size_t mark = p_.needles.size();
        for (std::uint32_t i = begin; i < end; ++i) {
            const Term &t = p_.terms[i];
            Span needle = t.kind == Kind::glob ? Span{} : t.value; // a glob: its longest piece
            for (std::uint32_t k = 0; k < t.pieces; ++k)
                if (p_.pieces[t.first_piece + k].text.len > needle.len)
                    needle = p_.pieces[t.first_piece + k].text;
            if (t.negated || t.derived != Derived::none || needle.len == 0 ||
                (t.kind != Kind::text && t.kind != Kind::glob)) {
                p_.needles.resize(mark);
                return;
            }
            p_.needles.push_back(needle);
        }
        p_.needle_ends.push_back(static_cast<std::uint32_t>(p_.needles.size()));
    }

    std::string_view t_;
    Program &p_;
    std::size_t i_ = 0, value_at_ = 0;
};

void set_error(log_filter_error *error, long position, const char *reason) {
    if (error == nullptr) return;
    error->position = static_cast<int>(position);
    lb::copy_bounded(error->reason, sizeof error->reason, reason);
}

struct filter_deleter {
    void operator()(log_filter *f) const noexcept {
        f->~log_filter();
        std::free(f);
    }
};

} // namespace

extern "C" LOGBASE_API log_filter *log_filter_compile(const char *text, log_filter_error *error) {
    if (text == nullptr) return set_error(error, -1, "no filter text"), nullptr;
    const std::size_t length = lb::length_bounded(text, kMaxText + 1);
    if (length > kMaxText) return set_error(error, kMaxText, "text longer than 1 MiB"), nullptr;
    void *raw = std::malloc(sizeof(log_filter));
    if (raw == nullptr) return set_error(error, -1, "out of memory"), nullptr;
    std::unique_ptr<log_filter, filter_deleter> filter(new (raw) log_filter{});
    const int outcome = lb::no_throw(-1, [&] {
        Reader reader({text, length}, filter->program);
        if (reader.read()) return 1;
        set_error(error, static_cast<long>(reader.where_), reader.why_);
        return 0;
    });
    if (outcome < 0) set_error(error, -1, "out of memory");
    if (outcome != 1) return nullptr;
    set_error(error, -1, "");
    return filter.release();
}

extern "C" LOGBASE_API void log_filter_free(log_filter *filter) {
    if (filter != nullptr) filter_deleter()(filter);
}
