// Log lines of every category through the parser and the CSV conversion.
// The first byte picks the category (invalid codes included).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "logbase.h"

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

// The four quoted fields rewritten one after the other, each at its first
// occurrence in the text (up to the first zero byte) as the rewrites before
// it left it: what the one-pass rewriting must give.
void rewrite_one_by_one(std::vector<char> &line) {
    const size_t text = std::find(line.begin(), line.end(), '\0') - line.begin();
    for (std::string_view p :
         {"timezone=\"", "ml_svm_accuracy=\"", "ml_svm_log_match_types=\"", "ml_allow_method=\""}) {
        const size_t at = std::string_view(line.data(), text).find(p);
        if (at == std::string_view::npos) continue;
        std::memmove(line.data() + at + 1, line.data() + at, p.size() - 1);
        line[at] = '"';
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
    std::vector<char> expected = csv;
    rewrite_one_by_one(expected);
    convert_csv_log_special_character(csv.data(), static_cast<int>(csv.size()));
    if (csv != expected) std::abort();
    return 0;
}
