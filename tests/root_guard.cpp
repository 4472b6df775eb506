// Linked into every test that rewrites fixed system paths: such a test runs
// only inside throwaway_root, never against the machine's own files.
#include <cstdio>
#include <cstdlib>

namespace {

const bool inside_throwaway_root = [] {
    if (std::getenv("LOGBASE_THROWAWAY_ROOT") == nullptr) {
        std::fprintf(stderr, "this test rewrites system paths: run it through throwaway_root "
                             "(ctest does)\n");
        std::exit(2);
    }
    return true;
}();

} // namespace
