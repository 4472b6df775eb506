// The flat filter string of a report: the clauses of the report's filter text
// widened into key=value terms (severity ranges, address fields, service name
// and number) and joined group by group in a fixed order.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <string_view>
#include <strings.h>

#include "bounded_text.hpp"
#include "calendar.hpp"
#include "clause_keys.hpp"
#include "guards.hpp"
#include "logbase.h"
#include "report_record.hpp"

namespace {

using namespace lb::report_filter;

constexpr size_t kGroupSize = 4096;
constexpr size_t kResultSize = 8096;
constexpr size_t kServiceTextSize = 128;
constexpr size_t kTermSize = 16;
constexpr size_t kMaxLookupScratch = 1 << 20; // a host entry beyond 1 MiB is not resolved

constexpr const char *kSeverityNames[] = {"emergency", "alert",  "critical",    "error",
                                          "warning",   "notice", "information", "debug"};
constexpr std::int32_t kLowestSeverity = 7;
constexpr const char *kSourceFields[] = {"src", "laddr", "loc_ip", "client"};
constexpr const char *kDestinationFields[] = {"dst", "raddr", "rem_ip", "server"};

struct Group {
    char text[kGroupSize] = {};
    bool empty() const { return text[0] == '\0'; }
    void append(std::string_view part) { lb::append_bounded(text, sizeof text, part); }
};

// The operator and value of the clause read last; every group uses them
// right after its own read.
struct Clause {
    char op[3] = {};
    char value[kValueSize] = {};

    bool read(const char *filter, const char *key) {
        char *found = nullptr;
        return get_op_and_val(filter, key, &found, op, value, kValueSize) == 0;
    }
    bool op_is(const char *form) const { return std::strcmp(op, form) == 0; }
};

// Calls visit(token) for each token of `text` (split in place).
template <typename Visit> void for_each_token(char *text, const char *delims, Visit &&visit) {
    char *save = nullptr;
    for (char *token = strtok_r(text, delims, &save); token != nullptr;
         token = strtok_r(nullptr, delims, &save))
        visit(token);
}

void append_or_term(Group &group, const char *term) {
    if (!group.empty()) group.append(" OR ");
    group.append(term);
}

// Before a token of a list group: a blank, and "OR " when the list is "==".
void append_list_joiner(Group &group, const Clause &clause) {
    if (group.empty()) return;
    group.append(" ");
    if (clause.op_is("==")) group.append("OR ");
}

// Level 0 is the most severe, so ">=" N selects levels 0 to N.
void build_severity(const Clause &clause, Group &group) {
    // Modular conversion, as a 32-bit integer takes the value.
    auto level = static_cast<std::int32_t>(std::strtol(clause.value, nullptr, 10));
    std::int32_t low = 0;
    std::int32_t high = kLowestSeverity;
    if (clause.op_is(">="))
        high = level;
    else if (clause.op_is("<="))
        low = level;
    else if (clause.op_is("=="))
        low = high = level;
    else
        return;
    for (std::int32_t l = std::max(low, 0); l <= std::min(high, kLowestSeverity); ++l) {
        char term[kTermSize];
        std::snprintf(term, sizeof term, "pri=%s", kSeverityNames[l]);
        append_or_term(group, term);
    }
}

// The operator is not consulted: a weekday clause always selects its days.
void build_weekday(Clause &clause, Group &group) {
    for_each_token(clause.value, ",", [&](char *token) {
        const auto &days = lb::calendar::kDayNames;
        for (std::uint8_t day = 0; day < days.size(); ++day) {
            if (std::strcmp(token, days[day]) != 0) continue;
            char term[kTermSize];
            std::snprintf(term, sizeof term, "iwday=%d", day);
            append_or_term(group, term);
        }
    });
}

void build_address(Clause &clause, const char *const (&fields)[4], Group &group) {
    for_each_token(clause.value, ", ", [&](char *token) {
        lb::malloc_ptr<char> resolved(resolve_IP(token));
        const char *address = resolved ? resolved.get() : token;
        for (const char *field : fields)
            add_src_or_dst_filter(group.text, kGroupSize, clause.op, field, address);
    });
}

void build_list(Clause &clause, std::string_view key, const char *delims, Group &group) {
    for_each_token(clause.value, delims, [&](char *token) {
        append_list_joiner(group, clause);
        if (clause.op_is("!=")) group.append("-");
        group.append(key);
        group.append("=");
        group.append(token);
    });
}

// One service token as its terms: the token as written, then its other
// form (the name of a port/protocol, or the port/protocol of a name).
void format_service(char *token, const Clause &clause, char (&text)[kServiceTextSize]) {
    const bool negated = clause.op_is("!=");
    const char *first = negated ? "-" : "";
    const char *second = negated ? "-" : "OR ";
    if (char *slash = std::strchr(token, '/')) {
        int proto = strncasecmp(slash + 1, "tcp", 3) == 0 ? SVC_PROTO_TCP : SVC_PROTO_UDP;
        *slash = '\0';
        const char *name = fn_getservbyport_3(proto, 0, token);
        *slash = '/';
        if (name != nullptr)
            std::snprintf(text, sizeof text, "%sservice=%s %sservice=%s", first, token, second,
                          name);
        else
            std::snprintf(text, sizeof text, "%sservice=%s", first, token);
        return;
    }
    int proto = SVC_PROTO_UDP;
    int port = fn_getportbyname_3(&proto, token);
    if (port < 0)
        std::snprintf(text, sizeof text, "%sservice=%s", first, token);
    else if (proto == SVC_PROTO_BOTH)
        std::snprintf(text, sizeof text, "%sservice=%s %sservice=%d/tcp %sservice=%d/udp", first,
                      token, second, port, second, port);
    else
        std::snprintf(text, sizeof text, "%sservice=%s %sservice=%d/%s", first, token, second, port,
                      proto == SVC_PROTO_TCP ? "tcp" : "udp");
}

void build_service(Clause &clause, Group &group) {
    for_each_token(clause.value, ", ", [&](char *token) {
        char text[kServiceTextSize];
        format_service(token, clause, text);
        append_list_joiner(group, clause);
        group.append(text);
    });
}

// Reads every clause of `filter` into its group.
void build_groups(const char *filter, Group (&groups)[kGroupCount]) {
    Clause clause;
    for (const ClauseKey &key : kClauseKeys) {
        if (!clause.read(filter, key.name)) continue;
        Group &group = groups[key.group];
        switch (key.kind) {
        case ClauseKind::severity:
            build_severity(clause, group);
            break;
        case ClauseKind::weekday:
            build_weekday(clause, group);
            break;
        case ClauseKind::source:
            build_address(clause, kSourceFields, group);
            break;
        case ClauseKind::destination:
            build_address(clause, kDestinationFields, group);
            break;
        case ClauseKind::list:
            build_list(clause, key.name, ", ", group);
            break;
        case ClauseKind::service:
            build_service(clause, group);
            break;
        case ClauseKind::message:
            build_list(clause, key.name, ",", group);
            break;
        }
    }
}

} // namespace

extern "C" LOGBASE_API int get_report_fltrstr(const void *report, char *out, size_t out_size) {
    if (report == nullptr || out == nullptr) return 0;
    const char *text = static_cast<const char *>(report) + lb::report_record::kFilterText;
    if (*text == '\0') return 0;

    char filter[kWorkingCopySize];
    lb::copy_bounded(filter, sizeof filter,
                     {text, lb::length_bounded(text, lb::report_record::kFilterTextUsed)});
    const char *joiner = std::strncmp(filter, "(or", 3) == 0 ? " OR " : " ";

    Group groups[kGroupCount];
    build_groups(filter, groups);

    char result[kResultSize] = "";
    for (const Group &group : groups) {
        if (group.empty()) continue;
        if (result[0] != '\0') lb::append_bounded(result, sizeof result, joiner);
        lb::append_bounded(result, sizeof result, group.text);
    }
    lb::copy_bounded(out, out_size, result);
    return 0;
}

extern "C" LOGBASE_API void add_src_or_dst_filter(char *buf, int buf_size, const char *op,
                                                  const char *key, const char *value) {
    if (buf == nullptr || op == nullptr || key == nullptr || value == nullptr || buf_size <= 0)
        return;
    const auto size = static_cast<size_t>(buf_size);
    if (buf[0] != '\0') {
        lb::append_bounded(buf, size, " ");
        if (std::strcmp(op, "==") == 0) lb::append_bounded(buf, size, "OR ");
    }
    if (std::strcmp(op, "!=") == 0) lb::append_bounded(buf, size, "-");
    lb::append_bounded(buf, size, key);
    lb::append_bounded(buf, size, "=");
    lb::append_bounded(buf, size, value);
}

// The reentrant form of the lookup: each call has its own result area, so
// threads resolving at once never read each other's addresses.
extern "C" LOGBASE_API char *resolve_IP(const char *name) {
    if (name == nullptr) return nullptr;
    hostent entry;
    hostent *host = nullptr;
    int lookup_error = 0;
    lb::malloc_ptr<char> scratch;
    // The entry's names and addresses live in `scratch`; it grows while too small.
    for (size_t size = 1024; size <= kMaxLookupScratch; size *= 2) {
        scratch = lb::malloc_array<char>(size);
        if (!scratch) return nullptr;
        int rc = gethostbyname_r(name, &entry, scratch.get(), size, &host, &lookup_error);
        if (rc != ERANGE) break;
    }
    if (host == nullptr) return nullptr;
    char text[20] = "";
    if (host->h_addrtype == AF_INET && host->h_addr_list != nullptr &&
        host->h_addr_list[0] != nullptr) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(host->h_addr_list[0]);
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    }
    return strdup(text);
}
