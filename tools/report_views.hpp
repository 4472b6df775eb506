// Readable views of a report that the report commands share.
#pragma once

// Prints the settings that would be assembled for the stored report `name`
// (window, time type, filter and condition texts, chart ids with titles,
// flags by name). Returns a cli exit status.
int print_report_settings(const char *name);
