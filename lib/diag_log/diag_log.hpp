// Internal use of the diagnostic log by the log-file families.
#pragma once

#include "logbase.h"

namespace lb {

// Where a diagnostic line is reported from. A helper that reports for an
// exported function takes the site of the call in that function, so the
// line names the function the caller called.
struct report_site {
    const char *file;
    int line;
    const char *func;
};

} // namespace lb

// The site of this line, in the enclosing function.
#define LB_HERE (lb::report_site{__FILE_NAME__, __LINE__, __func__})

// Reports a failure in the library's "!errr" form, naming the source file,
// line and function of `site`. `text` is the specific text of the failure.
#define LB_REPORT_AT(site, text, ...)                                                              \
    rt_log(1, "!errr %s(%d)@%s:\n    " text, (site).file, (site).line,                             \
           (site).func __VA_OPT__(, ) __VA_ARGS__)

// The same, naming the calling source file, line and function.
#define LB_REPORT(text, ...) LB_REPORT_AT(LB_HERE, text __VA_OPT__(, ) __VA_ARGS__)
