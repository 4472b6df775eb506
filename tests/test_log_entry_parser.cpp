#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "logbase.h"
#include "reference_parser.hpp"
#include "testkit.hpp"

namespace {

const char *tag_of(int cat) {
    return cat == 1 ? "evt" : cat == 2 ? "tfk" : "atk";
}

std::vector<int> chain_rows(int cat, int layout) {
    const entry_desc *t = _get_ed_by_cat(cat);
    std::vector<int> rows{0};
    for (int r = t[0].next_row[layout]; r != 0 && rows.size() < 128; r = t[r].next_row[layout])
        rows.push_back(r);
    return rows;
}

std::vector<std::string> split(const std::string &text, char by) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, by);)
        parts.push_back(part);
    return parts;
}

// "0-3,7" -> {0,1,2,3,7}
std::vector<int> expand(const std::string &ranges) {
    std::vector<int> rows;
    for (const std::string &part : split(ranges, ',')) {
        const size_t dash = part.find('-');
        const int a = std::stoi(part.substr(0, dash));
        const int b = dash == std::string::npos ? a : std::stoi(part.substr(dash + 1));
        for (int r = a; r <= b; ++r)
            rows.push_back(r);
    }
    return rows;
}

// The line of a layout with every item present; `values` replaces the
// default value of the keys it names (given with their quotes when quoted).
std::string make_line(int cat, int layout, const std::string &tag = "",
                      const std::vector<std::pair<std::string, std::string>> &values = {},
                      size_t items = 128) {
    const entry_desc *t = _get_ed_by_cat(cat);
    std::string line = tag;
    const std::vector<int> rows = chain_rows(cat, layout);
    for (size_t i = 0; i < rows.size() && i < items; ++i) {
        const entry_desc &d = t[rows[i]];
        std::string value = d.quoted ? "\"q" + std::to_string(i) + "\"" : std::to_string(i);
        for (const auto &[key, v] : values)
            if (key == d.name) value = v;
        line += std::string(d.name) + "=" + value + " ";
    }
    return line + "\n";
}

std::string value_of(const kv_entries &e, const char *key) {
    const kv_value *v = parse_get_value(&e, key);
    return v ? std::string(v->val, v->val_len) : "<absent>";
}

int parse(int cat, const std::string &line, kv_entries &e, int len = -1) {
    e.count = -7;
    return parse_disk_log_entry(cat, line.c_str(), len < 0 ? static_cast<int>(line.size()) : len,
                                &e);
}

TEST(DescriptorTables, ChainsFollowTheLayouts) {
    // Rows of each layout 0..12 in line order, layouts separated by '|'.
    const std::string a5 = "0-6,62,7,9,44-45,10-27,49,28-31,36-43,46-48,50-61";
    const std::string a7 = "0-6,62,7,9,44-45,10-13,64,14-27,49,28-31,36-40,65,41-43,46-48,50-61,63";
    const std::string t6 = "0-6,37,7-14,38,15-27,39,28-36", e5 = "0-6,16,7-15";
    const auto atk = split("0-43|0-31,36-43|0-7,9,44-45,10-31,36-43,46-47|"
                           "0-7,9,44-45,10-31,36-43,46-48|"
                           "0-7,9,44-45,10-27,49,28-31,36-43,46-48,50-60|" +
                               a5 + "|" + a5 + ",63|" + a7 + "|" + a7 + ",66|" + a7 + ",66|" + a7 +
                               ",66,67|" + a7 + ",66,67,68|0",
                           '|');
    const auto tfk = split("0-35|0-35|0-35|0-36|0-36|0-6,37,7-36|" + t6 + "|" + t6 + "|" + t6 +
                               "|" + t6 + "|" + t6 + ",40|" + t6 + ",40|0",
                           '|');
    const auto evt = split("0-15|0-15|0-15|0-15|0-15|" + e5 + "|" + e5 + "|" + e5 + "|" + e5 + "|" +
                               e5 + "|" + e5 + "|" + e5 + "|0",
                           '|');
    for (int layout = 0; layout <= 12; ++layout) {
        SCOPED_TRACE(layout);
        EXPECT_EQ(chain_rows(3, layout), expand(atk[layout]));
        EXPECT_EQ(chain_rows(2, layout), expand(tfk[layout]));
        EXPECT_EQ(chain_rows(1, layout), expand(evt[layout]));
    }
    EXPECT_EQ(chain_rows(3, 30), expand("0"));
}

TEST(DescriptorTables, RowsKeysQuotingAndExportedIndices) {
    // The quoted keys of each table; every other used row is unquoted.
    const std::string common = "vd timezone subtype msg timezone_dayst ";
    const std::vector<std::string> quoted[4] = {
        {},
        split(common + "trigger_policy", ' '),
        split(common + "policy http_url http_agent srccountry content_switch_name "
                       "server_pool_name http_host user_name http_refer http_version cipher_suite "
                       "original_srccountry x509_cert_subject",
              ' '),
        split(common + "trigger_policy policy http_url http_host http_agent signature_subclass "
                       "signature_id srccountry content_switch_name server_pool_name "
                       "false_positive_mitigation score_message entry_sequence user_name "
                       "monitor_status http_refer http_version dev_id main_type sub_type ftp_mode "
                       "ftp_cmd cipher_suite signature_cve_id ml_svm_log_match_types "
                       "ml_svm_accuracy ml_allow_method owasp_top10 bot_info client_level "
                       "x509_cert_subject owasp_api_top10",
              ' ')};
    const int used_rows[4] = {0, 17, 41, 69};
    EXPECT_EQ(_get_ed_by_cat(0), nullptr);
    EXPECT_EQ(_get_ed_by_cat(4), nullptr);
    for (int cat = 1; cat <= 3; ++cat) {
        const entry_desc *t = _get_ed_by_cat(cat);
        for (int row = 0; row < 128; ++row) {
            if (row >= used_rows[cat]) {
                EXPECT_EQ(t[row].name, nullptr);
                continue;
            }
            const std::string name = t[row].name;
            EXPECT_EQ(t[row].name_len, static_cast<int>(name.size()));
            const bool is_quoted =
                std::find(quoted[cat].begin(), quoted[cat].end(), name) != quoted[cat].end();
            EXPECT_EQ(t[row].quoted, is_quoted ? 1 : 0) << name;
            const std::string global = std::string("idx_") + tag_of(cat) + "_" + name;
            const auto *idx = static_cast<const int *>(dlsym(RTLD_DEFAULT, global.c_str()));
            ASSERT_NE(idx, nullptr) << global;
            EXPECT_EQ(*idx, row) << global;
        }
    }
    EXPECT_EQ(idx_atk_src, 16);
    EXPECT_EQ(idx_tfk_src, 15);
    EXPECT_EQ(idx_evt_msg, 15);
    EXPECT_EQ(idx_atk_owasp_api_top10, 68);
}

TEST(DescriptorTables, ConcurrentFirstCallsSeeCompleteChains) {
    std::vector<std::thread> threads;
    std::vector<int> lengths(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back(
            [&, i] { lengths[i] = static_cast<int>(chain_rows(3 - i % 3, 11).size()); });
    for (auto &t : threads)
        t.join();
    const int expected[3] = {64, 41, 17};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(lengths[i], expected[i % 3]);
}

TEST(DescriptorTables, DupPrevEdCopiesTheLayoutBefore) {
    entry_desc copy[128];
    std::copy_n(_get_ed_by_cat(3), 128, copy);
    dup_prev_ed(copy, 12);
    for (int r = 0; r < 128; ++r)
        EXPECT_EQ(copy[r].next_row[12], copy[r].next_row[11]);
    dup_prev_ed(copy, 30);
    EXPECT_EQ(copy[0].next_row[30], 0);
    EXPECT_DEATH(dup_prev_ed(copy, 0), "in_ver >= 1 && in_ver < 31");
    EXPECT_DEATH(dup_prev_ed(copy, 31), "in_ver >= 1 && in_ver < 31");
}

TEST(DescriptorTables, ScanVerReadsTheTag) {
    struct Case {
        const char *line;
        int prefix, version;
    } cases[] = {{"date=1", 0, 0},     {"v003abcd", 8, 1},   {"v013abcd", 8, 11},
                 {"v000abcd", -9, -9}, {"v014abcd", -9, -9}, {"v00:abcd", 8, 8},
                 {"v123abcd", 0, 0},   {"v0/9abcd", -9, -9}};
    for (const Case &c : cases) {
        int prefix = -9, version = -9;
        EXPECT_EQ(scan_ver(c.line, 8, &prefix, &version), 0);
        EXPECT_EQ(prefix, c.prefix) << c.line;
        EXPECT_EQ(version, c.version) << c.line;
    }
    int prefix = -9, version = -9;
    EXPECT_EQ(scan_ver("v00", 3, &prefix, &version), -1);
    EXPECT_EQ(prefix, -9);
}

TEST(LineParser, WholeLinesWithAndWithoutTag) {
    kv_entries e;
    const std::string line = make_line(2, 0);
    EXPECT_EQ(parse(2, line, e), static_cast<int>(line.size()));
    EXPECT_EQ(e.count, 36);
    EXPECT_EQ(value_of(e, "dev_id"), "35");
    EXPECT_EQ(value_of(e, "policy"), "q14");
    EXPECT_EQ(std::string(e.entries[5].key), "vd");
    const std::string tagged = "v002abcd" + line;
    EXPECT_EQ(parse(2, tagged, e), static_cast<int>(tagged.size()));
    const std::string atk = make_line(3, 11, "v013abcd");
    EXPECT_EQ(parse(3, atk, e), static_cast<int>(atk.size()));
    EXPECT_EQ(e.count, 64);
    EXPECT_EQ(value_of(e, "owasp_api_top10"), "q63");
    EXPECT_EQ(value_of(e, "serve"), "<absent>");
    EXPECT_EQ(value_of(e, "msg"), "q28");
    // Cut before its final newline, the line still ends when the byte past
    // the length is the newline.
    EXPECT_EQ(parse(3, atk, e, static_cast<int>(atk.size()) - 1), static_cast<int>(atk.size()));
}

TEST(LineParser, ValuesWithSpacesQuotesAndLookalikes) {
    kv_entries e;
    std::string line = make_line(2, 0, "",
                                 {{"reason", "two words policy=x"},
                                  {"policy", "\"\""},
                                  {"http_url", "\"/a \"b\" http_agent=c\""},
                                  {"http_agent", "\""},
                                  {"status", ""}});
    ASSERT_EQ(parse(2, line, e), static_cast<int>(line.size()));
    EXPECT_EQ(value_of(e, "reason"), "two words policy=x");
    EXPECT_EQ(value_of(e, "policy"), "");
    EXPECT_EQ(parse_get_value(&e, "policy")->val, line.c_str() + line.find("policy=\"") + 8);
    EXPECT_EQ(value_of(e, "http_url"), "/a \"b\" http_agent=c");
    EXPECT_EQ(value_of(e, "http_agent"), "\"");
    EXPECT_EQ(value_of(e, "status"), "");
}

TEST(LineParser, EarlyEndOnlyInLayoutZero) {
    kv_entries e;
    const std::string after26 = make_line(3, 0, "", {}, 26);
    EXPECT_EQ(parse(3, after26, e), static_cast<int>(after26.size()));
    EXPECT_EQ(e.count, 26);
    EXPECT_EQ(parse(3, make_line(3, 0, "", {}, 25), e), -4);
    EXPECT_EQ(e.count, -7);
    EXPECT_EQ(parse(3, make_line(3, 1, "v003abcd", {}, 30), e), -4);
    EXPECT_EQ(parse(1, make_line(1, 0, "", {}, 15), e), -4);
}

TEST(LineParser, ResultCodes) {
    kv_entries e;
    EXPECT_EQ(parse(0, "date=1 \n", e), -1);
    EXPECT_EQ(parse_disk_log_entry(3, nullptr, 4, &e), -1);
    EXPECT_EQ(parse(3, "v013abcd", e), -2);
    EXPECT_EQ(parse(3, "", e), -2);
    EXPECT_EQ(parse(3, "time=1 \n", e), -3);
    EXPECT_EQ(parse(3, "v014abcddate=1 \n", e), -3);
    EXPECT_EQ(parse(3, "date:1 \n", e), -5);
    EXPECT_EQ(parse(3, make_line(3, 0, "", {{"vd", "root"}}), e), -4);
    EXPECT_EQ(e.count, -7);
    kv_parse_ctx ctx{_get_ed_by_cat(3), 0, 0, 0};
    char vd[] = "vd=root \n";
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 1, vd, 9, &e, &ctx), -6);
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 0, vd, 9, &e, &ctx), -1);
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 1, vd, 9, &e, nullptr), -1);
}

TEST(LineParser, CommaModeWritesOnlyAlongTheSuccessfulPath) {
    kv_entries e;
    std::string line = make_line(1, 5, "", {{"msg", "\"a \"b\" c\""}});
    kv_parse_ctx ctx{_get_ed_by_cat(1), 5, 1, 0};
    ASSERT_EQ(_parse_log_kv_pair(0, 128, line.data(), static_cast<int>(line.size()), &e, &ctx),
              static_cast<int>(line.size()));
    EXPECT_EQ(ctx.last_pos, 16);
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 16);
    EXPECT_NE(line.find("msg=\"a \"b\" c\" \n"), std::string::npos);
}

// Values full of look-alikes of the following keys, on a line that cannot
// parse: a parser that retries every candidate would not finish.
TEST(LineParser, LookalikesCannotStallTheParser) {
    std::string lure;
    while (lure.size() < 60000)
        lure += "\" http_host=\"a\" http_agent=\"b\" http_session_id=c msg=\"d";
    std::string line = make_line(3, 11, "v013abcd", {{"http_url", "\"x" + lure + "\""}});
    kv_entries e;
    EXPECT_EQ(parse(3, line, e), static_cast<int>(line.size()));
    EXPECT_EQ(value_of(e, "http_url"), "x");
    line.pop_back();
    line += "!";
    EXPECT_EQ(parse(3, line, e), -4);
}

TEST(CsvConversion, ConvertsEveryLineInPlace) {
    const std::string tag = "v013abcd";
    std::string first = make_line(3, 11, tag,
                                  {{"timezone", "\"GMT+1, Paris\""},
                                   {"ml_svm_accuracy", "\"9 9\""},
                                   {"msg", "\"timezone=\"x\"\""}});
    std::string buf = first + make_line(3, 11, tag);
    ASSERT_EQ(convert_csv_log(3, buf.data(), static_cast<int>(buf.size())), 0);
    EXPECT_EQ(buf.substr(0, 8), tag);
    EXPECT_NE(buf.find(",\"timezone=GMT+1, Paris\",timezone_dayst="), std::string::npos);
    EXPECT_NE(buf.find(",\"ml_svm_accuracy=9 9\","), std::string::npos);
    EXPECT_NE(buf.find(",msg=\"timezone=\"x\"\","), std::string::npos);
    EXPECT_EQ(buf.substr(first.size(), 8), tag);
    EXPECT_NE(buf.find(",\"timezone=q6\",", first.size()), std::string::npos);
    EXPECT_EQ(buf.substr(buf.size() - 2), " \n");

    // The first line sets the layout; a later line's tag is skipped by length.
    std::string mixed = make_line(2, 0, "v002abcd") + make_line(2, 0, "v013abcd");
    EXPECT_EQ(convert_csv_log(2, mixed.data(), static_cast<int>(mixed.size())), 0);

    std::string cut = make_line(1, 5, tag) + make_line(1, 5, tag);
    cut.resize(cut.size() - 2);
    const std::string before = cut;
    EXPECT_EQ(convert_csv_log(1, cut.data(), static_cast<int>(cut.size())), -4);
    const size_t first_len = make_line(1, 5, tag).size();
    EXPECT_EQ(cut.substr(first_len), before.substr(first_len));
    EXPECT_NE(cut.substr(0, first_len), before.substr(0, first_len));
    EXPECT_EQ(convert_csv_log(9, cut.data(), static_cast<int>(cut.size())), -1);
}

TEST(CsvConversion, SpecialCharactersRewriteFirstOccurrenceOnly) {
    std::string line = "a,timezone=\"x\",timezone=\"y\",ml_allow_method=\"z\" \n";
    convert_csv_log_special_character(line.data(), static_cast<int>(line.size()));
    EXPECT_EQ(line, "a,\"timezone=x\",timezone=\"y\",\"ml_allow_method=z\" \n");
    std::string long_line(5000, 'a');
    long_line += "ml_svm_log_match_types=\"1\"";
    convert_csv_log_special_character(long_line.data(), static_cast<int>(long_line.size()));
    EXPECT_EQ(long_line.substr(5000), "\"ml_svm_log_match_types=1\"");
    convert_csv_log_special_character(nullptr, 4);
}

TEST(FormatPolicy, QuotesAnUnquotedPolicyValue) {
    auto check = [](const std::string &line, const std::string &expected) {
        char *out = format_policy(line.c_str(), static_cast<int>(line.size()));
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(std::string(out), expected);
        free(out);
    };
    check("a=1 policy=my pol src=2 \n", "a=1 policy=\"my pol\" src=2 \n");
    check("policy=\"p q\" src=2", "policy=\"p q\" src=2");
    check("trigger_policy=\"t\" policy=p q src=1", "trigger_policy=\"t\" policy=p q src=1");
    check("trigger_policy=t x policy=p src=1", "trigger_policy=\"t x\" policy=p src=1");
    check("a=1 policy=last value", "a=1 policy=last value");
    check("no policy here", "no policy here");
}

TEST(ReadLogFile, LoadsTheSampleOfACategory) {
    // Runs inside the throwaway root, where the fixed path may be written.
    ASSERT_EQ(system("mkdir -p /var/log/znlog/root/disklog"), 0);
    std::string file(24, '\0');
    file[0] = 'v';
    file[20] = 2; // index capacity 2
    file += std::string(16, '\0') + "date=1 \n";
    ASSERT_TRUE(testkit::write_file("/var/log/znlog/root/disklog/alog.log", file));
    int size = 0, offset = 0;
    char *buf = read_log_file(3, &size, &offset);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(size, static_cast<int>(file.size()));
    EXPECT_EQ(offset, 40);
    EXPECT_EQ(std::string(buf, size), file);
    free(buf);
    EXPECT_EQ(read_log_file(2, &size, &offset), nullptr); // no traffic sample
    EXPECT_EQ(read_log_file(7, &size, &offset), nullptr);
}

// ---- differential test against the straightforward parser ----------------

class LineGenerator {
  public:
    explicit LineGenerator(unsigned seed) : rng_(seed) {}

    // A line of `layout` (with its tag) and the length to hand the parser.
    std::pair<std::string, int> line(int cat, int layout) {
        const entry_desc *t = _get_ed_by_cat(cat);
        const std::vector<int> rows = chain_rows(cat, layout);
        std::string text = tag(layout);
        // One line in four carries one structural fault.
        const int fault = chance(25) ? static_cast<int>(pick(4)) : -1;
        const size_t at = pick(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            int row = rows[i];
            if (i == at && fault == 0) row = rows[pick(rows.size())]; // wrong or repeated key
            if (i == at && fault == 1) continue;                      // missing key
            const bool quoted = t[row].quoted && !(i == at && fault == 2);
            std::string value = this->value(t, rows, i);
            text += std::string(t[row].name) + "=" + (quoted ? "\"" + value + "\"" : value) + " ";
            if (layout == 0 && i >= 24 && chance(5)) break; // early end
        }
        text += "\n";
        int len = static_cast<int>(text.size());
        if (fault == 3) len -= 1 + static_cast<int>(pick(8)); // cut short
        return {text, std::max(len, 0)};
    }

    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  private:
    bool chance(int percent) { return static_cast<int>(pick(100)) < percent; }

    std::string tag(int layout) {
        if (layout == 0 && chance(50)) return "";
        const int n = layout == 0 ? 1 + static_cast<int>(pick(2)) : layout + 2;
        return "v0" + std::to_string(n / 10) + std::to_string(n % 10) + "-tag";
    }

    std::string value(const entry_desc *t, const std::vector<int> &rows, size_t i) {
        static const char *const pieces[] = {"a",   "bc", "1",   " ",     " ", ",",  "\"",
                                             "\" ", "\n", " \n", "\" \n", "=", "x y"};
        std::string v;
        for (size_t n = pick(5); n > 0; --n) {
            if (chance(5) && i + 1 < rows.size()) {
                const entry_desc &next =
                    t[rows[i + 1 + pick(std::min<size_t>(2, rows.size() - i - 1))]];
                v += std::string(chance(50) ? "\" " : " ") + next.name + "=" +
                     (next.quoted ? "\"" : "") + "v";
            } else {
                v += pieces[pick(std::size(pieces))];
            }
        }
        return v;
    }

    std::mt19937 rng_;
};

void expect_same_items(const kv_entries &a, const char *base_a, const kv_entries &b,
                       const char *base_b, int count) {
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(a.entries[i].key, b.entries[i].key) << i;
        EXPECT_EQ(a.entries[i].key_len, b.entries[i].key_len) << i;
        EXPECT_EQ(a.entries[i].val - base_a, b.entries[i].val - base_b) << i;
        EXPECT_EQ(a.entries[i].val_len, b.entries[i].val_len) << i;
    }
}

TEST(Differential, AgreesWithTheStraightforwardParser) {
    LineGenerator gen(20241205);
    int lines = 0, successes = 0, direct_successes = 0, skipped = 0;
    for (int round = 0; round < 140; ++round) {
        for (int cat = 1; cat <= 3; ++cat) {
            for (int layout = 0; layout <= 11; ++layout) {
                auto [text, len] = gen.line(cat, layout);
                SCOPED_TRACE(testing::Message() << "cat " << cat << " layout " << layout
                                                << " line [" << text << "] len " << len);
                lines += 2;
                reference::Budget budget;
                budget.steps_left = 200000;
                kv_entries fast, slow;
                fast.count = slow.count = -7;
                const int r_fast = parse_disk_log_entry(cat, text.c_str(), len, &fast);
                const int r_slow =
                    reference::parse_disk_log_entry(cat, text.c_str(), len, &slow, budget);
                if (budget.exhausted) {
                    ++skipped;
                    continue;
                }
                ASSERT_EQ(r_fast, r_slow);
                ASSERT_EQ(fast.count, slow.count);
                if (r_fast > 0) ++successes;
                if (r_fast > 0)
                    expect_same_items(fast, text.c_str(), slow, text.c_str(), fast.count);

                // Comma mode, as the CSV conversion runs it, on two lines.
                auto [second, len2] = gen.line(cat, layout);
                std::string buf_fast = text.substr(0, len) + second;
                const int total = len + len2;
                std::string buf_slow = buf_fast;
                const int c_fast = convert_csv_log(cat, buf_fast.data(), total);
                const int c_slow = reference::convert_csv_log(cat, buf_slow.data(), total, budget);
                if (budget.exhausted) {
                    ++skipped;
                    continue;
                }
                ASSERT_EQ(c_fast, c_slow);
                ASSERT_EQ(buf_fast, buf_slow);

                // A direct call at any depth (a small one runs out of slots),
                // in the line's layout or any other.
                const int depth = 1 + static_cast<int>(gen.pick(128));
                const int version = gen.pick(2) ? layout : static_cast<int>(gen.pick(31));
                kv_parse_ctx ctx_fast{_get_ed_by_cat(cat), version, 1, -1}, ctx_slow = ctx_fast;
                int prefix = 0, ignored = 0;
                scan_ver(text.c_str(), len, &prefix, &ignored);
                buf_fast = buf_slow = text;
                const int d_fast = _parse_log_kv_pair(0, depth, buf_fast.data() + prefix,
                                                      len - prefix, &fast, &ctx_fast);
                const int d_slow = reference::parse_log_kv_pair(
                    0, depth, buf_slow.data() + prefix, len - prefix, &slow, &ctx_slow, budget);
                if (budget.exhausted) {
                    ++skipped;
                    continue;
                }
                ASSERT_EQ(d_fast, d_slow);
                if (d_fast > 0) ++direct_successes;
                ASSERT_EQ(ctx_fast.last_pos, ctx_slow.last_pos);
                ASSERT_EQ(buf_fast, buf_slow);
            }
        }
    }
    EXPECT_GE(lines, 10000);
    EXPECT_LT(skipped, lines / 100);
    EXPECT_GT(successes, lines / 4); // half the lines are parsed alone
    EXPECT_GT(direct_successes, lines / 10);
    std::printf("%d lines, %d parsed alone, %d of them whole, %d direct calls succeeded, %d "
                "skipped\n",
                lines, lines / 2, successes, direct_successes, skipped);
}

} // namespace
