// Log lines of every category through the parser and the CSV conversion.
// The first byte picks the category (invalid codes included).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "logbase.h"
#include "reference_parser.hpp"

namespace {

// Every value must lie inside the line, and every key must find its value.
void check_items(const kv_entries &entries, const std::vector<char> &buf) {
    const char *begin = buf.data();
    const char *end = begin + buf.size();
    for (int i = 0; i < entries.count; ++i) {
        const kv_entry &e = entries.entries[i];
        if (e.val_len < 0 || e.val < begin || e.val + e.val_len > end) std::abort();
        std::string key(e.key, static_cast<size_t>(e.key_len));
        if (parse_get_value(&entries, key.c_str()) == nullptr) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    int category = data[0] % 5;
    const char *line = reinterpret_cast<const char *>(data + 1);
    int len = static_cast<int>(size - 1);

    // The parser may look at the byte just past the line: give it a newline.
    std::vector<char> buf(line, line + len);
    buf.push_back('\n');
    kv_entries entries;
    std::memset(&entries, 0, sizeof entries);
    if (parse_disk_log_entry(category, buf.data(), len, &entries) >= 0) check_items(entries, buf);

    std::vector<char> csv(line, line + len);
    csv.push_back('\n');
    (void)convert_csv_log(category, csv.data(), len);
    // The one-pass rewriting gives what moving each field's quote in turn gives.
    std::vector<char> expected = csv;
    reference::move_quotes(expected.data(), expected.size());
    convert_csv_log_special_character(csv.data(), static_cast<int>(csv.size()));
    if (csv != expected) std::abort();
    return 0;
}
