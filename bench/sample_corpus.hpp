// What the parser and filter benchmarks share: a thread CPU clock and the
// corpus, the attack sample lines (layout 11, with their v013 tag), each
// ending as in a log file with a space and a newline, repeated to about 1 MiB
// (or so the sample lines of another category).
#pragma once

#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>
#include <time.h>
#include <vector>

#include "logbase.h"

namespace bench {

struct Corpus {
    std::string bytes;               // lines one after the other
    std::vector<std::size_t> starts; // offset of each line
    std::vector<int> lengths;
};

inline Corpus read_corpus(const char *file, std::size_t size = std::size_t{1} << 20) {
    std::ifstream in(std::string(LOGBASE_SAMPLE_DIR "/") + file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line + " \n");
    if (lines.empty()) throw std::runtime_error("no sample lines");
    Corpus c;
    c.bytes.reserve(size + 8192);
    while (c.bytes.size() < size)
        for (const std::string &line : lines) {
            c.starts.push_back(c.bytes.size());
            c.lengths.push_back(static_cast<int>(line.size()));
            c.bytes += line;
        }
    return c;
}

inline const Corpus &corpus() {
    static const Corpus c = read_corpus("attack.txt");
    return c;
}

// Thread CPU time in seconds: the side-by-side cases time each side by it.
inline double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Parses every line of the corpus once, as the side-by-side cases' baseline.
inline void parse_corpus(const Corpus &c, kv_entries &items, int cat = LOG_CAT_ATTACK) {
    for (std::size_t i = 0; i < c.starts.size(); ++i)
        parse_disk_log_entry(cat, c.bytes.data() + c.starts[i], c.lengths[i], &items);
}

} // namespace bench
