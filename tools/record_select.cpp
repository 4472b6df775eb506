#include "record_select.hpp"

#include <cctype>
#include <optional>
#include <string_view>

namespace cli {

namespace {

// The reason and byte of a refused filter text, with a caret under the byte
// when the text is short and printable enough to be shown above it.
std::string located(const std::string &text, const log_filter_error &error) {
    if (error.position < 0) return error.reason;
    const auto at = static_cast<size_t>(error.position);
    std::string why = "byte " + std::to_string(at) + ": " + error.reason;
    bool shown = text.size() <= 120 && at <= text.size();
    for (char c : text)
        shown = shown && std::isprint(static_cast<unsigned char>(c));
    if (shown) why += "\n  " + text + "\n  " + std::string(at, ' ') + "^";
    return why;
}

// "YYYY-MM-DD[ HH:MM[:SS]]", with ' ', 'T' or '-' between date and time, as
// the records' date-time text "YYYY-MM-DD-HH:MM:SS"; nullopt for any other
// form or a date or time that does not exist.
std::optional<std::string> record_time(std::string_view text) {
    if (text.size() != 10 && text.size() != 16 && text.size() != 19) return std::nullopt;
    std::string full(text);
    full += std::string_view("-00:00:00").substr(full.size() - 10);
    if (full[10] == ' ' || full[10] == 'T') full[10] = '-';
    if (full[4] != '-' || full[7] != '-' || full[10] != '-' || full[13] != ':' || full[16] != ':')
        return std::nullopt;
    constexpr size_t kAt[6] = {0, 5, 8, 11, 14, 17}, kWidth[6] = {4, 2, 2, 2, 2, 2};
    constexpr int kHigh[6] = {9999, 12, 31, 23, 59, 59};
    int field[6] = {};
    for (size_t i = 0; i < 6; ++i) {
        for (char c : std::string_view(full).substr(kAt[i], kWidth[i])) {
            if (c < '0' || c > '9') return std::nullopt;
            field[i] = field[i] * 10 + (c - '0');
        }
        if (field[i] > kHigh[i]) return std::nullopt;
    }
    const int year = field[0], month = field[1], day = field[2];
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || day < 1 || day > kDays[month - 1] + (month == 2 && leap)) return std::nullopt;
    return full;
}

} // namespace

std::string Selection::add(const std::string &text) {
    log_filter_error error;
    log_filter *filter = log_filter_compile(text.c_str(), &error);
    if (filter == nullptr) return located(text, error);
    filters_.emplace_back(filter);
    // A filter whose line test never says no (it rules out no empty line)
    // would cost a call per line for nothing.
    if (log_filter_may_match(filter, "", 0) == 0) line_tests_.push_back(filter);
    return {};
}

void Selection::read(Args &args) {
    if (auto where = args.value("--where"))
        if (std::string why = add(*where); !why.empty())
            args.reject("--where", "does not compile: " + why);
    std::optional<std::string> bounds[2];
    const char *names[2] = {"--since", "--until"};
    for (int i = 0; i < 2; ++i) {
        auto text = args.value(names[i]);
        if (!text) continue;
        bounds[i] = record_time(*text);
        if (!bounds[i])
            args.reject(names[i], "takes YYYY-MM-DD[ HH:MM[:SS]] (T or - may stand for the "
                                  "blank), not '" +
                                      *text + "'");
    }
    if (bounds[0] && bounds[1] && *bounds[0] >= *bounds[1])
        args.reject("--until", "must come after --since");
    // The window as terms on the records' own date and time, compared as text.
    std::string window;
    if (bounds[0]) window.append("date-time>=").append(*bounds[0]).append(" ");
    if (bounds[1]) window.append("date-time<").append(*bounds[1]);
    if (!window.empty() && args.ok()) add(window);
}

SelectedRecords::Take SelectedRecords::take(const InputFile &file,
                                            const LogReader::Record &record) {
    if (!selection_.may_select(record.data, record.length)) return Take::kPassed;
    consumed_ =
        parse_disk_log_entry(file.category, record.data, static_cast<int>(record.length), &items_);
    if (consumed_ < 1) {
        report_record(file, record.seq, parse_failure(consumed_));
        return Take::kFailed;
    }
    return selection_.selects(items_) ? Take::kSelected : Take::kPassed;
}

bool CsvRows::start(const InputFile &file) {
    if (header_category_ == LOG_CAT_NONE) {
        header_category_ = file.category;
        if (columns_.empty()) {
            table_columns_ = true;
            columns_.select_table(file.category);
        }
        cells_.resize(columns_.size());
        if (file.several) out_->write("file,"); // as JSON's "file", before the keys
        for (size_t c = 0; c < columns_.size(); ++c) {
            if (c > 0) out_->put(',');
            out_->write(columns_.names()[c]); // key names need no quoting
        }
        out_->put('\n');
    } else if (table_columns_ && file.category != header_category_) {
        fail(kFailed, shown_name(file.reader) + ": its " + category_name(file.category) +
                          " records do not fit the " + category_name(header_category_) +
                          " columns of this output; give --fields, or convert it on its own");
        return false;
    }
    return true;
}

std::unique_ptr<RecordHandler> CsvRows::worker(Output &out) {
    auto copy = std::make_unique<CsvRows>(*this);
    copy->out_ = &out;
    return copy;
}

bool CsvRows::record(const InputFile &file, const LogReader::Record &record) {
    const Take taken = take(file, record);
    if (taken != Take::kSelected) return taken == Take::kPassed;
    columns_.place(file.category, items_, cells_.data());
    const std::string_view path = file.several ? file.reader.path() : std::string_view();
    // The values lie inside the record: its length bounds them all.
    char *const start = out_->reserve(csv_room(record.length) + csv_room(path.size()) +
                                      3 * cells_.size() + 2 + kSlack);
    const char *readable = record.data + record.length + 1; // its NUL included
    char *w = start;
    if (file.several) {
        w = put_csv_field(w, path, nullptr, spreadsheet_);
        *w++ = ',';
    }
    w = put_csv_row(w, cells_.data(), cells_.size(), readable, spreadsheet_);
    out_->commit(static_cast<size_t>(w - start));
    return true;
}

} // namespace cli
