// The text form of a report (aligned tables) and charts.json, its numbers
// for programs.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>

#include "record_format.hpp"
#include "report_document.hpp"

namespace report_run {

namespace {

// Longest value a table cell shows, in characters; charts.json has it all.
constexpr size_t kCellWidth = 64;
constexpr size_t kWhole = SIZE_MAX;

struct Cell {
    std::string text;
    size_t width = 0; // in characters
};

// A value as readable text, escaped as the tool's listings escape it:
// well-formed UTF-8 stays, a backslash doubles, any other byte that is not
// printable ASCII becomes \xHH. Cut after `most` characters.
Cell cell(std::string_view value, size_t most = kCellWidth) {
    Cell c;
    if (value.empty()) return {"(empty)", 7};
    const auto *s = reinterpret_cast<const unsigned char *>(value.data());
    for (size_t i = 0; i < value.size();) {
        if (c.width >= most) {
            c.text += "...";
            c.width += 3;
            break;
        }
        const size_t n = s[i] >= 0x80 ? cli::utf8_sequence(s + i, value.size() - i) : 0;
        if (n > 1) {
            c.text.append(value.substr(i, n));
            i += n;
            ++c.width;
        } else if (s[i] == '\\') {
            c.text += "\\\\";
            ++i;
            c.width += 2;
        } else if (s[i] >= 0x20 && s[i] < 0x7f) {
            c.text += value[i++];
            ++c.width;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", s[i++]);
            c.text += hex;
            c.width += 4;
        }
    }
    return c;
}

void pad(std::string &out, const Cell &c, size_t width) {
    out += c.text;
    if (c.width < width) out.append(width - c.width, ' ');
}

std::string count_text(uint64_t count) {
    return std::to_string(count);
}

void put_chart(std::string &out, const Chart &chart) {
    out += "\n== " + cell(chart.title).text + " (" + cell(chart.key).text + ", id " +
           std::to_string(chart.id) + ") ==\n";
    if (!chart.query.empty()) out += "query: " + cell(chart.query).text + "\n";
    if (!chart.unavailable.empty()) {
        out += "not available: " + chart.unavailable + "\n";
        return;
    }
    if (chart.rows.empty()) {
        out += "(no records)\n";
        return;
    }
    const bool two = chart.vars.size() == 2;
    std::vector<Cell> head = {
        cell(chart.vars[0]), two ? cell(chart.vars[1]) : Cell{}, {"count", 5}};
    std::vector<std::vector<Cell>> rows;
    for (const ChartRow &row : chart.rows) {
        const std::string number = count_text(row.count);
        rows.push_back({row.other_x ? Cell{kOther, 5} : cell(row.x),
                        row.other_y                                ? Cell{kOther, 5}
                        : two && (row.count > 0 || !row.y.empty()) ? cell(row.y)
                                                                   : Cell{},
                        {number, number.size()}});
    }
    size_t widths[3] = {};
    for (size_t c = 0; c < 3; ++c) {
        widths[c] = head[c].width;
        for (const auto &row : rows)
            widths[c] = std::max(widths[c], row[c].width);
    }
    auto line = [&](const std::vector<Cell> &row) {
        std::string text;
        pad(text, row[0], widths[0]);
        text += "  ";
        if (two) {
            pad(text, row[1], widths[1]);
            text += "  ";
        }
        text.append(widths[2] - row[2].width, ' ');
        text += row[2].text;
        out += text + "\n";
    };
    line(head);
    line({{std::string(widths[0], '-'), widths[0]},
          {std::string(widths[1], '-'), widths[1]},
          {std::string(widths[2], '-'), widths[2]}});
    for (const auto &row : rows)
        line(row);
}

void json_string(std::string &out, std::string_view bytes) {
    const size_t at = out.size();
    out.resize(at + cli::json_room(bytes.size()) + cli::kSlack);
    char *end = cli::put_json_string(out.data() + at, bytes);
    out.resize(static_cast<size_t>(end - out.data()));
}

void json_strings(std::string &out, const std::vector<std::string> &texts) {
    out += '[';
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) out += ',';
        json_string(out, texts[i]);
    }
    out += ']';
}

} // namespace

std::string render_txt(const ReportDocument &document) {
    std::string out;
    out += "Report      " + cell(document.name, kWhole).text + "\n";
    out += "Output      " + cell(document.output_name, kWhole).text + "\n";
    out += "Window      " + cell(document.window_text, kWhole).text + "\n";
    out += "Log filter  " + cell(document.filter_text, kWhole).text + "\n";
    out += "Generated   " + cell(document.generated, kWhole).text + "\n";
    out += "Records     " + std::to_string(document.records_selected) + " selected of " +
           std::to_string(document.records_read) + " read\n";
    std::string inputs;
    for (const std::string &input : document.inputs)
        inputs += (inputs.empty() ? "" : ", ") + cell(input, kWhole).text;
    out += "Inputs      " + inputs + "\n";
    for (const Chart &chart : document.charts)
        put_chart(out, chart);
    return out;
}

// "NAME":"VALUE" after `before` (a comma, or the object's opening brace).
void member(std::string &out, const char *before, const char *name, std::string_view value) {
    out += before;
    out += '"';
    out += name;
    out += "\":";
    json_string(out, value);
}

std::string render_charts_json(const ReportDocument &document) {
    std::string out;
    member(out, "{", "report", document.name);
    member(out, ",", "output", document.output_name);
    out += ",\"window\":{\"begin\":" + std::to_string(document.start) +
           ",\"end\":" + std::to_string(document.end);
    member(out, ",", "text", document.window_text);
    member(out, "},", "filter", document.filter_text);
    member(out, ",", "generated", document.generated);
    out += ",\"records_read\":" + std::to_string(document.records_read) +
           ",\"records_selected\":" + std::to_string(document.records_selected) + ",\"inputs\":";
    json_strings(out, document.inputs);
    out += ",\"charts\":[";
    for (size_t c = 0; c < document.charts.size(); ++c) {
        const Chart &chart = document.charts[c];
        out += c > 0 ? ",\n" : "\n";
        out += "{\"id\":" + std::to_string(chart.id);
        member(out, ",", "key", chart.key);
        member(out, ",", "title", chart.title);
        member(out, ",", "query", chart.query);
        out += ",\"vars\":";
        json_strings(out, chart.vars);
        out += ",\"fields\":";
        json_strings(out, chart.fields);
        out += ",\"by_time\":";
        out += chart.by_time ? "true" : "false";
        out += ",\"unavailable\":";
        if (chart.unavailable.empty())
            out += "null";
        else
            json_string(out, chart.unavailable);
        out += ",\"rows\":[";
        const bool two = chart.vars.size() == 2;
        for (size_t r = 0; r < chart.rows.size(); ++r) {
            const ChartRow &row = chart.rows[r];
            out += r > 0 ? ",{\"x\":" : "{\"x\":";
            json_string(out, row.x);
            if (two && row.count == 0 && row.y.empty()) { // a time bucket without records
                out += ",\"y\":null";
            } else if (two) {
                out += ",\"y\":";
                json_string(out, row.y);
            }
            out += ",\"count\":" + std::to_string(row.count);
            if (row.other_x) out += ",\"other_x\":true";
            if (row.other_y) out += ",\"other_y\":true";
            out += '}';
        }
        out += "]}";
    }
    out += "\n]}\n";
    return out;
}

} // namespace report_run
