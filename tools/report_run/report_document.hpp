// What a report run computed, as the writers of its formats read it. The run
// (report_run.cpp) fills one ReportDocument; each format is a function of it
// alone, so the writers never see records, stores or files.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace report_run {

// One bar or point: the value of the first variable, of the second (empty
// for a one-variable chart) and how many selected records had them. The
// values left out by keepTopX/keepTopY are summed in a row whose value is
// kOther.
struct ChartRow {
    std::string x;
    std::string y;
    uint64_t count = 0;
    // x (y) is the sum of the values keepTopX (keepTopY) left out: x (y) == kOther.
    bool other_x = false;
    bool other_y = false;
};

inline constexpr const char *kOther = "Other";

struct Chart {
    int id = 0;                    // the chart row's query id
    std::string key;               // e.g. "attacks-ts"
    std::string title;             // e.g. "Top_Sources_Of_Attacks"
    std::string query;             // the chart row's query text, as it stands
    std::vector<std::string> vars; // one or two variable names
    // The record key each variable reads ("date", "time" for a time bucket).
    std::vector<std::string> fields;
    bool by_time = false;       // the first variable is a time bucket: rows in time order
    std::string unavailable;    // non-empty: why the chart has no numbers (nothing invented)
    std::vector<ChartRow> rows; // in display order: by count (ties by value) or by time
};

struct ReportDocument {
    std::string name;        // the report's name in the store
    std::string output_name; // the name get_report_name gave the output
    time_t start = 0;        // the window, [start, end)
    time_t end = 0;
    std::string window_text; // the window as the tool prints it
    std::string filter_text; // the log filter text that selected the records
    std::string generated;   // when the run ended, local time as text
    uint64_t records_read = 0;
    uint64_t records_selected = 0;
    std::vector<std::string> inputs; // the files read ("-" for standard input)
    std::string title_logo;          // path of the title-page logo file, or empty
    std::string header_logo;         // path of the header logo file, or empty
    std::vector<Chart> charts;
};

// Each returns the whole file's bytes.
std::string render_html(const ReportDocument &document);
std::string render_mht(const ReportDocument &document);
std::string render_txt(const ReportDocument &document);
std::string render_charts_json(const ReportDocument &document);

} // namespace report_run
