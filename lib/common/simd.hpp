// Which vector instructions the byte scans use: the widest the processor has,
// or a narrower one when the environment variable LOGBASE_SIMD (avx2, sse2 or
// portable) or the build (cmake -DLOGBASE_SIMD=portable, sse2 or avx2, which
// defines LOGBASE_SIMD as 0, 1 or 2) asks for it, so that every path can be
// run and compared on one machine. A wider path than the processor has is
// never chosen.
#pragma once

#include <cstdlib>
#include <cstring>

namespace lb {

enum class Simd { kPortable = 0, kSse2 = 1, kAvx2 = 2 };

namespace detail {

inline Simd simd_of_processor() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? Simd::kAvx2 : Simd::kSse2;
#else
    return Simd::kPortable;
#endif
}

inline Simd simd_chosen() noexcept {
    Simd level = simd_of_processor();
#if defined(LOGBASE_SIMD)
    const Simd asked = static_cast<Simd>(LOGBASE_SIMD);
#else
    Simd asked = level;
    if (const char *name = std::getenv("LOGBASE_SIMD"); name != nullptr) {
        if (std::strcmp(name, "portable") == 0) asked = Simd::kPortable;
        if (std::strcmp(name, "sse2") == 0) asked = Simd::kSse2;
    }
#endif
    return asked < level ? asked : level;
}

} // namespace detail

inline Simd simd_level() noexcept {
    static const Simd level = detail::simd_chosen();
    return level;
}

} // namespace lb
