// Readable views of a report's time window, assembled settings and filter
// text, shared by the period, report and filter commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli.hpp"
#include "logbase.h"
#include "record_select.hpp"

namespace cli {

// The "begin", "end" and "time type" lines of a window: local time (with the
// zone's abbreviation) and epoch seconds, and the time type in words.
void print_window(Output &out, const rpt_window &window, uint32_t time_type);

// Says on stderr that a window ending where or before it begins is empty
// (the custom period takes its bounds as given, so a report of it selects
// nothing); the window stays as it is.
void note_empty_window(const rpt_window &window);

// Assembles into `settings` what a run of the stored report `name` would get
// now; the report's definition record, or null after a message on stderr
// when there is no such report.
const void *report_settings(const char *name, rpt_settings &settings);

// As report_settings, with the settings' log filter compiled into
// `selection`: the records a run of the report reads. Null after a message
// when there is no such report or its filter does not compile.
const void *report_selection(const char *name, rpt_settings &settings, Selection &selection);

// The "report", "period", window and "log filter" lines of those settings.
void print_report_selection(Output &out, const char *name, const void *report,
                            const rpt_settings &settings);

// Prints the settings that would be assembled for the stored report `name`
// (window, time type, filter and condition texts, chart ids with titles,
// flags by name). Returns a cli exit status.
int print_report_settings(Output &out, const char *name);

// Each clause of a report filter text that the builder does not read as
// written, as "byte N: CLAUSE: why" (check_report_filter_text); empty when
// every clause is read.
std::vector<std::string> filter_text_faults(const std::string &text);

} // namespace cli
