// logbase count: how many records a selection takes, in all or by the values
// of some keys, most frequent first. Memory grows with the number of distinct
// value combinations only: one counter each, no record is kept.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cli.hpp"
#include "log_inputs.hpp"
#include "logbase.h"
#include "record_format.hpp"
#include "record_select.hpp"

namespace {

using cli::InputFile;
using cli::LogReader;
using cli::Output;

// A combination of values as one string that sorts as the values do, one
// after another in byte order: each value's bytes with NUL written as
// NUL 1, then NUL NUL. A shorter value thus sorts before its extensions.
void append_value(std::string &key, std::string_view value) {
    for (size_t nul; (nul = value.find('\0')) != std::string_view::npos;
         value.remove_prefix(nul + 1))
        key.append(value.substr(0, nul)).append(1, '\0').append(1, '\1');
    key.append(value).append(2, '\0');
}

// The values of a combination that append_value made.
std::vector<std::string> values_of(std::string_view key) {
    std::vector<std::string> values;
    while (!key.empty()) {
        std::string &value = values.emplace_back();
        size_t nul;
        while ((nul = key.find('\0')) != std::string_view::npos && key[nul + 1] == '\1') {
            value.append(key.substr(0, nul)).push_back('\0');
            key.remove_prefix(nul + 2);
        }
        value.append(key.substr(0, nul));
        key.remove_prefix(nul + 2);
    }
    return values;
}

class Tally : public cli::SelectedRecords {
  public:
    Tally(const cli::Columns &keys, const cli::Selection &selection)
        : SelectedRecords(selection), keys_(keys), cells_(keys.size()) {}

    bool record(const InputFile &file, const LogReader::Record &record) override {
        if (const Take taken = take(file, record); taken != Take::kSelected)
            return taken == Take::kPassed;
        ++total_;
        if (keys_.empty()) return true;
        keys_.place(file.category, items_, cells_.data());
        combination_.clear();
        for (const kv_entry *cell : cells_)
            append_value(combination_,
                         cell == nullptr
                             ? std::string_view()
                             : std::string_view(cell->val, static_cast<size_t>(cell->val_len)));
        if (auto found = counts_.find(combination_); found != counts_.end())
            ++found->second;
        else
            counts_.emplace(combination_, 1);
        return true;
    }

    std::unique_ptr<cli::RecordHandler> worker(Output &) override {
        auto copy = std::make_unique<Tally>(*this);
        copy->counts_.clear();
        copy->total_ = 0;
        return copy;
    }
    void merge(cli::RecordHandler &worker) override {
        auto &tally = static_cast<Tally &>(worker);
        total_ += tally.total_;
        for (const auto &[combination, count] : tally.counts_)
            counts_[combination] += count;
    }

    unsigned long long total() const { return total_; }

    // The combinations, most frequent first, ties in the values' byte order;
    // the first `top` of them.
    std::vector<std::pair<std::string_view, unsigned long long>> rows(size_t top) const {
        std::vector<std::pair<std::string_view, unsigned long long>> rows(counts_.begin(),
                                                                          counts_.end());
        auto before = [](const auto &a, const auto &b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        };
        top = std::min(top, rows.size());
        std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(top), rows.end(),
                          before);
        rows.resize(top);
        return rows;
    }

  private:
    cli::Columns keys_;
    std::vector<const kv_entry *> cells_;
    std::string combination_;
    std::unordered_map<std::string, unsigned long long> counts_;
    unsigned long long total_ = 0;
};

void put_csv(Output &out, const cli::Columns &keys, const Tally &tally, size_t top,
             bool spreadsheet) {
    for (const std::string &name : keys.names())
        out.write(name), out.put(','); // key names need no quoting
    out.write("count\n");
    for (const auto &[combination, count] : tally.rows(top)) {
        for (const std::string &value : values_of(combination)) {
            char *start = out.reserve(cli::csv_room(value.size()) + cli::kSlack);
            out.commit(static_cast<size_t>(cli::put_csv_field(start, value, nullptr, spreadsheet) -
                                           start));
            out.put(',');
        }
        cli::put_decimal(out, count);
        out.put('\n');
    }
}

void put_json(Output &out, const cli::Columns &keys, const Tally &tally, size_t top) {
    for (const auto &[combination, count] : tally.rows(top)) {
        const std::vector<std::string> values = values_of(combination);
        out.put('{');
        for (size_t k = 0; k < values.size(); ++k) {
            cli::put_json_string(out, keys.names()[k]);
            out.put(':');
            cli::put_json_string(out, values[k]);
            out.put(',');
        }
        out.write("\"count\":");
        cli::put_decimal(out, count);
        out.write("}\n");
    }
}

int run(int argc, char **argv, Output &out);

const cli::Command kCount{
    "count",
    "count [FILE...] [--by KEY[,KEY...]] [--top N] [--json | --spreadsheet] [--category a|t|e] "
    "[--where FILTER] [--since TIME] [--until TIME] [--jobs N]",
    "Counts the records of log files that parse and that the selection takes:\n"
    "one number, the rows csv would write with the same options. With --by, one\n"
    "row per distinct combination of the keys' values, most frequent first, ties\n"
    "in ascending byte order of the values: CSV with a header (the keys, then\n"
    "count), or with --json JSON Lines ({\"src\":\"...\",\"count\":N}). A record\n"
    "without a key counts under an empty value. --top N keeps the first N rows.\n"
    "--spreadsheet guards the CSV values as csv --spreadsheet does.\n"
    "The counts are over all the files together. Files and category as for\n"
    "parse.\n" SELECTION_HELP JOBS_HELP,
    run};

int run(int argc, char **argv, Output &out) {
    cli::Args args(argc, argv, {"--by", "--top", "--category", "--jobs", SELECTION_OPTIONS},
                   {"--json", "--spreadsheet"});
    cli::InputOptions options;
    cli::Selection selection;
    cli::Columns keys;
    selection.read(args);
    options.command = kCount.name;
    options.needs_category = true;
    cli::read_category(args, options);
    cli::read_jobs(args, options);
    if (auto list = args.value("--by"))
        if (std::string error = keys.select(*list); !error.empty()) args.reject("--by", error);
    const std::optional<long long> top = args.number("--top", 1, INT64_MAX);
    if (args.value("--top") && !args.value("--by")) args.reject("--top", "needs --by");
    if (args.flag("--spreadsheet") && (args.flag("--json") || !args.value("--by")))
        args.reject("--spreadsheet", "needs --by and CSV (no --json)");
    std::vector<std::string> paths;
    if (int usage = args.check(kCount)) return usage;
    if (std::string error = cli::input_paths(args.positional(), paths); !error.empty())
        return cli::usage_error(kCount, error);

    Tally tally(keys, selection);
    const int status = cli::read_inputs(paths, options, tally, out);
    const size_t rows = top ? static_cast<size_t>(*top) : SIZE_MAX;
    if (out.failed()) return status;
    if (!keys.empty() && args.flag("--json"))
        put_json(out, keys, tally, rows);
    else if (!keys.empty())
        put_csv(out, keys, tally, rows, args.flag("--spreadsheet"));
    else if (args.flag("--json"))
        out.printf("{\"count\":%llu}\n", tally.total());
    else
        out.printf("%llu\n", tally.total());
    return status;
}

cli::Registrar reg{kCount};

} // namespace
