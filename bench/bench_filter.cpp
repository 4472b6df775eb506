// Record filters on realistic layout-11 attack lines: parsing alone against
// parsing and matching every line with a five-term filter, and against the
// line test first with a selective literal filter (parse and match only what
// it lets through). Both sides alternate within each iteration, so that they
// see the same load on a shared machine.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "logbase.h"
#include "sample_corpus.hpp"

namespace {

// The window and severity terms of a report's settings, then its severity group.
constexpr const char *kFiveTerms = "date-time>2026-11-20-08:00:00 date-time<2026-11-21-00:00:00 "
                                   "-pri=debug pri=alert OR pri=critical";
// One source address: one sample line in eight has it.
constexpr const char *kSelective = "src=203.0.113.9";

using bench::Corpus;
using bench::corpus;
using bench::cpu_seconds;

// Argument 0: the five-term filter on every line; 1: the selective filter
// behind the line test. Counters: both throughputs, the filtering's speed
// over parsing alone, and the share of lines selected.
void BM_FilterVsParse(benchmark::State &state) {
    const Corpus &c = corpus();
    const bool line_test = state.range(0) == 1;
    log_filter *filter = log_filter_compile(line_test ? kSelective : kFiveTerms, nullptr);
    if (filter == nullptr) return state.SkipWithError("the filter does not compile");
    kv_entries items;
    double parse_time = 0, filter_time = 0;
    int64_t selected = 0;
    for (auto _ : state) {
        const double start = cpu_seconds();
        bench::parse_corpus(c, items);
        const double parsed = cpu_seconds();
        for (size_t i = 0; i < c.starts.size(); ++i) {
            const char *line = c.bytes.data() + c.starts[i];
            if (line_test && !log_filter_may_match(filter, line, c.lengths[i])) continue;
            if (parse_disk_log_entry(LOG_CAT_ATTACK, line, c.lengths[i], &items) > 0)
                selected += log_filter_match(filter, &items) == 1;
        }
        const double filtered = cpu_seconds();
        parse_time += parsed - start;
        filter_time += filtered - parsed;
        state.SetIterationTime(filtered - start);
    }
    log_filter_free(filter);
    const double bytes = static_cast<double>(state.iterations() * c.bytes.size());
    state.counters["parse_GBps"] = bytes / parse_time * 1e-9;
    state.counters["filter_GBps"] = bytes / filter_time * 1e-9;
    state.counters["filter_vs_parse"] = parse_time / filter_time;
    state.counters["selected"] =
        static_cast<double>(selected) / static_cast<double>(state.iterations() * c.starts.size());
}

} // namespace

BENCHMARK(BM_FilterVsParse)->ArgName("line_test")->Arg(0)->Arg(1)->UseManualTime();
