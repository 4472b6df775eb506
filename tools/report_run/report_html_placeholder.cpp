// Placeholder of the HTML and MHT writers, so that the run links until
// report_html.cpp takes their place; it writes no report an operator reads.
#include "report_document.hpp"

namespace report_run {

std::string render_html(const ReportDocument &document) {
    return "<!DOCTYPE html>\n<title>placeholder</title>\n<p>" +
           std::to_string(document.charts.size()) + " charts; the HTML writer is not linked.\n";
}

std::string render_mht(const ReportDocument &document) {
    return render_html(document);
}

} // namespace report_run
