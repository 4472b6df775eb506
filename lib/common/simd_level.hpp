// Which vector instructions the byte scans use: one process-wide setting for
// every family that scans bytes, so that LOGBASE_SIMD and
// logbase_set_simd_level force every scan at once. It starts as the
// environment asks (read once, on first use) or else the best the processor
// has; a level the processor lacks becomes the best below it. Results never
// depend on it, only speed.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "logbase.h"

namespace lb::simd {

inline int best_level() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    // (The checks include the system's support for the wider registers.)
    if (__builtin_cpu_supports("avx512bw")) return LOGBASE_SIMD_AVX512;
    if (__builtin_cpu_supports("avx2")) return LOGBASE_SIMD_AVX2;
    return LOGBASE_SIMD_SSE2;
#else
    return LOGBASE_SIMD_PORTABLE;
#endif
}

// The widest level this build may use: all, or what cmake -DLOGBASE_SIMD=
// chose (LOGBASE_SIMD_BUILD_LEVEL).
inline constexpr int kBuildLevel =
#if defined(LOGBASE_SIMD_BUILD_LEVEL)
    LOGBASE_SIMD_BUILD_LEVEL;
#else
    LOGBASE_SIMD_AVX512;
#endif

// `wanted`, or the best level below it this processor and build have; -1 if
// unknown.
inline int usable_level(int wanted) noexcept {
    if (wanted < LOGBASE_SIMD_PORTABLE || wanted > LOGBASE_SIMD_AVX512) return -1;
    const int best = best_level() < kBuildLevel ? best_level() : kBuildLevel;
    return wanted < best ? wanted : best;
}

inline int level_from_environment() noexcept {
    static const char *const names[] = {"portable", "sse2", "avx2", "avx512"};
    const char *wanted = std::getenv("LOGBASE_SIMD");
    for (int level = 0; wanted != nullptr && level < 4; ++level)
        if (std::strcmp(wanted, names[level]) == 0) return usable_level(level);
    return usable_level(LOGBASE_SIMD_AVX512);
}

inline std::atomic<int> &level_setting() noexcept {
    static std::atomic<int> level{level_from_environment()};
    return level;
}

// The level in effect: LOGBASE_SIMD_PORTABLE .. LOGBASE_SIMD_AVX512.
inline int level() noexcept {
    return level_setting().load(std::memory_order_relaxed);
}

} // namespace lb::simd
