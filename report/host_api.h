/* Configuration store and crontab service functions that the host process
 * supplies at load time; the library only declares and calls them. */
#ifndef LOGBASE_REPORT_HOST_API_H
#define LOGBASE_REPORT_HOST_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Configuration store tables. */
enum { CFG_TABLE_TIME_SETTINGS = 100, CFG_TABLE_REPORTS = 2180 };

/* Time-settings record (table 100): the fields the library reads. */
enum {
    TIME_SETTINGS_TZ_TEXT = 88, /* NUL-terminated text for the TZ variable */
    TIME_SETTINGS_TZ_TEXT_SIZE = 64,
    TIME_SETTINGS_ZONE = 152, /* uint32_t zone number, see get_zoneinfo */
    TIME_SETTINGS_DST = 156,  /* uint32_t daylight saving, non-zero = on */
    TIME_SETTINGS_SIZE = 160
};

/* update_crontab operations. */
enum { CRON_ADD_OR_REPLACE = 1, CRON_REMOVE = 2 };

/* One crontab schedule: five NUL-terminated texts in cron field order. */
struct cron_entry {
    const char *minute;
    const char *hour;
    const char *day_of_month;
    const char *month;
    const char *day_of_week;
};

/* Handle of a configuration table for the next query; NULL when the table
 * is unknown. Handles are owned by the host and never released. */
void *nCfg_query(int table);

/* The current time-settings record of the table-100 handle, or NULL when no
 * time settings are configured. The record belongs to the host. */
void *cmf_query_update(void *handle);

/* The record named `name` in the table of `handle` (field and match mode
 * are 0 and 2 for report definitions), or NULL. The record belongs to the
 * host and stays valid for the life of the process. */
void *cmf_query_do_table_find(void *handle, int field, const char *name, int match);

/* Puts the configured time zone, with daylight saving, into the process
 * environment. */
void ncfg_active_dayst(void);

/* Zone file name, relative to "/etc/zoneinfo", of a zone number; NULL for
 * an unknown number. */
const char *get_zoneinfo(uint32_t zone);

/* Operation 1 adds the entry for `command` or replaces its line; operation
 * 2 removes the line whose command equals `command` (the entry may then be
 * NULL). Returns 0 or -1. */
int update_crontab(int op, const struct cron_entry *entry, const char *command);

/* Copies the file `src` to `dst`. Returns 0 or -1. */
int copy_file(const char *src, const char *dst);

/* The suffix (such as ".png") of an image file, to be appended to a base
 * name as is; NULL when there is none. */
const char *image_file_ext(const char *path);

/* Makes the 16-byte string array of a report settings record empty. */
void str_array_init(void *array);

#ifdef __cplusplus
}
#endif

#endif
