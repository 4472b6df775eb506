/* Host-side access to the reference configuration store: where it keeps its
 * records, and how a tool stores them. Not part of liblogbase.
 *
 * The store lives in the directory named by LOGBASE_HOST_DIR (default
 * "/var/lib/logbase"): "reports/<name>" holds one report definition record,
 * "time_settings" the time-settings record, each byte for byte. The crontab
 * file is LOGBASE_CRONTAB (default "<store>/crontab"). */
#ifndef LOGBASE_HOST_STORE_H
#define LOGBASE_HOST_STORE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of a stored report definition record. */
#define HOST_REPORT_RECORD_SIZE 4096

/* The store directory and the crontab file, from the environment. */
const char *host_store_dir(void);
const char *host_crontab_path(void);

/* Report names: 1 to 100 of A-Z a-z 0-9 _ -. 1 when `name` is one. */
int host_report_name_valid(const char *name);

/* Stores a report definition record of HOST_REPORT_RECORD_SIZE bytes under
 * `name`, replacing any earlier one. 0, or -1 on a bad name or size or a
 * failed write. */
int host_report_store(const char *name, const void *record, size_t size);
/* Removes the record of `name`. 0, or -1 when there was none. */
int host_report_remove(const char *name);

/* Zone number of a zone file name such as "Europe/Berlin"; -1 when the
 * store does not know the zone. */
int64_t host_zone_number(const char *zone_name);
/* Stores the time settings: the zone, and the TZ text used when daylight
 * saving is off (dst == 0). 0, or -1 on an unknown zone, a TZ text of 64
 * characters or more, or a failed write. */
int host_time_settings_store(const char *zone_name, const char *tz_text, int dst);
/* The crontab line that runs `command` (as update_crontab wrote it), in
 * memory from malloc that the caller frees; NULL when there is none or the
 * crontab cannot be read. */
char *host_crontab_entry(const char *command);

/* Removes the time settings, so the machine counts as unconfigured. */
int host_time_settings_remove(void);

#ifdef __cplusplus
}
#endif

#endif
