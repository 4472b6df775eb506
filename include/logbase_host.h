/* liblogbase host interface: the functions a host process supplies to the
 * library at load time, and the records they hand over.
 *
 * liblogbase names only the C library and the C++ runtime as needed
 * libraries. The twelve functions below are left undefined in it: a host
 * program defines them itself (and links with `pkg-config --libs logbase`),
 * or links a host layer that does (`pkg-config --libs logbase-host`, the
 * reference layer). Each comment says what the library passes and what it
 * relies on; anything else about the store, the crontab or the arrays is the
 * host's own business.
 *
 * Callers: the report periods and names (nCfg_query, cmf_query_update,
 * ncfg_active_dayst, get_zoneinfo), the settings (str_array_init), the
 * scheduling (nCfg_query, cmf_query_do_table_find, update_crontab), the logo
 * copy (image_file_ext, copy_file) and the filter lists (str2arr_quoted,
 * arr_free, trim_both). All calls come from the host's own thread. */
#ifndef LOGBASE_HOST_H
#define LOGBASE_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ===== Configuration store =============================================== */

/* Tables the library queries. */
enum { CFG_TABLE_TIME_SETTINGS = 100, CFG_TABLE_REPORTS = 2180 };

/* Time-settings record (table 100): the fields the library reads. */
enum {
    TIME_SETTINGS_TZ_TEXT = 88, /* NUL-terminated text for the TZ variable */
    TIME_SETTINGS_TZ_TEXT_SIZE = 64,
    TIME_SETTINGS_ZONE = 152, /* uint32_t zone number, see get_zoneinfo */
    TIME_SETTINGS_DST = 156,  /* uint32_t daylight saving, non-zero = on */
    TIME_SETTINGS_SIZE = 160
};

/* Report definition record (table 2180): byte offsets of the fields the
 * library reads; it never writes the record. Fields may be unaligned. */
enum {
    RPT_DEF_OBFUSCATE_GATE = 192,  /* uint32_t: the switch below counts only while 0 */
    RPT_DEF_OBFUSCATE_USERS = 198, /* uint16_t, non-zero = hide user names */
    /* Logo file names, NUL-terminated, in fields of RPT_DEF_LOGO_NAME_SIZE
     * bytes; copy_report_logo_files reads them. */
    RPT_DEF_TITLE_LOGO = 396,
    RPT_DEF_HEADER_LOGO = 780,
    RPT_DEF_LOGO_NAME_SIZE = 384,
    RPT_DEF_PERIOD = 1232,     /* rpt_period (logbase.h), 32 bytes */
    RPT_DEF_SCOPE_BITS = 1264, /* uint32_t, merged into the report flags */
    RPT_DEF_SCOPE_BYTE = 1268, /* uint8_t, bit 0 adds RPT_FLAG_SCOPE_BIT0 */
    RPT_DEF_VALUE1 = 1272,     /* uint32_t, copied to rpt_settings.value1272 */
    RPT_DEF_VALUE2 = 1276,     /* uint32_t, copied to rpt_settings.value1276 */
    /* Chart selection: per chart set 0 to 3, three uint64_t words; row j of
     * set s is selected by bit j % 64 of word j / 64 of that set. */
    RPT_DEF_CHARTS = 1288,
    RPT_DEF_CHART_WORDS_PER_SET = 3,
    RPT_DEF_FILTER = 1488, /* filter text, NUL-terminated; 1023 characters count */
    RPT_DEF_FILTER_USED = 1023,
    RPT_DEF_SCHED_KIND = 2512,       /* uint32_t, an RPT_SCHED_* kind */
    RPT_DEF_SCHED_WEEKDAYS = 2520,   /* uint32_t, bit d = weekday d, 0 Sunday */
    RPT_DEF_SCHED_MONTH_DAYS = 2528, /* uint64_t, bit d = day d, 1 to 31 */
    RPT_DEF_SCHED_HOUR = 2536,       /* int16_t, 24 stands for 0 */
    RPT_DEF_SCHED_MINUTE = 2538,     /* int16_t */
    RPT_DEF_OUTPUT = 2544,           /* output section: rpt_settings.output points here */
    RPT_DEF_OUTPUT_FORMATS = 2548,   /* uint32_t, bits 0-4: html pdf rtf txt mht */
    RPT_DEF_MIN_SIZE = 2552          /* a record holds at least these bytes */
};

/* Handle of configuration table `table` (CFG_TABLE_*) for the next query;
 * NULL for an unknown table. The library never releases a handle. */
void *nCfg_query(int table);

/* The current time-settings record of the CFG_TABLE_TIME_SETTINGS handle, or
 * NULL when none is configured: the library then leaves the process's time
 * zone and "/etc/localtime" alone. The record belongs to the host and is
 * read before the next call into the store. */
void *cmf_query_update(void *handle);

/* The record named `name` in the table of `handle`; for report definitions
 * the library passes the CFG_TABLE_REPORTS handle, field 0 and match mode 2.
 * NULL when there is none. The record belongs to the host and must stay
 * valid while the host uses what the library derived from it (rpt_get hands
 * it to the caller; rpt_settings.output points into it). */
void *cmf_query_do_table_find(void *handle, int field, const char *name, int match);

/* Puts the configured time zone, with daylight saving, into the process
 * environment (TZ); called instead of setting TZ from the record when its
 * daylight-saving switch is on. */
void ncfg_active_dayst(void);

/* Zone file name, relative to "/etc/zoneinfo", of the record's zone number;
 * NULL for an unknown number (the library then keeps "/etc/localtime"). The
 * text belongs to the host. */
const char *get_zoneinfo(uint32_t zone);

/* ===== Crontab service =================================================== */

/* update_crontab operations. */
enum { CRON_ADD_OR_REPLACE = 1, CRON_REMOVE = 2 };

/* One crontab schedule: five NUL-terminated texts in cron field order. The
 * library hands over only entries cron can read. */
struct cron_entry {
    const char *minute;
    const char *hour;
    const char *day_of_month;
    const char *month;
    const char *day_of_week;
};

/* CRON_ADD_OR_REPLACE adds the line of `entry` for `command` or replaces the
 * line that runs `command`; CRON_REMOVE removes the line whose command
 * equals `command` (the entry's texts are then empty). The command is
 * "/bin/run_sch_rpt add NAME DOMAIN", at most 127 characters. Entry and
 * command are valid during the call only. The result (0 or -1) is not
 * read. */
int update_crontab(int op, const struct cron_entry *entry, const char *command);

/* ===== Files ============================================================= */

/* Copies the file `src` to `dst` (report logos). 0 or -1; not read. */
int copy_file(const char *src, const char *dst);

/* The suffix (such as ".png") of the image file at `path`, appended as is to
 * a base name; NULL when there is none. The text belongs to the host. */
const char *image_file_ext(const char *path);

/* ===== String arrays ===================================================== */

/* Makes the 16-byte string array of a report settings record
 * (rpt_settings.strings, zeroed before the call) empty and valid. */
void str_array_init(void *array);

/* Splits `text` (which the function may change) at any character of
 * `delims` into a malloc'd, NULL-terminated array of malloc'd element
 * texts; NULL on failure. The library releases it with arr_free. */
char **str2arr_quoted(char *text, const char *delims);
/* Releases an array from str2arr_quoted with all its elements. */
void arr_free(char **arr);
/* Strips leading and trailing blanks of the `len` bytes at `s` in place and
 * returns the start of the trimmed, NUL-terminated text, inside `s`. */
char *trim_both(char *s, int len);

#ifdef __cplusplus
}
#endif

#endif
