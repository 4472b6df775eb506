// The charts of a report computed in one pass: each chart row's query read
// into conditions and variables, each variable resolved to what it reads
// from a record of the chart's category, one counter per distinct value (or
// pair of values) per chart, and the top-N cut made at the end.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
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

    // A set of the same charts with nothing counted yet, for another thread.
    std::unique_ptr<ChartSet> fresh() const;
    // Adds what `other`, a fresh() set fed other records, counted.
    void merge(const ChartSet &other);

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
    // Ids of the distinct values of one record key, in order of first sight:
    // a record's value is hashed and compared once per key, however many
    // charts read it.
    class ValueIds {
      public:
        uint32_t id(std::string_view value);
        const std::string &value(uint32_t id) const { return values_[id]; }

      private:
        struct Slot {
            uint64_t hash = 0;
            uint32_t id = kNoId;
        };
        void grow();
        std::vector<Slot> slots_ = std::vector<Slot>(64);
        std::vector<std::string> values_;
    };
    // Counts by a 64-bit key (the x id, or x and y ids), open addressing.
    class Counts {
      public:
        void add(uint64_t key, uint64_t count = 1);
        template <class Each> void each(Each &&each) const {
            for (const Slot &slot : slots_)
                if (slot.count != 0) each(slot.key, slot.count);
        }
        void clear() { slots_.assign(64, {}); }

      private:
        struct Slot {
            uint64_t key = 0;
            uint64_t count = 0; // 0: empty
        };
        void grow();
        std::vector<Slot> slots_ = std::vector<Slot>(64);
        size_t used_ = 0;
    };
    static constexpr uint32_t kNoId = UINT32_MAX;

    struct Term {
        int column;
        uint32_t id; // of the value the record's must equal
    };
    struct Var {
        int column = -1; // of the key read
        Bucket bucket = Bucket::kNone;
        bool user = false;
    };
    struct Counter {
        Chart chart;
        int category = LOG_CAT_NONE;
        std::vector<Term> terms;
        std::vector<Var> vars;
        long keep_x = 0, keep_y = 0;
        Counts counts;
    };

    int column(const std::string &key);
    // The id of the record's value of a column (kNoId when it lacks the key),
    // or of a variable (a missing key counts as the empty value; a bucket's
    // id is its number).
    uint32_t column_id(int column);
    uint32_t var_id(const Var &var);
    std::string var_text(const Var &var, uint32_t id) const;
    void finish_one(Counter &counter, bool obfuscate, uint64_t key);
    std::vector<std::string> all_buckets(Bucket bucket, const std::vector<std::string> &seen) const;

    std::vector<uint32_t> query_ids_;
    std::vector<Counter> counters_;
    std::vector<std::string> keys_; // the record keys read, one column each
    std::vector<ValueIds> ids_;     // per column
    cli::Columns columns_;
    std::vector<const kv_entry *> cells_;
    std::vector<size_t> active_; // counters of the current file's category
    time_t begin_, end_;
    // The current record's ids, made when first asked for (stamp == record).
    uint64_t record_ = 0;
    std::vector<uint64_t> stamps_;
    std::vector<uint32_t> record_ids_;
    uint64_t date_stamp_ = 0;
    int date_column_ = -1, time_column_ = -1;
    int64_t days_ = 0; // since 1970-01-01 of the record's date; INT64_MIN: none of the form
    int year_ = 0, month_ = 0, mday_ = 0, hour_ = -1;
};

// The bucket value of a record's "YYYY-MM-DD" date and "HH:MM:SS" time, as
// text that sorts in time order (the weekday as its number, 0 for Sunday);
// empty when they are not of that form.
std::string bucket_of(Bucket bucket, std::string_view date, std::string_view time);
// What a bucket value is shown as (the weekday's name, else the value).
std::string bucket_label(Bucket bucket, const std::string &value);

} // namespace report_run
