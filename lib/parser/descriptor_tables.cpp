// The attack, traffic and event descriptor tables with the key chain of every
// layout version, and the version probe that picks a line's layout.
//
// The chains are computed at compile time by the same copy-then-edit steps a
// host would apply with dup_prev_ed, so the tables are complete from load
// time: there is no first-call build that threads could race on.
#include "descriptor_tables.hpp"

#include <array>
#include <string_view>

#include "assert.hpp"

namespace {

using lb::ed::kLayouts;
using lb::ed::kRows;
using Table = std::array<entry_desc, kRows>;

struct RowSpec {
    const char *name;
    int quoted;
};

// One edit chain "a b c" of a layout: a is followed by b, b by c.
struct EditChain {
    int layout;
    std::string_view keys;
};

#define LB_ROW_SPEC(key, q) RowSpec{#key, q},
#include "entry_keys.def"
constexpr RowSpec atk_rows[] = {LB_ATK_KEYS(LB_ROW_SPEC)};
constexpr RowSpec tfk_rows[] = {LB_TFK_KEYS(LB_ROW_SPEC)};
constexpr RowSpec evt_rows[] = {LB_EVT_KEYS(LB_ROW_SPEC)};
#undef LB_ROW_SPEC

static_assert(std::size(atk_rows) == 69 && std::size(tfk_rows) == 41 && std::size(evt_rows) == 17);

constexpr EditChain atk_edits[] = {
    {1, "false_positive_mitigation user_name"},
    {2, "type pri main_type sub_type trigger_policy"},
    {2, "threat_level ftp_mode ftp_cmd"},
    {3, "ftp_cmd cipher_suite"},
    {4, "signature_id signature_cve_id srccountry"},
    {4, "cipher_suite ml_log_hmm_probability ml_log_sample_prob_mean ml_log_sample_arglen_mean "
        "ml_log_arglen ml_svm_log_main_types ml_svm_log_match_types ml_svm_accuracy "
        "ml_domain_index ml_url_dbid ml_arg_dbid ml_allow_method"},
    {5, "timezone timezone_dayst type"},
    {5, "ml_allow_method owasp_top10"},
    {6, "owasp_top10 bot_info"},
    {7, "dev_id es threat_weight"},
    {7, "service backend_service action"},
    {8, "bot_info client_level"},
    {10, "client_level x509_cert_subject"},
    {11, "x509_cert_subject owasp_api_top10"},
};

constexpr EditChain tfk_edits[] = {
    {3, "dev_id cipher_suite"},
    {5, "timezone timezone_dayst type"},
    {6, "policy original_src src"},
    {6, "msg original_srccountry srccountry"},
    {10, "cipher_suite x509_cert_subject"},
};

constexpr EditChain evt_edits[] = {
    {5, "timezone timezone_dayst type"},
};

constexpr int length_of(const char *s) {
    int n = 0;
    while (s[n] != '\0')
        ++n;
    return n;
}

template <size_t N> constexpr int row_of(const RowSpec (&rows)[N], std::string_view key) {
    for (size_t r = 0; r < N; ++r)
        if (key == rows[r].name) return static_cast<int>(r);
    throw "edit names a key the table does not have"; // stops the constant evaluation
}

constexpr void copy_layout(entry_desc *table, int in_ver) {
    for (int r = 0; r < kRows; ++r)
        table[r].next_row[in_ver] = table[r].next_row[in_ver - 1];
}

template <size_t N>
constexpr void apply_chain(Table &table, const RowSpec (&rows)[N], int layout,
                           std::string_view keys) {
    int prev = -1;
    while (!keys.empty()) {
        size_t cut = keys.find(' ');
        int row = row_of(rows, keys.substr(0, cut));
        if (prev >= 0) table[prev].next_row[layout] = row;
        prev = row;
        keys = cut == std::string_view::npos ? std::string_view{} : keys.substr(cut + 1);
    }
}

template <size_t N, size_t E>
constexpr Table build_table(const RowSpec (&rows)[N], std::string_view last_key_of_layout0,
                            const EditChain (&edits)[E]) {
    Table table{};
    for (size_t r = 0; r < N; ++r)
        table[r] = entry_desc{rows[r].name, length_of(rows[r].name), rows[r].quoted, {}};
    const int last = row_of(rows, last_key_of_layout0);
    for (int r = 0; r < last; ++r)
        table[r].next_row[0] = r + 1;
    for (int layout = 1; layout <= lb::ed::kNewestLayout; ++layout) {
        copy_layout(table.data(), layout);
        for (const EditChain &edit : edits)
            if (edit.layout == layout) apply_chain(table, rows, layout, edit.keys);
    }
    return table;
}

constexpr int keys_in_layout(const Table &table, int layout) {
    int count = 1;
    for (int row = table[0].next_row[layout]; row != 0; row = table[row].next_row[layout])
        ++count;
    return count;
}

template <size_t N> constexpr bool key_counts_are(const Table &table, const int (&expected)[N]) {
    for (size_t layout = 0; layout < N; ++layout)
        if (keys_in_layout(table, static_cast<int>(layout)) != expected[layout]) return false;
    return true;
}

constexpr Table atk_table = build_table(atk_rows, "threat_level", atk_edits);
constexpr Table tfk_table = build_table(tfk_rows, "dev_id", tfk_edits);
constexpr Table evt_table = build_table(evt_rows, "msg", evt_edits);

static_assert(key_counts_are(atk_table, {44, 40, 43, 44, 56, 58, 59, 61, 62, 62, 63, 64, 1}));
static_assert(key_counts_are(tfk_table, {36, 36, 36, 37, 37, 38, 40, 40, 40, 40, 41, 41, 1}));
static_assert(key_counts_are(evt_table, {16, 16, 16, 16, 16, 17, 17, 17, 17, 17, 17, 17, 1}));

// Writable, as a host may extend a layout with dup_prev_ed; constant-initialised.
constinit Table ed_arr_atk = atk_table;
constinit Table ed_arr_tfk = tfk_table;
constinit Table ed_arr_evt = evt_table;

constexpr bool is_key_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

template <size_t N> constexpr bool keys_are_plain(const RowSpec (&rows)[N]) {
    for (const RowSpec &row : rows)
        for (const char *c = row.name; *c != '\0'; ++c)
            if (!is_key_byte(*c)) return false;
    return true;
}
static_assert(keys_are_plain(atk_rows) && keys_are_plain(tfk_rows) && keys_are_plain(evt_rows),
              "the parser's separator scan finds keys of [a-z0-9_] only");

using lb::ed::Chain;
using lb::ed::ItemKind;
using Chains = std::array<Chain, lb::ed::kNewestLayout + 1>;

constexpr uint64_t word_of(const char *bytes, int n) {
    uint64_t word = 0;
    for (int i = 0; i < n; ++i)
        word |= uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    return word;
}

// The step of `item` when `before` precedes it (or of the first item).
constexpr lb::ed::ChainStep chain_step(const entry_desc *before, const entry_desc &item) {
    if (item.name_len > 27) throw "a key too long for a separator text";
    lb::ed::ChainStep step{};
    step.name = item.name;
    step.name_len = item.name_len;
    step.quoted = static_cast<int8_t>(item.quoted);
    if (before == nullptr) return step;
    char text[32] = {};
    int len = 0;
    if (before->quoted) text[len++] = '"';
    step.space_at = static_cast<int8_t>(len);
    text[len++] = ' ';
    for (int i = 0; i < item.name_len; ++i)
        text[len++] = item.name[i];
    step.equals_at = static_cast<int8_t>(len);
    text[len++] = '=';
    if (item.quoted) text[len++] = '"';
    step.len = static_cast<int8_t>(len);
    for (int w = 0; w < len / 8; ++w)
        step.words[w] = word_of(text + 8 * w, 8);
    if (len >= 8) {
        step.tail = word_of(text + len - 8, 8);
        step.tail_mask = ~uint64_t{0};
    } else {
        step.tail = word_of(text, len) << (8 * (8 - len));
        step.tail_mask = ~uint64_t{0} << (8 * (8 - len));
    }
    return step;
}

// Where the quote moves' patterns stand on the keys of `chain`. The walk
// knows where each key after a separator starts; a key that only ends with
// a pattern's, or a first key that holds one, would need more.
constexpr void note_moved_keys(Chain &chain) {
    for (int k = 0; k < lb::parser::kQuotedFields; ++k) {
        const std::string_view key = lb::parser::quoted_field_key(k);
        chain.moved_step[k] = -1;
        for (int i = chain.count - 1; i >= 0; --i) {
            const std::string_view name = chain.steps[i].name;
            if (name.ends_with(key) && (name != key || i == 0))
                throw "a key that a quote move cannot take from the walk";
            if (name == key && chain.steps[i].quoted) chain.moved_step[k] = static_cast<int8_t>(i);
        }
    }
    for (int i = 1, quoted = 0; i < chain.count; ++i)
        chain.quoted_after_first[i] = static_cast<int8_t>(quoted += chain.steps[i].quoted != 0);
}

// The chains of `table` (the constant the writable `rows` start as), with
// pointers into `rows`.
constexpr Chains build_chains(const Table &table, const Table &rows) {
    Chains chains{};
    for (int layout = 0; layout <= lb::ed::kNewestLayout; ++layout) {
        Chain &chain = chains[layout];
        int prev = 0;
        for (int row = 0;; row = table[row].next_row[layout]) {
            if (chain.count == lb::ed::kLongestChain) throw "a layout longer than kLongestChain";
            chain.steps[chain.count] =
                chain_step(chain.count > 0 ? &table[prev] : nullptr, table[row]);
            prev = row;
            chain.items[chain.count] = &rows[row];
            const bool last = table[row].next_row[layout] == 0;
            chain.kinds[chain.count++] = last ? ItemKind::last : ItemKind::middle;
            if (last) break;
        }
        note_moved_keys(chain);
    }
    return chains;
}

constinit const Chains atk_chains = build_chains(atk_table, ed_arr_atk);
constinit const Chains tfk_chains = build_chains(tfk_table, ed_arr_tfk);
constinit const Chains evt_chains = build_chains(evt_table, ed_arr_evt);

enum AtkRow {
#define LB_ROW_ENUM(key, q) atk_##key,
    LB_ATK_KEYS(LB_ROW_ENUM)
#undef LB_ROW_ENUM
};
enum TfkRow {
#define LB_ROW_ENUM(key, q) tfk_##key,
    LB_TFK_KEYS(LB_ROW_ENUM)
#undef LB_ROW_ENUM
};
enum EvtRow {
#define LB_ROW_ENUM(key, q) evt_##key,
    LB_EVT_KEYS(LB_ROW_ENUM)
#undef LB_ROW_ENUM
};

} // namespace

const lb::ed::Chain *lb::ed::builtin_chain(const entry_desc *table, int layout) {
    if (layout < 0 || layout > kNewestLayout) return nullptr;
    if (table == ed_arr_atk.data()) return &atk_chains[layout];
    if (table == ed_arr_tfk.data()) return &tfk_chains[layout];
    if (table == ed_arr_evt.data()) return &evt_chains[layout];
    return nullptr;
}

namespace {

// Layout of a "v0NN" tag, for NN from 1 to 13.
constexpr int layout_of_tag[14] = {-1, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

} // namespace

extern "C" {

#define LB_IDX_GLOBAL(tag, key) LOGBASE_API int idx_##tag##_##key = tag##_##key;
#define LB_IDX_ATK(key, q) LB_IDX_GLOBAL(atk, key)
#define LB_IDX_TFK(key, q) LB_IDX_GLOBAL(tfk, key)
#define LB_IDX_EVT(key, q) LB_IDX_GLOBAL(evt, key)
LB_ATK_KEYS(LB_IDX_ATK)
LB_TFK_KEYS(LB_IDX_TFK)
LB_EVT_KEYS(LB_IDX_EVT)
#undef LB_IDX_ATK
#undef LB_IDX_TFK
#undef LB_IDX_EVT
#undef LB_IDX_GLOBAL

LOGBASE_API entry_desc *_get_ed_by_cat(int cat) {
    switch (cat) {
    case LOG_CAT_EVENT:
        return ed_arr_evt.data();
    case LOG_CAT_TRAFFIC:
        return ed_arr_tfk.data();
    case LOG_CAT_ATTACK:
        return ed_arr_atk.data();
    default:
        return nullptr;
    }
}

LOGBASE_API void dup_prev_ed(entry_desc *table, int in_ver) {
    LB_ASSERT(in_ver >= 1 && in_ver < 31);
    if (table != nullptr) copy_layout(table, in_ver);
}

LOGBASE_API int scan_ver(const char *line, int len, int *prefix_len, int *version) {
    if (line == nullptr || prefix_len == nullptr || version == nullptr || len < 4) return -1;
    if (line[0] != 'v' || line[1] != '0') {
        *prefix_len = 0;
        *version = 0;
        return 0;
    }
    const int tag =
        10 * (static_cast<signed char>(line[2]) - '0') + (static_cast<signed char>(line[3]) - '0');
    if (tag >= 1 && tag <= 13) {
        *prefix_len = 8;
        *version = layout_of_tag[tag];
    }
    return 0;
}

} // extern "C"
