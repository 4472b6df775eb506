// Log lines of every category through the parser and the CSV conversion, at
// every vector level the processor has against the portable level.
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

// The parse's result and items (values as offsets), and the converted bytes
// with the conversion's result.
struct Outcome {
    int parsed = 0, count = 0, converted = 0;
    std::vector<int64_t> items;
    std::vector<char> csv;
    bool operator==(const Outcome &) const = default;
};

Outcome outcome(int category, const std::vector<char> &buf, int len) {
    Outcome out;
    kv_entries entries;
    std::memset(&entries, 0, sizeof entries);
    out.parsed = parse_disk_log_entry(category, buf.data(), len, &entries);
    out.count = entries.count;
    if (out.parsed >= 0) {
        check_items(entries, buf);
        for (int i = 0; i < entries.count; ++i)
            out.items.insert(out.items.end(),
                             {entries.entries[i].key_len, entries.entries[i].val - buf.data(),
                              entries.entries[i].val_len});
    }
    out.csv = buf;
    out.converted = convert_csv_log(category, out.csv.data(), len);
    return out;
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
    const int best = logbase_set_simd_level(LOGBASE_SIMD_AVX512);
    logbase_set_simd_level(LOGBASE_SIMD_PORTABLE);
    const Outcome portable = outcome(category, buf, len);
    for (int level = LOGBASE_SIMD_SSE2; level <= best; ++level) {
        logbase_set_simd_level(level);
        if (!(outcome(category, buf, len) == portable)) std::abort();
    }

    // The one-pass rewriting gives what moving each field's quote in turn gives.
    std::vector<char> csv = portable.csv, expected = csv;
    reference::move_quotes(expected.data(), expected.size());
    convert_csv_log_special_character(csv.data(), static_cast<int>(csv.size()));
    if (csv != expected) std::abort();
    return 0;
}
