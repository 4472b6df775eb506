// logbase info / cat: inspect binary log files of every version.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "logbase.h"
#include "tools/cli.hpp"
#include "tools/log_reader.hpp"

namespace {

using cli::LogReader;

// The record as one line of text, without its trailing line break.
int print_record(LogReader &log, int seq) {
    auto record = log.read(seq);
    if (!record) return cli::fail(cli::kFailed, "cannot read record " + std::to_string(seq));
    std::string_view text(record->data, record->length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    std::printf("#%d @%u %u: %s\n", seq, record->offset, record->length,
                cli::escape_bytes(text).c_str());
    return cli::kOk;
}

// Opens the file or explains on stderr why not; the exit status.
int open_log(const std::string &path, LogReader &log) {
    std::string error = log.open(path);
    return error.empty() ? cli::kOk : cli::fail(cli::kFailed, error);
}

int run_info(int argc, char **argv);
int run_cat(int argc, char **argv);

const cli::Command kInfo{
    "info", "info FILE",
    "Shows a log file's version, header fields, record count and content offset,\n"
    "and the log type and file number its name gives (alog.3.log: attack, 3).\n",
    run_info};
const cli::Command kCat{
    "cat", "cat FILE [--seq N | --offset O]",
    "Prints the records of a log file of any version, one per line:\n"
    "  #SEQ @OFFSET LENGTH: TEXT\n"
    "Block records (versions 0 and 1) end at their first zero byte; control and\n"
    "non-ASCII bytes are shown as \\xHH. --seq N prints record N only, --offset O\n"
    "the record that starts at file offset O (0 means the first record).\n",
    run_cat};

int run_info(int argc, char **argv) {
    cli::Args args(argc, argv, {});
    if (!args.error().empty() || args.positional().size() != 1)
        return cli::usage_error(kInfo, args.error().empty() ? "one FILE expected" : args.error());
    const std::string &path = args.positional()[0];
    LogReader log;
    if (int status = open_log(path, log); status != cli::kOk) return status;

    std::string name = cli::base_name(path);
    char letter = 0;
    unsigned int number = 0;
    bool log_name = match_logfname(name.c_str(), &letter, &number) == 1;
    int64_t size = file_size(path.c_str());
    int avail = size > INT32_MAX ? INT32_MAX : static_cast<int>(size);
    const log_header &h = log.header();
    int content = get_log_content_offset(&h, avail);

    std::printf("file:            %s\n", path.c_str());
    std::printf("version:         %d (%s)\n", log.version(),
                log.version() == 0   ? "1024-byte blocks"
                : log.version() == 1 ? "4096-byte blocks"
                                     : "indexed");
    std::string_view verstr(h.verstr, sizeof h.verstr);
    std::printf("version text:    %s\n",
                cli::escape_bytes(verstr.substr(0, verstr.find('\0'))).c_str());
    std::printf("records:         %u\n", h.record_count);
    std::printf("index capacity:  %u\n", h.index_capacity);
    std::printf("file length:     %lld\n", static_cast<long long>(size));
    if (content >= 0)
        std::printf("content offset:  %d\n", content);
    else
        std::printf("content offset:  none (the file is shorter than its header and index)\n");
    if (log_name)
        std::printf("log type:        %s (letter %c, file number %u)\n",
                    cli::category_name(get_log_type_by_filename(name.c_str())), letter, number);
    else
        std::printf("log type:        unknown (%s is not a log file name)\n", name.c_str());
    return cli::kOk;
}

int run_cat(int argc, char **argv) {
    cli::Args args(argc, argv, {"--seq", "--offset"});
    if (!args.error().empty() || args.positional().size() != 1)
        return cli::usage_error(kCat, args.error().empty() ? "one FILE expected" : args.error());
    auto seq_text = args.value("--seq");
    auto offset_text = args.value("--offset");
    if (seq_text && offset_text) return cli::usage_error(kCat, "give --seq or --offset, not both");
    LogReader log;
    if (int status = open_log(args.positional()[0], log); status != cli::kOk) return status;

    if (seq_text) {
        auto seq = cli::parse_integer(*seq_text);
        if (!seq || *seq < 0 || *seq >= log.count())
            return cli::fail(cli::kFailed, "no record " + *seq_text + " (the file holds " +
                                               std::to_string(log.count()) + ")");
        return print_record(log, static_cast<int>(*seq));
    }
    if (offset_text) {
        auto offset = cli::parse_integer(*offset_text);
        if (!offset || *offset < 0 || *offset > INT32_MAX)
            return cli::usage_error(kCat, "--offset needs a file offset");
        int seq = get_log_index_global(log.fd(), static_cast<int>(*offset), &log.header());
        if (seq < 0 || static_cast<unsigned>(seq) >= log.count())
            return cli::fail(cli::kFailed, "no record starts at offset " + *offset_text);
        return print_record(log, seq);
    }
    for (uint32_t seq = 0; seq < log.count(); ++seq)
        if (int status = print_record(log, static_cast<int>(seq)); status != cli::kOk)
            return status;
    return cli::kOk;
}

cli::Registrar info_registrar{kInfo};
cli::Registrar cat_registrar{kCat};

} // namespace
