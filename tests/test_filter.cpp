// Record filters: compiled, matched on records and pre-checked on lines,
// each case also run through the plain reference evaluator.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filter_reference.hpp"
#include "host_store.h"
#include "logbase.h"
#include "report_record.hpp"
#include "testkit.hpp"

namespace {

using Filter = std::unique_ptr<log_filter, decltype(&log_filter_free)>;

Filter compile(const std::string &text, log_filter_error *error = nullptr) {
    return Filter(log_filter_compile(text.c_str(), error), log_filter_free);
}

// Items of "key=value|key=value"; the line is the same text, '|' a blank.
struct Record {
    explicit Record(std::string text) : line(std::move(text)) {
        for (size_t start = 0, bar; start < line.size(); start = bar + 1) {
            bar = std::min(line.find('|', start), line.size());
            const size_t eq = line.find('=', start);
            items.entries[items.count++] = {line.data() + start, int32_t(eq - start),
                                            line.data() + eq + 1, int32_t(bar - eq - 1)};
        }
        std::replace(line.begin(), line.end(), '|', ' ');
    }
    std::string line;
    kv_entries items{};
};

// The library's answer, checked against the reference and the line test.
int matches(const std::string &text, const Record &record) {
    Filter f = compile(text);
    auto reference = filter_reference::compile(text);
    EXPECT_TRUE(f && reference) << text;
    if (!f || !reference) return -1;
    const int result = log_filter_match(f.get(), &record.items);
    EXPECT_EQ(result, filter_reference::match(*reference, record.items))
        << text << " on " << record.line;
    if (result == 1) { // a matching record's line is never skipped
        EXPECT_EQ(log_filter_may_match(f.get(), record.line.data(), record.line.size()), 1);
    }
    return result;
}

struct Case {
    const char *filter, *record;
    int expected;
};

void run(const std::vector<Case> &cases) {
    for (const Case &c : cases)
        EXPECT_EQ(matches(c.filter, Record(c.record)), c.expected)
            << c.filter << " on " << c.record;
}

TEST(Filter, JoiningNegationAndMissingKeys) {
    const char *precedence = "pri=alert OR pri=critical src=10.0.0.1 OR laddr=10.0.0.1";
    const char *built = "pri=notice OR pri=information OR pri=debug OR -user=alice -user=bob OR "
                        "service=http OR service=80/tcp";
    run({{precedence, "pri=alert|src=10.0.0.1", 1},
         {precedence, "pri=critical|laddr=10.0.0.1", 1},
         {precedence, "pri=alert|src=10.0.0.2", 0},
         {precedence, "pri=notice|laddr=10.0.0.1", 0},
         {built, "pri=debug|user=bob|service=80/tcp", 1},
         {built, "pri=alert|user=alice|service=http", 0},
         {built, "pri=alert|user=carol|service=dns", 1},
         {built, "user=carol", 1},
         {"-user=alice -user=bob", "user=bob", 0},
         {"-user=alice -user=bob", "src=1.2.3.4", 1},
         {"laddr=10.0.0.1", "src=10.0.0.1", 0},
         {"-laddr=10.0.0.1", "src=10.0.0.1", 1},
         {"x>5", "", 0},
         {"-x>5", "", 1},
         {"", "", 1},
         {" \t ", "a=b", 1},
         {"a=1\tOR  b=2", "b=2", 1},
         {"pri=alert", "pri=alerts", 0},
         {"pri=alert", "pri=aler", 0}});
}

TEST(Filter, NetworksAndRanges) {
    run({{"src=10.0.0.0/8", "src=10.0.0.0", 1},
         {"src=10.0.0.0/8", "src=10.255.255.255", 1},
         {"src=10.0.0.0/8", "src=11.0.0.0", 0},
         {"src=10.0.0.0/8", "src=9.255.255.255", 0},
         {"src=10.0.0.0/8", "src=010.0.0.1", 1},
         {"src=10.0.0.0/8", "src=10.0.0.1:80", 0},
         {"src=10.0.0.0/8", "src=host", 0},
         {"-src=10.0.0.0/8", "src=host", 1},
         {"-src=10.0.0.0/8", "src=10.1.1.1", 0},
         {"src=10.1.2.3/16", "src=10.1.255.255", 1},
         {"src=1.2.3.4/0", "src=255.255.255.255", 1},
         {"src=1.2.3.4/0", "src=0.0.0.0", 1},
         {"src=0.0.0.0/0", "src=256.0.0.1", 0},
         {"src=10.0.0.5/32", "src=10.0.0.5", 1},
         {"src=10.0.0.5/32", "src=10.0.0.6", 0},
         {"src=10.0.0.5/32", "src=10.0.0.4", 0},
         {"src=10.0.0.1-10.0.0.50", "src=10.0.0.1", 1},
         {"src=10.0.0.1-10.0.0.50", "src=10.0.0.50", 1},
         {"src=10.0.0.1-10.0.0.50", "src=10.0.0.0", 0},
         {"src=10.0.0.1-10.0.0.50", "src=10.0.0.51", 0},
         {"src=1.2.3.255-1.2.4.0", "src=1.2.4.0", 1},
         {"src=\"10.0.0.0/8\"", "src=10.0.0.0/8", 1},
         {"src=\"10.0.0.0/8\"", "src=10.0.0.1", 0},
         {"src>10.0.0.0/8", "src=9", 1}});
}

TEST(Filter, NumbersTextAndPatterns) {
    run({{"n>9", "n=10", 1},
         {"n<-5", "n=-10", 1},
         {"n>=007", "n=7", 1},
         {"n<=-0", "n=0", 1},
         {"n<-0", "n=0", 0},
         {"n>99999999999999999999", "n=100000000000000000000", 1},
         {"n>-99999999999999999999", "n=-100000000000000000000", 0},
         {"n>9", "n=10x", 0},
         {"n=7", "n=07", 0},
         {"v>abc", "v=abd", 1},
         {"v<10a", "v=9", 0},
         {"v<=ab", "v=ab", 1},
         {"v<ab", "v=a", 1},
         {"v>a", "v=\xc3", 1},
         {"v>=-", "v=-", 1},
         {"http_url=/shop/*.php*", "http_url=/shop/product.php?id=1", 1},
         {"http_url=/shop/*.php*", "http_url=/shop/x.ph", 0},
         {"u=*", "u=", 1},
         {"a=*x*y*", "a=xyx", 1},
         {"a=*x*y*", "a=yx", 0},
         {"a=ab*ab", "a=ab", 0},
         {"a=ab*ab", "a=abab", 1},
         {"a=*aab*", "a=aaab", 1},
         {"a=*abcabd*", "a=abcabcabd", 1},
         {"a=x**y", "a=xy", 1},
         {"http_url=\"/a b*\"", "http_url=/a b*", 1},
         {"http_url=\"/a b*\"", "http_url=/a bc", 0},
         {"msg=\"a \\\"b\\\" \\\\c \\d\"", "msg=a \"b\" \\c \\d", 1},
         {"v=\"\"", "v=", 1},
         {"v=\"\"", "v=x", 0},
         {"msg=disk full OR msg= retry", "msg=disk full", 1},
         {"msg=disk full OR msg= retry", "msg= retry", 1},
         {"msg=disk full OR msg= retry", "msg=disk", 0},
         {"-msg=disk  full x=1", "msg=disk  full|x=1", 0},
         {"msg=a=b c", "msg=a=b c", 1}});
}

TEST(Filter, DateTimeAndWeekday) {
    const char *window = "date-time>2024-02-29-23:59:59 date-time<2024-03-02-00:00:00";
    run({{window, "date=2024-03-01|time=00:00:00", 1},
         {window, "date=2024-03-01|time=23:59:59", 1},
         {window, "date=2024-02-29|time=23:59:59", 0},
         {window, "date=2024-03-02|time=00:00:00", 0},
         {window, "date=2024-03-01", 0},
         {"date-time=2024-03-01-12:00:00", "date=2024-03-01|time=12:00:00", 1},
         {"date-time=x", "date-time=x|date=1|time=2", 1},
         {"iwday=4", "date=2024-02-29", 1},
         {"iwday=3", "date=1969-12-31", 1},
         {"iwday=4", "date=1900-03-01", 1},
         {"iwday=2", "date=2000-02-29", 1},
         {"iwday=1", "date=0001-01-01", 1},
         {"iwday=6", "date=1600-01-01", 1},
         {"iwday=5", "date=9999-12-31", 1},
         {"iwday=6", "date=0000-01-01", 1},
         {"iwday=4", "date=1970-01-01", 1},
         {"iwday<1", "date=2024-03-03", 1},
         {"iwday>=0", "date=1900-02-29", 0},
         {"-iwday=0", "date=2023-02-29", 1},
         {"iwday>=0", "date=2024-13-01", 0},
         {"iwday>=0", "date=2024-3-01", 0},
         {"iwday>=0", "date=2024-04-31", 0},
         {"iwday=x", "iwday=x", 1}});
}

TEST(Filter, RefusedTextsNameTheirFault) {
    const struct {
        const char *text;
        int position;
        const char *reason;
    } cases[] = {{"=x", 0, "empty key"},
                 {"-", 1, "empty key"},
                 {"a=1 key", 7, "expected an operator"},
                 {"key=", 4, "missing value"},
                 {"a=1 key= b=2", 8, "missing value"},
                 {"k=\"abc", 2, "unclosed quote"},
                 {"k=\"a\\\"", 2, "unclosed quote"},
                 {"k=\"a\"b", 5, "blank after the closing quote"},
                 {"a=1 OR", 4, "OR without a term after"},
                 {"OR a=1", 0, "OR without a term before"},
                 {"a=1 OR OR b=2", 7, "OR without a term before"},
                 {"(or priN<='5')", 0, "parentheses"},
                 {"a=1 (b=2)", 4, "parentheses"},
                 {"user!=bob", 4, "'!'"},
                 {"k==v", 2, "must be quoted"},
                 {"--k=v", 1, "unexpected byte"},
                 {"src=10.0.0.0/33", 13, "bad prefix"},
                 {"src=10.0.0.0/", 13, "bad prefix"},
                 {"src=10.0.0.256/8", 4, "bad address in a network"},
                 {"src=10.0.0.9-10.0.0.1", 4, "range runs backwards"},
                 {"src=10.0.0.1-10.0.0", 13, "bad address in a range"},
                 {"msg=a OR", 6, "OR without"}};
    for (const auto &c : cases) {
        log_filter_error error{};
        EXPECT_EQ(compile(c.text, &error), nullptr) << c.text;
        EXPECT_EQ(error.position, c.position) << c.text;
        EXPECT_NE(std::string(error.reason).find(c.reason), std::string::npos)
            << c.text << ": " << error.reason;
        EXPECT_FALSE(filter_reference::compile(c.text)) << c.text;
    }
    log_filter_error error{};
    EXPECT_EQ(log_filter_compile(nullptr, &error), nullptr);
    EXPECT_EQ(error.position, -1);
    EXPECT_TRUE(compile("a=b", &error));
    EXPECT_EQ(error.position, -1);
    EXPECT_FALSE(compile(std::string((1 << 20) + 1, ' '), &error));
    kv_entries none{};
    EXPECT_EQ(log_filter_match(nullptr, &none), -1);
    EXPECT_EQ(log_filter_match(compile("").get(), nullptr), -1);
    EXPECT_EQ(log_filter_may_match(nullptr, "x", 1), 0);
}

TEST(Filter, LineTestSkipsOnlyLinesWithoutTheValues) {
    Filter f = compile("pri=alert OR pri=crit* src=10.0.0.0/8 -user=x");
    const std::pair<const char *, int> lines[] = {
        {"pri=alert src=1", 1}, {"xcritx", 1}, {"pri=notice", 0}};
    for (const auto &[line, expected] : lines)
        EXPECT_EQ(log_filter_may_match(f.get(), line, strlen(line)), expected) << line;
    // No clause of plain values, nothing to rule out.
    for (const char *text :
         {"-pri=alert", "iwday=1", "date-time=x", "n>1", "src=10.0.0.0/8", "a=\"\" OR b=c", "a=*"})
        EXPECT_EQ(log_filter_may_match(compile(text).get(), "", 0), 1) << text;
}

// A line of `category` in layout 0, every item "x" but those given.
std::string line_of(int category, const std::map<std::string, std::string> &values) {
    const entry_desc *t = _get_ed_by_cat(category);
    std::string line;
    for (int row = 0;; row = t[row].next_row[0]) {
        auto v = values.find(t[row].name);
        const std::string value = v != values.end() ? v->second : "x";
        line +=
            std::string(t[row].name) + "=" + (t[row].quoted ? "\"" + value + "\"" : value) + " ";
        if (t[row].next_row[0] == 0) return line + "\n";
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
    const std::string text = settings->log_filter;
    ASSERT_EQ(text.find("date-time>2024-02-29-23:59:59 date-time<2024-03-0"), 0u) << text;
    ASSERT_NE(
        text.find(" -pri=debug pri=notice OR pri=information OR pri=debug -user=alice -user=bob "
                  "msg=disk full OR msg= retry"),
        std::string::npos)
        << text;
    Filter f = compile(text);
    ASSERT_TRUE(f) << text;
    const std::pair<std::map<std::string, std::string>, int> records[] = {
        {{{"date", "2024-03-01"},
          {"time", "12:00:00"},
          {"pri", "notice"},
          {"user", "carol"},
          {"msg", "disk full"}},
         1},
        {{{"date", "2024-03-01"}, {"time", "00:00:00"}, {"pri", "information"}, {"msg", " retry"}},
         1},
        {{{"date", "2024-03-01"}, {"time", "12:00:00"}, {"pri", "debug"}, {"msg", "disk full"}}, 0},
        {{{"date", "2024-03-01"},
          {"time", "12:00:00"},
          {"pri", "notice"},
          {"user", "bob"},
          {"msg", "disk full"}},
         0},
        {{{"date", "2024-03-01"}, {"time", "12:00:00"}, {"pri", "alert"}, {"msg", "disk full"}}, 0},
        {{{"date", "2024-03-01"}, {"time", "12:00:00"}, {"pri", "notice"}, {"msg", "retry"}}, 0},
        {{{"date", "2024-02-29"}, {"time", "23:59:59"}, {"pri", "notice"}, {"msg", "disk full"}},
         0},
        {{{"date", "2024-03-05"}, {"time", "08:00:00"}, {"pri", "notice"}, {"msg", "disk full"}},
         0}};
    for (const auto &[values, expected] : records) {
        std::string line = line_of(LOG_CAT_EVENT, values);
        kv_entries items;
        ASSERT_GT(parse_disk_log_entry(LOG_CAT_EVENT, line.data(), int(line.size()), &items), 0)
            << line;
        EXPECT_EQ(log_filter_match(f.get(), &items), expected) << line;
        EXPECT_GE(log_filter_may_match(f.get(), line.data(), line.size()), expected) << line;
    }
}

} // namespace
