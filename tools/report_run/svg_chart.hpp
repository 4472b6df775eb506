// The figures of the HTML report: a chart's rows as inline SVG, and the text
// escapes the page and its figures share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "report_run/report_document.hpp"

namespace report_run {

// Bytes of a record value as HTML or SVG text: the tool's page text (control
// bytes and bytes that are not UTF-8 as \xhh), then & < > " ' as references,
// so the result is safe both between tags and inside quoted attributes.
std::string html_text(std::string_view bytes);

// The same, cut to `max_chars` characters with an ellipsis when longer.
std::string html_label(std::string_view bytes, size_t max_chars);

// A count in exact decimal digits.
std::string decimal(unsigned __int128 value);

// The chart's figure: a line chart for a chart by time (points in time
// order, zeros drawn), horizontal bars for one variable, stacked bars with a
// legend for two. Empty when the chart has no rows or is unavailable.
std::string svg_chart(const Chart &chart);

} // namespace report_run
