// The html and mht formats of a report run. The page stands alone: styles
// and figures inline, logos as data: URIs, no script, and a content policy
// that forbids both, so a value that slipped through as markup still could
// neither run nor load anything. Tables carry every number, so the page
// reads in a text browser too.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "report_run/report_document.hpp"
#include "report_run/svg_chart.hpp"

namespace report_run {

namespace {

constexpr const char *kStyle = R"(
:root { color-scheme: light; }
body { font-family: "DejaVu Sans", "Helvetica Neue", Arial, sans-serif; color: #1f2933;
  background: #f4f6f8; margin: 0; line-height: 1.45; }
main, .title-page { max-width: 800px; margin: 0 auto; padding: 0 20px; }
header.page { background: #1f3a5f; color: #fff; padding: 10px 20px; display: flex;
  align-items: center; gap: 14px; font-size: 14px; letter-spacing: .02em; }
header.page img { max-height: 32px; }
.title-page { padding-top: 28px; padding-bottom: 8px; }
.title-page img.logo { max-height: 90px; max-width: 320px; display: block; margin-bottom: 12px; }
h1 { font-size: 28px; margin: 0 0 4px; color: #1f3a5f; overflow-wrap: anywhere; }
.subtitle { margin: 0 0 18px; color: #52606d; overflow-wrap: anywhere; }
h2 { font-size: 19px; margin: 0 0 2px; color: #1f3a5f; }
table { border-collapse: collapse; width: 100%; background: #fff; font-size: 14px; }
th, td { padding: 5px 10px; border-bottom: 1px solid #e4e7eb; text-align: left;
  vertical-align: top; overflow-wrap: anywhere; }
thead th { background: #eef2f6; font-size: 13px; color: #3e4c59; }
table.facts th { width: 170px; color: #52606d; font-weight: 600; }
/* Fixed columns: a very long value wraps in its own column, not the others. */
table.rows { table-layout: fixed; }
table.rows th.num { width: 13em; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
code { font-family: "DejaVu Sans Mono", monospace; font-size: 13px; }
nav h2 { margin-top: 24px; }
nav ol { columns: 2; padding-left: 22px; }
nav a { color: #1f3a5f; }
section.chart { background: #fff; border: 1px solid #d9e2ec; border-radius: 6px;
  padding: 18px 20px; margin: 22px 0; break-inside: avoid; }
.meta { font-size: 11px; color: #7b8794; margin: 0 0 12px; overflow-wrap: anywhere; }
figure { margin: 0 0 14px; }
figure svg { width: 100%; height: auto; }
svg text { fill: #3e4c59; }
svg text.count { fill: #1f2933; font-weight: 600; }
svg line.grid { stroke: #e4e7eb; }
p.unavailable { color: #8a4b08; background: #fff8e6; border-left: 4px solid #f0b429;
  padding: 8px 12px; }
footer { text-align: center; font-size: 11px; color: #7b8794; padding: 18px; }
@media print { body { background: #fff; } .title-page { break-after: page; } }
)";

// Script and external loads forbidden; inline styles and data: images only.
constexpr const char *kPolicy = "default-src 'none'; style-src 'unsafe-inline'; img-src data:; "
                                "base-uri 'none'; form-action 'none'";

std::string base64(std::string_view bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
    }
    return out;
}

// A logo as a data: URI, or empty when the path is not a readable regular
// file of at most 4 MiB holding a PNG, GIF or JPEG image: a browser would
// guess at anything else, and the page embeds only what it can name.
std::string logo_uri(const std::string &path) {
    if (path.empty()) return {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::string bytes;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= (4 << 20)) {
        bytes.resize(static_cast<size_t>(st.st_size));
        for (size_t got = 0; got < bytes.size();) {
            const ssize_t n = read(fd, &bytes[got], bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) { // shrunk or unreadable: no half an image
                bytes.clear();
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    close(fd);
    const std::string_view b(bytes);
    const char *type = b.starts_with("\x89PNG\r\n\x1a\n")                   ? "image/png"
                       : b.starts_with("GIF87a") || b.starts_with("GIF89a") ? "image/gif"
                       : b.starts_with("\xff\xd8\xff")                      ? "image/jpeg"
                                                                            : nullptr;
    if (type == nullptr) return {};
    return "data:" + std::string(type) + ";base64," + base64(bytes);
}

// "Top_Sources_Of_Attacks" as "Top Sources Of Attacks".
std::string title_text(std::string_view title) {
    std::string spaced(title);
    for (char &c : spaced)
        if (c == '_') c = ' ';
    return html_text(spaced);
}

void put_fact(std::string &out, const char *name, const std::string &html) {
    out += "<tr><th scope=\"row\">";
    out += name;
    out += "</th><td>" + html + "</td></tr>\n";
}

void put_title_page(std::string &out, const ReportDocument &d) {
    out += "<section class=\"title-page\">\n";
    if (const std::string logo = logo_uri(d.title_logo); !logo.empty())
        out += "<img class=\"logo\" src=\"" + logo + "\" alt=\"\">\n";
    out += "<h1>" + html_text(d.name) + "</h1>\n";
    if (!d.output_name.empty())
        out += "<p class=\"subtitle\">" + html_text(d.output_name) + "</p>\n";
    out += "<table class=\"facts\">\n";
    put_fact(out, "Window", html_text(d.window_text));
    put_fact(out, "Filter",
             d.filter_text.empty() ? "none" : "<code>" + html_text(d.filter_text) + "</code>");
    put_fact(out, "Generated", html_text(d.generated));
    put_fact(out, "Records read", decimal(d.records_read));
    put_fact(out, "Records selected", decimal(d.records_selected));
    std::string inputs;
    for (const std::string &input : d.inputs)
        inputs += (inputs.empty() ? "<code>" : "<br><code>") + html_text(input) + "</code>";
    put_fact(out, "Files read", inputs.empty() ? "none" : inputs);
    put_fact(out, "Charts", std::to_string(d.charts.size()));
    out += "</table>\n";
    if (!d.charts.empty()) {
        out += "<nav><h2>Contents</h2><ol>\n";
        for (size_t i = 0; i < d.charts.size(); ++i)
            out += "<li><a href=\"#chart-" + std::to_string(i + 1) + "\">" +
                   title_text(d.charts[i].title) + "</a></li>\n";
        out += "</ol></nav>\n";
    }
    out += "</section>\n";
}

void put_chart(std::string &out, const Chart &chart, size_t number) {
    const std::string anchor = "chart-" + std::to_string(number);
    out += "<section class=\"chart\" id=\"" + anchor + "\" data-chart-id=\"" +
           std::to_string(chart.id) + "\">\n<h2>" + title_text(chart.title) + "</h2>\n";
    out += "<p class=\"meta\">" + html_text(chart.key) + " &middot; id " + std::to_string(chart.id);
    if (!chart.query.empty()) out += " &middot; <code>" + html_text(chart.query) + "</code>";
    out += "</p>\n";
    if (!chart.unavailable.empty()) {
        out += "<p class=\"unavailable\">Not available: " + html_text(chart.unavailable) +
               "</p>\n</section>\n";
        return;
    }
    if (chart.rows.empty()) {
        out += "<p>No selected record has a value for this chart.</p>\n</section>\n";
        return;
    }
    out += "<figure>" + svg_chart(chart) + "</figure>\n<table class=\"rows\"><thead><tr>";
    const bool two = chart.vars.size() > 1;
    out += "<th scope=\"col\">" + html_text(chart.vars.empty() ? "value" : chart.vars[0]) + "</th>";
    if (two) out += "<th scope=\"col\">" + html_text(chart.vars[1]) + "</th>";
    out += "<th scope=\"col\" class=\"num\">count</th></tr></thead>\n<tbody>\n";
    for (const ChartRow &row : chart.rows) {
        out += "<tr><td>" + html_text(row.x) + "</td>";
        if (two) out += "<td>" + html_text(row.y) + "</td>";
        out += "<td class=\"num\">" + decimal(row.count) + "</td></tr>\n";
    }
    out += "</tbody></table>\n</section>\n";
}

// Quoted-printable (RFC 2045) with CRLF line ends: '=' is always escaped, so
// no encoded line can start a boundary that contains "=_".
std::string quoted_printable(std::string_view text) {
    std::string out;
    size_t column = 0;
    auto put = [&](std::string_view piece) {
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\r\n";
            column = 0;
            continue;
        }
        const bool line_end = i + 1 == text.size() || text[i + 1] == '\n';
        if ((c >= 33 && c <= 126 && c != '=') || (c == ' ' && !line_end)) {
            put(std::string_view(text.data() + i, 1));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "=%02X", c);
            put(hex);
        }
    }
    return out;
}

} // namespace

std::string render_html(const ReportDocument &document) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta http-equiv=\"Content-Security-Policy\" content=\"";
    out += kPolicy;
    out += "\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"generator\" content=\"logbase\">\n<title>" +
           html_text(document.name) + " report</title>\n<style>" + kStyle +
           "</style>\n</head>\n"
           "<body>\n<header class=\"page\">";
    if (const std::string logo = logo_uri(document.header_logo); !logo.empty())
        out += "<img src=\"" + logo + "\" alt=\"\">";
    out += "<span>Report " + html_text(document.name) + "</span></header>\n";
    put_title_page(out, document);
    out += "<main>\n";
    for (size_t i = 0; i < document.charts.size(); ++i)
        put_chart(out, document.charts[i], i + 1);
    out += "</main>\n<footer>" + html_text(document.output_name) + " &middot; generated " +
           html_text(document.generated) + "</footer>\n</body>\n</html>\n";
    return out;
}

std::string render_mht(const ReportDocument &document) {
    constexpr const char *kBoundary = "=_logbase_report_part";
    return std::string("MIME-Version: 1.0\r\n"
                       "Content-Type: multipart/related; type=\"text/html\";\r\n boundary=\"") +
           kBoundary + "\"\r\n\r\nA report as a MIME HTML (RFC 2557) document.\r\n\r\n--" +
           kBoundary +
           "\r\nContent-Type: text/html; charset=utf-8\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n"
           "Content-Location: file:///report.html\r\n\r\n" +
           quoted_printable(render_html(document)) + "\r\n--" + kBoundary + "--\r\n";
}

} // namespace report_run
