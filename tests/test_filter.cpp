// Record filters: compiled, matched on records and pre-checked on lines,
// each case also run through the plain reference evaluator.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "filter_reference.hpp"
#include "find_bytes.hpp"
#include "host_store.h"
#include "logbase.h"
#include "report_record.hpp"
#include "testkit.hpp"

namespace {

using Filter = std::unique_ptr<log_filter, decltype(&log_filter_free)>;
Filter compile(const std::string &text, log_filter_error *error = nullptr) {
    return Filter(log_filter_compile(text.c_str(), error), log_filter_free);
}

// A filter, " :: ", and the records it runs on, separated by ';': "+" when
// the record matches, else "-", then "key=value|key=value" (its line: the
// same text, a blank for each '|').
// clang-format off
const char *const kCases[] = {
    "pri=alert OR pri=critical src=10.0.0.1 OR laddr=10.0.0.1 :: +pri=alert|src=10.0.0.1;"
    "+pri=critical|laddr=10.0.0.1;-pri=alert|src=10.0.0.2;-pri=notice|laddr=10.0.0.1",
    "pri=notice OR pri=debug OR -user=alice -user=bob OR service=http :: "
    "+pri=debug|user=bob|service=http;-pri=alert|user=alice|service=http;+user=carol;-user=bob",
    "laddr=1 :: -src=1", "-laddr=1 :: +src=1", "x>5 :: -", "-x>5 :: +", " \t  :: +a=b",
    "a=1\tOR  b=2 :: +b=2;-b=3", "pri=alert :: -pri=alerts;-pri=aler",
    "src=10.0.0.0/8 :: +src=10.0.0.0;+src=10.255.255.255;-src=11.0.0.0;-src=9.255.255.255;"
    "+src=010.0.0.1;-src=10.0.0.1:80;-src=host;-src=10.0.0;-src=10.0.0.1.1",
    "-src=10.0.0.0/8 :: +src=host;-src=10.1.1.1", "src=10.1.2.3/16 :: +src=10.1.255.255",
    "src=1.2.3.4/0 :: +src=255.255.255.255;+src=0.0.0.0;-src=256.0.0.1",
    "src=10.0.0.5/32 :: +src=10.0.0.5;-src=10.0.0.6;-src=10.0.0.4",
    "src=10.0.0.1-10.0.0.50 :: +src=10.0.0.1;+src=10.0.0.50;-src=10.0.0.0;-src=10.0.0.51",
    "src=1.2.3.255-1.2.4.0 :: +src=1.2.4.0", "src=\"10.0.0.0/8\" :: +src=10.0.0.0/8;-src=10.0.0.1",
    "src>10.0.0.0/8 :: +src=9", "n>9 :: +n=10;-n=10x", "n<-5 :: +n=-10;-n=-5", "n>=007 :: +n=7",
    "n<=-0 :: +n=0", "n<-0 :: -n=0", "n=7 :: -n=07",
    "n>99999999999999999999 :: +n=100000000000000000000;-n=-100000000000000000000",
    "v>abc :: +v=abd", "v<10a :: -v=9", "v<=ab :: +v=ab;+v=a;-v=abc", "v>a :: +v=\xc3",
    "v>=- :: +v=-", "u=/shop/*.php* :: +u=/shop/product.php?id=1;-u=/shop/x.ph", "u=* :: +u=",
    "a=*x*y* :: +a=xyx;-a=yx", "a=ab*ab :: -a=ab;+a=abab", "a=*aab* :: +a=aaab",
    "a=*abcabd* :: +a=abcabcabd", "a=x**y :: +a=xy", "u=\"/a b*\" :: +u=/a b*;-u=/a bc",
    "m=\"a \\\"b\\\" \\\\c \\d\" :: +m=a \"b\" \\c \\d", "v=\"\" :: +v=;-v=x",
    "msg=disk full OR msg= retry :: +msg=disk full;+msg= retry;-msg=disk;-msg=retry",
    "-msg=disk  full x=1 :: -msg=disk  full|x=1;+msg=disk full|x=1", "msg=a=b c :: +msg=a=b c", "msg==x OR msg=<y z >w :: +msg==x;+msg=<y z >w;-msg=x",
    "date-time>2024-02-29-23:59:59 date-time<2024-03-02-00:00:00 :: +date=2024-03-01|time=00:00:00;"
    "+date=2024-03-01|time=23:59:59;-date=2024-02-29|time=23:59:59;-date=2024-03-02|time=00:00:00;"
    "-date=2024-03-01",
    "date-time=2024-03-01-12:00:00 :: +date=2024-03-01|time=12:00:00",
    "date-time=x :: +date-time=x|date=1|time=2", "iwday=x :: +iwday=x|date=2024-03-01",
    "iwday=4 :: +date=2024-02-29;+date=1900-03-01;+date=1970-01-01", "iwday=3 :: +date=1969-12-31",
    "iwday=2 :: +date=2000-02-29", "iwday=1 :: +date=0001-01-01", "iwday=5 :: +date=9999-12-31",
    "iwday=6 :: +date=1600-01-01;+date=0000-01-01", "iwday<1 :: +date=2024-03-03",
    "iwday>=0 :: -date=1900-02-29;-date=2023-02-29;-date=2024-13-01;-date=2024-3-01;"
    "-date=2024-04-31;-date=2024-00-10;+date=2024-04-30",
};
// clang-format on

TEST(Filter, MatchesAsTheReferenceAndSkipsNoMatchingLine) {
    for (const std::string c : kCases) {
        const std::string text = c.substr(0, c.find(" :: ")), records = c.substr(text.size() + 4);
        Filter f = compile(text);
        auto reference = filter_reference::compile(text);
        ASSERT_TRUE(f && reference) << text;
        for (size_t at = 0, end; at < records.size(); at = end + 1) {
            end = std::min(records.find(';', at), records.size());
            std::string line = records.substr(at + 1, end - at - 1);
            kv_entries items{};
            for (size_t i = 0, bar; i < line.size(); i = bar + 1) {
                bar = std::min(line.find('|', i), line.size());
                const size_t eq = line.find('=', i);
                items.entries[items.count++] = {line.data() + i, int(eq - i), line.data() + eq + 1,
                                                int(bar - eq - 1)};
            }
            std::replace(line.begin(), line.end(), '|', ' ');
            const int result = log_filter_match(f.get(), &items);
            EXPECT_EQ(result, records[at] == '+') << text << " on " << line;
            EXPECT_EQ(result, filter_reference::match(*reference, items)) << text << " on " << line;
            EXPECT_GE(log_filter_may_match(f.get(), line.data(), line.size()), result) << text;
        }
    }
}

TEST(Filter, RefusedTextsNameTheirFault) {
    // clang-format off
    const std::tuple<const char *, int, const char *> cases[] = {
        {"=x", 0, "empty key"}, {"-", 1, "empty key"}, {"a=1 key", 7, "expected an operator"},
        {"key=", 4, "missing value"}, {"a=1 key= b=2", 8, "missing value"},
        {"msg= OR a=1", 4, "missing value"}, {"k=\"abc", 2, "unclosed quote"},
        {"k=\"a\\\"", 2, "unclosed quote"}, {"k=\"a\"b", 5, "blank after the closing quote"},
        {"a=1 OR", 4, "OR without a term after"}, {"msg=a OR", 6, "OR without a term after"},
        {"OR a=1", 0, "OR without a term before"}, {"a=1 OR OR b=2", 7, "OR without a term before"},
        {"(or priN<='5')", 0, "parentheses"}, {"a=1 (b=2)", 4, "parentheses"},
        {"user!=bob", 4, "'!'"}, {"k<>v", 2, "must be quoted"}, {"--k=v", 1, "unexpected byte"},
        {"src=10.0.0.0/33", 13, "bad prefix"}, {"src=10.0.0.0/", 13, "bad prefix"},
        {"src=10.0.0.256/8", 4, "bad address in a network"},
        {"src=10.0.0.9-10.0.0.1", 4, "range runs backwards"},
        {"src=10.0.0.1-10.0.0", 13, "bad address in a range"}, {nullptr, -1, "no filter text"},
        {"", -1, ""}, {" a=b ", -1, ""}};
    // clang-format on
    for (const auto &[text, position, reason] : cases) {
        log_filter_error error{};
        Filter f(log_filter_compile(text, &error), log_filter_free);
        EXPECT_EQ(f != nullptr, *reason == '\0') << text;
        EXPECT_EQ(error.position, position) << text;
        EXPECT_NE(std::string(error.reason).find(reason), std::string::npos) << error.reason;
        if (text != nullptr) {
            EXPECT_EQ(filter_reference::compile(text).has_value(), f != nullptr) << text;
        }
    }
    EXPECT_FALSE(compile(std::string((1 << 20) + 1, ' ')));
    kv_entries none{};
    EXPECT_EQ(log_filter_match(nullptr, &none), -1);
    EXPECT_EQ(log_filter_match(compile("").get(), nullptr), -1);
    EXPECT_EQ(log_filter_may_match(nullptr, "x", 1), 0);
}

TEST(Filter, LineTestRulesOutOnlyByPlainValues) {
    Filter f = compile("pri=alert OR pri=crit* src=10.0.0.0/8 -user=x");
    EXPECT_EQ(log_filter_may_match(f.get(), "pri=notice", 10), 0);
    EXPECT_EQ(log_filter_may_match(f.get(), "xcritx", 6), 1);
    for (const char *text :
         {"-a=b", "iwday=1", "date-time=x", "n>1", "a=1.2.3.4/8", "a=\"\" OR b=c"})
        EXPECT_EQ(log_filter_may_match(compile(text).get(), "", 0), 1) << text;
    // The value is found at every place of lines of every length (the search
    // takes 16 or 32 places at a time), and not when its last byte differs,
    // by the line test and by both widths of its search.
    const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    const int best = logbase_simd_level();
    for (size_t n = 1; n <= letters.size(); ++n)
        for (size_t length = n; length <= 80; ++length)
            for (size_t at = 0; at + n <= length; ++at) {
                std::string line(length, '-');
                line.replace(at, n, letters, 0, n);
                const std::string_view needle(letters.data(), n);
                Filter value = compile("k=" + letters.substr(0, n));
                for (int changed = 0; changed < 2; ++changed) {
                    line[at + n - 1] = changed ? '+' : letters[n - 1];
                    const int want = !changed;
                    EXPECT_EQ(log_filter_may_match(value.get(), line.data(), length), want) << line;
                    for (int level = LOGBASE_SIMD_PORTABLE; level <= best; ++level)
                        EXPECT_EQ(lb::filter::contains_bytes(line, needle, level), want) << line;
                }
            }
}

TEST(Filter, ReportSettingsFilterSelectsItsRecords) {
    testkit::TempDir store;
    setenv("LOGBASE_HOST_DIR", store.path().c_str(), 1); // no time settings: TZ rules
    setenv("TZ", "UTC", 1), tzset();
    std::array<unsigned char, HOST_REPORT_RECORD_SIZE> def{};
    lb::report_record::builder(def)
        .custom({2024, 3, 1, 0, 0}, {2024, 3, 1, 23, 59})
        .filter("priN<='5' user!='alice,bob' msg=='disk full, retry'");
    auto settings = std::make_unique<rpt_settings>();
    ASSERT_EQ(get_report_settings_r(def.data(), settings.get()), 0);
    Filter f = compile(settings->log_filter);
    // Event lines of layout 0: date, time, pri, user, msg; whether the filter selects them (the
    // text it is compiled from is test_report_time's and test_report_filter's to check).
    // clang-format off
    const std::tuple<const char *, const char *, const char *, const char *, const char *, int>
        records[] = {{"2024-03-01", "00:00:00", "notice", "carol", "disk full", 1},
                     {"2024-03-01", "23:59:00", "information", "x", " retry", 1},
                     {"2024-03-01", "23:59:01", "notice", "x", "disk full", 0},
                     {"2024-02-29", "23:59:59", "notice", "x", "disk full", 0},
                     {"2024-03-01", "12:00:00", "debug", "x", "disk full", 0},
                     {"2024-03-01", "12:00:00", "notice", "bob", "disk full", 0},
                     {"2024-03-01", "12:00:00", "alert", "x", "disk full", 0},
                     {"2024-03-01", "12:00:00", "notice", "x", "retry", 0}};
    // clang-format on
    for (const auto &[date, time, pri, user, msg, expected] : records) {
        char line[512];
        snprintf(line, sizeof line,
                 "date=%s time=%s log_id=1 msg_id=2 device_id=d vd=\"root\" timezone=\"z\" "
                 "type=event subtype=\"user\" pri=%s trigger_policy=\"t\" user=%s ui=u action=a "
                 "status=s msg=\"%s\" \n",
                 date, time, pri, user, msg);
        kv_entries items;
        ASSERT_GT(parse_disk_log_entry(LOG_CAT_EVENT, line, int(strlen(line)), &items), 0) << line;
        EXPECT_EQ(log_filter_match(f.get(), &items), expected) << line;
        EXPECT_GE(log_filter_may_match(f.get(), line, strlen(line)), expected) << line;
    }
}

} // namespace
