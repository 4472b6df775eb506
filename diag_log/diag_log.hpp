// Internal use of the diagnostic log by the log-file families.
#pragma once

#include "logbase.h"

// Reports a failure in the library's "!errr" form, naming the calling source
// file, line and function. `text` is the specific text of the failure.
#define LB_REPORT(text, ...)                                                                       \
    rt_log(1, "!errr %s(%d)@%s:\n    " text, __FILE_NAME__, __LINE__,                              \
           __func__ __VA_OPT__(, ) __VA_ARGS__)
