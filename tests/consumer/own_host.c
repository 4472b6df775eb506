/* A host program with its own host layer: it defines every function of
 * logbase_host.h itself (an in-memory store holding one report, a crontab
 * that records what it is told) and links the library alone. It schedules
 * the report, assembles its settings and splits a filter list, and checks
 * what reached its layer. */
#define _POSIX_C_SOURCE 200809L /* strtok_r */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <logbase.h>
#include <logbase_host.h>

static unsigned char report[4096];
static int reports_table, time_table;
static char cron_line[256];
static int cron_op, array_inits;

void *nCfg_query(int table) {
    if (table == CFG_TABLE_REPORTS) return &reports_table;
    if (table == CFG_TABLE_TIME_SETTINGS) return &time_table;
    return NULL;
}

void *cmf_query_update(void *handle) {
    (void)handle;
    return NULL; /* unconfigured: the process's own time zone applies */
}

void *cmf_query_do_table_find(void *handle, int field, const char *name, int match) {
    (void)field;
    (void)match;
    return handle == &reports_table && strcmp(name, "weekly") == 0 ? report : NULL;
}

void ncfg_active_dayst(void) {}

const char *get_zoneinfo(uint32_t zone) {
    (void)zone;
    return NULL;
}

int update_crontab(int op, const struct cron_entry *entry, const char *command) {
    cron_op = op;
    snprintf(cron_line, sizeof cron_line, "%s %s %s %s %s %s", entry->minute, entry->hour,
             entry->day_of_month, entry->month, entry->day_of_week, command);
    return 0;
}

int copy_file(const char *src, const char *dst) {
    (void)src;
    (void)dst;
    return -1;
}

const char *image_file_ext(const char *path) {
    (void)path;
    return NULL;
}

void str_array_init(void *array) {
    (void)array;
    ++array_inits;
}

/* Elements split at any delimiter, empty ones dropped. */
char **str2arr_quoted(char *text, const char *delims) {
    size_t count = 0, room = strlen(text) / 2 + 2;
    char **arr = calloc(room, sizeof *arr);
    char *save = NULL;
    for (char *word = strtok_r(text, delims, &save); arr != NULL && word != NULL;
         word = strtok_r(NULL, delims, &save)) {
        arr[count] = malloc(strlen(word) + 1);
        if (arr[count] != NULL) strcpy(arr[count++], word);
    }
    return arr;
}

void arr_free(char **arr) {
    for (char **element = arr; element != NULL && *element != NULL; ++element)
        free(*element);
    free(arr);
}

char *trim_both(char *s, int len) {
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t'))
        s[--len] = '\0';
    while (*s == ' ' || *s == '\t')
        ++s;
    return s;
}

/* Stores one field of the report's record at its offset. */
#define PUT(offset, type, value)                                                                   \
    do {                                                                                           \
        type field_ = (value);                                                                     \
        memcpy(report + (offset), &field_, sizeof field_);                                         \
    } while (0)

static int check(int ok, const char *what) {
    if (!ok) fprintf(stderr, "own_host: %s\n", what);
    return ok ? 0 : 1;
}

int main(void) {
    /* Weekdays Mon, Wed, Fri at 07:30; last 3 days; html and pdf; charts
     * 0 and 2 of set 1. */
    PUT(RPT_DEF_SCHED_KIND, uint32_t, RPT_SCHED_WEEKDAYS);
    PUT(RPT_DEF_SCHED_WEEKDAYS, uint32_t, 0x2A);
    PUT(RPT_DEF_SCHED_HOUR, int16_t, 7);
    PUT(RPT_DEF_SCHED_MINUTE, int16_t, 30);
    PUT(RPT_DEF_PERIOD + 4, uint32_t, RPT_PERIOD_LAST_N_DAYS);
    PUT(RPT_DEF_PERIOD + 8, int32_t, 3);
    PUT(RPT_DEF_OUTPUT_FORMATS, uint32_t, 0x3);
    PUT(RPT_DEF_CHARTS + RPT_DEF_CHART_WORDS_PER_SET * 8, uint64_t, 0x5);

    int failures = 0;
    add_report_to_cron("weekly", "root");
    failures += check(cron_op == CRON_ADD_OR_REPLACE, "no crontab entry added");
    failures +=
        check(strcmp(cron_line, "30 7 * * 1,3,5 /bin/run_sch_rpt add weekly root") == 0, cron_line);

    static rpt_settings settings;
    failures += check(get_report_settings_r(rpt_get("weekly"), &settings) == 0, "no settings");
    failures += check(array_inits == 1, "string array not initialised");
    failures +=
        check(settings.query_count == 2 && settings.query_ids[0] == 0 && settings.query_ids[1] == 2,
              "wrong charts");
    failures += check((settings.flags & (RPT_FLAG_HTML | RPT_FLAG_PDF | RPT_FLAG_TIME_FILTER)) ==
                          (RPT_FLAG_HTML | RPT_FLAG_PDF | RPT_FLAG_TIME_FILTER),
                      "wrong flags");
    failures += check(settings.window.end - settings.window.begin + 1 >= 3 * 86400 - 3600,
                      "window shorter than three days");

    char out[256];
    failures += check(fltrstr_to_boolean("user=='alice, bob'", "==", out, sizeof out, 1) != NULL &&
                          strcmp(out, "user=alice OR user=bob") == 0,
                      out);
    if (failures == 0) printf("own host layer: %s\n", cron_line);
    return failures != 0;
}
