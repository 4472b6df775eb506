#include "report_run/svg_chart.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <vector>

#include "record_format.hpp"

namespace report_run {

namespace {

// Page text (valid UTF-8, no control bytes) with HTML's five special
// characters as references.
std::string markup_escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string html_text(std::string_view bytes) {
    return markup_escaped(cli::page_text(bytes));
}

std::string html_label(std::string_view bytes, size_t max_chars) {
    // Characters are counted on the page text, which is well-formed UTF-8, so
    // a cut never splits a sequence (an \xhh escape may be cut: the full value
    // is in the table and the tooltip).
    const std::string text = cli::page_text(bytes);
    size_t chars = 0, cut = text.size();
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xc0) == 0x80) continue;
        if (chars + 1 == max_chars) cut = i;
        if (++chars > max_chars) return markup_escaped(text.substr(0, cut)) + "\u2026";
    }
    return markup_escaped(text);
}

std::string decimal(unsigned __int128 value) {
    std::string digits;
    do {
        digits += static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    return {digits.rbegin(), digits.rend()};
}

namespace {

constexpr int kWidth = 760;
constexpr const char *kPalette[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                    "#edc948", "#b07aa1", "#ff9da7", "#9c755f", "#6b8e23"};
constexpr const char *kOtherColour = "#a0a4a8";

using u128 = unsigned __int128;

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

// A label as SVG shows it: cut to fit, "(empty)" for an empty value.
std::string svg_label(std::string_view value, size_t max_chars) {
    return value.empty() ? "(empty)" : html_label(value, max_chars);
}

// The rows as a table of series by category: the first variable's values in
// row order, and the second's (one unnamed series for a one-variable chart)
// by total, largest first, "Other" last. A cell no row names counts zero.
struct Grid {
    std::vector<std::string_view> xs, series;
    std::vector<bool> series_other;            // the series sums the values the top-N left out
    std::vector<std::vector<uint64_t>> counts; // [series][x]
    std::vector<u128> x_totals;

    const char *colour(size_t s) const {
        return series_other[s] ? kOtherColour : kPalette[s % std::size(kPalette)];
    }
};

// A value of a variable, told apart from the sum of the values left out even
// when a record's value is itself "Other".
using Slot = std::pair<bool, std::string_view>;

Grid grid(const Chart &chart) {
    const bool two = chart.vars.size() > 1;
    Grid g;
    std::map<Slot, size_t> x_at, y_at;
    std::vector<Slot> ys; // in order of first appearance
    std::vector<u128> y_totals;
    auto y_slot = [two](const ChartRow &row) {
        return two ? Slot{row.other_y, row.y} : Slot{false, {}};
    };
    for (const ChartRow &row : chart.rows) {
        if (x_at.try_emplace(Slot{row.other_x, row.x}, g.xs.size()).second) g.xs.push_back(row.x);
        // A bucket with nothing in it may come as a row with no second value.
        if (two && row.y.empty() && row.count == 0) continue;
        if (y_at.try_emplace(y_slot(row), ys.size()).second) {
            ys.push_back(y_slot(row));
            y_totals.push_back(0);
        }
        y_totals[y_at[y_slot(row)]] += row.count;
    }
    std::vector<size_t> order(ys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (ys[a].first != ys[b].first) return ys[b].first;
        return y_totals[a] > y_totals[b];
    });
    std::vector<size_t> rank(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        rank[order[i]] = i;
        g.series.push_back(ys[order[i]].second);
        g.series_other.push_back(ys[order[i]].first);
    }
    g.counts.assign(g.series.size(), std::vector<uint64_t>(g.xs.size(), 0));
    g.x_totals.assign(g.xs.size(), 0);
    for (const ChartRow &row : chart.rows) {
        const auto y = y_at.find(y_slot(row));
        if (y == y_at.end()) continue;
        const size_t x = x_at[Slot{row.other_x, row.x}];
        g.counts[rank[y->second]][x] += row.count;
        g.x_totals[x] += row.count;
    }
    return g;
}

// A legend of the series in rows of swatches, from height `top`; returns the
// height below it.
int put_legend(std::string &svg, const Grid &g, int top) {
    constexpr int kItem = 186, kPitch = 20;
    const int per_line = (kWidth - 16) / kItem;
    for (size_t s = 0; s < g.series.size(); ++s) {
        const int x = 8 + static_cast<int>(s % per_line) * kItem;
        const int y = top + static_cast<int>(s / per_line) * kPitch;
        svg += "<g class=\"legend\"><title>" + html_text(g.series[s]) + "</title><rect x=\"" +
               std::to_string(x) + "\" y=\"" + std::to_string(y) +
               "\" width=\"12\" height=\"12\" rx=\"2\" fill=\"" + g.colour(s) + "\"/><text x=\"" +
               std::to_string(x + 18) + "\" y=\"" + std::to_string(y + 10) + "\">" +
               svg_label(g.series[s], 24) + "</text></g>\n";
    }
    return top + static_cast<int>((g.series.size() + per_line - 1) / per_line) * kPitch + 6;
}

std::string open_svg(const Chart &chart, int height, std::string_view kind) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart-figure " + std::string(kind) +
           "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(height) +
           "\" width=\"" + std::to_string(kWidth) + "\" height=\"" + std::to_string(height) +
           "\" role=\"img\" font-size=\"12\"><title>" + html_text(chart.title) + "</title>\n";
}

// Horizontal bars, one per value of the first variable, split by the second
// when there is one; the total at the end of each bar.
std::string bar_chart(const Chart &chart, const Grid &g) {
    constexpr int kLabel = 200, kBar = 18, kPitch = 26, kCountRoom = 182;
    const bool stacked = chart.vars.size() > 1;
    std::string body;
    int top = 8;
    if (stacked) top = put_legend(body, g, top);
    const u128 most = std::max<u128>(1, *std::max_element(g.x_totals.begin(), g.x_totals.end()));
    const double span = kWidth - kLabel - 8 - kCountRoom;
    for (size_t x = 0; x < g.xs.size(); ++x) {
        const int y = top + static_cast<int>(x) * kPitch;
        const std::string total = decimal(g.x_totals[x]);
        body += "<g class=\"bar\"><title>" + html_text(g.xs[x]) + ": " + total +
                "</title>\n<text x=\"" + std::to_string(kLabel) + "\" y=\"" +
                std::to_string(y + 13) + "\" text-anchor=\"end\">" + svg_label(g.xs[x], 30) +
                "</text>\n"; // apart from the count where SVG is read as text
        double at = kLabel + 8;
        for (size_t s = 0; s < g.series.size(); ++s) {
            const uint64_t count = g.counts[s][x];
            if (count == 0) continue;
            const double length = static_cast<double>(static_cast<long double>(count) /
                                                      static_cast<long double>(most) * span);
            body += "<rect x=\"" + num(at) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
                    num(std::max(length, 1.0)) + "\" height=\"" + std::to_string(kBar) +
                    "\" fill=\"" + g.colour(s) + (stacked ? "\" stroke=\"#fff" : "") + "\">";
            if (stacked)
                body += "<title>" + html_text(g.xs[x]) + ", " + html_text(g.series[s]) + ": " +
                        decimal(count) + "</title>";
            body += "</rect>";
            at += length;
        }
        body += "<text class=\"count\" x=\"" + num(at + 6) + "\" y=\"" + std::to_string(y + 13) +
                "\">" + total + "</text></g>\n";
    }
    const int height = top + static_cast<int>(g.xs.size()) * kPitch + 4;
    return open_svg(chart, height, stacked ? "stacked-bars" : "bars") + body + "</svg>";
}

// Compact axis labels: 25000 as 25k, 1500000 as 1.5M; others in full.
std::string tick_label(u128 v) {
    static const char kSuffix[] = "kMGTPE";
    if (v < 10000) return decimal(v);
    u128 unit = 1000;
    int e = 0;
    while (e < 5 && v >= unit * 1000) {
        unit *= 1000;
        ++e;
    }
    const u128 whole = v / unit, rest = v % unit;
    if (rest == 0) return decimal(whole) + kSuffix[e];
    if (rest % (unit / 10) == 0)
        return decimal(whole) + "." + decimal(rest / (unit / 10)) + kSuffix[e];
    return decimal(v);
}

// Points in time order on a common scale: a line per series, a dot per point
// while they are few enough to tell apart, zero buckets on the base line.
std::string line_chart(const Chart &chart, const Grid &g) {
    constexpr int kLeft = 64, kRight = 44, kPlot = 200;
    int top = 10;
    std::string body;
    if (chart.vars.size() > 1) top = put_legend(body, g, top) + 10;
    uint64_t most = 0;
    for (const auto &counts : g.counts)
        for (const uint64_t c : counts)
            most = std::max(most, c);
    // A step of 1, 2 or 5 times a power of ten giving at most five steps.
    u128 step = 1;
    for (u128 power = 1;; power *= 10) {
        const u128 steps[] = {power, 2 * power, 5 * power};
        const auto fits =
            std::find_if(std::begin(steps), std::end(steps), [&](u128 s) { return s * 5 >= most; });
        if (fits != std::end(steps)) {
            step = *fits;
            break;
        }
    }
    const u128 ceiling = std::max<u128>(1, (most + step - 1) / step) * step;
    const double base = top + kPlot, span = kWidth - kLeft - kRight;
    auto y_of = [&](u128 v) {
        return base - static_cast<double>(static_cast<long double>(v) /
                                          static_cast<long double>(ceiling) * kPlot);
    };
    const size_t n = g.xs.size();
    auto x_of = [&](size_t i) { return n == 1 ? kLeft + span / 2 : kLeft + span * i / (n - 1); };
    for (u128 v = 0; v <= ceiling; v += step)
        body += "<line class=\"grid\" x1=\"" + std::to_string(kLeft) + "\" x2=\"" +
                std::to_string(kWidth - kRight) + "\" y1=\"" + num(y_of(v)) + "\" y2=\"" +
                num(y_of(v)) + "\"/><text x=\"" + std::to_string(kLeft - 8) + "\" y=\"" +
                num(y_of(v) + 4) + "\" text-anchor=\"end\">" + tick_label(v) + "</text>\n";
    // Labels at least 90 units apart: every k-th bucket.
    const size_t every = std::max<size_t>(1, static_cast<size_t>(90 * (n - 1) / span) + 1);
    for (size_t i = 0; i < n; i += every)
        body += "<text class=\"x-label\" x=\"" + num(x_of(i)) + "\" y=\"" + num(base + 18) +
                "\" text-anchor=\"middle\">" + svg_label(g.xs[i], 12) + "</text>\n";
    const bool dots = n <= 62;
    for (size_t s = 0; s < g.series.size(); ++s) {
        std::string points;
        for (size_t i = 0; i < n; ++i) {
            if (i != 0) points += ' ';
            points += num(x_of(i)) + "," + num(y_of(g.counts[s][i]));
        }
        body += "<g class=\"series\"><polyline fill=\"none\" stroke-width=\"2\" stroke=\"" +
                std::string(g.colour(s)) + "\" points=\"" + points + "\"/>";
        for (size_t i = 0; dots && i < n; ++i) {
            body += "<circle cx=\"" + num(x_of(i)) + "\" cy=\"" + num(y_of(g.counts[s][i])) +
                    "\" r=\"3\" fill=\"" + g.colour(s) + "\"><title>" + html_text(g.xs[i]);
            if (chart.vars.size() > 1) body += ", " + html_text(g.series[s]);
            body += ": " + decimal(g.counts[s][i]) + "</title></circle>";
        }
        body += "</g>\n";
    }
    return open_svg(chart, top + kPlot + 28, "line") + body + "</svg>";
}

} // namespace

std::string svg_chart(const Chart &chart) {
    if (!chart.unavailable.empty() || chart.rows.empty()) return {};
    const Grid g = grid(chart);
    if (chart.by_time) return line_chart(chart, g);
    return bar_chart(chart, g);
}

} // namespace report_run
