// logbase parse / csv: the items of each record of log files, as a readable
// listing, JSON Lines or CSV, through the library's line parser.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
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

std::string_view value_of(const kv_entry &item) {
    return {item.val, static_cast<size_t>(item.val_len)};
}

std::string_view key_of(const kv_entry &item) {
    return {item.key, static_cast<size_t>(item.key_len)};
}

// "record N: C items, B bytes" and one aligned "key  value" line per item.
class Listing : public cli::SelectedRecords {
  public:
    Listing(Output &out, const cli::Columns &fields, const cli::Selection &selection)
        : SelectedRecords(selection), out_(&out), fields_(fields) {
        cells_.resize(fields.size());
    }
    bool start(const InputFile &file) override {
        cli::put_file_heading(*out_, file, first_);
        return true;
    }
    bool record(const InputFile &file, const LogReader::Record &record) override {
        if (const Take taken = take(file, record); taken != Take::kSelected)
            return taken == Take::kPassed;
        std::vector<const kv_entry *> &shown = shown_;
        shown.clear();
        if (fields_.empty()) {
            for (int i = 0; i < items_.count; ++i)
                shown.push_back(&items_.entries[i]);
        } else {
            fields_.place(file.category, items_, cells_.data());
            for (const kv_entry *cell : cells_)
                if (cell != nullptr) shown.push_back(cell);
        }
        size_t width = 0;
        for (const kv_entry *item : shown)
            width = std::max(width, key_of(*item).size());
        out_->write("record ");
        cli::put_decimal(*out_, record.seq);
        out_->write(": ");
        cli::put_decimal(*out_, static_cast<uint64_t>(items_.count));
        out_->write(" items, ");
        cli::put_decimal(*out_, static_cast<uint64_t>(consumed_));
        out_->write(" bytes\n");
        // The values lie inside the record: its length bounds them all.
        char *const start = out_->reserve(shown.size() * (width + 5) +
                                          cli::escaped_room(record.length) + cli::kSlack);
        const char *readable = record.data + record.length + 1; // its NUL included
        char *w = start;
        for (const kv_entry *item : shown) {
            std::memset(w, ' ', width + 4);
            std::memcpy(w + 2, item->key, static_cast<size_t>(item->key_len));
            w = cli::put_escaped(w + width + 4, value_of(*item), readable);
            *w++ = '\n';
        }
        out_->commit(static_cast<size_t>(w - start));
        return true;
    }
    std::unique_ptr<cli::RecordHandler> worker(cli::Output &out) override {
        auto copy = std::make_unique<Listing>(*this);
        copy->out_ = &out;
        return copy;
    }

  private:
    Output *out_;
    cli::Columns fields_;
    std::vector<const kv_entry *> cells_, shown_;
    bool first_ = true;
};

// One flat JSON object per record: seq, file (several files), the items.
class JsonLines : public cli::SelectedRecords {
  public:
    JsonLines(Output &out, const cli::Columns &fields, const cli::Selection &selection,
              bool numbers)
        : SelectedRecords(selection), out_(&out), fields_(fields), members_(numbers) {
        cells_.resize(fields.size());
        for (const std::string &name : fields.names())
            names_room_ += name.size() + 8;
    }
    bool record(const InputFile &file, const LogReader::Record &record) override {
        if (const Take taken = take(file, record); taken != Take::kSelected)
            return taken == Take::kPassed;
        const std::string_view path = file.several ? file.reader.path() : std::string_view();
        // Keys are the tables' names (under 32 bytes); the values lie inside
        // the record, so its length bounds them all.
        const size_t keys_room =
            fields_.empty() ? 40 * static_cast<size_t>(items_.count) : names_room_;
        char *const start = out_->reserve(cli::json_room(record.length) + keys_room +
                                          cli::json_room(path.size()) + 40 + cli::kSlack);
        const char *readable = record.data + record.length + 1; // its NUL included
        char *w = start;
        w = put(w, "{\"seq\":");
        w = cli::put_decimal(w, record.seq);
        if (file.several) w = cli::put_json_string(put(w, ",\"file\":"), path);
        if (fields_.empty()) {
            w = members_.put(w, items_, readable);
        } else {
            fields_.place(file.category, items_, cells_.data());
            w = members_.put(w, fields_.names(), cells_.data(), readable);
        }
        w = put(w, "}\n");
        out_->commit(static_cast<size_t>(w - start));
        return true;
    }
    std::unique_ptr<cli::RecordHandler> worker(cli::Output &out) override {
        auto copy = std::make_unique<JsonLines>(*this);
        copy->out_ = &out;
        return copy;
    }

  private:
    static char *put(char *w, std::string_view text) {
        std::memcpy(w, text.data(), text.size());
        return w + text.size();
    }
    Output *out_;
    cli::Columns fields_;
    std::vector<const kv_entry *> cells_;
    size_t names_room_ = 0;
    cli::JsonMembers members_;
};

// The library's in-place conversion (convert_csv_log), record by record,
// without the version text; with a selection, of the records it takes.
class RawCsv : public cli::SelectedRecords {
  public:
    RawCsv(Output &out, const cli::Selection &selection) : SelectedRecords(selection), out_(&out) {}
    bool record(const InputFile &file, const LogReader::Record &record) override {
        if (selection_.active())
            if (const Take taken = take(file, record); taken != Take::kSelected)
                return taken == Take::kPassed;
        // Converted where it will be written; the byte after it stays NUL
        // because the parser may read it.
        const int length = static_cast<int>(record.length);
        char *text = out_->reserve(record.length + 1);
        std::memcpy(text, record.data, record.length + 1);
        if (int result = convert_csv_log(file.category, text, length); result != 0) {
            cli::report_record(file, record.seq, cli::parse_failure(result));
            return false;
        }
        int tag = 0, layout = 0;
        if (length >= 4) scan_ver(text, length, &tag, &layout);
        std::memmove(text, text + tag, static_cast<size_t>(length - tag));
        out_->commit(static_cast<size_t>(length - tag));
        return true;
    }
    std::unique_ptr<cli::RecordHandler> worker(cli::Output &out) override {
        auto copy = std::make_unique<RawCsv>(*this);
        copy->out_ = &out;
        return copy;
    }

  private:
    Output *out_;
};

// How CSV and JSON write bytes that are not text; the same for both.
#define BYTES_HELP                                                                                 \
    "CSV and JSON are valid UTF-8 whatever the bytes, and reversible: well-formed\n"               \
    "UTF-8 stays, any other byte is written \\xHH (two lower-case hex digits) and\n"               \
    "so a backslash is written \\\\ (in JSON text \"\\\\\\\\\"); replacing each \\\\ and\n"        \
    "\\xHH by its byte gives the value's bytes back.\n"

int run_parse(int argc, char **argv, Output &out);
int run_csv(int argc, char **argv, Output &out);

const cli::Command kParse{
    "parse",
    "parse [FILE...] [--seq N] [--json [--numbers]] [--fields K1,K2,...] [--category a|t|e] "
    "[--where FILTER] [--since TIME] [--until TIME] [--jobs N]",
    "Takes each record of log files of any version apart into its items by the\n"
    "category's key layout and prints them as an aligned key/value listing\n"
    "(control and non-ASCII bytes as \\xHH), or with --json as JSON Lines, one\n"
    "flat object per record: {\"seq\":N,\"file\":\"PATH\",\"date\":\"...\",...}, the\n"
    "items in record order, \"file\" only when several files are read. --fields\n"
    "picks and orders the keys (in JSON a key the record lacks is null). --seq N\n"
    "parses record N of each file only. Values are strings; with --numbers an\n"
    "item written without quotes whose value is an optional - and 1 to 15\n"
    "decimal digits without a leading zero (not -0) is a JSON number, so\n"
    "msg_id=000008817300 stays text and no reader rounds a number.\n" BYTES_HELP
    "FILE - (or no FILE) reads standard input. The category comes from a log file\n"
    "name (alog.log, tlog.3.log, elog.log), else from the first record's type=\n"
    "item, else from --category. A record that does not parse or cannot be read\n"
    "is reported on stderr and the run goes on; the exit status is then 1.\n" SELECTION_HELP
        JOBS_HELP,
    run_parse};
const cli::Command kCsv{
    "csv",
    "csv [FILE...] [--fields K1,K2,...] [--spreadsheet] [--category a|t|e] [--where FILTER] "
    "[--since TIME] [--until TIME] [--jobs N] | csv --raw [FILE...] [--category a|t|e] "
    "[--where FILTER]...",
    "Writes the records of log files as CSV (RFC 4180, lines ending in LF): a\n"
    "header row of key names, then one row per record with the raw value of each\n"
    "key (a quoted item without its quotes), empty where the record lacks the key.\n"
    "A field is quoted only when it holds a comma, a double quote (doubled), CR\n"
    "or LF. The columns are every key of the category's table in table order\n"
    "(the union of the layouts of every file version), or with --fields the keys\n"
    "given, in that order. When several files are read, a first column \"file\"\n"
    "names each row's file. --spreadsheet, for a spreadsheet: a cell starting\n"
    "with = + - @, tab or CR gets a leading ' so that it is shown as text and\n"
    "never run as a formula (attackers choose URLs, agents and messages).\n"
    "--raw writes each record as the library's conversion\n"
    "leaves it instead: separators become commas, the version text is dropped.\n"
    "That is not RFC 4180: values are neither quoted nor escaped, so a comma in\n"
    "a value (a msg often has one) shifts the columns after it.\n"
    "Files and category as for parse; records of another category than the\n"
    "first file's need --fields. A record that does not parse is reported on\n"
    "stderr and skipped; the exit status is then 1.\n" BYTES_HELP SELECTION_HELP JOBS_HELP,
    run_csv};

// FILE arguments, --category, --fields and the selection common to both
// commands; the exit status on a usage error, else kOk.
int prepare(const cli::Command &command, cli::Args &args, std::vector<std::string> &paths,
            cli::InputOptions &options, cli::Columns &fields, cli::Selection &selection) {
    selection.read(args);
    options.command = command.name;
    options.needs_category = true;
    cli::read_category(args, options);
    cli::read_jobs(args, options);
    if (auto list = args.value("--fields"))
        if (std::string error = fields.select(*list); !error.empty())
            args.reject("--fields", error);
    if (int usage = args.check(command)) return usage;
    if (std::string error = cli::input_paths(args.positional(), paths); !error.empty())
        return cli::usage_error(command, error);
    return cli::kOk;
}

int run_parse(int argc, char **argv, Output &out) {
    cli::Args args(argc, argv, {"--seq", "--category", "--fields", "--jobs", SELECTION_OPTIONS},
                   {"--json", "--numbers"});
    if (args.flag("--numbers") && !args.flag("--json")) args.reject("--numbers", "needs --json");
    std::vector<std::string> paths;
    cli::InputOptions options;
    cli::Columns fields;
    cli::Selection selection;
    options.only_seq = args.number("--seq", 0, INT32_MAX);
    if (int status = prepare(kParse, args, paths, options, fields, selection); status != cli::kOk)
        return status;
    if (args.flag("--json")) {
        JsonLines json(out, fields, selection, args.flag("--numbers"));
        return cli::read_inputs(paths, options, json, out);
    }
    Listing listing(out, fields, selection);
    return cli::read_inputs(paths, options, listing, out);
}

int run_csv(int argc, char **argv, Output &out) {
    cli::Args args(argc, argv, {"--category", "--fields", "--jobs", SELECTION_OPTIONS},
                   {"--raw", "--spreadsheet"});
    std::vector<std::string> paths;
    cli::InputOptions options;
    cli::Columns columns;
    cli::Selection selection;
    if (args.flag("--raw") && args.value("--fields"))
        args.reject("--fields", "does not apply to csv --raw (it writes whole records)");
    if (args.flag("--raw") && args.flag("--spreadsheet"))
        args.reject("--spreadsheet", "does not apply to csv --raw (it writes whole records)");
    if (int status = prepare(kCsv, args, paths, options, columns, selection); status != cli::kOk)
        return status;
    if (args.flag("--raw")) {
        RawCsv raw(out, selection);
        return cli::read_inputs(paths, options, raw, out);
    }
    cli::CsvRows csv(out, columns, selection, args.flag("--spreadsheet"));
    return cli::read_inputs(paths, options, csv, out);
}

cli::Registrar parse_registrar{kParse};
cli::Registrar csv_registrar{kCsv};

} // namespace
