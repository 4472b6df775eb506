// Selecting records with the report engine's own filter language: --where
// FILTER, --since and --until TIME on the commands that read log files, and
// a report's log filter text in report preview. Records are parsed once, by
// the category of their file; a line the filter rules out by its bytes
// (log_filter_may_match) is not parsed at all.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli.hpp"
#include "log_inputs.hpp"
#include "logbase.h"
#include "record_format.hpp"

// The selection's options, for Args, and their help text.
#define SELECTION_OPTIONS "--where", "--since", "--until"
#define SELECTION_HELP                                                                             \
    "--where FILTER keeps the records the filter selects, in the report engine's\n"                \
    "flat filter language (pri=alert OR pri=critical src=10.0.0.0/8 -action=Alert);\n"             \
    "--since and --until TIME (YYYY-MM-DD[ HH:MM[:SS]], T or - may stand for the\n"                \
    "blank) keep those from that moment on and those before it, by the records'\n"                 \
    "own date and time items. All the conditions given must hold.\n"

namespace cli {

class Selection {
  public:
    // Reads --where, --since and --until; a filter that does not compile or
    // a time of another form is rejected through `args`, with the position.
    void read(Args &args);
    // One more filter text that must hold; empty on success, else why not,
    // with the position.
    std::string add(const std::string &text);
    bool active() const { return !filters_.empty(); }

    // False when the line cannot be selected, so it need not be parsed.
    bool may_select(const char *line, size_t length) const {
        for (const log_filter *filter : line_tests_)
            if (!log_filter_may_match(filter, line, length)) return false;
        return true;
    }
    bool selects(const kv_entries &items) const {
        for (const auto &filter : filters_)
            if (log_filter_match(filter.get(), &items) != 1) return false;
        return true;
    }

  private:
    struct Free {
        void operator()(log_filter *filter) const { log_filter_free(filter); }
    };
    std::vector<std::unique_ptr<log_filter, Free>> filters_;
    std::vector<const log_filter *> line_tests_; // those whose line test can say no
};

// The records that parse and that the selection takes, each parsed once into
// items_ (all records when the selection is not active).
class SelectedRecords : public RecordHandler {
  public:
    explicit SelectedRecords(const Selection &selection) : selection_(selection) {}

  protected:
    enum class Take { kSelected, kPassed, kFailed };
    // kFailed: the record does not parse (reported on stderr).
    Take take(const InputFile &file, const LogReader::Record &record);

    const Selection &selection_;
    kv_entries items_{};
    int consumed_ = 0;
};

// csv: a header row of key names, then one row per selected record, a field
// per column (every key of the first file's category, or --fields), after
// a column naming the file when several files are read.
class CsvRows : public SelectedRecords {
  public:
    // `spreadsheet`: cells that would start a formula get a leading '.
    CsvRows(Output &out, const Columns &columns, const Selection &selection,
            bool spreadsheet = false)
        : SelectedRecords(selection), out_(&out), columns_(columns), spreadsheet_(spreadsheet) {}
    bool start(const InputFile &file) override;
    bool record(const InputFile &file, const LogReader::Record &record) override;
    std::unique_ptr<RecordHandler> worker(Output &out) override;

  private:
    Output *out_;
    Columns columns_;
    std::vector<const kv_entry *> cells_;
    int header_category_ = LOG_CAT_NONE;
    bool table_columns_ = false;
    bool spreadsheet_;
};

} // namespace cli
