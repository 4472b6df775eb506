// Language files of arbitrary bytes through the loader, into a table that is
// reused (and so fills up) across inputs. The first line of the input names
// the section to load.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.hpp"
#include "logbase.h"

namespace {

attr_entry table[LANG_TABLE_ENTRIES];
int count = 0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = fuzz::temp_dir("lang") + "/lang";
    fuzz::write_file(path, data, size);

    const char *text = reinterpret_cast<const char *>(data);
    const void *nl = std::memchr(text, '\n', size);
    std::string section(text, nl ? static_cast<const char *>(nl) - text : size);
    section.erase(std::find(section.begin(), section.end(), '\0'), section.end());
    if (section.find(':') != std::string::npos) section.erase(section.find(':'));

    (void)read_lang_table(path.c_str(), section.c_str(), table, &count);
    if (count < 0 || count > LANG_TABLE_ENTRIES) std::abort();
    for (int i = 0; i < count; ++i)
        if (strnlen(table[i].key, sizeof table[i].key) == sizeof table[i].key) std::abort();
    if (count == LANG_TABLE_ENTRIES) {
        std::memset(table, 0, sizeof table);
        count = 0;
    }
    return 0;
}
