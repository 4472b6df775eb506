// String hash and chained hash table with a pool mode (obstack) and a delete
// mode (one heap block per node).
#include "logbase.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

// The pool draws its chunks from malloc and returns them with free. obstack
// reports a chunk it cannot get through a process-wide handler that exits by
// default, which a library must never trigger in its host; so every chunk is
// taken beforehand by pool_reserve (where a failure can still be returned)
// and handed over here when obstack asks for it.
namespace {
thread_local void *reserved_chunk = nullptr;
thread_local size_t reserved_size = 0;
} // namespace

static void *pool_chunk_alloc(long size) {
    if (reserved_chunk != nullptr && static_cast<size_t>(size) <= reserved_size)
        return std::exchange(reserved_chunk, nullptr);
    return std::malloc(static_cast<size_t>(size)); // not reached by this file's requests
}
static void pool_chunk_free(void *chunk) {
    std::free(chunk);
}
#define obstack_chunk_alloc pool_chunk_alloc
#define obstack_chunk_free pool_chunk_free

static_assert(offsetof(hash_node, hval) == 0 && offsetof(hash_node, value) == 8 &&
              offsetof(hash_node, key) == 16 && offsetof(hash_node, key_len) == 24 &&
              offsetof(hash_node, next) == 32 && sizeof(hash_node) == 40);
static_assert(offsetof(hash_table, buckets) == 0 && offsetof(hash_table, pool) == 8 &&
              offsetof(hash_table, nbuckets) == 8 + sizeof(obstack) &&
              offsetof(hash_table, count) == offsetof(hash_table, nbuckets) + 4 &&
              offsetof(hash_table, cmp) == offsetof(hash_table, nbuckets) + 8 &&
              offsetof(hash_table, release) == offsetof(hash_table, cmp) + 8 &&
              offsetof(hash_table, copy_key) == offsetof(hash_table, release) + 8 &&
              offsetof(hash_table, delete_mode) == offsetof(hash_table, copy_key) + 4);

namespace {

constexpr void mix(uint64_t &a, uint64_t &b, uint64_t &c) noexcept {
    a -= b, a -= c, a ^= c >> 13;
    b -= c, b -= a, b ^= a << 8;
    c -= a, c -= b, c ^= b >> 13;
    a -= b, a -= c, a ^= c >> 12;
    b -= c, b -= a, b ^= a << 16;
    c -= a, c -= b, c ^= b >> 5;
    a -= b, a -= c, a ^= c >> 3;
    b -= c, b -= a, b ^= a << 10;
    c -= a, c -= b, c ^= b >> 15;
}

constexpr uint64_t le32(const unsigned char *k) noexcept {
    return k[0] | uint64_t{k[1]} << 8 | uint64_t{k[2]} << 16 | uint64_t{k[3]} << 24;
}

// obstack takes object sizes as int and adds its own overhead to a chunk.
constexpr size_t kChunkOverhead = 4096;
constexpr size_t kPoolMax = INT_MAX - kChunkOverhead;

bool pool_reserve(size_t size) {
    reserved_chunk = std::malloc(size);
    reserved_size = size;
    return reserved_chunk != nullptr;
}

void pool_release_reserve() {
    std::free(std::exchange(reserved_chunk, nullptr));
}

// Starts the pool with the platform's default chunk size (under 4 KiB).
bool pool_begin(obstack *pool) {
    if (!pool_reserve(kChunkOverhead)) return false;
    obstack_init(pool);
    pool_release_reserve();
    return true;
}

// A block of `size` bytes from the pool, or nullptr. A request the current
// chunk cannot hold gets the chunk obstack will ask for reserved first: its
// size is what obstack computes for an object with nothing growing.
void *pool_alloc(obstack *pool, size_t size) {
    if (size > kPoolMax) return nullptr;
    if (static_cast<size_t>(pool->chunk_limit - pool->next_free) < size) {
        size_t chunk = size + static_cast<size_t>(pool->alignment_mask) + 100;
        if (!pool_reserve(std::max(chunk, static_cast<size_t>(pool->chunk_size)))) return nullptr;
    }
    void *block = obstack_alloc(pool, static_cast<int>(size));
    pool_release_reserve();
    return block;
}

int hash_mem_cmp(const void *left, int left_len, const void *right, int right_len) {
    if (left_len != right_len) return left_len - right_len;
    if (left == nullptr || right == nullptr) return 0;
    return std::memcmp(left, right, static_cast<size_t>(left_len));
}

bool usable(const hash_table *table) {
    return table != nullptr && table->nbuckets > 0;
}

hash_node **bucket_of(hash_table *table, uint32_t hval) {
    return &table->buckets[hval % static_cast<uint32_t>(table->nbuckets)];
}

bool matches(const hash_table *table, const hash_node *node, uint32_t hval, const void *key,
             int32_t key_len) {
    return node->hval == hval && table->cmp(key, key_len, node->key, node->key_len) == 0;
}

void *table_alloc(hash_table *table, size_t size) {
    return table->delete_mode ? std::calloc(1, std::max<size_t>(size, 1))
                              : pool_alloc(&table->pool, size);
}

// Gives back the block table_alloc returned last.
void table_unalloc(hash_table *table, void *block) {
    if (table->delete_mode)
        std::free(block);
    else
        obstack_free(&table->pool, block);
}

// Drops a delete-mode node: its key copy, then its value through `release`.
void drop_node(hash_table *table, hash_node *node) {
    if (table->copy_key) std::free(const_cast<char *>(node->key));
    if (table->release) table->release(static_cast<int32_t>(static_cast<uint32_t>(node->value)));
    std::free(node);
}

// The key the node keeps: the caller's, or a copy (nullptr if it cannot be
// had). A text copy is NUL-terminated.
const char *store_key(hash_table *table, const void *key, int32_t key_len, bool binary) {
    if (!table->copy_key) return static_cast<const char *>(key);
    size_t size = static_cast<size_t>(key_len) + (binary ? 0 : 1);
    auto *copy = static_cast<char *>(table_alloc(table, size));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, key, static_cast<size_t>(key_len));
    if (!binary) copy[key_len] = '\0';
    return copy;
}

} // namespace

extern "C" {

LOGBASE_API uint64_t lum_hash(const void *key, uint64_t len, uint64_t init) {
    const auto *k = static_cast<const unsigned char *>(key);
    uint64_t a = 0x9e3779b9, b = 0x9e3779b9, c = init;
    uint64_t rest = len;
    for (; rest >= 12; k += 12, rest -= 12) {
        a += le32(k);
        b += le32(k + 4);
        c += le32(k + 8);
        mix(a, b, c);
    }
    c += len;
    switch (rest) { // each case falls through to add every byte below it
    case 11:
        c += uint64_t{k[10]} << 24;
        [[fallthrough]];
    case 10:
        c += uint64_t{k[9]} << 16;
        [[fallthrough]];
    case 9:
        c += uint64_t{k[8]} << 8;
        [[fallthrough]];
    case 8:
        b += uint64_t{k[7]} << 24;
        [[fallthrough]];
    case 7:
        b += uint64_t{k[6]} << 16;
        [[fallthrough]];
    case 6:
        b += uint64_t{k[5]} << 8;
        [[fallthrough]];
    case 5:
        b += k[4];
        [[fallthrough]];
    case 4:
        a += uint64_t{k[3]} << 24;
        [[fallthrough]];
    case 3:
        a += uint64_t{k[2]} << 16;
        [[fallthrough]];
    case 2:
        a += uint64_t{k[1]} << 8;
        [[fallthrough]];
    case 1:
        a += k[0];
    }
    mix(a, b, c);
    return c;
}

LOGBASE_API uint64_t hash(const void *key, uint64_t len, uint64_t init)
    __attribute__((alias("lum_hash")));

LOGBASE_API int hash_table_init(hash_table *table, int nbuckets, int /*unused*/) {
    if (table == nullptr) return 0;
    // Whatever fails leaves the record as after a free: unusable, nothing to release.
    std::memset(table, 0, sizeof *table);
    if (nbuckets < 1 || !pool_begin(&table->pool)) return 0;
    size_t size = sizeof(hash_node *) * static_cast<size_t>(nbuckets); // at most 2^34
    table->buckets = static_cast<hash_node **>(pool_alloc(&table->pool, size));
    if (table->buckets == nullptr) {
        obstack_free(&table->pool, nullptr);
        std::memset(table, 0, sizeof *table);
        return 0;
    }
    std::memset(table->buckets, 0, size);
    table->nbuckets = nbuckets;
    table->cmp = hash_mem_cmp;
    table->copy_key = 1;
    return 1;
}

LOGBASE_API int hash_table_with_delete_init(hash_table *table, int nbuckets, int copy_key,
                                            int unused, void (*release)(int32_t value)) {
    int ready = hash_table_init(table, nbuckets, unused);
    if (table != nullptr) {
        table->delete_mode = 1;
        table->release = release;
        table->copy_key = copy_key;
    }
    return ready;
}

LOGBASE_API hash_node *impl_hash_table_add(hash_table *table, uint32_t hval, const void *key,
                                           int32_t key_len, int64_t value, int binary) {
    if (!usable(table) || key == nullptr || key_len < 0) return nullptr;
    // The key first: a node without its key would match any key of its length.
    const char *stored = store_key(table, key, key_len, binary != 0);
    if (stored == nullptr) return nullptr;
    auto *node = static_cast<hash_node *>(table_alloc(table, sizeof(hash_node)));
    if (node == nullptr) {
        if (table->copy_key) table_unalloc(table, const_cast<char *>(stored));
        return nullptr;
    }
    node->hval = hval;
    node->key = stored;
    node->key_len = key_len;
    node->value = value;
    hash_node **head = bucket_of(table, hval);
    node->next = *head;
    *head = node;
    ++table->count;
    return node;
}

LOGBASE_API hash_node *hash_table_add(hash_table *table, uint32_t hval, const void *key,
                                      int32_t key_len, int64_t value) {
    return impl_hash_table_add(table, hval, key, key_len, value, 0);
}

LOGBASE_API hash_node *hash_table_add_binary(hash_table *table, uint32_t hval, const void *key,
                                             int32_t key_len, int64_t value) {
    return impl_hash_table_add(table, hval, key, key_len, value, 1);
}

LOGBASE_API hash_node *hash_table_find(hash_table *table, uint32_t hval, const void *key,
                                       int32_t key_len) {
    if (!usable(table) || key == nullptr) return nullptr;
    for (hash_node *node = *bucket_of(table, hval); node != nullptr; node = node->next)
        if (matches(table, node, hval, key, key_len)) return node;
    return nullptr;
}

LOGBASE_API int hash_table_delete(hash_table *table, uint32_t hval, const void *key,
                                  int32_t key_len) {
    if (!usable(table) || key == nullptr || !table->delete_mode || table->count == 0) return -1;
    for (hash_node **link = bucket_of(table, hval); *link != nullptr; link = &(*link)->next) {
        hash_node *node = *link;
        if (!matches(table, node, hval, key, key_len)) continue;
        *link = node->next;
        drop_node(table, node);
        --table->count;
        break;
    }
    return 0;
}

LOGBASE_API void hash_table_free(hash_table *table) {
    if (table == nullptr) return;
    if (table->buckets != nullptr) {
        for (int32_t i = 0; table->delete_mode && i < table->nbuckets; ++i) {
            for (hash_node *node = table->buckets[i], *next; node != nullptr; node = next) {
                next = node->next;
                drop_node(table, node);
            }
        }
        obstack_free(&table->pool, nullptr);
    }
    std::memset(table, 0, sizeof *table);
}

} // extern "C"
