// Filter texts through the filter-string builder and its checker, the clause
// reader, the tokenizers and the regular-expression wrappers. Host names in a filter are
// resolved, so the harness runs inside throwaway_root with name lookups
// limited to /etc/hosts: nothing leaves the machine.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "logbase.h"
#include "report_record.hpp"

namespace {

constexpr size_t kRecordSize = 4096;

void build_filter(const std::string &text) {
    std::vector<char> record(kRecordSize, 0);
    size_t n = std::min(text.size(), kRecordSize - lb::report_record::kFilterText - 1);
    std::memcpy(record.data() + lb::report_record::kFilterText, text.data(), n);
    char out[8096] = "";
    (void)get_report_fltrstr(record.data(), out, sizeof out);
    char small[64] = "";
    (void)get_report_fltrstr(record.data(), small, sizeof small);
    // The checker's clauses lie inside the text, in text order, none empty.
    rpt_filter_fault faults[16];
    const int found = check_report_filter_text(text.c_str(), faults, 16);
    const int length = static_cast<int>(std::strlen(text.c_str()));
    for (int i = 0, end = 0; i < std::min(found, 16);
         end = faults[i].position + faults[i].length, ++i)
        if (faults[i].position < end || faults[i].length <= 0 ||
            faults[i].position + faults[i].length > length)
            std::abort();
}

void read_clause(const std::string &filter, const std::string &key) {
    char *found = nullptr;
    char op[3];
    char value[1024];
    (void)get_op_and_val(filter.c_str(), key.c_str(), &found, op, value, sizeof value);
    char out[512];
    for (const char *o : {"==", "!="})
        for (int with_key : {0, 1})
            (void)fltrstr_to_boolean(filter.c_str(), o, out, sizeof out, with_key);
}

void tokenize(const std::string &text, const std::string &delim) {
    int pos = 0;
    for (char *t; (t = astrtok(text.c_str(), delim.c_str(), &pos)) != nullptr;)
        std::free(t);
    const char *delims[] = {delim.c_str(), ",", nullptr};
    pos = 0;
    for (char *t; (t = astrtok_m(text.c_str(), delims, &pos)) != nullptr;)
        std::free(t);
    std::string copy = text;
    char *save = nullptr;
    for (char *t = quoted_strtok_r(copy.data(), delim.c_str(), &save); t != nullptr;
         t = quoted_strtok_r(nullptr, delim.c_str(), &save)) {
    }
}

void match(const std::string &pattern, const std::string &text, const std::string &replacement) {
    // A whole match is never longer than the text it was found in.
    std::vector<char> whole(text.size() + 1);
    (void)regex_match(pattern.c_str(), text.c_str(), whole.data());
    std::vector<std::vector<char>> groups(4, std::vector<char>(text.size() + 1));
    char *slots[4] = {groups[0].data(), groups[1].data(), groups[2].data(), groups[3].data()};
    (void)regex_match_multi(pattern.c_str(), text.c_str(), slots, 4);
    char out[256];
    (void)regex_replace(pattern.c_str(), text.c_str(), out, sizeof out, replacement.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::require_throwaway_root();
    for (auto [path, text] : {std::pair{"/etc/nsswitch.conf", "hosts: files\n"},
                              {"/etc/hosts", "127.0.0.1 localhost\n10.1.2.3 web1 web1.example\n"}})
        fuzz::write_file(path, text, std::strlen(text));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> parts = fuzz::split(data, size, 3);
    build_filter(parts[0]);
    read_clause(parts[0], parts[1]);
    tokenize(parts[0], parts[1]);
    // Back-references make the platform's matcher exponential in the pattern
    // length; short patterns keep the harness about the wrappers.
    if (parts[1].size() <= 24) match(parts[1], parts[0], parts[2]);
    return 0;
}
