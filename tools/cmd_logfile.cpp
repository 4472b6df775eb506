// logbase info / cat / pack: inspect binary log files of every version and
// write them from text lines.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "logbase.h"
#include "tools/cli.hpp"
#include "tools/log_inputs.hpp"
#include "tools/log_reader.hpp"
#include "tools/logfile_writer.hpp"
#include "tools/record_format.hpp"

namespace {

using cli::LogReader;

// cat: "#SEQ @OFFSET LENGTH: TEXT", the text escaped and without its line
// break; with --raw the text exactly as stored, one record per line.
class CatRecords : public cli::RecordHandler {
  public:
    CatRecords(cli::OutBuffer &out, bool raw) : out_(out), raw_(raw) {}
    bool start(const cli::InputFile &file) override {
        if (raw_ || !file.several) return true;
        out_.write(first_ ? "==> " : "\n==> ");
        out_.write(file.reader.path());
        out_.write(" <==\n");
        first_ = false;
        return true;
    }
    bool record(const cli::InputFile &, const LogReader::Record &record) override {
        std::string_view text(record.data, record.length);
        if (raw_) {
            // A record that already ends its line keeps its own line feed.
            out_.write(text);
            if (text.empty() || text.back() != '\n') out_.put('\n');
            return true;
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.remove_suffix(1);
        out_.put('#');
        cli::put_decimal(out_, record.seq);
        out_.write(" @");
        cli::put_decimal(out_, record.offset);
        out_.put(' ');
        cli::put_decimal(out_, record.length);
        out_.write(": ");
        cli::put_escaped(out_, text);
        out_.put('\n');
        return true;
    }

  private:
    cli::OutBuffer &out_;
    bool raw_;
    bool first_ = true;
};

int run_info(int argc, char **argv);
int run_cat(int argc, char **argv);
int run_pack(int argc, char **argv);

const cli::Command kInfo{"info", "info [FILE...]",
                         "Shows each log file's version, header fields, record count and content\n"
                         "offset, and the log type and file number its name gives (alog.3.log:\n"
                         "attack, 3). FILE - (or no FILE) reads standard input.\n",
                         run_info};
const cli::Command kCat{
    "cat", "cat [FILE...] [--raw] [--seq N | --offset O]",
    "Prints the records of log files of any version, one per line:\n"
    "  #SEQ @OFFSET LENGTH: TEXT\n"
    "Block records (versions 0 and 1) end at their first zero byte; control and\n"
    "non-ASCII bytes are shown as \\xHH. With --raw each record's text is written\n"
    "exactly as stored, followed by a line feed unless it already ends with one\n"
    "(for grep and awk). --seq N prints record N only, --offset O the record that\n"
    "starts at file offset O (0 means the first record). FILE - (or no FILE)\n"
    "reads standard input; several files follow one another.\n",
    run_cat};
const cli::Command kPack{
    "pack", "pack --version V [--out FILE] LINES.txt",
    "Writes a log file of version V from a text file holding one log line per\n"
    "line (blank lines are skipped). Each record ends as the appliance writes it,\n"
    "with a space and a line feed. Version 0: 1024-byte blocks, and the first line\n"
    "must begin with 'd' (date=...). Version 1: 4096-byte blocks; a line without a\n"
    "version text gets \"v001xxxx\" in front. Version 2 and higher: a 24-byte header\n"
    "(version text \"vVVVxxxx\"), the index, then the records (4096 bytes at most).\n"
    "The file goes to FILE, or to standard output when that is not a terminal.\n",
    run_pack};

// The header fields of one open file.
void print_info(cli::OutBuffer &out, const LogReader &log) {
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
    line("version:", std::to_string(log.version()) + (log.version() == 0   ? " (1024-byte blocks)"
                                                      : log.version() == 1 ? " (4096-byte blocks)"
                                                                           : " (indexed)"));
    line("version text:", cli::escape_bytes(verstr.substr(0, verstr.find('\0'))));
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

int run_info(int argc, char **argv) {
    cli::Args args(argc, argv, {});
    std::vector<std::string> paths;
    if (!args.error().empty()) return cli::usage_error(kInfo, args.error());
    if (std::string error = cli::input_paths(args.positional(), paths); !error.empty())
        return cli::usage_error(kInfo, error);
    cli::OutBuffer out;
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
    return out.finish(status);
}

int run_cat(int argc, char **argv) {
    cli::Args args(argc, argv, {"--seq", "--offset"});
    std::vector<std::string> paths;
    if (!args.error().empty()) return cli::usage_error(kCat, args.error());
    if (std::string error = cli::input_paths(args.positional(), paths); !error.empty())
        return cli::usage_error(kCat, error);
    cli::InputOptions options;
    options.command = kCat.name;
    auto seq_text = args.value("--seq");
    auto offset_text = args.value("--offset");
    if (seq_text && offset_text) return cli::usage_error(kCat, "give --seq or --offset, not both");
    if (seq_text) {
        options.only_seq = cli::parse_integer(*seq_text);
        if (!options.only_seq || *options.only_seq < 0)
            return cli::usage_error(kCat, "--seq needs a record number, not '" + *seq_text + "'");
    }
    if (offset_text) {
        options.only_offset = cli::parse_integer(*offset_text);
        if (!options.only_offset || *options.only_offset < 0 || *options.only_offset > INT32_MAX)
            return cli::usage_error(kCat,
                                    "--offset needs a file offset, not '" + *offset_text + "'");
    }
    cli::OutBuffer out;
    CatRecords cat(out, args.flag("--raw"));
    return cli::read_inputs(paths, options, cat, out);
}

// The records of the text file: one per non-blank line, ending in " \n".
bool read_records(const std::string &path, std::vector<std::string> &records) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty()) records.push_back(line + " \n");
    }
    return true;
}

bool has_version_text(const std::string &record) {
    return record.size() >= 8 && record[0] == 'v';
}

int run_pack(int argc, char **argv) {
    cli::Args args(argc, argv, {"--version", "--out"});
    if (!args.error().empty() || args.positional().size() != 1)
        return cli::usage_error(kPack,
                                args.error().empty() ? "one LINES.txt expected" : args.error());
    auto version_text = args.value("--version");
    auto version = version_text ? cli::parse_integer(*version_text) : std::nullopt;
    if (!version || *version < 0 || *version > 999)
        return cli::usage_error(kPack, "--version needs a version from 0 to 999");
    std::vector<std::string> records;
    if (!read_records(args.positional()[0], records))
        return cli::fail(cli::kFailed, "cannot read " + args.positional()[0]);
    if (*version == 0 && !records.empty() && records[0][0] != 'd')
        return cli::fail(cli::kFailed, "a version-0 file must begin with a line starting 'd'");
    if (*version == 1)
        for (std::string &record : records)
            if (!has_version_text(record)) record = logfile_writer::version_text(1) + record;

    std::string bytes;
    try {
        if (*version >= 2)
            for (size_t i = 0; i < records.size(); ++i)
                if (records[i].size() > LogReader::kRecordMax)
                    throw std::invalid_argument("line " + std::to_string(i + 1) + " has " +
                                                std::to_string(records[i].size()) +
                                                " bytes, more than 4096");
        bytes = logfile_writer::log_file(static_cast<int>(*version), records);
    } catch (const std::invalid_argument &e) {
        return cli::fail(cli::kFailed, std::string("cannot pack: ") + e.what());
    }
    auto out = args.value("--out");
    if (out) {
        if (!logfile_writer::save(*out, bytes))
            return cli::fail(cli::kFailed, "cannot write " + *out);
        return cli::kOk;
    }
    if (isatty(STDOUT_FILENO)) return cli::usage_error(kPack, "give --out FILE or redirect stdout");
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
        return cli::fail(cli::kFailed, "cannot write the log file to standard output");
    return cli::kOk;
}

cli::Registrar info_registrar{kInfo};
cli::Registrar cat_registrar{kCat};
cli::Registrar pack_registrar{kPack};

} // namespace
