// Splitting one fuzz input into the several texts a harness passes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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

} // namespace fuzz
