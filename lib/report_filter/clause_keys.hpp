// The clauses of a report filter text that get_report_fltrstr reads, in its
// reading order, and the operators that mean something for each: one table
// for the builder and for the checker, so that the two cannot disagree about
// what is read.
#pragma once

#include <cstddef>
#include <string_view>

namespace lb::report_filter {

enum class ClauseKind { severity, weekday, source, destination, list, service, message };

struct ClauseKey {
    const char *name;
    ClauseKind kind;
    std::size_t group; // the place of its group in the flat string
};

inline constexpr std::size_t kGroupCount = 11;
inline constexpr ClauseKey kClauseKeys[] = {
    {"priN", ClauseKind::severity, 0},   {"src", ClauseKind::source, 2},
    {"dst", ClauseKind::destination, 3}, {"http_method", ClauseKind::list, 4},
    {"user", ClauseKind::list, 5},       {"action", ClauseKind::list, 6},
    {"subtype", ClauseKind::list, 7},    {"policy", ClauseKind::list, 8},
    {"service", ClauseKind::service, 9}, {"msg", ClauseKind::message, 10},
    {"iwday", ClauseKind::weekday, 1}};

// Only the first 1023 characters of a filter text are read, and a value of up
// to 1023 characters.
inline constexpr std::size_t kWorkingCopySize = 1024;
inline constexpr int kValueSize = 1024;

// The operators the builder gives a meaning of their own: a severity range
// bound or level; "==" (any of the values) or "!=" (none of them) for a list.
// The weekday group ignores its operator, so only "==" says what it does.
constexpr bool operator_meant(ClauseKind kind, std::string_view op) {
    switch (kind) {
    case ClauseKind::severity:
        return op == ">=" || op == "<=" || op == "==";
    case ClauseKind::weekday:
        return op == "==";
    default:
        return op == "==" || op == "!=";
    }
}

} // namespace lb::report_filter
