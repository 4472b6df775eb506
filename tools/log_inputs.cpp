#include "log_inputs.hpp"

#include <cstring>
#include <unistd.h>

#include "cli.hpp"

namespace cli {

namespace {

// How far the run is through one file: bytes of a file, records of a pipe.
class FileProgress {
  public:
    FileProgress(const char *command, const LogReader &reader)
        : progress_(std::string(command) + " " + shown_name(reader) +
                        (reader.seekable() ? " (bytes)" : " (records)"),
                    reader.seekable() ? static_cast<uint64_t>(reader.size()) : 0),
          by_offset_(reader.seekable()) {}
    void at(const LogReader::Record &record) {
        progress_.update(by_offset_ ? record.offset : ++records_);
    }

  private:
    Progress progress_;
    bool by_offset_;
    uint64_t records_ = 0;
};

// The library's name rule, for a name it takes for a log file name.
int category_by_name(const std::string &path, std::string &why_not) {
    if (path == "-") {
        why_not = "standard input has no file name";
        return LOG_CAT_NONE;
    }
    const std::string name = base_name(path);
    if (match_logfname(name.c_str(), nullptr, nullptr) != 1) {
        why_not = "'" + name + "' is not a log file name (alog.log, tlog.3.log, elog.log...)";
        return LOG_CAT_NONE;
    }
    const int category = get_log_type_by_filename(name.c_str());
    if (category == LOG_CAT_NONE)
        why_not = "the log file name '" + name + "' is of no category's letter";
    return category;
}

// The category whose layout the record parses with and whose name its own
// type= item gives.
int category_by_type(const LogReader::Record &record, std::string &why_not) {
    static kv_entries items;
    for (int category : {LOG_CAT_ATTACK, LOG_CAT_TRAFFIC, LOG_CAT_EVENT}) {
        if (parse_disk_log_entry(category, record.data, static_cast<int>(record.length), &items) <
            1)
            continue;
        const kv_value *type = parse_get_value(&items, "type");
        if (type != nullptr && std::string_view(type->val, static_cast<size_t>(type->val_len)) ==
                                   category_name(category))
            return category;
    }
    const char *type = static_cast<const char *>(memmem(record.data, record.length, " type=", 6));
    if (type == nullptr)
        why_not = "record " + std::to_string(record.seq) + " has no type= item";
    else
        why_not = "record " + std::to_string(record.seq) +
                  " is no attack, traffic or event record (" +
                  std::string(type + 1, strcspn(type + 1, " \n")) + ")";
    return LOG_CAT_NONE;
}

struct FileTally {
    std::string name;
    unsigned long long records = 0;
    unsigned long long failed = 0;
    bool cut_short = false;
};

// Reads one file; false when the file as a whole failed.
class FileRun {
  public:
    FileRun(LogReader &reader, const InputOptions &options, RecordHandler &handler, Output &out,
            bool several, FileTally &tally)
        : reader_(reader), options_(options), handler_(handler), out_(out), several_(several),
          tally_(tally) {}

    bool run() {
        if (options_.needs_category) {
            category_ = category_by_name(reader_.path(), why_not_name_);
            by_name_ = category_ != LOG_CAT_NONE;
            if (by_name_ && !agrees_with_option("the file name says")) return false;
        }
        if ((!options_.needs_category || category_ != LOG_CAT_NONE) && !start()) return false;
        if (options_.only_seq || options_.only_offset) return run_one();
        FileProgress progress(options_.command, reader_);
        LogReader::Record record{};
        for (;;) {
            const LogReader::Step step = reader_.next(record);
            if (step == LogReader::Step::kEnd) break;
            ++tally_.records;
            if (step == LogReader::Step::kFailed) {
                failed(record.seq, reader_.error());
            } else {
                progress.at(record);
                if (!take(record)) return false;
            }
            if (out_.failed()) return true;
        }
        if (!reader_.error().empty()) {
            tally_.cut_short = true;
            fail(kFailed, shown_name(reader_) + ": reading stopped: " + reader_.error());
        }
        return true;
    }

  private:
    InputFile file() const { return {reader_, category_, several_}; }

    bool start() {
        started_ = true;
        return handler_.start(file());
    }

    bool agrees_with_option(const char *rule) {
        if (options_.category_option == LOG_CAT_NONE || options_.category_option == category_)
            return true;
        fail(kFailed, shown_name(reader_) + ": " + rule + " " + category_name(category_) +
                          ", but --category says " + category_name(options_.category_option));
        return false;
    }

    // The category from the first readable record when the name gave none.
    bool decide(const LogReader::Record &record) {
        std::string why_not_type;
        category_ = category_by_type(record, why_not_type);
        if (category_ != LOG_CAT_NONE) return agrees_with_option("its type= items say") && start();
        category_ = options_.category_option;
        if (category_ != LOG_CAT_NONE) return start();
        fail(kFailed, shown_name(reader_) + ": cannot tell the category: " + why_not_name_ + "; " +
                          why_not_type + "; and no --category a|t|e was given");
        return false;
    }

    bool take(const LogReader::Record &record) {
        if (!started_ && !decide(record)) return false;
        if (!handler_.record(file(), record) && ++tally_.failed == 1 && by_name_)
            explain_name_mismatch(record);
        return true;
    }

    // The name rule decided, and a record fails: say so once when the
    // record is of another category by its own type= item.
    void explain_name_mismatch(const LogReader::Record &record) {
        std::string unused;
        const int by_type = category_by_type(record, unused);
        if (by_type == LOG_CAT_NONE || by_type == category_) return;
        fail(kFailed, shown_name(reader_) + ": the file name says " + category_name(category_) +
                          ", but record " + std::to_string(record.seq) + " is a" +
                          (by_type == LOG_CAT_ATTACK ? "n " : " ") + category_name(by_type) +
                          " record by its type= item; read it as standard input (-) to go by "
                          "that");
    }

    void failed(unsigned seq, const std::string &why) {
        ++tally_.failed;
        // The reader's reasons may already name the record.
        const std::string named = "record " + std::to_string(seq) + ": ";
        report_record(file(), seq,
                      "unreadable: " + (why.starts_with(named) ? why.substr(named.size()) : why));
    }

    // --seq or --offset: one record, by position when the file allows it.
    bool run_one() {
        std::optional<long long> seq = options_.only_seq;
        if (options_.only_offset) seq = seq_at_offset(*options_.only_offset);
        if (reader_.seekable()) {
            if (!seq || *seq < 0 || *seq >= reader_.count()) return no_record();
            ++tally_.records;
            auto record = reader_.read(static_cast<int>(*seq));
            if (!record) return failed(static_cast<unsigned>(*seq), reader_.error()), true;
            return take(*record);
        }
        LogReader::Record record{};
        for (LogReader::Step step; (step = reader_.next(record)) != LogReader::Step::kEnd;) {
            const bool wanted =
                seq ? record.seq == *seq
                    : *options_.only_offset == 0 || record.offset == *options_.only_offset;
            if (!wanted) continue;
            ++tally_.records;
            if (step == LogReader::Step::kFailed) return failed(record.seq, reader_.error()), true;
            return take(record);
        }
        return no_record();
    }

    // The sequence number of the record at a file offset; nullopt when only
    // a scan of an indexed stream can tell.
    std::optional<long long> seq_at_offset(long long offset) {
        if (reader_.version() < LOG_FIRST_INDEXED_VERSION)
            return offset / (reader_.version() == 0 ? LOG_BLOCK_SIZE_V0 : LOG_BLOCK_SIZE_V1);
        if (!reader_.seekable()) return std::nullopt;
        if (offset < 0 || offset > INT32_MAX) return -1;
        return get_log_index_global(reader_.fd(), static_cast<int>(offset), &reader_.header());
    }

    bool no_record() {
        const std::string what =
            options_.only_offset
                ? "no record starts at offset " + std::to_string(*options_.only_offset)
                : "no record " + std::to_string(*options_.only_seq) + " (the file holds " +
                      std::to_string(reader_.count()) + ")";
        fail(kFailed, shown_name(reader_) + ": " + what);
        return false;
    }

    LogReader &reader_;
    const InputOptions &options_;
    RecordHandler &handler_;
    Output &out_;
    bool several_;
    FileTally &tally_;
    int category_ = LOG_CAT_NONE;
    bool started_ = false;
    bool by_name_ = false;
    std::string why_not_name_;
};

void print_summary(const std::vector<FileTally> &tallies) {
    unsigned long long records = 0, failed = 0;
    std::string files;
    for (const FileTally &t : tallies) {
        records += t.records;
        failed += t.failed;
        if (t.failed == 0 && !t.cut_short) continue;
        files += (files.empty() ? "" : ", ") + t.name + ": " + std::to_string(t.failed) + " of " +
                 std::to_string(t.records) + (t.cut_short ? ", the rest unreadable" : "");
    }
    if (!files.empty())
        fail(kFailed, std::to_string(failed) + " of " + std::to_string(records) +
                          " records failed (" + files + ")");
}

} // namespace

std::string input_paths(const std::vector<std::string> &arguments,
                        std::vector<std::string> &paths) {
    paths = arguments;
    if (!paths.empty()) return {};
    if (isatty(STDIN_FILENO)) return "FILE expected (standard input is a terminal)";
    paths.push_back("-");
    return {};
}

int category_code(const std::string &text) {
    for (int category : {LOG_CAT_EVENT, LOG_CAT_TRAFFIC, LOG_CAT_ATTACK})
        if (text == category_name(category) ||
            (text.size() == 1 && text[0] == category_name(category)[0]))
            return category;
    return LOG_CAT_NONE;
}

void read_category(Args &args, InputOptions &options) {
    if (auto text = args.value("--category")) {
        options.category_option = category_code(*text);
        if (options.category_option == LOG_CAT_NONE)
            args.reject("--category", "takes a, t or e, not '" + *text + "'");
    }
}

std::string parse_failure(int code) {
    const char *meaning;
    switch (code) {
    case KV_ERR_CATEGORY:
        meaning = "unknown category";
        break;
    case KV_ERR_EMPTY:
        meaning = "nothing after the version tag";
        break;
    case KV_ERR_KEY:
        meaning = "a key is not where the layout wants it";
        break;
    case KV_ERR_END:
        meaning = "no valid end of an item or of the line";
        break;
    case KV_ERR_EQUALS:
        meaning = "no '=' after a key";
        break;
    case KV_ERR_QUOTE:
        meaning = "a quoted value does not open with '\"'";
        break;
    default:
        meaning = "unknown failure";
    }
    return "does not parse: code " + std::to_string(code) + " (" + meaning + ")";
}

void report_record(const InputFile &file, unsigned seq, const std::string &why) {
    fail(kFailed, shown_name(file.reader) + ": record " + std::to_string(seq) + " " + why);
}

void put_file_heading(Output &out, const InputFile &file, bool &first) {
    if (!file.several) return;
    out.write(first ? "==> " : "\n==> ");
    out.write(file.reader.path());
    out.write(" <==\n");
    first = false;
}

std::string shown_name(const LogReader &reader) {
    return reader.path() == "-" ? "standard input" : reader.path();
}

int read_inputs(const std::vector<std::string> &paths, const InputOptions &options,
                RecordHandler &handler, Output &out) {
    int status = kOk;
    std::vector<FileTally> tallies;
    for (const std::string &path : paths) {
        LogReader reader;
        if (std::string error = reader.open(path); !error.empty()) {
            status = fail(kFailed, error);
            continue;
        }
        tallies.push_back({shown_name(reader)});
        if (!FileRun(reader, options, handler, out, paths.size() > 1, tallies.back()).run())
            status = kFailed;
        if (tallies.back().failed > 0 || tallies.back().cut_short) status = kFailed;
        if (out.failed()) break;
    }
    if (!out.failed()) print_summary(tallies);
    return status;
}

} // namespace cli
