// The HTML report's renderer on a sample report: what its figures draw and
// which logos it embeds. `test_report_html --write-sample DIR [--hostile]`
// writes the sample's html, mht and numbers (charts.json) for
// test_report_html.py, which checks the page as a whole and in a browser.
#include <gtest/gtest.h>

#include <regex>

#include "record_format.hpp"
#include "report_run/report_document.hpp"
#include "testkit.hpp"

using namespace report_run;

namespace {

Chart chart(int id, const char *key, const char *title, std::vector<std::string> vars,
            std::vector<ChartRow> rows, bool by_time = false) {
    Chart c;
    c.id = id, c.key = key, c.title = title, c.vars = vars, c.by_time = by_time;
    c.query = "type==attack :vars=" + vars[0] + (vars.size() > 1 ? "," + vars[1] : "");
    c.rows = std::move(rows);
    return c;
}

// A week of attacks: bars, stacked bars ("Other" larger than a named value),
// a line with an empty day, two lines, an unavailable chart; `hostile` adds
// markup, quotes, bytes that are not text and a 4000-byte value everywhere.
ReportDocument sample(bool hostile) {
    ReportDocument d;
    d.name = "weekly-attacks";
    d.output_name = "weekly-attacks-2026-11-23-0630";
    d.window_text = "2026-11-16 00:00:00 UTC to 2026-11-22 23:59:00 UTC";
    d.filter_text = "date-time>2026-11-15-23:59:59 date-time<2026-11-22-23:59:01 -pri=debug";
    d.generated = "2026-11-23 06:30:04 UTC";
    d.records_read = 48210, d.records_selected = 3194;
    d.inputs = {"/var/log/alog.log", "/var/log/alog.1.log"};
    std::vector<ChartRow> days, severity;
    const uint64_t day[] = {412, 655, 0, 298, 1021, 504, 304}, high[] = {120, 340, 0, 95, 610},
                   medium[] = {260, 240, 0, 180, 330};
    for (int i = 0; i < 7; ++i) {
        const std::string date = "2026-11-" + std::to_string(16 + i);
        days.push_back({date, "", day[i]});
        if (i < 5)
            severity.insert(severity.end(), {{date, "High", high[i]}, {date, "Medium", medium[i]}});
    }
    d.charts = {chart(15, "attacks-ts", "Top_Sources_Of_Attacks", {"src"},
                      {{"185.220.101.34", "", 1204},
                       {"45.155.205.233", "", 731},
                       {"203.0.113.77", "", 402},
                       {"192.0.2.140", "", 388},
                       {"198.51.100.23", "", 117},
                       {"Other", "", 352, true}}),
                chart(9, "attacks-dst-ip", "Attacks_by_Attack_Destination_and_Top_Attack_Source_IP",
                      {"dst", "src"},
                      {{"10.0.0.12", "185.220.101.34", 880},
                       {"10.0.0.14", "45.155.205.233", 610},
                       {"10.0.0.12", "203.0.113.77", 302},
                       {"10.0.0.9", "Other", 250, false, true},
                       {"10.0.0.14", "185.220.101.34", 214},
                       {"10.0.0.9", "192.0.2.140", 201}}),
                chart(14, "attacks-day", "Attacks_By_Day", {"idate"}, days, true),
                chart(20, "attacks-date-severity", "Attacks_by_Date_and_Top_Attack_Severity",
                      {"idate", "attack_cat"}, severity, true),
                chart(33, "threat-weight-client-device", "Top_Client_Device_Of_Threat_Weight",
                      {"client_device"}, {})};
    d.charts[4].unavailable = "no record of the logs read has the variable client_device";
    if (!hostile) return d;
    const std::string markup = "<script>alert(1)</script>\"'&", bytes = "\xff\xed\xa0\x80\x01 a\\b";
    d.name = d.output_name = d.window_text = d.filter_text = d.generated = markup + bytes;
    d.inputs.push_back(bytes + markup);
    d.charts[4].unavailable = markup;
    d.charts.push_back(chart(1, "<i>k", "Hostile_<script>", {"url", "\"><b>"},
                             {{markup, bytes, UINT64_MAX},
                              {"\"'><svg onload=alert(4)>", "\xc3\xa9\x1b[31m", 7},
                              {std::string(4000, 'A'), "</td></tr></table>" + markup, 1},
                              {"", "", 0}}));
    return d;
}

// The chart sections of a page, in order.
std::vector<std::string> sections(const std::string &html) {
    std::vector<std::string> found;
    const std::string head = "<section class=\"chart\"";
    for (size_t at = html.find(head); at != std::string::npos; at = html.find(head, at + 1))
        found.push_back(html.substr(at, html.find("</section>", at) - at));
    return found;
}

// Values of `attribute` of each <tag ...>, in order.
std::vector<double> numbers(const std::string &html, const std::string &tag,
                            const std::string &attribute) {
    std::vector<double> found;
    const std::regex element("<" + tag + " [^>]*\\b" + attribute + "=\"([-0-9.]+)\"");
    for (std::sregex_iterator m(html.begin(), html.end(), element), end; m != end; ++m)
        found.push_back(std::stod((*m)[1]));
    return found;
}

size_t count(const std::string &text, const std::string &piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

std::string json(std::string_view bytes) {
    std::string text(cli::json_room(bytes.size()) + cli::kSlack, '\0');
    text.resize(static_cast<size_t>(cli::put_json_string(text.data(), bytes) - text.data()));
    return text;
}

} // namespace

TEST(ReportHtml, Figures) {
    const ReportDocument d = sample(true);
    const auto charts = sections(render_html(d));
    ASSERT_EQ(charts.size(), d.charts.size());

    // Bars in proportion to their counts.
    const auto widths = numbers(charts[0], "rect", "width");
    ASSERT_EQ(widths.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_NEAR(widths[i], widths[0] * d.charts[0].rows[i].count / 1204, 0.2) << i;

    // A bar per first value with its total, a segment per pair; the legend
    // by total with "Other" last.
    EXPECT_EQ(count(charts[1], "class=\"bar\""), 3u);
    EXPECT_EQ(count(charts[1], "<rect"), 6u + 5u);
    EXPECT_NE(charts[1].find("<title>10.0.0.9: 451</title>"), std::string::npos);
    EXPECT_LT(charts[1].find(">192.0.2.140</text>"), charts[1].find(">Other</text>"));

    // A point per day in time order, higher for more records, the empty day
    // on the axis.
    const auto xs = numbers(charts[2], "circle", "cx"), ys = numbers(charts[2], "circle", "cy");
    ASSERT_EQ(ys.size(), 7u);
    for (size_t i = 0; i + 1 < 7; ++i) {
        EXPECT_LT(xs[i], xs[i + 1]);
        EXPECT_EQ(ys[i]<ys[i + 1], d.charts[2].rows[i].count> d.charts[2].rows[i + 1].count);
    }
    const auto grid = numbers(charts[2], "line", "y1");
    EXPECT_EQ(ys[2], *std::max_element(grid.begin(), grid.end()));

    // A line per second value; no figure without numbers.
    EXPECT_EQ(count(charts[3], "<polyline"), 2u);
    EXPECT_EQ(count(charts[3], "<circle"), 10u);
    EXPECT_EQ(count(charts[4], "<svg"), 0u);

    // A long label cut in the figure, whole in its tooltip.
    EXPECT_NE(charts[5].find(">" + std::string(29, 'A') + "\u2026</text>"), std::string::npos);
    EXPECT_NE(charts[5].find("<title>" + std::string(4000, 'A') + ": 1</title>"),
              std::string::npos);
}

TEST(ReportHtml, LogosByTheirBytes) {
    testkit::TempDir dir;
    const std::pair<std::string, std::string> logos[] = {
        {std::string("\x89PNG\r\n\x1a\nrest", 12), "data:image/png;base64,iVBORw0KGgpyZXN0\""},
        {"GIF89a..", "data:image/gif;base64,R0lGODlhLi4=\""},
        {"\xff\xd8\xff\xe0", "data:image/jpeg;base64,/9j/4A==\""},
        {"<svg onload=alert(1)>", ""},
        {"", ""}};
    ReportDocument d;
    for (const auto &[bytes, uri] : logos) {
        ASSERT_TRUE(testkit::write_file(dir.file("logo"), bytes));
        d.title_logo = d.header_logo = dir.file("logo");
        const std::string html = render_html(d);
        EXPECT_EQ(count(html, "<img"), uri.empty() ? 0u : 2u) << uri;
        EXPECT_EQ(count(html, "src=\"" + uri), uri.empty() ? 0u : 2u) << uri;
    }
    for (const std::string &path : {dir.path(), dir.file("missing")}) {
        d.title_logo = d.header_logo = path;
        EXPECT_EQ(count(render_html(d), "<img"), 0u) << path;
    }
}

int main(int argc, char **argv) {
    if (argc < 3 || std::string(argv[1]) != "--write-sample") {
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    const ReportDocument d = sample(argc > 3 && std::string(argv[3]) == "--hostile");
    std::string charts;
    for (const Chart &c : d.charts) {
        charts += std::string(charts.empty() ? "{\"charts\":[" : ",") +
                  "\n{\"id\":" + std::to_string(c.id) + ",\"title\":" + json(c.title) +
                  ",\"unavailable\":" + json(c.unavailable) + ",\"rows\":[";
        for (const ChartRow &r : c.rows)
            charts += std::string(&r == &c.rows[0] ? "" : ",") + "{\"x\":" + json(r.x) +
                      ",\"y\":" + json(r.y) + ",\"count\":" + std::to_string(r.count) + "}";
        charts += "]}";
    }
    const std::string dir = argv[2];
    const bool written = testkit::write_file(dir + "/report.html", render_html(d)) &&
                         testkit::write_file(dir + "/report.mht", render_mht(d)) &&
                         testkit::write_file(dir + "/charts.json", charts + "\n]}\n");
    return written ? 0 : 1;
}
