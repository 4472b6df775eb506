// A filter text and a record (NUL between them; the record as "key=value"
// lines) through the library's compiled filters and the plain reference
// evaluator: both refuse the same texts (the library at a byte of the text)
// and give the same answers, and the line test never rules out the record's
// text when its items, which point into it as a parsed record's point into
// its line, match.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filter_reference.hpp"
#include "fuzz_input.hpp"
#include "logbase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<std::string> parts = fuzz::split(data, size, 2);
    const std::string &text = parts[0], &record = parts[1];
    log_filter_error error;
    log_filter *f = log_filter_compile(text.c_str(), &error);
    const auto reference = filter_reference::compile(text);
    if ((f != nullptr) != reference.has_value()) std::abort();
    if (f == nullptr && (error.position < 0 || error.position > int(text.size()))) std::abort();
    if (f == nullptr) return 0;

    kv_entries items{};
    for (size_t at = 0, end; at < record.size() && items.count < 128; at = end + 1) {
        end = std::min(record.find('\n', at), record.size());
        const size_t eq = std::min(record.find('=', at), end), value = std::min(eq + 1, end);
        items.entries[items.count++] = {record.data() + at, int(eq - at), record.data() + value,
                                        int(end - value)};
    }
    const int result = log_filter_match(f, &items);
    if (result != int(filter_reference::match(*reference, items))) std::abort();
    if (result == 1 && log_filter_may_match(f, record.data(), record.size()) != 1) std::abort();
    log_filter_free(f);
    return 0;
}
