// Which clauses of a report filter text get_report_fltrstr does not read as
// written. The text is split into clauses leniently (a key, an operator, a
// quoted value or words); what the builder reads of each key is asked of its
// own clause reader, get_op_and_val, on the same 1023-byte working copy, so
// the verdict is the builder's, and the split only explains it.
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

#include "bounded_text.hpp"
#include "calendar.hpp"
#include "clause_keys.hpp"
#include "logbase.h"

namespace {

using namespace lb::report_filter;

bool blank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool operator_char(char c) {
    return c == '!' || c == '<' || c == '=' || c == '>';
}

// One clause as written: KEY OP 'VALUE' or KEY OP WORDS.
struct Written {
    std::size_t begin = 0, end = 0;
    std::string_view key, op, value;
    bool quoted = false, closed = false;
    std::string_view after; // bytes right after the closing quote
};

class Splitter {
  public:
    explicit Splitter(std::string_view text) : t_(text) {
        if (t_.starts_with("(or")) i_ = 3; // the OR joiner, read only here
    }

    bool next(Written &c) {
        skip_blanks();
        if (i_ == t_.size()) return false;
        c = Written{};
        c.begin = i_;
        while (i_ < t_.size() && !blank(t_[i_]) && !operator_char(t_[i_]) && t_[i_] != '\'')
            ++i_;
        c.key = t_.substr(c.begin, i_ - c.begin);
        const std::size_t op = i_;
        while (i_ < t_.size() && operator_char(t_[i_]))
            ++i_;
        c.op = t_.substr(op, i_ - op);
        if (i_ < t_.size() && t_[i_] == '\'') {
            c.quoted = true;
            const std::size_t close = t_.find('\'', i_ + 1);
            c.closed = close != std::string_view::npos;
            const std::size_t value_end = c.closed ? close : t_.size();
            c.value = t_.substr(i_ + 1, value_end - i_ - 1);
            i_ = c.closed ? close + 1 : t_.size();
            const std::size_t after = i_;
            word();
            c.after = t_.substr(after, i_ - after);
        } else {
            const std::size_t value = i_;
            word();
            // Words without an operator go on with an unquoted value
            // (src=10.0.0.1, 10.0.0.2), as the weekday reader takes them.
            while (!c.op.empty() && continues())
                skip_blanks(), word();
            c.value = t_.substr(value, i_ - value);
        }
        c.end = i_;
        return true;
    }

  private:
    void skip_blanks() {
        while (i_ < t_.size() && blank(t_[i_]))
            ++i_;
    }
    void word() {
        while (i_ < t_.size() && !blank(t_[i_]))
            ++i_;
    }
    bool continues() const {
        std::size_t j = i_;
        while (j < t_.size() && blank(t_[j]))
            ++j;
        if (j == i_ || j == t_.size()) return false;
        for (; j < t_.size() && !blank(t_[j]); ++j)
            if (operator_char(t_[j]) || t_[j] == '\'') return false;
        return true;
    }

    std::string_view t_;
    std::size_t i_ = 0;
};

// What the builder reads of one key: where it finds the key and whether an
// operator and a value follow there.
struct Read {
    const ClauseKey *key = nullptr;
    std::size_t at = std::string_view::npos;
    bool ok = false;
    std::string op, value;
};

Read builder_read(const char *copy, const ClauseKey &key) {
    Read read;
    read.key = &key;
    char op[3] = "", value[kValueSize] = "";
    char *found = nullptr;
    read.ok = get_op_and_val(copy, key.name, &found, op, value, kValueSize) == 0;
    if (found != nullptr) read.at = static_cast<std::size_t>(found - copy);
    if (read.ok) read.op = op, read.value = value;
    return read;
}

std::string quoted(std::string_view text) {
    std::string q(1, '\'');
    return q.append(text).append(1, '\'');
}

const char *operators_of(ClauseKind kind) {
    switch (kind) {
    case ClauseKind::severity:
        return ">=, <= or ==";
    case ClauseKind::weekday:
        return "==";
    default:
        return "== or !=";
    }
}

// What the builder does with an operator that has no meaning of its own.
const char *instead(ClauseKind kind) {
    switch (kind) {
    case ClauseKind::severity:
        return "it makes no severity terms of it";
    case ClauseKind::weekday:
        return "it ignores the operator and selects these days";
    default:
        return "it requires every value at once";
    }
}

std::string example(const ClauseKey &key) {
    switch (key.kind) {
    case ClauseKind::severity:
        return "priN<='5'";
    case ClauseKind::weekday:
        return "iwday==Mon,Wed)";
    case ClauseKind::source:
    case ClauseKind::destination:
        return std::string(key.name) + "=='10.0.0.1'";
    default:
        return std::string(key.name) + "=='a, b'";
    }
}

bool last_of_text(std::string_view text, std::size_t end) {
    while (end < text.size() && blank(text[end]))
        ++end;
    return end == text.size();
}

bool is_day(std::string_view token) {
    for (const char *day : lb::calendar::kDayNames)
        if (token == day) return true;
    return false;
}

// Bytes between a closing quote and the next blank, which the builder skips;
// a ')' that ends the text closes "(or".
std::string after_quote_fault(std::string_view text, std::size_t end, std::string_view after,
                              bool holds_operator) {
    if (after.empty() || (after == ")" && last_of_text(text, end))) return {};
    return quoted(after) + " after the closing quote is not read" +
           (holds_operator ? " (is a quote missing in the value?)" : "");
}

// Whether `word` begins as a term of the record filters does: [-]key, then
// an operator.
bool term_start(std::string_view word) {
    std::size_t i = word.starts_with('-');
    const std::size_t key_at = i;
    while (i < word.size() &&
           (std::isalnum(static_cast<unsigned char>(word[i])) || word[i] == '_' ||
            (i > key_at && (word[i] == '-' || word[i] == '.'))))
        ++i;
    return i > key_at && i < word.size() && (word[i] == '=' || word[i] == '<' || word[i] == '>');
}

// The builder copies each item of a list into the filter string as written,
// as KEY=ITEM. Why an item would not be read back as that one term by the
// record filters that select a report's records, or nothing: the filters
// refuse it (a leading double quote, an address shape that is no network or
// range), or a message's word would end it (OR, or the start of a term).
std::string item_fault(const ClauseKey &key, std::string_view value) {
    const bool message = key.kind == ClauseKind::message;
    std::string_view rest = value;
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of(message ? "," : ", \t");
        const std::string_view item = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (item.find_first_not_of(" \t") == std::string_view::npos) continue;
        const std::string term = std::string(key.name) + "=" + std::string(item);
        log_filter_error error;
        log_filter *filter = log_filter_compile(term.c_str(), &error);
        log_filter_free(filter);
        if (filter == nullptr)
            return quoted(item) + ": the record filters cannot select it (" + error.reason + ")";
        for (std::size_t at = item.find_first_not_of(" \t"); message;) {
            at = item.find_first_of(" \t", at);
            at = at == std::string_view::npos ? at : item.find_first_not_of(" \t", at);
            if (at == std::string_view::npos) break;
            const std::string_view word = item.substr(at, item.find_first_of(" \t", at) - at);
            if (word == "OR" || term_start(word))
                return quoted(item) + ": the record filters end the message at " + quoted(word);
        }
    }
    return {};
}

// Why the builder does not read the clause of a key it knows as written, or
// nothing.
std::string known_key_fault(std::string_view text, const Written &c, const Read &read) {
    const ClauseKey &key = *read.key;
    if (read.at != c.begin)
        return "only the first '" + std::string(key.name) + "' of the text is read, at byte " +
               std::to_string(read.at);
    if (!read.ok) {
        const bool meant = operator_meant(key.kind, c.op);
        if (key.kind != ClauseKind::weekday && !c.quoted && !c.value.empty())
            return "not read: write " + std::string(key.name) +
                   (meant ? std::string(c.op) : std::string("==")) + quoted(c.value) + " (" +
                   key.name + " takes " + operators_of(key.kind) + " and a value in quotes)";
        if (!meant)
            return "operator " + quoted(c.op) + ": " + key.name + " takes " +
                   operators_of(key.kind) + ", as in " + example(key);
        return "no value follows the operator, as in " + example(key);
    }
    if (!operator_meant(key.kind, read.op))
        return "operator " + quoted(read.op) + ": " + key.name + " takes " +
               operators_of(key.kind) + "; " + instead(key.kind);
    if (key.kind == ClauseKind::severity) {
        // The reader takes the word after the quote: a level, the closing
        // quote, and what follows up to a blank.
        const std::string_view value = read.value;
        if (value.size() < 2 || value[0] < '0' || value[0] > '7' || value[1] != '\'')
            return "priN takes one level from 0 (emergency) to 7 (debug) in quotes, as in "
                   "priN<='5'";
        return after_quote_fault(text, c.end, value.substr(2), false);
    }
    if (key.kind == ClauseKind::weekday) {
        if (read.value.find('\'') != std::string::npos)
            return "iwday takes its days unquoted, as in iwday==Mon,Wed)";
        for (std::string_view days = read.value; !days.empty();) {
            const std::size_t comma = days.find(',');
            const std::string_view token = days.substr(0, comma);
            if (!token.empty() && !is_day(token))
                return quoted(token) +
                       " is no day: name them Sun to Sat, between commas and without blanks, "
                       "and end the list with ')'";
            days.remove_prefix(comma == std::string_view::npos ? days.size() : comma + 1);
        }
        return {};
    }
    if (!c.closed) return "the quote is not closed";
    if (read.value.size() != c.value.size())
        return "the value ends at the ')' at byte " +
               std::to_string(c.begin + c.key.size() + c.op.size() + 1 + read.value.size()) +
               ": no ')' may stand in a value";
    if (c.value.find("=='") != std::string_view::npos ||
        c.value.find("!='") != std::string_view::npos)
        return "the value holds a clause: is a quote missing?";
    if (std::string why = after_quote_fault(text, c.end, c.after,
                                            c.value.find("==") != std::string_view::npos ||
                                                c.value.find("!=") != std::string_view::npos);
        !why.empty())
        return why;
    if (c.value.find_first_not_of(key.kind == ClauseKind::message ? "," : ", \t") ==
        std::string_view::npos)
        return "no value between the quotes";
    return item_fault(key, c.value);
}

std::string unknown_key_fault(const Written &c, const std::vector<Read> &reads) {
    const std::string key(c.key);
    std::string why = "unknown key " + quoted(key);
    const char *near = key == "pri" ? "priN" : nullptr;
    for (const ClauseKey &known : kClauseKeys)
        if (strcasecmp(known.name, key.c_str()) == 0) near = known.name;
    why += near ? std::string(": did you mean ") + near + "?"
                : std::string(": the keys read are priN, src, dst, http_method, user, action, "
                              "subtype, policy, service, msg, iwday");
    // "xsrc=='1'": the builder finds its key inside another word.
    for (const Read &read : reads)
        if (read.ok && read.at > c.begin && read.at < c.begin + c.key.size())
            why += std::string("; the builder reads a ") + read.key->name + " clause inside it";
    return why;
}

std::string fault_of(std::string_view text, const Written &c, const std::vector<Read> &reads) {
    if (c.end > kWorkingCopySize - 1)
        return "the builder reads the first " + std::to_string(kWorkingCopySize - 1) +
               " bytes only";
    if (c.key == ")" && c.op.empty() && c.value.empty() && last_of_text(text, c.end)) return {};
    if (c.op.empty()) {
        if (c.key.empty()) return "no key and operator";
        if (strcasecmp(std::string(c.key).c_str(), "(or") == 0)
            return "'(or' joins the groups by OR only as the first three bytes of the text, "
                   "in lower case";
        if (strcasecmp(std::string(c.key).c_str(), "or") == 0 ||
            strcasecmp(std::string(c.key).c_str(), "and") == 0)
            return quoted(c.key) + " is not read: the groups are joined by a blank (all must "
                                   "hold), or by OR when the text begins with '(or'";
        return "no operator after " + quoted(c.key);
    }
    if (c.key.empty()) return "no key before the operator";
    for (const Read &read : reads)
        if (c.key == read.key->name) return known_key_fault(text, c, read);
    return unknown_key_fault(c, reads);
}

} // namespace

extern "C" LOGBASE_API int check_report_filter_text(const char *text, rpt_filter_fault *faults,
                                                    int max_faults) try {
    if (text == nullptr) return -1;
    const std::string_view whole(text);
    char copy[kWorkingCopySize];
    lb::copy_bounded(copy, sizeof copy, whole);
    std::vector<Read> reads;
    for (const ClauseKey &key : kClauseKeys)
        reads.push_back(builder_read(copy, key));

    int found = 0;
    Written clause;
    for (Splitter split(whole); split.next(clause);) {
        const std::string why = fault_of(whole, clause, reads);
        if (why.empty()) continue;
        if (faults != nullptr && found < max_faults) {
            rpt_filter_fault &fault = faults[found];
            fault.position = static_cast<int>(clause.begin);
            fault.length = static_cast<int>(clause.end - clause.begin);
            lb::copy_bounded(fault.reason, sizeof fault.reason, why);
        }
        ++found;
    }
    return found;
} catch (const std::bad_alloc &) {
    return -1;
}
