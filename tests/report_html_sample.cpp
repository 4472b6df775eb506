// Writes a sample report's html and mht, and its numbers as JSON, for the
// browser test (test_report_html.py) and the screenshot in docs/.
// usage: report_html_sample DIR [--hostile]
#include <cstdint>
#include <cstdio>
#include <string>

#include "record_format.hpp"
#include "report_run/report_document.hpp"

using report_run::Chart;

namespace {

Chart chart(int id, const char *key, const char *title, std::vector<std::string> vars,
            std::vector<report_run::ChartRow> rows, bool by_time = false) {
    Chart c;
    c.id = id;
    c.key = key;
    c.title = title;
    c.vars = std::move(vars);
    c.query = "type==attack :vars=" + c.vars[0] + (c.vars.size() > 1 ? "," + c.vars[1] : "");
    c.rows = std::move(rows);
    c.by_time = by_time;
    return c;
}

std::string json(std::string_view bytes) {
    std::string text(cli::json_room(bytes.size()) + cli::kSlack, '\0');
    text.resize(static_cast<size_t>(cli::put_json_string(text.data(), bytes) - text.data()));
    return text;
}

bool write(const std::string &path, const std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (f && std::fclose(f) == 0) && ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    const bool hostile = argc > 2 && std::string(argv[2]) == "--hostile";
    report_run::ReportDocument d;
    d.name = "weekly-attacks";
    d.output_name = "weekly-attacks-2026-11-23-0630";
    d.window_text = "2026-11-16 00:00:00 UTC to 2026-11-22 23:59:00 UTC";
    d.filter_text = "date-time>2026-11-15-23:59:59 date-time<2026-11-22-23:59:01 -pri=debug";
    d.generated = "2026-11-23 06:30:04 UTC";
    d.records_read = 48210;
    d.records_selected = 3194;
    d.inputs = {"/var/log/alog.log", "/var/log/alog.1.log"};
    d.charts = {
        chart(15, "attacks-ts", "Top_Sources_Of_Attacks", {"src"},
              {{"185.220.101.34", "", 1204},
               {"45.155.205.233", "", 731},
               {"203.0.113.77", "", 402},
               {"192.0.2.140", "", 388},
               {"198.51.100.23", "", 117},
               {"Other", "", 352}}),
        chart(9, "attacks-dst-ip", "Attacks_by_Attack_Destination_and_Top_Attack_Source_IP",
              {"dst", "src"},
              {{"10.0.0.12", "185.220.101.34", 880},
               {"10.0.0.14", "45.155.205.233", 610},
               {"10.0.0.12", "203.0.113.77", 302},
               {"10.0.0.14", "185.220.101.34", 214},
               {"10.0.0.9", "192.0.2.140", 201},
               {"10.0.0.9", "Other", 96}}),
        chart(14, "attacks-day", "Attacks_By_Day", {"idate"},
              {{"2026-11-16", "", 412},
               {"2026-11-17", "", 655},
               {"2026-11-18", "", 0},
               {"2026-11-19", "", 298},
               {"2026-11-20", "", 1021},
               {"2026-11-21", "", 504},
               {"2026-11-22", "", 304}},
              true),
        chart(20, "attacks-date-severity", "Attacks_by_Date_and_Top_Attack_Severity",
              {"idate", "attack_cat"}, {}, true),
        chart(33, "threat-weight-client-device", "Top_Client_Device_Of_Threat_Weight",
              {"client_device"}, {}),
    };
    const char *days[] = {"2026-11-16", "2026-11-17", "2026-11-18", "2026-11-19", "2026-11-20"};
    const uint64_t high[] = {120, 340, 0, 95, 610}, medium[] = {260, 240, 0, 180, 330};
    for (int i = 0; i < 5; ++i) {
        d.charts[3].rows.push_back({days[i], "High", high[i]});
        d.charts[3].rows.push_back({days[i], "Medium", medium[i]});
    }
    d.charts[4].unavailable = "no record of the logs read has the variable client_device";
    if (hostile) {
        const std::string long_value(4000, 'A');
        d.name = "<script>alert(1)</script>\"'&";
        d.filter_text = "src=='\"><img src=x onerror=alert(1)>'";
        d.inputs.push_back("\xff\xfe<b>bold</b>\x01");
        d.charts.push_back(chart(1, "<i>key</i>", "Hostile_<script>alert(2)</script>",
                                 {"url", "\"y'"},
                                 {{"<script>alert(3)</script>", "\xed\xa0\x80\xc3\xa9", UINT64_MAX},
                                  {"\"'><svg onload=alert(4)>", "a\\b\x1b[31m", 7},
                                  {long_value, "</td></tr></table><script>alert(5)</script>", 1},
                                  {"", "", 0}}));
        d.charts.back().unavailable = "";
        d.charts[4].unavailable = "<script>alert(6)</script>";
    }
    std::string charts = "{\"charts\":[";
    for (const Chart &c : d.charts) {
        charts += (&c == &d.charts[0] ? "" : ",") + std::string("\n{\"id\":") +
                  std::to_string(c.id) + ",\"key\":" + json(c.key) + ",\"title\":" + json(c.title) +
                  ",\"unavailable\":" + json(c.unavailable) + ",\"rows\":[";
        for (const auto &r : c.rows)
            charts += (&r == &c.rows[0] ? "" : ",") + std::string("{\"x\":") + json(r.x) +
                      ",\"y\":" + json(r.y) + ",\"count\":" + std::to_string(r.count) + "}";
        charts += "]}";
    }
    const std::string dir = argv[1];
    return write(dir + "/report.html", report_run::render_html(d)) &&
                   write(dir + "/report.mht", report_run::render_mht(d)) &&
                   write(dir + "/charts.json", charts + "\n]}\n")
               ? 0
               : 1;
}
