#include "fuzz_input.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzz {

void require_throwaway_root() {
    if (std::getenv("LOGBASE_THROWAWAY_ROOT") == nullptr)
        fail("run this harness through throwaway_root: it writes system paths");
}

void fail(const char *what, std::string_view detail) {
    std::fprintf(stderr, "%s: [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

std::string temp_dir(const char *name) {
    static auto *made = new std::vector<std::string>; // still there for the exit handler
    std::string path = "/dev/shm/fuzz-" + std::string(name) + ".XXXXXX";
    if (mkdtemp(path.data()) == nullptr) fail("cannot make a folder", path);
    if (made->empty())
        std::atexit([] {
            for (const std::string &dir : *made)
                std::filesystem::remove_all(dir);
        });
    made->push_back(path);
    return path;
}

void write_file(const std::string &path, const void *data, size_t size) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) ||
        std::fclose(file) != 0)
        fail("cannot write", path);
}

namespace {

bool number(std::string_view text, int low, int high, int &value) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    value = std::atoi(std::string(text).c_str());
    return value >= low && value <= high;
}

bool field(std::string_view field, int low, int high, bool steps) {
    if (field == "*") return true;
    for (std::string_view rest = field;;) {
        const size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const size_t slash = steps ? item.find('/') : item.npos;
        const std::string_view base = item.substr(0, slash);
        const size_t dash = base.find('-');
        int a, b;
        if (slash != item.npos && !number(item.substr(slash + 1), 1, 59, a)) return false;
        if (!((steps && base == "*") ||
              (dash == base.npos ? slash == item.npos && number(base, low, high, a)
                                 : number(base.substr(0, dash), low, high, a) &&
                                       number(base.substr(dash + 1), low, high, b) && a <= b)))
            return false;
        if (comma == rest.npos) return true;
        rest.remove_prefix(comma + 1);
    }
}

} // namespace

bool cron_fields(const std::array<std::string_view, 5> &fields, bool steps) {
    static constexpr int kRange[5][2] = {{0, 59}, {0, 23}, {1, 31}, {1, 12}, {0, 7}};
    for (int i = 0; i < 5; ++i)
        if (!field(fields[i], kRange[i][0], kRange[i][1], steps)) return false;
    return true;
}

} // namespace fuzz
