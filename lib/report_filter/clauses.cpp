// Clauses of a report filter text: reading one <key><op>'<value>' clause and
// expanding a quoted value list into a boolean filter expression.
#include <cctype>
#include <cstring>
#include <string_view>

#include "bounded_text.hpp"
#include "logbase.h"
#include "logbase_host.h"

namespace {

constexpr size_t kKeySize = 128;
constexpr size_t kListTextSize = 512;

// How the text after a key is read. The forms follow what a scanf format of
// "<key>%2[ops]'%<w>s" (word) or "<key>%2[ops]'%<w>[^stops]" would accept.
struct ClauseForm {
    const char *op_chars;
    bool quoted; // a single quote must follow the operator
    bool word;   // the value is a blank-free word after optional blanks
    const char *stops;
};

ClauseForm form_for(std::string_view key) {
    if (key == "priN") return {"!<=>", true, true, ""};
    if (key == "iwday") return {"!=", false, false, "!=()"};
    if (key == "user") return {"!=", true, false, "'"};
    return {"!=", true, false, "')"};
}

bool ends_value(char c, const ClauseForm &form) {
    if (c == '\0') return true;
    if (form.word) return std::isspace(static_cast<unsigned char>(c)) != 0;
    return std::strchr(form.stops, c) != nullptr;
}

// Reads operator and value from `p`, which follows the key.
int read_clause(const char *p, const ClauseForm &form, char *op, char *value, size_t width) {
    size_t op_len = 0;
    while (op_len < 2 && p[op_len] != '\0' && std::strchr(form.op_chars, p[op_len]) != nullptr)
        ++op_len;
    if (op_len == 0) return -1;
    std::memcpy(op, p, op_len);
    op[op_len] = '\0';
    p += op_len;
    if (form.quoted && *p++ != '\'') return -1;
    if (form.word)
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
    size_t len = 0;
    while (len < width && !ends_value(p[len], form))
        ++len;
    if (len == 0) return -1;
    std::memcpy(value, p, len);
    value[len] = '\0';
    return 0;
}

// The key is the text before the first '=' or '!'; it is negated with a
// leading "-" unless the operator is "==". Cut to the 128-byte key buffer.
void write_key(const char *clause, const char *op, char *key_out) {
    size_t len = std::strcspn(clause, "=!");
    if (len == 0 || clause[len] == '\0') return;
    std::string_view key(clause, len);
    if (std::strcmp(op, "==") == 0) {
        lb::copy_bounded(key_out, kKeySize, key);
    } else {
        key_out[0] = '-';
        lb::copy_bounded(key_out + 1, kKeySize - 1, key);
    }
}

} // namespace

extern "C" LOGBASE_API int get_op_and_val(const char *filter, const char *key, char **found,
                                          char *op, char *value, int value_size) {
    if (filter == nullptr || key == nullptr || op == nullptr || value == nullptr) return -1;
    const char *at = std::strstr(filter, key);
    if (at == nullptr) return -1;
    if (found != nullptr) *found = const_cast<char *>(at);
    if (value_size < 2) return -1;
    return read_clause(at + std::strlen(key), form_for(key), op, value,
                       static_cast<size_t>(value_size) - 1);
}

extern "C" LOGBASE_API char **parse2array(const char *clause, const char *op, int with_key,
                                          char *key_out) {
    if (op == nullptr || key_out == nullptr || clause == nullptr) return nullptr;
    const char *open = std::strchr(clause, '\'');
    if (open == nullptr) return nullptr;
    const char *close = std::strchr(open + 1, '\'');
    if (close == nullptr) return nullptr;
    if (with_key != 0) write_key(clause, op, key_out);
    char list_text[kListTextSize];
    lb::copy_bounded(list_text, sizeof list_text,
                     std::string_view(open + 1, static_cast<size_t>(close - open - 1)));
    return str2arr_quoted(list_text, " ,");
}

extern "C" LOGBASE_API char *fltrstr_to_boolean(const char *clause, const char *op, char *out,
                                                int out_size, int with_key) {
    if (out == nullptr || op == nullptr || clause == nullptr) return nullptr;
    char key[kKeySize] = {};
    char **list = parse2array(clause, op, with_key, key);
    size_t size = out_size > 0 ? static_cast<size_t>(out_size) : 0;
    lb::copy_bounded(out, size, "");
    if (list == nullptr) return out;

    const bool has_key = key[0] != '\0';
    const bool equal = std::strcmp(op, "==") == 0;
    const bool or_joined = equal || (!has_key && std::strcmp(op, "!=") == 0);
    bool first = true;
    for (char **element = list; *element != nullptr; ++element) {
        const char *text = trim_both(*element, static_cast<int>(std::strlen(*element)));
        if (text == nullptr || *text == '\0') continue;
        if (!first) lb::append_bounded(out, size, or_joined ? " OR " : " ");
        if (has_key) {
            lb::append_bounded(out, size, key);
            lb::append_bounded(out, size, "=");
        }
        lb::append_bounded(out, size, text);
        first = false;
    }
    arr_free(list);
    return out;
}
