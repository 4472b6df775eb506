#include "filter_reference.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace filter_reference {
namespace {

bool blank(char c) {
    return c == ' ' || c == '\t';
}
bool isop(char c) {
    return c == '=' || c == '<' || c == '>';
}
bool digits(const std::string &s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}
bool alnum_(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::vector<std::string> split(const std::string &s, char at) {
    std::vector<std::string> parts(1);
    for (char c : s)
        c == at ? void(parts.emplace_back()) : parts.back().push_back(c);
    return parts;
}

// Four dot-separated digit groups: the shape; each of 1-3 digits up to 255: an address.
bool address_shape(const std::string &s) {
    auto parts = split(s, '.');
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), digits);
}
std::optional<uint32_t> address(const std::string &s) {
    if (!address_shape(s)) return std::nullopt;
    uint32_t a = 0;
    for (const std::string &p : split(s, '.')) {
        if (p.size() > 3 || std::stoi(p) > 255) return std::nullopt;
        a = a * 256 + std::stoi(p);
    }
    return a;
}

// [low, high] of a network or range value; nullopt when the value is neither;
// {1, 0} (empty) for one of their shape that is not valid.
std::optional<std::pair<uint32_t, uint32_t>> address_set(const std::string &v) {
    size_t slash = v.find('/'), dash = v.find('-');
    if (slash != std::string::npos && address_shape(v.substr(0, slash))) {
        auto a = address(v.substr(0, slash));
        std::string bits = v.substr(slash + 1);
        if (!a || !digits(bits) || bits.size() > 2 || std::stoi(bits) > 32) return {{1, 0}};
        uint64_t size = uint64_t{1} << (32 - std::stoi(bits));
        return {{uint32_t(*a / size * size), uint32_t(*a / size * size + size - 1)}};
    }
    if (dash != std::string::npos && address_shape(v.substr(0, dash))) {
        auto a = address(v.substr(0, dash)), b = address(v.substr(dash + 1));
        if (!a || !b) return {{1, 0}};
        return {{*a, *b}};
    }
    return std::nullopt;
}

bool read_term(const std::string &word, Term &t) {
    size_t k = word[0] == '-' ? 1 : 0, op = word.find_first_of("=<>", k);
    if (op == std::string::npos) return false;
    t.negated = k == 1;
    t.key = word.substr(k, op - k);
    if (t.key.empty() || !alnum_(t.key[0]) || !std::all_of(t.key.begin(), t.key.end(), [](char c) {
            return alnum_(c) || c == '-' || c == '.';
        }))
        return false;
    t.op = word.substr(op, word[op] != '=' && word[op + 1] == '=' ? 2 : 1);
    std::string v = word.substr(op + t.op.size());
    if ((v.empty() && t.key != "msg") || (!v.empty() && isop(v[0]))) return false;
    if (v[0] != '"') return t.value = v, true;
    t.quoted = true;
    size_t j = 1;
    for (; j < v.size() && v[j] != '"'; ++j) {
        if (v[j] == '\\' && j + 1 < v.size() && (v[j + 1] == '"' || v[j + 1] == '\\')) ++j;
        t.value += v[j];
    }
    return j + 1 == v.size();
}

bool glob(const std::string &p, const std::string &s) {
    size_t i = 0, j = 0, star = std::string::npos, mark = 0;
    while (j < s.size()) {
        if (i < p.size() && p[i] == '*')
            star = i++, mark = j;
        else if (i < p.size() && p[i] == s[j])
            ++i, ++j;
        else if (star != std::string::npos)
            i = star + 1, j = ++mark;
        else
            return false;
    }
    while (i < p.size() && p[i] == '*')
        ++i;
    return i == p.size();
}

std::optional<std::string> item(const kv_entries &items, const std::string &key) {
    for (int i = 0; i < std::clamp(items.count, 0, 128); ++i) {
        const kv_entry &e = items.entries[i];
        if (e.key && e.val_len >= 0 && (e.val || e.val_len == 0) &&
            std::string_view(e.key, std::max(e.key_len, 0)) == key && e.key_len >= 0)
            return std::string(e.val, e.val_len);
    }
    return std::nullopt;
}

// Sakamoto's weekday rule, the year moved on by 400 (a whole number of weeks).
std::optional<std::string> weekday(const std::string &d) {
    if (d.size() != 10 || d[4] != '-' || d[7] != '-' ||
        !digits(d.substr(0, 4) + d.substr(5, 2) + d.substr(8)))
        return std::nullopt;
    int y = std::stoi(d.substr(0, 4)) + 400, m = std::stoi(d.substr(5, 2)),
        day = std::stoi(d.substr(8));
    int feb = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 29 : 28;
    const int length[] = {31, feb, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
              t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 1 || m > 12 || day < 1 || day > length[m - 1]) return std::nullopt;
    y -= m < 3;
    return std::to_string((y + y / 4 - y / 100 + y / 400 + t[m - 1] + day) % 7);
}

std::optional<std::string> lookup(const kv_entries &items, const std::string &key) {
    if (auto v = item(items, key)) return v;
    auto date = item(items, "date"), time = item(items, "time");
    if (key == "date-time" && date && time) return *date + "-" + *time;
    if (key == "iwday" && date) return weekday(*date);
    return std::nullopt;
}

bool decimal(const std::string &s) {
    return digits(s[0] == '-' ? s.substr(1) : s);
}
int numeric_order(std::string a, std::string b) {
    auto norm = [](std::string &s) {
        bool minus = s[0] == '-';
        s.erase(0, minus);
        s.erase(0, std::min(s.find_first_not_of('0'), s.size() - 1));
        return minus && s != "0";
    };
    bool ma = norm(a), mb = norm(b);
    if (ma != mb) return ma ? -1 : 1;
    int mag = a.size() != b.size() ? (a.size() < b.size() ? -1 : 1) : a.compare(b);
    return ma ? -mag : mag;
}

bool test(const Term &t, const std::string &v) {
    if (t.op == "=") {
        auto set = t.quoted ? std::nullopt : address_set(t.value);
        if (set) return address(v) && set->first <= *address(v) && *address(v) <= set->second;
        return !t.quoted && t.value.find('*') != std::string::npos ? glob(t.value, v)
                                                                   : v == t.value;
    }
    int c = decimal(v) && decimal(t.value) ? numeric_order(v, t.value) : v.compare(t.value);
    return t.op == "<" ? c < 0 : t.op == "<=" ? c <= 0 : t.op == ">" ? c > 0 : c >= 0;
}

} // namespace

std::optional<Filter> compile(const std::string &s) {
    struct Word {
        size_t begin, end;
    };
    std::vector<Word> words;
    for (size_t i = 0, n = s.size();;) {
        while (i < n && blank(s[i]))
            ++i;
        if (i == n) break;
        size_t b = i;
        while (i < n && !blank(s[i]) && !isop(s[i]))
            ++i;
        if (i < n && isop(s[i])) {
            i += s[i] != '=' && i + 1 < n && s[i + 1] == '=' ? 2 : 1;
            if (i < n && s[i] == '"') {
                for (++i; i < n && s[i] != '"'; ++i)
                    if (s[i] == '\\' && i + 1 < n && (s[i + 1] == '"' || s[i + 1] == '\\')) ++i;
                if (i++ == n) return std::nullopt;
            }
        }
        while (i < n && !blank(s[i]))
            ++i;
        words.push_back({b, i});
    }
    auto text = [&](size_t w) { return s.substr(words[w].begin, words[w].end - words[w].begin); };
    Filter f;
    bool pending_or = false;
    for (size_t w = 0; w < words.size(); ++w) {
        if (text(w) == "OR") {
            if (f.empty() || pending_or) return std::nullopt;
            pending_or = true;
            continue;
        }
        Term t;
        if (!read_term(text(w), t)) return std::nullopt;
        while (t.key == "msg" && !t.quoted && w + 1 < words.size() && text(w + 1) != "OR" &&
               text(w + 1).find_first_of("=<>") == std::string::npos)
            t.value += s.substr(words[w].end, words[w + 1].end - words[w].end), ++w;
        if (!t.quoted && t.value.empty()) return std::nullopt;
        if (auto set = t.quoted || t.op != "=" ? std::nullopt : address_set(t.value);
            set && set->first > set->second)
            return std::nullopt;
        pending_or ? f.back().push_back(t) : f.push_back({t});
        pending_or = false;
    }
    if (pending_or) return std::nullopt;
    return f;
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
