#include "chart_engine.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/random.h>
#include <unordered_map>

#include "calendar.hpp"
#include "log_reader.hpp"
#include "report_vocabulary.hpp"

namespace report_run {

namespace {

// Which record key each chart variable reads. Direct fields keep their
// name; the renamed ones take the key of the category tables that holds
// what the chart's title says (the attack's type is its main_type, its
// severity the severity_level, an event's category its priority, and so
// on). A chart whose variable has no key in its category says so.
const std::vector<VariableSource> kTable = {
    {"type", "type", Bucket::kNone, false},
    {"subtype", "subtype", Bucket::kNone, false},
    {"src", "src", Bucket::kNone, false},
    {"dst", "dst", Bucket::kNone, false},
    {"policy", "policy", Bucket::kNone, false},
    {"service", "service", Bucket::kNone, false},
    {"srccountry", "srccountry", Bucket::kNone, false},
    {"http_host", "http_host", Bucket::kNone, false},
    {"user_name", "user_name", Bucket::kNone, true},
    {"msg", "msg", Bucket::kNone, false},
    {"action", "action", Bucket::kNone, false},
    {"signature_id", "signature_id", Bucket::kNone, false},
    {"attack_id", "main_type", Bucket::kNone, false},
    {"url", "http_url", Bucket::kNone, false},
    {"method", "http_method", Bucket::kNone, false},
    {"a_subtype", "subtype", Bucket::kNone, false},
    {"a_service", "service", Bucket::kNone, false},
    {"attack_cat", "severity_level", Bucket::kNone, false},
    {"session_id", "http_session_id", Bucket::kNone, false},
    {"fs_http_host", "http_host", Bucket::kNone, false},
    {"fs_user", "user_name", Bucket::kNone, true},
    {"fs_httprefer", "http_refer", Bucket::kNone, false},
    {"fs_httpversion", "http_version", Bucket::kNone, false},
    {"event_cat", "pri", Bucket::kNone, false},
    {"event_type", "subtype", Bucket::kNone, false},
    {"event_status", "status", Bucket::kNone, false},
    {"e_user", "user", Bucket::kNone, true},
    // No category's table holds the client's device: dev_id and device_id
    // name the logging unit, not the client.
    {"client_device", nullptr, Bucket::kNone, false},
    {"ihour", "time", Bucket::kHour, false},
    {"iwday", "date", Bucket::kWeekday, false},
    {"imonth", "date", Bucket::kMonth, false},
    {"imday", "date", Bucket::kMonthDay, false},
    {"iweek", "date", Bucket::kWeek, false},
    {"idate", "date", Bucket::kDate, false},
};

bool category_has(int category, const char *key) {
    const entry_desc *table = _get_ed_by_cat(category);
    for (int row = 0; table != nullptr && row < ENTRY_DESC_ROWS && table[row].name != nullptr;
         ++row)
        if (std::strcmp(table[row].name, key) == 0) return true;
    return false;
}

int category_of_type(std::string_view type) {
    for (int category : {LOG_CAT_ATTACK, LOG_CAT_TRAFFIC, LOG_CAT_EVENT})
        if (type == cli::category_name(category)) return category;
    return LOG_CAT_NONE;
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string civil_text(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    return text;
}

// Digits at text[at..at+n) as a number; -1 when any is not a digit.
int digits(std::string_view text, size_t at, size_t n) {
    int value = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Local date of an epoch time as days since 1970-01-01.
bool local_day(time_t t, int64_t &days) {
    struct tm broken {};
    if (localtime_r(&t, &broken) == nullptr) return false;
    days = days_from_civil(broken.tm_year + 1900, static_cast<unsigned>(broken.tm_mon + 1),
                           static_cast<unsigned>(broken.tm_mday));
    return true;
}

// Above this many date buckets the window is too long to show every one:
// only the span between the first and the last bucket with records is.
constexpr int64_t kMostBuckets = 1000;

uint64_t random_key() {
    uint64_t key = 0;
    if (getrandom(&key, sizeof key, 0) != sizeof key) key = static_cast<uint64_t>(time(nullptr));
    return key;
}

std::string pseudonym(const std::string &user, uint64_t key) {
    if (user.empty()) return user;
    char text[32];
    std::snprintf(text, sizeof text, "user-%016llx",
                  static_cast<unsigned long long>(lum_hash(user.data(), user.size(), key)));
    return text;
}

// Most frequent first, ties in ascending order of the value.
template <class Map> std::vector<std::pair<std::string, uint64_t>> ranked(const Map &totals) {
    std::vector<std::pair<std::string, uint64_t>> rows(totals.begin(), totals.end());
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    return rows;
}

} // namespace

const std::vector<VariableSource> &variable_table() {
    return kTable;
}

const VariableSource *variable_source(std::string_view name) {
    for (const VariableSource &source : kTable)
        if (name == source.name) return &source;
    return nullptr;
}

Query parse_query(std::string_view text) {
    Query query;
    bool in_vars = false;
    while (!text.empty() && query.error.empty()) {
        const size_t blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        if (word.empty()) continue;
        auto number = [&](std::string_view prefix, long &into) {
            if (!word.starts_with(prefix)) return false;
            auto n = cli::parse_integer(word.substr(prefix.size()));
            if (!n || *n < 1 || *n > 100000)
                query.error = "bad number in '" + std::string(word) + "'";
            else
                into = static_cast<long>(*n);
            return true;
        };
        if (word.starts_with(":vars=")) {
            std::string_view list = word.substr(6);
            for (size_t comma; !list.empty(); list.remove_prefix(comma + 1)) {
                comma = list.find(',');
                query.vars.emplace_back(list.substr(0, comma));
                if (comma == std::string_view::npos) break;
            }
            in_vars = true;
        } else if (number(":keepTopX=", query.keep_x) || number(":keepTopY=", query.keep_y)) {
        } else if (size_t eq = word.find("=="); !in_vars && eq != std::string_view::npos) {
            query.conditions.emplace_back(word.substr(0, eq), word.substr(eq + 2));
        } else {
            query.error = "'" + std::string(word) + "' is no condition, :vars= or :keepTop";
        }
    }
    if (query.error.empty() && (query.vars.empty() || query.vars.size() > 2))
        query.error = "it names " + std::to_string(query.vars.size()) + " variables";
    return query;
}

std::string bucket_of(Bucket bucket, std::string_view date, std::string_view time) {
    if (bucket == Bucket::kHour) {
        const int hour = time.size() >= 2 ? digits(time, 0, 2) : -1;
        if (hour < 0 || hour > 23 || (time.size() > 2 && time[2] != ':')) return {};
        return std::string(time.substr(0, 2));
    }
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return {};
    const int y = digits(date, 0, 4), m = digits(date, 5, 2), d = digits(date, 8, 2);
    if (y < 0 || m < 1 || m > 12 || d < 1 || d > 31) return {};
    const int64_t days = days_from_civil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
    const int weekday = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    switch (bucket) {
    case Bucket::kWeekday:
        return std::to_string(weekday);
    case Bucket::kMonth:
        return std::string(date.substr(0, 7));
    case Bucket::kMonthDay:
        return std::string(date.substr(8, 2));
    case Bucket::kWeek: // weeks begin on Sunday
        return civil_text(days - weekday);
    case Bucket::kDate:
        return std::string(date);
    default:
        return {};
    }
}

std::string bucket_label(Bucket bucket, const std::string &value) {
    if (bucket == Bucket::kWeekday && value.size() == 1 && value[0] >= '0' && value[0] <= '6')
        return lb::calendar::kDayNames[static_cast<size_t>(value[0] - '0')];
    return value;
}

ChartSet::ChartSet(const std::vector<uint32_t> &ids, time_t begin, time_t end)
    : query_ids_(ids), begin_(begin), end_(end) {
    for (uint32_t id : ids) {
        const auto *row = lb::report_vocab::chart_by_id(static_cast<int32_t>(id));
        Counter &counter = counters_.emplace_back();
        Chart &chart = counter.chart;
        chart.id = static_cast<int>(id);
        if (row == nullptr) {
            chart.unavailable = "no chart has this query id";
            continue;
        }
        chart.key = row->key;
        chart.title = row->title;
        chart.query = row->query;
        const Query query = parse_query(row->query);
        chart.vars = query.vars;
        if (!query.error.empty()) {
            chart.unavailable = "the query cannot be read: " + query.error;
            continue;
        }
        counter.keep_x = query.keep_x;
        counter.keep_y = query.keep_y;
        for (const auto &[field, value] : query.conditions)
            if (field == "type") counter.category = category_of_type(value);
        if (counter.category == LOG_CAT_NONE) {
            chart.unavailable = "its condition on type names no log category (attack, traffic or "
                                "event)";
            continue;
        }
        const std::string category = cli::category_name(counter.category);
        auto resolve = [&](const std::string &name) -> const VariableSource * {
            const VariableSource *source = variable_source(name);
            if (source == nullptr) {
                chart.unavailable = "'" + name + "' is in no variable table";
            } else if (source->key == nullptr) {
                chart.unavailable = "no " + category + " record holds '" + name + "'";
            } else if (!category_has(counter.category, source->key)) {
                chart.unavailable =
                    "no " + category + " record holds '" + name + "' (" + source->key + ")";
            } else {
                return source;
            }
            return nullptr;
        };
        for (const auto &[field, value] : query.conditions)
            if (const VariableSource *source = resolve(field)) {
                const int at = column(source->key);
                counter.terms.push_back({at, ids_[static_cast<size_t>(at)].id(value)});
            }
        for (const std::string &name : query.vars)
            if (const VariableSource *source = resolve(name)) {
                counter.vars.push_back({column(source->key), source->bucket, source->user});
                chart.fields.emplace_back(source->key);
            }
        chart.by_time = !counter.vars.empty() && counter.vars[0].bucket != Bucket::kNone;
        if (!chart.unavailable.empty()) counter.category = LOG_CAT_NONE;
    }
    bool dated = false;
    for (const Counter &counter : counters_)
        for (const Var &var : counter.vars)
            dated |= var.bucket != Bucket::kNone;
    if (dated) date_column_ = column("date"), time_column_ = column("time");
    std::string list;
    for (const std::string &key : keys_)
        list += (list.empty() ? "" : ",") + key;
    if (!list.empty()) columns_.select(list);
    cells_.resize(keys_.size());
    stamps_.assign(keys_.size(), 0);
    record_ids_.assign(keys_.size(), kNoId);
}

std::unique_ptr<ChartSet> ChartSet::fresh() const {
    return std::make_unique<ChartSet>(query_ids_, begin_, end_);
}

void ChartSet::merge(const ChartSet &other) {
    // Value ids are each set's own order of first sight: a value moves by
    // its text; a bucket's id is its number in both.
    for (size_t c = 0; c < counters_.size(); ++c) {
        Counter &mine = counters_[c];
        auto own_id = [&](const Var &var, uint64_t id) -> uint64_t {
            if (var.bucket != Bucket::kNone) return id;
            const auto column = static_cast<size_t>(var.column);
            return ids_[column].id(other.ids_[column].value(static_cast<uint32_t>(id)));
        };
        other.counters_[c].counts.each([&](uint64_t key, uint64_t count) {
            if (mine.vars.size() == 2)
                key =
                    own_id(mine.vars[0], key >> 32) << 32 | own_id(mine.vars[1], key & UINT32_MAX);
            else
                key = own_id(mine.vars[0], key);
            mine.counts.add(key, count);
        });
    }
}

int ChartSet::column(const std::string &key) {
    auto found = std::find(keys_.begin(), keys_.end(), key);
    if (found != keys_.end()) return static_cast<int>(found - keys_.begin());
    keys_.push_back(key);
    ids_.emplace_back();
    return static_cast<int>(keys_.size() - 1);
}

bool ChartSet::start(int category) {
    active_.clear();
    for (size_t c = 0; c < counters_.size(); ++c)
        if (counters_[c].category == category) active_.push_back(c);
    return !active_.empty();
}

namespace {

// Bucket numbers: days are counted from this bias so that every date of
// years 0 to 9999 is a positive 32-bit number.
constexpr int64_t kDayBias = int64_t{1} << 30;
constexpr uint32_t kNoBucket = UINT32_MAX - 1; // no date or time of the right form

uint64_t mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

// A fast hash of short values, eight bytes at a time.
uint64_t hash_bytes(std::string_view text) {
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ text.size();
    const char *p = text.data();
    size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 31;
    }
    if (n > 0) {
        uint64_t word = 0;
        std::memcpy(&word, p, n);
        h = (h ^ word) * 0x94d049bb133111ebULL;
    }
    return mix(h);
}

} // namespace

uint32_t ChartSet::ValueIds::id(std::string_view value) {
    const uint64_t hash = hash_bytes(value);
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        Slot &slot = slots_[at];
        if (slot.id == kNoId) {
            slot = {hash, static_cast<uint32_t>(values_.size())};
            values_.emplace_back(value);
            if (values_.size() * 2 > slots_.size()) grow();
            return static_cast<uint32_t>(values_.size() - 1);
        }
        if (slot.hash == hash && values_[slot.id] == value) return slot.id;
    }
}

void ChartSet::ValueIds::grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot &slot : old) {
        if (slot.id == kNoId) continue;
        size_t at = slot.hash & mask;
        while (slots_[at].id != kNoId)
            at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

void ChartSet::Counts::add(uint64_t key, uint64_t count) {
    const size_t mask = slots_.size() - 1;
    for (size_t at = mix(key) & mask;; at = (at + 1) & mask) {
        Slot &slot = slots_[at];
        if (slot.count == 0) {
            slot = {key, count};
            if (++used_ * 2 > slots_.size()) grow();
            return;
        }
        if (slot.key == key) {
            slot.count += count;
            return;
        }
    }
}

void ChartSet::Counts::grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot &slot : old) {
        if (slot.count == 0) continue;
        size_t at = mix(slot.key) & mask;
        while (slots_[at].count != 0)
            at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

uint32_t ChartSet::column_id(int column) {
    const auto c = static_cast<size_t>(column);
    if (stamps_[c] == record_) return record_ids_[c];
    stamps_[c] = record_;
    const kv_entry *cell = cells_[c];
    if (cell == nullptr) return record_ids_[c] = kNoId;
    const std::string_view value(cell->val, static_cast<size_t>(cell->val_len));
    // Neighbouring records often share a value (type, action, severity,
    // service): the last one's, still in cache, is tried before the table.
    const uint32_t last = record_ids_[c];
    if (last != kNoId && ids_[c].value(last) == value) return last;
    return record_ids_[c] = ids_[c].id(value);
}

uint32_t ChartSet::var_id(const Var &var) {
    if (var.bucket == Bucket::kNone) {
        const uint32_t id = column_id(var.column);
        return id != kNoId ? id : ids_[static_cast<size_t>(var.column)].id({});
    }
    if (date_stamp_ != record_) { // the record's date and hour, once
        date_stamp_ = record_;
        auto text = [&](int at) {
            const kv_entry *cell = cells_[static_cast<size_t>(at)];
            return cell ? std::string_view(cell->val, static_cast<size_t>(cell->val_len))
                        : std::string_view();
        };
        const std::string_view date = text(date_column_), time = text(time_column_);
        const bool dated = date.size() == 10 && date[4] == '-' && date[7] == '-';
        year_ = dated ? digits(date, 0, 4) : -1;
        month_ = dated ? digits(date, 5, 2) : -1;
        mday_ = dated ? digits(date, 8, 2) : -1;
        days_ = year_ < 0 || month_ < 1 || month_ > 12 || mday_ < 1 || mday_ > 31
                    ? INT64_MIN
                    : days_from_civil(year_, static_cast<unsigned>(month_),
                                      static_cast<unsigned>(mday_));
        hour_ = time.size() >= 2 && (time.size() == 2 || time[2] == ':') ? digits(time, 0, 2) : -1;
        if (hour_ > 23) hour_ = -1;
    }
    if (var.bucket == Bucket::kHour) return hour_ < 0 ? kNoBucket : static_cast<uint32_t>(hour_);
    if (days_ == INT64_MIN) return kNoBucket;
    const int64_t weekday = ((days_ % 7) + 11) % 7; // 1970-01-01 was a Thursday
    switch (var.bucket) {
    case Bucket::kWeekday:
        return static_cast<uint32_t>(weekday);
    case Bucket::kMonth:
        return static_cast<uint32_t>(year_ * 12 + month_ - 1);
    case Bucket::kMonthDay:
        return static_cast<uint32_t>(mday_);
    case Bucket::kWeek:
        return static_cast<uint32_t>(days_ - weekday + kDayBias);
    default:
        return static_cast<uint32_t>(days_ + kDayBias);
    }
}

std::string ChartSet::var_text(const Var &var, uint32_t id) const {
    if (var.bucket == Bucket::kNone) return ids_[static_cast<size_t>(var.column)].value(id);
    if (id == kNoBucket) return {};
    char text[32];
    switch (var.bucket) {
    case Bucket::kWeekday:
        std::snprintf(text, sizeof text, "%u", id);
        return text;
    case Bucket::kHour:
    case Bucket::kMonthDay:
        std::snprintf(text, sizeof text, "%02u", id);
        return text;
    case Bucket::kMonth:
        std::snprintf(text, sizeof text, "%04u-%02u", id / 12, id % 12 + 1);
        return text;
    default:
        return civil_text(static_cast<int64_t>(id) - kDayBias);
    }
}

void ChartSet::add(int category, const kv_entries &items) {
    columns_.place(category, items, cells_.data());
    ++record_;
    for (size_t c : active_) {
        Counter &counter = counters_[c];
        bool holds = true;
        for (const Term &term : counter.terms)
            holds = holds && column_id(term.column) == term.id;
        if (!holds) continue;
        uint64_t key = var_id(counter.vars[0]);
        if (counter.vars.size() == 2) key = key << 32 | var_id(counter.vars[1]);
        counter.counts.add(key);
    }
}

std::vector<std::string> ChartSet::all_buckets(Bucket bucket,
                                               const std::vector<std::string> &seen) const {
    std::vector<std::string> all;
    auto numbered = [&](int32_t scale, int first) {
        const int32_t n = timescale_topn(scale, 0);
        for (int i = 0; i < n; ++i) {
            char text[8];
            std::snprintf(text, sizeof text, scale == 2 ? "%d" : "%02d", i + first);
            all.emplace_back(text);
        }
    };
    switch (bucket) {
    case Bucket::kHour:
        numbered(1, 0);
        return all;
    case Bucket::kWeekday:
        numbered(2, 0);
        return all;
    case Bucket::kMonthDay:
        numbered(3, 1);
        return all;
    default:
        break;
    }
    // Dates, weeks and months: every one of the window, or of the span
    // with records when the window has none or is too long.
    int64_t first = 0, last = -1;
    const bool window = end_ > begin_ && local_day(begin_, first) && local_day(end_, last) &&
                        last - first < kMostBuckets * (bucket == Bucket::kMonth ? 30 : 1);
    if (!window) {
        std::vector<std::string> dated;
        for (const std::string &value : seen)
            if (!value.empty()) dated.push_back(value);
        if (dated.empty()) return {};
        auto [low, high] = std::minmax_element(dated.begin(), dated.end());
        std::string from = *low, to = *high;
        if (bucket == Bucket::kMonth) from += "-01", to += "-01";
        first = days_from_civil(digits(from, 0, 4), static_cast<unsigned>(digits(from, 5, 2)),
                                static_cast<unsigned>(digits(from, 8, 2)));
        last = days_from_civil(digits(to, 0, 4), static_cast<unsigned>(digits(to, 5, 2)),
                               static_cast<unsigned>(digits(to, 8, 2)));
        if (last - first > kMostBuckets * 31) return dated;
    }
    for (int64_t day = first; day <= last; ++day) {
        std::string date = civil_text(day);
        std::string value = bucket_of(bucket, date, {});
        if (all.empty() || all.back() != value) all.push_back(value);
    }
    return all;
}

void ChartSet::finish_one(Counter &counter, bool obfuscate, uint64_t key) {
    Chart &chart = counter.chart;
    const bool two = counter.vars.size() == 2;
    // Split the keys back into x and y, hiding user names first.
    std::map<std::pair<std::string, std::string>, uint64_t> pairs;
    counter.counts.each([&](uint64_t ids, uint64_t count) {
        std::string x = var_text(counter.vars[0], static_cast<uint32_t>(two ? ids >> 32 : ids));
        std::string y = two ? var_text(counter.vars[1], static_cast<uint32_t>(ids)) : std::string();
        if (obfuscate && counter.vars[0].user) x = pseudonym(x, key);
        if (obfuscate && two && counter.vars[1].user) y = pseudonym(y, key);
        pairs[{x, y}] += count;
    });
    counter.counts.clear();

    std::unordered_map<std::string, uint64_t> x_totals, y_totals;
    for (const auto &[xy, count] : pairs) {
        x_totals[xy.first] += count;
        if (two) y_totals[xy.second] += count;
    }
    // The values kept, in display order; the others go to Other.
    std::vector<std::string> xs;
    if (chart.by_time) {
        std::vector<std::string> seen;
        for (const auto &total : x_totals)
            seen.push_back(total.first);
        xs = all_buckets(counter.vars[0].bucket, seen);
        // A record without a date of the right form is shown after them.
        if (x_totals.count("")) xs.push_back("");
    } else {
        for (const auto &[x, total] : ranked(x_totals))
            if (counter.keep_x == 0 || xs.size() < static_cast<size_t>(counter.keep_x))
                xs.push_back(x);
    }
    std::unordered_map<std::string, size_t> x_rank, y_kept;
    for (size_t i = 0; i < xs.size(); ++i)
        x_rank.emplace(xs[i], i);
    for (const auto &[y, total] : ranked(y_totals))
        if (counter.keep_y == 0 || y_kept.size() < static_cast<size_t>(counter.keep_y))
            y_kept.emplace(y, y_kept.size());

    // Rows per kept x (and one for Other), each x's rows by count.
    struct Group {
        std::map<std::pair<bool, std::string>, uint64_t> ys; // (is Other, y)
    };
    std::vector<Group> groups(xs.size() + 1);
    for (const auto &[xy, count] : pairs) {
        auto rank = x_rank.find(xy.first);
        Group &group = groups[rank == x_rank.end() ? xs.size() : rank->second];
        const bool other_y = two && !y_kept.count(xy.second);
        group.ys[{other_y, other_y ? std::string() : xy.second}] += count;
    }
    for (size_t g = 0; g <= xs.size(); ++g) {
        const bool other_x = g == xs.size();
        if (other_x && groups[g].ys.empty()) continue;
        std::vector<ChartRow> rows;
        for (const auto &[y, count] : groups[g].ys) {
            ChartRow row;
            row.x = other_x         ? kOther
                    : chart.by_time ? bucket_label(counter.vars[0].bucket, xs[g])
                                    : xs[g];
            row.other_x = other_x;
            row.y = y.first ? kOther : y.second;
            row.other_y = y.first;
            row.count = count;
            rows.push_back(row);
        }
        if (rows.empty()) { // a time bucket without records
            ChartRow row;
            row.x = bucket_label(counter.vars[0].bucket, xs[g]);
            rows.push_back(row);
        }
        std::stable_sort(rows.begin(), rows.end(), [](const ChartRow &a, const ChartRow &b) {
            if (a.other_y != b.other_y) return b.other_y;
            return a.count != b.count ? a.count > b.count : a.y < b.y;
        });
        chart.rows.insert(chart.rows.end(), rows.begin(), rows.end());
    }
}

std::vector<Chart> ChartSet::finish(bool obfuscate) {
    const uint64_t key = obfuscate ? random_key() : 0;
    std::vector<Chart> charts;
    for (Counter &counter : counters_) {
        if (counter.chart.unavailable.empty()) finish_one(counter, obfuscate, key);
        charts.push_back(std::move(counter.chart));
    }
    return charts;
}

} // namespace report_run
