// The charts of a report computed in one pass: each chart row's query read
// into conditions and variables, each variable resolved to what it reads
// from a record of the chart's category, one counter per distinct value (or
// pair of values) per chart, and the top-N cut made at the end.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "log_inputs.hpp"
#include "logbase.h"
#include "record_format.hpp"
#include "report_document.hpp"

namespace report_run {

// The time buckets of is_var_by_time, in the order of its names.
enum class Bucket { kNone, kHour, kWeekday, kMonth, kMonthDay, kWeek, kDate };

// One row of the variable table: a chart variable (or condition field) and
// the record key it reads. A time bucket reads "date" (or "time" for the
// hour); a null key means no record of any category has it.
struct VariableSource {
    const char *name;
    const char *key;
    Bucket bucket;
    bool user; // a user name: hidden when the report obfuscates users
};

// The documented table; nullptr for a name it does not hold.
const VariableSource *variable_source(std::string_view name);
const std::vector<VariableSource> &variable_table();

// A chart row's query text, as written.
struct Query {
    std::vector<std::pair<std::string, std::string>> conditions; // field == value
    std::vector<std::string> vars;                               // one or two
    long keep_x = 0, keep_y = 0;                                 // 0: keep all
    std::string error;                                           // the text is not of that form
};
Query parse_query(std::string_view text);

// Every chart of a run, fed record after record.
class ChartSet {
  public:
    // The charts of the query ids in order; `window` bounds the date buckets.
    ChartSet(const std::vector<uint32_t> &ids, time_t begin, time_t end);

    // The charts of a file of `category`; false when none applies (no need to
    // parse its records for the charts).
    bool start(int category);
    // One selected record of that file, parsed into `items`.
    void add(int category, const kv_entries &items);

    // The rows of every chart after the top-N cut; user names replaced by
    // pseudonyms when `obfuscate` (a fresh key per run, so the same user is
    // the same pseudonym within one report only).
    std::vector<Chart> finish(bool obfuscate);

  private:
    struct ViewHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    struct Term {
        int column;
        std::string value;
    };
    struct Var {
        int column = -1; // of the key read, -1 for none
        Bucket bucket = Bucket::kNone;
        bool user = false;
    };
    struct Counter {
        Chart chart;
        int category = LOG_CAT_NONE;
        std::vector<Term> terms;
        std::vector<Var> vars;
        long keep_x = 0, keep_y = 0;
        // The value (one variable) or the pair as length of x, x, y.
        std::unordered_map<std::string, uint64_t, ViewHash, std::equal_to<>> counts;
    };

    int column(const std::string &key);
    std::string_view value(const Var &var);
    void finish_one(Counter &counter, bool obfuscate, uint64_t key);
    std::vector<std::string> all_buckets(Bucket bucket, const std::vector<std::string> &seen) const;

    std::vector<Counter> counters_;
    std::vector<std::string> keys_; // the record keys read, one column each
    cli::Columns columns_;
    std::vector<const kv_entry *> cells_;
    std::vector<size_t> active_; // counters of the current file's category
    time_t begin_, end_;
    // The current record's date-derived buckets, made when first asked for.
    std::string buckets_[7];
    bool bucket_made_[7] = {};
    std::string pair_;
};

// The bucket value of a record's "YYYY-MM-DD" date and "HH:MM:SS" time, as
// text that sorts in time order (the weekday as its number, 0 for Sunday);
// empty when they are not of that form.
std::string bucket_of(Bucket bucket, std::string_view date, std::string_view time);
// What a bucket value is shown as (the weekday's name, else the value).
std::string bucket_label(Bucket bucket, const std::string &value);

} // namespace report_run
