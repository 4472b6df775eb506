// The HTML report's renderer on documents made by hand: what the figures
// draw, that values stay text, and which logos are embedded. The page as a
// whole (tables against the numbers, MIME, a browser) is
// test_report_html.py's.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "record_format.hpp"
#include "report_run/report_document.hpp"
#include "testkit.hpp"

using namespace report_run;
using testkit::TempDir;

namespace {

Chart chart(std::vector<std::string> vars, std::vector<ChartRow> rows, bool by_time = false) {
    Chart c;
    c.id = 7;
    c.key = "k";
    c.title = "Top_Things";
    c.vars = std::move(vars);
    c.rows = std::move(rows);
    c.by_time = by_time;
    return c;
}

std::string page(std::vector<Chart> charts) {
    ReportDocument d;
    d.name = "r";
    d.charts = std::move(charts);
    return render_html(d);
}

// Values of `attribute` of each <tag ...> in `html`, in order.
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

} // namespace

TEST(ReportHtml, Figures) {
    // Bars in proportion, the exact count beside each.
    std::string html = page({chart({"src"}, {{"a", "", 100}, {"b", "", 50}, {"c", "", 1}})});
    auto widths = numbers(html, "rect", "width");
    ASSERT_EQ(widths.size(), 3u);
    EXPECT_NEAR(widths[1], widths[0] / 2, 0.1);
    EXPECT_EQ(count(html, "<svg"), 1u);

    // A point per bucket in time order, an empty bucket on the base line.
    html = page({chart({"ihour"}, {{"00", "", 5}, {"01", "", 0}, {"02", "", 10}}, true)});
    const auto ys = numbers(html, "circle", "cy"), xs = numbers(html, "circle", "cx");
    ASSERT_EQ(ys.size(), 3u);
    EXPECT_TRUE(xs[0] < xs[1] && xs[1] < xs[2]);
    EXPECT_TRUE(ys[2] < ys[0] && ys[0] < ys[1]);
    const auto grid = numbers(html, "line", "y1");
    EXPECT_EQ(ys[1], *std::max_element(grid.begin(), grid.end())) << "zero on the axis";
    EXPECT_EQ(count(html, "<polyline"), 1u);

    // Two variables: a line per second value with a legend, "Other" last,
    // a bucket without records drawn as zeros.
    html = page(
        {chart({"idate", "attack_cat"},
               {{"d1", "Other", 9}, {"d1", "High", 2}, {"d2", "", 0}, {"d3", "Low", 1}}, true)});
    EXPECT_EQ(count(html, "<polyline"), 3u);
    EXPECT_EQ(count(html, "<circle"), 9u);
    EXPECT_LT(html.find(">High</text>"), html.find(">Low</text>"));
    EXPECT_LT(html.find(">Low</text>"), html.find(">Other</text>"));

    // Stacked bars: one bar per first value, a segment per pair.
    html = page({chart({"dst", "src"}, {{"d1", "s1", 4}, {"d2", "s1", 3}, {"d1", "s2", 2}})});
    EXPECT_EQ(count(html, "class=\"bar\""), 2u);
    EXPECT_EQ(count(html, "<rect"), 3u + 2u) << "segments and legend swatches";
    EXPECT_NE(html.find("<title>d1: 6</title>"), std::string::npos);

    // No figure without numbers; the reason is shown.
    Chart unavailable = chart({"client_device"}, {});
    unavailable.unavailable = "no such records";
    html = page({unavailable, chart({"src"}, {})});
    EXPECT_EQ(count(html, "<svg"), 0u);
    EXPECT_EQ(count(html, "<section class=\"chart\""), 2u);
    EXPECT_NE(html.find("no such records"), std::string::npos);
}

TEST(ReportHtml, ValuesStayText) {
    const std::string hostile[] = {"<script>alert(1)</script>", "\"'><svg onload=alert(2)>",
                                   "</td></table><b>", "\xff\xed\xa0\x80\xc3\xa9\x01 a\\b",
                                   std::string(4000, 'v') + "<i>"};
    ReportDocument d;
    Chart two = chart({"url", "src"}, {}), time = chart({"idate"}, {}, true);
    for (const std::string &h : hostile) {
        d.name += h, d.output_name += h, d.window_text += h, d.filter_text += h;
        d.generated += h;
        d.inputs.push_back(h);
        two.rows.push_back({h, h, UINT64_MAX});
        time.rows.push_back({h, "", 3});
    }
    two.key = two.title = two.query = two.vars[0] = hostile[0];
    Chart gone = chart({hostile[1]}, {});
    gone.unavailable = hostile[2];
    d.charts = {two, time, gone};
    const std::string html = render_html(d);

    // Only the renderer's own elements and attributes, in valid UTF-8 with
    // no control byte.
    const std::set<std::string> tags = {
        "!DOCTYPE", "html", "head", "meta",     "title",  "style", "body",   "header", "span",
        "section",  "h1",   "p",    "table",    "tr",     "th",    "td",     "code",   "br",
        "nav",      "h2",   "ol",   "li",       "a",      "main",  "figure", "svg",    "g",
        "rect",     "text", "line", "polyline", "circle", "thead", "tbody",  "footer"};
    const std::regex tag("<(/?)([!A-Za-z0-9]+)([^>]*)>");
    for (std::sregex_iterator m(html.begin(), html.end(), tag), end; m != end; ++m) {
        EXPECT_TRUE(tags.count((*m)[2])) << (*m)[0];
        EXPECT_EQ((*m)[3].str().find(" on"), std::string::npos) << (*m)[0];
    }
    for (size_t i = 0; i < html.size();) {
        const auto *s = reinterpret_cast<const unsigned char *>(html.data() + i);
        const size_t n = *s < 0x80 ? 1 : cli::utf8_sequence(s, html.size() - i);
        ASSERT_NE(n, 0u) << "byte " << i;
        ASSERT_TRUE(*s >= 0x20 || *s == '\n') << "byte " << i;
        i += n;
    }
    // The tool's escapes, then HTML's; the long value whole in the table, cut
    // in the figure with its full text in the tooltip.
    EXPECT_NE(html.find("<td>\\xff\\xed\\xa0\\x80\xc3\xa9\\x01 a\\\\b</td>"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("&quot;&#39;&gt;&lt;svg onload"), std::string::npos);
    const std::string long_text = std::string(4000, 'v') + "&lt;i&gt;";
    EXPECT_EQ(count(html, "<td>" + long_text + "</td>"), 3u);
    EXPECT_EQ(count(html, "<title>" + long_text + ": 18446744073709551615</title>"), 1u);
    EXPECT_NE(html.find(">" + std::string(29, 'v') + "\u2026</text>"), std::string::npos);
    EXPECT_EQ(count(html, "<td class=\"num\">18446744073709551615</td>"), 5u);
}

TEST(ReportHtml, LogosByTheirBytes) {
    TempDir dir;
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "rest";
    const std::pair<std::string, std::string> files[] = {{"logo.png", png},
                                                         {"logo.gif", "GIF89a.."},
                                                         {"logo.jpg", "\xff\xd8\xff\xe0"},
                                                         {"logo.svg", "<svg onload=alert(1)>"},
                                                         {"empty", ""}};
    for (const auto &[name, bytes] : files)
        testkit::write_file(dir.path() + "/" + name, bytes);
    ReportDocument d;
    const std::pair<std::string, std::string> expected[] = {
        {"logo.png", "data:image/png;base64,iVBORw0KGgpyZXN0\""},
        {"logo.gif", "data:image/gif;base64,R0lGODlhLi4=\""},
        {"logo.jpg", "data:image/jpeg;base64,/9j/4A==\""},
        {"logo.svg", ""},
        {"empty", ""},
        {"missing", ""},
        {"", ""}};
    for (const auto &[name, uri] : expected) {
        d.title_logo = d.header_logo = name.empty() ? dir.path() : dir.path() + "/" + name;
        const std::string html = render_html(d);
        EXPECT_EQ(count(html, "<img"), uri.empty() ? 0u : 2u) << name;
        EXPECT_EQ(count(html, "src=\"" + uri), uri.empty() ? 0u : 2u) << name;
    }
}
