// lum_hash throughput, and the chained table in both modes beside
// std::unordered_map fed the same keys and the same precomputed hashes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "logbase.h"

namespace {

constexpr int kKeys = 100000;

struct Keys {
    std::vector<std::string> text;
    std::vector<uint32_t> hval;
    std::vector<int> lookup_order; // shuffled, so finds do not walk memory in order
};

const Keys &keys() {
    static const Keys k = [] {
        Keys k;
        std::mt19937 rng(7);
        for (int i = 0; i < kKeys; ++i) {
            k.text.push_back("attr_" + std::to_string(rng() % 1000) + "_name_" + std::to_string(i));
            k.hval.push_back(
                static_cast<uint32_t>(lum_hash(k.text[i].data(), k.text[i].size(), 0)));
            k.lookup_order.push_back(i);
        }
        std::shuffle(k.lookup_order.begin(), k.lookup_order.end(), rng);
        return k;
    }();
    return k;
}

// unordered_map keyed by the text with the hash carried beside it, so the map
// spends no time hashing, exactly like the chained table.
struct Key {
    std::string text;
    uint32_t hval;
};
struct KeyView {
    std::string_view text;
    uint32_t hval;
};
struct PrecomputedHash {
    using is_transparent = void;
    size_t operator()(const Key &k) const { return k.hval; }
    size_t operator()(const KeyView &k) const { return k.hval; }
};
struct SameText {
    using is_transparent = void;
    template <typename A, typename B> bool operator()(const A &a, const B &b) const {
        return a.hval == b.hval && std::string_view(a.text) == std::string_view(b.text);
    }
};
using StdMap = std::unordered_map<Key, int64_t, PrecomputedHash, SameText>;

void BM_LumHash(benchmark::State &state) {
    std::string key(static_cast<size_t>(state.range(0)), 'x');
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<char>('a' + i % 26);
    uint64_t seed = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(seed = lum_hash(key.data(), key.size(), seed));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LumHash)->Arg(16)->Arg(1024);

void init_table(hash_table &table, bool delete_mode) {
    if (delete_mode)
        hash_table_with_delete_init(&table, kKeys, 1, 0, nullptr);
    else
        hash_table_init(&table, kKeys, 0);
}

void fill_table(hash_table &table) {
    const Keys &k = keys();
    for (int i = 0; i < kKeys; ++i)
        hash_table_add(&table, k.hval[i], k.text[i].data(), static_cast<int32_t>(k.text[i].size()),
                       i);
}

void fill_map(StdMap &map) {
    const Keys &k = keys();
    map.reserve(kKeys);
    for (int i = 0; i < kKeys; ++i)
        map.emplace(Key{k.text[i], k.hval[i]}, i);
}

// Arg 0: pool mode, 1: delete mode. Each round builds and frees a table.
void BM_TableInsert(benchmark::State &state) {
    for (auto _ : state) {
        hash_table table;
        init_table(table, state.range(0) == 1);
        fill_table(table);
        hash_table_free(&table);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TableInsert)->ArgName("delete_mode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StdMapInsert(benchmark::State &state) {
    for (auto _ : state) {
        StdMap map;
        fill_map(map);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapInsert)->Unit(benchmark::kMillisecond);

void BM_TableFind(benchmark::State &state) {
    const Keys &k = keys();
    hash_table table;
    init_table(table, state.range(0) == 1);
    fill_table(table);
    for (auto _ : state) {
        for (int i : k.lookup_order)
            benchmark::DoNotOptimize(hash_table_find(&table, k.hval[i], k.text[i].data(),
                                                     static_cast<int32_t>(k.text[i].size())));
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
    hash_table_free(&table);
}
BENCHMARK(BM_TableFind)->ArgName("delete_mode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StdMapFind(benchmark::State &state) {
    const Keys &k = keys();
    StdMap map;
    fill_map(map);
    for (auto _ : state) {
        for (int i : k.lookup_order)
            benchmark::DoNotOptimize(map.find(KeyView{k.text[i], k.hval[i]}));
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapFind)->Unit(benchmark::kMillisecond);

} // namespace
