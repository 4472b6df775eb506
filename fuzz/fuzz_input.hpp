// Splitting one fuzz input into the several texts a harness passes on, and
// the few helpers every harness needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// The input cut at each NUL byte into at most `parts` strings; the last part
// takes the rest (and any further NULs are dropped from it). Missing parts are
// empty, so every harness always gets `parts` NUL-terminated texts.
inline std::vector<std::string> split(const uint8_t *data, size_t size, size_t parts) {
    std::vector<std::string> out(parts);
    size_t part = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && part + 1 < parts) {
            ++part;
        } else if (data[i] != 0) {
            out[part] += static_cast<char>(data[i]);
        }
    }
    return out;
}

// Aborts unless the process runs inside throwaway_root: the harnesses that
// reach fixed system paths must never write the real ones.
void require_throwaway_root();

// Reports a broken invariant and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char *what, std::string_view detail = {});
inline void check(bool ok, const char *what) {
    if (!ok) fail(what);
}

// A new folder in memory (a disk would make every input wait for it),
// removed with its contents at exit.
std::string temp_dir(const char *name);

// Replaces the file with `size` bytes; aborts when it cannot.
void write_file(const std::string &path, const void *data, size_t size);

// Whether cron reads these minute, hour, day-of-month, month and weekday
// fields: items of "N" or "N-M" joined by ","; `steps` also allows "*" as an
// item and "/STEP" after "*" or a range, else "*" only as the whole field.
// Written apart from the service's own grammar.
bool cron_fields(const std::array<std::string_view, 5> &fields, bool steps);

} // namespace fuzz
