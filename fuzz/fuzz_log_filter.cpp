// A filter text and a record (NUL between them; the record as "key=value"
// lines) through the library's compiled filters and the plain reference
// evaluator: both refuse the same texts and give the same answers, on the
// record's items and on a log line made of them and parsed; and the line test
// never rules out a line whose items match.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filter_reference.hpp"
#include "fuzz_input.hpp"
#include "logbase.h"

namespace {

kv_entries items_of(const std::string &text) {
    kv_entries items{};
    for (size_t at = 0, end; at < text.size() && items.count < 128; at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        const size_t eq = std::min(text.find('=', at), end), value = std::min(eq + 1, end);
        items.entries[items.count++] = {text.data() + at, int(eq - at), text.data() + value,
                                        int(end - value)};
    }
    return items;
}

// A layout-0 line of the category with the record's values, "x" for the others.
std::string line_of(int category, const kv_entries &record) {
    const entry_desc *t = _get_ed_by_cat(category);
    std::string line;
    for (int row = 0;; row = t[row].next_row[0]) {
        const kv_value *v = parse_get_value(&record, t[row].name);
        const std::string value = v ? std::string(v->val, v->val_len) : "x";
        line +=
            std::string(t[row].name) + "=" + (t[row].quoted ? "\"" + value + "\"" : value) + " ";
        if (t[row].next_row[0] == 0) return line + "\n";
    }
}

void check(const log_filter *f, const filter_reference::Filter &reference, const kv_entries &items,
           const std::string &line) {
    const int result = log_filter_match(f, &items);
    if (result != int(filter_reference::match(reference, items))) std::abort();
    if (result == 1 && log_filter_may_match(f, line.data(), line.size()) != 1) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<std::string> parts = fuzz::split(data, size, 2);
    log_filter_error error;
    log_filter *f = log_filter_compile(parts[0].c_str(), &error);
    const auto reference = filter_reference::compile(parts[0]);
    if ((f != nullptr) != reference.has_value()) std::abort();
    if (f == nullptr) {
        if (error.position < -1 || error.position > int(parts[0].size())) std::abort();
        return 0;
    }
    const kv_entries items = items_of(parts[1]);
    check(f, *reference, items, parts[1]);
    const int category = int(parts[1].size() % 3) + 1;
    std::string line = line_of(category, items);
    kv_entries parsed;
    if (parse_disk_log_entry(category, line.data(), int(line.size()), &parsed) > 0)
        check(f, *reference, parsed, line);
    log_filter_free(f);
    return 0;
}
