// The reading side of the commands that take log files (info, cat, parse,
// csv): FILE arguments and standard input, the category of each file, the
// records in order, failed records on stderr and the run's summary.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli.hpp"
#include "log_reader.hpp"

namespace cli {

// A file being read, as a command's handler sees it.
struct InputFile {
    const LogReader &reader;
    int category; // a LOG_CAT_* code; LOG_CAT_NONE when the command needs none
    bool several; // the run reads more than one file
};

class RecordHandler {
  public:
    virtual ~RecordHandler() = default;
    // The file is open and its category known; false skips the file (the
    // handler said why on stderr).
    virtual bool start(const InputFile &file) {
        (void)file;
        return true;
    }
    // One record; false when it failed (the handler said why on stderr).
    virtual bool record(const InputFile &file, const LogReader::Record &record) = 0;

    // With more than one job, a handler of this one's settings and state
    // (as start() left them for the file) that writes to `out`: each worker
    // thread handles its batches of records with its own, and what they
    // write and say comes out in record order. nullptr (the default) keeps
    // the run on one thread: each record goes to this handler.
    virtual std::unique_ptr<RecordHandler> worker(Output &out) {
        (void)out;
        return nullptr;
    }
    // After a file, what a worker gathered besides its output (counters).
    virtual void merge(RecordHandler &worker) { (void)worker; }

    // Each record (or failed one) as the reading thread reads it, before it
    // is handled on whichever thread: for what follows the reading itself,
    // such as progress or a request to stop. False stops the reading of this
    // file and of those after it, as if they ended there. With more than one
    // job on a regular file the reading thread only lists the records: their
    // bytes are read where they are handled, and record.data is null here.
    virtual bool reading(const LogReader::Record &record) {
        (void)record;
        return true;
    }
};

struct InputOptions {
    const char *command = "";
    bool needs_category = false;
    int category_option = LOG_CAT_NONE;   // --category, LOG_CAT_NONE when not given
    std::optional<long long> only_seq;    // --seq: that record alone
    std::optional<long long> only_offset; // --offset: the record starting there
    unsigned jobs = 0;                    // --jobs: threads handling records, 0 one per core
};

// The files to read from the FILE arguments: "-" is standard input, and no
// FILE means standard input unless it is a terminal. Empty on success, else
// the usage message.
std::string input_paths(const std::vector<std::string> &arguments, std::vector<std::string> &paths);

// The category code of a --category value (a, t, e or the category's name),
// 0 for anything else.
int category_code(const std::string &text);

// --category into options.category_option; another value than a, t or e is
// rejected through `args`.
void read_category(Args &args, InputOptions &options);

// --jobs N into options.jobs (1 to 256).
void read_jobs(Args &args, InputOptions &options);

// --jobs's help text, for the commands that read records.
#define JOBS_HELP                                                                                  \
    "--jobs N parses and writes records on N threads (by default one per core),\n"                 \
    "in batches written in record order: the output is the same as with\n"                         \
    "--jobs 1. From a pipe that pauses, what was read is written within\n"                         \
    "milliseconds. --seq and --offset read on one thread.\n"

// Hands every record of every file to the handler, until a write to `out`
// fails; the run's exit status (a failed write is left to out.finish()).
int read_inputs(const std::vector<std::string> &paths, const InputOptions &options,
                RecordHandler &handler, Output &out);

// The file's name in messages ("standard input" for "-").
std::string shown_name(const LogReader &reader);

// "logbase: FILE: record SEQ WHY" on stderr.
void report_record(const InputFile &file, unsigned seq, const std::string &why);

// "==> FILE <==" before each file's output when the run reads several (a
// blank line between files), as head and tail mark them.
void put_file_heading(Output &out, const InputFile &file, bool &first);

// The parser's result code in words.
std::string parse_failure(int code);

} // namespace cli
