#include "filter_reference.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>

namespace filter_reference {
namespace {

using std::string;
constexpr auto npos = string::npos;
const auto blank = [](char c) { return c == ' ' || c == '\t'; };
const auto isop = [](char c) { return c == '=' || c == '<' || c == '>'; };
const auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
const auto digits = [](const string &s) {
    return !s.empty() && s.find_first_not_of("0123456789") == npos;
};

// Four dot-separated digit groups (the shape of an address), each of 1 to 3
// digits up to 255 (an address).
bool address_shape(const string &s) {
    size_t dots = std::count(s.begin(), s.end(), '.');
    return !s.empty() && dots == 3 && s.find("..") == npos && s.front() != '.' && s.back() != '.' &&
           s.find_first_not_of("0123456789.") == npos;
}
std::optional<uint64_t> address(const string &s) {
    if (!address_shape(s)) return std::nullopt;
    uint64_t a = 0;
    for (size_t at = 0, dot; at <= s.size(); at = dot + 1) {
        dot = std::min(s.find('.', at), s.size());
        if (dot - at > 3 || std::stoi(s.substr(at, dot - at)) > 255) return std::nullopt;
        a = a * 256 + std::stoi(s.substr(at, dot - at));
    }
    return a;
}

// [low, high] of a network or range; nothing for another value; an empty
// set (low > high) for one of their shapes that is not valid.
std::optional<std::pair<uint64_t, uint64_t>> address_set(const string &v) {
    const size_t slash = v.find('/'), dash = v.find('-');
    if (slash != npos && address_shape(v.substr(0, slash))) {
        auto a = address(v.substr(0, slash));
        const string bits = v.substr(slash + 1);
        if (!a || !digits(bits) || bits.size() > 2 || std::stoi(bits) > 32) return {{1, 0}};
        const uint64_t size = uint64_t{1} << (32 - std::stoi(bits));
        return {{*a / size * size, *a / size * size + size - 1}};
    }
    if (dash == npos || !address_shape(v.substr(0, dash))) return std::nullopt;
    auto a = address(v.substr(0, dash)), b = address(v.substr(dash + 1));
    return a && b ? std::pair{*a, *b} : std::pair<uint64_t, uint64_t>{1, 0};
}

// The negation and key of a word that begins as a term does, up to its operator.
bool read_key(const string &word, Term &t) {
    const size_t k = word[0] == '-', op = word.find_first_of("=<>", k);
    if (op == npos || op == k || (!alnum(word[k]) && word[k] != '_')) return false;
    t.negated = k == 1;
    t.key = word.substr(k, op - k);
    return std::all_of(t.key.begin(), t.key.end(),
                       [](char c) { return alnum(c) || c == '_' || c == '-' || c == '.'; });
}

bool read_term(const string &word, Term &t) {
    if (!read_key(word, t)) return false;
    const size_t op = t.negated + t.key.size();
    t.op = word.substr(op, word[op] != '=' && word[op + 1] == '=' ? 2 : 1);
    string v = word.substr(op + t.op.size());
    if ((v.empty() && t.key != "msg") || (!v.empty() && isop(v[0]) && t.op != "=")) return false;
    if (v[0] != '"') return t.value = v, true;
    size_t j = 1;
    for (t.quoted = true; j < v.size() && v[j] != '"'; t.value += v[j++])
        if (v[j] == '\\' && j + 1 < v.size() && (v[j + 1] == '"' || v[j + 1] == '\\')) ++j;
    return j + 1 == v.size();
}

// Backtracking glob: on a mismatch the last '*' takes one more byte.
bool glob(const string &p, const string &s) {
    size_t i = 0, j = 0, star = npos, mark = 0;
    while (j < s.size())
        if (i < p.size() && p[i] == '*')
            star = i++, mark = j;
        else if (i < p.size() && p[i] == s[j])
            ++i, ++j;
        else if (star != npos)
            i = star + 1, j = ++mark;
        else
            return false;
    return p.find_first_not_of('*', i) == npos;
}

std::optional<string> item(const kv_entries &items, const string &key) {
    for (int i = 0; i < std::clamp(items.count, 0, 128); ++i) {
        const kv_entry &e = items.entries[i];
        if (e.key && e.key_len >= 0 && e.val_len >= 0 && (e.val || !e.val_len) &&
            std::string_view(e.key, e.key_len) == key)
            return string(e.val, e.val_len);
    }
    return std::nullopt;
}

// Sakamoto's rule, with the year moved on by 400 (a whole number of weeks).
std::optional<string> weekday(const string &d) {
    if (d.size() != 10 || d[4] != '-' || d[7] != '-' ||
        !digits(d.substr(0, 4) + d.substr(5, 2) + d.substr(8)))
        return std::nullopt;
    int y = std::stoi(d.substr(0, 4)) + 400, m = std::stoi(d.substr(5, 2)),
        day = std::stoi(d.substr(8));
    const int feb = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 29 : 28;
    const int length[] = {31, feb, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 1 || m > 12 || day < 1 || day > length[m - 1]) return std::nullopt;
    y -= m < 3;
    return std::to_string((y + y / 4 - y / 100 + y / 400 + t[m - 1] + day) % 7);
}

std::optional<string> lookup(const kv_entries &items, const string &key) {
    auto v = item(items, key), date = item(items, "date"), time = item(items, "time");
    if (!v && key == "date-time" && date && time) return *date + "-" + *time;
    return !v && key == "iwday" && date ? weekday(*date) : v;
}

// Numbers as (negative, digits without leading zeros), ordered by sign, count of digits, digits.
int numeric_order(string a, string b) {
    auto norm = [](string &s) {
        const bool minus = s[0] == '-';
        s.erase(0, minus);
        s.erase(0, std::min(s.find_first_not_of('0'), s.size() - 1));
        return minus && s != "0";
    };
    const bool ma = norm(a), mb = norm(b);
    if (ma != mb) return ma ? -1 : 1;
    const int mag = a.size() != b.size() ? (a.size() < b.size() ? -1 : 1) : a.compare(b);
    return ma ? -mag : mag;
}

bool test(const Term &t, const string &v) {
    auto set = t.quoted || t.op != "=" ? std::nullopt : address_set(t.value);
    if (set) return address(v) && set->first <= *address(v) && *address(v) <= set->second;
    if (t.op == "=")
        return !t.quoted && t.value.find('*') != npos ? glob(t.value, v) : v == t.value;
    auto decimal = [](const string &s) { return digits(s[0] == '-' ? s.substr(1) : s); };
    const int c = decimal(v) && decimal(t.value) ? numeric_order(v, t.value) : v.compare(t.value);
    return t.op == "<" ? c < 0 : t.op == "<=" ? c <= 0 : t.op == ">" ? c > 0 : c >= 0;
}

} // namespace

std::optional<Filter> compile(const string &s) {
    // Words: runs of non-blanks, but a '"' right after a term's operator quotes blanks too.
    std::vector<std::pair<size_t, size_t>> words;
    for (size_t i = 0, n = s.size();;) {
        while (i < n && blank(s[i]))
            ++i;
        if (i == n) break;
        const size_t b = i;
        while (i < n && !blank(s[i]) && !isop(s[i]))
            ++i;
        if (i < n && isop(s[i])) i += s[i] != '=' && i + 1 < n && s[i + 1] == '=' ? 2 : 1;
        Term probe; // the quote opens a value only where the word begins as a term
        if (i < n && read_key(s.substr(b, i - b), probe) && s[i] == '"') {
            for (++i; i < n && s[i] != '"'; ++i)
                if (s[i] == '\\' && i + 1 < n && (s[i + 1] == '"' || s[i + 1] == '\\')) ++i;
            if (i++ == n) return std::nullopt;
        }
        while (i < n && !blank(s[i]))
            ++i;
        words.emplace_back(b, i);
    }
    auto word = [&](size_t w) {
        return s.substr(words[w].first, words[w].second - words[w].first);
    };
    Filter f;
    bool pending_or = false;
    for (size_t w = 0; w < words.size(); ++w) {
        Term t;
        if (word(w) == "OR" ? f.empty() || pending_or : !read_term(word(w), t)) return std::nullopt;
        if (word(w) == "OR") {
            pending_or = true;
            continue;
        }
        // A message takes the following words that do not begin a term, and the blanks before them.
        Term next;
        for (; t.key == "msg" && !t.quoted && w + 1 < words.size() && word(w + 1) != "OR" &&
               !read_key(word(w + 1), next);
             ++w)
            t.value += s.substr(words[w].second, words[w + 1].second - words[w].second);
        auto set = t.quoted || t.op != "=" ? std::nullopt : address_set(t.value);
        if ((!t.quoted && t.value.empty()) || (set && set->first > set->second))
            return std::nullopt;
        pending_or ? f.back().push_back(t) : f.push_back({t});
        pending_or = false;
    }
    return pending_or ? std::nullopt : std::optional(f);
}

bool match(const Filter &filter, const kv_entries &items) {
    return std::all_of(filter.begin(), filter.end(), [&](const std::vector<Term> &clause) {
        return std::any_of(clause.begin(), clause.end(), [&](const Term &t) {
            auto v = lookup(items, t.key);
            return v ? test(t, *v) != t.negated : t.negated;
        });
    });
}

} // namespace filter_reference
