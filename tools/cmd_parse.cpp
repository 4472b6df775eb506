// logbase parse / csv: the items of each record of a log file, and the
// records converted to CSV, through the library's line parser.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

#include "logbase.h"
#include "tools/cli.hpp"
#include "tools/log_reader.hpp"

namespace {

using cli::LogReader;

// Files above this size show progress on a terminal's stderr.
constexpr off_t kProgressAbove = 4 << 20;

const char *code_meaning(int code) {
    switch (code) {
    case KV_ERR_CATEGORY:
        return "unknown category";
    case KV_ERR_EMPTY:
        return "nothing after the version tag";
    case KV_ERR_KEY:
        return "the expected key is missing";
    case KV_ERR_END:
        return "no valid end of an item or of the line";
    case KV_ERR_EQUALS:
        return "no '=' after a key";
    case KV_ERR_QUOTE:
        return "a quoted value does not open with '\"'";
    default:
        return "unknown failure";
    }
}

// 1 event, 2 traffic, 3 attack from --category or the file name; 0 if none.
int category_of(const std::optional<std::string> &option, const std::string &path) {
    if (option) return *option == "e" ? 1 : *option == "t" ? 2 : *option == "a" ? 3 : -1;
    return get_log_type_by_filename(cli::base_name(path).c_str());
}

class Progress {
  public:
    Progress(const char *what, off_t file_size, uint32_t total)
        : what_(what), total_(total),
          shown_(file_size > kProgressAbove && isatty(STDERR_FILENO) && total > 0) {}
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", 60, "");
    }
    void at(uint32_t done) {
        if (!shown_ || done % 4096 != 0) return;
        std::fprintf(stderr, "\r%s: %u of %u records (%u%%)", what_, done, total_,
                     static_cast<unsigned>(100ull * done / total_));
    }

  private:
    const char *what_;
    uint32_t total_;
    bool shown_;
};

void report_failure(uint32_t seq, int code) {
    std::fprintf(stderr, "logbase: record %u does not parse: code %d (%s)\n", seq, code,
                 code_meaning(code));
}

// Length of the valid UTF-8 sequence at the head of `s`, 0 if it is not one.
size_t utf8_sequence(std::string_view s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    const size_t n = lead >= 0xf0 && lead < 0xf5 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
    if (n == 0 || lead >= 0xf5 || s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xc0) != 0x80) return 0;
    return n;
}

// A JSON string; a byte that is not part of valid UTF-8 stands as \u00XX.
std::string json_string(std::string_view bytes) {
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else if (size_t n = c >= 0x80 ? utf8_sequence(bytes.substr(i)) : 0; n > 0) {
            out.append(bytes.substr(i, n));
            i += n - 1;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
    }
    return out + "\"";
}

void print_listing(uint32_t seq, int consumed, const kv_entries &items) {
    int width = 0;
    for (int i = 0; i < items.count; ++i)
        width = std::max(width, items.entries[i].key_len);
    std::printf("record %u: %d items, %d bytes\n", seq, items.count, consumed);
    for (int i = 0; i < items.count; ++i) {
        const kv_entry &e = items.entries[i];
        std::printf("  %-*.*s  %s\n", width, e.key_len, e.key,
                    cli::escape_bytes({e.val, static_cast<size_t>(e.val_len)}).c_str());
    }
}

void print_json(uint32_t seq, const kv_entries &items) {
    std::string line = "{\"seq\":" + std::to_string(seq) + ",\"items\":{";
    for (int i = 0; i < items.count; ++i) {
        const kv_entry &e = items.entries[i];
        if (i > 0) line += ',';
        line += json_string({e.key, static_cast<size_t>(e.key_len)}) + ':' +
                json_string({e.val, static_cast<size_t>(e.val_len)});
    }
    line += "}}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

int run_parse(int argc, char **argv);
int run_csv(int argc, char **argv);

const cli::Command kParse{
    "parse", "parse FILE [--seq N] [--json] [--category a|t|e]",
    "Takes each record of a log file of any version apart into its items by the\n"
    "category's key layout, and prints them as an aligned key/value listing, or\n"
    "with --json as JSON Lines: {\"seq\":N,\"items\":{\"date\":\"...\",...}} (bytes\n"
    "that are not UTF-8 appear as \\u00XX). In the listing, control and non-ASCII\n"
    "bytes are shown as \\xHH. The category comes from the file name (alog, tlog,\n"
    "elog) unless --category gives it. --seq N parses record N only. A record\n"
    "that does not parse is reported on stderr with its code and the run goes\n"
    "on; the exit status is then 1.\n",
    run_parse};
const cli::Command kCsv{
    "csv", "csv FILE [--category a|t|e]",
    "Writes every record of a log file to stdout converted to CSV by the library:\n"
    "item separators become commas (spaces inside values stay), and the timezone,\n"
    "ml_svm_accuracy, ml_svm_log_match_types and ml_allow_method items become whole\n"
    "double-quoted fields. Each record's version tag is not written. A record\n"
    "that does not parse is reported on stderr and skipped; the exit status is\n"
    "then 1.\n",
    run_csv};

// Opens the file and finds its category; the exit status on failure.
int prepare(const cli::Command &command, const cli::Args &args, LogReader &reader, int &category) {
    if (!args.error().empty() || args.positional().size() != 1)
        return cli::usage_error(command, args.error().empty() ? "one FILE expected" : args.error());
    const std::string &path = args.positional()[0];
    category = category_of(args.value("--category"), path);
    if (category < 0) return cli::usage_error(command, "--category takes a, t or e");
    if (category == 0)
        return cli::usage_error(command, "the file name does not tell the category; give "
                                         "--category a|t|e");
    if (std::string error = reader.open(path); !error.empty())
        return cli::fail(cli::kFailed, error);
    return cli::kOk;
}

int run_parse(int argc, char **argv) {
    cli::Args args(argc, argv, {"--seq", "--category"});
    LogReader reader;
    int category = 0;
    if (int status = prepare(kParse, args, reader, category); status != cli::kOk) return status;
    uint32_t first = 0, last = reader.count();
    if (auto seq_text = args.value("--seq")) {
        auto seq = cli::parse_integer(*seq_text);
        if (!seq || *seq < 0 || *seq >= reader.count())
            return cli::fail(cli::kFailed, "no record " + *seq_text + " (the file holds " +
                                               std::to_string(reader.count()) + ")");
        first = static_cast<uint32_t>(*seq);
        last = first + 1;
    }
    const bool json = args.flag("--json");
    int status = cli::kOk;
    kv_entries items;
    Progress progress("parse", reader.size(), last - first);
    for (uint32_t seq = first; seq < last; ++seq) {
        progress.at(seq - first);
        auto record = reader.read(static_cast<int>(seq));
        if (!record) return cli::fail(cli::kFailed, "cannot read record " + std::to_string(seq));
        const int length = static_cast<int>(record->length);
        const int consumed = parse_disk_log_entry(category, record->data, length, &items);
        if (consumed < 1) {
            report_failure(seq, consumed);
            status = cli::kFailed;
        } else if (json) {
            print_json(seq, items);
        } else {
            print_listing(seq, consumed, items);
        }
    }
    return status;
}

int run_csv(int argc, char **argv) {
    cli::Args args(argc, argv, {"--category"});
    LogReader reader;
    int category = 0;
    if (int status = prepare(kCsv, args, reader, category); status != cli::kOk) return status;
    int status = cli::kOk;
    Progress progress("csv", reader.size(), reader.count());
    for (uint32_t seq = 0; seq < reader.count(); ++seq) {
        progress.at(seq);
        auto record = reader.read(static_cast<int>(seq));
        if (!record) return cli::fail(cli::kFailed, "cannot read record " + std::to_string(seq));
        const int length = static_cast<int>(record->length);
        char text[LogReader::kRecordMax + 1]; // converted in place; the record is read-only
        std::memcpy(text, record->data, record->length + 1);
        const int result = convert_csv_log(category, text, length);
        if (result != 0) {
            report_failure(seq, result);
            status = cli::kFailed;
            continue;
        }
        int tag = 0, layout = 0;
        scan_ver(text, length, &tag, &layout);
        std::fwrite(text + tag, 1, static_cast<size_t>(length - tag), stdout);
    }
    return status;
}

cli::Registrar parse_registrar{kParse};
cli::Registrar csv_registrar{kCsv};

} // namespace
