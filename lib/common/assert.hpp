// Assertions that stop a caller error in every build type, naming the source
// file, line, function and the failed condition (NDEBUG does not remove them).
#pragma once

#include <cstdio>
#include <cstdlib>

namespace lb {

[[noreturn]] inline void assert_failed(const char *expr, const char *file, int line,
                                       const char *func) noexcept {
    std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, func, expr);
    std::abort();
}

} // namespace lb

#define LB_ASSERT(expr) ((expr) ? void(0) : lb::assert_failed(#expr, __FILE__, __LINE__, __func__))
