// Log file names through the name matcher, and lines, tags and values
// through the in-place tag rewriting.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "logbase.h"

namespace {

void replace_tag(const std::string &line, const std::string &tag, const std::string &value,
                 size_t slack) {
    int size = static_cast<int>(line.size() + 1 + slack);
    std::vector<char> buf(static_cast<size_t>(size), '\0');
    std::memcpy(buf.data(), line.data(), line.size());
    char *end = buf.data() + line.size();
    char *new_end = nullptr;
    int tag_len = static_cast<int>(tag.size());
    int rc = log_line_replace_tag(buf.data(), size, end, tag.c_str(), tag_len, value.c_str(),
                                  static_cast<int>(value.size()), &new_end);
    if (rc == 0 && (new_end < buf.data() || new_end >= buf.data() + size)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> parts = fuzz::split(data, size, 3);
    char type = 0;
    unsigned int number = 0;
    (void)match_logfname(parts[0].c_str(), &type, &number);
    (void)get_log_type_by_filename(parts[0].c_str());
    if (parts[1].empty()) return 0;
    for (size_t slack : {0, 1, 16})
        replace_tag(parts[0], parts[1], parts[2], slack);
    return 0;
}
