// Line parser and CSV throughput on realistic layout-11 attack lines, beside a
// memchr pass over the same bytes (the ceiling; over 1 MiB in cache and over
// the lines repeated to 1 GiB) and the straightforward recursive parser of
// the tests; the parser at every vector level on attack
// and traffic lines side by side; then a 4 KB line full of look-alikes of the
// following keys against a typical line of the same length.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "logbase.h"
#include "reference_parser.hpp"
#include "sample_corpus.hpp"

namespace {

// Work cap of the straightforward parser per line.
constexpr long long kReferenceSteps = 20'000'000;

using bench::Corpus;
using bench::corpus;
using bench::cpu_seconds;

// A layout-11 attack line with the given URL and agent values.
std::string attack_line(const std::string &url, const std::string &agent) {
    const entry_desc *t = _get_ed_by_cat(LOG_CAT_ATTACK);
    std::string line = "v013xxxx";
    for (int row = 0;; row = t[row].next_row[11]) {
        const std::string name = t[row].name;
        const std::string value = name == "http_url"     ? url
                                  : name == "http_agent" ? agent
                                                         : "value-" + std::to_string(row);
        line += name + "=" + (t[row].quoted ? "\"" + value + "\"" : value) + " ";
        if (t[row].next_row[11] == 0) break;
    }
    return line + "\n";
}

// The line padded to `target` bytes by an agent of ordinary text.
std::string attack_line_of_length(const std::string &url, size_t target) {
    const size_t base = attack_line(url, "").size();
    std::string agent;
    while (agent.size() + base < target)
        agent += "Mozilla/5.0 (X11; Linux x86_64) ";
    agent.resize(target > base ? target - base : 0);
    return attack_line(url, agent);
}

// Look-alikes of the keys after http_url, the way an attacker would write
// them into the URL: 2.5 KB of the 4 KB line.
std::string lookalike_url() {
    std::string url = "/x";
    while (url.size() < 2500)
        url += "\" http_host=\"h\" http_agent=\"a\" http_session_id=s msg=\"m\" "
               "signature_subclass=\"c\" \n";
    return url;
}

void set_bytes(benchmark::State &state, size_t per_iteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * per_iteration));
}

void BM_MemchrCeiling(benchmark::State &state) {
    const Corpus &c = corpus();
    for (auto _ : state) {
        size_t lines = 0;
        for (const char *p = c.bytes.data(), *end = p + c.bytes.size();
             (p = static_cast<const char *>(std::memchr(p, '\n', end - p))) != nullptr; ++p)
            ++lines;
        benchmark::DoNotOptimize(lines);
    }
    set_bytes(state, c.bytes.size());
}

// The same lines repeated to 1 GiB, far past the caches, as a log file's
// bytes are once read: the memchr line walk over them, then the parse of
// every line, alternating within each iteration and each timed by the
// thread's CPU clock. Counters: GB/s of each and the parse over the walk.
void BM_ParseVsMemchrOver1GiB(benchmark::State &state) {
    static const Corpus big = bench::read_corpus("attack.txt", std::size_t{1} << 30);
    kv_entries items;
    double walk_time = 0, parse_time = 0;
    for (auto _ : state) {
        const double start = cpu_seconds();
        size_t lines = 0;
        for (const char *p = big.bytes.data(), *end = p + big.bytes.size();
             (p = static_cast<const char *>(std::memchr(p, '\n', end - p))) != nullptr; ++p)
            ++lines;
        benchmark::DoNotOptimize(lines);
        const double walked = cpu_seconds();
        bench::parse_corpus(big, items);
        const double parsed = cpu_seconds();
        walk_time += walked - start;
        parse_time += parsed - walked;
        if (lines != big.starts.size()) state.SkipWithError("the walk missed lines");
    }
    const double bytes = static_cast<double>(state.iterations() * big.bytes.size());
    state.counters["memchr_GBps"] = bytes / walk_time * 1e-9;
    state.counters["parse_GBps"] = bytes / parse_time * 1e-9;
    state.counters["parse_x_memchr"] = walk_time / parse_time;
}

void BM_Parse(benchmark::State &state) {
    const Corpus &c = corpus();
    kv_entries items;
    for (auto _ : state)
        for (size_t i = 0; i < c.starts.size(); ++i)
            if (parse_disk_log_entry(LOG_CAT_ATTACK, c.bytes.data() + c.starts[i], c.lengths[i],
                                     &items) < 1)
                state.SkipWithError("a sample line does not parse");
    set_bytes(state, c.bytes.size());
}

void BM_ParseStraightforward(benchmark::State &state) {
    const Corpus &c = corpus();
    kv_entries items;
    for (auto _ : state)
        for (size_t i = 0; i < c.starts.size(); ++i) {
            reference::Budget budget;
            budget.steps_left = kReferenceSteps;
            reference::parse_disk_log_entry(LOG_CAT_ATTACK, c.bytes.data() + c.starts[i],
                                            c.lengths[i], &items, budget);
        }
    set_bytes(state, c.bytes.size());
}

void BM_Csv(benchmark::State &state) {
    const Corpus &c = corpus();
    std::string work = c.bytes;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), c.bytes.data(), c.bytes.size());
        state.ResumeTiming();
        if (convert_csv_log(LOG_CAT_ATTACK, work.data(), static_cast<int>(work.size())) != 0)
            state.SkipWithError("the corpus does not convert");
    }
    set_bytes(state, c.bytes.size());
}

// The parse loop and the conversion of the same bytes, alternating within
// each iteration so that both see the same load on a shared machine; the
// counter csv_vs_parse is the conversion's throughput over the parser's.
void BM_CsvVsParse(benchmark::State &state) {
    const Corpus &c = corpus();
    std::string work = c.bytes;
    kv_entries items;
    double parse_time = 0, csv_time = 0;
    for (auto _ : state) {
        const double start = cpu_seconds();
        bench::parse_corpus(c, items);
        const double parsed = cpu_seconds();
        std::memcpy(work.data(), c.bytes.data(), c.bytes.size());
        const double copied = cpu_seconds();
        if (convert_csv_log(LOG_CAT_ATTACK, work.data(), static_cast<int>(work.size())) != 0)
            state.SkipWithError("the corpus does not convert");
        const double converted = cpu_seconds();
        parse_time += parsed - start;
        csv_time += converted - copied;
        state.SetIterationTime(parsed - start + converted - copied);
    }
    const double bytes = static_cast<double>(state.iterations() * c.bytes.size());
    state.counters["parse_GBps"] = bytes / parse_time * 1e-9;
    state.counters["csv_GBps"] = bytes / csv_time * 1e-9;
    state.counters["csv_vs_parse"] = parse_time / csv_time;
}

// The memchr walk over the attack lines, then the parse of the attack and of
// the traffic lines at every vector level this processor has, alternating
// within each iteration so that all see the same load. Counters: GB/s
// (10^9 bytes) of each, named by level and category, and each level's
// attack parse over the memchr walk.
void BM_Levels(benchmark::State &state) {
    static const Corpus traffic = bench::read_corpus("traffic.txt");
    const Corpus &attack = corpus();
    const int best = logbase_set_simd_level(LOGBASE_SIMD_AVX512);
    double walk_time = 0, parse_time[4][2] = {};
    kv_entries items;
    for (auto _ : state) {
        double start = cpu_seconds();
        size_t lines = 0;
        for (const char *p = attack.bytes.data(), *end = p + attack.bytes.size();
             (p = static_cast<const char *>(std::memchr(p, '\n', end - p))) != nullptr; ++p)
            ++lines;
        benchmark::DoNotOptimize(lines);
        walk_time += cpu_seconds() - start;
        for (int level = LOGBASE_SIMD_PORTABLE; level <= best; ++level) {
            logbase_set_simd_level(level);
            start = cpu_seconds();
            bench::parse_corpus(attack, items, LOG_CAT_ATTACK);
            const double parsed = cpu_seconds();
            bench::parse_corpus(traffic, items, LOG_CAT_TRAFFIC);
            parse_time[level][0] += parsed - start;
            parse_time[level][1] += cpu_seconds() - parsed;
        }
    }
    logbase_set_simd_level(best);
    const auto rate = [&](const Corpus &c, double seconds) {
        return static_cast<double>(state.iterations() * c.bytes.size()) / seconds * 1e-9;
    };
    const char *const names[] = {"portable", "sse2", "avx2", "avx512"};
    state.counters["memchr_GBps"] = rate(attack, walk_time);
    for (int level = LOGBASE_SIMD_PORTABLE; level <= best; ++level) {
        const std::string name = names[level];
        state.counters[name + "_attack_GBps"] = rate(attack, parse_time[level][0]);
        state.counters[name + "_traffic_GBps"] = rate(traffic, parse_time[level][1]);
        state.counters[name + "_x_memchr"] = walk_time / parse_time[level][0];
    }
}

// One 4 KB line: typical, full of look-alikes (parses), or full of
// look-alikes and cut before its final newline (fails after trying them).
enum LineKind { kTypical, kCrafted, kCraftedCut };

std::string line_of(LineKind kind) {
    constexpr size_t kLength = 4000;
    if (kind == kTypical)
        return attack_line_of_length("/shop/product.php?id=42&cat=shoes", kLength);
    std::string line = attack_line_of_length(lookalike_url(), kLength);
    if (kind == kCraftedCut) line.back() = '!';
    return line;
}

void BM_Line4K(benchmark::State &state) {
    const std::string line = line_of(static_cast<LineKind>(state.range(0)));
    kv_entries items;
    int result = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(result =
                                     parse_disk_log_entry(LOG_CAT_ATTACK, line.data(),
                                                          static_cast<int>(line.size()), &items));
    state.counters["result"] = result;
    state.counters["bytes"] = static_cast<double>(line.size());
    set_bytes(state, line.size());
}

void BM_Line4KStraightforward(benchmark::State &state) {
    const std::string line = line_of(static_cast<LineKind>(state.range(0)));
    kv_entries items;
    reference::Budget budget;
    for (auto _ : state) {
        budget = reference::Budget{};
        budget.steps_left = kReferenceSteps;
        benchmark::DoNotOptimize(reference::parse_disk_log_entry(
            LOG_CAT_ATTACK, line.data(), static_cast<int>(line.size()), &items, budget));
    }
    // 1: gave up at the cap, so the time shown is a lower bound.
    state.counters["capped"] = budget.exhausted ? 1 : 0;
    set_bytes(state, line.size());
}

} // namespace

BENCHMARK(BM_MemchrCeiling);
BENCHMARK(BM_Parse);
BENCHMARK(BM_ParseVsMemchrOver1GiB)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Csv);
BENCHMARK(BM_CsvVsParse)->UseManualTime();
BENCHMARK(BM_Levels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseStraightforward);
BENCHMARK(BM_Line4K)->ArgName("kind")->Arg(kTypical)->Arg(kCrafted)->Arg(kCraftedCut);
BENCHMARK(BM_Line4KStraightforward)->ArgName("kind")->Arg(kTypical)->Arg(kCrafted);
// Never finishes uncapped: three capped runs.
BENCHMARK(BM_Line4KStraightforward)->ArgName("kind")->Arg(kCraftedCut)->Iterations(3);
