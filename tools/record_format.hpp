// Writers of record values for the analysis outputs (CSV, JSON Lines and the
// readable listings), and the column set a run's --fields or category gives.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli.hpp"
#include "logbase.h"

namespace cli {

// The writers put their text at w and return its end. w must have room for
// the bytes the matching *_room gives for the value's length, and kSlack
// more after the last value written at a stretch: they store whole 32-byte
// blocks. They may read the source up to `readable` (the end of the record
// holding the value, when it lies beyond the value's end).
constexpr size_t kSlack = 32;
constexpr size_t csv_room(size_t n) {
    return 4 * n + 3;
}
constexpr size_t json_room(size_t n) {
    return 6 * n + 2;
}
constexpr size_t escaped_room(size_t n) {
    return 4 * n;
}

// Bytes that are not text have one reversible form in CSV and JSON, so both
// are valid UTF-8 whatever the bytes: well-formed UTF-8 sequences stay, every
// other byte (over-long forms, surrogates, code points above U+10FFFF, stray
// continuation bytes, cut-short sequences) becomes \xHH, and so a backslash
// becomes \\. Reading a value back replaces \\ and \xHH by the bytes.

// One CSV field in that form: as it is, or between double quotes (quotes
// doubled) when it holds a comma, a double quote, CR or LF. With
// `spreadsheet`, a value starting with = + - @ tab or CR gets a leading '
// so that a spreadsheet shows it as text instead of running a formula.
char *put_csv_field(char *w, std::string_view value, const char *readable = nullptr,
                    bool spreadsheet = false);

// One CSV row of the cells' values (empty fields for null cells) and its
// line feed; room for csv_room of the values' total length, 3 bytes a cell
// and kSlack.
char *put_csv_row(char *w, const kv_entry *const *cells, size_t n, const char *readable,
                  bool spreadsheet = false);

// A JSON string of the bytes in that form (a backslash in the value is
// "\\\\" in the JSON text); quote, backslash and control characters are
// escaped as JSON escapes them.
char *put_json_string(char *w, std::string_view bytes, const char *readable = nullptr);
void put_json_string(Output &out, std::string_view bytes);

// The members ,"KEY":"VALUE" of JSON objects: a record's items in record
// order, or given keys with their cells' values (null for a null cell). Room:
// json_room of the values' total length, 40 bytes a member and kSlack. Each
// key's text is kept padded to a fixed width, so that writing it is one
// fixed-size copy; a slot remembers the key it held in the last record.
class JsonMembers {
  public:
    // `numbers`: an item written without quotes in the record whose value is
    // a plain decimal number (see plain_number) is a JSON number.
    explicit JsonMembers(bool numbers = false) : numbers_(numbers) {}
    char *put(char *w, const kv_entries &items, const char *readable);
    char *put(char *w, const std::vector<std::string> &keys, const kv_entry *const *cells,
              const char *readable);

  private:
    struct Key {
        const char *name = nullptr;
        uint32_t length = 0; // of ,"KEY":
        char text[32];       // ,"KEY": for the tables' keys (25 bytes at most)
    };
    static void set(Key &key, const char *name, size_t length);
    static char *put_key(char *w, const Key &key);

  public:
    struct Writer; // the member loops, compiled per vector level

  private:
    std::array<Key, KV_MAX_ITEMS> slots_{};
    std::vector<Key> columns_;
    bool numbers_;
};

// True for an optional '-' and 1 to 15 decimal digits without a leading zero,
// other than "-0": every JSON reader keeps such a number exactly (a double
// holds 15 digits), and reads it back as these same characters.
bool plain_number(std::string_view value);

// Printable text: backslash doubled, control and non-ASCII bytes as \xHH.
char *put_escaped(char *w, std::string_view bytes, const char *readable = nullptr);
void put_escaped(Output &out, std::string_view bytes);
std::string escaped(std::string_view bytes);

// Text for pages a person reads (the HTML report): well-formed UTF-8 stays as
// in CSV and JSON, and control bytes are \xHH as in the listing.
std::string page_text(std::string_view bytes);

// A number in decimal digits (20 bytes at most).
char *put_decimal(char *w, uint64_t value);
void put_decimal(Output &out, uint64_t value);

// Length of the well-formed UTF-8 sequence at the head of `s`, 0 if none.
size_t utf8_sequence(const unsigned char *s, size_t n);

// The columns of a run and where each parsed item goes among them.
class Columns {
  public:
    // Every key of every category's table, in table order (attack, traffic,
    // event), each once.
    static const std::vector<std::string> &all_keys();

    // Columns from "K1,K2,..."; empty on success, else what is wrong with
    // the list.
    std::string select(std::string_view list);
    // All keys of the category's table, in table order.
    void select_table(int category);

    bool empty() const { return names_.empty(); }
    size_t size() const { return names_.size(); }
    const std::vector<std::string> &names() const { return names_; }

    // cells[c] = the item of column c, or null when the record lacks it.
    void place(int category, const kv_entries &items, const kv_entry **cells);

  private:
    void forget(); // a new column set: no slot or cell stays
    int column_of(const char *key, int key_len);

    struct Slot {
        const char *key = nullptr;
        int column = -1;
    };
    std::vector<std::string> names_;
    // Items of one layout arrive in the same slots record after record, so
    // a slot remembers its last key's column.
    std::array<std::array<Slot, KV_MAX_ITEMS>, LOG_CAT_ATTACK + 1> slots_{};
    // The last call's arguments: the same items in the same slots give the
    // same cells.
    struct Placed {
        int category = -1, count = -1;
        const kv_entries *items = nullptr;
        const kv_entry **cells = nullptr;
    } placed_;
};

} // namespace cli
