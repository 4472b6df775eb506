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

/* Next token of `text` from byte offset *pos up to the delimiter string
 * `delim` (matched whole), as a malloc'd copy; *pos moves past the delimiter.
 * NULL at the end of the text or for an empty `delim`. */
LOGBASE_API char *astrtok(const char *text, const char *delim, int *pos);
/* As astrtok with a NULL-terminated list of delimiter strings; at one offset
 * the first delimiter of the list that matches wins. */
LOGBASE_API char *astrtok_m(const char *text, const char **delims, int *pos);
/* strtok_r over the character set `delims` that keeps double-quoted stretches
 * together; splits `text` in place (NULL to continue from *save). */
LOGBASE_API char *quoted_strtok_r(char *text, const char *delims, char **save);
/* Reads the clause <key><op>'<value>' at the first occurrence of `key` in
 * `filter`: *found = that occurrence, `op` (3 bytes) the operator, `value`
 * the value cut to value_size - 1 characters. 0 when both were read, else -1. */
LOGBASE_API int get_op_and_val(const char *filter, const char *key, char **found, char *op,
                               char *value, int value_size);
/* The quoted, comma/blank separated list of `clause` as a NULL-terminated
 * array (release with the host's arr_free), or NULL. With `with_key` the key
 * before the operator goes to key_out, "-"-prefixed unless `op` is "==". */
LOGBASE_API char **parse2array(const char *clause, const char *op, int with_key, char *key_out);
/* Writes the list of `clause` into `out` as a boolean filter expression
 * ("user=a OR user=b", "-user=a -user=b", "a OR b", "a b"); returns `out`,
 * or NULL when clause, op or out is NULL. */
LOGBASE_API char *fltrstr_to_boolean(const char *clause, const char *op, char *out, int out_size,
                                     int with_key);
/* POSIX extended match: 1 match (whole match copied to match_out when not
 * NULL), 0 no match, the negated compile error code for a bad pattern. */
LOGBASE_API int regex_match(const char *pattern, const char *text, char *match_out);
/* As regex_match with `count` slots: group_out[k] receives group k (0 = the
 * whole match), empty when the group took no part. */
LOGBASE_API int regex_match_multi(const char *pattern, const char *text, char **group_out,
                                  int count);
/* Replaces the first match (group 1 when the pattern opens an unescaped group
 * first) by `replacement` into `out`: 1 replaced, 0 no match or a NULL
 * argument, the negated compile error code for a bad pattern. */
LOGBASE_API int regex_replace(const char *pattern, const char *text, char *out, int out_size,
                              const char *replacement);

/* ===== Service names ===================================================== */

/* Protocol codes of the service lookups: 0 UDP, 1 TCP, 3 both. */

/* Name of a well-known port (1 to 1023; `port_text` is read when `port` is out
 * of range) for TCP (proto >= 1) or UDP (proto <= 0), or NULL. */
LOGBASE_API const char *fn_getservbyport_3(int proto, int port, const char *port_text);
/* Lowest port carrying `name` (any case), its protocol code in *proto_out;
 * -1 when the name is unknown. */
LOGBASE_API int fn_getportbyname_3(int *proto_out, const char *name);
/* The predefined selections "custom", "basic", "all", "none". */
LOGBASE_API extern const char *qspredef_names[4];
/* qspredef_names[index], or NULL when index > 3. */
LOGBASE_API const char *qspredef_name(unsigned int index);
/* Index of `name` in qspredef_names (any case), or -1. */
LOGBASE_API int qspredef_val(const char *name);
/* `bytes` in mebibytes, rounded to nearest, halves up. */
LOGBASE_API unsigned long roundMB(unsigned long bytes);

/* ===== Report filter strings ============================================= */

/* Writes the flat filter string of the report definition record's filter text
 * into `out` (cut to out_size). Leaves `out` untouched when `report` is NULL
 * or its filter text is empty. Always returns 0. */
LOGBASE_API int get_report_fltrstr(const void *report, char *out, size_t out_size);
/* Appends the address term <key>=<value> to `buf` (buf_size bytes), joined by
 * " OR " for op "==", negated with "-" for op "!=". */
LOGBASE_API void add_src_or_dst_filter(char *buf, int buf_size, const char *op, const char *key,
                                       const char *value);
/* The first IPv4 address of host `name` as a malloc'd dotted text, or NULL. */
LOGBASE_API char *resolve_IP(const char *name);

/* ===== Report vocabulary ================================================= */

/* Names of the output formats selected by bits 0 to 4 of `mask` ("html",
 * "pdf", "rtf", "txt", "mht"), joined by `separator` when it is one
 * character long, else by ",". The result lives in a static buffer that the
 * next call overwrites. */
LOGBASE_API const char *rptfmttype_names(uint32_t mask, const char *separator);
/* Long ("rptel1" ...) and two-letter ("re" ...) names of report element
 * types 0 to 7; NULL above 7. */
LOGBASE_API const char *rptelemtype_name(uint32_t type);
LOGBASE_API const char *rptelemtype_nm(uint32_t type);
/* Element type whose long name equals `name`; -1 when none does. */
LOGBASE_API int rptelemtype_val(const char *name);
/* Name of report period type 0 to 15; NULL above 15. */
LOGBASE_API const char *rptpertype_name(uint32_t type);
/* Period type 0 to 15 named `name`; 16 (the custom period) otherwise. */
LOGBASE_API uint32_t rptpertype_val(const char *name);
/* "FTP", "SFTP" or "SCP" for upload server kinds 0 to 2; NULL above 2. */
LOGBASE_API const char *rptoutsvr_name(uint16_t kind);
/* Stores the query ids of the charts a report definition selects, set by
 * set in row order, into `ids` (room for 84 is enough) and their number
 * into `count`. Does nothing when any argument is NULL. */
LOGBASE_API void get_qryset(const void *report, uint32_t *ids, uint32_t *count);
/* Number of buckets of a time scale (1 hours: 24, 2 weekdays: 7, 3 days of
 * month: 31); `fallback` for any other scale. */
LOGBASE_API int32_t timescale_topn(int32_t timescale, int32_t fallback);
/* 1 when `name` is a time-bucket chart variable ("ihour", "iwday",
 * "imonth", "imday", "iweek", "idate"), else 0. */
LOGBASE_API int is_var_by_time(const char *name);

/* ===== Report periods ==================================================== */

/* A time window: epoch seconds, end inclusive; {0, 0} means no window. */
typedef struct rpt_window {
    int64_t begin;
    int64_t end;
} rpt_window;

/* Period block of a report definition record (32 bytes, at byte 1232). */
typedef struct rpt_period {
    uint32_t reserved;
    uint32_t type;     /* 0 to 15 as named by rptpertype_name, 16 custom */
    int32_t n;         /* count of "last-n-hours", "last-n-days", "last-n-weeks" */
    int16_t start[5];  /* custom start: year, month 1-12, day, hour, minute */
    int16_t end[5];    /* custom end, same fields */
} rpt_period;

/* Start of the local "hour", "day", "week" (from Sunday), "month",
 * "quarter" or "year" containing `t`, stepped back `n` units, corrected for a
 * daylight-saving change in between. Any other unit starts at 0. */
LOGBASE_API int64_t beg_of(const char *unit, uint32_t n, int64_t t);
/* `span` corrected by one hour when daylight saving is in force at only one
 * of `t - span` and `t`. */
LOGBASE_API int64_t get_time_offset(int64_t t, int64_t span);
/* Refreshes the time zone from the configuration store, then fills `window`
 * with the window of `period` at the current time. Sets *custom to 1 for the
 * custom period (leaves it alone otherwise; it must be valid then). A NULL
 * period or a type above 16 gives {0, 0}. */
LOGBASE_API void rptper_get_begend(const rpt_period *period, rpt_window *window,
                                   uint32_t *custom);
/* Empties `window`, then fills it from the period block of the report
 * definition record `report` when that is not NULL. */
LOGBASE_API void get_time_period(const void *report, rpt_window *window, uint32_t *custom);
/* Reads the progress file "<dir>/.status" of a running report: start time,
 * and either the percentage done or the end time. 1 when read, -1 while the
 * report is waiting, 0 when an argument is NULL or the file cannot be opened.
 * `reserved` is not read. */
LOGBASE_API int get_start_end_percent(const char *dir, const void *reserved, uint64_t *start,
                                      uint64_t *end, int32_t *percent);

/* ===== Report settings and names ========================================= */

/* Report flags of a settings record. */
#define RPT_FLAG_HTML 0x10u            /* output formats, one per format bit */
#define RPT_FLAG_PDF 0x20u
#define RPT_FLAG_RTF 0x40u
#define RPT_FLAG_TXT 0x80u
#define RPT_FLAG_MHT 0x100u
#define RPT_FLAG_SCOPE_BIT0 0x800u     /* bit 0 of definition byte 1268 */
#define RPT_FLAG_OBFUSCATE_USERS 0x2000u
#define RPT_FLAG_TIME_FILTER 0x4000u   /* the log filter text bounds the window */

/* The report settings record that get_report_settings_r fills (43088
 * bytes). */
typedef struct rpt_settings {
    uint32_t query_ids[512];       /* chart query ids, as get_qryset orders them */
    uint32_t query_count;
    uint32_t reserved;
    unsigned char strings[16];     /* host string array, made empty */
    uint64_t flags;                /* RPT_FLAG_* and the definition's scope bits */
    const void *output;            /* byte 2544 of the definition record */
    char log_filter[4096];
    char datetime_cond[4096];
    rpt_window window;
    uint32_t time_type;            /* 0 to 4 by the window's span: <1h, <1d, <1w, <4w, more */
    uint32_t value1272;            /* copies of definition bytes 1272 and 1276 */
    uint32_t value1276;
    unsigned char host_area[32772]; /* left zero; belongs to the host */
    int64_t assembled_at;          /* epoch seconds */
} rpt_settings;

/* Assembles the settings of the report definition record `report` into
 * `settings` (which must be valid). 0, or -1 when `report` is NULL. */
LOGBASE_API int get_report_settings_r(const void *report, rpt_settings *settings);
/* Merges the definition's scope bits, and RPT_FLAG_SCOPE_BIT0, into *flags. */
LOGBASE_API void get_report_scope(const void *report, uint64_t *flags);
/* Adds the output format flags to *flags and points *output (which must be
 * valid) at the definition's output section. */
LOGBASE_API void get_report_output(const void *report, uint64_t *flags, const void **output);
/* Adds RPT_FLAG_OBFUSCATE_USERS when the definition's switch is on. */
LOGBASE_API void get_report_obfuscate_user(const void *report, uint64_t *flags);
/* A free name "<prefix>-YYYY-MM-DD-HHMM" (local time), or that name with a
 * suffix "_001" to "_999", for a new directory under
 * "/var/log/Reports_adom/<domain>". malloc'd; NULL when none is free or the
 * domain is NULL or empty. */
LOGBASE_API char *get_report_name(const char *prefix, const char *domain);
/* Copies the title logo (name at byte 396 of `logos`) and the header logo
 * (byte 780) from "/migadmin/reportlogo/thumbs" into `dir` as
 * "_rpt_title_logo" and "_rpt_header_logo" with the image's suffix. */
LOGBASE_API void copy_report_logo_files(const char *dir, const void *logos);
/* Copies `src` to `dst` (room for strlen(src) + 1) with each of
 * ` "\!#$%&'()*,/;<>?` replaced by '_'. */
LOGBASE_API void convert_report_file_filename(const char *src, char *dst);
/* Copies `src` into `dst` of `size` bytes with each '/' replaced by '_';
 * empty when `size` is below 2. 0, or -1 when `src` is NULL. */
LOGBASE_API int convert_slash(const char *src, char *dst, size_t size);
/* 0 when `text` holds only A-Z a-z 0-9 _ - (report names), or only printable
 * ASCII (section titles); -1 otherwise or for NULL. */
LOGBASE_API int valid_report_name_string_charset(const char *text);
LOGBASE_API int valid_section_title_string_charset(const char *text);

/* ===== Report scheduling and control ===================================== */

/* The report definition record named `name` from the configuration store,
 * or NULL. The record belongs to the store. */
LOGBASE_API const void *rpt_get(const char *name);
/* Installs or replaces the crontab entry that runs the report on its
 * schedule, or removes it when the report has no schedule. Does nothing for
 * a NULL or empty name or domain, or a report the store does not hold. */
LOGBASE_API void add_report_to_cron(const char *name, const char *domain);
/* Removes the report's crontab entry. */
LOGBASE_API void delete_report_from_cron(const char *name, const char *domain);
/* Sends SIGINT to the processes named in
 * "/var/log/tmprpts_adom/<first>/<second>/pid". 0 when a signal was sent,
 * -1 otherwise. The two functions behave the same. */
LOGBASE_API int kill_running_report_process_ex(const char *first, const char *second);
LOGBASE_API int kill_running_report_process(const char *first, const char *second);
/* Reads "/drive0/private/<work>_work_done" into the non-NULL out-values.
 * 1 when the file was read, 0 otherwise. */
LOGBASE_API int retrieve_bin_work_data(const char *work, int64_t *first, int64_t *second,
                                       int32_t *total, int32_t *done);
/* Writes "<n> of <total> binary files need to be regenerated." into `text`
 * (cut to `size`; the first character is cleared in every case). 0 while
 * files remain to be regenerated, -1 otherwise. */
LOGBASE_API int retrieve_bin_status(char *text, size_t size);
/* When "/var/log/debug/logrpt_core_flag" exists, raises the core-file size
 * limit to its maximum. 0, or -1 when the limit cannot be read or set. */
LOGBASE_API int set_core_rlimit(void);

/* ===== Language tables =================================================== */

#ifdef __cplusplus
}
#endif

#endif /* LOGBASE_H */
