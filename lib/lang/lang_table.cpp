// Language tables: one section of a language file loaded into a fixed table
// of key/value pairs, sorted by key without regard to case for look-ups.
#include "logbase.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <strings.h>
#include <vector>

#include "bounded_text.hpp"
#include "files.hpp"
#include "guards.hpp"

static_assert(sizeof(attr_entry) == 3072 && offsetof(attr_entry, value) == 1024);

extern "C" {
LOGBASE_API attr_entry attr_table[LANG_TABLE_ENTRIES];
LOGBASE_API int table_len;
LOGBASE_API attr_entry en_attr_table[LANG_TABLE_ENTRIES];
LOGBASE_API int en_table_len;
}

namespace {

constexpr int kCapacity = LANG_TABLE_ENTRIES;
constexpr size_t kLineSize = 3072; // the rest of a longer line is skipped
constexpr size_t kPathSize = 4096;
constexpr const char *kLangRoot = "/migadmin";

// Rearranges table[0..n) so that position i receives what was at order[i];
// `order` is a permutation of 0..n-1. Following each cycle moves every entry
// once, which matters for 3 KB entries.
void apply_order(attr_entry *table, const std::vector<int> &order) {
    std::vector<bool> placed(order.size());
    attr_entry held;
    for (size_t start = 0; start < order.size(); ++start) {
        if (placed[start] || order[start] == static_cast<int>(start)) continue;
        held = table[start];
        size_t to = start;
        for (size_t from = order[to]; from != start; to = from, from = order[to]) {
            table[to] = table[from];
            placed[to] = true;
        }
        table[to] = held;
        placed[to] = true;
    }
}

// Case-insensitive index over a table during one load. It reproduces the
// entry rule (first equal key takes the value, later equal keys go, new keys
// are appended while there is room) without scanning the table per line.
// Removed entries leave free slots that later appends reuse; finish() puts
// the survivors back into load order.
class LoadIndex {
  public:
    LoadIndex(attr_entry *table, int count) : table_(table), count_(count) {
        heads_.fill(kNone);
        seq_.fill(kFree);
        for (int slot = kCapacity - 1; slot >= count; --slot)
            free_.push_back(slot);
        for (int slot = 0; slot < count; ++slot)
            link(slot, folded_hash(table[slot].key));
    }

    void table_set(const char *key, const char *value) {
        size_t len = std::strlen(key);
        // Stored keys are at most LANG_KEY_SIZE - 1 characters, so a longer
        // key equals none of them.
        uint32_t hval = len < LANG_KEY_SIZE ? folded_hash({key, len}) : 0;
        if (len < LANG_KEY_SIZE && update(hval, {key, len}, value)) return;
        if (count_ == kCapacity) return;
        int slot = free_.back();
        free_.pop_back();
        lb::copy_bounded(table_[slot].key, LANG_KEY_SIZE, key);
        lb::copy_bounded(table_[slot].value, LANG_VALUE_SIZE, value);
        link(slot, len < LANG_KEY_SIZE ? hval : folded_hash(table_[slot].key));
        ++count_;
    }

    int finish() {
        if (!reordered_) return count_;
        // Entries in load order first, then the free slots to make the
        // permutation whole.
        std::vector<int> order(kCapacity);
        for (int slot = 0; slot < kCapacity; ++slot)
            order[slot] = slot;
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return seq_[a] < seq_[b]; });
        apply_order(table_, order);
        return count_;
    }

  private:
    static constexpr int16_t kNone = -1;
    static constexpr uint32_t kFree = UINT32_MAX;
    static constexpr size_t kBuckets = 4096;

    static uint32_t folded_hash(std::string_view key) {
        std::array<char, LANG_KEY_SIZE> folded;
        size_t len = std::min(key.size(), folded.size());
        for (size_t i = 0; i < len; ++i)
            folded[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[i])));
        return static_cast<uint32_t>(lum_hash(folded.data(), len, 0));
    }
    static uint32_t folded_hash(const char *stored) {
        return folded_hash({stored, lb::length_bounded(stored, LANG_KEY_SIZE)});
    }

    bool same_key(int slot, uint32_t hval, std::string_view key) const {
        const char *stored = table_[slot].key;
        return hval_[slot] == hval && lb::length_bounded(stored, LANG_KEY_SIZE) == key.size() &&
               strncasecmp(stored, key.data(), key.size()) == 0;
    }

    void link(int slot, uint32_t hval) {
        hval_[slot] = hval;
        seq_[slot] = next_seq_++;
        int16_t &head = heads_[hval % kBuckets];
        next_[slot] = head;
        head = static_cast<int16_t>(slot);
    }

    // Gives the earliest entry equal to `key` the new value and removes the
    // other equal ones; false when there is none.
    bool update(uint32_t hval, std::string_view key, const char *value) {
        int first = kNone;
        for (int slot = heads_[hval % kBuckets]; slot != kNone; slot = next_[slot])
            if (same_key(slot, hval, key) && (first == kNone || seq_[slot] < seq_[first]))
                first = slot;
        if (first == kNone) return false;
        lb::copy_bounded(table_[first].value, LANG_VALUE_SIZE, value);
        for (int16_t *link = &heads_[hval % kBuckets]; *link != kNone;) {
            int slot = *link;
            if (slot == first || !same_key(slot, hval, key)) {
                link = &next_[slot];
                continue;
            }
            *link = next_[slot];
            seq_[slot] = kFree;
            free_.push_back(slot);
            --count_;
            reordered_ = true;
        }
        return true;
    }

    attr_entry *table_;
    int count_;
    uint32_t next_seq_ = 0;
    bool reordered_ = false;
    std::array<int16_t, kBuckets> heads_;
    std::array<int16_t, kCapacity> next_;
    std::array<uint32_t, kCapacity> hval_;
    std::array<uint32_t, kCapacity> seq_;
    std::vector<int> free_;
};

// Compared with case; the line break counts when the line has no ':'.
bool is_section_header(const char *line, std::string_view section) {
    const char *colon = std::strchr(line, ':');
    size_t len = colon ? static_cast<size_t>(colon - line) : std::strlen(line);
    return std::string_view(line, len) == section;
}

// The next line, or as much of it as fits in kLineSize; the rest of a longer
// line is skipped, so that its tail is never read as a line of its own.
bool read_line(FILE *file, char *line) {
    if (std::fgets(line, kLineSize, file) == nullptr) return false;
    size_t len = std::strlen(line);
    if (len + 1 == kLineSize && line[len - 1] != '\n') {
        int c;
        while ((c = std::getc(file)) != EOF && c != '\n') {
        }
    }
    return true;
}

bool find_section(FILE *file, std::string_view section, char *line) {
    while (read_line(file, line))
        if (is_section_header(line, section)) return true;
    return false;
}

// Removes trailing white space but never the line's first character.
void trim_trailing(char *line) {
    size_t len = std::strlen(line);
    while (len > 1 && std::isspace(static_cast<unsigned char>(line[len - 1])))
        --len;
    line[len] = '\0';
}

bool ends_section(const char *line) {
    return std::strchr(line, ':') != nullptr && std::strchr(line, '=') == nullptr;
}

// Splits "key=value" in place: the key ends at the first '=', the value
// starts after the run of '=' that follows. Without '=' the value is empty.
const char *getword(char *line) {
    char *eq = std::strchr(line, '=');
    if (eq == nullptr) return "";
    *eq++ = '\0';
    while (*eq == '=')
        ++eq;
    return eq;
}

// Only a regular file: a FIFO would block the open or the reads, a device
// such as /dev/zero would be read without end.
FILE *open_language_file(const char *path) {
    lb::unique_fd fd = lb::open_regular(path, O_RDONLY);
    if (!fd.valid()) return nullptr;
    FILE *file = fdopen(fd.get(), "r");
    if (file != nullptr) fd.release();
    return file;
}

int load_section(FILE *file, const char *section, attr_entry *table, int *count) {
    char line[kLineSize];
    if (!find_section(file, section, line)) return -1;
    auto index = std::make_unique<LoadIndex>(table, *count);
    while (read_line(file, line)) {
        trim_trailing(line);
        if (ends_section(line)) break;
        const char *value = getword(line);
        index->table_set(line, value);
    }
    *count = index->finish();
    return 0;
}

void sort_table(attr_entry *table, int count) {
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return attrcmp(&table[a], &table[b]) < 0; });
    apply_order(table, order);
}

// A relative path with no ".." component: joined to the language folder it
// cannot name a file outside it.
bool stays_below(std::string_view path) {
    if (!path.empty() && path.front() == '/') return false;
    while (!path.empty()) {
        size_t slash = path.find('/');
        if (path.substr(0, slash) == "..") return false;
        path = slash == path.npos ? std::string_view{} : path.substr(slash + 1);
    }
    return true;
}

int init_table(attr_entry *table, int *count, const char *subdir, const char *section,
               const char *file) {
    std::memset(table, 0, sizeof(attr_entry) * kCapacity);
    *count = 0;
    if (section == nullptr || file == nullptr || !stays_below(file) ||
        (subdir != nullptr && !stays_below(subdir)))
        return -1;
    char path[kPathSize];
    if (subdir != nullptr && *subdir != '\0')
        std::snprintf(path, sizeof path, "%s/%s/lang/%s", kLangRoot, subdir, file);
    else
        std::snprintf(path, sizeof path, "%s/lang/%s", kLangRoot, file);
    if (read_lang_table(path, section, table, count) != 0) return -1;
    return lb::no_throw(-1, [&] {
        sort_table(table, *count);
        return 0;
    });
}

const char *table_get(const attr_entry *table, int count, const char *key) {
    if (key == nullptr || count <= 0) return nullptr;
    const void *found =
        std::bsearch(key, table, static_cast<size_t>(count), sizeof *table, attrcmp);
    return found ? static_cast<const attr_entry *>(found)->value : nullptr;
}

} // namespace

extern "C" {

LOGBASE_API int attrcmp(const void *a, const void *b) {
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    return strcasecmp(static_cast<const char *>(a), static_cast<const char *>(b));
}

LOGBASE_API int read_lang_table(const char *path, const char *section, void *table, int *count) {
    if (path == nullptr || section == nullptr || table == nullptr || count == nullptr ||
        *count < 0 || *count > kCapacity)
        return -1;
    lb::unique_file file(open_language_file(path));
    if (!file) return -1;
    return lb::no_throw(-1, [&] {
        return load_section(file.get(), section, static_cast<attr_entry *>(table), count);
    });
}

LOGBASE_API int lang_init(const char *subdir, const char *section, const char *file) {
    return init_table(attr_table, &table_len, subdir, section, file);
}

LOGBASE_API int lang_en_init(const char *subdir, const char *section, const char *file) {
    return init_table(en_attr_table, &en_table_len, subdir, section, file);
}

LOGBASE_API const char *lang_table_get(const char *key) {
    return table_get(attr_table, table_len, key);
}

LOGBASE_API const char *lang_en_table_get(const char *key) {
    return table_get(en_attr_table, en_table_len, key);
}

} // extern "C"
