// Wrappers over the platform's POSIX extended regular expressions. Each call
// compiles and releases its own expression, so the wrappers keep no state.
#include <cstring>
#include <regex.h>
#include <string_view>
#include <vector>

#include "guards.hpp"
#include "bounded_text.hpp"
#include "logbase.h"

namespace {

// A compiled expression released at scope exit; error() is 0 when it compiled.
class CompiledRegex {
  public:
    explicit CompiledRegex(const char *pattern) : error_(regcomp(&re_, pattern, REG_EXTENDED)) {}
    ~CompiledRegex() {
        if (error_ == 0) regfree(&re_);
    }
    CompiledRegex(const CompiledRegex &) = delete;
    CompiledRegex &operator=(const CompiledRegex &) = delete;
    int error() const { return error_; }
    bool find(const char *text, size_t slots, regmatch_t *matches) const {
        return regexec(&re_, text, slots, matches, 0) == 0;
    }

  private:
    regex_t re_{};
    int error_;
};

bool took_part(const regmatch_t &m) {
    return m.rm_so >= 0 && m.rm_eo >= m.rm_so;
}

// Copies the matched span of `text` into `out`, or empties `out` when the
// group did not take part.
void copy_span(const char *text, const regmatch_t &m, char *out) {
    size_t len = took_part(m) ? static_cast<size_t>(m.rm_eo - m.rm_so) : 0;
    if (len != 0) std::memcpy(out, text + m.rm_so, len);
    out[len] = '\0';
}

// Group 1 is replaced when the first '(' of the pattern opens a group, that
// is when it is not escaped with a backslash.
bool replaces_group(const char *pattern) {
    const char *paren = std::strchr(pattern, '(');
    return paren != nullptr && (paren == pattern || paren[-1] != '\\');
}

} // namespace

extern "C" LOGBASE_API int regex_match(const char *pattern, const char *text, char *match_out) {
    return regex_match_multi(pattern, text, match_out != nullptr ? &match_out : nullptr, 1);
}

extern "C" LOGBASE_API int regex_match_multi(const char *pattern, const char *text,
                                             char **group_out, int count) {
    if (pattern == nullptr || text == nullptr) return REGEX_NO_MATCH;
    return lb::no_throw(REGEX_NO_MATCH, [&] {
        CompiledRegex re(pattern);
        if (re.error() != 0) return -re.error();
        std::vector<regmatch_t> slots(count > 0 ? static_cast<size_t>(count) : 0);
        if (!re.find(text, slots.size(), slots.data())) return REGEX_NO_MATCH;
        if (group_out != nullptr) {
            for (size_t k = 0; k < slots.size(); ++k)
                if (group_out[k] != nullptr) copy_span(text, slots[k], group_out[k]);
        }
        return REGEX_MATCHED;
    });
}

extern "C" LOGBASE_API int regex_replace(const char *pattern, const char *text, char *out,
                                         int out_size, const char *replacement) {
    if (pattern == nullptr || text == nullptr || out == nullptr || replacement == nullptr)
        return REGEX_NO_MATCH;
    CompiledRegex re(pattern);
    if (re.error() != 0) return -re.error();
    regmatch_t slots[2];
    if (!re.find(text, 2, slots)) return REGEX_NO_MATCH;
    // An optional group that took no part leaves nothing to replace inside,
    // so the whole match is replaced instead.
    const regmatch_t &part = replaces_group(pattern) && took_part(slots[1]) ? slots[1] : slots[0];
    size_t size = out_size > 0 ? static_cast<size_t>(out_size) : 0;
    lb::copy_bounded(out, size, std::string_view(text, static_cast<size_t>(part.rm_so)));
    lb::append_bounded(out, size, replacement);
    lb::append_bounded(out, size, text + part.rm_eo);
    return REGEX_MATCHED;
}
