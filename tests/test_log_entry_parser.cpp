#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "logbase.h"
#include "reference_parser.hpp"
#include "testkit.hpp"

namespace {

std::vector<int> chain_rows(int cat, int layout) {
    const entry_desc *t = _get_ed_by_cat(cat);
    std::vector<int> rows{0};
    for (int r = 0; (r = t[r].next_row[layout]) != 0 && rows.size() < ENTRY_DESC_ROWS;)
        rows.push_back(r);
    return rows;
}

// "0-3,7" -> {0,1,2,3,7} (the "-3" after a 0 reads as -3)
std::vector<int> expand(const std::string &ranges) {
    std::vector<int> rows;
    std::istringstream in(ranges);
    for (int from, to; in >> from; in.ignore()) // (the comma)
        for (to = in.peek() == '-' && in >> to ? -to : from; from <= to; ++from)
            rows.push_back(from);
    return rows;
}

// The line of a layout with every item present; `value` replaces the default
// value of the key it names (given with its quotes when quoted).
std::string make_line(int cat, int layout, const std::string &tag = "",
                      const std::pair<std::string, std::string> &value = {},
                      size_t items = KV_MAX_ITEMS) {
    const entry_desc *t = _get_ed_by_cat(cat);
    std::string line = tag;
    const std::vector<int> rows = chain_rows(cat, layout);
    for (size_t i = 0; i < rows.size() && i < items; ++i) {
        const entry_desc &d = t[rows[i]];
        line += std::string(d.name) + "=" +
                (value.first == d.name ? value.second
                 : d.quoted            ? "\"q" + std::to_string(i) + "\""
                                       : std::to_string(i)) +
                " ";
    }
    return line + "\n";
}

std::string value_of(const kv_entries &e, const char *key) {
    const kv_value *v = parse_get_value(&e, key);
    return v ? std::string(v->val, v->val_len) : "<absent>";
}

int parse(int cat, const std::string &line, kv_entries &e, int cut = 0) {
    e.count = -7;
    return parse_disk_log_entry(cat, line.c_str(), static_cast<int>(line.size()) - cut, &e);
}

TEST(DescriptorTables, ChainsKeysQuotingAndExportedIndices) {
    // Rows of each layout 0..12 in line order; then
    // the used rows and quoted keys of each table (one flipped changes the count).
    const std::string a5 = "0-6,62,7,9,44-45,10-27,49,28-31,36-43,46-48,50-61";
    const std::string a7 = "0-6,62,7,9,44-45,10-13,64,14-27,49,28-31,36-40,65,41-43,46-48,50-61,63";
    const std::string t6 = "0-6,37,7-14,38,15-27,39,28-36", e5 = "0-6,16,7-15";
    const std::vector<std::string> chains[4] = {
        {},
        {"0-15", "0-15", "0-15", "0-15", "0-15", e5, e5, e5, e5, e5, e5, e5, "0"},
        {"0-35", "0-35", "0-35", "0-36", "0-36", "0-6,37,7-36", t6, t6, t6, t6, t6 + ",40",
         t6 + ",40", "0"},
        {"0-43", "0-31,36-43", "0-7,9,44-45,10-31,36-43,46-47", "0-7,9,44-45,10-31,36-43,46-48",
         "0-7,9,44-45,10-27,49,28-31,36-43,46-48,50-60", a5, a5 + ",63", a7, a7 + ",66", a7 + ",66",
         a7 + ",66,67", a7 + ",66,67,68", "0"}};
    const int used_rows[4] = {0, 17, 41, 69}, quoted_rows[4] = {0, 6, 18, 37};
    const char *const tags[4] = {"", "evt", "tfk", "atk"};
    EXPECT_EQ(_get_ed_by_cat(4), nullptr);
    for (int cat = LOG_CAT_EVENT; cat <= LOG_CAT_ATTACK; ++cat) {
        const entry_desc *t = _get_ed_by_cat(cat);
        int quoted = 0;
        for (int layout = 0; layout <= 12; ++layout)
            EXPECT_EQ(chain_rows(cat, layout), expand(chains[cat][layout])) << cat << layout;
        for (int row = used_rows[cat]; row < ENTRY_DESC_ROWS; ++row)
            EXPECT_EQ(t[row].name, nullptr);
        for (int row = 0; row < used_rows[cat]; ++row) {
            const std::string name = t[row].name;
            EXPECT_EQ(t[row].name_len, static_cast<int>(name.size()));
            quoted += t[row].quoted;
            const std::string global = std::string("idx_") + tags[cat] + "_" + name;
            const auto *idx = static_cast<const int *>(dlsym(RTLD_DEFAULT, global.c_str()));
            ASSERT_NE(idx, nullptr) << global;
            EXPECT_EQ(*idx, row) << global;
        }
        EXPECT_EQ(quoted, quoted_rows[cat]);
    }
    // dup_prev_ed copies the layout before.
    entry_desc copy[ENTRY_DESC_ROWS];
    std::copy_n(_get_ed_by_cat(LOG_CAT_ATTACK), ENTRY_DESC_ROWS, copy);
    dup_prev_ed(copy, 12);
    for (int r = 0; r < ENTRY_DESC_ROWS; ++r)
        EXPECT_EQ(copy[r].next_row[12], copy[r].next_row[11]);
    EXPECT_DEATH(dup_prev_ed(copy, 0), "in_ver >= 1 && in_ver < 31");
    EXPECT_DEATH(dup_prev_ed(copy, 31), "in_ver >= 1 && in_ver < 31");
}

TEST(DescriptorTables, ScanVerReadsTheTag) {
    // {line, length, result, prefix, version}; -9 is left as it was.
    const std::tuple<const char *, int, int, int, int> cases[] = {
        {"date=1", 6, 0, 0, 0},     {"v003abcd", 8, 0, 8, 1},   {"v013abcd", 8, 0, 8, 11},
        {"v000abcd", 8, 0, -9, -9}, {"v014abcd", 8, 0, -9, -9}, {"v00:abcd", 8, 0, 8, 8},
        {"v123abcd", 8, 0, 0, 0},   {"v0/9abcd", 8, 0, -9, -9}, {"v00", 3, -1, -9, -9}};
    for (const auto &[line, len, result, want_prefix, want_version] : cases) {
        int prefix = -9, version = -9;
        EXPECT_EQ(std::tuple(scan_ver(line, len, &prefix, &version), prefix, version),
                  std::tuple(result, want_prefix, want_version))
            << line;
    }
}

TEST(LineParser, WholeLinesResultCodesAndEarlyEnd) {
    kv_entries e;
    const int attack = LOG_CAT_ATTACK;
    const std::string atk = make_line(attack, 11, "v013abcd");
    EXPECT_EQ(parse(attack, atk, e), static_cast<int>(atk.size()));
    EXPECT_EQ(e.count, 64);
    EXPECT_EQ(value_of(e, "owasp_api_top10"), "q63");
    // Cut before its final newline, the line still ends when the next byte is the newline.
    EXPECT_EQ(parse(attack, atk, e, 1), static_cast<int>(atk.size()));

    // Look-alikes of the following keys on a line that cannot parse: retrying each never ends.
    std::string lure;
    while (lure.size() < 60000)
        lure += "\" http_host=\"a\" http_agent=\"b\" http_session_id=c msg=\"d";
    std::string lured = make_line(attack, 11, "v013abcd", {"http_url", "\"x" + lure + "\""});
    EXPECT_EQ(parse(attack, lured, e), static_cast<int>(lured.size()));
    EXPECT_EQ(value_of(e, "http_url"), "x");
    lured.back() = '!';
    EXPECT_EQ(parse(attack, lured, e), KV_ERR_END);

    // Only layout 0 ends early, and only after its 26th item.
    const std::string atk25 = make_line(attack, 0, "", {}, 25),
                      evt15 = make_line(LOG_CAT_EVENT, 0, "", {}, 15);
    const std::string atk30 = make_line(attack, 1, "v003abcd", {}, 30);
    const std::tuple<int, const char *, int> cases[] = {
        {LOG_CAT_NONE, "date=1 \n", KV_ERR_CATEGORY},
        {attack, "v013abcd", KV_ERR_EMPTY},
        {attack, "", KV_ERR_EMPTY},
        {attack, "time=1 \n", KV_ERR_KEY},
        {attack, "date:1 \n", KV_ERR_EQUALS},
        {attack, "v014abcddate=1 \n", KV_ERR_KEY},
        {attack, atk25.c_str(), KV_ERR_END},
        {attack, atk30.c_str(), KV_ERR_END},
        {LOG_CAT_EVENT, evt15.c_str(), KV_ERR_END}};
    for (const auto &[cat, line, result] : cases) {
        EXPECT_EQ(parse(cat, line, e), result) << line;
        EXPECT_EQ(e.count, -7) << line;
    }
    const std::string after26 = make_line(attack, 0, "", {}, 26);
    EXPECT_EQ(parse(attack, after26, e), static_cast<int>(after26.size()));
    EXPECT_EQ(e.count, 26);
    EXPECT_EQ(parse_disk_log_entry(attack, nullptr, 4, &e), KV_ERR_CATEGORY);
    kv_parse_ctx ctx{_get_ed_by_cat(attack), 0, 0, 0};
    char vd[] = "vd=root \n";
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 1, vd, 9, &e, &ctx), KV_ERR_QUOTE);
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 1, vd, 9, &e, nullptr), KV_ERR_CATEGORY);
    // A layout-1 traffic line has 36 items: one slot short, it cannot end.
    std::string tfk = make_line(LOG_CAT_TRAFFIC, 1);
    ctx = {_get_ed_by_cat(LOG_CAT_TRAFFIC), 1, 0, 0};
    for (int depth : {35, 36})
        EXPECT_EQ(_parse_log_kv_pair(0, depth, tfk.data(), static_cast<int>(tfk.size()), &e, &ctx),
                  depth == 36 ? static_cast<int>(tfk.size()) : KV_ERR_END);
}

TEST(CsvConversion, ConvertsLinesInPlace) {
    const std::string tag = "v013abcd",
                      first = make_line(LOG_CAT_ATTACK, 11, tag, {"timezone", "\"GMT+1, Paris\""});
    std::string buf = first + make_line(LOG_CAT_ATTACK, 11, tag);
    ASSERT_EQ(convert_csv_log(LOG_CAT_ATTACK, buf.data(), static_cast<int>(buf.size())), 0);
    EXPECT_NE(buf.find(",\"timezone=GMT+1, Paris\",timezone_dayst="), std::string::npos);
    EXPECT_EQ(buf.substr(first.size(), 8), tag);
    EXPECT_EQ(convert_csv_log(9, buf.data(), static_cast<int>(buf.size())), KV_ERR_CATEGORY);

    convert_csv_log_special_character(nullptr, 4);
    // As the reference moves the quotes one field after the other: a rewrite can make a later
    // pattern's first occurrence, a zero byte hides what follows it, at any distance from a
    // block edge.
    const std::string tricky[] = {
        "a=1,ml_allow_method=timezone=\"x\",ml_allow_method=\"y\" \n",
        "ml_svm_accuracy=\"timezone=\"\"ml_svm_accuracy=\"1\" \n",
        std::string("x=\"timezone=\0\"timezone=\"a\"", 26),
        "q=\"=\"=\"timezone=\"",
        "a,timezone=\"x\",timezone=\"y\",ml_allow_method=\"z\" \n",
        std::string(5000, 'a') + "ml_svm_log_match_types=\"1\"",
    };
    // At every vector level this processor has (its search takes 64 places at a time).
    const int best = logbase_set_simd_level(LOGBASE_SIMD_AVX512);
    for (int level = LOGBASE_SIMD_PORTABLE; level <= best; ++level) {
        ASSERT_EQ(logbase_set_simd_level(level), level);
        for (const std::string &base : tricky)
            for (size_t pad = 0; pad < 70; pad += 3) {
                std::string line = std::string(pad, 'p') + base, expected = line;
                reference::move_quotes(expected.data(), expected.size());
                convert_csv_log_special_character(line.data(), static_cast<int>(line.size()));
                EXPECT_EQ(line, expected) << pad << " at level " << level;
            }
    }
}

TEST(FormatPolicy, QuotesAnUnquotedPolicyValue) {
    const std::pair<std::string, std::string> cases[] = {
        {"a=1 policy=my pol src=2 \n", "a=1 policy=\"my pol\" src=2 \n"},
        {"trigger_policy=t x policy=p src=1", "trigger_policy=\"t x\" policy=p src=1"},
        {"trigger_policy=\"t\" policy=p q src=1", ""},
        {"a=1 policy=last value", ""}};
    for (const auto &[line, expected] : cases) {
        char *out = format_policy(line.c_str(), static_cast<int>(line.size()));
        EXPECT_EQ(std::string(out), expected.empty() ? line : expected);
        free(out);
    }
}

TEST(ReadLogFile, LoadsTheSampleOfACategory) {
    ASSERT_EQ(system("mkdir -p /var/log/znlog/root/disklog"), 0);
    // A 40-byte header whose byte 20 is the index capacity, then one line.
    const std::string file =
        'v' + std::string(19, '\0') + '\2' + std::string(19, '\0') + "date=1 \n";
    ASSERT_TRUE(testkit::write_file("/var/log/znlog/root/disklog/alog.log", file));
    int size = 0, offset = 0;
    char *buf = read_log_file(LOG_CAT_ATTACK, &size, &offset);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(std::pair(offset, std::string(buf, size)), std::pair(40, file));
    free(buf);
    EXPECT_EQ(read_log_file(LOG_CAT_TRAFFIC, &size, &offset), nullptr); // no traffic sample
    EXPECT_EQ(read_log_file(7, &size, &offset), nullptr);
}

std::mt19937 rng(20241205);
const auto pick = [](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
const auto chance = [](int percent) { return static_cast<int>(pick(100)) < percent; };

const auto item = [](const kv_entry &x) { return std::tie(x.key, x.key_len, x.val, x.val_len); };

// Random pieces, at times with a look-alike of one of the next two keys.
std::string random_value(const entry_desc *t, const std::vector<int> &rows, size_t i) {
    static const char *const pieces[] = {"a",   "bc", "1",   " ",     " ", ",",  "\"",
                                         "\" ", "\n", " \n", "\" \n", "=", "x y"};
    std::string v;
    for (size_t n = pick(5); n > 0; --n) {
        const entry_desc &next = t[rows[std::min(i + 1 + pick(2), rows.size() - 1)]];
        v += chance(95) ? pieces[pick(std::size(pieces))]
                        : (chance(50) ? "\" " : " ") + std::string(next.name) + "=" +
                              (next.quoted ? "\"" : "") + "v";
    }
    return v;
}

// A line of `layout` with its tag, and the length to hand the parser.
std::pair<std::string, int> random_line(int cat, int layout) {
    const entry_desc *t = _get_ed_by_cat(cat);
    const std::vector<int> rows = chain_rows(cat, layout);
    const int version = layout == 0 ? 1 + static_cast<int>(pick(2)) : layout + 2;
    std::string text =
        layout == 0 && chance(50) ? "" : "v0" + std::to_string(100 + version).substr(1) + "-tag";
    // One line in four carries one structural fault.
    const int fault = chance(25) ? static_cast<int>(pick(4)) : -1;
    const size_t at = pick(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        int row = rows[i];
        if (i == at && fault == 0) row = rows[pick(rows.size())]; // wrong or repeated key
        if (i == at && fault == 1) continue;                      // missing key
        const bool quoted = t[row].quoted && !(i == at && fault == 2);
        const std::string value = random_value(t, rows, i);
        text += std::string(t[row].name) + "=" + (quoted ? "\"" + value + "\"" : value) + " ";
        if (layout == 0 && i >= 24 && chance(5)) break; // early end
    }
    text += "\n"; // one fault is a length that cuts the line short
    return {text, static_cast<int>(text.size()) - (fault == 3 ? 1 + static_cast<int>(pick(8)) : 0)};
}

// What the parser and the CSV conversion make of the first `len` bytes of
// `text`: results, items (values as offsets) and the converted bytes.
std::string outcome(int cat, const std::string &text, int len) {
    kv_entries e{};
    std::ostringstream out;
    const int parsed = parse_disk_log_entry(cat, text.c_str(), len, &e);
    out << parsed << ' ' << e.count;
    for (int i = 0; parsed > 0 && i < e.count; ++i)
        out << ' ' << std::string(e.entries[i].key, e.entries[i].key_len) << '@'
            << e.entries[i].val - text.c_str() << '+' << e.entries[i].val_len;
    std::string csv = text;
    out << ' ' << convert_csv_log(cat, csv.data(), len) << ' ' << csv;
    return out.str();
}

// Every vector level this processor has gives the portable level's outcome.
void expect_same_at_every_level(int cat, const std::string &text, int len) {
    const int best = logbase_set_simd_level(LOGBASE_SIMD_AVX512);
    logbase_set_simd_level(LOGBASE_SIMD_PORTABLE);
    const std::string portable = outcome(cat, text, len);
    for (int level = LOGBASE_SIMD_SSE2; level <= best; ++level) {
        ASSERT_EQ(logbase_set_simd_level(level), level);
        EXPECT_EQ(outcome(cat, text, len), portable) << "level " << level << ": " << text;
    }
}

TEST(Differential, EveryLevelAgreesOnSamplesGeneratedAndCraftedLines) {
    const char *const files[] = {"", "event", "traffic", "attack"};
    for (int cat = LOG_CAT_EVENT; cat <= LOG_CAT_ATTACK; ++cat) {
        for (const char *suffix : {".txt", ".layout0.txt"}) {
            std::ifstream in(std::string(LOGBASE_SAMPLES_DIR) + "/" + files[cat] + suffix);
            int lines = 0;
            for (std::string line; std::getline(in, line); ++lines)
                expect_same_at_every_level(cat, line + " \n", static_cast<int>(line.size()) + 2);
            EXPECT_GT(lines, 4) << files[cat] << suffix;
        }
        for (int layout = 0; layout <= 11; ++layout) {
            const std::string tag = "v0" + std::to_string(layout ? 102 + layout : 101).substr(1);
            const std::string line = make_line(cat, layout, tag + "abcd");
            for (int cut : {0, 1, 2})
                expect_same_at_every_level(cat, line, static_cast<int>(line.size()) - cut);
        }
    }
    // Look-alikes of the following keys inside a value, at every offset from a 64-byte block.
    std::string lure;
    while (lure.size() < 3000)
        lure += "\" http_host=\"a\" http_agent=\"b\" http_session_id=c msg=\"d\" \n";
    for (size_t pad = 0; pad < 64; pad += 7) {
        std::string line = make_line(LOG_CAT_ATTACK, 11, "v013abcd",
                                     {"http_url", "\"" + std::string(pad, 'x') + lure + "\""});
        expect_same_at_every_level(LOG_CAT_ATTACK, line, static_cast<int>(line.size()));
        line.back() = '!';
        expect_same_at_every_level(LOG_CAT_ATTACK, line, static_cast<int>(line.size()));
    }
    // The quote moves' keys inside values: more than the scan keeps for a line, then after a
    // zero byte, each line followed by one that holds a few.
    std::string keys;
    while (keys.size() < 8000)
        keys += "ml_allow_method=\"timezone=\"";
    const std::string next =
        make_line(LOG_CAT_ATTACK, 11, "v013abcd", {"http_url", "\"timezone=\"\""});
    for (const std::string &value : {keys, "x" + std::string(1, '\0') + keys.substr(0, 27)}) {
        const std::string text =
            make_line(LOG_CAT_ATTACK, 11, "v013abcd", {"http_url", "\"" + value + "\""}) + next;
        expect_same_at_every_level(LOG_CAT_ATTACK, text, static_cast<int>(text.size()));
    }
    // Where the conversion takes the moved keys from the walk: a value that starts with the
    // quote a move exposes, one after which a moved key's `="` is no longer first, a zero byte
    // before a moved key, an unquoted value that opens with a quote, and a line that ends
    // before the later keys (layout 0).
    const std::pair<std::string, std::string> edges[] = {
        {"timezone", "\"\"ml_allow_method=\"x\""},
        {"ml_svm_accuracy", "\"\"timezone=\"\""},
        {"vd", "\"ml_svm_log_match_types=\"\""},
        {"vd", "\"a" + std::string(1, '\0') + "b\""},
        {"service", "\"x\""},
        {"http_url", "\"/?timezone=1\""},
    };
    for (const auto &edge : edges)
        for (int layout : {0, 5, 11}) {
            const std::string tag = layout == 0 ? "" : layout == 5 ? "v007abcd" : "v013abcd";
            const std::string text =
                make_line(LOG_CAT_ATTACK, layout, tag, edge) +
                make_line(LOG_CAT_ATTACK, layout, tag, {}, layout == 0 ? 27 : KV_MAX_ITEMS);
            expect_same_at_every_level(LOG_CAT_ATTACK, text, static_cast<int>(text.size()));
        }
    // A buffer that ends just before its line's newline, at a 64-byte edge: the parse takes
    // the newline past it. Converted after a buffer whose scan left, where a block after it
    // would be, as many `="` as the line's keys open: the one inside its value still counts.
    std::string line = make_line(LOG_CAT_EVENT, 0, "", {"msg", "\"a ml_svm_accuracy=\" b\""});
    line.insert(line.find(" b\""), (64 - (line.size() - 1) % 64) % 64, 'x');
    const int len = static_cast<int>(line.size()) - 1;
    ASSERT_EQ(len % 64, 0);
    std::string primer = line;
    primer[primer.find("accuracy=\"") + 9] = 'x';
    primer += primer;
    const int best = logbase_set_simd_level(LOGBASE_SIMD_AVX512);
    for (int level = LOGBASE_SIMD_PORTABLE; level <= best; ++level) {
        logbase_set_simd_level(level);
        std::string before = primer, csv = line;
        convert_csv_log(LOG_CAT_EVENT, before.data(), static_cast<int>(before.size()));
        EXPECT_EQ(convert_csv_log(LOG_CAT_EVENT, csv.data(), len), 0);
        EXPECT_NE(csv.find("\"ml_svm_accuracy=x"), std::string::npos) << level << ": " << csv;
    }
}

TEST(Differential, AgreesWithTheStraightforwardParser) {
    // 5040 pairs, 10,080 lines, over layouts 0..11 of every category.
    int successes = 0, skipped = 0;
    for (int n = 0; n < 5040; ++n) {
        const int cat = LOG_CAT_EVENT + n % 3, layout = n / 3 % 12;
        auto [text, len] = random_line(cat, layout);
        auto [second, len2] = random_line(cat, layout);
        SCOPED_TRACE(testing::Message() << cat << '/' << layout << " [" << text << "] " << len);
        reference::Budget budget{200000};
        kv_entries fast{}, slow{};
        const int r_fast = parse_disk_log_entry(cat, text.c_str(), len, &fast);
        const int r_slow = reference::parse_disk_log_entry(cat, text.c_str(), len, &slow, budget);
        // Comma mode, as the CSV conversion runs it, on two lines.
        std::string csv_fast = text.substr(0, len) + second, csv_slow = csv_fast;
        const int c_fast = convert_csv_log(cat, csv_fast.data(), len + len2);
        const int c_slow = reference::convert_csv_log(cat, csv_slow.data(), len + len2, budget);
        expect_same_at_every_level(cat, text, len);
        expect_same_at_every_level(cat, text.substr(0, len) + second, len + len2);
        if (budget.exhausted && ++skipped) continue;
        ASSERT_EQ(std::tie(r_fast, fast.count, c_fast, csv_fast),
                  std::tie(r_slow, slow.count, c_slow, csv_slow));
        for (int i = 0; r_fast > 0 && i < fast.count; ++i)
            EXPECT_EQ(item(fast.entries[i]), item(slow.entries[i])) << i;
        successes += r_fast > 0;
    }
    EXPECT_LT(skipped, 50);
    EXPECT_GT(successes, 2520); // half the first lines are parsed alone
}

} // namespace
