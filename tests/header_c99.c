/* Compiled as strict C99 with -pedantic: the public header must stay plain C. */
#include "logbase.h"
#include "logbase_host.h"

/* The named codes are part of the interface: programs built against an
 * earlier header keep the numbers. A value that moves fails to compile here. */
#define KEEPS(name, values) typedef char name[(values) ? 1 : -1]

KEEPS(log_format_codes, LOG_VERSION_ERR_TEXT == -1 && LOG_SEQ_ERR_ARG == -1 &&
                            LOG_SEQ_ERR_ABSENT == -2 && LOG_CONTENT_ERR_VERSTR == -1 &&
                            LOG_CONTENT_ERR_HEADER == -2 && LOG_CONTENT_ERR_INDEX == -3);
KEEPS(log_access_codes, LOG_VERSION_ERR_SEEK == -2 && LOG_VERSION_ERR_READ == -3 &&
                            LOG_VERSION_ERR_RESTORE == -4 && LOG_PATH_ERR_OPEN == -1 &&
                            LOG_PATH_ERR_READ == -2);
KEEPS(log_line_codes, LOG_LINE_ERR_VERSION == -1 && LOG_LINE_ERR_BLOCK0 == -2 &&
                          LOG_LINE_ERR_BLOCK1 == -3 && LOG_LINE_ERR_HEADER == -4 &&
                          LOG_LINE_ERR_MEMORY == -5 && LOG_LINE_ERR_INDEX == -6 &&
                          LOG_LINE_ERR_OFFSET == -7);
KEEPS(log_name_codes, LOG_CAT_NONE == 0 && LOG_CAT_EVENT == 1 && LOG_CAT_TRAFFIC == 2 &&
                          LOG_CAT_ATTACK == 3 && LOG_TAG_REPLACED == 0 && LOG_TAG_UNCHANGED == 1 &&
                          LOG_TAG_ABSENT == 2 && LOG_TAG_ERR_FIT == -1);
KEEPS(parser_codes, KV_ERR_CATEGORY == -1 && KV_ERR_EMPTY == -2 && KV_ERR_KEY == -3 &&
                        KV_ERR_END == -4 && KV_ERR_EQUALS == -5 && KV_ERR_QUOTE == -6);
KEEPS(filter_codes, REGEX_MATCHED == 1 && REGEX_NO_MATCH == 0 && SVC_PROTO_UDP == 0 &&
                        SVC_PROTO_TCP == 1 && SVC_PROTO_BOTH == 3);
KEEPS(report_codes, RPT_PERIOD_TODAY == 0 && RPT_PERIOD_LAST_N_HOURS == 2 &&
                        RPT_PERIOD_LAST_N_DAYS == 6 && RPT_PERIOD_LAST_N_WEEKS == 12 &&
                        RPT_PERIOD_THIS_YEAR == 15 && RPT_PERIOD_CUSTOM == 16 &&
                        RPT_PROGRESS_READ == 1 && RPT_PROGRESS_NONE == 0 &&
                        RPT_PROGRESS_WAITING == -1 && RPT_SCHED_NONE == 0 && RPT_SCHED_DAILY == 1 &&
                        RPT_SCHED_WEEKDAYS == 2 && RPT_SCHED_MONTH_DAYS == 3);

KEEPS(host_codes, CFG_TABLE_TIME_SETTINGS == 100 && CFG_TABLE_REPORTS == 2180 &&
                      CRON_ADD_OR_REPLACE == 1 && CRON_REMOVE == 2 && RPT_DEF_PERIOD == 1232 &&
                      RPT_DEF_CHARTS == 1288 && RPT_DEF_FILTER == 1488 &&
                      RPT_DEF_SCHED_KIND == 2512 && RPT_DEF_OUTPUT_FORMATS == 2548);

int logbase_header_is_c99(void) {
    return 0;
}
