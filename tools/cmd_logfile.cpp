// logbase info / cat: inspect binary log files of every version.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

#include "cli.hpp"
#include "log_file_layout.hpp"
#include "log_inputs.hpp"
#include "log_reader.hpp"
#include "logbase.h"
#include "record_format.hpp"
#include "record_select.hpp"

namespace {

using cli::LogReader;

// cat: "#SEQ @OFFSET LENGTH: TEXT", the text escaped and without its line
// break; with --raw the text exactly as stored, one record per line. With a
// selection, of the records it takes.
class CatRecords : public cli::SelectedRecords {
  public:
    CatRecords(cli::Output &out, bool raw, const cli::Selection &selection)
        : SelectedRecords(selection), out_(&out), raw_(raw) {}
    bool start(const cli::InputFile &file) override {
        if (!raw_) cli::put_file_heading(*out_, file, first_);
        return true;
    }
    bool record(const cli::InputFile &file, const LogReader::Record &record) override {
        if (selection_.active())
            if (const Take taken = take(file, record); taken != Take::kSelected)
                return taken == Take::kPassed;
        std::string_view text(record.data, record.length);
        if (raw_) {
            // A record that already ends its line keeps its own line feed.
            out_->write(text);
            if (text.empty() || text.back() != '\n') out_->put('\n');
            return true;
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.remove_suffix(1);
        out_->put('#');
        cli::put_decimal(*out_, record.seq);
        out_->write(" @");
        cli::put_decimal(*out_, record.offset);
        out_->put(' ');
        cli::put_decimal(*out_, record.length);
        out_->write(": ");
        cli::put_escaped(*out_, text);
        out_->put('\n');
        return true;
    }
    std::unique_ptr<cli::RecordHandler> worker(cli::Output &out) override {
        auto copy = std::make_unique<CatRecords>(*this);
        copy->out_ = &out;
        return copy;
    }

  private:
    cli::Output *out_;
    bool raw_;
    bool first_ = true;
};

int run_info(int argc, char **argv, cli::Output &out);
int run_cat(int argc, char **argv, cli::Output &out);

const cli::Command kInfo{"info", "info [FILE...]",
                         "Shows each log file's version, header fields, record count and content\n"
                         "offset, and the log type and file number its name gives (alog.3.log:\n"
                         "attack, 3). It reads the header alone. FILE - (or no FILE) reads\n"
                         "standard input.\n",
                         run_info};
const cli::Command kCat{
    "cat",
    "cat [FILE...] [--raw] [--seq N | --offset O] [--where FILTER] [--since TIME] [--until TIME] "
    "[--category a|t|e] [--jobs N]",
    "Prints the records of log files of any version, one per line:\n"
    "  #SEQ @OFFSET LENGTH: TEXT\n"
    "Block records (versions 0 and 1) end at their first zero byte; control and\n"
    "non-ASCII bytes are shown as \\xHH. With --raw each record's text is written\n"
    "exactly as stored, followed by a line feed unless it already ends with one\n"
    "(for grep and awk). --seq N prints record N only, --offset O the record at\n"
    "file offset O: in versions 0 and 1 the block that holds O (any offset in\n"
    "it), in later versions the record that starts at O (0 means the first\n"
    "record). FILE - (or no FILE) reads standard input; several files follow\n"
    "one another.\n" SELECTION_HELP
    "The selection takes records apart by their file's category, as parse does\n"
    "(--category a|t|e when neither the name nor the records give it).\n" JOBS_HELP,
    run_cat};

// The header fields of one open file.
void print_info(cli::Output &out, const LogReader &log) {
    std::string text;
    auto line = [&](const char *label, const std::string &value) {
        text += label;
        text.append(17 - std::strlen(label), ' ');
        text += value + "\n";
    };
    const std::string &path = log.path();
    const std::string name = path == "-" ? std::string() : cli::base_name(path);
    char letter = 0;
    unsigned int number = 0;
    bool log_name = !name.empty() && match_logfname(name.c_str(), &letter, &number) == 1;
    const log_header &h = log.header();
    const off_t size = log.size();
    const int avail = size > INT32_MAX ? INT32_MAX : static_cast<int>(size);
    const int content = get_log_content_offset(&h, avail);
    std::string_view verstr(h.verstr, sizeof h.verstr);

    line("file:", path == "-" ? "standard input" : path);
    line("version:",
         std::to_string(log.version()) +
             (log.version() < LOG_FIRST_INDEXED_VERSION
                  ? " (" + std::to_string(lb::logfile::block_size(log.version())) + "-byte blocks)"
                  : std::string(" (indexed)")));
    line("version text:", cli::escaped(verstr.substr(0, verstr.find('\0'))));
    line("records:", std::to_string(h.record_count));
    line("index capacity:", std::to_string(h.index_capacity));
    line("file length:", log.seekable() ? std::to_string(size) : "unknown (not a regular file)");
    if (!log.seekable())
        line("content offset:", "unknown");
    else if (content >= 0)
        line("content offset:", std::to_string(content));
    else
        line("content offset:", "none (the file is shorter than its header and index)");
    if (log_name)
        line("log type:", std::string(cli::category_name(get_log_type_by_filename(name.c_str()))) +
                              " (letter " + letter + ", file number " + std::to_string(number) +
                              ")");
    else if (name.empty())
        line("log type:", "unknown (standard input has no file name)");
    else
        line("log type:", "unknown (" + name + " is not a log file name)");
    out.write(text);
}

int run_info(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv, {}, {});
    std::vector<std::string> paths;
    if (int usage = args.check(kInfo)) return usage;
    if (std::string error = cli::input_paths(args.positional(), paths); !error.empty())
        return cli::usage_error(kInfo, error);
    int status = cli::kOk;
    for (size_t i = 0; i < paths.size() && !out.failed(); ++i) {
        LogReader log;
        if (std::string error = log.open(paths[i]); !error.empty()) {
            status = cli::fail(cli::kFailed, error);
            continue;
        }
        if (i > 0) out.put('\n');
        print_info(out, log);
    }
    return status;
}

int run_cat(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv, {"--seq", "--offset", "--category", "--jobs", SELECTION_OPTIONS},
                   {"--raw"});
    cli::InputOptions options;
    cli::Selection selection;
    selection.read(args);
    options.command = kCat.name;
    options.needs_category = selection.active();
    if (args.value("--category") && !selection.active())
        args.reject("--category", "applies only with --where, --since or --until");
    cli::read_category(args, options);
    cli::read_jobs(args, options);
    options.only_seq = args.number("--seq", 0, INT32_MAX);
    options.only_offset = args.number("--offset", 0, INT32_MAX);
    if (args.value("--seq") && args.value("--offset"))
        args.reject("--offset", "does not go with --seq (give one of them)");
    std::vector<std::string> paths;
    if (int usage = args.check(kCat)) return usage;
    if (std::string error = cli::input_paths(args.positional(), paths); !error.empty())
        return cli::usage_error(kCat, error);
    CatRecords cat(out, args.flag("--raw"), selection);
    return cli::read_inputs(paths, options, cat, out);
}

cli::Registrar info_registrar{kInfo};
cli::Registrar cat_registrar{kCat};

} // namespace
