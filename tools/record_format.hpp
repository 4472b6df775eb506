// Writers of record values for the analysis outputs (CSV, JSON Lines and the
// readable listings), and the column set a run's --fields or category gives.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logbase.h"
#include "tools/out_buffer.hpp"

namespace cli {

// One CSV field: as it is, or between double quotes (quotes doubled) when it
// holds a comma, a double quote, CR or LF.
void put_csv_field(OutBuffer &out, std::string_view value);

// A JSON string that is valid UTF-8 whatever the bytes: well-formed UTF-8
// sequences stay, every other byte (over-long forms, surrogates, code points
// above U+10FFFF, stray continuation bytes) becomes \u00XX; quote, backslash
// and control characters are escaped.
void put_json_string(OutBuffer &out, std::string_view bytes);

// Printable text: backslash doubled, control and non-ASCII bytes as \xHH.
void put_escaped(OutBuffer &out, std::string_view bytes);

// Length of the well-formed UTF-8 sequence at the head of `s`, 0 if none.
size_t utf8_sequence(const unsigned char *s, size_t n);

// The columns of a run and where each parsed item goes among them.
class Columns {
  public:
    // Every key of every category's table, in table order (attack, traffic,
    // event), each once.
    static const std::vector<std::string> &all_keys();

    // Columns from "K1,K2,..."; empty on success, else the usage message.
    std::string select(std::string_view list);
    // All keys of the category's table, in table order.
    void select_table(int category);

    bool empty() const { return names_.empty(); }
    size_t size() const { return names_.size(); }
    const std::vector<std::string> &names() const { return names_; }

    // cells[c] = the item of column c, or null when the record lacks it.
    void place(int category, const kv_entries &items, const kv_entry **cells);

  private:
    int column_of(const char *key, int key_len);

    struct Slot {
        const char *key = nullptr;
        int column = -1;
    };
    std::vector<std::string> names_;
    // Items of one layout arrive in the same slots record after record, so
    // a slot remembers its last key's column.
    std::array<std::array<Slot, 128>, 4> slots_{};
};

} // namespace cli
