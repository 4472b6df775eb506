// Loading a 2560-key language section: the library's indexed loader beside
// the straightforward loader that scans the table for every line.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "lang_reference.hpp"
#include "logbase.h"

namespace {

// A language file whose "en" section holds 2560 distinct keys in random order,
// between two other sections; removed at exit.
class LangFile {
  public:
    LangFile() {
        char name[] = "/tmp/bench_lang.XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0) return;
        path_ = name;
        std::vector<std::string> lines;
        std::mt19937 rng(11);
        for (int i = 0; i < LANG_TABLE_ENTRIES; ++i)
            lines.push_back("attr_" + std::to_string(rng() % 100000) + "_" + std::to_string(i) +
                            "=Localised text number " + std::to_string(i) + " for the page\n");
        std::shuffle(lines.begin(), lines.end(), rng);
        std::string text = "de:\nsome=thing\nen:\n";
        for (const std::string &line : lines)
            text += line;
        text += "fr:\nautre=chose\n";
        bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (!written) path_.clear();
    }
    ~LangFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

const LangFile file;

template <typename Load> void run_load(benchmark::State &state, Load load) {
    if (file.path().empty()) {
        state.SkipWithError("cannot write the language file");
        return;
    }
    std::vector<attr_entry> table(LANG_TABLE_ENTRIES);
    int count = 0;
    for (auto _ : state) {
        count = 0;
        if (load(file.path().c_str(), "en", table.data(), &count) != 0 ||
            count != LANG_TABLE_ENTRIES) {
            state.SkipWithError("the load did not give 2560 entries");
            return;
        }
        benchmark::DoNotOptimize(table.data());
    }
}

void BM_LangLoadIndexed(benchmark::State &state) {
    run_load(state, read_lang_table);
}
BENCHMARK(BM_LangLoadIndexed)->Unit(benchmark::kMillisecond);

void BM_LangLoadQuadratic(benchmark::State &state) {
    run_load(state, reference::read_lang_table);
}
BENCHMARK(BM_LangLoadQuadratic)->Unit(benchmark::kMillisecond);

} // namespace
