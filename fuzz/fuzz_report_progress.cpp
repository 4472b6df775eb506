// Progress files of arbitrary bytes through the running-report progress reader.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_input.hpp"
#include "logbase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string dir = fuzz::temp_dir("progress");
    static const std::string status = dir + "/.status";
    fuzz::write_file(status, data, size);

    uint64_t start = 0, end = 0;
    int32_t percent = 0;
    int rc = get_start_end_percent(dir.c_str(), nullptr, &start, &end, &percent);
    if (rc != 1 && rc != -1) std::abort();
    return 0;
}
