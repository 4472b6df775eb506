// Progress files of arbitrary bytes through the running-report progress reader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "logbase.h"

namespace {

std::string temp_dir() {
    // Memory-backed: rewriting a file per input on a disk file system waits for
    // the disk.
    char path[] = "/dev/shm/fuzz-progress.XXXXXX";
    if (mkdtemp(path) == nullptr) std::abort();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string dir = temp_dir();
    static const std::string status = dir + "/.status";
    FILE *f = std::fopen(status.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);

    uint64_t start = 0, end = 0;
    int32_t percent = 0;
    int rc = get_start_end_percent(dir.c_str(), nullptr, &start, &end, &percent);
    if (rc != 1 && rc != -1) std::abort();
    return 0;
}
