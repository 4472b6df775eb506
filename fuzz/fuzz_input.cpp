#include "fuzz_input.hpp"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void require_throwaway_root() {
    if (std::getenv("LOGBASE_THROWAWAY_ROOT") == nullptr) {
        std::fprintf(stderr, "run this harness through throwaway_root: it writes system paths\n");
        std::abort();
    }
}

} // namespace fuzz
