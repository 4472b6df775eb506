// Report filters: tokenizers, clause reader, regex wrappers, the service
// table and the filter-string builder. Runs inside throwaway_root: the host
// lookups read a private /etc/hosts and never ask a name server.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "logbase.h"
#include "report_record.hpp"
#include "testkit.hpp"

namespace {

// Tokens, each followed by '|': astrtok for one delimiter (*pos must end at the text's end),
// else astrtok_m.
std::string astrtok_all(const char *text, std::vector<const char *> delims) {
    std::string joined;
    int pos = 0;
    delims.push_back(nullptr);
    while (char *t = delims.size() == 2 ? astrtok(text, delims[0], &pos)
                                        : astrtok_m(text, delims.data(), &pos))
        joined += std::string(t) + "|", free(t);
    EXPECT_TRUE(delims.size() > 2 || pos == static_cast<int>(strlen(text))) << text;
    return joined;
}

std::string quoted_all(std::string text, const char *delims) {
    std::string joined;
    char *save = nullptr;
    for (char *t = text.data(); (t = quoted_strtok_r(t, delims, &save)) != nullptr; t = nullptr)
        joined += std::string(t) + "|";
    return joined;
}

// "op|value" of the clause read, or "-1".
std::string clause(const char *filter, const char *key, int value_size = 1024) {
    char op[3] = "", *found = nullptr;
    std::vector<char> value(value_size, '\0');
    if (get_op_and_val(filter, key, &found, op, value.data(), value_size) != 0) return "-1";
    EXPECT_EQ(found, strstr(filter, key));
    return std::string(op) + "|" + value.data();
}

std::string boolean(const char *clause, const char *op, int with_key, int size = 256) {
    std::vector<char> out(size + 1, '#');
    char *r = fltrstr_to_boolean(clause, op, out.data(), size, with_key);
    EXPECT_EQ(out[size], '#') << "written past the buffer";
    return r == nullptr ? "<null>" : size > 0 ? r : "";
}

std::string replaced(const char *pattern, const char *text, int size = 64) {
    char out[64] = "untouched";
    return std::to_string(regex_replace(pattern, text, out, size, "Z")) + ":" + out;
}

TEST(Parsing, TokenizersClausesBooleansAndRegex) {
    EXPECT_EQ(astrtok_all("a::::b::", {"::"}), "a||b|");
    EXPECT_EQ(astrtok_all("a,b==c", {"==", ","}), "a|b|c|");
    EXPECT_EQ(astrtok_all("k==v", {"=", "=="}), "k||v|");
    int pos = 99; // beyond the text: the end, not a read past it
    EXPECT_EQ(astrtok("a,b", ",", &pos), nullptr);

    EXPECT_EQ(quoted_all("a \"b c\" d \"\"", " "), "a|b c|d||");
    EXPECT_EQ(quoted_all("x\"b c\"y  \"abc", " "), "x\"b c\"y|abc|");
    EXPECT_EQ(quoted_all(" ,a,,b\"c,d", " ,"), "a|b\"c,d|"); // unclosed section runs to the end

    EXPECT_EQ(clause("(or priN>='3' user=='alice, bob')", "priN"), ">=|3'");
    EXPECT_EQ(clause("(or priN>='3' user=='alice, bob')", "user"), "==|alice, bob");
    EXPECT_EQ(clause("iwday==Mon user=='x'", "iwday"), "==|Mon user");
    EXPECT_EQ(clause("src!='1.2.3.4) x'", "src"), "!=|1.2.3.4");
    EXPECT_EQ(clause("user=='abcdef'", "user", 4), "==|abc");
    EXPECT_EQ(clause("user=='x'", "user", 1), "-1");
    for (const char *bad : {"user == 'x'", "usergroup=='x' user=='y'", "user==='x'", "user<'x'",
                            "user==''", "action=='x'", "priN<=5"})
        EXPECT_EQ(clause(bad, bad[0] == 'p' ? "priN" : "user"), "-1") << bad;

    EXPECT_EQ(boolean("user='alice, bob'", "=", 1), "-user=alice -user=bob");
    EXPECT_EQ(boolean("user!='alice, bob'", "!=", 0), "alice OR bob");
    EXPECT_EQ(boolean("user='alice, bob'", "=", 0), "alice bob");
    EXPECT_EQ(boolean("'a,,  \"b c\",\tcarol\t'", "==", 1), "a OR b c OR carol"); // no key
    EXPECT_EQ(boolean("user=='alice", "==", 1), "");
    EXPECT_EQ(boolean("user=='alice, bob'", "==", 1, 12), "user=alice ");
    EXPECT_EQ(boolean("user=='x'", "==", 1, 0), "");
    EXPECT_EQ(fltrstr_to_boolean("user=='x'", nullptr, nullptr, 8, 1), nullptr);
    // An overlong key and list are cut to the key and working buffers.
    std::string overlong = std::string(300, 'k') + "=='" + std::string(600, 'v') + "'";
    EXPECT_EQ(boolean(overlong.c_str(), "==", 1, 2000),
              std::string(127, 'k') + "=" + std::string(511, 'v'));

    char match[32] = "untouched";
    EXPECT_EQ(regex_match("B", "abc", match), REGEX_NO_MATCH);
    EXPECT_LT(regex_match("a[", "a[", match), 0);
    EXPECT_STREQ(match, "untouched");
    EXPECT_EQ(regex_match("b+c", "abbcd", match), REGEX_MATCHED);
    EXPECT_STREQ(match, "bbc");

    char g0[16], g1[16] = "old", g2[16] = "old";
    char *groups[] = {g0, g1, nullptr, g2};
    EXPECT_EQ(regex_match_multi("(a)(x)?(z)?c", "bac", groups, 4), REGEX_MATCHED);
    EXPECT_EQ(std::string(g0) + "," + g1 + "," + g2, "ac,a,"); // group 3 took no part

    EXPECT_EQ(replaced("a(b+)c", "xabbcx"), "1:xaZcx");
    EXPECT_EQ(replaced("q", "xabbcx"), "0:untouched");
    EXPECT_EQ(replaced("a(q)?b", "xabc"), "1:xZc"); // no group 1: the whole match
    EXPECT_EQ(replaced("a(b+)c", "xabbcx", 4), "1:xaZ");
    EXPECT_LT(regex_replace("a[", "a", match, sizeof match, "Z"), 0);
}

// Well-known ports as published: every port whose names differ by protocol ("udp|tcp", "-" for
// none), every name given to two ports, common services and unassigned ports.
const char *const kServiceList = R"(
0 Reserved 1 tcpmux 2 compressnet 3 compressnet 7 echo 21 ftp 22 ssh 23 telnet 24 any 25 smtp 35 any
38 rap 53 dns 80 http 83 mit-ml-dev 85 mit-ml-dev 100 -|newacct 110 pop3 143 imap 256 rap 443 https
456 macon-udp|macon-tcp 465 igmpv3lite|urd 474 tn-tl-w2|tn-tl-w1 512 biff|exec 513 who|login
514 syslog|shell 520 router|efs 570 meter 571 meter 750 kerberos-iv|rfile 773 notify|submit
774 acmaint_dbd|rpasswd 775 acmaint_transd|entomb 888 accessbuilder|cddbp 998 puparp|busboy
1023 Reserved 4 - 6 - 8 -
)";

TEST(ServiceTable, PortNamesProtocolsAndLookupRules) {
    std::map<int, std::array<std::string, 2>> rows; // UDP, TCP: indexed by the protocol argument
    std::stringstream list(kServiceList);
    for (std::string port, t; list >> port >> t;)
        rows[std::stoi(port)] = {t.substr(0, t.find('|')), t.substr(t.find('|') + 1)};
    std::map<std::string, std::pair<int, int>> lowest; // name -> lowest port, protocol code
    for (const auto &[port, n] : rows)
        for (int proto : {SVC_PROTO_UDP, SVC_PROTO_TCP})
            if (n[proto] != "-")
                lowest.emplace(n[proto], std::pair(port, n[0] == n[1] ? SVC_PROTO_BOTH : proto));
    for (const auto &[name, want] : lowest) { // port 0 is reachable only so
        int proto = -1;
        EXPECT_EQ(fn_getportbyname_3(&proto, name.c_str()), want.first) << name;
        EXPECT_EQ(proto, want.second) << name;
    }
    for (const auto &[port, n] : rows)
        for (int proto : {SVC_PROTO_UDP, SVC_PROTO_TCP}) {
            const char *got = fn_getservbyport_3(proto, port, nullptr); // not port 0
            EXPECT_EQ(got ? got : "-", port ? n[proto] : "-")
                << "port " << port << " proto " << proto;
        }

    EXPECT_STREQ(fn_getservbyport_3(5, -3, "514/x"), "shell");
    EXPECT_STREQ(fn_getservbyport_3(-1, 80, "22"), "http");
    for (const char *text : {"0", "1024", "http", static_cast<const char *>(nullptr)})
        EXPECT_EQ(fn_getservbyport_3(1, 0, text), nullptr) << (text ? text : "NULL");
    int proto = 42;
    EXPECT_EQ(fn_getportbyname_3(&proto, "no-such-service"), -1);
    EXPECT_EQ(proto, 42);
    EXPECT_EQ(fn_getportbyname_3(&proto, "hTTp"), 80); // names in any case

    EXPECT_EQ(qspredef_val("ALL"), 2);
    EXPECT_EQ(qspredef_name(4), nullptr);
    for (auto [bytes, rounded] : {std::pair{524287ul, 0ul}, {524288ul, 1ul}, {1572864ul, 2ul}})
        EXPECT_EQ(roundMB(bytes), rounded) << bytes;
}

// The flat string of `text` placed into a report definition record.
std::string build(const std::string &text, size_t out_size = 8096) {
    std::string record = std::string(lb::report_record::kFilterText, '\0') + text;
    std::vector<char> out(out_size + 1, '#');
    out[0] = '-', out[1] = '\0'; // stays when nothing is written
    EXPECT_EQ(get_report_fltrstr(record.data(), out.data(), out_size), 0);
    EXPECT_EQ(out[out_size], '#') << "written past the caller's buffer";
    return out.data();
}

TEST(FilterString, WorkedExamplesBoundsAndHostLookup) {
    // Host lookups read only the private /etc/hosts of the throwaway root.
    if (getenv("LOGBASE_THROWAWAY_ROOT") == nullptr ||
        !testkit::write_file("/etc/nsswitch.conf", "hosts: files\n") ||
        !testkit::write_file("/etc/hosts", "192.0.2.7 filterhost.test\n"))
        GTEST_SKIP() << "needs the throwaway root for /etc/hosts";
    const std::pair<const char *, const char *> cases[] = {
        {"(or priN<='5' user!='alice,bob' service=='http, 53/udp')",
         "pri=notice OR pri=information OR pri=debug OR -user=alice -user=bob OR service=http "
         "OR service=80/tcp OR service=80/udp OR service=53/udp OR service=dns"},
        {"priN!='3' service=='biff'", "service=biff OR service=512/udp"},
        {"priN>='9'", "pri=emergency OR pri=alert OR pri=critical OR pri=error OR pri=warning OR "
                      "pri=notice OR pri=information OR pri=debug"},
        {"priN<='9' msg=='disk full, retry'", "msg=disk full OR msg= retry"},
        {"dst=='filterhost.test'", "dst=192.0.2.7 OR raddr=192.0.2.7 OR rem_ip=192.0.2.7 OR "
                                   "server=192.0.2.7"},
        {"iwday!=Sun) service=='exec'", "iwday=0 service=exec OR service=512/tcp"},
        {"iwday==Mon,Wed) service!='80/TCP'", "iwday=1 OR iwday=3 -service=80/TCP -service=http"},
        {"service=='nosuchsvc, 9999/tcp'", "service=nosuchsvc OR service=9999/tcp"},
        // Groups join in a fixed order, each with its own operator.
        {"(or msg!='m' policy='p q' subtype=='s' action!='a' http_method=='GET' dst=='2.2.2.2' "
         "src!='1.1.1.1' iwday==Sat) priN==-1' service='ssh'",
         "iwday=6 OR -src=1.1.1.1 -laddr=1.1.1.1 -loc_ip=1.1.1.1 -client=1.1.1.1 OR "
         "dst=2.2.2.2 OR raddr=2.2.2.2 OR rem_ip=2.2.2.2 OR server=2.2.2.2 OR "
         "http_method=GET OR -action=a OR subtype=s OR policy=p policy=q OR "
         "service=ssh OR service=22/tcp OR service=22/udp OR -msg=m"},
        // Malformed clauses leave only their own group empty.
        {"user == 'x' action==='y' priN<'3' policy=='ok' subtype=='open", "subtype=open policy=ok"},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(build(text), expected) << text;

    // A clause beyond the first 1023 characters is not read.
    EXPECT_EQ(build("user=='bob'" + std::string(1020, ' ') + "action=='deny'"), "user=bob");
    // A service token's text stops at 127 characters.
    EXPECT_EQ(build("service=='" + std::string(200, 'x') + "'"),
              "service=" + std::string(119, 'x'));
    // Each address group stops at 4095 characters, the result at 8095.
    std::string many;
    for (int i = 0; i < 62; ++i)
        many += "1.1.1.1,";
    std::string result = build("src=='" + many + "' dst=='" + many + "'");
    ASSERT_EQ(result.size(), 8095u);
    EXPECT_EQ(result.substr(0, 12) + result.substr(4095, 5), "src=1.1.1.1  dst=");
    // The caller's size bounds the copy; without a filter text nothing is written.
    EXPECT_EQ(build("priN=='0'", 8), "pri=eme");
    EXPECT_EQ(build(""), "-");
    char out[16] = "x";
    EXPECT_EQ(get_report_fltrstr(nullptr, out, sizeof out), 0);
    add_src_or_dst_filter(out, sizeof out, "=", "src", "d"); // "==", "!=": worked examples
    EXPECT_STREQ(out, "x src=d");
    add_src_or_dst_filter(out, 12, "!=", "server", "10.0.0.1");
    EXPECT_STREQ(out, "x src=d -se");
    char *ip = resolve_IP("10.1.2.3");
    EXPECT_STREQ(ip, "10.1.2.3");
    free(ip);
    EXPECT_EQ(resolve_IP(nullptr), nullptr);
}

// Each clause the builder does not read as written, as "BYTE:reason|...".
TEST(FilterString, CheckNamesTheClausesTheBuilderDoesNotRead) {
    const std::pair<std::string, const char *> cases[] = {
        {"(or priN<='5' user!='alice,bob' service=='http, 53/udp')", ""},
        {"priN>='1' iwday==Mon,Wed) src=='10.0.0.1' msg=='disk full, retry' )", ""},
        {"priN<='5' src=10.0.0.1 usr=='bob'",
         "10:not read: write src=='10.0.0.1'|23:unknown key 'usr': the keys"},
        {"src='1.2.3.4' priN!='3' priN>='9'",
         "0:operator '=': src takes == or !=; it requires every value|14:operator '!='|"
         "24:only the first 'priN' of the text is read, at byte 14"},
        {"msg=='bad user' user=='bob'", "16:only the first 'user' of the text is read, at byte 10"},
        {"iwday==Mon user=='x' iwday!=Sun)", "0:'Mon user' is no day|21:only the first"},
        {"iwday!=Sun) dst=='1.2.3.4')", "0:ignores the operator"},
        {" (OR pri<='5' and priN<=5 =='x'",
         "1:'(or' joins|5:did you mean priN?|14:'and' is not read|18:write priN<='5'|26:no key"},
        {"xsrc=='1' src=='2'", "0:reads a src clause inside it|10:only the first 'src'"},
        {"policy=='a)b' user=='c'x priN<='8' action==''",
         "0:ends at the ')' at byte 10|14:'x' after the closing quote|25:one level|35:no value"},
        {"user=='bob src=='1.2.3.4' iwday=='Mon')", "0:is a quote missing|26:days unquoted"},
        {"priN<='5' " + std::string(1020, ' ') + "user=='x'", "1030:the first 1023 bytes"},
        {"user=='a,\"b' src=='10.0.0.0/33' msg=='size <9 =x, x -y=1'",
         "0:'\"b': the record filters cannot select it (unclosed quote)|13:bad prefix length|"
         "32:' x -y=1': the record filters end the message at '-y=1'"},
        {"msg=='a OR x=1' src=='10.0.0.0/8, 10.0.0.1-10.0.0.2'", "0:end the message at 'OR'"},
        {"user==', ' msg==','", "0:no value between the quotes|11:no value between the quotes"},
        {"iwday<=Mon)", "0:operator '<=': iwday takes ==, as in iwday==Mon,Wed)"},
    };
    for (const auto &[text, expected] : cases) {
        rpt_filter_fault faults[8];
        const int n = check_report_filter_text(text.c_str(), faults, 8);
        std::istringstream wanted(expected);
        int i = 0;
        for (std::string want; std::getline(wanted, want, '|') && i < n; ++i) {
            const size_t colon = want.find(':');
            EXPECT_EQ(std::to_string(faults[i].position), want.substr(0, colon)) << text;
            EXPECT_NE(std::string(faults[i].reason).find(want.substr(colon + 1)), std::string::npos)
                << text << ": " << faults[i].reason;
        }
        EXPECT_TRUE(i == n && wanted.eof()) << text << ": " << n << " faults";
    }
    // Only the first faults are stored; all are counted.
    rpt_filter_fault one[1];
    EXPECT_EQ(check_report_filter_text("a=='1' b=='2'", one, 1), 2);
    EXPECT_EQ(one[0].length, 6);
    EXPECT_EQ(check_report_filter_text(nullptr, one, 1), -1);
}

} // namespace
