// A libFuzzer harness without libFuzzer: runs LLVMFuzzerTestOneInput once on
// every file named and on every file under every folder named, in name
// order, so that a build without sanitizers (the coverage build) replays the
// corpora. A broken invariant aborts as it does under libFuzzer.
//
//   fuzz_NAME [FILE | FOLDER]...
//
// Only stdio reads the inputs: a harness may wrap the plain system calls.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

bool read_all(const std::string &path, std::vector<uint8_t> &out) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    out.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        out.insert(out.end(), chunk, chunk + got);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (!std::filesystem::is_directory(argv[i], ec)) {
            inputs.emplace_back(argv[i]);
            continue;
        }
        std::vector<std::string> found;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[i], ec))
            if (entry.is_regular_file()) found.push_back(entry.path().string());
        if (ec) {
            std::fprintf(stderr, "%s: %s\n", argv[i], ec.message().c_str());
            return 1;
        }
        std::sort(found.begin(), found.end());
        inputs.insert(inputs.end(), found.begin(), found.end());
    }
    std::vector<uint8_t> data;
    for (const std::string &path : inputs) {
        if (!read_all(path, data)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        static const uint8_t none = 0; // libFuzzer never passes a null pointer
        LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
