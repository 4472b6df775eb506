/*
 * logbase.h - the interface of liblogbase.
 *
 * Plain C (C99 and C++). One section per family; every exported function and
 * data object carries LOGBASE_API. Results: 0 (or a length, count, sequence
 * number or version) on success, -1 or a small negative code on failure,
 * NULL for a failed or absent pointer result. Memory handed to the caller
 * comes from malloc and is released with free unless a function says
 * otherwise.
 */
#ifndef LOGBASE_H
#define LOGBASE_H

#include <stddef.h>
#include <stdint.h>

#if defined(LOGBASE_BUILDING)
#define LOGBASE_API __attribute__((visibility("default")))
#else
#define LOGBASE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ===== Diagnostic log ==================================================== */

/* Appends one time-stamped line to "/var/log/dlog_logd" when level > 0; the
 * file is rotated to "/var/log/dlog_logd_old" at 10 MiB. Never fails visibly. */
LOGBASE_API void rt_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

/* ===== Binary log files ================================================== */

/* ===== Log file names and tags =========================================== */

/* ===== Entry descriptor tables =========================================== */

/* ===== Log line parser and CSV =========================================== */

/* ===== String hash and hash table ======================================== */

/* ===== Tokenizers and regular expressions ================================ */

/* ===== Service names ===================================================== */

/* ===== Report filter strings ============================================= */

/* ===== Report vocabulary ================================================= */

/* ===== Report periods ==================================================== */

/* ===== Report settings and names ========================================= */

/* ===== Report scheduling and control ===================================== */

/* ===== Language tables =================================================== */

#ifdef __cplusplus
}
#endif

#endif /* LOGBASE_H */
