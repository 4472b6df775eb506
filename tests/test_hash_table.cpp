// String hash and chained hash table in both memory modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <tuple>
#include <vector>

#include "logbase.h"

// Allocations above 1 GiB fail instead of aborting, so that failed bucket
// arrays and key copies can be observed (without the sanitizer they may work).
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

namespace {

std::vector<int32_t> released;
void record_release(int32_t value) {
    released.push_back(value);
}

uint32_t h32(const std::string &key) {
    return static_cast<uint32_t>(lum_hash(key.data(), key.size(), 0));
}

TEST(LumHash, MatchesKnownValuesUnderBothNames) {
    EXPECT_EQ(lum_hash("", 0, 0), 0xbd91e0a04a788badull);
    EXPECT_EQ(lum_hash("abc", 3, 0), 0x718a5c8b1bb225c7ull);
    // Values from an independent implementation: exactly one block, high
    // (unsigned) bytes with a seed, and several blocks plus a tail.
    EXPECT_EQ(hash("abcdefghijkl", 12, 0), 0x5d97010c688f3ee9ull);
    std::string high(11, '\xff');
    EXPECT_EQ(lum_hash(high.data(), high.size(), 0xdeadbeefcafeull), 0x749b45adcb621e20ull);
    std::string all;
    for (int i = 0; i < 1024; ++i)
        all += static_cast<char>(i & 0xff);
    EXPECT_EQ(hash(all.data(), all.size(), 7), 0x2e0841c09c12fc05ull);
}

// The pool's own failure handler exits the host process; the table must
// report a failed allocation instead of ever reaching it.
[[noreturn]] void pool_failure_handler() {
    std::fputs("pool failure handler ran\n", stderr);
    std::abort();
}

TEST(HashTable, WhatCannotWorkOrBeAllocatedFailsCleanly) {
    EXPECT_EQ(hash_table_init(nullptr, 8, 0), 0);
    EXPECT_EQ(hash_table_with_delete_init(nullptr, 8, 1, 0, nullptr), 0);
    hash_table t;
    std::memset(&t, 0x5a, sizeof t);
    EXPECT_EQ(hash_table_init(&t, 0, 0), 0);
    EXPECT_EQ(hash_table_add(&t, 1, "k", 1, 1), nullptr);
    EXPECT_EQ(hash_table_find(&t, 1, "k", 1), nullptr);
    hash_table_free(nullptr);

    obstack_alloc_failed_handler = pool_failure_handler;
    // 8 x 536870913 bytes wraps to 8 in 32 bits; neither fits the pool.
    for (int nbuckets : {536870913, INT_MAX}) {
        EXPECT_EQ(hash_table_init(&t, nbuckets, 0), 0) << nbuckets;
        EXPECT_EQ(t.buckets, nullptr);
        hash_table_free(&t);
    }
    ASSERT_EQ(hash_table_init(&t, 4, 0), 1);
    EXPECT_EQ(hash_table_add(&t, 1, "k", INT32_MAX, 1), nullptr) << "copy of 2^31 bytes";
    EXPECT_EQ(t.count, 0);
    hash_table_free(&t);
#ifndef __SANITIZE_ADDRESS__
    // The sanitizer caps allocations; without it 1 GiB of address space does.
    struct Cap {
        rlimit old{};
        Cap() {
            getrlimit(RLIMIT_AS, &old);
            const rlimit capped{rlim_t{1} << 30, old.rlim_max};
            setrlimit(RLIMIT_AS, &capped);
        }
        ~Cap() { setrlimit(RLIMIT_AS, &old); }
    } cap;
#endif
    EXPECT_EQ(hash_table_init(&t, 200000000, 0), 0) << "1.6 GB of buckets";
    const int32_t huge = 1500000000;
    for (int delete_mode : {0, 1}) {
        ASSERT_EQ(delete_mode ? hash_table_with_delete_init(&t, 4, 1, 0, nullptr)
                              : hash_table_init(&t, 4, 0),
                  1);
        EXPECT_EQ(hash_table_add_binary(&t, 1, "k", huge, 1), nullptr) << delete_mode;
        EXPECT_EQ(t.count, 0);
        EXPECT_EQ(hash_table_find(&t, 1, "any", huge), nullptr) << "no node without its key";
        hash_table_free(&t);
    }
}

TEST(HashTable, PoolModeKeepsDuplicatesAndRefusesDelete) {
    hash_table t;
    ASSERT_EQ(hash_table_init(&t, 64, 0), 1);
    EXPECT_EQ(t.cmp(nullptr, 4, "abcd", 4), 0); // a NULL key compares equal
    EXPECT_EQ(t.cmp("abcd", 4, nullptr, 4), 0);

    std::string key = "attack";
    hash_node *first = hash_table_add(&t, h32(key), key.data(), 6, 1);
    hash_node *second = hash_table_add(&t, h32(key), key.data(), 6, 2);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(hash_table_find(&t, h32(key), "attack", 6), second);
    EXPECT_EQ(hash_table_find(&t, h32(key) + 1, "attack", 6), nullptr) << "other hash, same key";
    // Text keys are copied with a terminator that key_len leaves out.
    EXPECT_EQ(second->key_len, 6);
    EXPECT_STREQ(second->key, "attack");
    key[0] = 'X';
    EXPECT_EQ(hash_table_find(&t, second->hval, "attack", 6), second);

    hash_node *binary = hash_table_add_binary(&t, 7, "a\0b", 3, 3);
    ASSERT_NE(binary, nullptr);
    EXPECT_EQ(std::memcmp(binary->key, "a\0b", 3), 0);
    EXPECT_EQ(hash_table_find(&t, 7, "a\0b", 3), binary);
    EXPECT_EQ(hash_table_delete(&t, h32("attack"), "attack", 6), -1);
    EXPECT_EQ(t.count, 3);
    hash_table_free(&t);
    EXPECT_EQ(std::tuple(t.buckets, t.count), std::tuple(nullptr, 0));
}

TEST(HashTable, DeleteModeRemovesNewestFirstReleasesLow32BitsAndMayKeepCallerKeys) {
    released.clear();
    hash_table t;
    ASSERT_EQ(hash_table_with_delete_init(&t, 1, 1, 0, record_release), 1);
    EXPECT_EQ(hash_table_delete(&t, 5, "k", 1), -1) << "empty table";

    // One bucket: every key shares a chain.
    const int64_t big = (int64_t{0x12345678} << 32) | 0x9abcdef0;
    std::vector<std::string> keys = {"alpha", "beta", "gamma", "beta"};
    for (size_t i = 0; i < keys.size(); ++i)
        ASSERT_NE(hash_table_add(&t, h32(keys[i]), keys[i].data(), keys[i].size(), big + i),
                  nullptr);
    EXPECT_EQ(t.count, 4);
    EXPECT_EQ(hash_table_delete(&t, h32("beta"), "beta", 4), 0);
    EXPECT_EQ(hash_table_find(&t, h32("beta"), "beta", 4)->value, big + 1);
    EXPECT_EQ(hash_table_delete(&t, h32("delta"), "delta", 5), 0) << "absent key";
    EXPECT_EQ(t.count, 3);
    EXPECT_EQ(released, (std::vector<int32_t>{static_cast<int32_t>(0x9abcdef3)}));

    released.clear();
    hash_table_free(&t);
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, (std::vector<int32_t>{static_cast<int32_t>(0x9abcdef0),
                                              static_cast<int32_t>(0x9abcdef1),
                                              static_cast<int32_t>(0x9abcdef2)}));

    // Without key copies the nodes point at the caller's keys.
    ASSERT_EQ(hash_table_with_delete_init(&t, 16, 0, 0, nullptr), 1);
    char key[] = "port";
    EXPECT_EQ(hash_table_add(&t, 9, key, 4, 80)->key, key);
    EXPECT_EQ(hash_table_delete(&t, 9, "port", 4), 0);
    EXPECT_EQ(std::tuple(t.count, hash_table_find(&t, 9, "port", 4)), std::tuple(0, nullptr));
    hash_table_free(&t);
}

} // namespace
