// logbase filter: the flat filter string a report's filter text becomes, or
// the clauses of the text the builder does not read.
#include <cstdio>
#include <string>
#include <vector>

#include "bounded_text.hpp"
#include "cli.hpp"
#include "logbase.h"
#include "report_record.hpp"
#include "report_views.hpp"

namespace {

constexpr size_t kResultSize = 8096;

int run(int argc, char **argv, cli::Output &out);

const cli::Command kFilter{
    "filter", "filter [--check] 'FILTER TEXT'",
    "Prints the flat filter string that the report engine runs for a report\n"
    "whose filter text is FILTER TEXT, for example\n\n"
    "  logbase filter \"(or priN<='5' user!='alice,bob' service=='http, 53/udp')\"\n\n"
    "Clauses read: priN, src, dst, http_method, user, action, subtype, policy,\n"
    "service, msg, iwday. Only the first 1023 characters of the text count.\n"
    "--check names instead each clause the builder does not read as written (an\n"
    "unknown key, an operator without a meaning for the key, an unquoted value,\n"
    "a second clause of a key...), one line per clause with its byte offset, and\n"
    "exits with status 1; 0 when every clause is read.\n",
    run};

int check(const std::string &text, cli::Output &out) {
    const std::vector<std::string> faults = cli::filter_text_faults(text);
    for (const std::string &fault : faults)
        out.printf("%s\n", fault.c_str());
    if (!faults.empty()) return cli::kFailed;
    out.printf("every clause is read as written\n");
    return cli::kOk;
}

int run(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv, {}, {"--check"});
    if (int usage = args.check(kFilter, 1, 1, "expected one filter text")) return usage;
    const std::string &text = args.positional().front();
    if (args.flag("--check")) return check(text, out);
    if (text.size() > lb::report_record::kFilterTextUsed)
        std::fprintf(stderr, "logbase filter: text cut to its first %zu characters\n",
                     lb::report_record::kFilterTextUsed);

    // A zeroed report definition record carrying only the filter text.
    std::vector<char> record(lb::report_record::kFilterText + lb::report_record::kFilterTextUsed +
                             1);
    lb::copy_bounded(record.data() + lb::report_record::kFilterText,
                     lb::report_record::kFilterTextUsed + 1, text);
    char result[kResultSize] = "";
    get_report_fltrstr(record.data(), result, sizeof result);
    out.printf("%s\n", result);
    return cli::kOk;
}

cli::Registrar reg{kFilter};

} // namespace
