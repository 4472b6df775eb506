// Readable views of a report's time window and assembled settings, shared by
// the period and report commands.
#pragma once

#include <cstdint>

#include "cli.hpp"
#include "logbase.h"

namespace cli {

// The "begin", "end" and "time type" lines of a window: local time (with the
// zone's abbreviation) and epoch seconds, and the time type in words.
void print_window(Output &out, const rpt_window &window, uint32_t time_type);

// Prints the settings that would be assembled for the stored report `name`
// (window, time type, filter and condition texts, chart ids with titles,
// flags by name). Returns a cli exit status.
int print_report_settings(Output &out, const char *name);

} // namespace cli
