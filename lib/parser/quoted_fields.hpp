// The quoted items whose quote the CSV conversion moves, known both to the
// conversion and to the chains of the built-in tables (which note where
// each of their keys stands, so that most lines need no search for them).
#pragma once

#include <string_view>

namespace lb::parser {

// Each pattern is replaced in place by the same bytes with its final double
// quote moved to the front: key="value" becomes "key=value".
inline constexpr int kQuotedFields = 4;
inline constexpr std::string_view kQuotedFieldPatterns[kQuotedFields] = {
    "timezone=\"",
    "ml_svm_accuracy=\"",
    "ml_svm_log_match_types=\"",
    "ml_allow_method=\"",
};

// The key of a pattern: its bytes before `="`.
constexpr std::string_view quoted_field_key(int k) {
    return kQuotedFieldPatterns[k].substr(0, kQuotedFieldPatterns[k].size() - 2);
}

} // namespace lb::parser
