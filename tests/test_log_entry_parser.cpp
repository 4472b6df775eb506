#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
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
    for (const std::string &part : split(ranges, ',')) // (npos + 1 is 0)
        for (int r = std::stoi(part); r <= std::stoi(part.substr(part.find('-') + 1)); ++r)
            rows.push_back(r);
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
    const char *const tags[4] = {"", "evt", "tfk", "atk"};
    EXPECT_EQ(_get_ed_by_cat(0), nullptr);
    EXPECT_EQ(_get_ed_by_cat(4), nullptr);
    for (int cat = 1; cat <= 3; ++cat) {
        const entry_desc *t = _get_ed_by_cat(cat);
        for (int row = used_rows[cat]; row < 128; ++row)
            EXPECT_EQ(t[row].name, nullptr);
        for (int row = 0; row < used_rows[cat]; ++row) {
            const std::string name = t[row].name;
            EXPECT_EQ(t[row].name_len, static_cast<int>(name.size()));
            const bool is_quoted =
                std::find(quoted[cat].begin(), quoted[cat].end(), name) != quoted[cat].end();
            EXPECT_EQ(t[row].quoted, is_quoted ? 1 : 0) << name;
            const std::string global = std::string("idx_") + tags[cat] + "_" + name;
            const auto *idx = static_cast<const int *>(dlsym(RTLD_DEFAULT, global.c_str()));
            ASSERT_NE(idx, nullptr) << global;
            EXPECT_EQ(*idx, row) << global;
        }
    }
    EXPECT_EQ((std::vector{idx_atk_src, idx_tfk_src, idx_evt_msg, idx_atk_owasp_api_top10}),
              (std::vector{16, 15, 15, 68}));
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
    const std::tuple<const char *, int, int> cases[] = {
        {"date=1", 0, 0},     {"v003abcd", 8, 1}, {"v013abcd", 8, 11}, {"v000abcd", -9, -9},
        {"v014abcd", -9, -9}, {"v00:abcd", 8, 8}, {"v123abcd", 0, 0},  {"v0/9abcd", -9, -9}};
    for (const auto &[line, want_prefix, want_version] : cases) {
        int prefix = -9, version = -9;
        EXPECT_EQ(scan_ver(line, 8, &prefix, &version), 0);
        EXPECT_EQ(std::pair(prefix, version), std::pair(want_prefix, want_version)) << line;
    }
    int prefix = -9, version = -9;
    EXPECT_EQ(scan_ver("v00", 3, &prefix, &version), -1);
    EXPECT_EQ(prefix, -9);
}

TEST(LineParser, WholeLinesAndTheirValues) {
    kv_entries e;
    std::string line = make_line(2, 0);
    EXPECT_EQ(parse(2, line, e), static_cast<int>(line.size()));
    EXPECT_EQ(e.count, 36);
    EXPECT_EQ(value_of(e, "dev_id"), "35");
    EXPECT_EQ(value_of(e, "policy"), "q14");
    EXPECT_STREQ(e.entries[5].key, "vd");
    EXPECT_EQ(parse(2, "v002abcd" + line, e), static_cast<int>(line.size()) + 8);
    const std::string atk = make_line(3, 11, "v013abcd");
    EXPECT_EQ(parse(3, atk, e), static_cast<int>(atk.size()));
    EXPECT_EQ(e.count, 64);
    EXPECT_EQ(value_of(e, "owasp_api_top10"), "q63");
    EXPECT_EQ(value_of(e, "serve"), "<absent>");
    EXPECT_EQ(value_of(e, "msg"), "q28");
    // Cut before its final newline, the line still ends when the byte past
    // the length is the newline.
    EXPECT_EQ(parse(3, atk, e, static_cast<int>(atk.size()) - 1), static_cast<int>(atk.size()));

    // Values with spaces, quotes and look-alikes of the next key.
    line = make_line(2, 0, "",
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

    // Values full of look-alikes of the following keys, on a line that cannot
    // parse: a parser that retries every candidate would not finish.
    std::string lure;
    while (lure.size() < 60000)
        lure += "\" http_host=\"a\" http_agent=\"b\" http_session_id=c msg=\"d";
    line = make_line(3, 11, "v013abcd", {{"http_url", "\"x" + lure + "\""}});
    EXPECT_EQ(parse(3, line, e), static_cast<int>(line.size()));
    EXPECT_EQ(value_of(e, "http_url"), "x");
    line.back() = '!';
    EXPECT_EQ(parse(3, line, e), -4);
}

TEST(LineParser, ResultCodesAndEarlyEnd) {
    // Only layout 0 ends early, and only after its 26th item.
    const std::string atk25 = make_line(3, 0, "", {}, 25), evt15 = make_line(1, 0, "", {}, 15);
    const std::string atk30 = make_line(3, 1, "v003abcd", {}, 30);
    const std::string vd_root = make_line(3, 0, "", {{"vd", "root"}});
    const std::tuple<int, const char *, int> cases[] = {
        {0, "date=1 \n", -1},         {3, "v013abcd", -2},    {3, "", -2},
        {3, "time=1 \n", -3},         {3, "date:1 \n", -5},   {3, vd_root.c_str(), -4},
        {3, "v014abcddate=1 \n", -3}, {3, atk25.c_str(), -4}, {3, atk30.c_str(), -4},
        {1, evt15.c_str(), -4}};
    kv_entries e;
    for (const auto &[cat, line, result] : cases) {
        EXPECT_EQ(parse(cat, line, e), result) << line;
        EXPECT_EQ(e.count, -7) << line;
    }
    const std::string after26 = make_line(3, 0, "", {}, 26);
    EXPECT_EQ(parse(3, after26, e), static_cast<int>(after26.size()));
    EXPECT_EQ(e.count, 26);
    EXPECT_EQ(parse_disk_log_entry(3, nullptr, 4, &e), -1);
    kv_parse_ctx ctx{_get_ed_by_cat(3), 0, 0, 0};
    char vd[] = "vd=root \n";
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 1, vd, 9, &e, &ctx), -6);
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 0, vd, 9, &e, &ctx), -1);
    EXPECT_EQ(_parse_log_kv_pair(idx_atk_vd, 1, vd, 9, &e, nullptr), -1);
}

TEST(CsvConversion, ConvertsLinesInPlace) {
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

    // A last line without its final space and newline stops after the others.
    const std::string one = make_line(1, 5, tag), before = one + one.substr(0, one.size() - 2);
    std::string cut = before;
    EXPECT_EQ(convert_csv_log(1, cut.data(), static_cast<int>(cut.size())), -4);
    EXPECT_EQ(cut.substr(one.size()), before.substr(one.size()));
    EXPECT_NE(cut.substr(0, one.size()), one);
    EXPECT_EQ(convert_csv_log(9, cut.data(), static_cast<int>(cut.size())), -1);

    // Only the first occurrence of each pattern is rewritten.
    std::string line = "a,timezone=\"x\",timezone=\"y\",ml_allow_method=\"z\" \n";
    convert_csv_log_special_character(line.data(), static_cast<int>(line.size()));
    EXPECT_EQ(line, "a,\"timezone=x\",timezone=\"y\",\"ml_allow_method=z\" \n");
    std::string long_line = std::string(5000, 'a') + "ml_svm_log_match_types=\"1\"";
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
    check("trigger_policy=t x policy=p src=1", "trigger_policy=\"t x\" policy=p src=1");
    for (const char *same : {"policy=\"p q\" src=2", "trigger_policy=\"t\" policy=p q src=1",
                             "a=1 policy=last value", "no policy here"})
        check(same, same);
}

TEST(ReadLogFile, LoadsTheSampleOfACategory) {
    // Runs inside the throwaway root, where the fixed path may be written.
    ASSERT_EQ(system("mkdir -p /var/log/znlog/root/disklog"), 0);
    // A 40-byte header whose byte 20 is the index capacity, then one line.
    const std::string file =
        'v' + std::string(19, '\0') + '\2' + std::string(19, '\0') + "date=1 \n";
    ASSERT_TRUE(testkit::write_file("/var/log/znlog/root/disklog/alog.log", file));
    int size = 0, offset = 0;
    char *buf = read_log_file(3, &size, &offset);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(offset, 40);
    EXPECT_EQ(std::string(buf, size), file);
    free(buf);
    EXPECT_EQ(read_log_file(2, &size, &offset), nullptr); // no traffic sample
    EXPECT_EQ(read_log_file(7, &size, &offset), nullptr);
}

// ---- differential test against the straightforward parser ----------------

std::mt19937 rng(20241205);
const auto pick = [](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
const auto chance = [](int percent) { return static_cast<int>(pick(100)) < percent; };

// Random pieces, at times with a look-alike of one of the next two keys.
std::string random_value(const entry_desc *t, const std::vector<int> &rows, size_t i) {
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

// A line of `layout` with its tag, and the length to hand the parser.
std::pair<std::string, int> random_line(int cat, int layout) {
    const entry_desc *t = _get_ed_by_cat(cat);
    const std::vector<int> rows = chain_rows(cat, layout);
    char tag[24];
    std::snprintf(tag, sizeof tag, "v0%02d-tag",
                  layout == 0 ? 1 + static_cast<int>(pick(2)) : layout + 2);
    std::string text = layout == 0 && chance(50) ? "" : tag;
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
    text += "\n";
    int len = static_cast<int>(text.size());
    if (fault == 3) len -= 1 + static_cast<int>(pick(8)); // cut short
    return {text, std::max(len, 0)};
}

TEST(Differential, AgreesWithTheStraightforwardParser) {
    int lines = 0, successes = 0, direct_successes = 0, skipped = 0;
    for (int round = 0; round < 140; ++round)
        for (int cat = 1; cat <= 3; ++cat)
            for (int layout = 0; layout <= 11; ++layout, lines += 2) {
                auto [text, len] = random_line(cat, layout);
                auto [second, len2] = random_line(cat, layout);
                SCOPED_TRACE(testing::Message() << "cat " << cat << " layout " << layout
                                                << " line [" << text << "] len " << len);
                reference::Budget budget{200000};
                kv_entries fast, slow, d_fast_e, d_slow_e;
                fast.count = slow.count = -7;
                const int r_fast = parse_disk_log_entry(cat, text.c_str(), len, &fast);
                const int r_slow =
                    reference::parse_disk_log_entry(cat, text.c_str(), len, &slow, budget);

                // Comma mode, as the CSV conversion runs it, on two lines.
                std::string csv_fast = text.substr(0, len) + second, csv_slow = csv_fast;
                const int c_fast = convert_csv_log(cat, csv_fast.data(), len + len2);
                const int c_slow =
                    reference::convert_csv_log(cat, csv_slow.data(), len + len2, budget);

                // A direct call at any depth (a small one runs out of slots),
                // in the line's layout or any other.
                const int depth = 1 + static_cast<int>(pick(128));
                const int version = pick(2) ? layout : static_cast<int>(pick(31));
                kv_parse_ctx ctx_fast{_get_ed_by_cat(cat), version, 1, -1}, ctx_slow = ctx_fast;
                int prefix = 0, ignored = 0;
                scan_ver(text.c_str(), len, &prefix, &ignored);
                std::string d_fast_buf = text, d_slow_buf = text;
                const int d_fast = _parse_log_kv_pair(0, depth, d_fast_buf.data() + prefix,
                                                      len - prefix, &d_fast_e, &ctx_fast);
                const int d_slow =
                    reference::parse_log_kv_pair(0, depth, d_slow_buf.data() + prefix, len - prefix,
                                                 &d_slow_e, &ctx_slow, budget);
                if (budget.exhausted) {
                    ++skipped;
                    continue;
                }
                ASSERT_EQ(r_fast, r_slow);
                ASSERT_EQ(fast.count, slow.count);
                const auto item = [](const kv_entry &x) {
                    return std::tie(x.key, x.key_len, x.val, x.val_len);
                };
                for (int i = 0; r_fast > 0 && i < fast.count; ++i)
                    EXPECT_EQ(item(fast.entries[i]), item(slow.entries[i])) << i;
                ASSERT_EQ(c_fast, c_slow);
                ASSERT_EQ(csv_fast, csv_slow);
                ASSERT_EQ(d_fast, d_slow);
                ASSERT_EQ(ctx_fast.last_pos, ctx_slow.last_pos);
                ASSERT_EQ(d_fast_buf, d_slow_buf);
                successes += r_fast > 0;
                direct_successes += d_fast > 0;
            }
    EXPECT_GE(lines, 10000);
    EXPECT_LT(skipped, lines / 200);
    EXPECT_GT(successes, lines / 4); // half the lines are parsed alone
    EXPECT_GT(direct_successes, lines / 10);
    std::printf("%d lines, %d parsed alone and whole, %d direct calls succeeded, %d skipped\n",
                lines, successes, direct_successes, skipped);
}

} // namespace
